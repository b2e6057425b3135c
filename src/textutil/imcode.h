#pragma once

#include <QByteArray>

namespace textutil {

// Option bits of MnemonicCode.
inline constexpr int kMnemonicWholeReading = 1; // a Chinese character gives its whole reading, not its initial
inline constexpr int kMnemonicMarkUnknown = 2;  // a double-byte code without a reading gives "?"
inline constexpr int kMnemonicKeepSigns = 4;    // single-byte signs and full-width signs pass through

// Mnemonic code of a GBK text: Chinese characters become the upper-case initial (or whole reading) of their
// Mandarin syllable, ASCII letters and digits pass in upper case, numbered signs become digits, full-width
// ASCII becomes ASCII and Greek letters their Latin spelling. A character outside GBK (a GB18030 four-byte
// sequence) has no reading. Negative options give an empty text; the result is cut to maxLength bytes.
QByteArray MnemonicCode(const QByteArray& text, int options, int maxLength);

} // namespace textutil

#pragma once

#include <QByteArray>
#include <QString>

// Texts inside a conversion are GBK byte strings. A character that GBK cannot
// hold is kept as its four-byte GB18030 sequence, so nothing is ever lost or
// turned into "?". Conversion to and from Unicode happens only at the database.
namespace gbk {

QByteArray fromUnicode(const QString& text);
QString toUnicode(const QByteArray& bytes);
// toUnicode into a buffer of size units, with no allocation: the UTF-16 units
// written, or -1 for the rare text that needs toUnicode itself.
qsizetype toUtf16(const char* data, qsizetype size, char16_t* out);

// The same conversions straight to and from UTF-8 bytes, for the database
// layers that take UTF-8: fromUtf8 expects valid UTF-8 (see isUtf8); toUtf8
// gives what toUnicode(bytes).toUtf8() gives.
QByteArray fromUtf8(const char* data, qsizetype size);
QByteArray toUtf8(const QByteArray& bytes);
bool isUtf8(const char* data, qsizetype size);
// Whether every character of the bytes is a GBK (GB18030) character.
bool isGbk(const char* data, qsizetype size);
// Whether most bytes above ASCII stand in sequences shaped as UTF-8 (encoded
// surrogates too): UTF-8 with a few broken bytes, not GBK.
bool mostlyUtf8(const char* data, qsizetype size);
// Bytes that are neither UTF-8 nor GBK, as a reader can tell them apart: the
// UTF-8 characters as they are, every other byte above ASCII as \xHH.
QString showBytes(const char* data, qsizetype size);

// Length in bytes of the character that starts at bytes[pos]: 1, 2 or 4.
int charLength(const QByteArray& bytes, qsizetype pos);

// Removes every leading and trailing byte of value 0x20 or less.
QByteArray trim(const QByteArray& text);

// The longest prefix of whole characters that fits in n bytes.
QByteArray cut(const QByteArray& text, qsizetype n);

// Only the ASCII letters change.
QByteArray upper(const QByteArray& text);
QByteArray lower(const QByteArray& text);

} // namespace gbk

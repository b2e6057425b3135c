#pragma once

#include <QByteArray>
#include <QtGlobal>

#include <cstdint>
#include <functional>

namespace textutil {

// Scrambles data under a key into upper-case hexadecimal digit pairs: a random first value, then one pair
// per data byte, each from the data byte, the previous pair and the next key byte (the key repeats). An
// empty key combines every byte with 'v', the first letter of the default key "vellum".
QByteArray Scramble(const QByteArray& data, const QByteArray& key);

// The same with the first value given instead of drawn.
QByteArray Scramble(const QByteArray& data, const QByteArray& key, std::uint8_t first);

// Check text of a stored-value balance: the balance text of the amount scrambled under the last 6 bytes of
// the card number (the whole card number when shorter).
QByteArray ScrambleBalance(const QByteArray& cardNumber, qint64 balanceTenThousandths);

// The balance as "0.00": ten-thousandths rounded half away from zero to hundredths, a minus sign only
// when the rounded amount is not zero.
QByteArray balanceText(qint64 balanceTenThousandths);

// Replaces the source of the first value of Scramble (for tests); an empty function restores the
// process-wide generator, which is seeded once from std::random_device.
void setScrambleRandomSource(std::function<std::uint8_t()> source);

} // namespace textutil

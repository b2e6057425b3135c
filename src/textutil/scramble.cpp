#include "textutil/scramble.h"

#include <random>
#include <utility>

namespace textutil {

namespace {

constexpr char kDefaultKey[] = "vellum";
constexpr char kHexDigits[] = "0123456789ABCDEF";

std::function<std::uint8_t()>& randomSourceOverride()
{
    static std::function<std::uint8_t()> source;
    return source;
}

// Uniform over 0-255; the engine is seeded once per process.
std::uint8_t randomFirstValue()
{
    if (const auto& source = randomSourceOverride())
        return source();
    static std::mt19937 engine = [] {
        std::random_device device;
        std::seed_seq seed{device(), device(), device(), device(), device(), device(), device(), device()};
        return std::mt19937(seed);
    }();
    std::uniform_int_distribution<int> distribution(0, 255);
    return static_cast<std::uint8_t>(distribution(engine));
}

void appendHex(QByteArray& out, unsigned value)
{
    out.append(kHexDigits[(value >> 4) & 0x0F]);
    out.append(kHexDigits[value & 0x0F]);
}

} // namespace

QByteArray Scramble(const QByteArray& data, const QByteArray& key) { return Scramble(data, key, randomFirstValue()); }

QByteArray Scramble(const QByteArray& data, const QByteArray& key, std::uint8_t first)
{
    // The key length is taken before the default key stands in, so an empty key uses only its first byte.
    const qsizetype keyLength = key.size();
    const char* keyBytes = keyLength > 0 ? key.constData() : kDefaultKey;

    QByteArray out;
    out.reserve(2 + 2 * data.size());
    unsigned accumulator = first;
    appendHex(out, accumulator);

    qsizetype k = 0;
    for (const char byte : data) {
        accumulator = (accumulator + static_cast<unsigned char>(byte)) % 255;
        k = k < keyLength ? k + 1 : 1;
        accumulator ^= static_cast<unsigned char>(keyBytes[k - 1]);
        appendHex(out, accumulator);
    }
    return out;
}

QByteArray balanceText(qint64 balanceTenThousandths)
{
    // Magnitude in unsigned arithmetic, so that the most negative amount does not overflow.
    const bool negative = balanceTenThousandths < 0;
    const quint64 magnitude = negative ? quint64(0) - static_cast<quint64>(balanceTenThousandths)
                                       : static_cast<quint64>(balanceTenThousandths);
    quint64 hundredths = magnitude / 100;
    if (magnitude % 100 >= 50)
        ++hundredths;

    QByteArray text;
    if (negative && hundredths != 0)
        text.append('-');
    text.append(QByteArray::number(hundredths / 100));
    text.append('.');
    const auto cents = static_cast<unsigned>(hundredths % 100);
    text.append(static_cast<char>('0' + cents / 10));
    text.append(static_cast<char>('0' + cents % 10));
    return text;
}

QByteArray ScrambleBalance(const QByteArray& cardNumber, qint64 balanceTenThousandths)
{
    const QByteArray key = cardNumber.size() > 6 ? cardNumber.right(6) : cardNumber;
    return Scramble(balanceText(balanceTenThousandths), key);
}

void setScrambleRandomSource(std::function<std::uint8_t()> source) { randomSourceOverride() = std::move(source); }

} // namespace textutil

#include "db/amount.h"

#include "textutil/error.h"

#include <QLocale>

#include <limits>

namespace db {
namespace {

using i128 = __int128;

constexpr i128 kMax = std::numeric_limits<std::int64_t>::max();

// q = n / d rounded half to even, d > 0.
i128 divideHalfEven(i128 n, i128 d)
{
    i128 q = n / d;
    i128 r = n % d;
    if (r < 0) {
        r += d;
        q -= 1;
    }
    const i128 twice = 2 * r;
    if (twice > d || (twice == d && (q & 1) != 0))
        q += 1;
    return q;
}

template <typename Char>
bool isDigit(Char c)
{
    return c >= '0' && c <= '9';
}

template <typename Char>
std::optional<std::int64_t> parseRaw(const Char* text, qsizetype size)
{
    qsizetype i = 0;
    bool negative = false;
    if (text[i] == '+' || text[i] == '-') {
        negative = text[i] == '-';
        ++i;
    }
    // Collect up to 36 significant digits and the decimal exponent.
    i128 digits = 0;
    int exponent = 0;
    int significant = 0;
    bool any = false;
    bool dropped = false; // non-zero digits beyond what we keep
    auto addDigit = [&](int d, bool fraction) {
        any = true;
        if (significant < 36) {
            digits = digits * 10 + d;
            if (digits != 0)
                ++significant;
            if (fraction)
                --exponent;
        } else {
            if (d != 0)
                dropped = true;
            if (!fraction)
                ++exponent;
        }
    };
    for (; i < size && isDigit(text[i]); ++i)
        addDigit(int(text[i] - '0'), false);
    if (i < size && text[i] == '.') {
        ++i;
        for (; i < size && isDigit(text[i]); ++i)
            addDigit(int(text[i] - '0'), true);
    }
    if (!any)
        return std::nullopt;
    if (i < size && (text[i] == 'e' || text[i] == 'E')) {
        ++i;
        bool expNegative = false;
        if (i < size && (text[i] == '+' || text[i] == '-')) {
            expNegative = text[i] == '-';
            ++i;
        }
        int e = 0;
        bool expAny = false;
        for (; i < size && isDigit(text[i]); ++i) {
            expAny = true;
            if (e < 10000)
                e = e * 10 + int(text[i] - '0');
        }
        if (!expAny)
            return std::nullopt;
        exponent += expNegative ? -e : e;
    }
    if (i != size)
        return std::nullopt;

    // value = digits * 10^exponent; we want round(value * 10^4).
    int shift = exponent + 4;
    i128 raw;
    if (digits == 0) {
        raw = 0;
    } else if (shift >= 0) {
        if (shift > 18)
            return std::nullopt;
        raw = digits;
        for (int k = 0; k < shift; ++k) {
            raw *= 10;
            if (raw > kMax)
                return std::nullopt;
        }
    } else if (-shift > 36) {
        raw = 0;
    } else {
        i128 d = 1;
        for (int k = 0; k < -shift; ++k)
            d *= 10;
        // A dropped non-zero tail only matters for an exact tie.
        raw = divideHalfEven(digits * 2 + (dropped ? 1 : 0), d * 2);
    }
    if (raw > kMax)
        return std::nullopt;
    return std::int64_t(negative ? -raw : raw);
}

} // namespace

std::optional<Amount> Amount::parse(QStringView text)
{
    text = text.trimmed();
    if (text.isEmpty())
        return std::nullopt;
    const auto raw = parseRaw(text.utf16(), text.size());
    return raw ? std::optional<Amount>(Amount(*raw)) : std::nullopt;
}

std::optional<Amount> Amount::parseAscii(const char* data, qsizetype size)
{
    // ASCII blanks only: the text of a number column holds no other.
    while (size > 0 && (*data == ' ' || (*data >= '\t' && *data <= '\r')))
        ++data, --size;
    while (size > 0 && (data[size - 1] == ' ' || (data[size - 1] >= '\t' && data[size - 1] <= '\r')))
        --size;
    if (size == 0)
        return std::nullopt;
    const auto raw = parseRaw(data, size);
    return raw ? std::optional<Amount>(Amount(*raw)) : std::nullopt;
}

std::optional<Amount> Amount::parseLatin1(const QByteArray& text)
{
    for (const char c : text)
        if (static_cast<unsigned char>(c) >= 0x80) // Latin-1 blanks beyond ASCII: the general way
            return parse(QString::fromLatin1(text));
    return parseAscii(text.constData(), text.size());
}

Amount Amount::fromVariant(const QVariant& value)
{
    if (value.isNull() || !value.isValid())
        return Amount();
    QString text;
    switch (value.typeId()) {
    case QMetaType::Double:
    case QMetaType::Float:
        text = QString::number(value.toDouble(), 'g', QLocale::FloatingPointShortest);
        break;
    default:
        text = value.toString();
    }
    const auto parsed = parse(text);
    if (!parsed)
        throw belmire::Error(QStringLiteral("'%1' 不是有效的数值").arg(text));
    return *parsed;
}

Amount Amount::operator*(Amount other) const
{
    const i128 product = i128(m_raw) * i128(other.m_raw);
    const i128 q = divideHalfEven(product, 10000);
    if (q > kMax || q < -kMax)
        throw belmire::Error(QStringLiteral("金额超出范围"));
    return Amount(std::int64_t(q));
}

QByteArray Amount::toLatin1() const
{
    // One allocation: amounts are formatted for every bound row.
    char buffer[32];
    char* const end = buffer + sizeof buffer;
    char* p = end;
    const bool negative = m_raw < 0;
    std::uint64_t v = negative ? std::uint64_t(-(m_raw + 1)) + 1 : std::uint64_t(m_raw);
    for (int i = 0; i < 4; ++i, v /= 10)
        *--p = char('0' + v % 10);
    *--p = '.';
    do {
        *--p = char('0' + v % 10);
        v /= 10;
    } while (v != 0);
    if (negative)
        *--p = '-';
    return QByteArray(p, end - p);
}

QString Amount::toString() const { return QString::fromLatin1(toLatin1()); }

} // namespace db

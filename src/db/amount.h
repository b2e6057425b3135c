#pragma once

#include <QString>
#include <QVariant>

#include <cstdint>
#include <optional>

namespace db {

// Exact fixed-point amount with four decimals: a 64-bit count of ten-thousandths.
// Read from decimal text, never through binary floating point.
class Amount {
public:
    constexpr Amount() = default;
    static constexpr Amount fromRaw(std::int64_t tenThousandths) { return Amount(tenThousandths); }

    // Parses decimal text ("12.5", "-0.00005", "1e3", " 7 "); more than four
    // decimals round half to even. Empty text or anything else gives nullopt.
    static std::optional<Amount> parse(QStringView text);
    // The same for ASCII text (a number column's text as the database gives it).
    static std::optional<Amount> parseAscii(const char* data, qsizetype size);
    // parse() of the bytes read as Latin-1, without the detour through QString for ASCII.
    static std::optional<Amount> parseLatin1(const QByteArray& text);

    // A database value: NULL reads as 0; doubles go through their shortest
    // round-trip decimal text. Throws belmire::Error when it is no number.
    static Amount fromVariant(const QVariant& value);

    constexpr std::int64_t raw() const { return m_raw; }

    // Product rounded half to even to 0.0001, through a 128-bit intermediate.
    Amount operator*(Amount other) const;
    Amount operator+(Amount other) const { return Amount(m_raw + other.m_raw); }
    Amount operator-(Amount other) const { return Amount(m_raw - other.m_raw); }
    bool operator==(const Amount&) const = default;

    // Decimal text with four decimals: "12.5000", "-0.0001".
    QString toString() const;
    QByteArray toLatin1() const; // the same text as bytes

private:
    constexpr explicit Amount(std::int64_t raw) : m_raw(raw) {}
    std::int64_t m_raw = 0;
};

} // namespace db

#include "textutil/scramble.h"

#include <gtest/gtest.h>

#include <bitset>
#include <cstdint>
#include <limits>

using textutil::balanceText;
using textutil::Scramble;
using textutil::ScrambleBalance;

namespace {

// Check text that data and key give after the first value the text itself starts with: every pair after the
// first is determined by it.
QByteArray expectedFromFirstPair(const QByteArray& check, const QByteArray& data, const QByteArray& key)
{
    bool ok = false;
    const unsigned first = check.left(2).toUInt(&ok, 16);
    EXPECT_TRUE(ok) << check.constData();
    return Scramble(data, key, static_cast<std::uint8_t>(first));
}

bool isUpperHex(const QByteArray& text)
{
    for (const char c : text) {
        if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F')))
            return false;
    }
    return true;
}

class ScrambleRandomSourceGuard {
public:
    ~ScrambleRandomSourceGuard() { textutil::setScrambleRandomSource({}); }
};

} // namespace

TEST(ScrambleTest, KnownOutputs)
{
    EXPECT_EQ(Scramble("12.50", "345678", 0xFE), "FE03011A799E");
    EXPECT_EQ(Scramble("12.50", "890123", 0x00), "000902000406");
    EXPECT_EQ(Scramble("0.00", "1234", 0xC3), "C3C2C2C1C5"); // the key repeats after 4 bytes
    EXPECT_EQ(Scramble("abcd", "xy", 0xFF), "FF19021DF8");   // 0xFF + 'a' wraps modulo 255
    EXPECT_EQ(Scramble("", "xy", 0x0A), "0A");
}

TEST(ScrambleTest, EmptyKeyUsesFirstLetterOfDefaultKey)
{
    EXPECT_EQ(Scramble("abc", "", 0x10), "10071FF4");
    EXPECT_EQ(Scramble("abc", "", 0x10), Scramble("abc", "v", 0x10));
    EXPECT_NE(Scramble("abc", "", 0x10), Scramble("abc", "vellum", 0x10));
}

TEST(ScrambleTest, FirstValueIsRandomOverFullRange)
{
    std::bitset<256> seen;
    for (int i = 0; i < 20000 && !seen.all(); ++i) {
        const QByteArray check = Scramble("1.00", "123456");
        ASSERT_EQ(check.size(), 10);
        ASSERT_EQ(check, expectedFromFirstPair(check, "1.00", "123456"));
        seen.set(check.left(2).toUInt(nullptr, 16));
    }
    EXPECT_TRUE(seen.all()) << seen.count() << " of 256 first values seen";
}

TEST(ScrambleTest, RandomSourceCanBeFixed)
{
    ScrambleRandomSourceGuard guard;
    textutil::setScrambleRandomSource([] { return std::uint8_t{0xFE}; });
    EXPECT_EQ(ScrambleBalance("2345678", 125000), "FE03011A799E");
    textutil::setScrambleRandomSource({});
    const QByteArray check = ScrambleBalance("2345678", 125000);
    EXPECT_EQ(check, expectedFromFirstPair(check, "12.50", "345678"));
}

TEST(ScrambleBalanceTest, BalanceTextAndKey)
{
    const QByteArray twelveFifty = ScrambleBalance("123456", 125000);
    EXPECT_EQ(twelveFifty.size(), 12);
    EXPECT_EQ(twelveFifty, expectedFromFirstPair(twelveFifty, "12.50", "123456"));

    const QByteArray zero = ScrambleBalance("123456", 0);
    EXPECT_EQ(zero.size(), 10);
    EXPECT_EQ(zero, expectedFromFirstPair(zero, "0.00", "123456"));

    const QByteArray minusThree = ScrambleBalance("42", -30000);
    EXPECT_EQ(minusThree, expectedFromFirstPair(minusThree, "-3.00", "42"));

    const QByteArray longCard = ScrambleBalance("1234567890123", 125000);
    EXPECT_EQ(longCard, expectedFromFirstPair(longCard, "12.50", "890123"));

    const QByteArray emptyCard = ScrambleBalance("", 10050);
    EXPECT_EQ(emptyCard, expectedFromFirstPair(emptyCard, "1.01", "v"));

    for (const QByteArray& check : {twelveFifty, zero, minusThree, longCard, emptyCard})
        EXPECT_TRUE(isUpperHex(check)) << check.constData();
}

TEST(ScrambleBalanceTest, BalanceTextRounding)
{
    EXPECT_EQ(balanceText(125000), "12.50");
    EXPECT_EQ(balanceText(0), "0.00");
    EXPECT_EQ(balanceText(-30000), "-3.00");
    EXPECT_EQ(balanceText(10050), "1.01"); // 1.005 rounds away from zero
    EXPECT_EQ(balanceText(10049), "1.00");
    EXPECT_EQ(balanceText(-10050), "-1.01");
    EXPECT_EQ(balanceText(49), "0.00");
    EXPECT_EQ(balanceText(50), "0.01");
    EXPECT_EQ(balanceText(-40), "0.00"); // rounds to zero: no minus sign
    EXPECT_EQ(balanceText(-50), "-0.01");
    EXPECT_EQ(balanceText(9999950), "1000.00");
    EXPECT_EQ(balanceText(123456789012), "12345678.90");
    EXPECT_EQ(balanceText(std::numeric_limits<qint64>::max()), "922337203685477.58");
    EXPECT_EQ(balanceText(std::numeric_limits<qint64>::min()), "-922337203685477.58");
}

#include "textutil/error.h"
#include "textutil/gbk.h"
#include "textutil/plib.h"

#include <gtest/gtest.h>

using namespace textutil;

namespace {

const QByteArray kZhong("\xD6\xD0", 2); // 中

} // namespace

TEST(Gbk, RoundTripsGbkAndCharactersOutsideIt)
{
    EXPECT_EQ(gbk::fromUnicode(QStringLiteral("中国A")), QByteArray("\xD6\xD0\xB9\xFA" "A"));
    // U+20000 (outside GBK) and the euro sign survive as GB18030 bytes, never "?".
    const QString rare = QString::fromUcs4(U"\U00020000€x");
    const QByteArray bytes = gbk::fromUnicode(rare);
    EXPECT_FALSE(bytes.contains('?'));
    EXPECT_EQ(gbk::toUnicode(bytes), rare);
    EXPECT_EQ(gbk::charLength(bytes, 0), 4);
    EXPECT_EQ(gbk::toUnicode(gbk::fromUnicode(QString())), QString());
}

TEST(Gbk, TrimRemovesControlBytesAtBothEndsOnly)
{
    EXPECT_EQ(gbk::trim(" \t\r\nA B\x01\x20"), QByteArray("A B"));
    EXPECT_EQ(gbk::trim("  "), QByteArray());
    // A trail byte is never <= 0x20, so trimming never damages a character.
    EXPECT_EQ(gbk::trim(" " + kZhong + " "), kZhong);
}

TEST(Gbk, CutKeepsWholeCharacters)
{
    const QByteArray name = gbk::fromUnicode(QStringLiteral("一二三四五六七八九十"));
    EXPECT_EQ(gbk::cut(name, 20), name);
    EXPECT_EQ(gbk::cut(name, 6), gbk::fromUnicode(QStringLiteral("一二三")));
    // The 15th byte would be the lead byte of the 8th character: it is left out.
    EXPECT_EQ(gbk::cut("A" + name, 15), "A" + gbk::fromUnicode(QStringLiteral("一二三四五六七")));
    EXPECT_EQ(gbk::cut("ABC", 0), QByteArray());
    const QByteArray rare = gbk::fromUnicode(QString::fromUcs4(U"a\U00020000"));
    EXPECT_EQ(gbk::cut(rare, 4), QByteArray("a"));
    EXPECT_EQ(gbk::cut(rare, 5), rare);
}

TEST(Gbk, CaseChangesAsciiLettersOnly)
{
    // 0xC5 0x41 style second bytes must not change: only whole ASCII characters do.
    EXPECT_EQ(gbk::upper("ab" + kZhong + "z"), "AB" + kZhong + "Z");
    EXPECT_EQ(gbk::lower("AB" + kZhong), "ab" + kZhong);
}

TEST(Plib, ChooseValueAndReplaceAll)
{
    EXPECT_EQ(ChooseValue<QByteArray>(true, "0", "1"), QByteArray("0"));
    EXPECT_EQ(ChooseValue<QByteArray>(false, "0", "1"), QByteArray("1"));
    EXPECT_EQ(ReplaceAll("102030", "0", "2"), QByteArray("122232"));
    EXPECT_EQ(ReplaceAll("", "0", "2"), QByteArray());
    EXPECT_EQ(ReplaceAll("abc", "", "x"), QByteArray("abc"));
    // Text joined around a replacement is searched again.
    EXPECT_EQ(ReplaceAll("aab", "ab", "b"), QByteArray("b"));
    // A replacement holding the pattern would never end: replaced once.
    EXPECT_EQ(ReplaceAll("a0", "0", "00"), QByteArray("a00"));
}

TEST(Plib, DigitSum)
{
    EXPECT_EQ(DigitSum(3, "2223"), 6);
    EXPECT_EQ(DigitSum(9, "2222222"), 12);
    EXPECT_EQ(DigitSum(0, "x"), 0);
    EXPECT_EQ(DigitSum(-4, ""), 0);
    try {
        DigitSum(3, "22");
        FAIL() << "no error";
    } catch (const belmire::Error& e) {
        EXPECT_EQ(e.message(), QStringLiteral("'' is not a valid integer value"));
    }
    try {
        DigitSum(2, "2a");
        FAIL() << "no error";
    } catch (const belmire::Error& e) {
        EXPECT_EQ(e.message(), QStringLiteral("'a' is not a valid integer value"));
    }
}

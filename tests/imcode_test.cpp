#include "textutil/imcode.h"
#include "textutil/imcode_readings_table.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>

using textutil::kImReadings;
using textutil::MnemonicCode;

namespace {

// GBK bytes of the characters used below.
const QByteArray kZhongGuo("\xD6\xD0\xB9\xFA"); // 中国
const QByteArray kGei("\xB8\xF8");              // 给
const QByteArray kFo("\xB7\xF0");               // 佛
const QByteArray kChuang("\xB4\xB2");           // 床 chuang
// U+1F600, outside GBK, as GB18030 four bytes.
const QByteArray kFourByte("\x94\x39\xFC\x36");

QByteArray code4(const QByteArray& text) { return MnemonicCode(text, 4, 255); }

int reading(unsigned lead, unsigned trail) { return kImReadings[(lead - 0x81) * 191 + (trail - 0x40)]; }

} // namespace

TEST(MnemonicCodeTest, ProductConversionOptions)
{
    EXPECT_EQ(code4(kZhongGuo), "ZG");
    EXPECT_EQ(code4(kZhongGuo + " abc"), "ZG ABC");
    EXPECT_EQ(code4("\xA3\xE1\xA3\xE2"), "ab"); // full-width ａｂ
    EXPECT_EQ(code4("\xA3\xC1\xA3\xC2"), "AB"); // full-width ＡＢ
    EXPECT_EQ(code4("\xA3\xAB"), "+");          // full-width plus sign
    EXPECT_EQ(code4(kGei + kFo), "");
    EXPECT_EQ(code4("\xA2\xB1"), "1");          // ⒈
    EXPECT_EQ(code4("\xA2\xE2"), "10");         // ⑩
    EXPECT_EQ(code4("\xA2\xFC"), "12");         // capital roman numeral twelve
    EXPECT_EQ(code4("\xA2\xAB"), "");           // unassigned
    EXPECT_EQ(code4("\xA6\xA1"), "A");          // Α
    EXPECT_EQ(code4("\xA6\xC8"), "TH");         // θ
    EXPECT_EQ(code4("\xA6\xB8\xA6\xD8"), "OO"); // Ω ω
    EXPECT_EQ(code4("a1-b"), "A1-B");
}

TEST(MnemonicCodeTest, LoneLeadByteAtEnd)
{
    const QByteArray cut = kZhongGuo + "\xB9";
    EXPECT_EQ(MnemonicCode(cut, 4, 255), "ZG\xB9");
    EXPECT_EQ(MnemonicCode(cut, 0, 255), "ZG");
    // A lead byte before a byte below 0x40 is a byte of its own.
    EXPECT_EQ(MnemonicCode("\xB9 x", 4, 255), "\xB9 X");
}

TEST(MnemonicCodeTest, OptionBits)
{
    const QByteArray name = kZhongGuo + " abc";
    EXPECT_EQ(MnemonicCode(name, 0, 255), "ZGABC");
    EXPECT_EQ(MnemonicCode(name, 1, 255), "ZHONGGUOABC");
    EXPECT_EQ(MnemonicCode(kChuang, 1, 255), "CHUANG");
    EXPECT_EQ(MnemonicCode(kGei, 2, 255), "?");
    EXPECT_EQ(MnemonicCode(kGei + kZhongGuo, 3, 255), "?ZHONGGUO");
    EXPECT_EQ(MnemonicCode("\xA3\xAB", 0, 255), "");           // full-width sign dropped without bit 2
    EXPECT_EQ(MnemonicCode("\xA6\xC8", 0, 255), "TH");         // Greek always whole
    EXPECT_EQ(MnemonicCode("\xA2\x50", 2, 255), "?");          // row 0xA2 below 0xA1
    EXPECT_EQ(MnemonicCode("\xA6\xE0", 2, 255), "?");          // row 0xA6 outside the letters
    EXPECT_EQ(MnemonicCode("\xFF\x41\xB0\xFF", 2, 255), "??"); // outside the reading table
    EXPECT_EQ(MnemonicCode("\xFF\x41"
                           "a",
                           0, 255),
              "A");
    for (const int negative : {-1, -4, INT32_MIN})
        EXPECT_EQ(MnemonicCode(name, negative, 255), "") << negative;
}

TEST(MnemonicCodeTest, MaximumLength)
{
    QByteArray longName;
    for (int i = 0; i < 200; ++i)
        longName += kZhongGuo;
    EXPECT_EQ(MnemonicCode(longName, 4, 255).size(), 255);
    EXPECT_EQ(MnemonicCode(longName, 1, 255), MnemonicCode(longName, 1, 100000).left(255));
    EXPECT_EQ(MnemonicCode(kZhongGuo + "abc", 4, 3), "ZGA");
    EXPECT_EQ(MnemonicCode(kZhongGuo, 1, 7), "ZHONGGU");
    EXPECT_EQ(MnemonicCode(kZhongGuo, 4, 0), "");
    EXPECT_EQ(MnemonicCode(kZhongGuo, 4, -5), "");
    EXPECT_EQ(MnemonicCode("", 4, 255), "");
}

TEST(MnemonicCodeTest, FourByteCharacterHasNoReading)
{
    const QByteArray name = "a" + kFourByte + "b";
    EXPECT_EQ(MnemonicCode(name, 4, 255), "AB");
    EXPECT_EQ(MnemonicCode(name, 0, 255), "AB");
    EXPECT_EQ(MnemonicCode(name, 2, 255), "A?B");
    EXPECT_EQ(MnemonicCode(kFourByte + kFourByte + kZhongGuo, 6, 255), "??ZG");
    // Cut inside the sequence: only the lead byte remains, as for a cut double-byte character.
    EXPECT_EQ(MnemonicCode("a" + kFourByte.left(2), 4, 255), "A\x94");
    EXPECT_EQ(MnemonicCode("a" + kFourByte.left(3), 4, 255), "A\x94");
    EXPECT_EQ(MnemonicCode("a" + kFourByte.left(3), 0, 255), "A");
}

TEST(MnemonicCodeTest, UserDefinedFullWidthRowHasNoReading)
{
    // Row 0xA3 below trail 0xA1 holds no full-width ASCII; it must not turn into stray high or control bytes.
    EXPECT_EQ(MnemonicCode("\xA3\x40\xA3\x80\xA3\xA0", 4, 255), "");
    EXPECT_EQ(MnemonicCode("\xA3\x40\xA3\xFF", 2, 255), "??");
}

TEST(ImReadingsTableTest, Examples)
{
    EXPECT_EQ(reading(0xB0, 0xA1), 1);   // 啊 a
    EXPECT_EQ(reading(0xD6, 0xD0), 376); // 中 zhong
    EXPECT_EQ(reading(0xB9, 0xFA), 104); // 国 guo
    EXPECT_EQ(reading(0xB5, 0xC4), 60);  // 的 de
    EXPECT_EQ(reading(0xD2, 0xBB), 348); // 一 yi
    EXPECT_EQ(reading(0xC5, 0xAE), 405); // 女 nv
    EXPECT_EQ(reading(0xC2, 0xCC), 404); // 绿 lv
    EXPECT_EQ(reading(0x81, 0x40), 354); // 丂 yu
    EXPECT_EQ(reading(0xB8, 0xF8), 0);   // 给 gei
    EXPECT_EQ(reading(0xB7, 0xF0), 0);   // 佛 fo
    EXPECT_EQ(reading(0xB3, 0xA4), 370); // 长 zhang
    EXPECT_EQ(reading(0xD0, 0xD0), 108); // 行 hang
    EXPECT_EQ(reading(0xC1, 0xCB), 161); // 了 le
    EXPECT_EQ(reading(0xC0, 0xD6), 161); // 乐 le
    EXPECT_EQ(reading(0xC2, 0xD4), 177); // 略 lue
    EXPECT_EQ(reading(0xCB, 0xAD), 291); // 谁 shui
}

TEST(ImReadingsTableTest, Invariants)
{
    int zeros = 0;
    for (unsigned lead = 0x81; lead <= 0xFE; ++lead) {
        for (unsigned trail = 0x40; trail <= 0xFE; ++trail) {
            const int number = reading(lead, trail);
            zeros += number == 0;
            EXPECT_LE(number, 405) << std::hex << lead << trail;
            EXPECT_NE(number, 394) << std::hex << lead << trail;
            const bool symbol = (lead >= 0xA1 && lead <= 0xA9) || lead == 0xFE || trail == 0x7F ||
                                (lead >= 0xAA && lead <= 0xAF && trail >= 0xA1);
            if (symbol) {
                EXPECT_EQ(number, 0) << std::hex << lead << trail;
            }
        }
    }
    // Every GB2312 hanzi (rows 0xB0-0xF7) has a reading, bar the gaps of row 0xD7 and the gei/fo syllables.
    for (unsigned lead = 0xB0; lead <= 0xF7; ++lead) {
        for (unsigned trail = 0xA1; trail <= 0xFE; ++trail) {
            const bool gap =
                (lead == 0xD7 && trail >= 0xFA) || (lead == 0xB8 && trail == 0xF8) || (lead == 0xB7 && trail == 0xF0);
            if (!gap && reading(lead, trail) == 0)
                ADD_FAILURE() << "no reading for GB2312 " << std::hex << lead << trail;
        }
    }
    // Number printed by tools/gen_imcode_table.py for the committed table.
    EXPECT_EQ(zeros, 3186);
}

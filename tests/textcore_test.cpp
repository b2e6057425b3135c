#include "textutil/byte_table.h"
#include "textutil/error.h"
#include "textutil/gbk.h"
#include "textutil/key_hashes.h"
#include "textutil/packed_rows.h"
#include "textutil/plib.h"

#include <QList>

#include <gtest/gtest.h>

#include <iconv.h>

#include <algorithm>
#include <optional>
#include <vector>

using namespace textutil;

namespace {

const QByteArray kZhong("\xD6\xD0", 2); // 中

} // namespace

TEST(Gbk, RoundTripsGbkAndCharactersOutsideIt)
{
    EXPECT_EQ(gbk::fromUnicode(QStringLiteral("中国A")), QByteArray("\xD6\xD0\xB9\xFA"
                                                                    "A"));
    // U+20000 (outside GBK) and the euro sign survive as GB18030 bytes, never "?".
    const QString rare = QString::fromUcs4(U"\U00020000€x");
    const QByteArray bytes = gbk::fromUnicode(rare);
    EXPECT_FALSE(bytes.contains('?'));
    EXPECT_EQ(gbk::toUnicode(bytes), rare);
    EXPECT_EQ(gbk::charLength(bytes, 0), 4);
    EXPECT_EQ(gbk::toUnicode(gbk::fromUnicode(QString())), QString());
    char16_t units[8];
    EXPECT_EQ(gbk::toUtf16(bytes.constData(), bytes.size(), units), -1); // four-byte sequences need toUnicode
    EXPECT_EQ(gbk::toUtf16("\xD6\xD0"
                           "A",
                           3, units),
              2);
    EXPECT_EQ(QStringView(units, 2), QStringLiteral("中A"));
}

namespace {

// iconv on its own, for the bytes the conversions must match; nullopt where it refuses.
std::optional<QByteArray> iconvConvert(const char* to, const char* from, const QByteArray& in)
{
    iconv_t cd = iconv_open(to, from);
    QByteArray out(in.size() * 4 + 8, Qt::Uninitialized);
    char* src = const_cast<char*>(in.constData());
    char* dst = out.data();
    size_t srcLeft = size_t(in.size()), dstLeft = size_t(out.size());
    const size_t rc = iconv(cd, &src, &srcLeft, &dst, &dstLeft);
    iconv_close(cd);
    if (rc == size_t(-1))
        return std::nullopt;
    out.resize(out.size() - qsizetype(dstLeft));
    return out;
}

} // namespace

TEST(Gbk, EveryTwoByteCodeAndEveryBmpCharacterConvertsAsIconvDoes)
{
    int checked = 0;
    for (int lead = 0x80; lead <= 0xFF; ++lead)
        for (int trail = 0x00; trail <= 0xFF; ++trail) {
            // Inside a text, between ASCII, as a field holds it.
            const QByteArray gb = QByteArray("a") + char(lead) + char(trail) + "z";
            if (const auto utf8 = iconvConvert("UTF-8", "GB18030", gb)) {
                ASSERT_EQ(gbk::toUtf8(gb), *utf8) << lead << ' ' << trail;
                const QString text = QString::fromUtf8(*utf8);
                ASSERT_EQ(gbk::toUnicode(gb), text) << lead << ' ' << trail;
                // Straight into a buffer: the same text, or -1 where toUnicode must do it.
                std::vector<char16_t> units(size_t(gb.size()));
                const qsizetype n = gbk::toUtf16(gb.constData(), gb.size(), units.data());
                if (n >= 0) {
                    ASSERT_EQ(QStringView(units.data(), n), text) << lead << ' ' << trail;
                }
                ++checked;
            }
        }
    EXPECT_GT(checked, 23000);
    for (int cp = 0x80; cp <= 0xFFFF; ++cp) {
        if (QChar::isSurrogate(char16_t(cp)))
            continue;
        const QByteArray utf8 = (u'x' + QString(QChar(char16_t(cp))) + u'y').toUtf8();
        const auto gb = iconvConvert("GB18030", "UTF-8", utf8);
        if (!gb) // a few private-use code points GB18030 has no code for
            continue;
        ASSERT_EQ(gbk::fromUtf8(utf8.constData(), utf8.size()), *gb) << cp;
        ASSERT_EQ(gbk::fromUnicode(QString::fromUtf8(utf8)), *gb) << cp;
    }
}

// UTF-8 with a broken byte is told from GBK, even where its bytes pair up as
// GBK characters, and shown byte by byte.
TEST(Gbk, BrokenUtf8IsToldFromGbk)
{
    const QByteArray surrogate("\xE5\xA5\xBD\xED\xA0\x80\xE5\x90\x83x"); // 好, a lone surrogate, 吃, x
    const QByteArray stray("\xE5\xA5\xBD\xFF\xE5\x90\x83");              // 好, 0xFF, 吃
    const QByteArray zhangsan("\xD5\xC5\xC8\xFD");                       // 张三 in GBK
    EXPECT_TRUE(gbk::isGbk(surrogate.constData(), surrogate.size()));
    EXPECT_TRUE(gbk::mostlyUtf8(surrogate.constData(), surrogate.size()));
    EXPECT_FALSE(gbk::isGbk(stray.constData(), stray.size()));
    EXPECT_TRUE(gbk::mostlyUtf8(stray.constData(), stray.size()));
    EXPECT_TRUE(gbk::isGbk(zhangsan.constData(), zhangsan.size()));
    EXPECT_FALSE(gbk::mostlyUtf8(zhangsan.constData(), zhangsan.size()));
    EXPECT_FALSE(gbk::isGbk("ab\x81", 3)); // a lead byte without its trail
    EXPECT_EQ(gbk::showBytes(surrogate.constData(), surrogate.size()), QStringLiteral("好\\xED\\xA0\\x80吃x"));
    EXPECT_EQ(gbk::showBytes(stray.constData(), stray.size()), QStringLiteral("好\\xFF吃"));
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

TEST(ByteTable, KeepsEveryKeyWithItsFirstValue)
{
    textutil::ByteTable t;
    EXPECT_FALSE(t.contains("a"));
    EXPECT_FALSE(t.value("a").has_value());
    EXPECT_TRUE(t.insert("", "empty key"));
    EXPECT_TRUE(t.insert("k", ""));
    EXPECT_FALSE(t.insert("k", "second")); // the first value stays
    for (int i = 0; i < 50000; ++i)
        ASSERT_TRUE(t.insert(QByteArray::number(i), QByteArray::number(i * 7)));
    EXPECT_EQ(t.size(), 50002);
    EXPECT_EQ(t.value("").value_or("?"), QByteArray("empty key"));
    EXPECT_EQ(t.value("k").value_or("?"), QByteArray());
    for (int i = 0; i < 50000; i += 997)
        EXPECT_EQ(t.value(QByteArray::number(i)).value_or("?"), QByteArray::number(i * 7));
    EXPECT_FALSE(t.contains("50000"));
    EXPECT_FALSE(t.contains(QByteArray("k\0", 2))); // bytes, not C strings
    qsizetype seen = 0;
    t.forEachKey([&](QByteArrayView) { ++seen; });
    EXPECT_EQ(seen, t.size());

    // Fixed-size values come back only as the type they were kept as.
    ByteTable numbers;
    EXPECT_TRUE(numbers.insertAs("n", std::uint32_t(7)));
    EXPECT_EQ(numbers.valueAs<std::uint32_t>("n").value_or(0), 7u);
    EXPECT_FALSE(numbers.valueAs<std::uint64_t>("n").has_value());
    EXPECT_FALSE(numbers.valueAs<std::uint32_t>("m").has_value());
}

TEST(KeyHashes, SetsOfHashesAnswerForTheirKeys)
{
    HashSet set;
    SortedHashes sorted, other;
    for (int i = 0; i < 5000; ++i) { // past several growths of the open table
        set.insert(keyHash(QByteArray::number(i)));
        sorted.add(keyHash(QByteArray::number(i % 3000)));
        if (i % 2 == 0)
            other.add(keyHash(QByteArray::number(i)));
    }
    set.insert(keyHash("0")); // present already
    set.insert(0);            // a hash of 0 is kept too
    sorted.seal();
    other.seal();
    EXPECT_EQ(set.size(), 5001u);
    EXPECT_TRUE(set.contains(0));
    EXPECT_EQ(sorted.size(), 3000u);
    for (int i = 0; i < 5000; i += 7) {
        EXPECT_TRUE(set.contains(keyHash(QByteArray::number(i))));
        EXPECT_EQ(sorted.contains(keyHash(QByteArray::number(i))), i < 3000);
    }
    EXPECT_FALSE(set.contains(keyHash("5000")));
    EXPECT_FALSE(set.contains(keyHash(QByteArray("1\0", 2)))); // bytes, not C strings
    const SortedHashes odd = sorted.minus(other);              // the odd keys below 3000
    EXPECT_EQ(odd.size(), 1500u);
    EXPECT_TRUE(odd.contains(keyHash("2999")));
    EXPECT_FALSE(odd.contains(keyHash("2998")));
    EXPECT_TRUE(std::is_sorted(odd.begin(), odd.end()));
}

TEST(PackedRows, FieldsNumbersAndGroupsComeBackAsAdded)
{
    PackedRows rows;
    const auto a = rows.append({"", QByteArray("x\0y", 3), "last"});
    const auto b = rows.append({"one"});
    EXPECT_EQ(rows.field(a, 0), QByteArrayView(""));
    EXPECT_EQ(rows.field(a, 1), QByteArrayView(QByteArray("x\0y", 3)));
    EXPECT_EQ(rows.field(a, 2), QByteArrayView("last"));
    EXPECT_EQ(rows.field(b, 0), QByteArrayView("one"));

    KeyNumbers numbers;
    EXPECT_EQ(numbers.number("b"), 0u);
    EXPECT_EQ(numbers.number("a"), 1u);
    EXPECT_EQ(numbers.number("b"), 0u);
    EXPECT_EQ(numbers.find("a").value_or(99), 1u);
    EXPECT_FALSE(numbers.find("c").has_value());

    // Keys out of order, each key's rows in the order added.
    GroupedRows groups;
    groups.append({"p2", "1"});
    groups.append({"p1", "2"});
    groups.append({"p2", "3"});
    groups.append({"p10", "4"});
    groups.append({"p2", "5"});
    groups.group();
    QList<QByteArray> p2;
    for (const auto r : groups.rowsOf("p2"))
        p2 << groups.field(r, 1).toByteArray();
    EXPECT_EQ(p2, QList<QByteArray>({"1", "3", "5"}));
    ASSERT_EQ(groups.rowsOf("p1").size(), 1u);
    EXPECT_EQ(groups.field(groups.rowsOf("p1")[0], 1), QByteArrayView("2"));
    EXPECT_TRUE(groups.rowsOf("p").empty());
}

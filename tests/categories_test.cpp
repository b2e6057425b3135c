// Product categories of both programs, SQLite to SQLite and SQLite to PostgreSQL.
#include "support/testdb.h"

#include "quorvan/categories.h"

#include <gtest/gtest.h>

#include <limits>

using namespace testing_support;
using shell::Family;

namespace {

const QString kStamp = QStringLiteral("2026-12-08 09:05 07");
const QString kCategories = QStringLiteral("select objid,splbmc,fbbh,xgrq from splbda order by objid");
const QString kLevelSetting = QStringLiteral("select fvalue from xx where objid='01splbjc'");

class Categories : public ::testing::TestWithParam<Backend> {};

QString row(std::initializer_list<QString> fields) { return QStringList(fields).join(u'|') + u'|' + kStamp; }

// The last error shown begins with start.
void expectError(const RecordingFrontend& fe, const QString& start)
{
    ASSERT_FALSE(fe.errors.isEmpty());
    EXPECT_TRUE(fe.errors.last().startsWith(start)) << fe.errors.last().toStdString();
}

} // namespace

TEST(CategoryParent, OnlySixDigitsCountAndHugeLevelsDoNotWrap)
{
    const QByteArray deep("0102030405060708");
    EXPECT_EQ(quorvan::parentByLevel(deep, 9, "2222222"), deep.left(12));
    EXPECT_EQ(quorvan::parentByLevel(deep, std::numeric_limits<qint64>::max(), "2222222"), deep.left(12));
    EXPECT_EQ(quorvan::parentByLevel(deep, std::numeric_limits<qint64>::min(), ""), QByteArray());
}

TEST_P(Categories, V67RowsAndLevelSetting)
{
    REQUIRE_BACKEND(GetParam());
    Shop shop(QStringLiteral("source_v67_sqlite.sql"), GetParam());
    shop.source().exec(QStringLiteral(
        "insert into xx values ('gysjc', '9999');\n insert into xx values ('spjc', ' 2220\t');\n"
        "insert into splb values (' \t01\r\n', '食品  ', 1);\n insert into splb values ('0102', ' 饮料', 2);\n"
        "insert into splb values ('  010203 ', '果汁', 3);\n insert into splb values ('9', '短', 3);\n"
        "insert into splb values ('Z0', 'zero', 0);\n insert into splb values ('Z-', 'negative', -3);\n"
        "insert into splb values (NULL, NULL, NULL);\n insert into splb values ('甲乙丙', '中文', 2);\n"
        "insert into splb values ('x甲乙', '中文二', 2);\n insert into splb values ('Q''1', 'quote''s', 2);"));
    RecordingFrontend fe;
    fe.abort = true; // not honoured by this conversion
    const auto r = runOperation(shop, Family::V67, QStringLiteral("categories"), fe);
    ASSERT_TRUE(r.ok) << r.message.toStdString();
    EXPECT_EQ(fe.completions, QStringList{QStringLiteral("提示/档案转换完毕！")});
    EXPECT_EQ(fe.progress, QStringLiteral("信息:10/10  (编号Q'1)"));
    EXPECT_EQ(shop.target().rows(kCategories),
              (QStringList{row({"", "", ""}), row({"01", "食品  ", ""}), row({"0102", " 饮料", "01"}),
                           row({"010203", "果汁", "0102"}), row({"9", "短", "9"}), row({"Q'1", "quote's", "Q'"}),
                           row({"Z-", "negative", ""}), row({"Z0", "zero", ""}),
                           row({"x甲乙", "中文二", "x"}), // never half a character
                           row({"甲乙丙", "中文", "甲"})}));
    EXPECT_EQ(shop.target().scalar(kLevelSetting), QStringLiteral("2222"));
}

TEST_P(Categories, V67MissingLevelSettingAndRepeatedRunEndTheRun)
{
    REQUIRE_BACKEND(GetParam());
    Shop shop(QStringLiteral("source_v67_sqlite.sql"), GetParam());
    shop.target().exec(QStringLiteral("update xx set fvalue='old' where objid='01splbjc';"));
    shop.source().exec(
        QStringLiteral("insert into splb values ('A', 'a', 1);\n insert into splb values ('B', 'b', NULL);\n"
                       "insert into splb values ('A1', 'a1', 2);\n insert into splb values ('C', 'c', 1);"));
    RecordingFrontend fe;
    ASSERT_FALSE(runOperation(shop, Family::V67, QStringLiteral("categories"), fe).ok);
    EXPECT_TRUE(fe.completions.isEmpty());
    EXPECT_EQ(fe.errors,
              QStringList{QStringLiteral("商品类别转换：第 3/4 行（编号A1），'' is not a valid integer value")});
    EXPECT_EQ(fe.progress, QStringLiteral("信息:3/4  (编号A1)"));
    EXPECT_EQ(shop.target().rows(kCategories), (QStringList{row({"A", "a", ""}), row({"B", "b", ""})}));
    EXPECT_EQ(shop.target().scalar(kLevelSetting), QStringLiteral("old"));

    // With the setting the run gets further, and stops at the first category already there.
    shop.source().exec(QStringLiteral("insert into xx values ('spjc', '1');"));
    fe.errors.clear();
    ASSERT_FALSE(runOperation(shop, Family::V67, QStringLiteral("categories"), fe).ok);
    expectError(fe, QStringLiteral("商品类别转换：第 1/4 行（编号A），表 splbda："));
    EXPECT_EQ(shop.target().scalar(QStringLiteral("select count(*) from splbda")), QStringLiteral("2"));
    EXPECT_EQ(shop.target().scalar(kLevelSetting), QStringLiteral("old"));
}

TEST_P(Categories, V1ParentsFromTheRowAndGoodsLevel)
{
    REQUIRE_BACKEND(GetParam());
    Shop shop(QStringLiteral("source_v1_sqlite.sql"), GetParam());
    shop.source().exec(QStringLiteral(
        "insert into AccountInfo values ('Other', '1111');\n insert into AccountInfo values ('GoodsLevel', '20''0');\n"
        "insert into GoodsType values (' \tT1\r\n', '食品  ', '-1');\n"
        "insert into GoodsType values ('T101', NULL, ' T1 ');\n"
        "insert into GoodsType values ('T2', 'b', ' -1');\n insert into GoodsType values ('T3', 'c', '-1 ');\n"
        "insert into GoodsType values ('T''4', 'd', 'NOPE');\n insert into GoodsType values (NULL, NULL, NULL);"));
    RecordingFrontend fe;
    fe.abort = true;
    const auto r = runOperation(shop, Family::V1, QStringLiteral("categories"), fe);
    ASSERT_TRUE(r.ok) << r.message.toStdString();
    EXPECT_EQ(fe.completions, QStringList{QStringLiteral("提示/档案转换完毕！")});
    EXPECT_EQ(fe.progress, QStringLiteral("信息:6/6  (编号)"));
    EXPECT_EQ(shop.target().rows(kCategories),
              (QStringList{row({"", "", ""}), row({"T'4", "d", "NOPE"}), row({"T1", "食品  ", ""}),
                           row({"T101", "", " T1 "}), row({"T2", "b", " -1"}), row({"T3", "c", "-1 "})}));
    EXPECT_EQ(shop.target().scalar(kLevelSetting), QStringLiteral("22'2")); // quote kept, 0 written as 2

    // No GoodsLevel row is no error: the setting is written as empty text.
    shop.source().exec(QStringLiteral("delete from AccountInfo;\n delete from GoodsType;"));
    ASSERT_TRUE(runOperation(shop, Family::V1, QStringLiteral("categories"), fe).ok);
    EXPECT_EQ(shop.target().scalar(kLevelSetting), QStringLiteral(""));
}

INSTANTIATE_TEST_SUITE_P(Backends, Categories, ::testing::Values(Backend::SQLite, Backend::PostgreSQL),
                         [](const auto& info) { return backendName(info.param).toStdString(); });

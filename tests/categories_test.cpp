// Product categories of both programs, SQLite to SQLite and SQLite to PostgreSQL.
#include "support/testdb.h"

#include "convert_v67/category_rows.h"
#include "textutil/error.h"

#include <gtest/gtest.h>

#include <limits>

using namespace testing_support;
using shell::Family;

namespace {

const QString kStamp = QStringLiteral("2026-12-08 09:05 07");
const QString kCategories = QStringLiteral("select objid,splbmc,fbbh,xgrq from splbda order by objid");
const QString kLevelSetting = QStringLiteral("select fvalue from xx where objid='01splbjc'");

class Categories : public ::testing::TestWithParam<Backend> {};

QString row(std::initializer_list<QString> fields) { return QStringList(fields).join(u'|'); }

} // namespace

TEST(CategoryParent, PrefixFollowsTheLevelSetting)
{
    using convert_v67::parentByLevel;
    EXPECT_EQ(parentByLevel("010203", 3, "2220"), QByteArray("0102"));
    EXPECT_EQ(parentByLevel("0102", 2, "2220"), QByteArray("01"));
    EXPECT_EQ(parentByLevel("01", 1, ""), QByteArray());
    EXPECT_EQ(parentByLevel("01", 0, "x"), QByteArray());
    EXPECT_EQ(parentByLevel("01", -5, ""), QByteArray());
    // Only six digits count, however deep the level; a huge level does not wrap.
    const QByteArray deep("0102030405060708");
    EXPECT_EQ(parentByLevel(deep, 9, "2222222"), deep.left(12));
    EXPECT_EQ(parentByLevel(deep, std::numeric_limits<qint64>::max(), "2222222"), deep.left(12));
    EXPECT_EQ(parentByLevel(deep, std::numeric_limits<qint64>::min(), ""), QByteArray());
    // A code shorter than the parent length is its own parent.
    EXPECT_EQ(parentByLevel("0", 3, "2220"), QByteArray("0"));
    EXPECT_THROW(parentByLevel("010203", 3, "2"), belmire::Error);
}

TEST_P(Categories, V67RowsAndLevelSetting)
{
    REQUIRE_BACKEND(GetParam());
    Shop shop(QStringLiteral("source_v67_sqlite.sql"), GetParam());
    shop.source().exec(QStringLiteral(
        "insert into xx (xm, vals1) values ('gysjc', '9999');\n"
        "insert into xx (xm, vals1) values ('spjc', ' 2220\t');\n"
        "insert into splb (lbbh, lbmc, jc) values (' \t01\r\n', '食品  ', 1);\n"
        "insert into splb (lbbh, lbmc, jc) values ('0102', ' 饮料', 2);\n"
        "insert into splb (lbbh, lbmc, jc) values ('  010203 ', '果汁', 3);\n"
        "insert into splb (lbbh, lbmc, jc) values ('9', '短', 3);\n"
        "insert into splb (lbbh, lbmc, jc) values ('Z0', 'zero', 0);\n"
        "insert into splb (lbbh, lbmc, jc) values ('Z-', 'negative', -3);\n"
        "insert into splb (lbbh, lbmc, jc) values (NULL, NULL, NULL);\n"
        "insert into splb (lbbh, lbmc, jc) values ('甲乙丙', '中文', 2);\n"
        "insert into splb (lbbh, lbmc, jc) values ('x甲乙', '中文二', 2);\n"
        "insert into splb (lbbh, lbmc, jc) values ('Q''1', 'quote''s', 2);"));
    RecordingFrontend fe;
    fe.abort = true; // not honoured by this conversion
    const auto r = runOperation(shop, Family::V67, QStringLiteral("categories"), fe);
    ASSERT_TRUE(r.ok) << r.message.toStdString();
    EXPECT_EQ(r.rowsRead, 10);
    EXPECT_EQ(fe.completions, QStringList{QStringLiteral("提示/档案转换完毕！")});
    EXPECT_EQ(fe.progress, QStringLiteral("信息:10/10  (编号Q'1)"));
    EXPECT_EQ(shop.target().rows(kCategories), (QStringList{
                                                   row({"", "", "", kStamp}),
                                                   row({"01", "食品  ", "", kStamp}),
                                                   row({"0102", " 饮料", "01", kStamp}),
                                                   row({"010203", "果汁", "0102", kStamp}),
                                                   row({"9", "短", "9", kStamp}),
                                                   row({"Q'1", "quote's", "Q'", kStamp}),
                                                   row({"Z-", "negative", "", kStamp}),
                                                   row({"Z0", "zero", "", kStamp}),
                                                   row({"x甲乙", "中文二", "x", kStamp}), // never half a character
                                                   row({"甲乙丙", "中文", "甲", kStamp}),
                                               }));
    EXPECT_EQ(shop.target().scalar(kLevelSetting), QStringLiteral("2222"));
}

TEST_P(Categories, V67MissingOrBadLevelSettingEndsTheRunAtTheFirstDeeperCategory)
{
    REQUIRE_BACKEND(GetParam());
    Shop shop(QStringLiteral("source_v67_sqlite.sql"), GetParam());
    shop.target().exec(QStringLiteral("update xx set fvalue='old' where objid='01splbjc';"));
    shop.source().exec(QStringLiteral(
        "insert into splb (lbbh, lbmc, jc) values ('A', 'a', 1);\n"
        "insert into splb (lbbh, lbmc, jc) values ('B', 'b', NULL);\n"
        "insert into splb (lbbh, lbmc, jc) values ('A1', 'a1', 2);\n"
        "insert into splb (lbbh, lbmc, jc) values ('C', 'c', 1);"));
    RecordingFrontend fe;
    auto r = runOperation(shop, Family::V67, QStringLiteral("categories"), fe);
    ASSERT_FALSE(r.ok);
    EXPECT_TRUE(fe.completions.isEmpty());
    EXPECT_EQ(fe.errors, QStringList{QStringLiteral("商品类别转换：第 3/4 行（编号A1），'' is not a valid integer value")});
    EXPECT_EQ(fe.progress, QStringLiteral("信息:3/4  (编号A1)"));
    EXPECT_EQ(shop.target().rows(QStringLiteral("select objid,fbbh from splbda order by objid")),
              (QStringList{row({"A", ""}), row({"B", ""})}));
    EXPECT_EQ(shop.target().scalar(kLevelSetting), QStringLiteral("old"));

    // A letter among the digits a level needs is named in the message.
    shop.target().exec(QStringLiteral("delete from splbda;"));
    shop.source().exec(QStringLiteral("insert into xx (xm, vals1) values ('spjc', 'x2');"));
    fe.errors.clear();
    r = runOperation(shop, Family::V67, QStringLiteral("categories"), fe);
    ASSERT_FALSE(r.ok);
    ASSERT_EQ(fe.errors.size(), 1);
    EXPECT_TRUE(fe.errors.first().endsWith(QStringLiteral("'x' is not a valid integer value"))) << fe.errors.first().toStdString();
    EXPECT_EQ(shop.target().scalar(QStringLiteral("select count(*) from splbda")), QStringLiteral("2"));

    // Without the settings table nothing is written.
    shop.target().exec(QStringLiteral("delete from splbda;"));
    shop.source().exec(QStringLiteral("drop table xx;"));
    fe.errors.clear();
    r = runOperation(shop, Family::V67, QStringLiteral("categories"), fe);
    ASSERT_FALSE(r.ok);
    EXPECT_TRUE(fe.errors.value(0).startsWith(QStringLiteral("商品类别转换：表 xx："))) << fe.errors.value(0).toStdString();
    EXPECT_EQ(shop.target().scalar(QStringLiteral("select count(*) from splbda")), QStringLiteral("0"));
}

TEST_P(Categories, DuplicatesEndTheRunAndKeepEarlierRows)
{
    REQUIRE_BACKEND(GetParam());
    Shop shop(QStringLiteral("source_v67_sqlite.sql"), GetParam());
    shop.source().exec(QStringLiteral(
        "insert into xx (xm, vals1) values ('spjc', '20');\n"
        "insert into splb (lbbh, lbmc, jc) values ('01', 'a', 1);\n"
        "insert into splb (lbbh, lbmc, jc) values ('0101', 'b', 2);\n"
        "insert into splb (lbbh, lbmc, jc) values ('02', 'c', 1);"));
    RecordingFrontend fe;
    ASSERT_TRUE(runOperation(shop, Family::V67, QStringLiteral("categories"), fe).ok);
    EXPECT_EQ(shop.target().scalar(kLevelSetting), QStringLiteral("22"));

    // Run again without clearing: the first category is already there.
    shop.target().exec(QStringLiteral("update xx set fvalue='old' where objid='01splbjc';"));
    auto r = runOperation(shop, Family::V67, QStringLiteral("categories"), fe);
    ASSERT_FALSE(r.ok);
    ASSERT_EQ(fe.errors.size(), 1);
    EXPECT_TRUE(fe.errors.first().startsWith(QStringLiteral("商品类别转换：第 1/3 行（编号01），表 splbda："))) << fe.errors.first().toStdString();
    EXPECT_EQ(shop.target().scalar(QStringLiteral("select count(*) from splbda")), QStringLiteral("3"));
    EXPECT_EQ(shop.target().scalar(kLevelSetting), QStringLiteral("old"));

    // A duplicate in the middle leaves the rows before it.
    shop.target().exec(QStringLiteral("delete from splbda where objid<>'0101';"));
    fe.errors.clear();
    r = runOperation(shop, Family::V67, QStringLiteral("categories"), fe);
    ASSERT_FALSE(r.ok);
    EXPECT_TRUE(fe.errors.value(0).startsWith(QStringLiteral("商品类别转换：第 2/3 行（编号0101），表 splbda："))) << fe.errors.value(0).toStdString();
    EXPECT_EQ(fe.progress, QStringLiteral("信息:2/3  (编号0101)"));
    EXPECT_EQ(shop.target().rows(QStringLiteral("select objid from splbda order by objid")),
              (QStringList{QStringLiteral("01"), QStringLiteral("0101")}));
}

TEST_P(Categories, V1ParentsFromTheRowAndGoodsLevel)
{
    REQUIRE_BACKEND(GetParam());
    Shop shop(QStringLiteral("source_v1_sqlite.sql"), GetParam());
    shop.source().exec(QStringLiteral(
        "insert into AccountInfo (item, vals2) values ('Other', '1111');\n"
        "insert into AccountInfo (item, vals2) values ('GoodsLevel', '20''0');\n"
        "insert into GoodsType (GoodsTypeId, GoodsTypeName, parent) values (' \tT1\r\n', '食品  ', '-1');\n"
        "insert into GoodsType (GoodsTypeId, GoodsTypeName, parent) values ('T101', NULL, ' T1 ');\n"
        "insert into GoodsType (GoodsTypeId, GoodsTypeName, parent) values ('T2', 'b', ' -1');\n"
        "insert into GoodsType (GoodsTypeId, GoodsTypeName, parent) values ('T3', 'c', '-1 ');\n"
        "insert into GoodsType (GoodsTypeId, GoodsTypeName, parent) values ('T4', 'd', 'NOPE');\n"
        "insert into GoodsType (GoodsTypeId, GoodsTypeName, parent) values ('T''5', 'e', '-10');\n"
        "insert into GoodsType (GoodsTypeId, GoodsTypeName, parent) values (NULL, NULL, NULL);"));
    RecordingFrontend fe;
    fe.abort = true; // not honoured by this conversion
    const auto r = runOperation(shop, Family::V1, QStringLiteral("categories"), fe);
    ASSERT_TRUE(r.ok) << r.message.toStdString();
    EXPECT_EQ(fe.completions, QStringList{QStringLiteral("提示/档案转换完毕！")});
    EXPECT_EQ(fe.progress, QStringLiteral("信息:7/7  (编号)"));
    EXPECT_EQ(shop.target().rows(kCategories), (QStringList{
                                                   row({"", "", "", kStamp}),
                                                   row({"T'5", "e", "-10", kStamp}),
                                                   row({"T1", "食品  ", "", kStamp}),
                                                   row({"T101", "", " T1 ", kStamp}),
                                                   row({"T2", "b", " -1", kStamp}),
                                                   row({"T3", "c", "-1 ", kStamp}),
                                                   row({"T4", "d", "NOPE", kStamp}),
                                               }));
    // The quote in the setting is kept, and every 0 written as 2.
    EXPECT_EQ(shop.target().scalar(kLevelSetting), QStringLiteral("22'2"));
}

TEST_P(Categories, V1EmptySourceStillCopiesTheLevelSetting)
{
    REQUIRE_BACKEND(GetParam());
    Shop shop(QStringLiteral("source_v1_sqlite.sql"), GetParam());
    shop.target().exec(QStringLiteral("update xx set fvalue='old' where objid='01splbjc';"));
    RecordingFrontend fe;
    auto r = runOperation(shop, Family::V1, QStringLiteral("categories"), fe);
    ASSERT_TRUE(r.ok) << r.message.toStdString();
    EXPECT_EQ(fe.progressCalls, 0);
    EXPECT_EQ(fe.completions.size(), 1);
    // No GoodsLevel row: the setting is written as empty text.
    EXPECT_EQ(shop.target().scalar(kLevelSetting), QStringLiteral(""));

    // Without AccountInfo the rows stay, the setting is not copied.
    shop.target().exec(QStringLiteral("update xx set fvalue='old' where objid='01splbjc';"));
    shop.source().exec(QStringLiteral(
        "insert into GoodsType (GoodsTypeId, GoodsTypeName, parent) values ('T1', 'a', '-1');\n"
        "drop table AccountInfo;"));
    r = runOperation(shop, Family::V1, QStringLiteral("categories"), fe);
    ASSERT_FALSE(r.ok);
    EXPECT_TRUE(fe.errors.value(0).startsWith(QStringLiteral("商品类别转换：表 AccountInfo："))) << fe.errors.value(0).toStdString();
    EXPECT_EQ(shop.target().scalar(QStringLiteral("select objid from splbda")), QStringLiteral("T1"));
    EXPECT_EQ(shop.target().scalar(kLevelSetting), QStringLiteral("old"));
}

INSTANTIATE_TEST_SUITE_P(Backends, Categories, ::testing::Values(Backend::SQLite, Backend::PostgreSQL),
                         [](const auto& info) { return backendName(info.param).toStdString(); });

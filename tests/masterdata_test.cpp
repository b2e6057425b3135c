// Warehouses, goods areas and the clear operations, SQLite to SQLite and
// SQLite to PostgreSQL, for both programs.
#include "support/testdb.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>

using namespace testing_support;
using shell::Family;

namespace {

const QString kStamp = QStringLiteral("2026-12-08 09:05 07");

class MasterData : public ::testing::TestWithParam<Backend> {};

QString row(std::initializer_list<QString> fields) { return QStringList(fields).join(u'|'); }

} // namespace

TEST_P(MasterData, WarehousesV67)
{
    REQUIRE_BACKEND(GetParam());
    Shop shop(QStringLiteral("source_v67_sqlite.sql"), GetParam());
    shop.source().exec(QStringLiteral(
        "insert into ck (ckbh, ckmc) values (' \tA01\r\n', '  一号仓库');\n"
        "insert into ck (ckbh, ckmc) values ('A02', NULL);\n"
        "insert into ck (ckbh, ckmc) values ('A03', '一二三四五六七八九十甲乙');\n"
        "insert into ck (ckbh, ckmc) values ('B''4', 'x一二三四五六七八九十');"));
    RecordingFrontend fe;
    fe.abort = true; // not honoured by this conversion
    const auto r = runOperation(shop, Family::V67, QStringLiteral("warehouses"), fe);
    ASSERT_TRUE(r.ok) << r.message.toStdString();
    EXPECT_EQ(r.rowsRead, 4);
    EXPECT_EQ(fe.completions, QStringList{QStringLiteral("提示/档案转换完毕！")});
    EXPECT_EQ(fe.progress, QStringLiteral("信息:4/4  (编号B'4)"));
    EXPECT_EQ(shop.target().rows(QStringLiteral("select objid,ckmc,xgrq,jyf,zt,ownermdbh,ownermdmc from ckda order by objid")),
              (QStringList{
                  row({"A01", "  一号仓库", kStamp, "0", "0", "001", "超市门店"}),
                  row({"A02", "", kStamp, "0", "0", "001", "超市门店"}),
                  row({"A03", "一二三四五六七八九十", kStamp, "0", "0", "001", "超市门店"}),
                  row({"B'4", "x一二三四五六七八九", kStamp, "0", "0", "001", "超市门店"}),
              }));
}

TEST_P(MasterData, DuplicateKeyEndsTheRunAndKeepsEarlierRows)
{
    REQUIRE_BACKEND(GetParam());
    Shop shop(QStringLiteral("source_v67_sqlite.sql"), GetParam());
    shop.source().exec(QStringLiteral(
        "insert into hq (hqbh, hqmc) values ('H1', 'a');\n"
        "insert into hq (hqbh, hqmc) values ('H2', 'b');\n"
        "insert into hq (hqbh, hqmc) values ('0123456789ABCDEFX', 'c');\n"
        "insert into hq (hqbh, hqmc) values ('0123456789ABCDEFY', 'd');\n"
        "insert into hq (hqbh, hqmc) values ('H5', 'e');"));
    RecordingFrontend fe;
    const auto r = runOperation(shop, Family::V67, QStringLiteral("goods-areas"), fe);
    ASSERT_FALSE(r.ok);
    EXPECT_TRUE(fe.completions.isEmpty());
    ASSERT_EQ(fe.errors.size(), 1);
    const QString& msg = fe.errors.first();
    EXPECT_TRUE(msg.startsWith(QStringLiteral("货区档案转换：第 4/5 行（编号0123456789ABCDEFY），表 hqda："))) << msg.toStdString();
    EXPECT_EQ(fe.progress, QStringLiteral("信息:4/5  (编号0123456789ABCDEFY)"));
    EXPECT_EQ(shop.target().rows(QStringLiteral("select objid,hqmc from hqda order by objid")),
              (QStringList{row({"0123456789ABCDE", "c"}), row({"H1", "a"}), row({"H2", "b"})}));
}

TEST_P(MasterData, V1WarehousesAndGoodsAreas)
{
    REQUIRE_BACKEND(GetParam());
    Shop shop(QStringLiteral("source_v1_sqlite.sql"), GetParam());
    shop.source().exec(QStringLiteral(
        "insert into Store (StoreId, Store) values ('  A01  ', ' 总仓');\n"
        "insert into Organise (OrganiseId, Organise) values ('O1', '生鲜区');"));
    RecordingFrontend fe;
    auto r = runOperation(shop, Family::V1, QStringLiteral("warehouses"), fe);
    ASSERT_TRUE(r.ok) << r.message.toStdString();
    EXPECT_EQ(fe.progress, QStringLiteral("信息:1/1  (编号A01)"));
    r = runOperation(shop, Family::V1, QStringLiteral("goods-areas"), fe);
    ASSERT_TRUE(r.ok) << r.message.toStdString();
    EXPECT_EQ(shop.target().rows(QStringLiteral("select objid,ckmc,ownermdbh from ckda")),
              QStringList{row({"A01", " 总仓", "001"})});
    EXPECT_EQ(shop.target().rows(QStringLiteral("select objid,hqmc,xgrq from hqda")),
              QStringList{row({"O1", "生鲜区", kStamp})});
}

TEST_P(MasterData, EmptySourceStillCompletes)
{
    REQUIRE_BACKEND(GetParam());
    Shop shop(QStringLiteral("source_v67_sqlite.sql"), GetParam());
    RecordingFrontend fe;
    const auto r = runOperation(shop, Family::V67, QStringLiteral("warehouses"), fe);
    ASSERT_TRUE(r.ok) << r.message.toStdString();
    EXPECT_EQ(fe.progressCalls, 0);
    EXPECT_EQ(fe.completions.size(), 1);
}

TEST_P(MasterData, ClearOperationsEmptyTheirTablesWithoutTheSource)
{
    REQUIRE_BACKEND(GetParam());
    Shop shop(QStringLiteral("source_v67_sqlite.sql"), GetParam());
    shop.target().exec(QStringLiteral(
        "insert into ckda (objid) values ('A');\n"
        "insert into gysda (objid) values ('G');\n"
        "insert into gyslbda (objid) values ('L');\n"
        "insert into spckkc (ckbh, spbh) values ('1', '2');\n"
        "insert into mdspkc (mdbh, spbh) values ('1', '2');"));
    QFile::remove(shop.sourceUdl());
    RecordingFrontend fe;
    fe.log << QStringLiteral("kept");
    for (const QString& id : {QStringLiteral("clear-warehouses"), QStringLiteral("clear-suppliers"),
                              QStringLiteral("clear-stock"), QStringLiteral("clear-members"),
                              QStringLiteral("clear-goods-areas"), QStringLiteral("clear-categories"),
                              QStringLiteral("clear-products")}) {
        const auto r = runOperation(shop, Family::V67, id, fe);
        ASSERT_TRUE(r.ok) << id.toStdString() << ": " << r.message.toStdString();
    }
    EXPECT_EQ(fe.completions.first(), QStringLiteral("提示/仓库档案删除完毕！"));
    EXPECT_EQ(fe.completions.last(), QStringLiteral("提示/档案删除完毕！"));
    EXPECT_EQ(fe.log, QStringList{QStringLiteral("kept")});
    for (const char* t : {"ckda", "gysda", "gyslbda", "spckkc", "mdspkc"})
        EXPECT_EQ(shop.target().scalar(QStringLiteral("select count(*) from %1").arg(QLatin1String(t))), QStringLiteral("0")) << t;
    // The V1 program names the warehouse clear differently.
    const auto r = runOperation(shop, Family::V1, QStringLiteral("clear-warehouses"), fe);
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(fe.completions.last(), QStringLiteral("提示/档案删除完毕！"));
}

TEST_P(MasterData, MissingDataLinkFileIsAnErrorNamingIt)
{
    REQUIRE_BACKEND(GetParam());
    Shop shop(QStringLiteral("source_v67_sqlite.sql"), GetParam());
    QFile::remove(shop.sourceUdl());
    RecordingFrontend fe;
    const auto r = runOperation(shop, Family::V67, QStringLiteral("warehouses"), fe);
    ASSERT_FALSE(r.ok);
    EXPECT_TRUE(fe.errors.value(0).contains(QStringLiteral("数据库连接1.udl"))) << fe.errors.value(0).toStdString();
    EXPECT_FALSE(fe.errors.value(0).contains(qEnvironmentVariable("BELMIRE_PG_PASSWORD", QStringLiteral("\x01"))));
}

INSTANTIATE_TEST_SUITE_P(Backends, MasterData, ::testing::Values(Backend::SQLite, Backend::PostgreSQL),
                         [](const auto& info) { return backendName(info.param).toStdString(); });

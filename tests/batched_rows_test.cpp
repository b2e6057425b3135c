// On PostgreSQL and through ODBC the rows' writes go to the server in batches
// (through ODBC as INSERTs of many rows, sent again row by row when refused).
// The outcome must be the row-by-row one that SQLite gives: the same rows kept,
// the same log lines, the same error naming the same row, the same last
// progress line.
#include "support/testdb.h"

#include <gtest/gtest.h>

using namespace testing_support;
using shell::Family;

namespace {

constexpr int kProducts = 600;

QString code(int i) { return QStringLiteral("P%1").arg(i, 4, 10, QLatin1Char('0')); }

// 600 products with two bar codes each; every 37th repeats the first product's
// main bar code (a notice in the log before the product is written). A stray
// unit row makes product failAt fail on its second unit; badPriceAt has a
// retail price that is no number (the row fails before writing anything).
// All rows share their origin and their size (with a quote in it); the first
// 300 their purchase price, which differs after them. Every 7th product, and
// every 5th after the 400th, has a third bar code: the batches hold
// different numbers of units.
void fill(Shop& shop, int failAt, int badPriceAt)
{
    QString sql = QStringLiteral("begin;\n");
    for (int i = 1; i <= kProducts; ++i) {
        const QString main = i % 37 == 0 ? QStringLiteral("B0001") : QStringLiteral("B") + code(i).mid(1);
        const QString price = i == badPriceAt ? QStringLiteral("'x'") : QStringLiteral("2.5");
        const QString purchase = i <= 300 ? QStringLiteral("1.25") : QStringLiteral("1.%1").arg(i);
        const QString third =
            i % 7 == 0 || (i > 400 && i % 5 == 0) ? QStringLiteral("'D%1'").arg(i) : QStringLiteral("NULL");
        sql += QStringLiteral(
                   "insert into spxx (Spbh,Spmc,ggxh,cd,hjtm,jkc,fs,jhjj,lsj,hyj,pfj,jldw,sptm,sptm1,sptm2,"
                   "zhf) values ('%1','品名%2','5''ml','山东','0','0','经销',%5,%3,2,2,'个','%4','C%2',%6,'0');\n")
                   .arg(code(i), QString::number(i), price, main, purchase, third);
    }
    applySql(shop.source().db(), sql + QStringLiteral("commit;\n"));
    if (failAt > 0)
        shop.target().exec(
            QStringLiteral("insert into spdw (objid, fid, sptm) values ('%1', 1, 'stray');").arg(code(failAt)));
}

struct Outcome {
    bool ok = false;
    QString error; // up to the database's own text
    QStringList log;
    QString progress;
    QStringList spda;
    QStringList spdw;
    qint64 written = 0;
};

// odbc: the target reached through MSDASQL and the Debian driver of its kind.
Outcome convert(Backend target, int failAt, int badPriceAt, bool odbc = false)
{
    Shop shop(QStringLiteral("source_v67_sqlite.sql"), target);
    fill(shop, failAt, badPriceAt);
    if (odbc)
        writeUdl(shop.targetUdl(), target == Backend::SQLite
                                       ? odbcSqliteLink(static_cast<SqliteDb&>(shop.target()).path())
                                       : odbcPostgresLink(static_cast<PostgresDb&>(shop.target()).name()));
    RecordingFrontend fe;
    const shell::RunResult r = runOperation(shop, Family::V67, QStringLiteral("products-v7"), fe);
    Outcome o;
    o.ok = r.ok;
    o.written = r.rowsWritten;
    const QString error = fe.errors.value(0);
    const qsizetype cut = error.indexOf(QStringLiteral("表 spdw："));
    o.error = cut >= 0 ? error.left(cut + 7) : error;
    o.log = fe.log;
    o.progress = fe.progress;
    o.spda = shop.target().rows(QStringLiteral("select objid,spmc,ggxh,chandi,jyf,zt from spda order by objid"));
    o.spdw = shop.target().rows(
        QStringLiteral("select objid,fid,dwmc,sptm,cast(round(jj * 10000) as integer) from spdw order by objid,fid"));
    return o;
}

class BatchedRows : public ::testing::TestWithParam<std::pair<int, int>> {};

} // namespace

TEST_P(BatchedRows, PostgreSQLEndsAsSQLiteDoes)
{
    REQUIRE_BACKEND(Backend::PostgreSQL);
    registerOdbcDrivers();
    const auto [failAt, badPriceAt] = GetParam();
    const Outcome lite = convert(Backend::SQLite, failAt, badPriceAt);
    const std::pair<const char*, Outcome> batched[] = {
        {"PostgreSQL", convert(Backend::PostgreSQL, failAt, badPriceAt)},
        {"PostgreSQL through psqlODBC", convert(Backend::PostgreSQL, failAt, badPriceAt, true)},
        {"SQLite through its ODBC driver", convert(Backend::SQLite, failAt, badPriceAt, true)}};
    for (const auto& [name, pg] : batched) {
        SCOPED_TRACE(name);
        EXPECT_EQ(pg.ok, lite.ok);
        EXPECT_EQ(pg.error, lite.error);
        EXPECT_EQ(pg.log, lite.log);
        EXPECT_EQ(pg.progress, lite.progress);
        EXPECT_EQ(pg.spda, lite.spda);
        EXPECT_EQ(pg.spdw, lite.spdw);
        EXPECT_EQ(pg.written, lite.written);
    }

    // And the row-by-row outcome itself: every product before the failing one, nothing of it.
    const int failing = failAt > 0 && (badPriceAt == 0 || failAt < badPriceAt) ? failAt : badPriceAt;
    if (failing == 0) {
        EXPECT_TRUE(lite.ok);
        EXPECT_EQ(lite.spda.size(), kProducts);
    } else {
        EXPECT_FALSE(lite.ok);
        EXPECT_EQ(lite.spda.size(), failing - 1);
        EXPECT_TRUE(lite.error.startsWith(
            QStringLiteral("V7商品转换：第 %1/%2 行（编号%3），").arg(failing).arg(kProducts).arg(code(failing))))
            << lite.error.toStdString();
        EXPECT_EQ(lite.progress, QStringLiteral("信息:%1/%2  (编号%3)").arg(failing).arg(kProducts).arg(code(failing)));
    }
    // Row 370's notice comes before its failing unit; row 259 fails on its price before its notice.
    const int noticed = failing == 0 ? kProducts : failing == badPriceAt ? failing - 1 : failing;
    EXPECT_EQ(lite.log.size(), noticed / 37) << lite.log.join(u'\n').toStdString();
}

// Failures at the first row, at the edges of a batch of writes, inside one, at
// the last row; a row failing before it writes; none.
INSTANTIATE_TEST_SUITE_P(Positions, BatchedRows,
                         ::testing::Values(std::pair{1, 0}, std::pair{250, 0}, std::pair{251, 0}, std::pair{370, 0},
                                           std::pair{600, 0}, std::pair{0, 259}, std::pair{444, 259}, std::pair{0, 0}),
                         [](const auto& info) {
                             return "fail" + std::to_string(info.param.first) + "_badPrice" +
                                    std::to_string(info.param.second);
                         });

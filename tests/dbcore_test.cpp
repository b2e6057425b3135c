#include "db/amount.h"
#include "db/connection.h"
#include "db/dialect.h"
#include "db/odbc_backend.h"
#include "db/query.h"
#include "support/testdb.h"
#include "textutil/error.h"
#include "textutil/gbk.h"

#include <gtest/gtest.h>

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>

using db::Amount;
using db::Dialect;

namespace {

std::int64_t raw(const char* text)
{
    const auto a = Amount::parse(QString::fromLatin1(text));
    EXPECT_TRUE(a.has_value()) << text;
    return a ? a->raw() : 0;
}

} // namespace

TEST(Amount, ParsesDecimalTextExactly)
{
    EXPECT_EQ(raw("12.5"), 125000);
    EXPECT_EQ(raw("-3"), -30000);
    EXPECT_EQ(raw(" 0.0001 "), 1);
    EXPECT_EQ(raw("1e3"), 10000000);
    EXPECT_EQ(raw("1.5E-2"), 150);
    EXPECT_EQ(raw("+.25"), 2500);
    // More than four decimals: half to even.
    EXPECT_EQ(raw("0.00005"), 0);
    EXPECT_EQ(raw("0.00015"), 2);
    EXPECT_EQ(raw("0.000051"), 1);
    EXPECT_EQ(raw("2.00004999999999999999999999999999999999991"), 20000);
    for (const char* bad : {"", "abc", "1.2.3", "1e", "--1", "1,5", "99999999999999999999"})
        EXPECT_FALSE(Amount::parse(QString::fromLatin1(bad)).has_value()) << bad;
}

TEST(Amount, ReadsDatabaseValuesWithoutBinaryRounding)
{
    EXPECT_EQ(Amount::fromVariant(QVariant()).raw(), 0);
    EXPECT_EQ(Amount::fromVariant(QVariant(0.1)).raw(), 1000);
    EXPECT_EQ(Amount::fromVariant(QVariant(2.675)).raw(), 26750);
    EXPECT_EQ(Amount::fromVariant(QVariant(QStringLiteral("19.9900"))).raw(), 199900);
    EXPECT_EQ(Amount::fromVariant(QVariant(qlonglong(7))).raw(), 70000);
    EXPECT_THROW(Amount::fromVariant(QVariant(QStringLiteral("n/a"))), belmire::Error);
}

TEST(Amount, ProductsRoundHalfToEven)
{
    EXPECT_EQ((Amount::fromRaw(30000) * Amount::fromRaw(15000)).raw(), 45000); // 3 x 1.5
    EXPECT_EQ((Amount::fromRaw(3333) * Amount::fromRaw(1)).raw(), 0);          // 0.3333 x 0.0001
    EXPECT_EQ((Amount::fromRaw(5000) * Amount::fromRaw(1)).raw(), 0);          // 0.00005 -> even 0
    EXPECT_EQ((Amount::fromRaw(15000) * Amount::fromRaw(1)).raw(), 2);         // 0.00015 -> 0.0002
    EXPECT_EQ((Amount::fromRaw(-15000) * Amount::fromRaw(1)).raw(), -2);
    // Large quantities and prices need the 128-bit intermediate.
    EXPECT_EQ((Amount::fromRaw(1'000'000'0000LL) * Amount::fromRaw(99'999'9999LL)).raw(), 999'999'999'000'000LL);
    EXPECT_EQ(Amount::fromRaw(-1).toString(), QStringLiteral("-0.0001"));
    EXPECT_EQ(Amount::fromRaw(125000).toString(), QStringLiteral("12.5000"));
}

TEST(Dialect, SqlServerGetsTheTextUnchanged)
{
    const QString s = QStringLiteral("update mdspkc set spmc=b.spmc+b.ggxh from mdspkc a,spda b where a.spbh=b.objid ");
    EXPECT_EQ(db::rewrite(s, Dialect::SqlServer), s);
}

TEST(Dialect, RewritesTheTransactSqlForms)
{
    EXPECT_EQ(db::rewrite(QStringLiteral("TRUNCATE TABLE ckda "), Dialect::SQLite),
              QStringLiteral("DELETE FROM ckda "));
    EXPECT_EQ(db::rewrite(QStringLiteral("TRUNCATE TABLE ckda "), Dialect::PostgreSQL),
              QStringLiteral("TRUNCATE TABLE ckda "));
    EXPECT_EQ(db::rewrite(QStringLiteral("select top 1 fs from spxx where gysbh=:p1"), Dialect::PostgreSQL),
              QStringLiteral("select fs from spxx where gysbh=:p1 limit 1"));
    EXPECT_EQ(db::rewrite(QStringLiteral("update mdspkc set mdmc=b.mdmc from mdspkc a,mdda b where a.mdbh=b.objid "),
                          Dialect::SQLite),
              QStringLiteral("update mdspkc as a set mdmc=b.mdmc from mdda b where a.mdbh=b.objid "));
    EXPECT_EQ(
        db::rewrite(QStringLiteral("update mdspkc set spmc=b.spmc+b.ggxh from mdspkc a,spda b where a.spbh=b.objid "),
                    Dialect::PostgreSQL),
        QStringLiteral("update mdspkc as a set spmc=b.spmc||b.ggxh from spda b where a.spbh=b.objid "));
    EXPECT_EQ(db::rewrite(QStringLiteral("update mdspkc set xgrq='2026-12-08 09:05 07' from mdspkc "), Dialect::SQLite),
              QStringLiteral("update mdspkc set xgrq='2026-12-08 09:05 07'"));
    // Plain statements and inserts pass through.
    const QString insert = QStringLiteral("insert into ckda (objid) values (:objid)\r\n");
    EXPECT_EQ(db::rewrite(insert, Dialect::SQLite), insert);
    const QString update = QStringLiteral("update xx set fvalue='2222' where objid='01splbjc'");
    EXPECT_EQ(db::rewrite(update, Dialect::PostgreSQL), update);
}

TEST(Dialect, UpdateFromStatementsRunOnSqlite)
{
    QSqlDatabase d = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("dialect"));
    d.setDatabaseName(QStringLiteral(":memory:"));
    ASSERT_TRUE(d.open());
    QSqlQuery q(d);
    ASSERT_TRUE(q.exec(QStringLiteral("create table mdspkc (spbh text, spmc text default '')")));
    ASSERT_TRUE(q.exec(QStringLiteral("create table spda (objid text, spmc text, ggxh text)")));
    ASSERT_TRUE(q.exec(QStringLiteral("insert into mdspkc (spbh) values ('1'),('2')")));
    ASSERT_TRUE(q.exec(QStringLiteral("insert into spda values ('1','水','500ml')")));
    ASSERT_TRUE(q.exec(
        db::rewrite(QStringLiteral("update mdspkc set spmc=b.spmc+b.ggxh from mdspkc a,spda b where a.spbh=b.objid "),
                    Dialect::SQLite)))
        << q.lastError().text().toStdString();
    ASSERT_TRUE(q.exec(QStringLiteral("select spbh, spmc from mdspkc order by spbh")));
    ASSERT_TRUE(q.next());
    EXPECT_EQ(q.value(1).toString(), QStringLiteral("水500ml"));
    ASSERT_TRUE(q.next());
    EXPECT_EQ(q.value(1).toString(), QString());
}

TEST(Fields, ReadWithTheNullRules)
{
    EXPECT_EQ(db::variantText(QVariant()), QByteArray());
    EXPECT_EQ(db::variantText(QVariant(1.5)), QByteArray("1.5"));
    EXPECT_EQ(db::variantInteger(QVariant()), 0);
    EXPECT_EQ(db::variantInteger(QVariant(QStringLiteral(" 3 "))), 3);
    EXPECT_EQ(db::variantInteger(QVariant(QStringLiteral("2.0000"))), 2);
    try {
        db::variantInteger(QVariant(QStringLiteral("x")));
        FAIL();
    } catch (const belmire::Error& e) {
        EXPECT_EQ(e.message(), QStringLiteral("'x' is not a valid integer value"));
    }
    EXPECT_FALSE(db::variantTruth(QVariant()));
    EXPECT_TRUE(db::variantTruth(QVariant(QStringLiteral("1"))));
    EXPECT_TRUE(db::variantTruth(QVariant(QStringLiteral("true"))));
    EXPECT_FALSE(db::variantTruth(QVariant(0)));
    EXPECT_FALSE(db::variantDate(QVariant()).isValid());
    EXPECT_EQ(db::variantDate(QVariant(QStringLiteral("1990-05-06 00:00:00"))), QDate(1990, 5, 6));
}

// Through the SQLite and PostgreSQL ODBC drivers: the dialect follows the
// database's own name, texts go in and come back whole (a long one read in
// pieces, an empty one bound as empty), transactions end as asked, and another
// database is refused by name.
TEST(Odbc, DialectFollowsTheDatabaseAndTextsComeBackWhole)
{
    testing_support::registerOdbcDrivers();
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("库 一.db"));
    testing_support::SqliteDb file(dir.path(), QStringLiteral("库 一.db"), QString());
    file.exec(QStringLiteral("create table t (k varchar(8), v text);"));
    std::vector<std::pair<QString, Dialect>> links = {{testing_support::odbcSqliteLink(path), Dialect::SQLite}};
    std::unique_ptr<testing_support::PostgresDb> pg;
    if (testing_support::PostgresDb::available()) {
        pg = std::make_unique<testing_support::PostgresDb>(dir.filePath(QStringLiteral("pg.udl")), QString());
        pg->exec(QStringLiteral("create table t (k varchar(8), v text);"));
        links.push_back({testing_support::odbcPostgresLink(pg->name()), Dialect::PostgreSQL});
    }
    const QByteArray longText = gbk::fromUnicode(QString(700, QChar(0x5f20)) + QStringLiteral("丰"));
    for (const auto& [link, dialect] : links) {
        const QString udl = dir.filePath(QStringLiteral("link.udl"));
        testing_support::writeUdl(udl, link);
        db::Connection c(QStringLiteral("目标"));
        c.open(udl);
        EXPECT_EQ(dynamic_cast<db::OdbcBackend&>(db::backendOf(c)).link().dialect(), dialect);
        c.exec(QStringLiteral("TRUNCATE TABLE t"));
        db::Query insert(c);
        insert.setText(QStringLiteral("insert into t (k, v) values (:k, :v)"));
        insert.bindText(QStringLiteral("k"), gbk::fromUnicode(QStringLiteral("张三丰")));
        insert.bindText(QStringLiteral("v"), longText);
        insert.exec();
        insert.bindText(QStringLiteral("k"), QByteArray());
        insert.bindText(QStringLiteral("v"), QByteArray());
        insert.exec();
        db::Query read(c);
        read.setText(QStringLiteral("select top 2 k, v from t order by k desc"));
        read.open();
        ASSERT_TRUE(read.next());
        EXPECT_EQ(gbk::toUnicode(read.text(QStringLiteral("k"))), QStringLiteral("张三丰"));
        EXPECT_EQ(read.text(QStringLiteral("v")), longText);
        ASSERT_TRUE(read.next());
        EXPECT_FALSE(read.isNull(QStringLiteral("k")));
        EXPECT_TRUE(read.text(QStringLiteral("v")).isEmpty());
        EXPECT_FALSE(read.next());
        // Transactions where psqlODBC's link holds BEGIN back until the next
        // statement: one with nothing in it ends either way, a write rolled back is gone.
        c.begin();
        c.rollback();
        c.begin();
        c.exec(QStringLiteral("delete from t"));
        c.rollback();
        c.begin();
        c.commit();
        db::Query count(c);
        count.setText(QStringLiteral("select count(*) from t"));
        count.open();
        ASSERT_TRUE(count.next());
        EXPECT_EQ(db::variantInteger(count.valueAt(0)), 2);
    }
    EXPECT_EQ(db::odbcDialect(QStringLiteral("Microsoft SQL Server"), QString()), Dialect::SqlServer);
    try {
        db::odbcDialect(QStringLiteral("Oracle"), QStringLiteral("目标数据库 ODBC DSN=erp"));
        ADD_FAILURE() << "no error";
    } catch (const belmire::Error& e) {
        EXPECT_EQ(e.message(),
                  QStringLiteral("目标数据库 ODBC DSN=erp 是 Oracle，不受支持（ODBC 连接只能连到 SQL Server、"
                                 "PostgreSQL 或 SQLite）"));
    }
}

// PostgreSQL through libpq: a row set longer than one fetched chunk is read
// whole while lookups run on the same connection between its rows (also inside
// a transaction), values come in the forms the readers take, and a failing
// statement names its table with the server's own text.
TEST(Postgres, RowSetsStreamWhileOtherStatementsRun)
{
    if (!testing_support::PostgresDb::available()) {
        if (qEnvironmentVariableIsSet("CI"))
            FAIL() << "PostgreSQL test server not running under CI";
        GTEST_SKIP() << testing_support::PostgresDb::unavailableReason().toStdString();
    }
    QTemporaryDir dir;
    testing_support::PostgresDb pg(dir.filePath(QStringLiteral("pg.udl")), QString());
    pg.exec(QStringLiteral("create table t (k integer primary key, s varchar(20), n numeric(18,4), f boolean, "
                           "d date, x double precision);"
                           "insert into t select g, '名' || g, g / 4.0, g % 2 = 0, date '2010-12-31', g * 0.5 "
                           "from generate_series(1, 4500) g;"
                           "insert into t values (0, null, null, null, null, null);"));
    db::Connection c(QStringLiteral("源"));
    c.open(pg.udl());
    EXPECT_TRUE(c.capabilities().comparesKeysExactly);
    EXPECT_TRUE(c.capabilities().defersWrites);
    for (const bool inTransaction : {false, true}) {
        SCOPED_TRACE(inTransaction ? "in a transaction" : "outside a transaction");
        if (inTransaction)
            c.begin();
        db::Query walk(c);
        walk.setText(QStringLiteral("select k, s, n, f, d, x from t where k >= :low order by k"));
        walk.bindInteger(QStringLiteral("low"), 0);
        walk.open();
        db::Query lookup(c);
        lookup.setText(QStringLiteral("select top 1 s from t where k = :k"));
        int rows = 0;
        while (walk.next()) {
            const qint64 k = walk.integer(QStringLiteral("k"));
            ASSERT_EQ(k, rows);
            if (k == 0) {
                EXPECT_TRUE(walk.isNull(QStringLiteral("s")));
                EXPECT_EQ(walk.text(QStringLiteral("s")), QByteArray());
                EXPECT_EQ(walk.amount(QStringLiteral("n")).raw(), 0);
                EXPECT_FALSE(walk.truth(QStringLiteral("f")));
                EXPECT_FALSE(walk.date(QStringLiteral("d")).isValid());
            } else if (k % 1000 == 3) {
                EXPECT_EQ(gbk::toUnicode(walk.text(QStringLiteral("s"))), QStringLiteral("名%1").arg(k));
                EXPECT_EQ(walk.amount(QStringLiteral("n")).raw(), k * 2500);
                EXPECT_FALSE(walk.truth(QStringLiteral("f")));
                EXPECT_EQ(walk.date(QStringLiteral("d")), QDate(2010, 12, 31));
                EXPECT_EQ(walk.number(QStringLiteral("x")), k * 0.5);
                EXPECT_EQ(walk.text(QStringLiteral("x")), QByteArray::number(k * 0.5));
                lookup.bindInteger(QStringLiteral("k"), k + 1);
                lookup.open();
                ASSERT_TRUE(lookup.next());
                EXPECT_EQ(gbk::toUnicode(lookup.text(QStringLiteral("s"))), QStringLiteral("名%1").arg(k + 1));
                lookup.close();
            }
            ++rows;
        }
        EXPECT_EQ(rows, 4501);
        EXPECT_EQ(walk.countRows(), 4501);
        walk.close();
        if (inTransaction)
            c.commit();
    }
    try {
        c.exec(QStringLiteral("insert into t (k) values (1)"));
        ADD_FAILURE() << "no error";
    } catch (const belmire::Error& e) {
        EXPECT_TRUE(e.message().startsWith(QStringLiteral("表 t：ERROR:  duplicate key"))) << e.message().toStdString();
    }
    // The cursors are gone with their row sets (read inside a transaction: no cursor of its own).
    c.begin();
    db::Query open(c);
    open.setText(QStringLiteral("select count(*), string_agg(name, ',') as names from pg_cursors where name <> ''"));
    open.open();
    ASSERT_TRUE(open.next());
    EXPECT_EQ(open.integer(QStringLiteral("count")), 0) << open.text(QStringLiteral("names")).toStdString();
    c.commit();
}

// Warehouses, goods areas and the clear operations, SQLite to SQLite and
// SQLite to PostgreSQL, for both programs; whole shops through ODBC links.
#include "db/connection.h"
#include "db/query.h"
#include "programs/programs.h"
#include "quorvan/column.h"
#include "quorvan/products.h"
#include "quorvan/suppliers.h"
#include "support/responder.h"
#include "support/testdb.h"
#include "textutil/gbk.h"
#include "textutil/scramble.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>

#include <map>
#include <set>

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
    shop.source().exec(QStringLiteral("insert into ck (ckbh, ckmc) values (' \tA01\r\n', '  一号仓库');\n"
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
    EXPECT_EQ(shop.target().rows(
                  QStringLiteral("select objid,ckmc,xgrq,jyf,zt,ownermdbh,ownermdmc from ckda order by objid")),
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
    shop.source().exec(QStringLiteral("insert into hq (hqbh, hqmc) values ('H1', 'a');\n"
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
    EXPECT_TRUE(msg.startsWith(QStringLiteral("货区档案转换：第 4/5 行（编号0123456789ABCDEFY），表 hqda：")))
        << msg.toStdString();
    EXPECT_EQ(fe.progress, QStringLiteral("信息:4/5  (编号0123456789ABCDEFY)"));
    EXPECT_EQ(shop.target().rows(QStringLiteral("select objid,hqmc from hqda order by objid")),
              (QStringList{row({"0123456789ABCDE", "c"}), row({"H1", "a"}), row({"H2", "b"})}));
}

TEST_P(MasterData, V1WarehousesAndGoodsAreas)
{
    REQUIRE_BACKEND(GetParam());
    Shop shop(QStringLiteral("source_v1_sqlite.sql"), GetParam());
    shop.source().exec(QStringLiteral("insert into Store (StoreId, Store) values ('  A01  ', ' 总仓');\n"
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
    shop.target().exec(QStringLiteral("insert into ckda (objid) values ('A');\n"
                                      "insert into gysda (objid) values ('G');\n"
                                      "insert into gyslbda (objid) values ('L');\n"
                                      "insert into spckkc (ckbh, spbh) values ('1', '2');\n"
                                      "insert into mdspkc (mdbh, spbh) values ('1', '2');"));
    // PostgreSQL refuses to truncate a table another table's foreign key references: DELETE empties it instead.
    const bool postgres = GetParam() == Backend::PostgreSQL;
    if (postgres)
        shop.target().exec(QStringLiteral("create table gysref (g varchar(15) references gysda (objid))"));
    QFile::remove(shop.sourceUdl());
    RecordingFrontend fe;
    fe.log << QStringLiteral("kept");
    for (const QString& id :
         {QStringLiteral("clear-warehouses"), QStringLiteral("clear-suppliers"), QStringLiteral("clear-stock"),
          QStringLiteral("clear-members"), QStringLiteral("clear-goods-areas"), QStringLiteral("clear-categories"),
          QStringLiteral("clear-products")}) {
        const auto r = runOperation(shop, Family::V67, id, fe);
        ASSERT_TRUE(r.ok) << id.toStdString() << ": " << r.message.toStdString();
    }
    EXPECT_EQ(fe.completions.first(), QStringLiteral("提示/仓库档案删除完毕！"));
    EXPECT_EQ(fe.completions.last(), QStringLiteral("提示/档案删除完毕！"));
    if (postgres) {
        ASSERT_EQ(fe.log.size(), 2) << fe.log.join(u'\n').toStdString();
        EXPECT_TRUE(fe.log[1].startsWith(QStringLiteral("表 gysda 不能 TRUNCATE（")) &&
                    fe.log[1].endsWith(QStringLiteral("），已改用 DELETE 清空")))
            << fe.log[1].toStdString();
    } else {
        EXPECT_EQ(fe.log, QStringList{QStringLiteral("kept")});
    }
    for (const char* t : {"ckda", "gysda", "gyslbda", "spckkc", "mdspkc"})
        EXPECT_EQ(shop.target().scalar(QStringLiteral("select count(*) from %1").arg(QLatin1String(t))),
                  QStringLiteral("0"))
            << t;
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

namespace {

// Every row of every target table, each table sorted.
QStringList dump(TestDb& db)
{
    const QStringList tables =
        db.rows(db.isPostgres() ? QStringLiteral("select table_name from information_schema.tables "
                                                 "where table_schema='public' order by 1")
                                : QStringLiteral("select name from sqlite_master where type='table' "
                                                 "order by 1"));
    QStringList out;
    for (const QString& t : tables) {
        QStringList rows = db.rows(QStringLiteral("select * from %1").arg(t));
        rows.sort();
        out << t + u':' + QString::number(rows.size());
        out += rows;
    }
    return out;
}

struct ShopRun {
    QStringList target;
    QStringList log;
    QStringList results;
};

ShopRun convertAll(Family family, const QString& sourceUdl, const QString& targetUdl, TestDb* target,
                   bool keysByCollation = false)
{
    const QStringList ids = {QStringLiteral("warehouses"),
                             QStringLiteral("goods-areas"),
                             QStringLiteral("categories"),
                             QStringLiteral("suppliers"),
                             family == Family::V67 ? QStringLiteral("products-v7") : QStringLiteral("products"),
                             QStringLiteral("stock"),
                             QStringLiteral("members")};
    RecordingFrontend fe;
    ShopRun out;
    textutil::setScrambleRandomSource([] { return std::uint8_t(7); }); // check texts comparable
    shell::RunFrame frame(fe, sourceUdl, targetUdl);
    frame.setClock([] { return QDateTime(QDate(2026, 12, 8), QTime(9, 5, 7)); });
    frame.setKeysCompareByCollation(keysByCollation);
    for (const QString& id : ids) {
        const shell::RunResult r = frame.run(*programs::catalog().find(family, id));
        out.results << QStringLiteral("%1 %2 %3/%4/%5 %6")
                           .arg(id, r.ok ? QStringLiteral("ok") : r.message)
                           .arg(r.rowsRead)
                           .arg(r.rowsWritten)
                           .arg(r.rowsSkipped)
                           .arg(fe.progress);
        out.log += fe.log;
    }
    frame.disconnect();
    textutil::setScrambleRandomSource({});
    if (target)
        out.target = dump(*target);
    return out;
}

} // namespace

// Source and target linked through MSDASQL and the real ODBC drivers give the
// targets, log lines and counts of the native links, for both programs, with a
// program folder whose name holds a blank and Chinese characters.
TEST_P(MasterData, WholeShopsThroughOdbcMatchTheNativeLinks)
{
    REQUIRE_BACKEND(GetParam());
    registerOdbcDrivers();
    QTemporaryDir tmp;
    const QDir dir(tmp.path() + QStringLiteral("/门店 数据"));
    ASSERT_TRUE(dir.mkpath(QStringLiteral(".")));
    for (const Family family : {Family::V67, Family::V1}) {
        const QString name = family == Family::V67 ? QStringLiteral("v67") : QStringLiteral("v1");
        QProcess gen;
        gen.start(QStringLiteral("python3"), {sourceRoot() + QStringLiteral("/tools/gen_sample.py"), "--family", name,
                                              "--size", "300", "--mess", "--out", dir.filePath(name + ".db")});
        ASSERT_TRUE(gen.waitForFinished(120000) && gen.exitCode() == 0) << gen.readAllStandardError().toStdString();
        const QString sourceNative = dir.filePath(QStringLiteral("源 native.udl"));
        const QString sourceOdbc = dir.filePath(QStringLiteral("源 odbc.udl"));
        writeUdl(sourceNative, QStringLiteral("Provider=SQLite;Data Source=%1.db").arg(name));
        writeUdl(sourceOdbc, odbcSqliteLink(dir.filePath(name + ".db")));

        ShopRun runs[2];
        for (int odbc = 0; odbc < 2; ++odbc) {
            const QString udl = dir.filePath(QStringLiteral("目标%1.udl").arg(odbc));
            std::unique_ptr<TestDb> target;
            if (GetParam() == Backend::SQLite) {
                target = std::make_unique<SqliteDb>(dir.path(), QStringLiteral("目标 %1.db").arg(odbc),
                                                    QStringLiteral("target_sqlite.sql"));
                writeUdl(udl, odbc ? odbcSqliteLink(static_cast<SqliteDb&>(*target).path())
                                   : QStringLiteral("Provider=SQLite;Data Source=目标 0.db"));
            } else {
                auto pg = std::make_unique<PostgresDb>(udl, QStringLiteral("target_postgresql.sql"));
                if (odbc)
                    writeUdl(udl, odbcPostgresLink(pg->name()));
                target = std::move(pg);
            }
            runs[odbc] = convertAll(family, odbc ? sourceOdbc : sourceNative, udl, target.get());
        }
        EXPECT_EQ(runs[1].results, runs[0].results) << name.toStdString();
        EXPECT_EQ(runs[1].log, runs[0].log) << name.toStdString();
        EXPECT_EQ(runs[1].target.size(), runs[0].target.size()) << name.toStdString();
        for (qsizetype k = 0; k < qMin(runs[0].target.size(), runs[1].target.size()); ++k)
            ASSERT_EQ(runs[1].target[k], runs[0].target[k]) << name.toStdString() << " line " << k;
        EXPECT_GT(runs[0].target.size(), 300);
        if (GetParam() != Backend::SQLite)
            continue;
        // The per-key lookups and duplicate checks a server's collation needs give the same shop on SQLite.
        SqliteDb keyed(dir.path(), QStringLiteral("目标 keyed.db"), QStringLiteral("target_sqlite.sql"));
        const QString keyedUdl = dir.filePath(QStringLiteral("目标 keyed.udl"));
        writeUdl(keyedUdl, QStringLiteral("Provider=SQLite;Data Source=目标 keyed.db"));
        const ShopRun perKey = convertAll(family, sourceNative, keyedUdl, &keyed, true);
        EXPECT_EQ(perKey.results, runs[0].results) << name.toStdString();
        EXPECT_EQ(perKey.log, runs[0].log) << name.toStdString();
        EXPECT_EQ(perKey.target, runs[0].target) << name.toStdString();
    }
}

INSTANTIATE_TEST_SUITE_P(Backends, MasterData, ::testing::Values(Backend::SQLite, Backend::PostgreSQL),
                         [](const auto& info) { return backendName(info.param).toStdString(); });

namespace {

// The statements of a target DDL file, comments left out.
QStringList schemaStatements(const QString& file)
{
    QFile f(sourceRoot() + QStringLiteral("/schema/") + file);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    QStringList statements;
    for (QString s : QString::fromUtf8(f.readAll()).split(QStringLiteral(";\n"))) {
        s = s.remove(QRegularExpression(QStringLiteral("--[^\\n]*"))).trimmed();
        if (!s.isEmpty())
            statements << s;
    }
    return statements;
}

// Two lists of lines alike, or the first line where they part.
::testing::AssertionResult sameLines(const QStringList& got, const QStringList& want)
{
    for (qsizetype k = 0; k < qMax(got.size(), want.size()); ++k)
        if (got.value(k) != want.value(k))
            return ::testing::AssertionFailure() << "line " << k << ": \"" << got.value(k).toStdString()
                                                 << "\", described \"" << want.value(k).toStdString() << '"';
    return ::testing::AssertionSuccess();
}

// The tables of a DDL file as SQL Server statements, each table dropped first;
// the source files' types as a Belmire database on SQL Server has them: texts
// VARCHAR, truth values BIT, times DATETIME.
QStringList sqlServerSchema(const QString& file)
{
    const std::pair<const char*, const char*> types[] = {{"\\bTEXT\\b", "VARCHAR(255)"},
                                                         {"\\bBOOLEAN\\b", "BIT"},
                                                         {"\\bTIMESTAMP\\b", "DATETIME"},
                                                         {"\\bDOUBLE PRECISION\\b", "FLOAT"}};
    QStringList statements;
    const QRegularExpression table(QStringLiteral("^CREATE TABLE (\\w+)"));
    for (QString s : schemaStatements(file)) {
        if (const auto m = table.match(s); m.hasMatch())
            statements << QStringLiteral("IF OBJECT_ID('%1') IS NOT NULL DROP TABLE %1").arg(m.captured(1));
        for (const auto& [from, to] : types)
            s.replace(QRegularExpression(QString::fromLatin1(from)), QString::fromLatin1(to));
        statements << s;
    }
    return statements;
}

QStringList sqlServerTargetSchema() { return sqlServerSchema(QStringLiteral("target_sqlserver.sql")); }

// The tables that statements create, in order.
QStringList tablesOf(const QStringList& schema)
{
    QStringList tables;
    for (const QString& s : schema)
        if (s.startsWith(QStringLiteral("CREATE TABLE ")))
            tables << s.section(u' ', 2, 2).section(u'(', 0, 0).trimmed();
    return tables;
}

// Every row of the tables a schema creates, read through one link and written
// through another, 100 rows to a statement as INSERT ... SELECT ... UNION ALL
// (a form every SQL Server takes); texts as N'' literals.
void copyRows(const QString& fromUdl, const QString& toUdl, const QStringList& schema)
{
    db::Connection from(QStringLiteral("源")), to(QStringLiteral("目标"));
    from.open(fromUdl);
    to.open(toUdl);
    const QRegularExpression column(QStringLiteral("^\\s*(\\w+)\\s+(\\w+)"), QRegularExpression::MultilineOption);
    for (const QString& s : schema) {
        if (!s.startsWith(QStringLiteral("CREATE TABLE ")))
            continue;
        const QString table = tablesOf({s}).value(0);
        QStringList names;
        QList<bool> texts;
        for (auto it = column.globalMatch(s.section(u'(', 1)); it.hasNext();) {
            const auto m = it.next();
            names << m.captured(1);
            texts << (m.captured(2).startsWith(QStringLiteral("VARCHAR")) || m.captured(2) == u"DATETIME");
        }
        db::Query q(from);
        q.setText(QStringLiteral("select %1 from %2").arg(names.join(u','), table));
        q.open();
        QStringList rows;
        const auto flush = [&] {
            if (!rows.isEmpty())
                to.exec(QStringLiteral("insert into %1 (%2) %3")
                            .arg(table, names.join(u','), rows.join(QStringLiteral(" union all "))));
            rows.clear();
        };
        while (q.next()) {
            QStringList values;
            for (qsizetype k = 0; k < names.size(); ++k) {
                const QByteArray text = q.text(names[k]);
                values << (q.isNull(names[k]) ? QStringLiteral("NULL")
                           : texts[k]
                               ? QStringLiteral("N'%1'").arg(gbk::toUnicode(text).replace(u'\'', QStringLiteral("''")))
                               : QString::fromLatin1(text));
            }
            rows << QStringLiteral("select ") + values.join(u',');
            if (rows.size() == 100)
                flush();
        }
        flush();
    }
}

// Every row of the given tables read through the program's own connection,
// each table sorted; decimals to four places without trailing zeros, so
// engines compare.
QStringList dumpThrough(const QString& udl, const QStringList& tables)
{
    db::Connection c(QStringLiteral("目标"));
    c.open(udl);
    const QRegularExpression decimal(QStringLiteral("^(-?\\d+)\\.(\\d*?)0*$"));
    QStringList out;
    for (const QString& t : tables) {
        db::Query q(c);
        q.setText(QStringLiteral("select * from %1").arg(t));
        q.open();
        QStringList rows;
        while (q.next()) {
            QStringList fields;
            for (const QString& name : q.fieldNames()) {
                QString v = q.isNull(name) ? QStringLiteral("<NULL>") : gbk::toUnicode(q.text(name));
                // The target's NUMERIC(18,4) holds four places; SQLite's sums of REAL carry a binary rest.
                if (const auto m = decimal.match(v); m.hasMatch() && m.captured(2).size() > 4)
                    v = QString::number(v.toDouble(), 'f', 4);
                if (const auto m = decimal.match(v); m.hasMatch())
                    v = m.captured(2).isEmpty() ? m.captured(1) : m.captured(1) + u'.' + m.captured(2);
                fields << v;
            }
            rows << fields.join(u'|');
        }
        rows.sort();
        out << t + u':' + QString::number(rows.size());
        out += rows;
    }
    return out;
}

// A generated shop of one family in dir (name.db) and its conversion SQLite
// to SQLite: the run and the target's rows.
struct ReferenceShop {
    QString name;
    QString sourceUdl;
    ShopRun run;
    QStringList target;
};

ReferenceShop referenceShop(const QDir& dir, Family family, int size, const QStringList& tables)
{
    ReferenceShop shop;
    shop.name = family == Family::V67 ? QStringLiteral("v67") : QStringLiteral("v1");
    QProcess gen;
    gen.start(QStringLiteral("python3"),
              {sourceRoot() + QStringLiteral("/tools/gen_sample.py"), "--family", shop.name, "--size",
               QString::number(size), "--mess", "--out", dir.filePath(shop.name + ".db")});
    if (!gen.waitForFinished(300000) || gen.exitCode() != 0)
        throw std::runtime_error(gen.readAllStandardError().toStdString());
    shop.sourceUdl = dir.filePath(QStringLiteral("source.udl"));
    writeUdl(shop.sourceUdl, QStringLiteral("Provider=SQLite;Data Source=%1.db").arg(shop.name));
    SqliteDb reference(dir.path(), shop.name + QStringLiteral("_target.db"), QStringLiteral("target_sqlite.sql"));
    const QString referenceUdl = dir.filePath(QStringLiteral("reference.udl"));
    writeUdl(referenceUdl, QStringLiteral("Provider=SQLite;Data Source=%1_target.db").arg(shop.name));
    shop.run = convertAll(family, shop.sourceUdl, referenceUdl, nullptr);
    shop.target = dumpThrough(referenceUdl, tables);
    return shop;
}

// Creates a schema's tables through a link.
void createTables(const QString& udl, const QStringList& schema)
{
    db::Connection c(QStringLiteral("目标"));
    c.open(udl);
    for (const QString& s : schema)
        c.exec(s);
}

// Converts a shop between two links and expects the results, log lines and
// target rows of its conversion SQLite to SQLite.
void expectSameConversion(const ReferenceShop& shop, Family family, const QString& sourceUdl, const QString& targetUdl,
                          const QStringList& tables)
{
    const ShopRun run = convertAll(family, sourceUdl, targetUdl, nullptr);
    EXPECT_EQ(run.results, shop.run.results);
    // A SQL Server link says first what answered it; the rest of the log is the SQLite run's.
    QStringList log;
    for (const QString& line : run.log)
        if (line.startsWith(QStringLiteral("源数据库：")) || line.startsWith(QStringLiteral("目标数据库：")))
            EXPECT_TRUE(line.contains(QStringLiteral("FreeTDS "))) << line.toStdString();
        else
            log << line;
    EXPECT_EQ(log, shop.run.log);
    const QStringList got = dumpThrough(targetUdl, tables);
    EXPECT_EQ(got.size(), shop.target.size());
    for (qsizetype k = 0; k < qMin(got.size(), shop.target.size()); ++k)
        if (got[k] != shop.target[k]) {
            ADD_FAILURE() << "line " << k << ": " << got[k].toStdString() << " != " << shop.target[k].toStdString();
            break;
        }
}

} // namespace

// The three target DDL files describe the same tables: every column with its
// type, width, default and nullness, the keys, indexes and rows, in the same
// order; only the name of a double and SQL Server's N'' texts differ. They and
// docs/schema.md declare the tables as target/column.h describes them, and the
// INSERTs derived from the description are the statements as always written.
TEST(TargetSchema, SameOnSqlitePostgresqlAndSqlServer)
{
    const auto described = [](const QString& file) {
        const QRegularExpression dbl(QStringLiteral("\\b(REAL|FLOAT|DOUBLE PRECISION)\\b"));
        QStringList lines;
        for (const QString& s : schemaStatements(file)) {
            // One line per column or key of a table, the table's name before it.
            const QString table = s.startsWith(QStringLiteral("CREATE TABLE ")) ? s.section(u' ', 2, 2) : QString();
            for (QString line : table.isEmpty() ? QStringList{s} : s.split(u'\n').mid(1)) {
                line = line.simplified();
                if (line.isEmpty())
                    continue;
                if (line.endsWith(u','))
                    line.chop(1);
                line.replace(dbl, QStringLiteral("DOUBLE")).replace(QStringLiteral("N'"), QStringLiteral("'"));
                lines << (table.isEmpty() ? line : table + u' ' + line);
            }
        }
        return lines;
    };
    const QStringList postgresql = described(QStringLiteral("target_postgresql.sql"));
    EXPECT_GT(postgresql.size(), 150);
    EXPECT_TRUE(postgresql.contains(QStringLiteral("spdw PRIMARY KEY (objid, fid)")));
    EXPECT_EQ(described(QStringLiteral("target_sqlite.sql")), postgresql);
    EXPECT_EQ(described(QStringLiteral("target_sqlserver.sql")), postgresql);

    // The description, declared as the DDL files (a table's lines) and the document (its heading and rows) have it.
    const auto latin1 = [](std::string_view s) { return QString::fromLatin1(s.data(), qsizetype(s.size())); };
    QStringList ddl, docs;
    for (const quorvan::Table& t : quorvan::tables()) {
        const QString table = latin1(t.name);
        QStringList key;
        for (const quorvan::Column& c : t.columns) {
            const QString name = table + u' ' + latin1(c.name) + u' ';
            const QString type = c.form == quorvan::Form::Text      ? QStringLiteral("VARCHAR(%1)").arg(c.width)
                                 : c.form == quorvan::Form::Amount  ? QStringLiteral("NUMERIC(18,4)")
                                 : c.form == quorvan::Form::Integer ? QStringLiteral("INTEGER")
                                                                    : QString();
            const QString byDefault = c.form == quorvan::Form::Text ? QStringLiteral(" DEFAULT ''") : " DEFAULT 0";
            ddl << name + (type.isEmpty() ? QStringLiteral("DOUBLE") : type) +
                       (c.key ? QStringLiteral(" NOT NULL") : byDefault);
            docs << name + (type.isEmpty() ? QStringLiteral("REAL / DOUBLE PRECISION") : type);
            if (c.key)
                key << latin1(c.name);
            const QString value = QString::fromUtf8(c.defaultValue.data(), qsizetype(c.defaultValue.size()));
            if (c.form == quorvan::Form::Text) {
                EXPECT_LE(gbk::fromUnicode(value).size(), c.width) << name.toStdString() << "default";
            }
        }
        ddl << table + QStringLiteral(" PRIMARY KEY (%1)").arg(key.join(QStringLiteral(", ")));
        docs.insert(docs.size() - t.columns.size(), table + QStringLiteral(" key ") + key.join(QStringLiteral(", ")));
    }
    QStringList tableLines;
    for (const QString& line : postgresql)
        if (!line.startsWith(QStringLiteral("CREATE ")) && !line.startsWith(QStringLiteral("INSERT ")) &&
            line.section(u' ', 1) != u')')
            tableLines << line;
    EXPECT_TRUE(sameLines(tableLines, ddl));
    QFile doc(sourceRoot() + QStringLiteral("/docs/schema.md"));
    ASSERT_TRUE(doc.open(QIODevice::ReadOnly));
    const QRegularExpression heading(QStringLiteral("^### (\\w+): .*\\(key ([^)]*)\\)"));
    const QRegularExpression columnRow(QStringLiteral("^\\| (\\w+) \\| ([^|]+) \\|"));
    QString table;
    QStringList documented;
    for (const QString& line : QString::fromUtf8(doc.readAll()).split(u'\n')) {
        if (const auto h = heading.match(line); h.hasMatch()) {
            table = h.captured(1);
            documented << table + QStringLiteral(" key ") + h.captured(2).remove(u'`');
        } else if (const auto r = columnRow.match(line);
                   r.hasMatch() && !table.isEmpty() && r.captured(1) != "Column") {
            documented << table + u' ' + r.captured(1) + u' ' + r.captured(2).trimmed();
        }
    }
    EXPECT_TRUE(sameLines(documented, docs));

    EXPECT_EQ(
        quorvan::kInsertSpda.join(u'|'),
        "insert into spda (objid,spmc,ggxh,Gysbh,Gysmc,splbbh,splbmc,zjm,bzq,chandi,dengji,pinpai,bz,jyf,pinzhong,"
        "xgrq,zt,yjspf,scspf,|bjkcf,xsfsbh,xsfs,jgkzfsbh,jgkzfs,mdbh,blbh,blmc,ghfsbh,ghfsmc,hqbh,hqmc,jxtax,xxtax,"
        "lykdl ) values (|:objid,:spmc,:ggxh,:Gysbh,:Gysmc,:splbbh,:splbmc,:zjm,:bzq,:chandi,:dengji,:pinpai,:bz,"
        ":jyf,:pinzhong,:xgrq,:zt,:yjspf,:scspf,|:bjkcf,:xsfsbh,:xsfs,:jgkzfsbh,:jgkzfs,:mdbh,:blbh,:blmc,:ghfsbh,"
        ":ghfsmc,:hqbh,:hqmc,:jxtax,:xxtax,:lykdl)");
    EXPECT_EQ(
        quorvan::kInsertSpdw.join(u'|'),
        "insert into spdw (objid,fid,dwmc,sptm,ifjbdw,dwjl,jj,lsj,hyj,pfj,jj_notax,lsj_notax,pfj_notax | ) values "
        "(| :objid,:fid,:dwmc,:sptm,:ifjbdw,:dwjl,:jj,:lsj,:hyj,:pfj,:jj_notax,:lsj_notax,:pfj_notax )");
    const QString gysda = QStringLiteral(
        "insert into gysda (objid,Gysmc,gyslbbh,gyslbmc, xsfsbh,xsfs,jyf,xgrq,zt,chuanzhen,dianhua,dizhi,faren,khh,"
        "shuihao,zhanghao,lxr,youbian,bz,sxksrq,sxjsrq%1|) values (|:objid,:Gysmc,:gyslbbh,:gyslbmc,:xsfsbh,:xsfs,:jyf,"
        ":xgrq,:zt,:chuanzhen,:dianhua,:dizhi,:faren,:khh,:shuihao,:zhanghao,:lxr,:youbian,:bz,:sxksrq,:sxjsrq%2)");
    EXPECT_EQ(quorvan::kInsertGysda.join(u'|'), gysda.arg(QString(), QString()));
    EXPECT_EQ(quorvan::kInsertGysdaWithScope.join(u'|'), gysda.arg(QStringLiteral(",ghfw"), QStringLiteral(",:ghfw")));
}

// Opt-in, against a real SQL Server through FreeTDS: BELMIRE_MSSQL_UDL names a
// data-link file of a scratch database with a Chinese collation (its target
// tables are dropped and created). Whole generated shops of both programs, more
// than 1,000 rows and a repeated member card, converted from SQLite into that
// server give the counts, log lines and rows of the same conversions into
// SQLite. With BELMIRE_MSSQL_SOURCE_UDL naming a second scratch database (the
// V6/V7 source and the target both have a table xx), the shops are loaded into
// it and converted from there into SQLite and into the first, with the same
// outcome.
TEST(SqlServerLive, WholeShopsMatchSqlite)
{
    const QString serverUdl = qEnvironmentVariable("BELMIRE_MSSQL_UDL");
    const QString sourceUdl = qEnvironmentVariable("BELMIRE_MSSQL_SOURCE_UDL");
    if (serverUdl.isEmpty())
        GTEST_SKIP() << "BELMIRE_MSSQL_UDL not set: no SQL Server to convert into";
    registerOdbcDrivers(); // the link goes through FreeTDS (tdsodbc)
    const QStringList schema = sqlServerTargetSchema();
    const QStringList tables = tablesOf(schema);
    ASSERT_FALSE(tables.isEmpty());
    QTemporaryDir tmp;
    const QDir dir(tmp.path());
    for (const Family family : {Family::V67, Family::V1}) {
        const ReferenceShop shop = referenceShop(dir, family, 1100, tables);
        EXPECT_GT(shop.target.size(), 1000);
        {
            SCOPED_TRACE((shop.name + QStringLiteral(" SQLite to SQL Server")).toStdString());
            createTables(serverUdl, schema);
            expectSameConversion(shop, family, shop.sourceUdl, serverUdl, tables);
        }
        if (sourceUdl.isEmpty())
            continue;
        const QStringList sourceSchema = sqlServerSchema(QStringLiteral("source_%1_postgresql.sql").arg(shop.name));
        createTables(sourceUdl, sourceSchema);
        copyRows(shop.sourceUdl, sourceUdl, sourceSchema);
        {
            SCOPED_TRACE((shop.name + QStringLiteral(" SQL Server to SQLite")).toStdString());
            SqliteDb local(dir.path(), shop.name + QStringLiteral("_from_server.db"),
                           QStringLiteral("target_sqlite.sql"));
            const QString localUdl = dir.filePath(QStringLiteral("from_server.udl"));
            writeUdl(localUdl, QStringLiteral("Provider=SQLite;Data Source=%1_from_server.db").arg(shop.name));
            expectSameConversion(shop, family, sourceUdl, localUdl, tables);
        }
        SCOPED_TRACE((shop.name + QStringLiteral(" SQL Server to SQL Server")).toStdString());
        createTables(serverUdl, schema);
        expectSameConversion(shop, family, sourceUdl, serverUdl, tables);
    }
}

// Whole generated shops of both programs through FreeTDS, from and into the
// responder running what it receives on SQLite as SQL Server 2000, 2005 and
// 2016 would: the counts, log lines and target rows of SQLite to SQLite, and
// every connection begins by setting TEXTSIZE and XACT_ABORT OFF. 2005 and 2016
// are offered TDS 7.4 and answer 7.2 and 7.4, as those servers do.
TEST(SqlServerResponder, WholeShopsFromAndIntoOldAndNewServersMatchSqlite)
{
    registerOdbcDrivers();
    const QStringList targetSchema = sqlServerTargetSchema();
    const QStringList tables = tablesOf(targetSchema);
    QTemporaryDir tmp;
    const QDir dir(tmp.path());
    for (const Family family : {Family::V67, Family::V1}) {
        const ReferenceShop shop = referenceShop(dir, family, 150, tables);
        ASSERT_GT(shop.target.size(), 300);
        const QStringList sourceSchema = sqlServerSchema(QStringLiteral("source_%1_postgresql.sql").arg(shop.name));
        for (const QString& version : {QStringLiteral("8.0"), QStringLiteral("9.0"), QStringLiteral("13.0")}) {
            SCOPED_TRACE((shop.name + u' ' + version).toStdString());
            const QString at = dir.filePath(shop.name + u'_' + version);
            ASSERT_TRUE(QDir().mkpath(at + QStringLiteral("/source")) && QDir().mkpath(at + QStringLiteral("/target")));
            const auto serve = [&](const QString& side) {
                return std::make_unique<Responder>(
                    at + u'/' + side, QJsonArray(),
                    QStringList{QStringLiteral("--sqlite"), at + u'/' + side + QStringLiteral(".db"),
                                QStringLiteral("--server-version"), version, QStringLiteral("--idle"),
                                QStringLiteral("3600"), QStringLiteral("--timeout"), QStringLiteral("3600")});
            };
            const auto sourceServer = serve(QStringLiteral("source")), targetServer = serve(QStringLiteral("target"));
            const QString sourceUdl = at + QStringLiteral("/source.udl"),
                          targetUdl = at + QStringLiteral("/target.udl");
            // 2000 is left to the links' TDS 7.1; the newer servers are offered 7.4 (auto: FreeTDS's newest)
            // and answer the newest their version speaks.
            const bool offered = version != u"8.0";
            writeUdl(sourceUdl, responderUdl(sourceServer->port(),
                                             offered ? QStringLiteral("Use Encryption for Data=False;TDS Version=auto")
                                                     : QStringLiteral("Use Encryption for Data=False")));
            writeUdl(targetUdl, responderUdl(targetServer->port(),
                                             offered ? QStringLiteral("Use Encryption for Data=False;TDS Version=7.4")
                                                     : QStringLiteral("Use Encryption for Data=False")));
            createTables(sourceUdl, sourceSchema);
            copyRows(shop.sourceUdl, sourceUdl, sourceSchema);
            createTables(targetUdl, targetSchema);
            expectSameConversion(shop, family, sourceUdl, targetUdl, tables);
            for (const Responder* server : {sourceServer.get(), targetServer.get()}) {
                const QList<QJsonObject> events = server->recorded();
                for (const QJsonObject& e : ofKind(events, QStringLiteral("failed")))
                    ADD_FAILURE() << e.value(QStringLiteral("reason")).toString().toStdString();
                const QString answered = version == u"8.0"   ? QStringLiteral("0x71000001")
                                         : version == u"9.0" ? QStringLiteral("0x72090002")
                                                             : QStringLiteral("0x74000004");
                for (const QJsonObject& login : ofKind(events, QStringLiteral("login")))
                    EXPECT_EQ(login.value(QStringLiteral("answered_tds")).toString(), answered);
                // Each connection's statements up to its first that is not a SET.
                std::map<int, QString> sets;
                std::set<int> past;
                for (const QJsonObject& e : events) {
                    const int connection = e.value(QStringLiteral("connection")).toInt();
                    const QString text = e.value(QStringLiteral("text")).toString().simplified().toUpper();
                    if (e.value(QStringLiteral("event")).toString() == u"login")
                        sets[connection];
                    else if (!text.isEmpty() && !past.count(connection)) {
                        if (text.startsWith(QStringLiteral("SET ")))
                            sets[connection] += text + u' ';
                        else
                            past.insert(connection);
                    }
                }
                QStringList without;
                for (const auto& [connection, text] : sets)
                    if (!text.contains(QStringLiteral("SET TEXTSIZE")) ||
                        !text.contains(QStringLiteral("SET XACT_ABORT OFF")))
                        without << QStringLiteral("%1: %2").arg(connection).arg(text);
                EXPECT_FALSE(sets.empty());
                EXPECT_TRUE(without.isEmpty()) << without.join(u'\n').toStdString();
            }
        }
    }
}

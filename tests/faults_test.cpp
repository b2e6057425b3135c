// Database faults: every prepare, execute, fetch and commit of a small
// conversion made to fail in turn, once and from then on. The run must end
// with an error, never report success, and leave in the target exactly whole
// rows of the source rows before the failing one. Run under AddressSanitizer
// by the test command.
#include "support/testdb.h"

#include "db/faults.h"
#include "db/lock_wait.h"
#include "db/query.h"
#include "programs/programs.h"
#include "shell/check.h"
#include "textutil/scramble.h"

#include <gtest/gtest.h>

#include <QMap>
#include <QRegularExpression>
#include <QSqlQuery>

using namespace testing_support;
using db::faults::Kind;

namespace {

struct Case {
    const char* op;
    QString fill;       // source rows
    QStringList codes;  // walked source codes, in walk order
    QStringList tables; // target queries whose first field is the source code
};

const QString kPassword = QStringLiteral("Fz7-Secr3t-Pw");

// A shop whose target data-link file holds a password, which no message may show;
// odbc: the target reached through the SQLite ODBC driver, whose writes go in batches.
struct FaultShop : Shop {
    FaultShop(const QString& fill, bool odbc) : Shop(QStringLiteral("source_v67_sqlite.sql"), Backend::SQLite)
    {
        source().exec(fill);
        writeUdl(targetUdl(),
                 (odbc ? odbcSqliteLink(static_cast<SqliteDb&>(target()).path()) + u';'
                       : QStringLiteral("Provider=SQLite;Data Source=target.db;")) +
                     QStringLiteral("Password=") + kPassword,
                 false);
    }
};

// Target rows of the walked tables, per source code.
using Snapshot = QMap<QString, QStringList>;

Snapshot snapshot(TestDb& target, const Case& c)
{
    Snapshot s;
    for (const QString& sql : c.tables)
        for (const QString& r : target.rows(sql))
            s[r.section(u'|', 0, 0)] << r;
    return s;
}

// Runs the operation with the plan standing in for the engine of both connections of the run.
shell::RunResult runWithFaults(FaultShop& shop, const Case& c, RecordingFrontend& fe,
                               const std::shared_ptr<db::faults::Plan>& plan)
{
    return runOperation(shop, shell::Family::V67, QString::fromLatin1(c.op), fe, [&](shell::RunFrame& frame) {
        db::faults::inject(frame.source(), plan);
        db::faults::inject(frame.target(), plan);
    });
}

struct Reference {
    Snapshot rows;
    int calls[db::faults::kKinds] = {};
};

Reference referenceRun(const Case& c, bool odbc)
{
    FaultShop shop(c.fill, odbc);
    RecordingFrontend fe;
    const auto plan = std::make_shared<db::faults::Plan>(); // counts only
    const auto r = runWithFaults(shop, c, fe, plan);
    Reference ref;
    for (int k = 0; k < db::faults::kKinds; ++k)
        ref.calls[k] = plan->calls(Kind(k));
    EXPECT_TRUE(r.ok) << r.message.toStdString();
    ref.rows = snapshot(shop.target(), c);
    EXPECT_EQ(ref.rows.size(), c.codes.size());
    return ref;
}

// The source row named in "第 i/n 行": rows before it may stay. 1 when the
// error names no row (before the walk or its commit).
int failingRow(const QString& message)
{
    static const QRegularExpression re(QStringLiteral("第 (\\d+)/\\d+ 行"));
    const auto m = re.match(message);
    return m.hasMatch() ? m.captured(1).toInt() : 1;
}

const char* kindName(Kind k)
{
    static const char* names[] = {"prepare", "execute", "fetch", "commit"};
    return names[int(k)];
}

void checkEveryFault(const Case& c, bool odbc = false)
{
    SCOPED_TRACE(odbc ? "through ODBC" : "native");
    if (odbc)
        registerOdbcDrivers();
    // The member check text starts with a random value.
    textutil::setScrambleRandomSource([] { return std::uint8_t(0x5A); });
    const Reference ref = referenceRun(c, odbc);
    ASSERT_EQ(ref.rows.size(), c.codes.size());
    const QString title = programs::catalog().find(shell::Family::V67, QString::fromLatin1(c.op))->title;
    for (int k = 0; k < db::faults::kKinds; ++k) {
        const Kind kind = Kind(k);
        ASSERT_GT(ref.calls[k], 0) << kindName(kind);
        for (bool fromThenOn : {false, true}) {
            for (int n = 1; n <= ref.calls[k]; ++n) {
                SCOPED_TRACE(std::string(c.op) + " " + kindName(kind) + " #" + std::to_string(n) +
                             (fromThenOn ? " from then on" : " once"));
                FaultShop shop(c.fill, odbc);
                RecordingFrontend fe;
                const auto plan = std::make_shared<db::faults::Plan>(kind, n, fromThenOn);
                const auto r = runWithFaults(shop, c, fe, plan);
                const int failures = plan->failures();

                ASSERT_GE(failures, 1);
                EXPECT_FALSE(r.ok);
                EXPECT_TRUE(fe.completions.isEmpty());
                EXPECT_EQ(fe.errors, QStringList{r.message});
                EXPECT_TRUE(r.message.startsWith(title + QStringLiteral("："))) << r.message.toStdString();
                EXPECT_TRUE(r.message.contains(QStringLiteral("injected %1 fault").arg(kindName(kind))))
                    << r.message.toStdString();
                EXPECT_FALSE((fe.errors + fe.log + QStringList{fe.progress}).join(u'\n').contains(kPassword));

                // The rows left are whole rows of a run of the first source rows.
                const Snapshot got = snapshot(shop.target(), c);
                int kept = 0;
                while (kept < c.codes.size() && got.contains(c.codes[kept]))
                    ++kept;
                EXPECT_EQ(got.size(), kept) << "rows left after a gap";
                for (auto it = got.cbegin(); it != got.cend(); ++it)
                    EXPECT_EQ(it.value(), ref.rows.value(it.key())) << "half-written row " << it.key().toStdString();
                // A single fault keeps every row before the failing one; when
                // the database fails from then on, the open batch may be lost.
                const int before = failingRow(r.message) - 1;
                if (fromThenOn)
                    EXPECT_LE(kept, before) << r.message.toStdString();
                else
                    EXPECT_EQ(kept, before) << r.message.toStdString();
                // The counts are those of the rows kept; rows lost with the batch are named.
                EXPECT_EQ(r.rowsWritten, kept) << r.message.toStdString();
                if (kept < before) {
                    EXPECT_TRUE(r.message.contains(QStringLiteral("已随未提交的事务回滚"))) << r.message.toStdString();
                }
            }
        }
    }
    textutil::setScrambleRandomSource({});
}

} // namespace

TEST(Faults, Warehouses)
{
    checkEveryFault({"warehouses",
                     QStringLiteral("insert into ck values ('A1', '一号仓');\n"
                                    "insert into ck values ('A2', '二号仓');\n"
                                    "insert into ck values ('A3', NULL);\n"
                                    "insert into ck values ('A4', '四号仓');\n"
                                    "insert into ck values ('A5', '五号仓');"),
                     {"A1", "A2", "A3", "A4", "A5"},
                     {QStringLiteral("select objid, * from ckda order by objid")}});
}

TEST(Faults, Members)
{
    const Case c{"members",
                 QStringLiteral("insert into hyda (kbh, czye, zt, xm) values ('M1', 12.5, '正常', '张三');\n"
                                "insert into hyda (kbh, czye, zt) values ('M2', 0, '挂失');\n"
                                "insert into hyda (kbh, czye, dzbl) values ('M3', 7, 0.85);"),
                 {"M1", "M2", "M3"},
                 {QStringLiteral("select objid, * from hyda order by objid")}};
    checkEveryFault(c);
    checkEveryFault(c, true);
}

TEST(Faults, ProductsWithTheirUnits)
{
    const QString columns = QStringLiteral(
        "insert into spxx (Spbh,Spmc,ggxh,lbbh,hjtm,jkc,gysbh,fs,jhjj,hqbh,lsj,hyj,pfj,jldw,sptm,sptm1,sptm2,zhf) "
        "values ");
    const Case c{"products-v7",
                 QStringLiteral("insert into splb (lbbh, lbmc) values ('L1', '饮料');\n"
                                "insert into gys (gysbh, gysmc) values ('G1', '供应商');\n"
                                "insert into hq values ('H1', '一号货区');\n") +
                     columns +
                     QStringLiteral("('P1','可乐','330ml','L1','0','0','G1','经销',2,'H1',3,3,2.5,'听',"
                                    "'6901','6902','6903','0');\n") +
                     columns +
                     QStringLiteral("('P2','雪碧','','L1','0','0','G1','代销',2,'H1',3,3,2.5,'瓶',"
                                    "'6911',NULL,'6913','0');\n") +
                     columns +
                     QStringLiteral("('P3','饼干','','L9','0','1','G9','经销',1,'',2,2,2,'包',"
                                    "'6921','6922',NULL,'0');"),
                 {"P1", "P2", "P3"},
                 {QStringLiteral("select objid, * from spda order by objid"),
                  QStringLiteral("select objid, * from spdw order by objid, fid")}};
    checkEveryFault(c);
    checkEveryFault(c, true);
}

// Another session holds the target: the run gives up after the lock wait and
// says so, naming the table; also through psqlODBC, which sets the wait with the login.
TEST(Faults, TargetHeldByAnotherSession)
{
    for (const auto& [backend, odbc] : {std::pair{Backend::SQLite, false}, std::pair{Backend::PostgreSQL, false},
                                        std::pair{Backend::PostgreSQL, true}}) {
        SCOPED_TRACE(backendName(backend).toStdString() + (odbc ? " through psqlODBC" : ""));
        REQUIRE_BACKEND(backend);
        qputenv("BELMIRE_LOCK_WAIT_MS", "300");
        Shop shop(QStringLiteral("source_v67_sqlite.sql"), backend);
        if (odbc) {
            registerOdbcDrivers();
            writeUdl(shop.targetUdl(), odbcPostgresLink(static_cast<PostgresDb&>(shop.target()).name()));
        }
        shop.source().exec(QStringLiteral("insert into ck values ('A1', '一号仓');"));
        QSqlQuery other(shop.target().db());
        ASSERT_TRUE(
            other.exec(backend == Backend::SQLite ? QStringLiteral("BEGIN EXCLUSIVE") : QStringLiteral("BEGIN")));
        if (backend == Backend::PostgreSQL) {
            ASSERT_TRUE(other.exec(QStringLiteral("LOCK TABLE ckda IN ACCESS EXCLUSIVE MODE")));
        }
        RecordingFrontend fe;
        const int waits = db::lockWaitsGivenUp();
        const auto r = runOperation(shop, shell::Family::V67, QStringLiteral("warehouses"), fe);
        // One wait per table: the guard's column-by-column look does not wait for ckda again.
        EXPECT_EQ(db::lockWaitsGivenUp() - waits, 1);
        // The check of warehouses and stock probes ckda, reads its rows and counts them: one wait.
        const int checkWaits = db::lockWaitsGivenUp();
        const shell::CheckReport check =
            shell::checkOperations({programs::catalog().find(shell::Family::V67, QStringLiteral("warehouses")),
                                    programs::catalog().find(shell::Family::V67, QStringLiteral("stock"))},
                                   shop.sourceUdl(), shop.targetUdl());
        EXPECT_EQ(db::lockWaitsGivenUp() - checkWaits, 1) << check.lines().join(u'\n').toStdString();
        EXPECT_TRUE(
            check.problems.join(u'\n').contains(QStringLiteral("目标表 ckda 被另一个会话锁定，等待 1 秒后放弃")))
            << check.lines().join(u'\n').toStdString();
        // A new run waits again.
        const int againWaits = db::lockWaitsGivenUp();
        runOperation(shop, shell::Family::V67, QStringLiteral("warehouses"), fe);
        EXPECT_EQ(db::lockWaitsGivenUp() - againWaits, 1);
        other.exec(QStringLiteral("ROLLBACK"));
        qunsetenv("BELMIRE_LOCK_WAIT_MS");
        EXPECT_FALSE(r.ok);
        // Met by the guard's table probe: the table is there, only held.
        EXPECT_TRUE(r.message.contains(QStringLiteral("：目标表 ckda 被另一个会话锁定，等待 1 秒后放弃")))
            << r.message.toStdString();
        EXPECT_FALSE(r.message.contains(QStringLiteral("不存在"))) << r.message.toStdString();
        EXPECT_FALSE(r.message.contains(QStringLiteral("不符"))) << r.message.toStdString();
        EXPECT_FALSE(r.message.contains(QStringLiteral("LINE 1")) || r.message.contains(u'^'))
            << r.message.toStdString();
    }
}

// The database layer on its own: a statement naming a table given up on fails
// at once, the excerpt points at the held table of a join, and outside a run
// every statement waits.
TEST(Faults, OneLockWaitPerTableAndRun)
{
    REQUIRE_BACKEND(Backend::PostgreSQL);
    qputenv("BELMIRE_LOCK_WAIT_MS", "300");
    Shop shop(QStringLiteral("source_v67_sqlite.sql"), Backend::PostgreSQL);
    QSqlQuery other(shop.target().db());
    ASSERT_TRUE(other.exec(QStringLiteral("BEGIN")));
    ASSERT_TRUE(other.exec(QStringLiteral("LOCK TABLE ckda IN ACCESS EXCLUSIVE MODE")));
    db::Connection target(QStringLiteral("目标"));
    target.open(shop.targetUdl());
    const auto fails = [&](const QString& statement) {
        try {
            db::Query q(target);
            q.setText(statement);
            q.open();
        } catch (const belmire::Error& e) {
            return e.message();
        }
        return QString();
    };
    const QString join = QStringLiteral("select count(*) from spckkc a, ckda b where a.ckbh=b.objid");
    const int waits = db::lockWaitsGivenUp();
    {
        const db::LockWaitMemory run;
        const QString first = fails(join);
        EXPECT_TRUE(first.startsWith(QStringLiteral("表 spckkc：被另一个会话锁定，等待 1 秒后放弃（目标数据库 ")))
            << first.toStdString();
        EXPECT_FALSE(first.contains(QStringLiteral("LINE")) || first.contains(u'^')) << first.toStdString();
        EXPECT_EQ(
            fails(QStringLiteral("select objid from ckda")),
            QStringLiteral("表 ckda：被另一个会话锁定，等待 1 秒后已放弃，本次运行不再等待（%1）").arg(target.where()));
        EXPECT_TRUE(fails(QStringLiteral("select count(*) from spckkc")).isEmpty()); // the join's other table is free
        EXPECT_TRUE(fails(QStringLiteral("select 'ckda' from spckkc")).isEmpty());   // a text is no table
        try {
            target.exec(QStringLiteral("delete from ckda"));
            ADD_FAILURE() << "delete from a held table ran";
        } catch (const belmire::Error& e) {
            EXPECT_TRUE(e.message().contains(QStringLiteral("本次运行不再等待"))) << e.message().toStdString();
        }
    }
    EXPECT_EQ(db::lockWaitsGivenUp() - waits, 1);
    EXPECT_TRUE(fails(QStringLiteral("select objid from ckda")).contains(QStringLiteral("等待 1 秒后放弃")));
    EXPECT_EQ(db::lockWaitsGivenUp() - waits, 2);
    other.exec(QStringLiteral("ROLLBACK"));
    qunsetenv("BELMIRE_LOCK_WAIT_MS");
}

#include "db/connection.h"
#include "db/datalink.h"
#include "db/deferred_writer.h"
#include "db/dialect.h"
#include "db/odbc_backend.h"
#include "db/query.h"
#include "programs/programs.h"
#include "shell/check.h"
#include "shell/keyed_access.h"
#include "shell/linkprobe.h"
#include "shell/runframe.h"
#include "support/responder.h"
#include "support/testdb.h"
#include "textutil/error.h"
#include "textutil/gbk.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>

#include <map>

// SQL Server links through FreeTDS (tdsodbc), against tests/tds_responder.py: a
// scripted stand-in for the server side of TDS 7.x on loopback. It answers as a
// server whose default collation is Chinese_PRC_CI_AS (varchar data in GBK) and
// records what the driver sends.

using testing_support::ofKind;
using testing_support::Responder;

namespace {

QJsonObject column(const char* name, const char* type, int size = 0)
{
    QJsonObject c{{QStringLiteral("name"), QString::fromLatin1(name)},
                  {QStringLiteral("type"), QString::fromLatin1(type)}};
    if (size)
        c.insert(QStringLiteral("size"), size);
    return c;
}

QString udlText(int port, const QString& extra) { return testing_support::responderUdl(port, extra); }

} // namespace

// What the program sends at login and with each statement, and what comes back:
// the data-link file's server, port, database and user; no encryption unless
// the file asks for it, and a refused request for it ends the connect with an
// error; Chinese in varchar(N) read whole, also when its UTF-8 form is wider
// than N; texts and an empty text bound as parameters.
TEST(TdsWire, FreeTdsSendsTheLinkAndTextsComeBackWhole)
{
    testing_support::registerOdbcDrivers();
    QTemporaryDir dir;
    const QJsonArray results{
        QJsonObject{{QStringLiteral("match"), QStringLiteral("select k, n, i from t")},
                    {QStringLiteral("columns"),
                     QJsonArray{column("k", "varchar", 6), column("n", "nvarchar", 4), column("i", "int")}},
                    {QStringLiteral("rows"), QJsonArray{QJsonArray{QStringLiteral("张三丰"), QStringLiteral("李四"), 7},
                                                        QJsonArray{QStringLiteral("ab"), QJsonValue(), QJsonValue()}}}},
        QJsonObject{{QStringLiteral("match"), QStringLiteral("select i from t where k =")},
                    {QStringLiteral("columns"), QJsonArray{column("i", "int")}},
                    {QStringLiteral("rows"), QJsonArray{QJsonArray{7}}}}};
    {
        Responder server(dir.path(), results);
        const QString udl = dir.filePath(QStringLiteral("tds.udl"));
        testing_support::writeUdl(udl, udlText(server.port(), QStringLiteral("Use Encryption for Data=False")));
        {
            db::Connection c(QStringLiteral("目标"));
            ASSERT_NO_THROW(c.open(udl));
            EXPECT_EQ(dynamic_cast<db::OdbcBackend&>(db::backendOf(c)).link().dialect(), db::Dialect::SqlServer);

            db::Query read(c);
            read.setText(QStringLiteral("select k, n, i from t"));
            read.open();
            ASSERT_TRUE(read.next());
            EXPECT_EQ(gbk::toUnicode(read.text(QStringLiteral("k"))), QStringLiteral("张三丰"));
            EXPECT_EQ(gbk::toUnicode(read.text(QStringLiteral("n"))), QStringLiteral("李四"));
            EXPECT_EQ(read.integer(QStringLiteral("i")), 7);
            // A lookup while the row set is open: SQL Server without MARS needs another connection for it.
            db::Query lookup(c);
            lookup.setText(QStringLiteral("select i from t where k = :k"));
            lookup.bindText(QStringLiteral("k"), gbk::fromUnicode(QStringLiteral("张三丰")));
            for (int run = 0; run < 3; ++run) {
                lookup.open();
                ASSERT_TRUE(lookup.next());
                EXPECT_EQ(lookup.integer(QStringLiteral("i")), 7);
                lookup.close();
            }
            ASSERT_TRUE(read.next());
            EXPECT_EQ(read.text(QStringLiteral("k")), QByteArray("ab"));
            EXPECT_TRUE(read.isNull(QStringLiteral("n")));
            EXPECT_FALSE(read.next());
            read.close();

            db::Query insert(c);
            insert.setText(QStringLiteral("insert into t (k, n, i) values (:k, :n, :i)"));
            insert.prepare();
            insert.bindText(QStringLiteral("k"), gbk::fromUnicode(QStringLiteral("张三丰")));
            insert.bindText(QStringLiteral("n"), QByteArray());
            insert.bindInteger(QStringLiteral("i"), 42);
            insert.exec();
            insert.bindText(QStringLiteral("k"), QByteArray());
            insert.bindText(QStringLiteral("n"), gbk::fromUnicode(QStringLiteral("王五")));
            insert.bindInteger(QStringLiteral("i"), -1);
            insert.exec();
        }
        const QList<QJsonObject> events = server.events();

        const QList<QJsonObject> prelogin = ofKind(events, QStringLiteral("prelogin"));
        ASSERT_FALSE(prelogin.isEmpty());
        // ENCRYPT_OFF: able to encrypt, not asking for it (ENCRYPT_NOT_SUP would be refused by Force Encryption).
        EXPECT_EQ(prelogin[0].value(QStringLiteral("encryption")).toInt(), 0) << "encryption not asked for";
        EXPECT_EQ(prelogin[0].value(QStringLiteral("instance")).toString(), QStringLiteral("SHOP"));
        const QList<QJsonObject> logins = ofKind(events, QStringLiteral("login"));
        ASSERT_EQ(logins.size(), 2) << "the main connection and the lookups' own";
        for (const QJsonObject& login : logins) {
            EXPECT_EQ(login.value(QStringLiteral("user")).toString(), QStringLiteral("店长"));
            EXPECT_EQ(login.value(QStringLiteral("database")).toString(), QStringLiteral("门店库"));
            // FreeTDS writes the instance after a NUL in the login's server name.
            EXPECT_EQ(login.value(QStringLiteral("server")).toString().replace(QChar(0), u'\\'),
                      QStringLiteral("127.0.0.1\\SHOP"));
            EXPECT_EQ(login.value(QStringLiteral("password_chars")).toInt(), 6);
            EXPECT_EQ(login.value(QStringLiteral("tds_version")).toString(), QStringLiteral("0x71000001"));
        }
        for (const QJsonObject& e : ofKind(events, QStringLiteral("failed")))
            ADD_FAILURE() << "responder: " << e.value(QStringLiteral("reason")).toString().toStdString();
        // Each connection first asks for long texts whole and for errors that end only their statement.
        for (int connection = 1; connection <= 2; ++connection) {
            QStringList first;
            for (const QJsonObject& e : events)
                if (e.value(QStringLiteral("connection")).toInt() == connection &&
                    !e.value(QStringLiteral("text")).toString().isEmpty() && first.size() < 3)
                    first << e.value(QStringLiteral("text")).toString();
            EXPECT_EQ(first,
                      QStringList({QStringLiteral("SET TEXTSIZE 2147483647"), QStringLiteral("SET XACT_ABORT OFF"),
                                   QStringLiteral("SET LOCK_TIMEOUT 30000")}))
                << connection;
        }

        // The statements, in the order sent, and the parameters of each insert.
        QStringList texts;
        QList<QJsonArray> inserts;
        QStringList insertCalls, lookupCalls;
        for (const QJsonObject& e : events) {
            if (e.value(QStringLiteral("text")).toString().startsWith(QStringLiteral("select i from t where k ="))) {
                EXPECT_EQ(e.value(QStringLiteral("connection")).toInt(), 2) << "lookup beside an open row set";
                lookupCalls << e.value(QStringLiteral("proc")).toString();
            }
            const QString text = e.value(QStringLiteral("text")).toString();
            if (!text.isEmpty())
                texts << text;
            if (text.startsWith(QStringLiteral("insert into t"))) {
                inserts << e.value(QStringLiteral("params")).toArray();
                insertCalls << e.value(QStringLiteral("proc")).toString();
            }
        }
        // Prepared once, then executed by its handle: values bound again in the same buffers leave the
        // driver's statement as prepared (FreeTDS prepares anew after any new binding).
        EXPECT_EQ(insertCalls, QStringList({QStringLiteral("sp_prepexec"), QStringLiteral("sp_execute")}));
        // A read runs directly at first (one request, nothing left to unprepare) and is prepared when run again.
        EXPECT_EQ(lookupCalls, QStringList({QStringLiteral("sp_executesql"), QStringLiteral("sp_prepexec"),
                                            QStringLiteral("sp_execute")}));
        EXPECT_TRUE(texts.contains(QStringLiteral("SET LOCK_TIMEOUT 30000"))) << texts.join(u'|').toStdString();
        ASSERT_EQ(inserts.size(), 2) << texts.join(u'|').toStdString();
        const auto param = [&](int row, int k) { return inserts[row][k].toObject(); };
        EXPECT_EQ(param(0, 0).value(QStringLiteral("value")).toString(), QStringLiteral("张三丰"));
        EXPECT_EQ(param(0, 2).value(QStringLiteral("value")).toInt(), 42);
        EXPECT_EQ(param(1, 1).value(QStringLiteral("value")).toString(), QStringLiteral("王五"));
        EXPECT_EQ(param(1, 2).value(QStringLiteral("value")).toInt(), -1);
        for (const QJsonObject& empty : {param(0, 1), param(1, 0)}) {
            EXPECT_EQ(empty.value(QStringLiteral("length")).toInt(), 0);
            EXPECT_FALSE(empty.value(QStringLiteral("value")).isNull()) << "an empty text is not NULL";
            EXPECT_EQ(empty.value(QStringLiteral("value")).toString(), QString());
            EXPECT_GT(empty.value(QStringLiteral("declared")).toInt(), 0);
        }
    }

    // Encryption asked for, and a server that cannot: an error, not a hang.
    {
        Responder server(dir.path(), results);
        const QString udl = dir.filePath(QStringLiteral("tls.udl"));
        testing_support::writeUdl(udl, udlText(server.port(), QStringLiteral("Use Encryption for Data=True")));
        db::Connection c(QStringLiteral("目标"));
        try {
            c.open(udl);
            ADD_FAILURE() << "connected without encryption";
        } catch (const belmire::Error& e) {
            EXPECT_TRUE(e.message().contains(QStringLiteral("127.0.0.1"))) << e.message().toStdString();
            EXPECT_FALSE(e.message().contains(QStringLiteral("s3cret"))) << e.message().toStdString();
        }
        c.close();
        const QList<QJsonObject> events = server.events();
        const QList<QJsonObject> prelogin = ofKind(events, QStringLiteral("prelogin"));
        ASSERT_FALSE(prelogin.isEmpty());
        EXPECT_EQ(prelogin[0].value(QStringLiteral("encryption")).toInt(), 1) << "encryption required";
        EXPECT_TRUE(ofKind(events, QStringLiteral("login")).isEmpty()) << "logged in without encryption";
    }
}

// A walk's rows go to SQL Server as one INSERT of many VALUES rows inside a
// savepoint: one request for the batch. A batch the server refuses is undone
// to that savepoint and sent again one row at a time, each under its own
// savepoint (FreeTDS would send parameter arrays as one RPC per row), once
// @@TRANCOUNT says the transaction is still there. A deadlock has taken the
// transaction: nothing is sent again, and no row is named as the failing one.
// A conversion error ends the transaction too: a row sent on its own is then
// named, its mark gone with the transaction.
TEST(TdsWire, BatchedRowsAreOneRequestAndReplayedWhenRefused)
{
    testing_support::registerOdbcDrivers();
    QTemporaryDir dir;
    // Only the many-row forms of the inserts into u and w are refused.
    Responder server(
        dir.path(),
        QJsonArray{QJsonObject{{QStringLiteral("match"), QStringLiteral("u (k) values (@P1),(")},
                               {QStringLiteral("error"), QJsonArray{2627, QStringLiteral("Violation of PRIMARY KEY")}}},
                   QJsonObject{{QStringLiteral("match"), QStringLiteral("w (k) values (@P1),(")},
                               {QStringLiteral("error"), QJsonArray{1205, QStringLiteral("deadlocked")}}},
                   QJsonObject{{QStringLiteral("match"), QStringLiteral("insert into x")},
                               {QStringLiteral("error"),
                                QJsonArray{245, QStringLiteral("Conversion failed when converting the nvarchar value "
                                                               "'x' to data type int.")}}}});
    const QString udl = dir.filePath(QStringLiteral("tds.udl"));
    testing_support::writeUdl(udl, udlText(server.port(), QString()));
    {
        db::Connection c(QStringLiteral("目标"));
        ASSERT_NO_THROW(c.open(udl));
        ASSERT_TRUE(c.capabilities().defersWrites);
        db::DeferredWriter writes(c);
        db::Query t(c), u(c), w(c);
        t.setText(QStringLiteral("insert into t (k, i) values (:k, :i)"));
        u.setText(QStringLiteral("insert into u (k) values (:k)"));
        w.setText(QStringLiteral("insert into w (k) values (:k)"));
        for (db::Query* q : {&t, &u, &w})
            q->prepare();
        c.begin();
        writes.setDeferring(true);
        for (db::Query* q : {&t, &u, &w}) {
            for (int row = 1; row <= 3; ++row) {
                writes.setRowTag(row);
                writes.queueControl(db::savepointSql(db::Dialect::SqlServer, QStringLiteral("belmire_row")));
                q->bindText(QStringLiteral("k"), gbk::fromUnicode(QStringLiteral("张%1").arg(row)));
                q->bindInteger(QStringLiteral("i"), row);
                q->exec();
                writes.queueControl(db::releaseSql(db::Dialect::SqlServer, QStringLiteral("belmire_row")));
            }
            if (q != &w) {
                ASSERT_NO_THROW(writes.flushDeferred());
                continue;
            }
            try {
                writes.flushDeferred();
                ADD_FAILURE() << "a deadlock went unnoticed";
            } catch (const db::DeferredError& e) {
                EXPECT_FALSE(e.rowKnown());
                EXPECT_TRUE(e.endedTransaction());
                EXPECT_EQ(e.tag(), 1);
                EXPECT_EQ(e.lastTag(), 3);
                EXPECT_EQ(e.position(), 0);
                EXPECT_TRUE(e.message().startsWith(QStringLiteral("表 w："))) << e.message().toStdString();
                EXPECT_TRUE(e.message().contains(QStringLiteral("死锁"))) << e.message().toStdString();
            }
        }
        writes.setDeferring(false);
        c.rollback();
        c.begin();
        writes.setDeferring(true);
        db::Query x(c);
        x.setText(QStringLiteral("insert into x (k) values (:k)"));
        writes.setRowTag(4);
        writes.queueControl(db::savepointSql(db::Dialect::SqlServer, QStringLiteral("belmire_row")));
        x.bindText(QStringLiteral("k"), "x");
        x.exec();
        try {
            writes.flushDeferred();
            ADD_FAILURE() << "a conversion error went unnoticed";
        } catch (const db::DeferredError& e) {
            EXPECT_TRUE(e.rowKnown());
            EXPECT_TRUE(e.endedTransaction());
            EXPECT_EQ(e.tag(), 4);
            EXPECT_EQ(e.position(), 1);
            EXPECT_TRUE(e.message().contains(QStringLiteral("结束了本会话的事务"))) << e.message().toStdString();
            EXPECT_TRUE(e.message().contains(QStringLiteral("Conversion failed"))) << e.message().toStdString();
        }
        writes.setDeferring(false);
        c.rollback();
    }
    QStringList sent;
    QList<QJsonArray> params;
    for (const QJsonObject& e : server.events()) {
        const QString text = e.value(QStringLiteral("text")).toString();
        // Leaving out the session's settings, its compatibility level and the look for triggers that precedes a
        // table's first write.
        if (e.value(QStringLiteral("connection")).toInt() == 1 && !text.isEmpty() && !text.startsWith(u"SET ") &&
            !text.contains(u"from sysobjects") && !text.contains(u"cmptlevel")) {
            sent << text.simplified();
            params << e.value(QStringLiteral("params")).toArray();
        }
    }
    const QStringList expected{QStringLiteral("BEGIN TRANSACTION"),
                               QStringLiteral("SAVE TRANSACTION belmire_batch"),
                               QStringLiteral("insert into t (k, i) values (@P1, @P2),(@P3, @P4),(@P5, @P6)"),
                               QStringLiteral("SAVE TRANSACTION belmire_batch"),
                               QStringLiteral("insert into u (k) values (@P1),(@P2),(@P3)"),
                               QStringLiteral("select @@trancount"),
                               QStringLiteral("ROLLBACK TRANSACTION belmire_batch"),
                               QStringLiteral("SAVE TRANSACTION belmire_row"),
                               QStringLiteral("insert into u (k) values (@P1)"),
                               QStringLiteral("SAVE TRANSACTION belmire_row"),
                               QStringLiteral("insert into u (k) values (@P1)"),
                               QStringLiteral("SAVE TRANSACTION belmire_row"),
                               QStringLiteral("insert into u (k) values (@P1)"),
                               QStringLiteral("SAVE TRANSACTION belmire_batch"),
                               QStringLiteral("insert into w (k) values (@P1),(@P2),(@P3)"),
                               QStringLiteral("IF @@TRANCOUNT > 0 ROLLBACK TRANSACTION"),
                               QStringLiteral("BEGIN TRANSACTION"),
                               QStringLiteral("SAVE TRANSACTION belmire_row"),
                               QStringLiteral("insert into x (k) values (@P1)"),
                               QStringLiteral("select @@trancount"),
                               QStringLiteral("IF @@TRANCOUNT > 0 ROLLBACK TRANSACTION")};
    ASSERT_EQ(sent, expected) << sent.join(u'\n').toStdString();
    ASSERT_EQ(params[2].size(), 6);
    EXPECT_EQ(params[2][4].toObject().value(QStringLiteral("value")).toString(), QStringLiteral("张3"));
    EXPECT_EQ(params[2][5].toObject().value(QStringLiteral("value")).toInt(), 3);
    EXPECT_EQ(params[12][0].toObject().value(QStringLiteral("value")).toString(), QStringLiteral("张3"));
}

// Where SQL Server's collation decides what is equal, the duplicate checks of
// a batch of rows read ahead are one request: the keys as wide parameters in a
// derived table every version takes, the comparison among them under the
// column's own collation, read once from sys.columns (syscolumns on 2000),
// with OVER where the server has it and GROUP BY on 2000. Their lookups are
// one request too; a server that cannot plan such a list (8623) is asked key
// by key from then on, without trying the list again.
TEST(TdsWire, KeysReadAheadAreOneRequestUnderTheColumnsCollation)
{
    testing_support::registerOdbcDrivers();
    for (const QString& version : {QStringLiteral("8.0"), QStringLiteral("9.0"), QStringLiteral("16.0")}) {
        SCOPED_TRACE(version.toStdString());
        const bool v2000 = version == u"8.0";
        QTemporaryDir dir;
        const QJsonArray collation{QJsonArray{QStringLiteral("Chinese_PRC_CI_AS")}};
        Responder server(
            dir.path(),
            QJsonArray{
                QJsonObject{{QStringLiteral("match"), QStringLiteral("from sys.columns")},
                            {QStringLiteral("columns"), QJsonArray{column("collation_name", "nvarchar", 128)}},
                            {QStringLiteral("rows"), collation}},
                QJsonObject{{QStringLiteral("match"), QStringLiteral("from syscolumns")},
                            {QStringLiteral("columns"), QJsonArray{column("collation", "nvarchar", 128)}},
                            {QStringLiteral("rows"), collation}},
                QJsonObject{
                    {QStringLiteral("match"), QStringLiteral("(select top 1 t.jhjj from spxx t where t.spbh = v.k)")},
                    {QStringLiteral("columns"), QJsonArray{column("i", "int"), column("jhjj", "varchar", 20)}},
                    {QStringLiteral("rows"),
                     QJsonArray{QJsonArray{0, QStringLiteral("1.5")}, QJsonArray{1, QJsonValue()}}}},
                QJsonObject{{QStringLiteral("match"), QStringLiteral("t.lbmc from splb t")},
                            {QStringLiteral("error"),
                             QJsonArray{8623, QStringLiteral("The query processor ran out of internal resources and "
                                                             "could not produce a query plan.")}}},
                QJsonObject{
                    {QStringLiteral("match"), QStringLiteral("then 1 else 0 end")},
                    {QStringLiteral("columns"), QJsonArray{column("i", "int"), column("h", "int"), column("c", "int")}},
                    {QStringLiteral("rows"),
                     QJsonArray{QJsonArray{0, 1, 0}, QJsonArray{1, 0, 1}, QJsonArray{2, 0, 1}}}},
                QJsonObject{{QStringLiteral("match"), QStringLiteral("select lbmc from splb where lbbh")},
                            {QStringLiteral("columns"), QJsonArray{column("lbmc", "varchar", 20)}},
                            {QStringLiteral("rows"), QJsonArray{QJsonArray{QStringLiteral("饮料")}}}}},
            {QStringLiteral("--server-version"), version});
        const QString udl = dir.filePath(QStringLiteral("tds.udl"));
        testing_support::writeUdl(udl, udlText(server.port(), QString()));
        {
            db::Connection c(QStringLiteral("源"));
            ASSERT_NO_THROW(c.open(udl));
            ASSERT_FALSE(c.capabilities().comparesKeysExactly);
            EXPECT_EQ(c.forms().accepts(db::Form::Windowed), !v2000);
            EXPECT_EQ(c.forms().accepts(db::Form::RowValues), version == u"16.0");
            // Bar codes beside each key by APPLY; 2000 has none, each product asks on its own.
            const QString barCodes = c.forms().rowsOfKeysStatement({QStringLiteral("GoodsBarCode")},
                                                                   QStringLiteral("b"), QStringLiteral("GoodsId"), 2);
            EXPECT_EQ(barCodes.isEmpty(), v2000);
            EXPECT_FALSE(barCodes.contains(u"values")) << barCodes.toStdString();
            for (int pass = 0; pass < 2; ++pass) {
                db::Query q(c);
                q.setText(c.forms().keysHeldStatement(QStringLiteral("hyda"), QStringLiteral("objid"), 3));
                q.bindText(QStringLiteral("k0"), gbk::fromUnicode(QStringLiteral("卡1")));
                q.bindText(QStringLiteral("k1"), "ab");
                q.bindText(QStringLiteral("k2"), "AB ");
                q.open();
                int rows = 0;
                while (q.next())
                    ++rows;
                EXPECT_EQ(rows, 3);
            }
            db::Query prices(c);
            prices.setText(
                c.forms().lookupsStatement(QStringLiteral("jhjj"), QStringLiteral("spxx"), QStringLiteral("spbh"), 2));
            prices.bindText(QStringLiteral("k0"), "P1");
            prices.bindText(QStringLiteral("k1"), "P2");
            prices.open();
            ASSERT_TRUE(prices.next());
            EXPECT_EQ(prices.text(QStringLiteral("jhjj")), QByteArray("1.5"));
            ASSERT_TRUE(prices.next());
            EXPECT_TRUE(prices.isNull(QStringLiteral("jhjj")));
            prices.close();

            // Two windows of category names: the list refused once, then key by key.
            shell::SourceLookups lookups(c);
            const shell::Lookup byCode{QStringLiteral("splb"), QStringLiteral("lbbh"), QStringLiteral("lbmc")};
            for (const char* window : {"L1", "L3"}) {
                lookups.list(byCode, window);
                lookups.list(byCode, "L2");
                EXPECT_EQ(gbk::toUnicode(lookups.value(byCode, window)), QStringLiteral("饮料"));
            }
            EXPECT_FALSE(c.forms().accepts(db::Form::KeyLists));
        }
        QStringList keys, catalog, categories;
        for (const QJsonObject& e : server.events()) {
            const QString text = e.value(QStringLiteral("text")).toString().simplified();
            if (text.contains(u"columns"))
                catalog << text;
            if (text.contains(u"then 1 else 0 end"))
                keys << text;
            if (text.contains(u"from splb"))
                categories << text;
            EXPECT_NE(e.value(QStringLiteral("event")).toString(), QStringLiteral("failed"));
            EXPECT_FALSE(text.contains(u"values")) << text.toStdString();
        }
        // The collation asked for once, from the catalog the version has.
        ASSERT_EQ(catalog.size(), 1) << catalog.join(u'\n').toStdString();
        EXPECT_TRUE(catalog[0].contains(v2000 ? u"from syscolumns" : u"from sys.columns"));
        ASSERT_EQ(keys.size(), 2);
        const QString table =
            QStringLiteral("(select 0 as i, @P1 as k union all select 1, @P2 union all select 2, @P3)");
        EXPECT_TRUE(keys[0].contains(QStringLiteral("from ") + table + QStringLiteral(" v"))) << keys[0].toStdString();
        EXPECT_TRUE(keys[0].contains(u"exists (select 1 from hyda t where t.objid = v.k)"));
        if (v2000) {
            // The keys a second time (FreeTDS numbers each marker): compared among themselves by GROUP BY.
            EXPECT_TRUE(keys[0].contains(
                QStringLiteral("join (select min(w.i) as c, w.k collate Chinese_PRC_CI_AS as k from (select 0 as i, "
                               "@P4 as k union all select 1, @P5 union all select 2, @P6) w group by w.k collate "
                               "Chinese_PRC_CI_AS) g on g.k = v.k collate Chinese_PRC_CI_AS")))
                << keys[0].toStdString();
        } else {
            EXPECT_TRUE(keys[0].contains(u"min(v.i) over (partition by v.k collate Chinese_PRC_CI_AS)"))
                << keys[0].toStdString();
        }
        // One list, refused; then each key asked for on its own.
        ASSERT_EQ(categories.size(), 3) << categories.join(u'\n').toStdString();
        EXPECT_TRUE(categories[0].contains(u"union all select 1, @P2"));
        for (int k = 1; k < 3; ++k)
            EXPECT_EQ(categories[k], QStringLiteral("select lbmc from splb where lbbh=@P1"));
    }
}

// The responder as SQL Server 2000, 2005, 2008 R2 and 2022: each refuses the
// statement forms its version lacks with the error that version gives. A
// conversion error ends the transaction: the rollback to a savepoint is then
// refused and @@TRANCOUNT is 0.
TEST(TdsWire, ServerVersionsRefuseTheFormsTheyLackAndEndedTransactionsAreGone)
{
    testing_support::registerOdbcDrivers();
    QTemporaryDir dir;
    const QString udl = dir.filePath(QStringLiteral("tds.udl"));
    struct Form {
        const char* text;
        const char* refusedBelow; // the first version that takes it
        const char* error;        // as the oldest version words it
    };
    const Form forms[] = {
        {"select v.i from (values (0, 'a'), (1, 'b')) as v(i, k)", "10.50",
         "Incorrect syntax near the keyword 'values'."},
        {"insert into t (k) values ('a'), ('b')", "10.50", "Line 1: Incorrect syntax near ','."},
        {"select x.* from t cross apply (select 1 as a) x", "9.0", "Line 1: Incorrect syntax near 'apply'."},
        {"select min(i) over (partition by k) from t", "9.0", "Incorrect syntax near the keyword 'over'."},
        {"select collation_name from sys.columns", "9.0", "Invalid object name 'sys.columns'."},
        {"select top (1) k from t", "9.0", "Line 1: Incorrect syntax near '('."},
        {"insert into t (k) values ('a')", nullptr, nullptr},
    };
    const QStringList versions{QStringLiteral("8.0"), QStringLiteral("9.0"), QStringLiteral("10.50"),
                               QStringLiteral("16.0")};
    for (const QString& version : versions) {
        Responder server(
            dir.path(),
            QJsonArray{QJsonObject{{QStringLiteral("match"), QStringLiteral("convert(int")},
                                   {QStringLiteral("error"), QJsonArray{245, QStringLiteral("Conversion failed")}},
                                   {QStringLiteral("ends_transaction"), true}}},
            {QStringLiteral("--server-version"), version});
        testing_support::writeUdl(udl, udlText(server.port(), QString()));
        db::Connection c(QStringLiteral("目标"));
        ASSERT_NO_THROW(c.open(udl));
        for (const Form& form : forms) {
            const bool refused = form.refusedBelow &&
                                 versions.indexOf(version) < versions.indexOf(QString::fromLatin1(form.refusedBelow));
            db::Query q(c);
            q.setText(QString::fromLatin1(form.text));
            try {
                q.exec();
                EXPECT_FALSE(refused) << version.toStdString() << ": " << form.text;
            } catch (const belmire::Error& e) {
                EXPECT_TRUE(refused) << version.toStdString() << ": " << e.message().toStdString();
                if (version == versions[0]) {
                    EXPECT_TRUE(e.message().contains(QLatin1String(form.error))) << e.message().toStdString();
                }
            }
        }
        const auto run = [&](const QString& text) {
            db::Query q(c);
            q.setText(text);
            try {
                q.exec();
                return QString();
            } catch (const belmire::Error& e) {
                return e.message();
            }
        };
        EXPECT_EQ(run(QStringLiteral("BEGIN TRANSACTION")), QString());
        EXPECT_EQ(run(QStringLiteral("SAVE TRANSACTION belmire_batch")), QString());
        EXPECT_TRUE(run(QStringLiteral("update t set i = convert(int, k)")).contains(u"Conversion failed"));
        EXPECT_TRUE(run(QStringLiteral("ROLLBACK TRANSACTION belmire_batch"))
                        .contains(u"has no corresponding BEGIN TRANSACTION"));
        db::Query count(c);
        count.setText(QStringLiteral("select @@trancount"));
        count.open();
        ASSERT_TRUE(count.next());
        EXPECT_EQ(count.valueAt(0).toInt(), 0) << version.toStdString();
    }
}

// V7 products of a SQLite shop into the responder as SQL Server 2000, 2005 and
// 2022, 20 rows to a transaction. Each batch is one INSERT per table in the
// form the version takes (VALUES rows from 2008, SELECT ... UNION ALL before)
// and the duplicate checks of the rows read ahead one request per column; nothing is
// refused. A server that cannot plan a long VALUES list (8623) gets the UNION
// ALL form from then on: one refusal in the whole run; one that cannot plan
// the key lists is asked key by key after refusing each form of them once
// (the second column tries none). A conversion error in
// a batch ends the transaction: no row is named or rejected as the failing one.
TEST(TdsWire, ProductsGoToEachServerVersionInTheFormsItTakes)
{
    testing_support::registerOdbcDrivers();
    const QJsonObject noPlan{
        {QStringLiteral("match"), QStringLiteral("),(")},
        {QStringLiteral("error"), QJsonArray{8623, QStringLiteral("The query processor ran out of internal resources "
                                                                  "and could not produce a query plan.")}}};
    const QJsonObject conversion{
        {QStringLiteral("match"), QStringLiteral("@P13 ),(")}, // spdw's many-row INSERT
        {QStringLiteral("error"), QJsonArray{245, QStringLiteral("Conversion failed when converting the nvarchar "
                                                                 "value '1.5x' to data type int.")}}};
    QJsonObject noKeyPlan = noPlan;
    noKeyPlan.insert(QStringLiteral("match"), QStringLiteral("then 1 else 0 end"));
    struct Case {
        QString version;
        QJsonArray script;
    };
    for (const Case& run : {Case{QStringLiteral("8.0"), {}}, Case{QStringLiteral("9.0"), {}},
                            Case{QStringLiteral("16.0"), {}}, Case{QStringLiteral("16.0"), {noPlan}},
                            Case{QStringLiteral("9.0"), {noKeyPlan}}, Case{QStringLiteral("16.0"), {conversion}}}) {
        SCOPED_TRACE((run.version + u' ' + QJsonDocument(run.script).toJson(QJsonDocument::Compact)).toStdString());
        testing_support::Shop shop(QStringLiteral("source_v67_sqlite.sql"), testing_support::Backend::SQLite);
        for (int p = 1; p <= 50; ++p)
            shop.source().exec(
                QStringLiteral("insert into spxx (Spbh, Spmc, sptm, zhf) values ('P%1', '商品%1', '69%1', '0');")
                    .arg(p));
        QTemporaryDir dir;
        Responder server(dir.path(), run.script, {QStringLiteral("--server-version"), run.version});
        testing_support::writeUdl(shop.targetUdl(), udlText(server.port(), QString()));
        testing_support::RecordingFrontend fe;
        shell::RunResult result;
        {
            shell::RunFrame frame(fe, shop.sourceUdl(), shop.targetUdl());
            frame.setBatchSize(20);
            result = frame.run(*programs::catalog().find(shell::Family::V67, QStringLiteral("products-v7")));
        }
        const bool old = run.version != u"16.0";
        QStringList listInserts, errors;
        int keyChecks = 0, keyByKey = 0;
        for (const QJsonObject& e : server.events()) {
            const QString text = e.value(QStringLiteral("text")).toString().simplified();
            if (e.value(QStringLiteral("event")).toString() == u"error")
                errors << QString::number(e.value(QStringLiteral("number")).toInt());
            if (text.contains(u"then 1 else 0 end"))
                ++keyChecks;
            if (text.startsWith(u"select objid from sp") && e.value(QStringLiteral("proc")).toString() != u"sp_prepare")
                ++keyByKey;
            const bool values = text.contains(u"),("), selects = text.contains(u"union all select");
            if (text.startsWith(u"insert into sp") && (values || selects))
                listInserts << text.section(u' ', 0, 2) +
                                   (values ? QStringLiteral(" values") : QStringLiteral(" select"));
        }
        if (run.script.contains(conversion)) {
            EXPECT_FALSE(result.ok);
            // Row 1 went on its own (its mark had gone with the first check); rows 2 to 20 in one INSERT.
            EXPECT_TRUE(result.message.contains(QStringLiteral("第 2 至 20/50 行中的一行（数据库没有指明是哪一行），")))
                << result.message.toStdString();
            EXPECT_TRUE(result.message.contains(QStringLiteral("结束了本会话的事务"))) << result.message.toStdString();
            EXPECT_TRUE(result.message.endsWith(QStringLiteral("（第 1 行已随未提交的事务回滚，没有写入）")))
                << result.message.toStdString();
            EXPECT_EQ(result.rowsWritten, 0);
            EXPECT_EQ(errors, QStringList{QStringLiteral("245")});
            continue;
        }
        ASSERT_TRUE(result.ok) << result.message.toStdString();
        EXPECT_EQ(result.rowsWritten, 50);
        const bool listsRefused = run.script.contains(noKeyPlan), valuesRefused = run.script.contains(noPlan);
        EXPECT_EQ(errors, QStringList(listsRefused ? 2 : valuesRefused ? 1 : 0, QStringLiteral("8623")));
        // Three batches, each one INSERT of its rows into spda and one into spdw.
        const QString form = old || valuesRefused ? QStringLiteral("select") : QStringLiteral("values");
        QStringList expected;
        if (valuesRefused)
            expected << QStringLiteral("insert into spda values");
        for (int batch = 0; batch < 3; ++batch)
            for (const char* table : {"spda", "spdw"})
                expected << QStringLiteral("insert into %1 ").arg(QLatin1String(table)) + form;
        EXPECT_EQ(listInserts, listsRefused ? QStringList() : expected) << listInserts.join(u'\n').toStdString();
        EXPECT_EQ(keyChecks, 2); // the rows read ahead at once: one request per column
        if (listsRefused) {
            // Each check sends the writes waiting before it: the rows go one at a time.
            EXPECT_GE(keyByKey, 100); // each product's code and bar code
        } else {
            EXPECT_EQ(keyByKey, 0);
        }
    }
}

// A text column longer than the server's default TEXTSIZE (4 KB) comes whole
// from the responder running on SQLite as SQL Server 2000: each connection
// sets TEXTSIZE. The column widths come from syscolumns there.
TEST(TdsWire, LongTextComesWhole)
{
    testing_support::registerOdbcDrivers();
    QTemporaryDir dir;
    Responder server(dir.path(), {},
                     {QStringLiteral("--sqlite"), dir.filePath(QStringLiteral("shop.db")),
                      QStringLiteral("--server-version"), QStringLiteral("8.0")});
    const QString udl = dir.filePath(QStringLiteral("tds.udl"));
    testing_support::writeUdl(udl, udlText(server.port(), QString()));
    const QString note = QStringLiteral("备注").repeated(1500) + QStringLiteral("尾");
    {
        db::Connection c(QStringLiteral("源"));
        ASSERT_NO_THROW(c.open(udl));
        c.exec(QStringLiteral("create table memo (k varchar(10), n nvarchar(20), bz text)"));
        db::Query insert(c);
        insert.setText(QStringLiteral("insert into memo (k, bz) values ('a', :bz)"));
        insert.bindText(QStringLiteral("bz"), gbk::fromUnicode(note));
        insert.exec();
    }
    db::Connection c(QStringLiteral("源"));
    ASSERT_NO_THROW(c.open(udl));
    db::Query read(c);
    read.setText(QStringLiteral("select bz from memo"));
    read.open();
    ASSERT_TRUE(read.next());
    EXPECT_EQ(read.text(QStringLiteral("bz")).size(), 6002);
    EXPECT_TRUE(gbk::toUnicode(read.text(QStringLiteral("bz"))) == note);
    read.close();

    // The widths the check compares with, from a server without schema_name(): varchar in bytes, nvarchar in
    // UTF-16 units, text without a limit.
    using Width = db::Connection::TextWidth;
    std::map<QString, Width> widths;
    ASSERT_NO_THROW(widths = c.declaredTextWidths(QStringLiteral("memo")));
    ASSERT_EQ(widths.size(), 2u);
    EXPECT_EQ(widths[QStringLiteral("k")].length, 10);
    EXPECT_EQ(widths[QStringLiteral("k")].unit, Width::Unit::Bytes);
    EXPECT_EQ(widths[QStringLiteral("n")].length, 20);
    EXPECT_EQ(widths[QStringLiteral("n")].unit, Width::Unit::Utf16);
}

// A server with a certificate, as MS-TDS describes it: FreeTDS asked for no
// encryption still says it can encrypt, so a server forcing encryption
// encrypts everything, and one that does not encrypts the login alone; asked
// for, everything is encrypted. The TLS handshake travels inside PRELOGIN
// packets; texts come back whole through it.
TEST(TdsWire, EncryptionAsTheServerWantsIt)
{
    testing_support::registerOdbcDrivers();
    struct Case {
        const char* server;
        const char* udl;
        int clientByte;
        const char* scope;
    };
    for (const Case& k :
         {Case{"required", "Use Encryption for Data=False", 0, "all"},
          Case{"required", "Use Encryption for Data=True", 1, "all"}, Case{"available", "", 0, "login"}}) {
        SCOPED_TRACE(std::string(k.server) + " / " + k.udl);
        QTemporaryDir dir;
        Responder server(
            dir.path(),
            QJsonArray{QJsonObject{{QStringLiteral("match"), QStringLiteral("select k from t")},
                                   {QStringLiteral("columns"), QJsonArray{column("k", "varchar", 6)}},
                                   {QStringLiteral("rows"), QJsonArray{QJsonArray{QStringLiteral("张三丰")}}}}},
            {QStringLiteral("--tls"), QString::fromLatin1(k.server)});
        const QString udl = dir.filePath(QStringLiteral("tls.udl"));
        testing_support::writeUdl(udl, udlText(server.port(), QString::fromLatin1(k.udl)));
        {
            db::Connection c(QStringLiteral("目标"));
            ASSERT_NO_THROW(c.open(udl));
            db::Query q(c);
            q.setText(QStringLiteral("select k from t"));
            q.open();
            ASSERT_TRUE(q.next());
            EXPECT_EQ(gbk::toUnicode(q.text(QStringLiteral("k"))), QStringLiteral("张三丰"));
            q.close();
        }
        const QList<QJsonObject> events = server.events();
        const QList<QJsonObject> prelogin = ofKind(events, QStringLiteral("prelogin"));
        const QList<QJsonObject> tls = ofKind(events, QStringLiteral("tls"));
        ASSERT_FALSE(prelogin.isEmpty());
        ASSERT_FALSE(tls.isEmpty());
        EXPECT_EQ(prelogin[0].value(QStringLiteral("encryption")).toInt(), k.clientByte);
        EXPECT_EQ(tls[0].value(QStringLiteral("scope")).toString(), QString::fromLatin1(k.scope));
        EXPECT_EQ(ofKind(events, QStringLiteral("login")).value(0).value(QStringLiteral("user")).toString(),
                  QStringLiteral("店长"));
        EXPECT_TRUE(ofKind(events, QStringLiteral("failed")).isEmpty());
    }
}

// SQL Server 2000 speaks TDS 7.1: FreeTDS states it, or is answered with it
// when it offers 7.4, and says so; a refused login comes back at once with the
// server's message (FreeTDS 1.3 offering 7.4 would wait for a longer DONE
// until the login time-out). Where Microsoft's driver cannot connect, FreeTDS
// does, and what answered says both.
TEST(TdsWire, OldServersTds71RefusedLoginsAndTheDriverStandingIn)
{
    testing_support::registerOdbcDrivers();
    const QJsonArray results{
        QJsonObject{{QStringLiteral("match"), QStringLiteral("select k, i from t")},
                    {QStringLiteral("columns"), QJsonArray{column("k", "varchar", 6), column("i", "int")}},
                    {QStringLiteral("rows"), QJsonArray{QJsonArray{QStringLiteral("李四"), 7}}}}};
    for (const char* stated : {"", "TDS Version=7.4"}) {
        QTemporaryDir dir;
        Responder server(dir.path(), results, {QStringLiteral("--tds"), QStringLiteral("7.1")});
        const QString udl = dir.filePath(QStringLiteral("old.udl"));
        testing_support::writeUdl(udl, udlText(server.port(), QString::fromLatin1(stated)));
        {
            db::Connection c(QStringLiteral("源"));
            ASSERT_NO_THROW(c.open(udl)) << stated;
            EXPECT_TRUE(c.answeredBy().startsWith(QStringLiteral("FreeTDS 01.03.")));
            EXPECT_TRUE(c.answeredBy().contains(QStringLiteral("，TDS 7.1，SQL Server 2019（15.00.2000）")))
                << c.answeredBy().toStdString();
            db::Query q(c);
            q.setText(QStringLiteral("select k, i from t"));
            q.open();
            ASSERT_TRUE(q.next());
            EXPECT_EQ(gbk::toUnicode(q.text(QStringLiteral("k"))), QStringLiteral("李四"));
            EXPECT_EQ(q.integer(QStringLiteral("i")), 7);
            q.close();
        }
        // 测试连接 says the same.
        const QString probed = shell::describe(shell::probeLink(udl, programs::catalog().kinds()));
        EXPECT_TRUE(probed.contains(QStringLiteral("\n驱动：FreeTDS 01.03."))) << probed.toStdString();
        const QList<QJsonObject> events = server.events();
        EXPECT_EQ(ofKind(events, QStringLiteral("login")).value(0).value(QStringLiteral("tds_version")).toString(),
                  QLatin1String(*stated ? "0x74000004" : "0x71000001"));
        EXPECT_TRUE(ofKind(events, QStringLiteral("failed")).isEmpty());
    }
    {
        QTemporaryDir dir;
        Responder server(dir.path(), results,
                         {QStringLiteral("--tds"), QStringLiteral("7.1"), QStringLiteral("--refuse-login")});
        const QString udl = dir.filePath(QStringLiteral("refused.udl"));
        testing_support::writeUdl(udl, udlText(server.port(), QString()));
        db::Connection c(QStringLiteral("源"));
        try {
            c.open(udl);
            ADD_FAILURE() << "a refused login connected";
        } catch (const belmire::Error& e) {
            EXPECT_TRUE(e.message().contains(QStringLiteral("Login failed for user '店长'")))
                << e.message().toStdString();
            EXPECT_TRUE(e.message().contains(QStringLiteral("用户名或密码不对"))) << e.message().toStdString();
        }
        EXPECT_EQ(ofKind(server.events(), QStringLiteral("refused")).size(), 1);
    }
    {
        QTemporaryDir dir;
        Responder server(dir.path(), results);
        const db::LinkSettings given =
            db::parseDataLink(udlText(server.port(), QString()).toUtf8(), dir.path(), QStringLiteral("x.udl"),
                              {QStringLiteral("ODBC Driver 18 for SQL Server"), QStringLiteral("FreeTDS")});
        db::OdbcLink link;
        ASSERT_NO_THROW(link.open(given.databaseName, QStringLiteral("源数据库"), given.fallback));
        EXPECT_TRUE(link.answeredBy().startsWith(QStringLiteral("FreeTDS "))) << link.answeredBy().toStdString();
        EXPECT_TRUE(link.answeredBy().contains(QStringLiteral("；ODBC Driver 18 for SQL Server 无法连接：")))
            << link.answeredBy().toStdString();
        link.close();
        EXPECT_EQ(ofKind(server.events(), QStringLiteral("login")).size(), 1);
    }
}

// A SQL Server target as the check and the writes meet it: a written varchar
// column whose collation stores another code page than GBK is refused by name
// (a UTF-8 one too: its characters take 3 bytes); the tables' triggers are
// listed, and rows for a table with an INSERT trigger go one per INSERT;
// column widths the server will not show are said to be unchecked. A
// TRUNCATE the server refuses becomes DELETE, undone to a savepoint first, and
// the clear counts the rows and says so.
TEST(TdsWire, CheckCodePagesTriggersAndClearWithoutTruncate)
{
    testing_support::registerOdbcDrivers();
    QTemporaryDir dir;
    Responder server(
        dir.path(),
        QJsonArray{
            QJsonObject{
                {QStringLiteral("match"), QStringLiteral("from syscolumns")},
                {QStringLiteral("columns"), QJsonArray{column("name", "nvarchar", 128),
                                                       column("collation", "nvarchar", 128), column("cp", "int")}},
                {QStringLiteral("rows"),
                 QJsonArray{
                     QJsonArray{QStringLiteral("objid"), QStringLiteral("Chinese_PRC_CI_AS"), 936},
                     QJsonArray{QStringLiteral("ckmc"), QStringLiteral("Latin1_General_CI_AS"), 1252},
                     QJsonArray{QStringLiteral("xgrq"), QStringLiteral("Latin1_General_100_CI_AS_SC_UTF8"), 65001},
                     QJsonArray{QStringLiteral("unwritten"), QStringLiteral("Latin1_General_CI_AS"), 1252}}}},
            QJsonObject{{QStringLiteral("match"), QStringLiteral("object_id('ckda')")},
                        {QStringLiteral("columns"), QJsonArray{column("name", "nvarchar", 128), column("i", "int"),
                                                               column("u", "int"), column("d", "int")}},
                        {QStringLiteral("rows"), QJsonArray{QJsonArray{QStringLiteral("ckda_log"), 1, 1, 0}}}},
            QJsonObject{{QStringLiteral("match"), QStringLiteral("select count(*) from sp")},
                        {QStringLiteral("columns"), QJsonArray{column("n", "int")}},
                        {QStringLiteral("rows"), QJsonArray{QJsonArray{4}}}},
            QJsonObject{{QStringLiteral("match"), QStringLiteral("from information_schema.columns")},
                        {QStringLiteral("error"),
                         QJsonArray{229, QStringLiteral("The SELECT permission was denied on the object "
                                                        "'COLUMNS'.")}}},
            QJsonObject{{QStringLiteral("match"), QStringLiteral("TRUNCATE TABLE spda")},
                        {QStringLiteral("error"),
                         QJsonArray{4712, QStringLiteral("Cannot truncate table 'spda' because it is being "
                                                         "referenced by a FOREIGN KEY constraint.")}}}});
    testing_support::SqliteDb source(dir.path(), QStringLiteral("source.db"), QStringLiteral("source_v67_sqlite.sql"));
    const QString sourceUdl = dir.filePath(QStringLiteral("source.udl"));
    testing_support::writeUdl(sourceUdl, QStringLiteral("Provider=SQLite;Data Source=source.db"));
    const QString target = dir.filePath(QStringLiteral("target.udl"));
    testing_support::writeUdl(target, udlText(server.port(), QString()));

    const shell::CheckReport report = shell::checkOperations(
        {programs::catalog().find(shell::Family::V67, QStringLiteral("warehouses"))}, sourceUdl, target);
    const QString problems = report.problems.join(u'\n');
    EXPECT_TRUE(problems.contains(QStringLiteral("目标表 ckda 的字段 ckmc 的排序规则 Latin1_General_CI_AS 使用代码页 "
                                                 "1252，不是 GBK（936）")))
        << problems.toStdString();
    EXPECT_TRUE(problems.contains(QStringLiteral("目标表 ckda 的字段 xgrq 用 UTF-8 排序规则")))
        << problems.toStdString();
    EXPECT_FALSE(problems.contains(QStringLiteral("objid")) || problems.contains(QStringLiteral("unwritten")));
    EXPECT_TRUE(report.notes.contains(QStringLiteral(
        "目标表 ckda 有触发器 ckda_log（INSERT, UPDATE）：转换时这个表每条 INSERT 只写一行，触发器逐行执行")))
        << report.notes.join(u'\n').toStdString();
    // Widths that cannot be read are said, not left unchecked without a word.
    const QStringList categories =
        shell::checkOperations({programs::catalog().find(shell::Family::V67, QStringLiteral("categories"))}, sourceUdl,
                               target)
            .notes;
    EXPECT_TRUE(categories.contains(
        QStringLiteral("目标表 splbda 的字段宽度读不出来（[FreeTDS][SQL Server]The SELECT permission was denied on "
                       "the object 'COLUMNS'.）：没有检查源值是否长于目标字段")))
        << categories.join(u'\n').toStdString();

    {
        db::Connection c(QStringLiteral("目标"));
        ASSERT_NO_THROW(c.open(target));
        db::Query insert(c);
        insert.setText(QStringLiteral("insert into ckda (objid) values (:k)"));
        insert.prepare();
        c.begin();
        db::DeferredWriter writes(c);
        writes.setDeferring(true);
        for (int row = 1; row <= 3; ++row) {
            writes.setRowTag(row);
            writes.queueControl(db::savepointSql(db::Dialect::SqlServer, QStringLiteral("belmire_row")));
            insert.bindText(QStringLiteral("k"), QByteArray::number(row));
            insert.exec();
            writes.queueControl(QString());
        }
        ASSERT_NO_THROW(writes.flushDeferred());
        writes.setDeferring(false);
        c.commit();
    }

    // A run is refused before it writes anything.
    {
        testing_support::RecordingFrontend fe;
        shell::RunFrame frame(fe, sourceUdl, target);
        const shell::RunResult refused =
            frame.run(*programs::catalog().find(shell::Family::V67, QStringLiteral("warehouses")));
        EXPECT_FALSE(refused.ok);
        EXPECT_TRUE(refused.message.contains(QStringLiteral("没有写入任何数据")) &&
                    refused.message.contains(QStringLiteral("字段 ckmc 的排序规则")))
            << refused.message.toStdString();
    }

    testing_support::RecordingFrontend fe;
    shell::RunFrame frame(fe, dir.filePath(QStringLiteral("none.udl")), target);
    const shell::RunResult result =
        frame.run(*programs::catalog().find(shell::Family::V67, QStringLiteral("clear-products")));
    frame.disconnect();
    EXPECT_TRUE(result.ok) << result.message.toStdString();
    EXPECT_EQ(result.rowsDeleted, 8);
    ASSERT_EQ(fe.log.size(), 2) << fe.log.join(u'\n').toStdString();
    EXPECT_TRUE(fe.log[0].startsWith(QStringLiteral("目标数据库：FreeTDS "))) << fe.log[0].toStdString();
    EXPECT_TRUE(fe.log[1].startsWith(QStringLiteral("表 spda 不能 TRUNCATE（")) &&
                fe.log[1].endsWith(QStringLiteral("FOREIGN KEY constraint.），已改用 DELETE 清空")))
        << fe.log[1].toStdString();

    QStringList inserts, clear;
    bool cleared = false;
    for (const QJsonObject& e : server.events()) {
        const QString text = e.value(QStringLiteral("text")).toString().simplified();
        // The check's write probe inserts no rows; the run's own inserts follow it.
        if (text.startsWith(QStringLiteral("insert into ckda")) && !text.endsWith(QStringLiteral("where 1=0")))
            inserts << text;
        cleared = cleared || text.startsWith(QStringLiteral("select count(*) from spda"));
        if (cleared && (text.contains(QStringLiteral("TRANSACTION")) || text.contains(QStringLiteral("spd"))) &&
            !text.startsWith(QStringLiteral("select")))
            clear << text;
    }
    EXPECT_EQ(inserts, QStringList(3, QStringLiteral("insert into ckda (objid) values (@P1)")));
    const QStringList expected{
        QStringLiteral("BEGIN TRANSACTION"),   QStringLiteral("SAVE TRANSACTION belmire_clear"),
        QStringLiteral("TRUNCATE TABLE spda"), QStringLiteral("ROLLBACK TRANSACTION belmire_clear"),
        QStringLiteral("DELETE FROM spda"),    QStringLiteral("SAVE TRANSACTION belmire_clear"),
        QStringLiteral("TRUNCATE TABLE spdw"), QStringLiteral("COMMIT TRANSACTION")};
    EXPECT_EQ(clear, expected) << clear.join(u'\n').toStdString();
}

// SQLite statements run through the C library must read and write exactly
// what Qt's SQLite driver reads and writes.
#include "db/connection.h"
#include "db/query.h"
#include "db/sqlite_backend.h"
#include "db/sqlite_statement.h"
#include "db/transaction.h"
#include "support/testdb.h"
#include "textutil/error.h"
#include "textutil/gbk.h"

#include <gtest/gtest.h>

#include <QSqlQuery>
#include <QSqlRecord>
#include <QTemporaryDir>

#include <sqlite3.h>

#include <cmath>
#include <functional>
#include <random>
#include <unistd.h>

using testing_support::SqliteDb;

namespace {

class NativeSqlite : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        m_db = std::make_unique<SqliteDb>(m_dir.path(), QStringLiteral("t.db"), QString());
        m_db->exec(QStringLiteral("create table t (id integer, a text, n numeric, r real, b blob)"));
        m_udl = m_dir.filePath(QStringLiteral("t.udl"));
        testing_support::writeUdl(m_udl, QStringLiteral("Provider=SQLite;Data Source=") + m_db->path());
        m_connection.open(m_udl);
        ASSERT_NE(dynamic_cast<db::SqliteBackend*>(&db::backendOf(m_connection)), nullptr);
    }

    // What Qt's driver gives for every field of every row of t, at high precision.
    QList<QVariantList> qtRows(const QString& sql)
    {
        QSqlQuery q(m_db->db());
        q.setNumericalPrecisionPolicy(QSql::HighPrecision);
        EXPECT_TRUE(q.exec(sql));
        QList<QVariantList> out;
        while (q.next()) {
            QVariantList row;
            for (int i = 0; i < q.record().count(); ++i)
                row << q.value(i);
            out << row;
        }
        return out;
    }

    QTemporaryDir m_dir;
    std::unique_ptr<SqliteDb> m_db;
    QString m_udl;
    db::Connection m_connection{QStringLiteral("目标")};
};

const QByteArray kChinese = gbk::fromUnicode(QStringLiteral("矿泉水 500ml"));
const QByteArray kOutsideGbk = gbk::fromUnicode(QStringLiteral("😀𠀀"));     // four-byte GB18030
const QByteArray kBrokenGbk = QByteArray("ab\x81") + QByteArray("\xff", 1); // no GBK character

} // namespace

TEST_F(NativeSqlite, ReadsValuesInTheFormsOfQtsDriver)
{
    m_db->exec(QStringLiteral("insert into t values (1, '矿泉水', 12.5, 0.1, x'00ff'), (null, null, null, null, null), "
                              "(9007199254740993, '😀', '3.0000', 1e300, 'text'), (-2, 'x', 7, -0.0, x''), "
                              "(0, 'true', 0, 0.0, 'F'), (3, ' 1 ', -0.5, 2.5, '0')"));
    const QList<QVariantList> expected = qtRows(QStringLiteral("select * from t"));
    db::Query q(m_connection);
    q.setText(QStringLiteral("select * from t"));
    q.open();
    int row = 0;
    while (q.next()) {
        ASSERT_LT(row, expected.size());
        ASSERT_EQ(q.fieldCount(), 5);
        const QStringList names = q.fieldNames();
        for (int i = 0; i < 5; ++i) {
            const QVariant want = expected[row][i];
            SCOPED_TRACE(QStringLiteral("row %1 field %2").arg(row).arg(i).toStdString());
            EXPECT_EQ(q.valueAt(i).metaType(), want.metaType());
            EXPECT_EQ(q.valueAt(i).isNull(), want.isNull());
            EXPECT_EQ(q.valueAt(i), want);
            EXPECT_EQ(q.text(names[i]), db::variantText(want));
            std::optional<bool> truth;
            try {
                truth = db::variantTruth(want);
            } catch (const belmire::Error&) {
            }
            if (truth)
                EXPECT_EQ(q.truth(names[i]), *truth);
            else
                EXPECT_THROW(q.truth(names[i]), belmire::Error);
        }
        ++row;
    }
    EXPECT_EQ(row, expected.size());
    EXPECT_EQ(q.fieldNames(), (QStringList{"id", "a", "n", "r", "b"}));
    EXPECT_TRUE(q.hasField(QStringLiteral("A")));
}

TEST_F(NativeSqlite, WritesTheBytesQtsDriverWrites)
{
    // The same values through Qt's binding (ids 1..) and through the C library (ids 101..).
    const QList<QByteArray> texts = {QByteArray(), "", "plain", kChinese, kOutsideGbk, kBrokenGbk};
    QSqlQuery qt(m_db->db());
    ASSERT_TRUE(qt.prepare(QStringLiteral("insert into t (id, a, n, r) values (:id, :a, :n, :r)")));
    db::Query native(m_connection);
    native.setText(QStringLiteral("insert into t (id, a, n, r) values (:id, :a, :n, :r)"));
    native.prepare();
    for (int i = 0; i < texts.size(); ++i) {
        const QString unicode = gbk::toUnicode(texts[i]);
        qt.bindValue(QStringLiteral(":id"), i + 1);
        qt.bindValue(QStringLiteral(":a"), unicode.isNull() ? QStringLiteral("") : unicode);
        qt.bindValue(QStringLiteral(":n"), db::Amount::fromRaw(-1234567).toString());
        qt.bindValue(QStringLiteral(":r"), 0.1 * i);
        ASSERT_TRUE(qt.exec());
        native.bindInteger(QStringLiteral("id"), i + 101);
        native.bindText(QStringLiteral("a"), texts[i]);
        native.bindAmount(QStringLiteral("n"), db::Amount::fromRaw(-1234567));
        native.bindNumber(QStringLiteral("r"), 0.1 * i);
        native.bindText(QStringLiteral("unused"), "x"); // a name the statement lacks is ignored
        native.exec();
        EXPECT_EQ(native.rowsAffected(), 1);
    }
    EXPECT_EQ(
        m_db->rows(QStringLiteral("select hex(a), typeof(a), n, typeof(n), r from t where id < 100 order by id")),
        m_db->rows(QStringLiteral("select hex(a), typeof(a), n, typeof(n), r from t where id > 100 order by id")));
}

TEST_F(NativeSqlite, ABindingRepeatedStaysAndAnotherFormReplacesIt)
{
    // A statement keeps a parameter bound to the same value from row to row; a
    // value of another form with the same number or text still replaces it.
    db::Query insert(m_connection);
    insert.setText(QStringLiteral("insert into t (id, a, b) values (:id, :a, :b)"));
    const auto row = [&](int id, const QByteArray& a, const std::function<void()>& bindB) {
        insert.bindInteger(QStringLiteral("id"), id);
        insert.bindText(QStringLiteral("a"), a);
        bindB();
        insert.exec();
    };
    row(1, kChinese, [&] { insert.bindInteger(QStringLiteral("b"), 1); });
    row(2, kChinese, [&] { insert.bindNumber(QStringLiteral("b"), 1.0); });
    row(3, "plain", [&] { insert.bindText(QStringLiteral("b"), "1"); });
    row(4, kChinese, [&] { insert.bindText(QStringLiteral("b"), "1"); });
    row(5, kChinese, [&] { insert.bindAmount(QStringLiteral("b"), db::Amount::fromRaw(10000)); });
    row(6, kChinese, [&] { insert.bindAmount(QStringLiteral("b"), db::Amount::fromRaw(10000)); });
    row(7, kChinese, [&] { insert.bindAmount(QStringLiteral("b"), db::Amount::fromRaw(25000)); });
    row(8, kChinese, [&] { insert.bindInteger(QStringLiteral("b"), 1); });
    const QString chinese = QString::fromLatin1(gbk::toUtf8(kChinese).toHex().toUpper());
    EXPECT_EQ(
        m_db->rows(QStringLiteral("select id, hex(a), typeof(b), quote(b) from t order by id")),
        (QStringList{"1|" + chinese + "|integer|1", "2|" + chinese + "|real|1.0", "3|706C61696E|text|'1'",
                     "4|" + chinese + "|text|'1'", "5|" + chinese + "|text|'1.0000'", "6|" + chinese + "|text|'1.0000'",
                     "7|" + chinese + "|text|'2.5000'", "8|" + chinese + "|integer|1"}));
}

TEST_F(NativeSqlite, ReportsErrorsAndSurvivesTheConnectionClosing)
{
    db::Query bad(m_connection);
    bad.setText(QStringLiteral("insert into missing (a) values (:a)"));
    try {
        bad.prepare();
        FAIL();
    } catch (const belmire::Error& e) {
        EXPECT_EQ(e.message(), QStringLiteral("表 missing：no such table: missing"));
    }
    m_db->exec(QStringLiteral("create unique index t_id on t (id)"));
    db::Query insert(m_connection);
    insert.setText(QStringLiteral("insert into t (id) values (:id)"));
    insert.bindInteger(QStringLiteral("id"), 1);
    insert.exec();
    try {
        insert.exec();
        FAIL();
    } catch (const belmire::Error& e) {
        EXPECT_EQ(e.message(), QStringLiteral("表 t：UNIQUE constraint failed: t.id"));
    }
    // Two statements in one text would lose the second one silently.
    db::Query two(m_connection);
    two.setText(QStringLiteral("delete from t; delete from t where id = 1"));
    EXPECT_THROW(two.prepare(), belmire::Error);

    // An open row set and a prepared statement do not keep the connection from closing;
    // after reopening they are prepared again.
    db::Query rows(m_connection);
    rows.setText(QStringLiteral("select id from t"));
    rows.open();
    ASSERT_TRUE(rows.next());
    m_connection.close();
    m_connection.open(m_udl);
    insert.bindInteger(QStringLiteral("id"), 2);
    insert.exec();
    rows.open();
    int n = 0;
    while (rows.next())
        ++n;
    EXPECT_EQ(n, 2);
}

// Stored bytes that are not UTF-8: GBK an older program stored is GBK; UTF-8
// with broken bytes, whether or not its bytes happen to pair up as GBK, and
// bytes that are no GBK either are refused with the field, never re-read.
TEST_F(NativeSqlite, TakesGbkBytesAsGbkAndRefusesBrokenText)
{
    m_db->exec(QStringLiteral("insert into t (id, a) values (1, cast(x'D5C5C8FD' as text)), "
                              "(2, cast(x'E5A5BDEDA080E5908378' as text)), (3, cast(x'E5A5BDFFE59083' as text)), "
                              "(4, cast(x'61FF62' as text))"));
    db::Query q(m_connection);
    q.setText(QStringLiteral("select id, a from t order by id"));
    q.open();
    ASSERT_TRUE(q.next());
    EXPECT_EQ(q.text(QStringLiteral("a")), gbk::fromUnicode(QStringLiteral("张三")));
    EXPECT_EQ(q.valueAt(1), QVariant(QStringLiteral("张三")));
    for (const QString& shown :
         {QStringLiteral("好\\xED\\xA0\\x80吃x"), QStringLiteral("好\\xFF吃"), QStringLiteral("a\\xFFb")}) {
        SCOPED_TRACE(shown.toStdString());
        ASSERT_TRUE(q.next());
        const QString message =
            QStringLiteral("表 t 字段 a：文本既不是有效的 UTF-8，也不是有效的 GBK：“%1”；请先在源中改正").arg(shown);
        try {
            q.text(QStringLiteral("a"));
            ADD_FAILURE() << "read as text";
        } catch (const belmire::Error& e) {
            EXPECT_EQ(e.message(), message);
        }
        try {
            q.valueAt(1);
            ADD_FAILURE() << "read as a value";
        } catch (const belmire::Error& e) {
            EXPECT_EQ(e.message(), message);
        }
    }
}

TEST_F(NativeSqlite, ReadsAmountsAsTheGeneralWayDoes)
{
    // Texts, integers, floats and NULL (a holds them as text, n as numbers where it can);
    // an amount either equals the general way's or fails alike.
    m_db->exec(QStringLiteral(
        "insert into t (id, a) values (1, ' 12.50 '), (2, '-0.00005'), (3, '1e3'), (4, 'x'), (5, ''), (6, null), "
        "(7, 922337203685477), (8, 922337203685478), (9, 0.1), (10, '１２'), (11, '\t7\r\n'), (12, '+.5'), "
        "(13, 12.345678), (14, '0x10')"));
    m_db->exec(QStringLiteral("update t set n = a"));
    db::Query q(m_connection);
    q.setText(QStringLiteral("select id, a, n from t order by id"));
    q.open();
    int rows = 0;
    while (q.next()) {
        ++rows;
        for (const int field : {1, 2}) {
            const QString name = field == 1 ? QStringLiteral("a") : QStringLiteral("n");
            SCOPED_TRACE((q.text(QStringLiteral("id")) + ' ' + name.toLatin1()).toStdString());
            std::optional<db::Amount> general;
            try {
                general = db::Amount::fromVariant(q.valueAt(field));
            } catch (const belmire::Error&) {
            }
            if (general)
                EXPECT_EQ(q.amount(name).raw(), general->raw());
            else
                EXPECT_THROW(q.amount(name), belmire::Error);
        }
    }
    EXPECT_EQ(rows, 14);
}

TEST_F(NativeSqlite, ReadsStoredDoublesAsTheGeneralWayDoes)
{
    // Doubles of four decimals (the usual stored amount), products of two such, and
    // arbitrary ones, small and large: the fast reading equals the general one, as
    // an amount and as text.
    std::mt19937_64 random(7);
    db::Query insert(m_connection);
    insert.setText(QStringLiteral("insert into t (id, r) values (:id, :r)"));
    m_connection.begin();
    for (int i = 0; i < 30000; ++i) {
        const qint64 scale[] = {100, 100000, 10000000, 1000000000, 100000000000, 10000000000000};
        const qint64 r = qint64(random() % quint64(scale[i % 6])) - scale[i % 6] / 2;
        double x = double(r) / 10000.0;
        if (i % 3 == 1)
            x *= double(random() % 100000) / 1000.0;
        else if (i % 3 == 2)
            x = std::ldexp(double(random() % (1ull << 52)), int(random() % 60) - 70);
        insert.bindInteger(QStringLiteral("id"), i);
        insert.bindNumber(QStringLiteral("r"), x);
        insert.exec();
    }
    // Round values and the edges of the short way of writing them.
    const double round[] = {100.0, -2500.0, 0.001, 0.00099, 12.5, 0.1 + 0.2, 99999.5, 100000.0, 1e-5, 1e20, -0.0};
    for (const double x : round) {
        insert.bindNumber(QStringLiteral("r"), x);
        insert.exec();
    }
    m_connection.commit();
    db::Query q(m_connection);
    q.setText(QStringLiteral("select r from t"));
    q.open();
    int rows = 0, differing = 0;
    while (q.next()) {
        ++rows;
        std::optional<qint64> general;
        try {
            general = db::Amount::fromVariant(q.valueAt(0)).raw();
        } catch (const belmire::Error&) {
        }
        std::optional<qint64> fast;
        try {
            fast = q.amount(QStringLiteral("r")).raw();
        } catch (const belmire::Error&) {
        }
        if (fast != general && ++differing < 5)
            ADD_FAILURE() << q.valueAt(0).toDouble();
        // Read as text too, as a lookup reads a price.
        if (q.text(QStringLiteral("r")) != db::variantText(q.valueAt(0)) && ++differing < 5)
            ADD_FAILURE() << "text of " << q.valueAt(0).toDouble();
    }
    EXPECT_EQ(rows, 30000 + int(std::size(round)));
    EXPECT_EQ(differing, 0);
}

TEST_F(NativeSqlite, SourcesOpenReadOnlyAndSayWhatTheyLack)
{
    const auto openError = [](db::Connection& c, const QString& udl) {
        try {
            c.open(udl);
        } catch (const belmire::Error& e) {
            return e.message();
        }
        return QStringLiteral("<no error>");
    };
    // The source is only read: a write through it is refused and the file keeps its rows.
    db::Connection source(QStringLiteral("源"));
    source.open(m_udl);
    db::Query insert(source);
    insert.setText(QStringLiteral("insert into t (id) values (1)"));
    EXPECT_THROW(insert.exec(), belmire::Error);
    EXPECT_TRUE(qtRows(QStringLiteral("select id from t")).isEmpty());
    source.close();

    // A Data Source that names a folder is called a folder, not a missing file.
    const QString folderUdl = m_dir.filePath(QStringLiteral("folder.udl"));
    testing_support::writeUdl(folderUdl, QStringLiteral("Provider=SQLite;Data Source=") + m_dir.path());
    EXPECT_EQ(openError(source, folderUdl),
              QStringLiteral("源数据库 %1 是一个文件夹，不是数据库文件（数据连接文件 %2 的 Data Source "
                             "要指向数据库文件本身）")
                  .arg(m_dir.path(), folderUdl));

    // A WAL-mode source in a folder the user cannot write: SQLite cannot make its -shm file, even to read.
    if (::geteuid() == 0)
        GTEST_SKIP() << "run as root, which writes every folder: the WAL case needs an ordinary user";
    QTemporaryDir walDir;
    SqliteDb wal(walDir.path(), QStringLiteral("wal.db"), QString());
    for (const char* sql : {"pragma journal_mode=wal", "create table k (a integer)", "insert into k values (1)"})
        wal.exec(QString::fromLatin1(sql));
    wal.db().close();
    const QString walUdl = m_dir.filePath(QStringLiteral("wal.udl"));
    testing_support::writeUdl(walUdl, QStringLiteral("Provider=SQLite;Data Source=") + wal.path());
    QFile::setPermissions(walDir.path(), QFileDevice::ReadOwner | QFileDevice::ExeOwner);
    const QString message = openError(source, walUdl);
    QFile::setPermissions(walDir.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    EXPECT_TRUE(message.startsWith(QStringLiteral("无法读取源数据库 ")) &&
                message.contains(QStringLiteral("WAL 模式")) && message.contains(QStringLiteral("wal.db-shm")) &&
                message.contains(QStringLiteral("这个文件夹不可写")))
        << message.toStdString();
}

TEST_F(NativeSqlite, TransactionsAndSavepointsUndoWhatTheyHeldWhenLeftUnended)
{
    const auto ids = [&] {
        QStringList out;
        for (const QVariantList& row : qtRows(QStringLiteral("select id from t order by id")))
            out << row[0].toString();
        return out.join(u',');
    };
    const auto insert = [&](int id) { m_connection.exec(QStringLiteral("insert into t (id) values (%1)").arg(id)); };
    {
        db::Transaction transaction(m_connection);
        insert(1);
        db::Savepoint mark(m_connection, QStringLiteral("belmire_row"));
        insert(2);
    }
    EXPECT_FALSE(m_connection.inTransaction());
    EXPECT_EQ(ids(), QString());
    {
        db::Transaction transaction(m_connection);
        insert(1);
        {
            db::Savepoint mark(m_connection, QStringLiteral("belmire_row"));
            insert(2);
        }
        {
            db::Savepoint mark(m_connection, QStringLiteral("belmire_row"));
            insert(3);
            mark.release();
        }
        {
            db::Savepoint mark(m_connection, QStringLiteral("belmire_row"));
            insert(4);
            mark.rollback();
        }
        transaction.commit();
    }
    EXPECT_EQ(ids(), QStringLiteral("1,3"));
}

// A batch of rows under one savepoint: undoing a row goes back to the savepoint and writes the rows
// before it again, with the values they had (of every kind, a text rebound or not, a parameter never
// bound), their triggers firing again; a change the log did not see makes it refuse, never lose it.
TEST_F(NativeSqlite, WriteLogWritesTheRowsBeforeAgain)
{
    m_db->exec(QStringLiteral("create table seen (id integer)"));
    m_db->exec(QStringLiteral("create trigger t_seen after insert on t begin insert into seen values (new.id); end"));
    m_db->exec(QStringLiteral("create unique index t_id on t (id)"));
    const auto rows = [&](const QString& sql) {
        db::Query q(m_connection);
        q.setText(sql);
        q.open();
        QStringList out;
        while (q.next()) {
            QStringList fields;
            for (int i = 0; i < q.fieldNames().size(); ++i)
                fields << q.valueAt(i).toString();
            out << fields.join(u'|');
        }
        return out;
    };
    const QString all = QStringLiteral("select id, hex(a), typeof(a), n, r, typeof(b) from t order by id");
    const QString seen = QStringLiteral("select id from seen order by id");
    m_connection.begin();
    m_connection.exec(QStringLiteral("savepoint belmire_row"));
    const auto log = m_connection.writeLog();
    ASSERT_NE(log, nullptr);
    db::Query insert(m_connection);
    insert.setText(QStringLiteral("insert into t (id, a, n, r, b) values (:id, :a, :n, :r, :b)"));
    db::Query update(m_connection);
    update.setText(QStringLiteral("update t set r = r + 1 where id = :id"));
    insert.bindText(QStringLiteral("a"), kChinese);
    size_t third = 0; // where the third row's writes begin
    for (int id = 1; id <= 3; ++id) {
        if (id == 3)
            third = log->size();
        insert.bindInteger(QStringLiteral("id"), id);
        insert.bindAmount(QStringLiteral("n"), db::Amount::fromRaw(12345 * id));
        insert.bindNumber(QStringLiteral("r"), 0.5 * id);
        insert.exec();
        update.bindInteger(QStringLiteral("id"), id);
        update.exec();
        insert.bindText(QStringLiteral("a"), "plain");
    }
    const QStringList before = rows(all);
    ASSERT_EQ(before.size(), 3);
    insert.bindInteger(QStringLiteral("id"), 1);
    EXPECT_THROW(insert.exec(), belmire::Error); // a refused write changes nothing and is not kept

    m_connection.exec(QStringLiteral("rollback to belmire_row"));
    EXPECT_TRUE(rows(all).isEmpty());
    ASSERT_TRUE(log->replay(log->size()));
    EXPECT_EQ(rows(all), before);
    EXPECT_EQ(rows(seen), (QStringList{"1", "2", "3"}));
    m_connection.exec(QStringLiteral("rollback to belmire_row"));
    ASSERT_TRUE(log->replay(third));
    EXPECT_EQ(rows(all), before.mid(0, 2));
    EXPECT_EQ(rows(seen), (QStringList{"1", "2"}));

    ASSERT_EQ(sqlite3_exec(dynamic_cast<db::SqliteBackend&>(db::backendOf(m_connection)).handle(), "delete from seen",
                           nullptr, nullptr, nullptr),
              SQLITE_OK);
    m_connection.exec(QStringLiteral("rollback to belmire_row"));
    EXPECT_FALSE(log->replay(log->size()));
    m_connection.rollback();
}

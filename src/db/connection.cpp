#include "db/connection.h"

#include "db/backend.h"

#include "db/faults.h"
#include "db/lock_wait.h"
#include "db/pg_session.h"
#include "db/query.h"
#include "db/sqlite_statement.h"
#include "textutil/error.h"
#include "textutil/gbk.h"

#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <libpq-fe.h>
#include <sqlite3.h>

namespace db {

QString statementTable(const QString& statement)
{
    static const QRegularExpression re(
        QStringLiteral(R"(\b(?:insert\s+into|update|delete\s+from|truncate\s+table|from)\s+([A-Za-z_]\w*))"),
        QRegularExpression::CaseInsensitiveOption);
    const auto m = re.match(statement);
    return m.hasMatch() ? m.captured(1) : QString();
}

Connection::Connection(QString role) : m_role(std::move(role)), m_backend(std::make_unique<Backend>()) {}

Connection::~Connection() { close(); }

QString Connection::where() const { return QStringLiteral("%1数据库 %2").arg(m_role, m_link.description); }

namespace {

// Byte 18 of a SQLite file's header is 2 in WAL mode.
bool inWalMode(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return false;
    const QByteArray header = f.read(20);
    return header.size() == 20 && header.startsWith("SQLite format 3") && header[18] == 2;
}

} // namespace

void Connection::checkReadable(sqlite3* handle)
{
    // Reading the schema is the first read; a WAL-mode file needs its -wal and -shm files for it.
    const int rc = sqlite3_exec(handle, "select count(*) from sqlite_master", nullptr, nullptr, nullptr);
    if (rc == SQLITE_OK)
        return;
    QString text = errorText(sqliteError(handle, rc));
    const int code = sqlite3_extended_errcode(handle);
    if (inWalMode(m_link.databaseName) && (code == SQLITE_READONLY_DIRECTORY || code == SQLITE_READONLY_CANTINIT ||
                                           code == SQLITE_READONLY_RECOVERY || (code & 0xFF) == SQLITE_CANTOPEN)) {
        const QFileInfo file(m_link.databaseName);
        text = QStringLiteral("它是 WAL 模式的 SQLite 数据库，读它也要在它的文件夹 %1 中建立（或已有）%2-wal 和 %2-shm "
                              "两个文件，而这个文件夹不可写：请让当前用户可以写这个文件夹，或把数据库复制到可写的文件夹"
                              "并改数据连接文件的 Data Source，或先在能写的地方把它改回 DELETE 日志模式"
                              "（PRAGMA journal_mode=DELETE）")
                   .arg(file.absolutePath(), file.fileName());
    }
    sqlite3_close_v2(handle);
    throw belmire::Error(QStringLiteral("无法读取%1数据库 %2：%3").arg(m_role, m_link.description, text));
}

void Connection::open(const QString& udlPath)
{
    close();
    m_link = readDataLink(udlPath);
    if (m_link.driver == QLatin1String("SQLite")) {
        m_dialect = Dialect::SQLite;
        // SQLite would create a missing file; a missing database is an error here.
        const QFileInfo file(m_link.databaseName);
        if (file.isDir())
            throw belmire::Error(QStringLiteral("%1数据库 %2 是一个文件夹，不是数据库文件（数据连接文件 %3 的 Data "
                                                "Source 要指向数据库文件本身）")
                                     .arg(m_role, m_link.databaseName, udlPath));
        if (!file.isFile())
            throw belmire::Error(
                QStringLiteral("%1数据库文件 %2 不存在（数据连接文件 %3）").arg(m_role, m_link.databaseName, udlPath));
        // The source is only read: it is opened so that nothing can write to it.
        const bool readOnly = m_role == QString::fromUtf8(kSourceRole);
        sqlite3* handle = nullptr;
        const int rc =
            sqlite3_open_v2(m_link.databaseName.toUtf8().constData(), &handle,
                            (readOnly ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE) | SQLITE_OPEN_NOMUTEX, nullptr);
        if (rc != SQLITE_OK) {
            const QString text =
                errorText(handle ? sqliteError(handle, rc) : DriverError{QStringLiteral("out of memory"), {}});
            sqlite3_close_v2(handle);
            throw belmire::Error(QStringLiteral("无法连接%1数据库 %2：%3").arg(m_role, m_link.description, text));
        }
        if (readOnly)
            checkReadable(handle);
        m_backend->sqlite = handle;
        sqlite3_busy_timeout(m_backend->sqlite, lockWaitMs());
        sqlite3_exec(m_backend->sqlite, "PRAGMA foreign_keys=OFF", nullptr, nullptr, nullptr);
    } else if (m_link.driver == QLatin1String("PostgreSQL")) {
        m_dialect = Dialect::PostgreSQL;
        DriverError error;
        m_backend->pg = PgSession::connect(
            m_link, [this](const DriverError& e) { return errorText(e); }, &error);
        if (!m_backend->pg)
            throw belmire::Error(
                QStringLiteral("无法连接%1数据库 %2：%3").arg(m_role, m_link.description, errorText(error)));
    } else {
        // ODBC: the database behind the link decides the dialect.
        auto link = std::make_unique<OdbcLink>();
        link->open(m_link.databaseName, where(), m_link.fallback);
        m_dialect = link->dialect();
        m_backend->odbc = std::move(link);
        m_backend->batch = std::make_unique<OdbcBatch>(*m_backend->odbc);
    }
    m_connected = true;
    settleCapabilities();
}

void Connection::close()
{
    for (Query* q : QSet<Query*>(m_backend->queries))
        q->dropStatement();
    if (m_inTransaction)
        rollback();
    m_backend->batch.reset();
    m_collations.clear();
    m_backend->odbc.reset();
    m_backend->pg.reset();
    if (m_backend->sqlite) {
        sqlite3_close_v2(m_backend->sqlite);
        m_backend->sqlite = nullptr;
    }
    m_backend->deferring = false;
    m_backend->sentTag = -1;
    m_inTransaction = false;
    m_connected = false;
    settleCapabilities();
}

std::unique_ptr<SqliteWriteLog> Connection::writeLog()
{
    return m_backend->sqlite ? std::make_unique<SqliteWriteLog>(m_backend->sqlite) : nullptr;
}

bool Connection::isOpen() const
{
    return m_backend->odbc ? m_backend->odbc->isOpen() : m_backend->sqlite || m_backend->pg;
}

Backend& backendOf(const Connection& connection) { return *connection.m_backend; }

bool Connection::accepts(Form form) const { return !m_backend->odbc || m_backend->odbc->accepts(form); }

void Connection::refuse(Form form)
{
    if (m_backend->odbc)
        m_backend->odbc->refuse(form);
}

QString Connection::answeredBy() const { return m_backend->odbc ? m_backend->odbc->answeredBy() : QString(); }

std::optional<QList<Trigger>> Connection::triggers(const QString& table)
{
    return m_backend->odbc ? m_backend->odbc->triggers(table) : QList<Trigger>();
}

bool Connection::transactionEnded() { return m_inTransaction && m_backend->odbc && !m_backend->odbc->inTransaction(); }

std::optional<DriverError> Connection::run(const QByteArray& sql)
{
    if (m_backend->sqlite) {
        const int rc = sqlite3_exec(m_backend->sqlite, sql.constData(), nullptr, nullptr, nullptr);
        if (rc != SQLITE_OK)
            return sqliteError(m_backend->sqlite, rc);
        return std::nullopt;
    }
    DriverError error;
    const PgResult r = m_backend->pg->execText(sql, &error);
    if (!r)
        return error;
    // A transaction with a failed statement in it ends in a rollback, told as success.
    if (sql == "COMMIT" && qstrcmp(PQcmdStatus(r.get()), "ROLLBACK") == 0)
        return DriverError{QStringLiteral("the transaction was rolled back: a statement in it had failed"),
                           QStringLiteral("25P02")};
    return std::nullopt;
}

void Connection::begin()
{
    m_backend->flush();
    if (m_inTransaction)
        return;
    if (m_backend->odbc) {
        try {
            m_backend->odbc->begin();
        } catch (const belmire::Error& e) {
            throw belmire::Error(QStringLiteral("%1数据库无法开始事务：%2").arg(m_role, e.message()));
        }
        m_inTransaction = true;
        return;
    }
    if (const auto error = run("BEGIN"))
        throw belmire::Error(QStringLiteral("%1数据库无法开始事务：%2").arg(m_role, errorText(*error)));
    m_inTransaction = true;
}

void Connection::commit()
{
    m_backend->flush();
    if (!m_inTransaction)
        return;
    QString text;
    if (faults::fail(faults::Kind::Commit)) {
        text = errorText(faults::error(faults::Kind::Commit));
    } else if (m_backend->odbc) {
        try {
            m_backend->odbc->commit();
        } catch (const belmire::Error& e) {
            text = e.message();
        }
    } else if (const auto error = run("COMMIT")) {
        text = errorText(*error);
    }
    if (!text.isNull()) {
        rollback();
        throw belmire::Error(QStringLiteral("%1数据库提交失败：%2").arg(m_role, text));
    }
    m_inTransaction = false;
}

void Connection::rollback()
{
    m_backend->discard();
    if (!m_inTransaction)
        return;
    m_inTransaction = false;
    if (m_backend->odbc) {
        try {
            m_backend->odbc->rollback();
        } catch (const belmire::Error&) {
            // A lost link has no transaction left to end.
        }
        return;
    }
    run("ROLLBACK"); // a lost server has no transaction left to end
}

void Connection::exec(const QString& statement)
{
    m_backend->flush();
    QString table = statementTable(statement);
    const auto fail = [&](const QString& text) { throw belmire::Error(QStringLiteral("表 %1：%2").arg(table, text)); };
    if (const QString held = lockWaitGivenUp(where(), statement, &table); !held.isEmpty())
        fail(held);
    if (faults::fail(faults::Kind::Execute))
        fail(errorText(faults::error(faults::Kind::Execute)));
    const auto failWith = [&](const DriverError& error) {
        const QString message = errorText(error);
        if (isLockWait(message))
            noteLockWaitGivenUp(where(), error.text, m_capabilities.locksWholeDatabase ? QStringLiteral("*") : table);
        fail(message);
    };
    const QString text = rewrite(statement, m_dialect);
    if (m_backend->odbc) {
        try {
            m_backend->odbc->execute(text);
        } catch (const belmire::Error& e) {
            if (isLockWait(e.message()))
                noteLockWaitGivenUp(where(), e.message(),
                                    m_capabilities.locksWholeDatabase ? QStringLiteral("*") : table);
            fail(e.message());
        }
    } else if (m_backend->sqlite) {
        SqliteStatement s(m_backend->sqlite, text);
        if (!s.ok() || !s.execute())
            failWith(s.error());
    } else {
        DriverError error;
        if (!m_backend->pg->execText(text.toUtf8(), &error))
            failWith(error);
    }
}

QString Connection::errorText(const DriverError& error) const
{
    QString text = error.text.trimmed();
    const QString& code = error.code;
    const bool diskFull = m_dialect == Dialect::SQLite ? code == u"13" || text.contains(u"database or disk is full")
                                                       : m_dialect == Dialect::PostgreSQL && code == u"53100";
    // Errors of the client library itself carry no SQLSTATE: the server is out of reach.
    const bool lost = m_connected && m_dialect == Dialect::PostgreSQL &&
                      (code.isEmpty() || code.startsWith(u"08") || code.startsWith(u"57P"));
    const bool locked = m_dialect == Dialect::SQLite ? (code.toInt() & 0xff) == SQLITE_BUSY
                                                     : m_dialect == Dialect::PostgreSQL && code == u"55P03";
    if (locked)
        return lockWaitText(where(), text);
    if (diskFull || lost) {
        text = text.simplified();
        text = diskFull ? QStringLiteral("磁盘已满（%1）：%2").arg(where(), text)
                        : QStringLiteral("与%1 的连接已断开：%2").arg(where(), text);
    }
    return text;
}

} // namespace db
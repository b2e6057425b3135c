#include "db/connection.h"

#include "db/faults.h"
#include "db/lock_wait.h"
#include "db/query.h"
#include "textutil/error.h"

#include <QAtomicInt>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>

#include <sqlite3.h>

namespace db {
namespace {

QAtomicInt g_counter;

} // namespace

QString statementTable(const QString& statement)
{
    static const QRegularExpression re(
        QStringLiteral(R"(\b(?:insert\s+into|update|delete\s+from|truncate\s+table|from)\s+([A-Za-z_]\w*))"),
        QRegularExpression::CaseInsensitiveOption);
    const auto m = re.match(statement);
    return m.hasMatch() ? m.captured(1) : QString();
}

Connection::Connection(QString role) : m_role(std::move(role)) {}

Connection::~Connection() { close(); }

void Connection::open(const QString& udlPath)
{
    close();
    m_spec = readDataLink(udlPath);
    if (m_spec.driver == QLatin1String("QSQLITE")) {
        m_dialect = Dialect::SQLite;
        // Qt would create a missing file; a missing database is an error here.
        if (!QFileInfo(m_spec.databaseName).isFile())
            throw belmire::Error(QStringLiteral("%1数据库文件 %2 不存在（数据连接文件 %3）")
                                     .arg(m_role, m_spec.databaseName, udlPath));
    } else if (m_spec.driver == QLatin1String("QPSQL")) {
        m_dialect = Dialect::PostgreSQL;
    } else {
        // ODBC: the database behind the link decides the dialect.
        auto link = std::make_unique<OdbcLink>();
        link->open(m_spec.databaseName, QStringLiteral("%1数据库 %2").arg(m_role, m_spec.description));
        m_dialect = link->dialect();
        m_odbc = std::move(link);
        m_batch = std::make_unique<OdbcBatch>(*m_odbc);
        m_connected = true;
        return;
    }
    if (!QSqlDatabase::isDriverAvailable(m_spec.driver))
        throw belmire::Error(QStringLiteral("%1数据库驱动 %2 未安装").arg(m_role, m_spec.driver));

    m_name = QStringLiteral("belmire-%1-%2").arg(m_role).arg(g_counter.fetchAndAddRelaxed(1));
    QSqlDatabase db = QSqlDatabase::addDatabase(m_spec.driver, m_name);
    db.setDatabaseName(m_spec.databaseName);
    if (!m_spec.host.isEmpty())
        db.setHostName(m_spec.host);
    if (m_spec.port > 0)
        db.setPort(m_spec.port);
    if (!m_spec.user.isEmpty())
        db.setUserName(m_spec.user);
    if (!m_spec.password.isEmpty())
        db.setPassword(m_spec.password);
    if (!m_spec.connectOptions.isEmpty())
        db.setConnectOptions(m_spec.connectOptions);
    const auto refuse = [&](const QSqlError& error) {
        const QString text = errorText(error);
        db = QSqlDatabase();
        QSqlDatabase::removeDatabase(m_name);
        m_name.clear();
        throw belmire::Error(QStringLiteral("无法连接%1数据库 %2：%3").arg(m_role, m_spec.description, text));
    };
    if (!db.open())
        refuse(db.lastError());
    if (m_dialect == Dialect::SQLite) {
        QSqlQuery q(db);
        q.exec(QStringLiteral("PRAGMA foreign_keys=OFF"));
        const QVariant handle = db.driver()->handle();
        if (handle.isValid() && qstrcmp(handle.typeName(), "sqlite3*") == 0)
            m_sqlite = *static_cast<sqlite3* const*>(handle.constData());
        if (m_sqlite)
            sqlite3_busy_timeout(m_sqlite, lockWaitMs());
    }
    if (m_dialect == Dialect::PostgreSQL) {
        // A statement blocked by another session's lock gives up instead of waiting for ever.
        QSqlError error;
        {
            QSqlQuery q(db);
            if (!q.exec(QStringLiteral("SET lock_timeout = %1").arg(lockWaitMs())))
                error = q.lastError();
        }
        if (error.isValid())
            refuse(error);
        const QVariant handle = db.driver()->handle();
        if (handle.isValid() && (qstrcmp(handle.typeName(), "pg_conn*") == 0 || qstrcmp(handle.typeName(), "PGconn*") == 0))
            m_pipeline = std::make_unique<PgPipeline>(*static_cast<pg_conn* const*>(handle.constData()),
                                                      [this](const QSqlError& e) { return errorText(e); });
    }
    m_connected = true;
}

void Connection::close()
{
    if (m_odbc) {
        for (Query* q : std::as_const(m_queries))
            q->dropStatement();
        m_batch.reset();
        m_deferring = false;
        m_sentTag = -1;
        if (m_inTransaction) {
            try {
                m_odbc->rollback();
            } catch (const belmire::Error&) {
            }
        }
        m_odbc.reset();
        m_inTransaction = false;
        m_connected = false;
        return;
    }
    if (m_name.isEmpty())
        return;
    for (Query* q : std::as_const(m_queries))
        q->dropStatement();
    m_sqlite = nullptr;
    m_pipeline.reset();
    m_deferring = false;
    m_sentTag = -1;
    {
        QSqlDatabase db = QSqlDatabase::database(m_name, false);
        if (db.isOpen()) {
            if (m_inTransaction)
                db.rollback();
            db.close();
        }
    }
    QSqlDatabase::removeDatabase(m_name);
    m_name.clear();
    m_inTransaction = false;
    m_connected = false;
}

bool Connection::isOpen() const
{
    return m_odbc ? m_odbc->isOpen() : !m_name.isEmpty() && database().isOpen();
}

QSqlDatabase Connection::database() const { return QSqlDatabase::database(m_name, false); }

void Connection::queueWrite(const PgStatement& statement, std::vector<std::optional<QByteArray>> values,
                            const QString& table)
{
    m_pipeline->queue(statement, std::move(values), table, m_tag, m_position++);
    if (!m_deferring)
        flushDeferred();
}

void Connection::queueWrite(const odbc::Markers& statement, const std::vector<odbc::Parameter>& values,
                            const QString& table)
{
    m_batch->queue(statement, values, table, m_tag, m_position++);
    if (!m_deferring)
        flushDeferred();
}

qsizetype Connection::deferredWrites() const
{
    return m_batch ? m_batch->size() : m_pipeline ? m_pipeline->size() : 0;
}

void Connection::queueControl(const QString& statement)
{
    if (m_batch)
        m_batch->queueControl(statement, m_tag, m_position++);
    else
        m_pipeline->queueSimple(statement.toUtf8(), m_tag, m_position++);
}

void Connection::dropRowWrites(int tag)
{
    if (m_batch)
        m_batch->dropTag(tag);
    if (m_pipeline)
        m_pipeline->dropTag(tag);
}

void Connection::flushDeferred()
{
    // The sent tag is set also when the flush fails: part of that row may have been applied.
    if (m_batch && !m_batch->empty()) {
        m_sentTag = m_batch->lastTag();
        m_batch->flush();
    }
    if (!m_pipeline || m_pipeline->empty())
        return;
    m_sentTag = m_pipeline->lastTag();
    m_pipeline->flush();
}

void Connection::begin()
{
    flushDeferred();
    if (m_inTransaction)
        return;
    if (m_odbc) {
        try {
            m_odbc->begin();
        } catch (const belmire::Error& e) {
            throw belmire::Error(QStringLiteral("%1数据库无法开始事务：%2").arg(m_role, e.message()));
        }
        m_inTransaction = true;
        return;
    }
    QSqlDatabase db = database();
    if (!db.transaction())
        throw belmire::Error(QStringLiteral("%1数据库无法开始事务：%2").arg(m_role, errorText(db.lastError())));
    m_inTransaction = true;
}

void Connection::commit()
{
    flushDeferred();
    if (!m_inTransaction)
        return;
    if (m_odbc) {
        QString text;
        if (faults::fail(faults::Kind::Commit)) {
            text = errorText(faults::error(faults::Kind::Commit));
        } else {
            try {
                m_odbc->commit();
            } catch (const belmire::Error& e) {
                text = e.message();
            }
        }
        if (!text.isNull()) {
            rollback();
            throw belmire::Error(QStringLiteral("%1数据库提交失败：%2").arg(m_role, text));
        }
        m_inTransaction = false;
        return;
    }
    QSqlDatabase db = database();
    const bool injected = faults::fail(faults::Kind::Commit);
    if (injected || !db.commit()) {
        const QString text = errorText(injected ? faults::error(faults::Kind::Commit) : db.lastError());
        db.rollback();
        m_inTransaction = false;
        throw belmire::Error(QStringLiteral("%1数据库提交失败：%2").arg(m_role, text));
    }
    m_inTransaction = false;
}

void Connection::rollback()
{
    if (m_pipeline)
        m_pipeline->discard();
    if (m_batch)
        m_batch->discard();
    if (!m_inTransaction)
        return;
    m_inTransaction = false;
    if (m_odbc) {
        try {
            m_odbc->rollback();
        } catch (const belmire::Error&) {
            // A lost link has no transaction left to end.
        }
        return;
    }
    database().rollback();
}

void Connection::exec(const QString& statement)
{
    flushDeferred();
    if (m_odbc) {
        const QString table = statementTable(statement);
        if (faults::fail(faults::Kind::Execute))
            throw belmire::Error(QStringLiteral("表 %1：%2").arg(table, errorText(faults::error(faults::Kind::Execute))));
        try {
            m_odbc->execute(rewrite(statement, m_dialect));
        } catch (const belmire::Error& e) {
            throw belmire::Error(QStringLiteral("表 %1：%2").arg(table, e.message()));
        }
        return;
    }
    QSqlQuery q(database());
    const bool injected = faults::fail(faults::Kind::Execute);
    if (injected || !q.exec(rewrite(statement, m_dialect))) {
        const QString table = statementTable(statement);
        const QSqlError error = injected ? faults::error(faults::Kind::Execute) : q.lastError();
        throw belmire::Error(QStringLiteral("表 %1：%2").arg(table, errorText(error)));
    }
}

QString Connection::errorText(const odbc::Failure& failure) const { return m_odbc->errorText(failure); }

QString Connection::errorText(const QSqlError& error) const
{
    QString text = error.databaseText().trimmed();
    if (text.isEmpty())
        text = error.text().trimmed();
    if (text.isEmpty())
        text = error.driverText().trimmed();
    const QString code = error.nativeErrorCode();
    const QString where = QStringLiteral("%1数据库 %2").arg(m_role, m_spec.description);
    const bool diskFull = m_dialect == Dialect::SQLite ? code == u"13" || text.contains(u"database or disk is full")
                                                       : m_dialect == Dialect::PostgreSQL && code == u"53100";
    // Errors of the client library itself carry no SQLSTATE (Qt appends it as "()"): the server is out of reach.
    const bool lost = m_connected && m_dialect == Dialect::PostgreSQL && error.type() != QSqlError::NoError &&
                      (code.isEmpty() || code.startsWith(u"08") || code.startsWith(u"57P"));
    const bool locked = m_dialect == Dialect::SQLite ? (code.toInt() & 0xff) == SQLITE_BUSY
                                                     : m_dialect == Dialect::PostgreSQL && code == u"55P03";
    if (locked)
        return lockWaitText(where, text.simplified());
    if (diskFull || lost) {
        text = text.simplified();
        if (text.endsWith(QLatin1String(" ()")))
            text.chop(3);
        text = diskFull ? QStringLiteral("磁盘已满（%1）：%2").arg(where, text)
                        : QStringLiteral("与%1 的连接已断开：%2").arg(where, text);
    }
    return text;
}

} // namespace db

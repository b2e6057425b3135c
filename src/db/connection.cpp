#include "db/connection.h"

#include "db/backend.h"

#include "db/lock_wait.h"
#include "db/query.h"
#include "db/sqlite_statement.h"
#include "textutil/error.h"

#include <QRegularExpression>

namespace db {

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

QString Connection::where() const { return QStringLiteral("%1数据库 %2").arg(m_role, m_link.description); }

void Connection::open(const QString& udlPath)
{
    close();
    m_link = readDataLink(udlPath);
    std::unique_ptr<Backend> backend = openBackend(*this, m_link, udlPath);
    if (m_wrap)
        backend = m_wrap(std::move(backend));
    m_dialect = backend->dialect();
    m_forms.opened(m_dialect);
    m_backend = std::move(backend);
    settleCapabilities();
}

void Connection::close()
{
    if (m_backend) {
        for (Query* q : QSet<Query*>(m_queries))
            q->dropStatement();
        if (m_inTransaction)
            rollback();
    }
    m_backend.reset();
    m_inTransaction = false;
    settleCapabilities();
}

std::unique_ptr<SqliteWriteLog> Connection::writeLog() { return m_backend ? m_backend->writeLog() : nullptr; }

bool Connection::isOpen() const { return m_backend && m_backend->isOpen(); }

Backend* backendIfOpen(const Connection& connection) { return connection.m_backend.get(); }

Backend& backendOf(const Connection& connection)
{
    Backend* backend = backendIfOpen(connection);
    if (!backend)
        throw belmire::Error(QStringLiteral("%1数据库没有连接").arg(connection.role()));
    return *backend;
}

void wrapBackend(Connection& connection, std::function<std::unique_ptr<Backend>(std::unique_ptr<Backend>)> wrap)
{
    connection.m_wrap = std::move(wrap);
}

QString Connection::answeredBy() const { return m_backend ? m_backend->answeredBy() : QString(); }

std::optional<QList<Trigger>> Connection::triggers(const QString& table)
{
    return m_backend ? m_backend->triggers(table) : QList<Trigger>();
}

bool Connection::transactionEnded() { return m_inTransaction && m_backend && m_backend->transactionEnded(); }

void Connection::begin()
{
    Backend& backend = backendOf(*this);
    backend.flush();
    if (m_inTransaction)
        return;
    if (const auto error = backend.begin())
        throw belmire::Error(QStringLiteral("%1数据库无法开始事务：%2").arg(m_role, *error));
    m_inTransaction = true;
}

void Connection::commit()
{
    if (m_backend)
        m_backend->flush();
    if (!m_inTransaction) // a closed connection has none
        return;
    if (const auto error = m_backend->commit()) {
        rollback();
        throw belmire::Error(QStringLiteral("%1数据库提交失败：%2").arg(m_role, *error));
    }
    m_inTransaction = false;
}

void Connection::rollback()
{
    if (!m_backend)
        return;
    m_backend->discard();
    if (!m_inTransaction)
        return;
    m_inTransaction = false;
    m_backend->rollback();
}

void Connection::exec(const QString& statement)
{
    Backend& backend = backendOf(*this);
    backend.flush();
    QString table = statementTable(statement);
    if (const QString held = lockWaitGivenUp(where(), statement, &table); !held.isEmpty())
        throw belmire::Error(QStringLiteral("表 %1：%2").arg(table, held));
    if (const auto failure = backend.exec(rewrite(statement, m_dialect))) {
        if (isLockWait(failure->message))
            noteLockWaitGivenUp(where(), failure->driverText,
                                m_capabilities.locksWholeDatabase ? QStringLiteral("*") : table);
        throw belmire::Error(QStringLiteral("表 %1：%2").arg(table, failure->message));
    }
}

} // namespace db

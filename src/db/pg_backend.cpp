#include "db/pg_backend.h"

#include "db/connection.h"
#include "db/engine_query.h"
#include "textutil/error.h"

#include <libpq-fe.h>

namespace db {

std::unique_ptr<Backend> openPostgres(Connection& connection, const LinkSettings& link)
{
    auto backend = std::make_unique<PgBackend>(connection);
    DriverError error;
    if (!backend->connect(link, &error))
        throw belmire::Error(QStringLiteral("无法连接%1数据库 %2：%3")
                                 .arg(connection.role(), link.description, backend->errorText(error)));
    return backend;
}

PgBackend::PgBackend(const Connection& connection) : m_connection(connection) {}

bool PgBackend::connect(const LinkSettings& link, DriverError* error)
{
    m_session = PgSession::connect(
        link, [this](const DriverError& e) { return errorText(e); }, error);
    m_connected = m_session != nullptr;
    return m_connected;
}

std::unique_ptr<EngineQuery> PgBackend::query(Connection& connection, const QString& table)
{
    return pgQuery(connection, table, *this);
}

void PgBackend::queueWrite(const PgStatement& statement, PgValues values, const QString& table)
{
    m_session->pipeline().queue(statement, std::move(values), table, m_deferral.tag, m_deferral.position++);
    if (!m_deferral.deferring)
        flush();
}

void PgBackend::queueControl(const QString& statement)
{
    m_session->pipeline().queueSimple(statement.toUtf8(), m_deferral.tag, m_deferral.position++);
}

void PgBackend::flush()
{
    PgPipeline& pipeline = m_session->pipeline();
    if (pipeline.empty())
        return;
    // The sent tag is set also when the flush fails: part of that row may have been applied.
    m_deferral.sentTag = pipeline.lastTag();
    pipeline.flush();
}

std::optional<Backend::Failure> PgBackend::exec(const QString& text)
{
    DriverError error;
    if (m_session->execText(text.toUtf8(), &error))
        return std::nullopt;
    return Failure{errorText(error), error.text};
}

std::optional<DriverError> PgBackend::run(const QByteArray& sql)
{
    DriverError error;
    const PgResult r = m_session->execText(sql, &error);
    if (!r)
        return error;
    // A transaction with a failed statement in it ends in a rollback, told as success.
    if (sql == "COMMIT" && qstrcmp(PQcmdStatus(r.get()), "ROLLBACK") == 0)
        return DriverError{QStringLiteral("the transaction was rolled back: a statement in it had failed"),
                           QStringLiteral("25P02")};
    return std::nullopt;
}

QString PgBackend::errorText(const DriverError& error) const
{
    const QString& code = error.code;
    // Errors of the client library itself carry no SQLSTATE: the server is out of reach.
    const bool lost = m_connected && (code.isEmpty() || code.startsWith(u"08") || code.startsWith(u"57P"));
    return classifiedErrorText(m_connection, error, code == u"53100", code == u"55P03", lost);
}

void PgBackend::settle(Capabilities& capabilities) const { capabilities.defersWrites = true; }

} // namespace db

#include "db/odbc_backend.h"

#include "db/connection.h"
#include "db/engine_query.h"
#include "textutil/error.h"

namespace db {

std::unique_ptr<Backend> openOdbc(Connection& connection, const LinkSettings& link)
{
    // The database behind the link decides the dialect.
    auto backend = std::make_unique<OdbcBackend>();
    backend->link().open(link.databaseName, connection.where(), link.fallback);
    return backend;
}

OdbcBackend::OdbcBackend() : m_batch(std::make_unique<OdbcBatch>(m_link)) {}

// The batch goes before the link it sends on.
OdbcBackend::~OdbcBackend() { m_batch.reset(); }

std::unique_ptr<EngineQuery> OdbcBackend::query(Connection& connection, const QString& table)
{
    return odbcQuery(connection, table, *this);
}

void OdbcBackend::queueWrite(const odbc::Markers& statement, const std::vector<odbc::Parameter>& values,
                             const QString& table)
{
    m_batch->queue(statement, values, table, m_deferral.tag, m_deferral.position++);
    if (!m_deferral.deferring)
        flush();
}

void OdbcBackend::queueControl(const QString& statement)
{
    m_batch->queueControl(statement, m_deferral.tag, m_deferral.position++);
}

void OdbcBackend::flush()
{
    if (m_batch->empty())
        return;
    // The sent tag is set also when the flush fails: part of that row may have been applied.
    m_deferral.sentTag = m_batch->lastTag();
    m_batch->flush();
}

std::optional<Backend::Failure> OdbcBackend::exec(const QString& text)
{
    try {
        m_link.execute(text);
    } catch (const belmire::Error& e) {
        return Failure{e.message(), e.message()};
    }
    return std::nullopt;
}

std::optional<QString> OdbcBackend::begin()
{
    try {
        m_link.begin();
    } catch (const belmire::Error& e) {
        return e.message();
    }
    return std::nullopt;
}

std::optional<QString> OdbcBackend::commit()
{
    try {
        m_link.commit();
    } catch (const belmire::Error& e) {
        return e.message();
    }
    return std::nullopt;
}

void OdbcBackend::rollback()
{
    try {
        m_link.rollback();
    } catch (const belmire::Error&) {
        // A lost link has no transaction left to end.
    }
}

void OdbcBackend::settle(Capabilities& capabilities) const { capabilities.defersWrites = true; }

} // namespace db

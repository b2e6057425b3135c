#pragma once

#include "db/backend.h"
#include "db/pg_session.h"

namespace db {

// A PostgreSQL session through libpq; writes go through its pipeline.
class PgBackend final : public Backend {
public:
    explicit PgBackend(const Connection& connection);

    // Connects; false and the error when that fails.
    bool connect(const LinkSettings& link, DriverError* error);
    PgSession& session() { return *m_session; }
    // Queues a write of the current row; sent at once unless writes are deferred.
    void queueWrite(const PgStatement& statement, PgValues values, const QString& table);

    Dialect dialect() const override { return Dialect::PostgreSQL; }
    std::unique_ptr<EngineQuery> query(Connection& connection, const QString& table) override;
    std::optional<Failure> exec(const QString& text) override;
    QString errorText(const DriverError& error) const override;
    void settle(Capabilities& capabilities) const override;

    Deferral& deferral() override { return m_deferral; }
    qsizetype deferredWrites() const override { return m_session->pipeline().size(); }
    void queueControl(const QString& statement) override;
    void dropRowWrites(int rowTag) override { m_session->pipeline().dropTag(rowTag); }
    void flush() override;
    void discard() override { m_session->pipeline().discard(); }

private:
    std::optional<DriverError> run(const QByteArray& sql);
    std::optional<DriverError> control(const char* sql) override { return run(sql); }

    const Connection& m_connection;
    std::unique_ptr<PgSession> m_session;
    bool m_connected = false; // a later error without SQLSTATE means the server went away
    Deferral m_deferral;
};

} // namespace db

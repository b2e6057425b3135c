#pragma once

#include "db/backend.h"

#include <memory>

struct sqlite3;

namespace db {

// An SQLite database file through the C library.
class SqliteBackend final : public Backend {
public:
    SqliteBackend(const Connection& connection, sqlite3* handle);
    ~SqliteBackend() override;

    sqlite3* handle() const { return m_handle; }
    // Where the write log recording on this handle is found, while one lives.
    SqliteWriteLog* const* recording() const { return m_recording.get(); }

    Dialect dialect() const override { return Dialect::SQLite; }
    std::unique_ptr<EngineQuery> query(Connection& connection, const QString& table) override;
    std::optional<Failure> exec(const QString& text) override;
    QString errorText(const DriverError& error) const override;
    void settle(Capabilities& capabilities) const override;
    std::unique_ptr<SqliteWriteLog> writeLog() override;
    Deferral& deferral() override { return m_deferral; }

private:
    std::optional<DriverError> run(const char* sql);
    std::optional<DriverError> control(const char* sql) override { return run(sql); }

    const Connection& m_connection;
    sqlite3* m_handle;
    std::shared_ptr<SqliteWriteLog*> m_recording = std::make_shared<SqliteWriteLog*>(nullptr);
    Deferral m_deferral;
};

// The error text of an SQLite call for a connection's messages: a full disk and
// a lock wait given up say so and name the database.
QString sqliteErrorText(const Connection& connection, const DriverError& error);

} // namespace db

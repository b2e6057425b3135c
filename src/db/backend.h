#pragma once

#include "db/capabilities.h"
#include "db/dialect.h"
#include "db/driver_error.h"

#include <QList>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

namespace db {

class Connection;
class EngineQuery;
struct LinkSettings;
class SqliteWriteLog;

// The row writer's bookkeeping of deferred writes: whether writes wait, the
// row whose writes are being queued, how many it queued so far, and the row of
// the last write flushed.
struct Deferral {
    bool deferring = false;
    int tag = 0;
    int position = 0;
    int sentTag = -1;
};

// The engine behind an open Connection, for the layer's own classes: SQLite
// through sqlite3, PostgreSQL through libpq, or an ODBC link, each in a class
// of its own. The connection hands it everything that depends on the engine.
// Writes deferred on PostgreSQL (its pipeline) and ODBC links (a batch) wait
// here until flushed: any other statement, a commit or flush() sends them first.
class Backend {
public:
    Backend() = default;
    virtual ~Backend() = default;
    Backend(const Backend&) = delete;
    Backend& operator=(const Backend&) = delete;

    virtual Dialect dialect() const = 0;
    virtual bool isOpen() const { return true; }
    // The statement of a Query on table, on this engine.
    virtual std::unique_ptr<EngineQuery> query(Connection& connection, const QString& table) = 0;

    // A statement that failed: the message for the user, and the database's own
    // text, which names what a lock wait was for.
    struct Failure {
        QString message;
        QString driverText;
    };
    // Runs a text as it is (already in the dialect); the failure, if any.
    virtual std::optional<Failure> exec(const QString& text) = 0;
    // Transaction control; the database's message when it fails. Sent as
    // statement texts through control() unless an engine has calls of its own.
    virtual std::optional<QString> begin() { return controlled("BEGIN"); }
    virtual std::optional<QString> commit() { return controlled("COMMIT"); }
    virtual void rollback() { control("ROLLBACK"); } // a lost connection has no transaction left to end
    // Whether the server ended the transaction on its own (SQL Server after certain errors).
    virtual bool transactionEnded() { return false; }

    // The database's own text of an error, unaltered; a full disk, a lock wait
    // given up and a lost server connection say so and name the database.
    virtual QString errorText(const DriverError& error) const { return error.text.trimmed(); }

    // Statement forms the server takes (StatementForms::accepts).
    virtual bool accepts(Form) const { return true; }
    virtual void refuse(Form) {}
    virtual QString answeredBy() const { return {}; }
    virtual std::optional<QList<Trigger>> triggers(const QString&) { return QList<Trigger>(); }
    // Sets the engine's part of the capabilities (defersWrites, keepsAnyTextBytes).
    virtual void settle(Capabilities&) const {}
    // SQLite: the log of the writes made since a savepoint (Connection::writeLog).
    virtual std::unique_ptr<SqliteWriteLog> writeLog();

    // Deferred writes (DeferredWriter).
    virtual Deferral& deferral() = 0;
    virtual qsizetype deferredWrites() const { return 0; }
    // Rows and queued statements a flush takes at most.
    virtual size_t rowsPerFlush() const { return 250; }
    virtual qsizetype writesPerFlush() const { return 1000; }
    // Queues a row's savepoint statement or its release (empty: the row's end only).
    virtual void queueControl(const QString&) {}
    virtual void dropRowWrites(int) {}
    virtual void flush() {}
    virtual void discard() {} // drops every write waiting

protected:
    // Runs a transaction-control statement; the error when it fails.
    virtual std::optional<DriverError> control(const char*) { return std::nullopt; }

private:
    std::optional<QString> controlled(const char* sql)
    {
        if (const auto error = control(sql))
            return errorText(*error);
        return std::nullopt;
    }
};

// Opens the engine the data link names; errors name the connection's role.
// Throws belmire::Error.
std::unique_ptr<Backend> openBackend(Connection& connection, const LinkSettings& link, const QString& udlPath);
std::unique_ptr<Backend> openSqlite(Connection& connection, const LinkSettings& link, const QString& udlPath);
std::unique_ptr<Backend> openPostgres(Connection& connection, const LinkSettings& link);
std::unique_ptr<Backend> openOdbc(Connection& connection, const LinkSettings& link);

// An error's text for a connection's messages: a full disk, a lock wait given
// up and a lost server connection say so and name the database.
QString classifiedErrorText(const Connection& connection, const DriverError& error, bool diskFull, bool locked,
                            bool lost);

// The backend of an open connection. Throws belmire::Error when it is closed.
Backend& backendOf(const Connection& connection);
// The backend of a connection, null while it is closed.
Backend* backendIfOpen(const Connection& connection);

// From the next open on, the connection's backend stands behind what wrap
// makes of it (a test's stand-in, as faults::inject installs).
void wrapBackend(Connection& connection, std::function<std::unique_ptr<Backend>(std::unique_ptr<Backend>)> wrap);

} // namespace db

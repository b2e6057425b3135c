#pragma once

#include "db/odbc_batch.h"
#include "db/odbc_link.h"
#include "db/pg_session.h"

#include <QSet>
#include <QString>

#include <memory>
#include <vector>

struct sqlite3;

namespace db {

class Connection;
class Query;

// The engine behind a Connection, for the layer's own classes: while it is
// open exactly one of sqlite, pg and odbc is set. Writes deferred on
// PostgreSQL (its pipeline) and ODBC links (a batch) wait here, tagged with
// the row that queued them, until flushed: any other statement, a commit or
// flush() sends them first.
struct Backend {
    sqlite3* sqlite = nullptr;
    std::unique_ptr<PgSession> pg;
    std::unique_ptr<OdbcLink> odbc;
    std::unique_ptr<OdbcBatch> batch;
    // Queries holding statements on the handle; closing drops their statements first.
    QSet<Query*> queries;

    bool deferring = false;
    int tag = 0;      // the row whose writes are being queued
    int position = 0; // writes that row queued so far
    int sentTag = -1; // the row of the last write flushed

    qsizetype deferredWrites() const;
    void queueWrite(const PgStatement& statement, PgValues values, const QString& table);
    void queueWrite(const odbc::Markers& statement, const std::vector<odbc::Parameter>& values, const QString& table);
    void queueControl(const QString& statement);
    void dropRowWrites(int rowTag);
    void flush();
    void discard(); // drops every write waiting
};

// The backend of a connection.
Backend& backendOf(const Connection& connection);

} // namespace db

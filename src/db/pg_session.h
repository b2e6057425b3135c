#pragma once

#include "db/driver_error.h"
#include "db/pg_pipeline.h"

#include <QByteArray>
#include <QList>
#include <QStringList>
#include <QVariant>

#include <memory>
#include <optional>
#include <vector>

struct pg_conn;
struct pg_result;

namespace db {

struct LinkSettings;

// A result of libpq's, cleared when it goes.
struct PgResultFree {
    void operator()(pg_result* result) const;
};
using PgResult = std::unique_ptr<pg_result, PgResultFree>;

using PgValues = std::vector<std::optional<QByteArray>>; // UTF-8 texts, nullopt for NULL

// One PostgreSQL session through libpq: statements run with their whole
// result, row sets read through server-side cursors a chunk at a time, writes
// through the pipeline.
class PgSession {
public:
    // Connects (UTF-8 client encoding, ISO dates, lock_timeout set to the lock
    // wait). On failure returns nullptr and the library's error.
    static std::unique_ptr<PgSession> connect(const LinkSettings& link, PgPipeline::ErrorText errorText,
                                              DriverError* error);
    ~PgSession();
    PgSession(const PgSession&) = delete;
    PgSession& operator=(const PgSession&) = delete;

    PgPipeline& pipeline() { return m_pipeline; }
    bool inTransactionBlock() const;

    // Runs one statement with parameters ($1, ...); nullptr and the error when it fails.
    PgResult exec(const QByteArray& sql, const PgValues& values, DriverError* error);
    // Runs a text of one or more statements without parameters.
    PgResult execText(const QByteArray& sql, DriverError* error);

    // Row sets outside a transaction block: a cursor held past the statement
    // (the server keeps the rows, the program one chunk of them). declare sends
    // DECLARE and the first FETCH in one round trip.
    QByteArray newCursorName();
    PgResult declare(const QByteArray& cursor, const QByteArray& select, const PgValues& values, int chunk,
                     DriverError* error);
    PgResult fetch(const QByteArray& cursor, int chunk, DriverError* error);
    // Closed with the next round trip: no round trip of its own.
    void closeLater(const QByteArray& cursor) { m_closing.append(cursor); }

private:
    explicit PgSession(pg_conn* connection, PgPipeline::ErrorText errorText);
    void sendClosings();

    pg_conn* m_conn;
    PgPipeline m_pipeline;
    QList<QByteArray> m_closing;
    int m_cursors = 0;
};

// The value of a field in the form the rest of the layer reads it: bool,
// integers, double (float columns), QString (texts and numeric), QDate,
// QDateTime, QByteArray (bytea); a null QVariant of QString for NULL.
QVariant pgValue(const pg_result* result, int row, int column);
// A text field's bytes as GBK; other fields as variantText gives them.
QByteArray pgText(const pg_result* result, int row, int column);

// Whether a statement is a query a cursor can run (SELECT, VALUES, WITH ... SELECT).
bool pgReturnsRows(const QByteArray& sql);

} // namespace db

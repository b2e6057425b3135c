#pragma once

#include "db/driver_error.h"
#include "textutil/error.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>

#include <functional>
#include <optional>
#include <utility>
#include <vector>

struct pg_conn;
struct pg_result;

namespace db {

// A failed result's error; the session's own (no SQLSTATE: the client library failed).
DriverError pgResultError(const pg_result* result);
DriverError pgConnectionError(const pg_conn* connection);

// A write statement in the form the server takes: ":name" placeholders as $1,
// $2, ... (a name used twice is one parameter), outside quotes, "::" casts kept.
struct PgStatement {
    QByteArray text;      // UTF-8
    QList<QString> names; // parameter names, index k is $k+1
    int parameter(const QString& name) const;
};
PgStatement pgStatement(const QString& text);

// The whole rows among queued writes tagged by row, [from, to): not a row at
// the front whose savepoint went with an earlier flush, nor one not finished
// at the back. opens(e): e sets a row's savepoint; closes(e): e ends a row.
template <typename Entry, typename Opens, typename Closes>
std::pair<size_t, size_t> wholeRows(const std::vector<Entry>& entries, Opens opens, Closes closes)
{
    const size_t n = entries.size();
    size_t from = 0;
    if (n > 0 && !opens(entries.front()))
        while (from < n && entries[from].tag == entries.front().tag)
            ++from;
    size_t to = n;
    if (n > 0 && !closes(entries.back()))
        while (to > from && entries[to - 1].tag == entries.back().tag)
            --to;
    return {from, to};
}

// Writes to PostgreSQL sent many at a time through libpq's pipeline mode on the
// connection's session: one round trip for a whole batch of rows instead
// of one per statement. Statements are prepared on the session once each.
// The writes of whole rows go under one savepoint without the rows' own; when
// one of them fails they are undone to it and sent again row by row, each
// under its own savepoint, so the outcome is the row-by-row one.
class PgPipeline {
public:
    using ErrorText = std::function<QString(const DriverError&)>;
    PgPipeline(pg_conn* connection, ErrorText errorText);

    // Queues one write; values are UTF-8 texts, nullopt for NULL. table names
    // the statement's table in an error.
    void queue(const PgStatement& statement, std::vector<std::optional<QByteArray>> values, const QString& table,
               int tag, int position);
    // Prepares the statement on the session now (so a bad statement fails before
    // any row); nothing when it already is. The error when the server refuses.
    std::optional<DriverError> prepare(const PgStatement& statement);
    // Queues a statement without parameters (savepoints).
    void queueSimple(const QByteArray& sql, int tag, int position);
    qsizetype size() const { return qsizetype(m_entries.size()); }
    bool empty() const { return m_entries.empty(); }
    int lastTag() const { return m_entries.empty() ? -1 : m_entries.back().tag; }
    // Drops the queued writes of one tag (at the end of the queue).
    void dropTag(int tag);
    void discard() { m_entries.clear(); }

    // Sends every queued write and reads every answer. Throws DeferredError
    // for the first write that failed; every write after it was not applied.
    void flush();
    // The session is gone or reset: statements must be prepared again.
    void forgetPrepared() { m_prepared.clear(); }

private:
    struct Entry {
        QByteArray name; // prepared statement, empty for a simple statement
        QByteArray text; // its text (to prepare first, or the simple statement)
        bool prepareFirst = false;
        int parameterCount = 0;
        std::vector<std::optional<QByteArray>> values;
        QString table;
        int tag = 0;
        int position = 0;
    };
    static constexpr size_t kNone = size_t(-1);
    struct Outcome {
        size_t failed = kNone; // the first entry that failed
        DriverError error;
    };
    // Sends entries [from, to) in one pipeline; a prepare answered is marked done in its entry.
    Outcome send(std::vector<Entry>& entries, size_t from, size_t to);
    // Sends [from, to); throws DeferredError for the first that failed.
    void run(std::vector<Entry>& entries, size_t from, size_t to);
    // Sends the writes of the whole rows [from, to) under one savepoint; false
    // (and undone) when one of them failed.
    bool grouped(std::vector<Entry>& entries, size_t from, size_t to);
    [[noreturn]] void fail(const Entry* entry, const DriverError& error);
    DriverError resultError(pg_result* result) const;
    DriverError connectionError() const;

    pg_conn* m_conn;
    ErrorText m_errorText;
    QHash<QByteArray, QByteArray> m_prepared; // text -> statement name
    int m_named = 0;                          // names given so far: each is new
    std::vector<Entry> m_entries;
    std::vector<const char*> m_values; // one write's values as sent
};

} // namespace db

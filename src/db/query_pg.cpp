#include "db/query.h"

#include <libpq-fe.h>

#include <utility>

namespace db {

void Query::bindPg(const QString& name, QByteArray value)
{
    int k = m_pgIndex.find(name);
    if (k == NameIndex::kUnknown) {
        k = m_pg->parameter(name);
        m_pgIndex.add(name, k);
    }
    if (k >= 0)
        m_pgValues[size_t(k)] = std::move(value);
}

void Query::pgClose()
{
    if (!m_pgCursor.isEmpty())
        m_connection.pg()->closeLater(m_pgCursor);
    m_pgCursor.clear();
    m_pgResult.reset();
    m_pgRow = -1;
}

namespace {

// Rows fetched from a cursor at a time: the program holds one chunk.
constexpr int kPgChunk = 2000;

} // namespace

void Query::pgRun(bool rows)
{
    pgClose();
    m_connection.flushDeferred();
    PgSession* pg = m_connection.pg();
    DriverError error;
    // Outside a transaction a row set is read through a cursor the server holds;
    // inside one (the target's own reads during a run) the result comes whole.
    if (rows && !pg->inTransactionBlock() && pgReturnsRows(m_pg->text)) {
        const QByteArray cursor = pg->newCursorName();
        m_pgResult = pg->declare(cursor, m_pg->text, m_pgValues, kPgChunk, &error);
        if (!m_pgResult)
            fail(error);
        if (PQntuples(m_pgResult.get()) < kPgChunk)
            pg->closeLater(cursor); // every row is here
        else
            m_pgCursor = cursor;
    } else {
        m_pgResult = pg->exec(m_pg->text, m_pgValues, &error);
        if (!m_pgResult)
            fail(error);
        m_pgAffected = QByteArray(PQcmdTuples(m_pgResult.get())).toInt();
    }
    m_pgRow = -1;
}

bool Query::pgNext()
{
    if (!m_pgResult)
        return false;
    if (++m_pgRow < PQntuples(m_pgResult.get()))
        return true;
    if (m_pgCursor.isEmpty())
        return false;
    DriverError error;
    PgResult chunk = m_connection.pg()->fetch(m_pgCursor, kPgChunk, &error);
    if (!chunk)
        fail(error);
    if (PQntuples(chunk.get()) < kPgChunk)
        pgClose();
    m_pgResult = std::move(chunk);
    m_pgRow = 0;
    return m_pgRow < PQntuples(m_pgResult.get());
}

} // namespace db

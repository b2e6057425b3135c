#pragma once

#include "textutil/error.h"

#include <QString>

namespace db {

// An error as a client library reports it: its own text and its code (SQLite's
// result code in decimal, PostgreSQL's SQLSTATE; empty where the library itself
// failed, as when the server went away).
struct DriverError {
    QString text;
    QString code;
};

// SQL Server refused a statement's form (odbc::Failure::refusedForm): the same
// statement fails whatever its values, and another form may be taken.
class RefusedStatement : public belmire::Error {
public:
    using belmire::Error::Error;
};

// A write that failed after it was queued: tag names the row that queued it,
// position is its place among that row's queued writes (from 0).
class DeferredError : public belmire::Error {
public:
    DeferredError(const QString& message, int tag, int position)
        : belmire::Error(message), m_tag(tag), m_position(position)
    {
    }
    // A refusal that ended the server's transaction: the writes since the last
    // commit are gone, the row's mark with them. Where many rows went in one
    // statement the failing one is not known: tag and lastTag are the first and
    // last rows of that statement.
    static DeferredError transactionEnded(const QString& message, int tag, int position, int lastTag = -1)
    {
        DeferredError e(message, tag, position);
        e.m_ended = true;
        e.m_lastTag = lastTag;
        return e;
    }
    int tag() const { return m_tag; }
    int position() const { return m_position; }
    bool endedTransaction() const { return m_ended; }
    bool rowKnown() const { return m_lastTag < 0; }
    int lastTag() const { return m_lastTag < 0 ? m_tag : m_lastTag; }

private:
    int m_tag;
    int m_position;
    bool m_ended = false;
    int m_lastTag = -1;
};

} // namespace db

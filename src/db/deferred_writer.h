#pragma once

#include <QString>

#include <cstddef>

namespace db {

class Connection;

// The row writer's hold on a connection's deferred writes
// (Capabilities::defersWrites): PostgreSQL's go through the pipeline, ODBC
// links hold them in a batch. While deferring they wait, tagged with the
// current row, until flushed: any other statement on the connection, a commit
// or flushDeferred() sends them first. Otherwise each is sent at once.
class DeferredWriter {
public:
    explicit DeferredWriter(Connection& connection) : m_connection(connection) {}

    // Rows and queued statements a flush takes at most: an ODBC batch costs a
    // few round trips whatever its size.
    size_t rowsPerFlush() const;
    qsizetype writesPerFlush() const;
    void setDeferring(bool on);
    bool deferring() const;
    // The row whose writes are queued from now on, and how many it queued so far.
    void setRowTag(int tag);
    int positionInRow() const;
    qsizetype deferredWrites() const;
    // Queues a row's savepoint statement or its release (empty: the row's end only).
    void queueControl(const QString& statement);
    // Drops the writes of a row still waiting.
    void dropRowWrites(int tag);
    // Sends the waiting writes. Throws DeferredError naming the row of a refused write.
    void flushDeferred();
    // Whether writes of this tag have reached the server.
    bool sentTag(int tag) const;

private:
    Connection& m_connection;
};

} // namespace db

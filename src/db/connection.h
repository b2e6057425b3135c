#pragma once

#include "db/datalink.h"
#include "db/dialect.h"
#include "db/odbc_batch.h"
#include "db/odbc_link.h"
#include "db/pg_pipeline.h"

#include <QSqlDatabase>
#include <QString>

#include <QSet>

#include <memory>

class QSqlError;
struct sqlite3;

namespace db {

class Query;

// One database connection opened from a data-link file. Owns its Qt connection
// name; closing or destroying it removes the connection.
class Connection {
public:
    explicit Connection(QString role);
    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    // Reads the data-link file and connects. Throws belmire::Error.
    void open(const QString& udlPath);
    void close();
    bool isOpen() const;

    Dialect dialect() const { return m_dialect; }
    QSqlDatabase database() const;
    const QString& role() const { return m_role; }
    const ConnectionSpec& settings() const { return m_spec; }
    // SQLite: the library handle of the open connection, for statements run
    // through the C library; nullptr otherwise.
    sqlite3* sqliteHandle() const { return m_sqlite; }
    // ODBC links: the session; nullptr otherwise.
    OdbcLink* odbc() const { return m_odbc.get(); }
    // Queries holding statements on the handle; closing drops their statements first.
    void attach(Query* query) { m_queries.insert(query); }
    void detach(Query* query) { m_queries.remove(query); }

    // PostgreSQL: writes go through the pipeline; ODBC links hold them in a
    // batch. While deferring they wait there, tagged with the current row,
    // until flushed: any other statement, a commit or flushDeferred() sends
    // them first. Otherwise each is sent at once.
    PgPipeline* pipeline() const { return m_pipeline.get(); }
    bool defersWrites() const { return m_pipeline || m_batch; }
    // Rows and queued statements a flush takes at most: an ODBC batch costs a
    // few round trips whatever its size.
    size_t rowsPerFlush() const { return m_batch ? 1000 : 250; }
    qsizetype writesPerFlush() const { return m_batch ? 5000 : 1000; }
    qsizetype deferredWrites() const;
    void setDeferring(bool on) { m_deferring = on; }
    bool deferring() const { return m_deferring; }
    void setRowTag(int tag)
    {
        m_tag = tag;
        m_position = 0;
    }
    int positionInRow() const { return m_position; }
    void queueWrite(const PgStatement& statement, std::vector<std::optional<QByteArray>> values, const QString& table);
    void queueWrite(const odbc::Markers& statement, const std::vector<odbc::Parameter>& values, const QString& table);
    void queueControl(const QString& statement);
    void dropRowWrites(int tag);
    void flushDeferred();
    // Whether writes of this tag have reached the server.
    bool sentTag(int tag) const { return m_sentTag == tag; }

    void begin();
    void commit();
    void rollback();
    bool inTransaction() const { return m_inTransaction; }

    // Runs one statement (rewritten for the dialect); throws with the table named.
    void exec(const QString& statement);

    // The database's own text of an error, unaltered; a full disk
    // and a lost server connection say so and name the database.
    QString errorText(const QSqlError& error) const;
    QString errorText(const odbc::Failure& failure) const;

private:
    QString m_role;
    QString m_name;
    ConnectionSpec m_spec;
    Dialect m_dialect = Dialect::SQLite;
    bool m_inTransaction = false;
    bool m_connected = false; // opened; a later error without SQLSTATE means the server went away
    sqlite3* m_sqlite = nullptr;
    std::unique_ptr<PgPipeline> m_pipeline;
    std::unique_ptr<OdbcLink> m_odbc;
    std::unique_ptr<OdbcBatch> m_batch;
    bool m_deferring = false;
    int m_tag = 0;
    int m_position = 0;
    int m_sentTag = -1;
    QSet<Query*> m_queries;
};

// Where a statement writes or reads: the first table after insert into, update,
// delete from, truncate table or from. Empty when there is none.
QString statementTable(const QString& statement);

} // namespace db

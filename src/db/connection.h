#pragma once

#include "db/datalink.h"
#include "db/dialect.h"
#include "db/driver_error.h"
#include "db/odbc_batch.h"
#include "db/odbc_link.h"
#include "db/pg_pipeline.h"

#include <QSet>
#include <QString>

#include <map>
#include <memory>

struct sqlite3;

namespace db {

class PgSession;
class Query;
class SqliteWriteLog;

// One database connection opened from a data-link file, through the engine's
// own client library: SQLite through sqlite3, PostgreSQL through libpq, every
// other provider through ODBC. Which one is settled when it opens. Callers ask
// it what they may rely on (the capabilities below), never which engine it is.
class Connection {
public:
    explicit Connection(QString role);
    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    // The role of a source connection; it only reads, and opens a SQLite file read-only.
    static constexpr const char* kSourceRole = "源";
    // Reads the data-link file and connects. Throws belmire::Error.
    void open(const QString& udlPath);
    void close();
    bool isOpen() const;

    const QString& role() const { return m_role; }
    const LinkSettings& settings() const { return m_link; }

    // Capabilities.
    // Keys compare as the stored bytes (SQLite, PostgreSQL), so a scan of a
    // table read once can answer keyed lookups; false where the server's
    // collation decides what is equal (SQL Server).
    bool comparesKeysExactly() const;
    // Where keys compare by collation: a SELECT answering, for the keys bound
    // as :k0 ... :k<keys-1>, three integers per key: its number, whether the
    // column holds a value equal to it, and the smallest number of the keys
    // equal to it, all by the column's own comparison. Empty where the server
    // refused every form of it.
    QString keysHeldStatement(const QString& table, const QString& column, int keys);
    // A SELECT answering "select top 1 <field> from <table> where <key>=:p1" for
    // the values bound as :k0 ... :k<keys-1> at once: each value's number and
    // the field of the first row its key matches (NULL when none does). Empty
    // where the server refused such a list before.
    QString lookupsStatement(const QString& field, const QString& table, const QString& key, int keys) const;
    // A SELECT answering "select <fields> from <table> where <key>=:p1" for the
    // values bound as :k0 ... :k<keys-1> at once: a row for each row a value's
    // key matches, its number first, then the fields. A value's rows come in the
    // order its own query would give them; the values' rows may interleave.
    // Empty where the server offers no such form (SQL Server without APPLY).
    QString rowsOfKeysStatement(const QStringList& fields, const QString& table, const QString& key, int keys) const;
    // Statement forms that depend on the server (SQL Server's version and
    // compatibility level): whether it takes one, and that it refused one, which
    // is then not tried again on this connection. Always taken elsewhere.
    bool accepts(Form form) const { return !m_odbc || m_odbc->accepts(form); }
    void refuse(Form form)
    {
        if (m_odbc)
            m_odbc->refuse(form);
    }
    // After keysHeldStatement's SELECT was refused (db::RefusedStatement): a
    // form less demanding is taken next; false when none is left.
    bool keysHeldFallBack();
    // A test seam: every connection answers comparesKeysExactly() with false,
    // so the per-key paths a collation needs run on SQLite and PostgreSQL too.
    static void setKeysCompareByCollation(bool on);
    // Writes wait in a queue and go to the server in batches (flushDeferred).
    bool defersWrites() const { return m_pg || m_batch; }
    // Several statements separated by ";" run as one text (execDirect).
    bool runsStatementLists() const { return m_dialect == Dialect::PostgreSQL; }
    // The server passes over the first rows of a row set itself (OFFSET)
    // without making them into rows; skippingRows wraps a SELECT so (empty
    // where it cannot: the caller reads forward to them).
    bool skipsRows() const { return m_dialect != Dialect::SqlServer; }
    QString skippingRows(const QString& select, int rows) const;
    // SQL to open, release (empty where there is none) and roll back to a savepoint.
    QString savepointSql(const QString& name) const { return db::savepointSql(m_dialect, name); }
    QString releaseSql(const QString& name) const { return db::releaseSql(m_dialect, name); }
    QString rollbackToSql(const QString& name) const { return db::rollbackToSql(m_dialect, name); }
    // The statement in the database's own dialect.
    QString dialectText(const QString& statement) const { return rewrite(statement, m_dialect); }
    // What makes this database itself: the same text for two connections to one
    // database (one file, one database of one server), another text otherwise.
    QString identity();
    // A text may hold NUL characters (PostgreSQL keeps none).
    bool keepsNul() const { return m_dialect != Dialect::PostgreSQL; }
    // A text may hold bytes a program stored as they were, UTF-8 or not
    // (SQLite read through its own library): reading may refuse them.
    bool keepsAnyTextBytes() const { return m_sqlite != nullptr; }
    // Another session's lock holds the whole database, not one table (SQLite).
    bool locksWholeDatabase() const { return m_dialect == Dialect::SQLite; }
    // The database refuses a text longer than its column's declared width (SQLite does not).
    bool enforcesTextWidths() const { return m_dialect != Dialect::SQLite; }
    // A declared text width of a column and how the database counts it:
    // PostgreSQL in characters, SQL Server's varchar in bytes of its code page
    // (GBK for a Chinese collation) and its nvarchar in UTF-16 units.
    struct TextWidth {
        enum class Unit { Characters, Bytes, Utf16 };
        qint64 length = 0;
        Unit unit = Unit::Characters;
    };
    // The declared widths of a table's text columns, lower-case names as keys
    // (read from information_schema, or syscolumns where SQL Server takes no
    // schema_name(); columns without a limit are left out). Throws
    // belmire::Error when the database will not say.
    std::map<QString, TextWidth> declaredTextWidths(const QString& table);
    // What answered a SQL Server link: driver, TDS and server versions (empty for other databases).
    QString answeredBy() const { return m_odbc ? m_odbc->answeredBy() : QString(); }
    // A table's enabled triggers where the database fires them once per
    // statement (SQL Server; empty elsewhere); nullopt when it would not say.
    std::optional<QList<OdbcLink::Trigger>> triggers(const QString& table)
    {
        return m_odbc ? m_odbc->triggers(table) : QList<OdbcLink::Trigger>();
    }
    // The server's name and version, and the database's name.
    struct Description {
        QString server;
        QString database;
    };
    Description describe();

    // Where the rows of a batch share one savepoint and a failing row is undone
    // by running the rows before it again (SQLite): the log of the writes made
    // since that savepoint, recording while it lives. Null elsewhere.
    std::unique_ptr<SqliteWriteLog> writeLog();

    // The backends, for the layer's own use.
    sqlite3* sqliteHandle() const { return m_sqlite; }
    PgSession* pg() const { return m_pg.get(); }
    OdbcLink* odbc() const { return m_odbc.get(); }
    // Queries holding statements on the handle; closing drops their statements first.
    void attach(Query* query) { m_queries.insert(query); }
    void detach(Query* query) { m_queries.remove(query); }

    // Deferred writes (defersWrites): PostgreSQL's go through the pipeline,
    // ODBC links hold them in a batch. While deferring they wait, tagged with
    // the current row, until flushed: any other statement, a commit or
    // flushDeferred() sends them first. Otherwise each is sent at once.
    // Rows and queued statements a flush takes at most: an ODBC batch costs a
    // few round trips whatever its size.
    size_t rowsPerFlush() const { return m_batch ? 1000 : 250; }
    qsizetype writesPerFlush() const { return m_batch ? 5000 : 1000; }
    void setDeferring(bool on) { m_deferring = on; }
    bool deferring() const { return m_deferring; }
    void setRowTag(int tag)
    {
        m_tag = tag;
        m_position = 0;
    }
    int positionInRow() const { return m_position; }
    qsizetype deferredWrites() const;
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
    // A transaction begun here that the server ended on its own (SQL Server
    // after certain errors); asks the server.
    bool transactionEnded() { return m_inTransaction && m_odbc && !m_odbc->inTransaction(); }

    // Runs one statement (rewritten for the dialect); throws with the table named.
    void exec(const QString& statement);

    // The database's own text of an error, unaltered; a full disk, a lock
    // wait given up and a lost server connection say so and name the database.
    QString errorText(const DriverError& error) const;
    QString errorText(const odbc::Failure& failure) const;
    // The database as messages name it: the role and the data link's description.
    QString where() const;

private:
    // After a read-only open: reads the schema, and says what a WAL-mode file needs when that fails.
    void checkReadable(sqlite3* handle);
    // Runs a statement of the connection's own (transaction control); the error when it fails.
    std::optional<DriverError> run(const QByteArray& sql);
    QString columnCollation(const QString& table, const QString& column);

    QString m_role;
    LinkSettings m_link;
    std::map<QString, QString> m_collations; // SQL Server: "table.column" -> its collation
    Dialect m_dialect = Dialect::SQLite;
    bool m_inTransaction = false;
    bool m_connected = false; // opened; a later error without SQLSTATE means the server went away
    sqlite3* m_sqlite = nullptr;
    std::unique_ptr<PgSession> m_pg;
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

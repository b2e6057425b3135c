#pragma once

#include "db/capabilities.h"
#include "db/datalink.h"
#include "db/dialect.h"
#include "db/driver_error.h"

#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>

#include <functional>
#include <map>
#include <memory>
#include <optional>

namespace db {

class Backend;
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

    // What callers may rely on, settled when the connection opens.
    const Capabilities& capabilities() const { return m_capabilities; }
    // From the next open on, the connection answers comparesKeysExactly with
    // false, so the per-key paths a collation needs run on SQLite and
    // PostgreSQL too (tests, bench/run --keys-by-collation).
    void setKeysCompareByCollation(bool on) { m_keysByCollation = on; }

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
    bool accepts(Form form) const;
    void refuse(Form form);
    // After keysHeldStatement's SELECT was refused (db::RefusedStatement): a
    // form less demanding is taken next; false when none is left.
    bool keysHeldFallBack();
    // The server passes over the first rows of a row set itself (OFFSET)
    // without making them into rows; skippingRows wraps a SELECT so (empty
    // where it cannot: the caller reads forward to them).
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
    QString answeredBy() const;
    // A table's enabled triggers where the database fires them once per
    // statement (SQL Server; empty elsewhere); nullopt when it would not say.
    std::optional<QList<Trigger>> triggers(const QString& table);
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

    void begin();
    void commit();
    void rollback();
    bool inTransaction() const { return m_inTransaction; }
    // A transaction begun here that the server ended on its own (SQL Server
    // after certain errors); asks the server.
    bool transactionEnded();

    // Runs one statement (rewritten for the dialect); throws with the table named.
    void exec(const QString& statement);

    // The database as messages name it: the role and the data link's description.
    QString where() const;

private:
    // The capabilities of the engine now connected.
    void settleCapabilities();
    QString columnCollation(const QString& table, const QString& column);

    QString m_role;
    LinkSettings m_link;
    std::map<QString, QString> m_collations; // SQL Server: "table.column" -> its collation
    Dialect m_dialect = Dialect::SQLite;
    Capabilities m_capabilities;
    bool m_keysByCollation = false;
    bool m_inTransaction = false;
    std::unique_ptr<Backend> m_backend; // the engine while open, for the layer's own classes
    // What the engine's backend is wrapped in when it opens (a test's stand-in).
    std::function<std::unique_ptr<Backend>(std::unique_ptr<Backend>)> m_wrap;
    // Queries holding statements on the backend; closing drops their statements first.
    QSet<Query*> m_queries;
    friend class Query;
    friend Backend* backendIfOpen(const Connection& connection);
    friend void wrapBackend(Connection& connection,
                            std::function<std::unique_ptr<Backend>(std::unique_ptr<Backend>)> wrap);
};

// Where a statement writes or reads: the first table after insert into, update,
// delete from, truncate table or from. Empty when there is none.
QString statementTable(const QString& statement);

} // namespace db

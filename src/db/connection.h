#pragma once

#include "db/capabilities.h"
#include "db/datalink.h"
#include "db/dialect.h"
#include "db/driver_error.h"
#include "db/statement_forms.h"

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

    // The statement texts that depend on the database and its server.
    StatementForms& forms() { return m_forms; }
    const StatementForms& forms() const { return m_forms; }
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

    QString m_role;
    LinkSettings m_link;
    Dialect m_dialect = Dialect::SQLite;
    Capabilities m_capabilities;
    StatementForms m_forms{*this};
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

#pragma once

#include "db/datalink.h"
#include "db/dialect.h"

#include <QSqlDatabase>
#include <QString>

#include <QSet>

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
    // Queries holding statements on the handle; closing drops their statements first.
    void attach(Query* query) { m_queries.insert(query); }
    void detach(Query* query) { m_queries.remove(query); }

    void begin();
    void commit();
    void rollback();
    bool inTransaction() const { return m_inTransaction; }

    // Runs one statement (rewritten for the dialect); throws with the table named.
    void exec(const QString& statement);

    // The database's own text of an error, with the password masked; a full disk
    // and a lost server connection say so and name the database.
    QString errorText(const QSqlError& error) const;

private:
    QString m_role;
    QString m_name;
    ConnectionSpec m_spec;
    Dialect m_dialect = Dialect::SQLite;
    bool m_inTransaction = false;
    bool m_connected = false; // opened; a later error without SQLSTATE means the server went away
    sqlite3* m_sqlite = nullptr;
    QSet<Query*> m_queries;
};

// Where a statement writes or reads: the first table after insert into, update,
// delete from, truncate table or from. Empty when there is none.
QString statementTable(const QString& statement);

} // namespace db

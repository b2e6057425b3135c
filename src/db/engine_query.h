#pragma once

#include "db/amount.h"
#include "db/driver_error.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QVariant>

#include <memory>
#include <optional>

namespace db {

class Connection;
class OdbcBackend;
class OdbcLink;
class PgBackend;
class SqliteBackend;
namespace odbc {
class Failure;
}

// A Query's statement on one engine: SQLite through sqlite3, PostgreSQL through
// libpq, ODBC. Query keeps what is the same everywhere (the text, the checks
// before a statement runs, reading ahead, fields by
// name); this runs the statement. Failures throw belmire::Error naming the table.
class EngineQuery {
public:
    EngineQuery(Connection& connection, QString table) : m_connection(connection), m_table(std::move(table)) {}
    virtual ~EngineQuery() = default;
    EngineQuery(const EngineQuery&) = delete;
    EngineQuery& operator=(const EngineQuery&) = delete;

    // Prepares the text, already in the database's dialect.
    virtual void prepare(const QString& text) = 0;
    virtual void bindText(const QString& name, const QByteArray& gbkText) = 0;
    virtual void bindAmount(const QString& name, Amount value) = 0;
    virtual void bindInteger(const QString& name, qint64 value) = 0;
    virtual void bindNumber(const QString& name, double value) = 0;
    // Runs the prepared statement; a write may wait where the link defers writes.
    virtual void exec() = 0;
    // Runs the prepared statement for its rows.
    virtual void open() { exec(); }
    // Whether a statement run unprepared is run as a prepared one (SQLite).
    virtual bool preparesDirect() const { return false; }
    // Runs a text as it is, unprepared; whether the query holds a statement now.
    virtual bool execDirect(const QString& text) = 0;
    virtual int rowsAffected() const = 0;
    // Whether counting needs the statement prepared: its values are bound to the count.
    virtual bool countsWithValues() const { return false; }
    // Runs "select count(*) from (...)" and returns the count.
    virtual int countRows(const QString& count) = 0;
    virtual bool fetch() = 0;
    virtual void close() = 0;

    // The current row.
    virtual QStringList fieldNames() const = 0;
    virtual QVariant value(int column) const = 0;
    virtual bool isNull(int column) const { return value(column).isNull(); }
    virtual QByteArray text(int column) const;
    // An amount or truth value read the quick way; nothing where the general way must decide.
    virtual std::optional<Amount> amount(int) const { return std::nullopt; }
    virtual std::optional<bool> truth(int) const { return std::nullopt; }

protected:
    Connection& m_connection;
    const QString m_table;
};

// The statement on each engine, made by its backend.
std::unique_ptr<EngineQuery> sqliteQuery(Connection& connection, const QString& table, SqliteBackend& backend);
std::unique_ptr<EngineQuery> pgQuery(Connection& connection, const QString& table, PgBackend& backend);
std::unique_ptr<EngineQuery> odbcQuery(Connection& connection, const QString& table, OdbcBackend& backend);

// Throws the error of a statement on table (empty: none named) as
// belmire::Error, noting a lock wait given up; an ODBC failure that refused the
// statement's form on SQL Server throws RefusedStatement.
[[noreturn]] void failStatement(const Connection& connection, const QString& table, const DriverError& error);
[[noreturn]] void failStatement(const Connection& connection, const OdbcLink& link, const QString& table,
                                const odbc::Failure& failure);

// The column names of a statement that has columnCount() and columnName(i).
template <typename Statement>
QStringList columnNames(const Statement* statement)
{
    QStringList names;
    if (statement)
        for (int i = 0; i < statement->columnCount(); ++i)
            names << statement->columnName(i);
    return names;
}

// Whether a statement is an INSERT, UPDATE or DELETE.
bool isWrite(const QString& statement);

} // namespace db

#pragma once

#include "db/capabilities.h"
#include "db/dialect.h"

#include <QString>
#include <QStringList>

#include <map>

namespace db {

class Connection;

// The statement texts of a connection that depend on its database: keyed
// lookups asked in batches, savepoints, skipping rows. Statement forms that
// depend on the server (SQL Server's version and compatibility level) are
// tried until the server refuses one, which is then not tried again on the
// connection. Handed out by Connection::forms().
class StatementForms {
public:
    explicit StatementForms(Connection& connection) : m_connection(connection) {}

    // Where keys compare by collation: a SELECT answering, for the keys bound
    // as :k0 ... :k<keys-1>, three integers per key: its number, whether the
    // column holds a value equal to it, and the smallest number of the keys
    // equal to it, all by the column's own comparison. Empty where the server
    // refused every form of it.
    QString keysHeldStatement(const QString& table, const QString& column, int keys);
    // After keysHeldStatement's SELECT was refused (db::RefusedStatement): a
    // form less demanding is taken next; false when none is left.
    bool keysHeldFallBack();
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
    // Whether the server takes a form, and that it refused one. Always taken elsewhere.
    bool accepts(Form form) const;
    void refuse(Form form);
    // The server passes over the first rows of a row set itself (OFFSET)
    // without making them into rows; skippingRows wraps a SELECT so (empty
    // where it cannot: the caller reads forward to them).
    QString skippingRows(const QString& select, int rows) const;
    // SQL to open, release (empty where there is none) and roll back to a savepoint.
    QString savepointSql(const QString& name) const { return db::savepointSql(m_dialect, name); }
    QString releaseSql(const QString& name) const { return db::releaseSql(m_dialect, name); }
    QString rollbackToSql(const QString& name) const { return db::rollbackToSql(m_dialect, name); }

private:
    friend class Connection;
    // The connection opened on a database of this dialect: what was learnt of the last one goes.
    void opened(Dialect dialect)
    {
        m_dialect = dialect;
        m_collations.clear();
    }
    QString columnCollation(const QString& table, const QString& column);

    Connection& m_connection;
    Dialect m_dialect = Dialect::SQLite;
    std::map<QString, QString> m_collations; // SQL Server: "table.column" -> its collation
};

} // namespace db

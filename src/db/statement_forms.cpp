#include "db/statement_forms.h"

#include "db/backend.h"
#include "db/connection.h"
#include "db/query.h"

#include <QRegularExpression>

namespace db {

namespace {

// "(0,:k0),(1,:k1),..."
QString numberedKeys(int keys)
{
    QString values;
    for (int k = 0; k < keys; ++k)
        values += (k ? QStringLiteral(",(%1,:k%1)") : QStringLiteral("(%1,:k%1)")).arg(k);
    return values;
}

// SQL Server's numbered keys as a derived table every version takes (VALUES
// lists came with 2008): "(select 0 as i, :k0 as k union all select 1, :k1 ...)".
QString keyTable(int keys)
{
    QString table = QStringLiteral("(select 0 as i, :k0 as k");
    for (int k = 1; k < keys; ++k)
        table += QStringLiteral(" union all select %1, :k%1").arg(k);
    return table + u')';
}

} // namespace

QString StatementForms::lookupsStatement(const QString& field, const QString& table, const QString& key, int keys) const
{
    switch (m_dialect) {
    case Dialect::SqlServer:
        if (!accepts(Form::KeyLists))
            return {};
        return QStringLiteral("select v.i, (select top 1 t.%1 from %2 t where t.%3 = v.k) from %4 v")
            .arg(field, table, key, keyTable(keys));
    case Dialect::SQLite: // a VALUES list names its columns column1, column2
        return QStringLiteral(
                   "select v.column1, (select t.%1 from %2 t where t.%3 = v.column2 limit 1) from (values %4) v")
            .arg(field, table, key, numberedKeys(keys));
    default:
        return QStringLiteral(
                   "select v.i, (select t.%1 from %2 t where t.%3 = v.k limit 1) from (values %4) as v(i, k)")
            .arg(field, table, key, numberedKeys(keys));
    }
}

QString StatementForms::rowsOfKeysStatement(const QStringList& fields, const QString& table, const QString& key,
                                            int keys) const
{
    const QString columns = QStringLiteral("t.") + fields.join(QStringLiteral(", t."));
    // Each value's rows come from a query of their own beside it (APPLY,
    // LATERAL), so they keep the order that query gives. A join would not:
    // without APPLY each value is asked on its own.
    switch (m_dialect) {
    case Dialect::SqlServer:
        if (!accepts(Form::Apply) || !accepts(Form::KeyLists))
            return {};
        return QStringLiteral("select v.i, x.* from %4 v cross apply (select %1 from %2 t where t.%3 = v.k) x")
            .arg(columns, table, key, keyTable(keys));
    case Dialect::SQLite: // no LATERAL; each key's rows in the table's order, as its own query reads them
        return QStringLiteral("select v.column1, %1 from (values %4) v join %2 t on t.%3 = v.column2 order by "
                              "v.column1, t.rowid")
            .arg(columns, table, key, numberedKeys(keys));
    default:
        return QStringLiteral("select v.i, x.* from (values %4) as v(i, k) cross join lateral (select %1 from %2 t "
                              "where t.%3 = v.k) x")
            .arg(columns, table, key, numberedKeys(keys));
    }
}

QString StatementForms::columnCollation(const QString& table, const QString& column)
{
    // sys.columns from 2005 on, syscolumns before.
    for (;;) {
        const bool views = accepts(Form::CatalogViews);
        Query q(m_connection);
        q.setText(views ? QStringLiteral("select collation_name from sys.columns where object_id = object_id(:t) and "
                                         "name = :c")
                        : QStringLiteral("select collation from syscolumns where id = object_id(:t) and name = :c"));
        q.bindText(QStringLiteral("t"), table.toLatin1());
        q.bindText(QStringLiteral("c"), column.toLatin1());
        try {
            q.open();
        } catch (const RefusedStatement&) {
            if (!views)
                throw;
            refuse(Form::CatalogViews);
            continue;
        }
        QString name = q.next() ? q.valueAt(0).toString() : QString();
        q.close();
        static const QRegularExpression word(QStringLiteral("^\\w+$"));
        return word.match(name).hasMatch() ? name : QString();
    }
}

QString StatementForms::keysHeldStatement(const QString& table, const QString& column, int keys)
{
    if (m_dialect == Dialect::SQLite) // a VALUES list names its columns column1, column2
        return QStringLiteral("select v.column1, case when exists (select 1 from %1 t where t.%2 = v.column2) then 1 "
                              "else 0 end, min(v.column1) over (partition by v.column2) from (values %3) v")
            .arg(table, column, numberedKeys(keys));
    const QString held =
        QStringLiteral("case when exists (select 1 from %1 t where t.%2 = v.k) then 1 else 0 end").arg(table, column);
    if (m_dialect != Dialect::SqlServer)
        return QStringLiteral("select v.i, %1, min(v.i) over (partition by v.k) from (values %2) as v(i, k)")
            .arg(held, numberedKeys(keys));
    if (!accepts(Form::KeyLists))
        return {};
    // Keys compared with each other take the column's collation, not the database's default.
    const QString key = table.toLower() + u'.' + column.toLower();
    auto it = m_collations.find(key);
    if (it == m_collations.end())
        it = m_collations.emplace(key, columnCollation(table, column)).first;
    const QString collate = it->second.isEmpty() ? QString() : QStringLiteral(" collate ") + it->second;
    if (accepts(Form::Windowed))
        return QStringLiteral("select v.i, %1, min(v.i) over (partition by v.k%2) from %3 v")
            .arg(held, collate, keyTable(keys));
    // Before 2005: the smallest number of each group of equal keys, joined back.
    return QStringLiteral("select v.i, %1, g.c from %3 v join (select min(w.i) as c, w.k%2 as k from %3 w group by "
                          "w.k%2) g on g.k = v.k%2")
        .arg(held, collate, keyTable(keys));
}

bool StatementForms::accepts(Form form) const
{
    const Backend* backend = backendIfOpen(m_connection);
    return !backend || backend->accepts(form);
}

void StatementForms::refuse(Form form)
{
    if (Backend* backend = backendIfOpen(m_connection))
        backend->refuse(form);
}

bool StatementForms::keysHeldFallBack()
{
    if (m_dialect == Dialect::SqlServer && accepts(Form::Windowed)) {
        refuse(Form::Windowed);
        return true;
    }
    refuse(Form::KeyLists);
    return false;
}

QString StatementForms::skippingRows(const QString& select, int rows) const
{
    switch (m_dialect) {
    case Dialect::SQLite:
        return QStringLiteral("select * from (%1) belmire_grid limit -1 offset %2").arg(select).arg(rows);
    case Dialect::PostgreSQL:
        return QStringLiteral("select * from (%1) belmire_grid offset %2").arg(select).arg(rows);
    case Dialect::SqlServer:
        break;
    }
    return {};
}

} // namespace db

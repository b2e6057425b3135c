#include "db/connection.h"

#include "db/backend.h"

#include "db/query.h"
#include "textutil/error.h"
#include "textutil/gbk.h"

#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#endif

#include <map>

namespace db {

namespace {

// The first row of a statement, its fields as text.
QStringList firstRow(Connection& connection, const QString& statement)
{
    Query q(connection);
    q.setText(statement);
    q.open();
    QStringList fields;
    if (q.next())
        for (int i = 0; i < q.fieldCount(); ++i)
            fields << gbk::toUnicode(variantText(q.valueAt(i))).trimmed();
    q.close();
    return fields;
}

// A file's identity: device and inode where there are such (two names of one
// file are one), its canonical path elsewhere.
QString fileIdentity(const QString& path)
{
    if (path.isEmpty() || path == u":memory:")
        return {};
#ifdef Q_OS_UNIX
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) == 0)
        return QStringLiteral("file:%1:%2").arg(quint64(st.st_dev)).arg(quint64(st.st_ino));
#endif
    const QString canonical = QFileInfo(path).canonicalFilePath();
    QString id = canonical.isEmpty() ? QFileInfo(path).absoluteFilePath() : canonical;
#ifdef Q_OS_WIN
    id = id.toLower(); // Windows' file names ignore case
#endif
    return QStringLiteral("path:") + id;
}

} // namespace

void Connection::settleCapabilities()
{
    Capabilities& c = m_capabilities;
    c.comparesKeysExactly = m_dialect != Dialect::SqlServer && !m_keysByCollation;
    c.defersWrites = m_backend->pg || m_backend->batch;
    c.runsStatementLists = m_dialect == Dialect::PostgreSQL;
    c.skipsRows = m_dialect != Dialect::SqlServer;
    c.keepsNul = m_dialect != Dialect::PostgreSQL;
    c.keepsAnyTextBytes = m_backend->sqlite != nullptr;
    c.locksWholeDatabase = m_dialect == Dialect::SQLite;
    c.enforcesTextWidths = m_dialect != Dialect::SQLite;
}

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

QString Connection::lookupsStatement(const QString& field, const QString& table, const QString& key, int keys) const
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

QString Connection::rowsOfKeysStatement(const QStringList& fields, const QString& table, const QString& key,
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

QString Connection::columnCollation(const QString& table, const QString& column)
{
    // sys.columns from 2005 on, syscolumns before.
    for (;;) {
        const bool views = accepts(Form::CatalogViews);
        Query q(*this);
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

QString Connection::keysHeldStatement(const QString& table, const QString& column, int keys)
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

bool Connection::keysHeldFallBack()
{
    if (m_dialect == Dialect::SqlServer && accepts(Form::Windowed)) {
        refuse(Form::Windowed);
        return true;
    }
    refuse(Form::KeyLists);
    return false;
}

QString Connection::skippingRows(const QString& select, int rows) const
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

QString Connection::identity()
{
    switch (m_dialect) {
    case Dialect::SQLite: {
        QString file;
        Query q(*this);
        q.setText(QStringLiteral("PRAGMA database_list"));
        q.open();
        while (q.next())
            if (q.valueAt(1).toString() == u"main")
                file = q.valueAt(2).toString();
        q.close();
        const QString id = fileIdentity(file);
        // A database of no file is like no other.
        return id.isEmpty() ? QStringLiteral("memory:%1").arg(quintptr(this)) : id;
    }
    case Dialect::PostgreSQL:
        // The name as text: psqlODBC asks the server how long a value of type name may be.
        return QStringLiteral("postgresql:") +
               firstRow(*this, QStringLiteral("select cast(current_database() as text), current_setting('port'), "
                                              "cast(pg_postmaster_start_time() as text)"))
                   .join(u'|');
    case Dialect::SqlServer:
        return QStringLiteral("sqlserver:") +
               firstRow(*this, QStringLiteral("select cast(serverproperty('ServerName') as nvarchar(256)), db_name()"))
                   .join(u'|');
    }
    return {};
}

std::map<QString, Connection::TextWidth> Connection::declaredTextWidths(const QString& table)
{
    const bool postgres = m_dialect == Dialect::PostgreSQL;
    std::map<QString, TextWidth> out;
    // SQL Server 2000 has neither schema_name() nor the sys views: syscolumns
    // there, whose length counts bytes (two to an nvarchar character) and whose
    // text and ntext have none that limits a value.
    if (m_dialect == Dialect::SqlServer && !accepts(Form::CatalogViews)) {
        Query q(*this);
        q.setText(QStringLiteral("select name, xtype, length from syscolumns where id = object_id(:t)"));
        q.bindText(QStringLiteral("t"), table.toLatin1());
        q.open();
        while (q.next()) {
            const int type = q.valueAt(1).toInt();
            const qint64 length = q.valueAt(2).toLongLong();
            const bool bytes = type == 167 || type == 175, utf16 = type == 231 || type == 239; // (n)varchar, (n)char
            if ((bytes || utf16) && length > 0)
                out[q.valueAt(0).toString().toLower()] = {utf16 ? length / 2 : length,
                                                          utf16 ? TextWidth::Unit::Utf16 : TextWidth::Unit::Bytes};
        }
        q.close();
        return out;
    }
    Query q(*this);
    q.setText(
        QStringLiteral("select column_name, data_type, character_maximum_length from information_schema.columns "
                       "where table_schema = %1 and lower(table_name) = '%2'")
            .arg(postgres ? QStringLiteral("current_schema()") : QStringLiteral("schema_name()"), table.toLower()));
    try {
        q.open();
    } catch (const RefusedStatement&) {
        refuse(Form::CatalogViews); // a server older than its version said
        return declaredTextWidths(table);
    }
    while (q.next()) {
        const qint64 length = q.valueAt(2).toLongLong();
        if (length <= 0) // no limit, or SQL Server's (max)
            continue;
        const QString type = q.valueAt(1).toString().toLower();
        const TextWidth::Unit unit = postgres                                ? TextWidth::Unit::Characters
                                     : type == u"varchar" || type == u"char" ? TextWidth::Unit::Bytes
                                                                             : TextWidth::Unit::Utf16;
        out[q.valueAt(0).toString().toLower()] = {length, unit};
    }
    q.close();
    return out;
}

Connection::Description Connection::describe()
{
    Description d;
    switch (m_dialect) {
    case Dialect::SQLite:
        d.server = QStringLiteral("SQLite ") + firstRow(*this, QStringLiteral("select sqlite_version()")).value(0);
        d.database = m_link.databaseName;
        break;
    case Dialect::PostgreSQL: {
        const QStringList row = firstRow(*this, QStringLiteral("select version(), current_database()"));
        d.server = row.value(0).section(u',', 0, 0);
        d.database = row.value(1);
        break;
    }
    case Dialect::SqlServer: {
        const QStringList row = firstRow(*this, QStringLiteral("select @@version, db_name()"));
        d.server = row.value(0).section(u'\n', 0, 0).simplified();
        d.database = row.value(1);
        break;
    }
    }
    return d;
}

} // namespace db

#include "db/connection.h"

#include "db/backend.h"

#include "db/query.h"
#include "textutil/error.h"
#include "textutil/gbk.h"

#include <QFile>
#include <QFileInfo>

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
    c.runsStatementLists = m_dialect == Dialect::PostgreSQL;
    c.skipsRows = m_dialect != Dialect::SqlServer;
    c.keepsNul = m_dialect != Dialect::PostgreSQL;
    c.locksWholeDatabase = m_dialect == Dialect::SQLite;
    c.enforcesTextWidths = m_dialect != Dialect::SQLite;
    c.rowsPerCommit = m_dialect == Dialect::SQLite ? 10000 : 1000;
    c.defersWrites = false;
    c.keepsAnyTextBytes = false;
    if (m_backend)
        m_backend->settle(c);
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
    if (m_dialect == Dialect::SqlServer && !m_forms.accepts(Form::CatalogViews)) {
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
        m_forms.refuse(Form::CatalogViews); // a server older than its version said
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

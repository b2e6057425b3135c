#include "db/connection.h"

#include "db/faults.h"
#include "db/lock_wait.h"
#include "db/pg_session.h"
#include "db/query.h"
#include "db/sqlite_statement.h"
#include "textutil/error.h"
#include "textutil/gbk.h"

#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <libpq-fe.h>
#include <sqlite3.h>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#endif

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

QString statementTable(const QString& statement)
{
    static const QRegularExpression re(
        QStringLiteral(R"(\b(?:insert\s+into|update|delete\s+from|truncate\s+table|from)\s+([A-Za-z_]\w*))"),
        QRegularExpression::CaseInsensitiveOption);
    const auto m = re.match(statement);
    return m.hasMatch() ? m.captured(1) : QString();
}

Connection::Connection(QString role) : m_role(std::move(role)) {}

Connection::~Connection() { close(); }

QString Connection::where() const { return QStringLiteral("%1数据库 %2").arg(m_role, m_spec.description); }

namespace {

// Byte 18 of a SQLite file's header is 2 in WAL mode.
bool inWalMode(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return false;
    const QByteArray header = f.read(20);
    return header.size() == 20 && header.startsWith("SQLite format 3") && header[18] == 2;
}

} // namespace

void Connection::checkReadable(sqlite3* handle)
{
    // Reading the schema is the first read; a WAL-mode file needs its -wal and -shm files for it.
    const int rc = sqlite3_exec(handle, "select count(*) from sqlite_master", nullptr, nullptr, nullptr);
    if (rc == SQLITE_OK)
        return;
    QString text = errorText(sqliteError(handle, rc));
    const int code = sqlite3_extended_errcode(handle);
    if (inWalMode(m_spec.databaseName) && (code == SQLITE_READONLY_DIRECTORY || code == SQLITE_READONLY_CANTINIT ||
                                           code == SQLITE_READONLY_RECOVERY || (code & 0xFF) == SQLITE_CANTOPEN)) {
        const QFileInfo file(m_spec.databaseName);
        text = QStringLiteral("它是 WAL 模式的 SQLite 数据库，读它也要在它的文件夹 %1 中建立（或已有）%2-wal 和 %2-shm "
                              "两个文件，而这个文件夹不可写：请让当前用户可以写这个文件夹，或把数据库复制到可写的文件夹"
                              "并改数据连接文件的 Data Source，或先在能写的地方把它改回 DELETE 日志模式"
                              "（PRAGMA journal_mode=DELETE）")
                   .arg(file.absolutePath(), file.fileName());
    }
    sqlite3_close_v2(handle);
    throw belmire::Error(QStringLiteral("无法读取%1数据库 %2：%3").arg(m_role, m_spec.description, text));
}

void Connection::open(const QString& udlPath)
{
    close();
    m_spec = readDataLink(udlPath);
    if (m_spec.driver == QLatin1String("SQLite")) {
        m_dialect = Dialect::SQLite;
        // SQLite would create a missing file; a missing database is an error here.
        const QFileInfo file(m_spec.databaseName);
        if (file.isDir())
            throw belmire::Error(QStringLiteral("%1数据库 %2 是一个文件夹，不是数据库文件（数据连接文件 %3 的 Data "
                                                "Source 要指向数据库文件本身）")
                                     .arg(m_role, m_spec.databaseName, udlPath));
        if (!file.isFile())
            throw belmire::Error(
                QStringLiteral("%1数据库文件 %2 不存在（数据连接文件 %3）").arg(m_role, m_spec.databaseName, udlPath));
        // The source is only read: it is opened so that nothing can write to it.
        const bool readOnly = m_role == QString::fromUtf8(kSourceRole);
        sqlite3* handle = nullptr;
        const int rc =
            sqlite3_open_v2(m_spec.databaseName.toUtf8().constData(), &handle,
                            (readOnly ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE) | SQLITE_OPEN_NOMUTEX, nullptr);
        if (rc != SQLITE_OK) {
            const QString text =
                errorText(handle ? sqliteError(handle, rc) : DriverError{QStringLiteral("out of memory"), {}});
            sqlite3_close_v2(handle);
            throw belmire::Error(QStringLiteral("无法连接%1数据库 %2：%3").arg(m_role, m_spec.description, text));
        }
        if (readOnly)
            checkReadable(handle);
        m_sqlite = handle;
        sqlite3_busy_timeout(m_sqlite, lockWaitMs());
        sqlite3_exec(m_sqlite, "PRAGMA foreign_keys=OFF", nullptr, nullptr, nullptr);
    } else if (m_spec.driver == QLatin1String("PostgreSQL")) {
        m_dialect = Dialect::PostgreSQL;
        DriverError error;
        m_pg = PgSession::connect(
            m_spec, [this](const DriverError& e) { return errorText(e); }, &error);
        if (!m_pg)
            throw belmire::Error(
                QStringLiteral("无法连接%1数据库 %2：%3").arg(m_role, m_spec.description, errorText(error)));
    } else {
        // ODBC: the database behind the link decides the dialect.
        auto link = std::make_unique<OdbcLink>();
        link->open(m_spec.databaseName, where(), m_spec.fallback);
        m_dialect = link->dialect();
        m_odbc = std::move(link);
        m_batch = std::make_unique<OdbcBatch>(*m_odbc);
    }
    m_connected = true;
}

void Connection::close()
{
    for (Query* q : QSet<Query*>(m_queries))
        q->dropStatement();
    if (m_inTransaction)
        rollback();
    m_batch.reset();
    m_collations.clear();
    m_odbc.reset();
    m_pg.reset();
    if (m_sqlite) {
        sqlite3_close_v2(m_sqlite);
        m_sqlite = nullptr;
    }
    m_deferring = false;
    m_sentTag = -1;
    m_inTransaction = false;
    m_connected = false;
}

namespace {

bool g_keysByCollation = false;

} // namespace

void Connection::setKeysCompareByCollation(bool on) { g_keysByCollation = on; }

bool Connection::comparesKeysExactly() const { return m_dialect != Dialect::SqlServer && !g_keysByCollation; }

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

bool Connection::isOpen() const { return m_odbc ? m_odbc->isOpen() : m_sqlite || m_pg; }

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
        return QStringLiteral("postgresql:") +
               firstRow(*this, QStringLiteral("select current_database(), current_setting('port'), "
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
        d.database = m_spec.databaseName;
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

qsizetype Connection::deferredWrites() const { return m_batch ? m_batch->size() : m_pg ? m_pg->pipeline().size() : 0; }

void Connection::queueWrite(const PgStatement& statement, std::vector<std::optional<QByteArray>> values,
                            const QString& table)
{
    m_pg->pipeline().queue(statement, std::move(values), table, m_tag, m_position++);
    if (!m_deferring)
        flushDeferred();
}

void Connection::queueWrite(const odbc::Markers& statement, const std::vector<odbc::Parameter>& values,
                            const QString& table)
{
    m_batch->queue(statement, values, table, m_tag, m_position++);
    if (!m_deferring)
        flushDeferred();
}

void Connection::queueControl(const QString& statement)
{
    if (m_batch)
        m_batch->queueControl(statement, m_tag, m_position++);
    else
        m_pg->pipeline().queueSimple(statement.toUtf8(), m_tag, m_position++);
}

void Connection::dropRowWrites(int tag)
{
    if (m_batch)
        m_batch->dropTag(tag);
    if (m_pg)
        m_pg->pipeline().dropTag(tag);
}

void Connection::flushDeferred()
{
    // The sent tag is set also when the flush fails: part of that row may have been applied.
    if (m_batch && !m_batch->empty()) {
        m_sentTag = m_batch->lastTag();
        m_batch->flush();
    }
    if (!m_pg || m_pg->pipeline().empty())
        return;
    m_sentTag = m_pg->pipeline().lastTag();
    m_pg->pipeline().flush();
}

std::optional<DriverError> Connection::run(const QByteArray& sql)
{
    if (m_sqlite) {
        const int rc = sqlite3_exec(m_sqlite, sql.constData(), nullptr, nullptr, nullptr);
        if (rc != SQLITE_OK)
            return sqliteError(m_sqlite, rc);
        return std::nullopt;
    }
    DriverError error;
    const PgResult r = m_pg->execText(sql, &error);
    if (!r)
        return error;
    // A transaction with a failed statement in it ends in a rollback, told as success.
    if (sql == "COMMIT" && qstrcmp(PQcmdStatus(r.get()), "ROLLBACK") == 0)
        return DriverError{QStringLiteral("the transaction was rolled back: a statement in it had failed"),
                           QStringLiteral("25P02")};
    return std::nullopt;
}

void Connection::begin()
{
    flushDeferred();
    if (m_inTransaction)
        return;
    if (m_odbc) {
        try {
            m_odbc->begin();
        } catch (const belmire::Error& e) {
            throw belmire::Error(QStringLiteral("%1数据库无法开始事务：%2").arg(m_role, e.message()));
        }
        m_inTransaction = true;
        return;
    }
    if (const auto error = run("BEGIN"))
        throw belmire::Error(QStringLiteral("%1数据库无法开始事务：%2").arg(m_role, errorText(*error)));
    m_inTransaction = true;
}

void Connection::commit()
{
    flushDeferred();
    if (!m_inTransaction)
        return;
    QString text;
    if (faults::fail(faults::Kind::Commit)) {
        text = errorText(faults::error(faults::Kind::Commit));
    } else if (m_odbc) {
        try {
            m_odbc->commit();
        } catch (const belmire::Error& e) {
            text = e.message();
        }
    } else if (const auto error = run("COMMIT")) {
        text = errorText(*error);
    }
    if (!text.isNull()) {
        rollback();
        throw belmire::Error(QStringLiteral("%1数据库提交失败：%2").arg(m_role, text));
    }
    m_inTransaction = false;
}

void Connection::rollback()
{
    if (m_pg)
        m_pg->pipeline().discard();
    if (m_batch)
        m_batch->discard();
    if (!m_inTransaction)
        return;
    m_inTransaction = false;
    if (m_odbc) {
        try {
            m_odbc->rollback();
        } catch (const belmire::Error&) {
            // A lost link has no transaction left to end.
        }
        return;
    }
    run("ROLLBACK"); // a lost server has no transaction left to end
}

void Connection::exec(const QString& statement)
{
    flushDeferred();
    QString table = statementTable(statement);
    const auto fail = [&](const QString& text) { throw belmire::Error(QStringLiteral("表 %1：%2").arg(table, text)); };
    if (const QString held = lockWaitGivenUp(where(), statement, &table); !held.isEmpty())
        fail(held);
    if (faults::fail(faults::Kind::Execute))
        fail(errorText(faults::error(faults::Kind::Execute)));
    const auto failWith = [&](const DriverError& error) {
        const QString message = errorText(error);
        if (isLockWait(message))
            noteLockWaitGivenUp(where(), error.text, locksWholeDatabase() ? QStringLiteral("*") : table);
        fail(message);
    };
    const QString text = rewrite(statement, m_dialect);
    if (m_odbc) {
        try {
            m_odbc->execute(text);
        } catch (const belmire::Error& e) {
            if (isLockWait(e.message()))
                noteLockWaitGivenUp(where(), e.message(), locksWholeDatabase() ? QStringLiteral("*") : table);
            fail(e.message());
        }
    } else if (m_sqlite) {
        SqliteStatement s(m_sqlite, text);
        if (!s.ok() || !s.execute())
            failWith(s.error());
    } else {
        DriverError error;
        if (!m_pg->execText(text.toUtf8(), &error))
            failWith(error);
    }
}

QString Connection::errorText(const odbc::Failure& failure) const { return m_odbc->errorText(failure); }

QString Connection::errorText(const DriverError& error) const
{
    QString text = error.text.trimmed();
    const QString& code = error.code;
    const bool diskFull = m_dialect == Dialect::SQLite ? code == u"13" || text.contains(u"database or disk is full")
                                                       : m_dialect == Dialect::PostgreSQL && code == u"53100";
    // Errors of the client library itself carry no SQLSTATE: the server is out of reach.
    const bool lost = m_connected && m_dialect == Dialect::PostgreSQL &&
                      (code.isEmpty() || code.startsWith(u"08") || code.startsWith(u"57P"));
    const bool locked = m_dialect == Dialect::SQLite ? (code.toInt() & 0xff) == SQLITE_BUSY
                                                     : m_dialect == Dialect::PostgreSQL && code == u"55P03";
    if (locked)
        return lockWaitText(where(), text);
    if (diskFull || lost) {
        text = text.simplified();
        text = diskFull ? QStringLiteral("磁盘已满（%1）：%2").arg(where(), text)
                        : QStringLiteral("与%1 的连接已断开：%2").arg(where(), text);
    }
    return text;
}

} // namespace db

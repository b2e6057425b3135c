#include "db/odbc_link.h"

#include "db/lock_wait.h"
#include "db/odbc_statement.h"
#include "textutil/error.h"

#include <QRegularExpression>

namespace db {
namespace {

// psqlODBC's protocol setting with its own savepoint per statement switched off.
const QString kPsqlodbcProtocol = QStringLiteral(";Protocol=7.4-0");

} // namespace

Dialect odbcDialect(const QString& dbmsName, const QString& where)
{
    const QString name = dbmsName.trimmed();
    if (name.contains(QLatin1String("SQL Server"), Qt::CaseInsensitive))
        return Dialect::SqlServer;
    if (name.startsWith(QLatin1String("PostgreSQL"), Qt::CaseInsensitive))
        return Dialect::PostgreSQL;
    if (name.startsWith(QLatin1String("SQLite"), Qt::CaseInsensitive))
        return Dialect::SQLite;
    throw belmire::Error(QStringLiteral("%1 是 %2，不受支持（ODBC 连接只能连到 SQL Server、PostgreSQL 或 SQLite）")
                             .arg(where, name.isEmpty() ? QStringLiteral("未知的数据库") : name));
}

void OdbcLink::open(const QString& connectionString, const QString& where)
{
    close();
    m_connectionString = connectionString;
    m_where = where;
    // A link naming psqlODBC's driver gets its protocol setting (below) from
    // the start, sparing a second connection; one through a DSN learns the
    // driver only once connected.
    const bool hasProtocol = connectionString.contains(QLatin1String("Protocol="), Qt::CaseInsensitive);
    static const QRegularExpression psqlodbc(QStringLiteral("(^|;)\\s*DRIVER\\s*=\\s*\\{?PostgreSQL (Unicode|ANSI)"),
                                             QRegularExpression::CaseInsensitiveOption);
    if (!hasProtocol && connectionString.contains(psqlodbc))
        m_connectionString += kPsqlodbcProtocol;
    try {
        m_main.open(m_connectionString);
        m_dbms = m_main.dbmsName();
    } catch (const odbc::Failure& f) {
        m_main.close();
        throw belmire::Error(QStringLiteral("无法连接%1：%2").arg(where, f.message()));
    }
    try {
        m_dialect = odbcDialect(m_dbms, where);
        // psqlODBC puts each statement inside a transaction under a savepoint of
        // its own ("rollback on errors: statement"), a round trip more for every
        // statement. The run sets its own savepoints for each row and batch and
        // rolls back itself, as on the native link, so the link asks for none.
        if (m_dialect == Dialect::PostgreSQL && m_main.driverName().startsWith(u"psqlodbc", Qt::CaseInsensitive) &&
            !m_connectionString.contains(QLatin1String("Protocol="), Qt::CaseInsensitive)) {
            m_connectionString += kPsqlodbcProtocol;
            m_main.close();
            m_main.open(m_connectionString);
        }
    } catch (const odbc::Failure& f) {
        m_main.close();
        throw belmire::Error(QStringLiteral("无法连接%1：%2").arg(where, f.message()));
    } catch (const belmire::Error&) {
        m_main.close();
        throw;
    }
    setUp(m_main);
    readServer();
}

void OdbcLink::readServer()
{
    m_major = m_level = 0;
    m_refused = 0;
    if (m_dialect != Dialect::SqlServer)
        return;
    try {
        m_major = m_main.dbmsVersion().section(u'.', 0, 0).toInt();
        // sysdatabases answers on every version (2005 on keeps it as a view).
        odbc::Statement q(m_main);
        q.executeDirect(QStringLiteral("select cmptlevel from master.dbo.sysdatabases where name = db_name()"));
        if (q.next())
            m_level = int(q.value(0).toLongLong());
        while (q.next())
            ;
    } catch (const odbc::Failure&) {
        // Not known: the forms are tried and fall back when refused.
    }
}

bool OdbcLink::accepts(Form form) const
{
    if (m_dialect != Dialect::SqlServer)
        return true;
    if (m_refused & (1u << unsigned(form)))
        return false;
    const auto atLeast = [](int have, int need) { return have == 0 || have >= need; };
    switch (form) {
    case Form::RowValues:
        return atLeast(m_major, 10);
    case Form::Windowed:
    case Form::Apply:
        return atLeast(m_major, 9) && atLeast(m_level, 90);
    case Form::CatalogViews:
        return atLeast(m_major, 9);
    case Form::SelectRows:
    case Form::KeyLists:
        break;
    }
    return true;
}

void OdbcLink::setUp(odbc::Connection& connection)
{
    try {
        switch (m_dialect) {
        case Dialect::SqlServer:
            // Long text and ntext values come whole (the server's own limit is
            // 4 KB and FreeTDS asks for more only where configured), and most
            // failing statements end only themselves, not the transaction, even
            // where the server's user options set XACT_ABORT (a deadlock or a
            // conversion error still ends it; the batches check).
            connection.execute(QStringLiteral("SET TEXTSIZE 2147483647"));
            connection.execute(QStringLiteral("SET XACT_ABORT OFF"));
            connection.execute(QStringLiteral("SET LOCK_TIMEOUT %1").arg(lockWaitMs()));
            break;
        case Dialect::PostgreSQL:
            connection.execute(QStringLiteral("SET lock_timeout = %1").arg(lockWaitMs()));
            break;
        case Dialect::SQLite:
            connection.execute(QStringLiteral("PRAGMA busy_timeout = %1").arg(lockWaitMs()));
            connection.execute(QStringLiteral("PRAGMA foreign_keys = OFF"));
            break;
        }
    } catch (const odbc::Failure& f) {
        connection.close();
        throw belmire::Error(QStringLiteral("无法连接%1：%2").arg(m_where, errorText(f)));
    }
}

void OdbcLink::close()
{
    m_reader.reset();
    m_main.close();
}

odbc::Connection& OdbcLink::reader()
{
    if (m_dialect != Dialect::SqlServer || m_main.openCursors() == 0)
        return m_main;
    if (!m_reader) {
        auto reader = std::make_unique<odbc::Connection>();
        try {
            reader->open(m_connectionString);
        } catch (const odbc::Failure& f) {
            throw belmire::Error(QStringLiteral("无法连接%1：%2").arg(m_where, errorText(f)));
        }
        setUp(*reader);
        m_reader = std::move(reader);
    }
    return *m_reader;
}

void OdbcLink::begin()
{
    execute(m_dialect == Dialect::SqlServer ? QStringLiteral("BEGIN TRANSACTION") : QStringLiteral("BEGIN"));
}

void OdbcLink::commit()
{
    execute(m_dialect == Dialect::SqlServer ? QStringLiteral("COMMIT TRANSACTION") : QStringLiteral("COMMIT"));
}

void OdbcLink::rollback()
{
    // After a deadlock SQL Server has already rolled back; a second rollback would be an error.
    execute(m_dialect == Dialect::SqlServer ? QStringLiteral("IF @@TRANCOUNT > 0 ROLLBACK TRANSACTION")
                                            : QStringLiteral("ROLLBACK"));
}

void OdbcLink::execute(const QString& statement)
{
    try {
        m_main.execute(statement);
    } catch (const odbc::Failure& f) {
        throw belmire::Error(errorText(f));
    }
}

QString OdbcLink::errorText(const odbc::Failure& f) const
{
    if (f.lostConnection())
        return QStringLiteral("与%1 的连接已断开：%2").arg(m_where, f.message());
    if (f.deadlock())
        return QStringLiteral("在%1 与另一个会话死锁，数据库撤销了本会话未提交的写入：%2").arg(m_where, f.message());
    if (f.lockTimeout())
        return lockWaitText(m_where, f.message());
    return f.message();
}

QString OdbcLink::transactionEndedText(const odbc::Failure& f) const
{
    if (f.lostConnection() || f.deadlock())
        return errorText(f);
    return QStringLiteral("%1 因这个错误结束了本会话的事务，撤销了未提交的写入：%2").arg(m_where, f.message());
}

bool OdbcLink::inTransaction()
{
    if (m_dialect != Dialect::SqlServer)
        return true;
    try {
        odbc::Statement q(m_main);
        q.executeDirect(QStringLiteral("select @@trancount"));
        // No answer at all says nothing: the savepoint's rollback will tell.
        const bool open = !q.next() || q.value(0).toLongLong() > 0;
        while (q.next())
            ;
        return open;
    } catch (const odbc::Failure&) {
        return false; // a session that cannot answer holds nothing to go back into
    }
}

} // namespace db

#include "db/odbc_link.h"

#include "db/lock_wait.h"
#include "db/odbc_statement.h"
#include "textutil/error.h"

#include <QRegularExpression>

namespace db {
namespace {

// psqlODBC's protocol setting with its own savepoint per statement switched off.
const QString kPsqlodbcProtocol = QStringLiteral(";Protocol=7.4-0");

// psqlODBC (9.6.1 on) hands libpq parameters on (pqopt): the lock wait then
// comes with the login, not as a statement after it.
QString psqlodbcLockWait() { return QStringLiteral(";pqopt={options='-c lock_timeout=%1'}").arg(lockWaitMs()); }

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

namespace {

// A failure before the server could look at the login: the driver would not
// load, or the connection or its TLS handshake broke off. A refused login
// (28000, 18456) is not one, nor a login time-out other than in the TLS
// handshake: another driver would wait as long again for an unreachable server.
bool handshakeFailed(const odbc::Failure& f)
{
    if (f.native() == 18456 || f.state() == u"28000")
        return false;
    static const QRegularExpression tls(QStringLiteral("SSL|TLS|handshake|protocol"),
                                        QRegularExpression::CaseInsensitiveOption);
    if (f.message().contains(tls))
        return true;
    // unixODBC tells of a driver library it cannot load with 01000 ("Can't open lib").
    return f.state().startsWith(u"08") || f.state().startsWith(u"IM") || f.state() == u"01000";
}

QString connectText(const QString& where, const odbc::Failure& f)
{
    QString text = QStringLiteral("无法连接%1：%2").arg(where, f.message());
    if (f.native() == 18456)
        text += QStringLiteral("（用户名或密码不对，或这个用户不能打开这个数据库）");
    return text;
}

QString driverOf(const QString& connectionString)
{
    static const QRegularExpression driver(QStringLiteral("(?:^|;)\\s*DRIVER\\s*=\\s*\\{?([^;}]*)"),
                                           QRegularExpression::CaseInsensitiveOption);
    return driver.match(connectionString).captured(1).trimmed();
}

// "SQL Server 2008 R2（10.50.1600）" from SQL_DBMS_VER.
QString serverProduct(const QString& version, int* major)
{
    const QStringList parts = version.split(u'.');
    *major = parts.value(0).toInt();
    const int minor = parts.value(1).toInt();
    static const std::map<int, const char*> names = {{8, "2000"},  {9, "2005"},  {10, "2008"}, {11, "2012"},
                                                     {12, "2014"}, {13, "2016"}, {14, "2017"}, {15, "2019"},
                                                     {16, "2022"}, {17, "2025"}};
    const auto it = names.find(*major);
    if (it == names.end())
        return QStringLiteral("SQL Server %1").arg(version);
    return QStringLiteral("SQL Server %1%2（%3）")
        .arg(QLatin1String(it->second), *major == 10 && minor >= 50 ? QStringLiteral(" R2") : QString(), version);
}

} // namespace

void OdbcLink::open(const QString& connectionString, const QString& where, const QString& fallback)
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
    const bool hasOptions = connectionString.contains(QLatin1String("pqopt="), Qt::CaseInsensitive);
    if (connectionString.contains(psqlodbc)) {
        if (!hasProtocol)
            m_connectionString += kPsqlodbcProtocol;
        if (!hasOptions)
            m_connectionString += psqlodbcLockWait();
    }
    QString givenUp;
    try {
        m_main.open(m_connectionString);
    } catch (const odbc::Failure& f) {
        m_main.close();
        if (fallback.isEmpty() || !handshakeFailed(f))
            throw belmire::Error(connectText(where, f));
        try {
            m_main.open(fallback);
        } catch (const odbc::Failure& again) {
            m_main.close();
            throw belmire::Error(QStringLiteral("%1\n改用 %2 也无法连接：%3")
                                     .arg(connectText(where, f), driverOf(fallback), again.message()));
        }
        givenUp = QStringLiteral("%1 无法连接：%2").arg(driverOf(m_connectionString), f.message().simplified());
        m_connectionString = fallback;
    }
    try {
        m_dbms = m_main.dbmsName();
        m_dialect = odbcDialect(m_dbms, where);
        // psqlODBC puts each statement inside a transaction under a savepoint of
        // its own ("rollback on errors: statement"), a round trip more for every
        // statement. The run sets its own savepoints for each row and batch and
        // rolls back itself, as on the native link, so the link asks for none.
        if (m_dialect == Dialect::PostgreSQL && m_main.driverName().startsWith(u"psqlodbc", Qt::CaseInsensitive) &&
            !m_connectionString.contains(QLatin1String("Protocol="), Qt::CaseInsensitive)) {
            m_connectionString += kPsqlodbcProtocol;
            if (!hasOptions)
                m_connectionString += psqlodbcLockWait();
            m_main.close();
            m_main.open(m_connectionString);
        }
        const bool psqlodbcLink =
            m_dialect == Dialect::PostgreSQL && m_main.driverName().startsWith(u"psqlodbc", Qt::CaseInsensitive);
        m_holds = psqlodbcLink && m_connectionString.contains(kPsqlodbcProtocol.mid(1), Qt::CaseInsensitive);
        m_psqlodbc = psqlodbcLink;
        m_lockWaitAtLogin = psqlodbcLink && m_connectionString.contains(psqlodbcLockWait()) &&
                            m_main.driverVersion().section(u'.', 0, 0).toInt() >= 10;
        describeAnswer(givenUp);
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

void OdbcLink::describeAnswer(const QString& givenUp)
{
    m_answered.clear();
    if (m_dialect != Dialect::SqlServer)
        return;
    int major = 0;
    const QString server = serverProduct(m_main.dbmsVersion(), &major);
    QString tds = m_main.freeTdsProtocol();
    if (tds.isEmpty()) // Microsoft's drivers speak the newest TDS the server knows
        tds = m_connectionString.contains(QLatin1String("Encrypt=strict"), Qt::CaseInsensitive) ? QStringLiteral("8.0")
              : major >= 11                                                                     ? QStringLiteral("7.4")
              : major == 10                                                                     ? QStringLiteral("7.3")
              : major == 9                                                                      ? QStringLiteral("7.2")
                                                                                                : QStringLiteral("7.1");
    QString driver = driverOf(m_connectionString);
    if (driver.isEmpty())
        driver = m_main.driverName();
    m_answered = QStringLiteral("%1 %2，TDS %3，%4").arg(driver, m_main.driverVersion(), tds, server);
    if (!givenUp.isEmpty())
        m_answered += QStringLiteral("；%1").arg(givenUp);
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
            if (!m_lockWaitAtLogin)
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
    m_holds = false;
    m_psqlodbc = false;
    m_lockWaitAtLogin = false;
    m_held.clear();
    m_triggers.clear();
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
    if (m_holds) {
        holdBack(QStringLiteral("BEGIN"));
        return;
    }
    execute(m_dialect == Dialect::SqlServer ? QStringLiteral("BEGIN TRANSACTION") : QStringLiteral("BEGIN"));
}

void OdbcLink::commit()
{
    execute(m_dialect == Dialect::SqlServer ? QStringLiteral("COMMIT TRANSACTION") : QStringLiteral("COMMIT"));
}

void OdbcLink::rollback()
{
    // A BEGIN still held back opened nothing to roll back; a held release goes with the rollback.
    const bool begun = m_held.isEmpty() || m_held.constFirst() != u"BEGIN";
    m_held.clear();
    if (!begun)
        return;
    // After a deadlock SQL Server has already rolled back; a second rollback would be an error.
    execute(m_dialect == Dialect::SqlServer ? QStringLiteral("IF @@TRANCOUNT > 0 ROLLBACK TRANSACTION")
                                            : QStringLiteral("ROLLBACK"));
}

void OdbcLink::execute(const QString& statement)
{
    try {
        send(statement);
    } catch (const odbc::Failure& f) {
        throw belmire::Error(errorText(f));
    }
}

void OdbcLink::send(const QString& statement)
{
    m_held << statement;
    sendHeld();
}

void OdbcLink::holdBack(const QString& statement)
{
    if (m_holds)
        m_held << statement;
    else
        m_main.execute(statement);
}

void OdbcLink::sendHeld()
{
    if (m_held.isEmpty())
        return;
    QStringList texts;
    std::swap(texts, m_held);
    m_main.execute(texts.join(u';'));
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

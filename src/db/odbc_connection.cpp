#include "db/odbc_connection.h"

#include "db/odbc_calls.h"

#include <QRegularExpression>

namespace db::odbc {
namespace {

// Seconds a login may take before the driver gives up.
constexpr SQLULEN kLoginTimeout = 15;

} // namespace

SQLHENV environment()
{
    static SQLHENV env = [] {
        SQLHENV h = SQL_NULL_HENV;
        if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &h)))
            return SQLHENV(SQL_NULL_HENV);
        SQLSetEnvAttr(h, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQLULEN(SQL_OV_ODBC3)), 0);
        return h;
    }();
    if (env == SQL_NULL_HENV)
        throw Failure(QStringLiteral("无法初始化 ODBC 驱动程序管理器"), QString(), 0);
    return env;
}

Failure diagnostics(SQLSMALLINT type, SQLHANDLE handle)
{
    QString state;
    int native = 0;
    QStringList texts;
    for (SQLSMALLINT record = 1;; ++record) {
        SQLWCHAR sqlState[6] = {};
        SQLINTEGER code = 0;
        SQLSMALLINT length = 0;
        SQLRETURN rc = SQLGetDiagRecW(type, handle, record, sqlState, &code, nullptr, 0, &length);
        if (!SQL_SUCCEEDED(rc))
            break;
        std::vector<SQLWCHAR> message(size_t(length) + 1);
        rc =
            SQLGetDiagRecW(type, handle, record, sqlState, &code, message.data(), SQLSMALLINT(message.size()), &length);
        if (!SQL_SUCCEEDED(rc))
            break;
        if (record == 1) {
            state = fromWide(sqlState, 5);
            native = int(code);
        }
        const QString text = fromWide(message.data(), qMin<qsizetype>(length, qsizetype(message.size()) - 1)).trimmed();
        if (!text.isEmpty() && !texts.contains(text))
            texts << text;
    }
    if (texts.isEmpty())
        texts << QStringLiteral("ODBC 调用失败，驱动没有给出原因");
    return Failure(texts.join(u'\n'), state, native);
}

bool Failure::lostConnection() const { return m_state.startsWith(u"08") || m_state == u"HYT01"; }

bool Failure::lockTimeout() const
{
    return m_native == 1222 || m_state == u"HYT00" || m_state == u"55P03" ||
           (m_native == 5 && message().contains(QLatin1String("locked")));
}

bool Failure::deadlock() const { return m_native == 1205 || m_state == u"40001" || m_state == u"40P01"; }

bool Failure::refusedForm() const
{
    // 102/156/170: incorrect syntax; 195: not a built-in function; 208: no such
    // object; 10738: too many rows in a VALUES list; 8621/8623/8632: the query
    // processor ran out of room for the statement.
    switch (m_native) {
    case 102:
    case 156:
    case 170:
    case 195:
    case 208:
    case 8621:
    case 8623:
    case 8632:
    case 10738:
        return true;
    default:
        return false;
    }
}

QStringList drivers()
{
    QStringList names;
    SQLHENV env = environment();
    // The driver manager hands the list out one entry at a time, each time
    // SQL_FETCH_NEXT; a name longer than the buffer comes back cut and is asked again.
    std::vector<SQLWCHAR> name(256);
    SQLUSMALLINT direction = SQL_FETCH_FIRST;
    for (;;) {
        SQLSMALLINT nameLength = 0;
        SQLSMALLINT attributesLength = 0;
        const SQLRETURN rc = SQLDriversW(env, direction, name.data(), SQLSMALLINT(name.size()), &nameLength, nullptr, 0,
                                         &attributesLength);
        if (rc == SQL_NO_DATA || !SQL_SUCCEEDED(rc))
            break;
        if (size_t(nameLength) >= name.size()) {
            name.resize(size_t(nameLength) + 1);
            if (direction == SQL_FETCH_FIRST) // restart, the list is short
                continue;
        }
        const QString driver = fromWide(name.data(), qMin<qsizetype>(nameLength, qsizetype(name.size()) - 1));
        // unixODBC also lists the "[ODBC Drivers]" index section of odbcinst.ini, which is no driver.
        if (!driver.isEmpty() && driver.compare(QLatin1String("ODBC Drivers"), Qt::CaseInsensitive) != 0 &&
            !names.contains(driver, Qt::CaseInsensitive))
            names << driver;
        direction = SQL_FETCH_NEXT;
    }
    return names;
}

Connection::~Connection() { close(); }

void Connection::open(const QString& connectionString)
{
    close();
    SQLHENV env = environment();
    SQLHDBC dbc = SQL_NULL_HDBC;
    if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_DBC, env, &dbc)))
        throw diagnostics(SQL_HANDLE_ENV, env);
    SQLSetConnectAttrW(dbc, SQL_ATTR_LOGIN_TIMEOUT, reinterpret_cast<SQLPOINTER>(kLoginTimeout), 0);
    SQLRETURN rc;
#ifndef _WIN32
    // unixODBC hands a wide connection string to a driver without wide entry points (the SQLite driver) cut to
    // one byte per character, which breaks a path with Chinese characters in it; those drivers take UTF-8.
    // FreeTDS, though, reads a narrow connection string as ISO-8859-1 (it has no character set before it
    // connects), which garbles a Chinese database, user or password: it gets the wide form.
    if (!connectionString.contains(
            QRegularExpression(QStringLiteral("(^|;)\\s*DRIVER\\s*=\\s*\\{?FreeTDS\\}?\\s*(;|$)"),
                               QRegularExpression::CaseInsensitiveOption))) {
        QByteArray in = connectionString.toUtf8();
        SQLCHAR out[1024];
        SQLSMALLINT outLength = 0;
        rc = SQLDriverConnect(dbc, nullptr, reinterpret_cast<SQLCHAR*>(in.data()), SQL_NTS, out,
                              SQLSMALLINT(std::size(out)), &outLength, SQL_DRIVER_NOPROMPT);
    } else
#endif
    {
        std::vector<SQLWCHAR> in = toWide(connectionString);
        SQLWCHAR out[1024];
        SQLSMALLINT outLength = 0;
        rc = SQLDriverConnectW(dbc, nullptr, in.data(), SQL_NTS, out, SQLSMALLINT(std::size(out)), &outLength,
                               SQL_DRIVER_NOPROMPT);
    }
    if (!SQL_SUCCEEDED(rc)) {
        Failure failure = diagnostics(SQL_HANDLE_DBC, dbc);
        SQLFreeHandle(SQL_HANDLE_DBC, dbc);
        throw failure;
    }
    m_dbc = dbc;
}

void Connection::close()
{
    if (!m_dbc)
        return;
    SQLDisconnect(m_dbc);
    SQLFreeHandle(SQL_HANDLE_DBC, m_dbc);
    m_dbc = nullptr;
}

QString Connection::info(unsigned short type) const
{
    SQLWCHAR value[256] = {};
    SQLSMALLINT length = 0;
    if (!SQL_SUCCEEDED(SQLGetInfoW(m_dbc, type, value, SQLSMALLINT(sizeof value), &length)))
        throw diagnostics(SQL_HANDLE_DBC, m_dbc);
    return fromWide(value, qMin<qsizetype>(length / qsizetype(sizeof(SQLWCHAR)), qsizetype(std::size(value)) - 1));
}

QString Connection::dbmsName() const { return info(SQL_DBMS_NAME); }

QString Connection::dbmsVersion() const { return info(SQL_DBMS_VER); }

QString Connection::driverName() const { return info(SQL_DRIVER_NAME); }

QString Connection::driverVersion() const { return info(SQL_DRIVER_VER); }

QString Connection::freeTdsProtocol() const
{
    // FreeTDS's own SQLGetInfo type (SQL_INFO_FREETDS_TDS_VERSION in its odbcss.h): major << 16 | minor.
    constexpr SQLUSMALLINT kFreeTdsTdsVersion = 1300;
    if (!driverName().contains(QLatin1String("tdsodbc"), Qt::CaseInsensitive))
        return {};
    SQLUINTEGER version = 0;
    SQLSMALLINT length = 0;
    if (!SQL_SUCCEEDED(SQLGetInfo(m_dbc, kFreeTdsTdsVersion, &version, sizeof version, &length)))
        return {};
    return QStringLiteral("%1.%2").arg(version >> 16).arg(version & 0xFFFF);
}

void Connection::execute(const QString& statement)
{
    SQLHSTMT stmt = SQL_NULL_HSTMT;
    if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_STMT, m_dbc, &stmt)))
        throw diagnostics(SQL_HANDLE_DBC, m_dbc);
    std::vector<SQLWCHAR> text = toWide(statement);
    const SQLRETURN rc = SQLExecDirectW(stmt, text.data(), SQLINTEGER(text.size() - 1));
    if (!SQL_SUCCEEDED(rc) && rc != SQL_NO_DATA) {
        Failure failure = diagnostics(SQL_HANDLE_STMT, stmt);
        SQLFreeHandle(SQL_HANDLE_STMT, stmt);
        throw failure;
    }
    // Statements that return several results (row counts of a batch) are read to the end.
    for (;;) {
        const SQLRETURN more = SQLMoreResults(stmt);
        if (more == SQL_ERROR) {
            Failure failure = diagnostics(SQL_HANDLE_STMT, stmt);
            SQLFreeHandle(SQL_HANDLE_STMT, stmt);
            throw failure;
        }
        if (!SQL_SUCCEEDED(more))
            break;
    }
    SQLFreeHandle(SQL_HANDLE_STMT, stmt);
}

} // namespace db::odbc

#include "db/odbc_statement.h"

#include "db/odbc_calls.h"
#include "textutil/gbk.h"

#include <cstring>

namespace db::odbc {
namespace {

// Texts up to this many characters are declared with this one size, so a
// statement keeps one parameter shape (SQL Server caches one plan for it).
constexpr SQLULEN kTextColumnSize = 4000;

// Puts bytes into a value's buffer, keeping its allocation where it is large
// enough: a parameter whose buffer stays put need not be bound again.
void store(QByteArray& buffer, const void* bytes, qsizetype size)
{
    buffer.resize(size);
    if (size)
        std::memcpy(buffer.data(), bytes, size_t(size));
}

} // namespace

Statement::Statement(Connection& connection) : m_connection(&connection) { allocate(); }

Statement::~Statement()
{
    setCursor(false);
    if (m_stmt)
        SQLFreeHandle(SQL_HANDLE_STMT, m_stmt);
}

void Statement::allocate()
{
    SQLHSTMT stmt = SQL_NULL_HSTMT;
    auto* dbc = static_cast<SQLHDBC>(m_connection->handle());
    if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_STMT, dbc, &stmt)))
        throw diagnostics(SQL_HANDLE_DBC, dbc);
    m_stmt = stmt;
}

void Statement::moveTo(Connection& connection)
{
    closeCursor();
    SQLFreeHandle(SQL_HANDLE_STMT, m_stmt);
    m_stmt = nullptr;
    m_connection = &connection;
    allocate();
    m_bound.clear();
    m_columns.clear();
    if (m_driverPrepared) {
        m_driverPrepared = false;
        prepareOnDriver();
    }
}

void Statement::prepareOnDriver()
{
    std::vector<SQLWCHAR> wide = toWide(m_markers.text);
    check(SQLPrepareW(m_stmt, wide.data(), SQLINTEGER(wide.size() - 1)));
    m_driverPrepared = true;
    m_bound.clear(); // bound again on the prepared statement, whatever the driver keeps
}

void Statement::setCursor(bool open)
{
    if (open != m_cursor)
        m_connection->m_cursors += open ? 1 : -1;
    m_cursor = open;
}

void Statement::fail() const { throw diagnostics(SQL_HANDLE_STMT, m_stmt); }

void Statement::check(short rc) const
{
    if (!SQL_SUCCEEDED(rc))
        fail();
}

void Statement::prepare(const QString& text, Prepare when)
{
    prepare(markers(text), when);
    m_text = text;
}

void Statement::prepare(const Markers& marked, Prepare when)
{
    closeCursor();
    m_text = marked.text;
    m_markers = marked;
    m_values.assign(m_markers.names.size(), Value());
    for (int k = 0; k < int(m_values.size()); ++k)
        bindNull(k);
    m_columns.clear();
    m_driverPrepared = false;
    m_runs = 0;
    if (when == Prepare::Now)
        prepareOnDriver();
}

void Statement::bindText(int index, const QByteArray& gbkText)
{
    Value& v = m_values[size_t(index)];
    v.cType = SQL_C_WCHAR;
    v.sqlType = SQL_WVARCHAR;
    // Converted straight into the value's buffer: a GBK character is at most one UTF-16 unit.
    v.data.resize(gbkText.size() * qsizetype(sizeof(char16_t)));
    qsizetype units = gbk::toUtf16(gbkText.constData(), gbkText.size(), reinterpret_cast<char16_t*>(v.data.data()));
    if (units >= 0)
        v.data.resize(units * qsizetype(sizeof(char16_t)));
    else {
        const QString text = gbk::toUnicode(gbkText);
        store(v.data, text.utf16(), text.size() * qsizetype(sizeof(char16_t)));
        units = text.size();
    }
    v.indicator = v.data.size();
    // Never 0: Microsoft's drivers refuse a size of 0 (HY104), which an empty text would give.
    v.columnSize = qMax<SQLULEN>(kTextColumnSize, SQLULEN(units));
    v.digits = 0;
}

void Statement::bindAmount(int index, Amount value)
{
    Value& v = m_values[size_t(index)];
    v.cType = SQL_C_CHAR;
    v.sqlType = SQL_DECIMAL;
    const QByteArray digits = value.toLatin1();
    store(v.data, digits.constData(), digits.size());
    v.indicator = v.data.size();
    v.columnSize = 19;
    v.digits = 4;
}

void Statement::bindInteger(int index, qint64 value)
{
    Value& v = m_values[size_t(index)];
    v.cType = SQL_C_SBIGINT;
    v.sqlType = SQL_BIGINT;
    store(v.data, &value, sizeof value);
    v.indicator = 0;
    v.columnSize = 19;
    v.digits = 0;
}

void Statement::bindNumber(int index, double value)
{
    Value& v = m_values[size_t(index)];
    v.cType = SQL_C_DOUBLE;
    v.sqlType = SQL_DOUBLE;
    store(v.data, &value, sizeof value);
    v.indicator = 0;
    v.columnSize = 15;
    v.digits = 0;
}

void Statement::bindNull(int index)
{
    Value& v = m_values[size_t(index)];
    v.cType = SQL_C_WCHAR;
    v.sqlType = SQL_WVARCHAR;
    v.data.resize(0);
    v.indicator = SQL_NULL_DATA;
    v.columnSize = kTextColumnSize;
    v.digits = 0;
}

void Statement::bindValue(int index, const Parameter& value)
{
    bindValue(index, value, value.data.constData(), value.data.size());
}

void Statement::bindValue(int index, const Shape& shape, const char* data, qsizetype size)
{
    Value& v = m_values[size_t(index)];
    static_cast<Shape&>(v) = shape;
    store(v.data, data, size);
}

void Statement::bindAll()
{
    // A driver may take any new binding as a changed statement: FreeTDS then
    // unprepares and prepares again on the server for every execution. So a
    // parameter is bound again only when its type, size or buffer changed.
    m_bound.resize(m_markers.markers.size());
    // From the last marker down: a driver that grows its parameter list to the
    // marker bound (psqlODBC, FreeTDS) then grows it once, not once a marker.
    for (size_t m = m_markers.markers.size(); m-- > 0;) {
        Value& v = m_values[size_t(m_markers.markers[m])];
        // A prepared statement gets room for most values, so its buffers
        // rarely move; one run directly only what it holds. Never a null pointer.
        const qsizetype room = qMax<qsizetype>(m_driverPrepared ? m_room : 0, qMax<qsizetype>(1, v.data.size()));
        if (v.data.capacity() < room)
            v.data.reserve(room);
        auto* indicator = reinterpret_cast<SQLLEN*>(&v.indicator);
        const Binding b{v.data.data(), indicator, v.cType, v.sqlType, v.columnSize, v.digits, v.data.capacity()};
        if (b == m_bound[m])
            continue;
        m_bound[m] = Binding();
        check(SQLBindParameter(m_stmt, SQLUSMALLINT(m + 1), SQL_PARAM_INPUT, v.cType, v.sqlType, v.columnSize, v.digits,
                               v.data.data(), SQLLEN(v.data.capacity()), indicator));
        m_bound[m] = b;
    }
}

void Statement::execute()
{
    closeCursor();
    const bool direct = !m_driverPrepared && m_runs == 0;
    if (!direct && !m_driverPrepared)
        prepareOnDriver();
    ++m_runs;
    bindAll();
    SQLRETURN rc;
    if (direct) {
        std::vector<SQLWCHAR> wide = toWide(m_markers.text);
        rc = SQLExecDirectW(m_stmt, wide.data(), SQLINTEGER(wide.size() - 1));
    } else
        rc = SQLExecute(m_stmt);
    if (!SQL_SUCCEEDED(rc) && rc != SQL_NO_DATA)
        fail();
    describe();
}

void Statement::executeDirect(const QString& text)
{
    closeCursor();
    m_text.clear();
    m_driverPrepared = false;
    m_runs = 0;
    m_markers = Markers();
    m_values.clear();
    m_columns.clear();
    std::vector<SQLWCHAR> wide = toWide(text);
    const SQLRETURN rc = SQLExecDirectW(m_stmt, wide.data(), SQLINTEGER(wide.size() - 1));
    if (!SQL_SUCCEEDED(rc) && rc != SQL_NO_DATA)
        fail();
    describe();
}

qint64 Statement::rowsAffected() const
{
    SQLLEN n = -1;
    if (!SQL_SUCCEEDED(SQLRowCount(m_stmt, &n)))
        return -1;
    return qint64(n);
}

void Statement::closeCursor()
{
    if (m_cursor)
        SQLFreeStmt(m_stmt, SQL_CLOSE);
    setCursor(false);
}

} // namespace db::odbc

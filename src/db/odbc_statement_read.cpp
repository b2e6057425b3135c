// Reading a statement's results: the columns' description, the rows, and each
// value, long ones in pieces.
#include "db/odbc_statement.h"

#include "db/odbc_calls.h"
#include "textutil/gbk.h"

#include <QDate>
#include <QDateTime>

namespace db::odbc {
namespace {

// Characters read per SQLGetData call before a long value is asked for the rest.
constexpr size_t kPieceUnits = 256;

} // namespace

void Statement::describe()
{
    SQLSMALLINT count = 0;
    check(SQLNumResultCols(m_stmt, &count));
    setCursor(count > 0);
    if (count == 0) {
        m_columns.clear();
        m_row.clear();
        return;
    }
    if (int(m_columns.size()) == count)
        return; // the same statement again gives the same columns
    m_columns.assign(size_t(count), Column());
    // psqlODBC looks a column's table up in the catalog, a round trip per
    // table and connection, when SQLDescribeCol is asked for the type or
    // nullability; its descriptor type needs no look-up, only date and time
    // types (SQL_DATETIME there) ask for the exact one.
    const bool lookupFree = m_connection->driverName().startsWith(u"psqlodbc", Qt::CaseInsensitive);
    for (SQLSMALLINT k = 0; k < count; ++k) {
        SQLWCHAR name[256] = {};
        SQLSMALLINT nameLength = 0, type = 0, digits = 0, nullable = 0;
        SQLULEN size = 0;
        const auto col = SQLUSMALLINT(k + 1);
        check(SQLDescribeColW(m_stmt, col, name, SQLSMALLINT(std::size(name)), &nameLength,
                              lookupFree ? nullptr : &type, &size, &digits, lookupFree ? nullptr : &nullable));
        if (lookupFree) {
            SQLLEN described = 0;
            check(SQLColAttributeW(m_stmt, col, SQL_DESC_TYPE, nullptr, 0, nullptr, &described));
            if (described == SQL_DATETIME)
                check(SQLColAttributeW(m_stmt, col, SQL_DESC_CONCISE_TYPE, nullptr, 0, nullptr, &described));
            type = SQLSMALLINT(described);
        }
        Column& c = m_columns[size_t(k)];
        c.name = fromWide(name, qMin<qsizetype>(nameLength, qsizetype(std::size(name)) - 1));
        c.sqlType = type;
        switch (type) {
        case SQL_BIT:
            c.cType = SQL_C_BIT;
            break;
        case SQL_TINYINT:
        case SQL_SMALLINT:
        case SQL_INTEGER:
        case SQL_BIGINT:
            c.cType = SQL_C_SBIGINT;
            break;
        case SQL_REAL:
        case SQL_FLOAT:
        case SQL_DOUBLE:
            c.cType = SQL_C_DOUBLE;
            break;
        case SQL_TYPE_DATE:
            c.cType = SQL_C_TYPE_DATE;
            break;
        case SQL_TYPE_TIMESTAMP:
            c.cType = SQL_C_TYPE_TIMESTAMP;
            break;
        case SQL_BINARY:
        case SQL_VARBINARY:
        case SQL_LONGVARBINARY:
            c.cType = SQL_C_BINARY;
            break;
        default: // texts, decimals (read as their exact text), times, anything else
            c.cType = SQL_C_WCHAR;
            break;
        }
    }
}

bool Statement::next()
{
    if (!m_cursor)
        return false;
    const SQLRETURN rc = SQLFetch(m_stmt);
    if (rc == SQL_NO_DATA) {
        closeCursor();
        return false;
    }
    check(rc);
    // Every column is read now, in order: drivers need not give columns back in any other order.
    m_row.resize(qsizetype(m_columns.size()));
    for (size_t k = 0; k < m_columns.size(); ++k)
        m_row[qsizetype(k)] = readColumn(int(k), m_columns[k]);
    return true;
}

QVariant Statement::readColumn(int column, const Column& c)
{
    const auto col = SQLUSMALLINT(column + 1);
    SQLLEN indicator = 0;
    switch (c.cType) {
    case SQL_C_BIT: {
        unsigned char v = 0;
        check(SQLGetData(m_stmt, col, SQL_C_BIT, &v, sizeof v, &indicator));
        return indicator == SQL_NULL_DATA ? QVariant() : QVariant(v != 0);
    }
    case SQL_C_SBIGINT: {
        SQLBIGINT v = 0;
        check(SQLGetData(m_stmt, col, SQL_C_SBIGINT, &v, sizeof v, &indicator));
        return indicator == SQL_NULL_DATA ? QVariant() : QVariant(qlonglong(v));
    }
    case SQL_C_DOUBLE: {
        double v = 0;
        check(SQLGetData(m_stmt, col, SQL_C_DOUBLE, &v, sizeof v, &indicator));
        return indicator == SQL_NULL_DATA ? QVariant() : QVariant(v);
    }
    case SQL_C_TYPE_DATE: {
        SQL_DATE_STRUCT v{};
        check(SQLGetData(m_stmt, col, SQL_C_TYPE_DATE, &v, sizeof v, &indicator));
        return indicator == SQL_NULL_DATA ? QVariant() : QVariant(QDate(v.year, v.month, v.day));
    }
    case SQL_C_TYPE_TIMESTAMP: {
        SQL_TIMESTAMP_STRUCT v{};
        check(SQLGetData(m_stmt, col, SQL_C_TYPE_TIMESTAMP, &v, sizeof v, &indicator));
        if (indicator == SQL_NULL_DATA)
            return {};
        return QDateTime(QDate(v.year, v.month, v.day), QTime(v.hour, v.minute, v.second, int(v.fraction / 1000000)));
    }
    default:
        break;
    }
    // Texts and bytes come in pieces when longer than the buffer; the pieces are
    // joined first and only the whole value is decoded, so a character split
    // between two pieces stays whole.
    const bool wide = c.cType == SQL_C_WCHAR;
    if (m_buffer.size() < kPieceUnits)
        m_buffer.resize(kPieceUnits);
    QByteArray joined;
    for (;;) {
        const SQLLEN bufferBytes = SQLLEN(m_buffer.size() * sizeof(char16_t));
        const SQLRETURN rc = SQLGetData(m_stmt, col, c.cType, m_buffer.data(), bufferBytes, &indicator);
        if (rc == SQL_NO_DATA) // every piece has been read
            break;
        check(rc);
        if (indicator == SQL_NULL_DATA)
            return {};
        // A piece fills the buffer but for the terminator a text gets.
        const SQLLEN room = wide ? bufferBytes - SQLLEN(sizeof(char16_t)) : bufferBytes;
        const bool more = rc == SQL_SUCCESS_WITH_INFO && (indicator == SQL_NO_TOTAL || indicator > room);
        const SQLLEN got = more ? room : indicator;
        // A value in one piece, as most are, becomes the result straight from the buffer.
        if (!more && joined.isEmpty()) {
            if (!wide)
                return QByteArray(reinterpret_cast<const char*>(m_buffer.data()), qsizetype(got));
            return QString(reinterpret_cast<const QChar*>(m_buffer.data()),
                           qsizetype(got) / qsizetype(sizeof(char16_t)));
        }
        joined.append(reinterpret_cast<const char*>(m_buffer.data()), qsizetype(got));
        if (!more)
            break;
        // Knowing the rest, ask for it whole in the next call.
        if (indicator != SQL_NO_TOTAL && size_t(indicator - room) / sizeof(char16_t) + 2 > m_buffer.size())
            m_buffer.resize(size_t(indicator - room) / sizeof(char16_t) + 2);
    }
    if (!wide)
        return joined;
    return QString(reinterpret_cast<const QChar*>(joined.constData()), joined.size() / qsizetype(sizeof(char16_t)));
}

} // namespace db::odbc

#include "db/sqlite_statement.h"

#include "db/query.h"
#include "textutil/error.h"
#include "textutil/gbk.h"

#include <sqlite3.h>

#include <atomic>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>

namespace db {
namespace {

// A stored text that is not UTF-8: the GBK bytes an older program stored, or a
// broken text that no reading would give back unchanged.
QByteArray storedGbk(const char* data, int size)
{
    // GBK rarely forms UTF-8 sequences by chance: mostly UTF-8 means UTF-8 with a few broken bytes.
    if (!gbk::mostlyUtf8(data, size) && gbk::isGbk(data, size))
        return QByteArray(data, size);
    throw belmire::Error(QStringLiteral("文本既不是有效的 UTF-8，也不是有效的 GBK：“%1”；请先在源中改正")
                             .arg(gbk::showBytes(data, size)));
}

// A stored double as text, as the database layer writes every double: the
// shortest text that reads back as it. Between 0.001 and 100000 that text has
// no exponent and is what the library writes in fixed notation, without
// going through a QString; elsewhere the layer's own way decides.
QByteArray doubleText(double x)
{
    if (x == 0)
        return QByteArrayLiteral("0"); // -0 too
    const double a = std::fabs(x);
    if (a >= 1e-3 && a < 1e5) {
        char buffer[64];
        const auto r = std::to_chars(buffer, buffer + sizeof buffer, x, std::chars_format::fixed);
        if (r.ec == std::errc())
            return QByteArray(buffer, qsizetype(r.ptr - buffer));
    }
    return variantText(x);
}

} // namespace

DriverError sqliteError(sqlite3* handle, int rc)
{
    return {QString(reinterpret_cast<const QChar*>(sqlite3_errmsg16(handle))), QString::number(rc)};
}

SqliteStatement::SqliteStatement(sqlite3* handle, const QString& text, SqliteWriteLog* const* recording)
    : m_handle(handle), m_recording(recording)
{
    const QByteArray utf8 = text.toUtf8();
    const char* tail = nullptr;
    const int rc = sqlite3_prepare_v2(m_handle, utf8.constData(), int(utf8.size()), &m_stmt, &tail);
    if (rc != SQLITE_OK) {
        fail(rc);
        sqlite3_finalize(m_stmt);
        m_stmt = nullptr;
        return;
    }
    // One statement per text; anything after it would be lost unseen.
    for (; tail && *tail; ++tail)
        if (!QChar::isSpace(uchar(*tail)) && *tail != ';') {
            m_error = {QStringLiteral("one statement only: %1").arg(QString::fromUtf8(tail)), QString()};
            sqlite3_finalize(m_stmt);
            m_stmt = nullptr;
            return;
        }
    m_bound.resize(size_t(sqlite3_bind_parameter_count(m_stmt)));
    m_writes = !sqlite3_stmt_readonly(m_stmt);
    if (m_writes)
        m_sql = sqlite3_sql(m_stmt);
}

SqliteStatement::~SqliteStatement() { sqlite3_finalize(m_stmt); }

bool SqliteStatement::fail(int rc)
{
    m_error = sqliteError(m_handle, rc);
    return false;
}

int SqliteStatement::parameterIndex(const QString& name)
{
    if (const int known = m_parameters.find(name); known != NameIndex::kUnknown)
        return known;
    const int index = sqlite3_bind_parameter_index(m_stmt, (u':' + name).toUtf8().constData());
    m_parameters.add(name, index);
    return index;
}

void SqliteStatement::rewind()
{
    // Binding needs a statement that is not mid-run.
    if (m_stepped) {
        sqlite3_reset(m_stmt);
        m_stepped = false;
        m_row = false;
    }
}

// A parameter bound again with the value it holds is left as it is: the
// statement keeps its values from one execution to the next, and most rows
// repeat many of them (fixed texts, defaults, the warehouse of a run of rows).
void SqliteStatement::bindText(int index, const QByteArray& gbkText)
{
    if (index <= 0)
        return;
    rewind();
    Bound* b = bound(index);
    if (b->kind == Bound::Kind::Text && b->from == Bound::From::Gbk && b->given == gbkText)
        return;
    b->from = Bound::From::Gbk;
    b->given = gbkText;
    bindKept(index, b, gbk::toUtf8(gbkText));
}

void SqliteStatement::bindAmount(int index, Amount value)
{
    if (index <= 0)
        return;
    rewind();
    Bound* b = bound(index);
    if (b->kind == Bound::Kind::Text && b->from == Bound::From::Amount && b->amount == value.raw())
        return;
    b->from = Bound::From::Amount;
    b->given.clear();
    b->amount = value.raw();
    bindKept(index, b, value.toLatin1());
}

SqliteStatement::Bound* SqliteStatement::bound(int index)
{
    if (size_t(index) > m_bound.size())
        m_bound.resize(size_t(index));
    return &m_bound[size_t(index) - 1];
}

void SqliteStatement::bindKept(int index, Bound* b, QByteArray utf8)
{
    // The statement reads the bytes where they are; they are kept until the
    // parameter is bound again or the statement goes.
    b->kind = Bound::Kind::Text;
    b->text = std::move(utf8);
    sqlite3_bind_text(m_stmt, index, b->text.constData(), int(b->text.size()), SQLITE_STATIC);
}

void SqliteStatement::bindInteger(int index, qint64 value)
{
    if (index <= 0)
        return;
    rewind();
    Bound* b = bound(index);
    if (b->kind == Bound::Kind::Integer && b->integer == value)
        return;
    b->kind = Bound::Kind::Integer;
    b->integer = value;
    sqlite3_bind_int64(m_stmt, index, value);
}

void SqliteStatement::bindNumber(int index, double value)
{
    if (index <= 0)
        return;
    rewind();
    Bound* b = bound(index);
    // The same bits: 0 and -0 are bound as they are.
    if (b->kind == Bound::Kind::Number && std::bit_cast<quint64>(b->number) == std::bit_cast<quint64>(value))
        return;
    b->kind = Bound::Kind::Number;
    b->number = value;
    sqlite3_bind_double(m_stmt, index, value);
}

bool SqliteStatement::execute()
{
    rewind();
    m_stepped = true;
    SqliteWriteLog* log = m_writes && m_recording ? *m_recording : nullptr;
    const qint64 before = log ? log->changes() : 0;
    const int rc = sqlite3_step(m_stmt);
    if (rc == SQLITE_ROW) {
        if (log)
            log->lose();
        m_row = true;
        return true;
    }
    if (rc == SQLITE_DONE) {
        // Done: rewound at once, so it holds no lock and takes bindings.
        reset();
        if (log)
            log->record(m_sql, m_bound, log->changes() - before);
        return true;
    }
    fail(rc);
    reset();
    return false;
}

int SqliteStatement::step()
{
    if (m_row) {
        m_row = false;
        return 1;
    }
    if (!m_stepped)
        return 0;
    const int rc = sqlite3_step(m_stmt);
    if (rc == SQLITE_ROW)
        return 1;
    if (rc == SQLITE_DONE) {
        reset();
        return 0;
    }
    fail(rc);
    reset();
    return -1;
}

void SqliteStatement::reset()
{
    m_row = false;
    m_stepped = false;
    if (m_stmt)
        sqlite3_reset(m_stmt);
}

int SqliteStatement::changes() const { return sqlite3_changes(m_handle); }

int SqliteStatement::columnCount() const { return sqlite3_column_count(m_stmt); }

QString SqliteStatement::columnName(int column) const { return QString::fromUtf8(sqlite3_column_name(m_stmt, column)); }

bool SqliteStatement::isNull(int column) const { return sqlite3_column_type(m_stmt, column) == SQLITE_NULL; }

QByteArray SqliteStatement::text(int column) const
{
    switch (sqlite3_column_type(m_stmt, column)) {
    case SQLITE_NULL:
        return {};
    case SQLITE_BLOB:
        return QByteArray(static_cast<const char*>(sqlite3_column_blob(m_stmt, column)),
                          sqlite3_column_bytes(m_stmt, column));
    case SQLITE_TEXT: {
        const char* data = reinterpret_cast<const char*>(sqlite3_column_text(m_stmt, column));
        const int size = sqlite3_column_bytes(m_stmt, column);
        int i = 0;
        while (i < size && static_cast<unsigned char>(data[i]) < 0x80)
            ++i;
        if (i == size) // ASCII: the same bytes in GBK
            return QByteArray(data, size);
        if (gbk::isUtf8(data, size))
            return gbk::fromUtf8(data, size);
        return storedGbk(data, size);
    }
    case SQLITE_INTEGER:
        return QByteArray::number(qint64(sqlite3_column_int64(m_stmt, column)));
    default: // a float, written the way the database layer writes every double
        return doubleText(sqlite3_column_double(m_stmt, column));
    }
}

QVariant SqliteStatement::value(int column) const
{
    switch (sqlite3_column_type(m_stmt, column)) {
    case SQLITE_NULL:
        return QVariant(QMetaType::fromType<QString>());
    case SQLITE_INTEGER:
        return QVariant(qint64(sqlite3_column_int64(m_stmt, column)));
    case SQLITE_BLOB:
        return QByteArray(static_cast<const char*>(sqlite3_column_blob(m_stmt, column)),
                          sqlite3_column_bytes(m_stmt, column));
    case SQLITE_FLOAT:
        return QVariant(sqlite3_column_double(m_stmt, column));
    default: {
        // Read as text() reads it: the library's own UTF-16 would turn GBK and broken bytes into other characters.
        const char* data = reinterpret_cast<const char*>(sqlite3_column_text(m_stmt, column));
        const int size = sqlite3_column_bytes(m_stmt, column);
        if (gbk::isUtf8(data, size))
            return QString::fromUtf8(data, size);
        return gbk::toUnicode(storedGbk(data, size));
    }
    }
}

} // namespace db

namespace db {

std::optional<bool> SqliteStatement::truth(int column) const
{
    switch (sqlite3_column_type(m_stmt, column)) {
    case SQLITE_NULL:
        return false;
    case SQLITE_INTEGER:
        return sqlite3_column_int64(m_stmt, column) != 0;
    case SQLITE_FLOAT:
        return sqlite3_column_double(m_stmt, column) != 0;
    default:
        return std::nullopt;
    }
}

std::optional<Amount> SqliteStatement::amount(int column) const
{
    switch (sqlite3_column_type(m_stmt, column)) {
    case SQLITE_NULL:
        return Amount();
    case SQLITE_INTEGER: {
        const qint64 v = sqlite3_column_int64(m_stmt, column);
        constexpr qint64 limit = std::numeric_limits<qint64>::max() / 10000;
        if (v > limit || v < -limit)
            return std::nullopt;
        return Amount::fromRaw(v * 10000);
    }
    case SQLITE_TEXT: {
        const char* data = reinterpret_cast<const char*>(sqlite3_column_text(m_stmt, column));
        const int size = sqlite3_column_bytes(m_stmt, column);
        for (int i = 0; i < size; ++i)
            if (static_cast<unsigned char>(data[i]) >= 0x80)
                return std::nullopt;
        return Amount::parseAscii(data, size);
    }
    case SQLITE_FLOAT: {
        const double x = sqlite3_column_double(m_stmt, column);
        // Most stored amounts are the double nearest a value of four decimals. Below
        // 2^33 doubles lie far closer together than 0.0001, so that value is the
        // only short text reading back as x: the amount the general way gets.
        if (std::fabs(x) < 8.0e9) {
            const long long r = std::llround(x * 10000.0);
            if (double(r) / 10000.0 == x)
                return Amount::fromRaw(r);
        }
        // Otherwise the shortest text that reads back as x, as the general way takes it.
        char buffer[64];
        const auto r = std::to_chars(buffer, buffer + sizeof buffer, x);
        if (r.ec != std::errc())
            return std::nullopt;
        return Amount::parseAscii(buffer, r.ptr - buffer);
    }
    default:
        return std::nullopt;
    }
}

} // namespace db

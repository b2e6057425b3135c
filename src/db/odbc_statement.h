#pragma once

#include "db/amount.h"
#include "db/odbc_connection.h"
#include "db/odbc_markers.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QVariant>

#include <optional>
#include <vector>

namespace db::odbc {

// How a value is bound to a parameter, as the driver takes it.
struct Shape {
    short cType = 0;
    short sqlType = 0;
    short digits = 0;
    unsigned long long columnSize = 0;
    long long indicator = 0;
};

// A value bound to a parameter.
struct Parameter : Shape {
    QByteArray data;
};

// One statement handle: prepared once and executed many times with values
// bound by position, or run directly. A statement prepared with Prepare::Later
// runs directly the first time and is prepared on the driver only when it runs
// again: a statement run once then costs one round trip, not the three or four
// a prepared one costs on a network driver (prepare, describe, execute and,
// when the handle goes, the server's copy dropped). Texts go in and come out as GBK bytes and
// travel as UTF-16 (SQL_C_WCHAR), so nothing depends on the driver's or the
// system's narrow character set. Every failure throws Failure.
class Statement {
public:
    explicit Statement(Connection& connection);
    Connection& connection() const { return *m_connection; }
    // Moves to another connection of the same database: prepared there again,
    // keeping the bound values.
    void moveTo(Connection& connection);
    ~Statement();
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    enum class Prepare { Now, Later };
    // Prepares a text with named parameters.
    void prepare(const QString& text, Prepare when = Prepare::Now);
    // Prepares a text already in marker form.
    void prepare(const Markers& markers, Prepare when = Prepare::Now);
    const Markers& prepared() const { return m_markers; }
    int parameter(const QString& name) const { return m_markers.parameter(name); }
    int parameterCount() const { return int(m_markers.names.size()); }
    // Values by parameter index (from parameter()); kept until the next bind.
    void bindText(int index, const QByteArray& gbkText);
    void bindAmount(int index, Amount value);
    void bindInteger(int index, qint64 value);
    void bindNumber(int index, double value);
    void bindNull(int index);
    // Bytes each value's buffer holds from its first binding once the
    // statement is prepared (256 unless set): room for most values, so a
    // buffer rarely moves and is rarely bound again, which some drivers take
    // for a changed statement (FreeTDS). 0: the value's own size.
    void setValueRoom(qsizetype bytes) { m_room = bytes; }
    // The values bound, by parameter index; one bound as a copy of another's.
    const std::vector<Parameter>& values() const { return m_values; }
    void bindValue(int index, const Parameter& value);
    void bindValue(int index, const Shape& shape, const char* data, qsizetype size);

    // Runs the prepared statement; its rows, if any, are then read with next().
    void execute();
    // Runs a text as it is, without parameters.
    void executeDirect(const QString& text);
    // Rows the last execution changed; -1 when the driver does not say.
    qint64 rowsAffected() const;

    bool next();
    void closeCursor();
    int columnCount() const { return int(m_columns.size()); }
    QString columnName(int column) const { return m_columns[size_t(column)].name; }
    // The value as read: QString for texts and decimals, qlonglong, double,
    // bool, QDate, QDateTime, QByteArray for binary; a null QVariant for NULL.
    const QVariant& value(int column) const { return m_row[qsizetype(column)]; }

private:
    struct Column {
        QString name;
        short sqlType = 0;
        short cType = 0;
    };
    using Value = Parameter;
    // What a parameter marker was last bound to on the handle.
    struct Binding {
        const void* data = nullptr;
        const void* indicator = nullptr;
        short cType = 0;
        short sqlType = 0;
        unsigned long long columnSize = 0;
        short digits = 0;
        qsizetype bufferLength = 0;
        bool operator==(const Binding&) const = default;
    };
    void bindAll();
    void describe();
    QVariant readColumn(int column, const Column& c);
    [[noreturn]] void fail() const;
    void check(short rc) const;

    void allocate();
    void setCursor(bool open);
    void prepareOnDriver();

    Connection* m_connection;
    QString m_text; // as prepared, with named parameters
    void* m_stmt = nullptr;
    Markers m_markers;
    std::vector<Value> m_values;
    std::vector<Binding> m_bound; // by marker
    std::vector<Column> m_columns;
    QList<QVariant> m_row;
    std::vector<char16_t> m_buffer; // pieces of a long value
    bool m_cursor = false;
    bool m_driverPrepared = false; // SQLPrepare done on this handle
    int m_runs = 0;                // executions since the text was set
    qsizetype m_room = 256;        // see setValueRoom()
};

} // namespace db::odbc

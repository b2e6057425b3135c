#pragma once

#include "db/amount.h"
#include "db/name_index.h"

#include "db/driver_error.h"
#include <QByteArray>
#include <QString>
#include <QVariant>

struct sqlite3;
struct sqlite3_stmt;

namespace db {

// The handle's last error, rc its result code.
DriverError sqliteError(sqlite3* handle, int rc);

// One statement prepared on an SQLite handle through the C library, for the
// statements a conversion runs thousands of times. Texts go in and come out as
// GBK bytes (UTF-8 inside the database); values read as QVariant take the forms
// the rest of the layer reads: integers, doubles, texts and byte arrays.
class SqliteStatement {
public:
    SqliteStatement(sqlite3* handle, const QString& text);
    ~SqliteStatement();
    SqliteStatement(const SqliteStatement&) = delete;
    SqliteStatement& operator=(const SqliteStatement&) = delete;

    bool ok() const { return m_stmt != nullptr; }
    // The error of the last failed call.
    const DriverError& error() const { return m_error; }

    // 0 when the statement has no such parameter (":name").
    int parameterIndex(const QString& name);
    void bindText(int index, const QByteArray& gbkText);
    void bindLatin1(int index, const QByteArray& text);
    void bindInteger(int index, qint64 value);
    void bindNumber(int index, double value);

    // Resets and runs to the first row; false on an error.
    bool execute();
    // Steps to the next row: 1 a row, 0 the end, -1 an error.
    int step();
    // Whether execute() left a row to read first.
    bool hasRow() const { return m_row; }
    void reset();
    int changes() const;

    int columnCount() const;
    QString columnName(int column) const;
    bool isNull(int column) const;
    QByteArray text(int column) const; // GBK; NULL -> ""
    QVariant value(int column) const;
    // A NULL, a number or an ASCII text that is a number as an amount; nothing
    // where the general way must decide (other texts, errors).
    std::optional<Amount> amount(int column) const;
    // A NULL or a number as a truth value (non-zero is true); nothing for texts.
    std::optional<bool> truth(int column) const;

private:
    bool fail(int rc);
    void rewind();
    void bindKept(int index, const QByteArray& utf8);

    sqlite3* m_handle;
    sqlite3_stmt* m_stmt = nullptr;
    DriverError m_error;
    bool m_row = false;     // execute() stepped onto a row not read yet
    bool m_stepped = false; // stepped since the last reset
    NameIndex m_parameters;
    QList<QByteArray> m_kept; // the bound texts, by parameter index - 1
};

} // namespace db

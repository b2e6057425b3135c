#pragma once

#include <QByteArray>
#include <QSqlError>
#include <QString>
#include <QVariant>

#include <climits>

struct sqlite3;
struct sqlite3_stmt;

namespace db {

// Indexes looked up by name (fields, parameters), kept in the order first asked.
// A conversion asks for the same names in the same order on every row, so the
// name after the last one found is tried first: no hashing per value.
class NameIndex {
public:
    static constexpr int kUnknown = INT_MIN;
    // The index kept for the name, or kUnknown when it was never added.
    int find(const QString& name) const
    {
        const qsizetype n = m_entries.size();
        for (qsizetype k = 0, j = m_next; k < n; ++k, j = j + 1 == n ? 0 : j + 1)
            if (m_entries[j].name == name) {
                m_next = j + 1 == n ? 0 : j + 1;
                return m_entries[j].index;
            }
        return kUnknown;
    }
    void add(const QString& name, int index) { m_entries.append({name, index}); }
    void clear()
    {
        m_entries.clear();
        m_next = 0;
    }

private:
    struct Entry {
        QString name;
        int index;
    };
    QList<Entry> m_entries;
    mutable qsizetype m_next = 0;
};

// One statement prepared on an SQLite handle through the C library, for the
// statements a conversion runs thousands of times. Texts go in and come out as
// GBK bytes (UTF-8 inside the database, as Qt would store them); values read as
// QVariant take the forms Qt's SQLite driver gives them, so
// both paths read and write the same data.
class SqliteStatement {
public:
    SqliteStatement(sqlite3* handle, const QString& text);
    ~SqliteStatement();
    SqliteStatement(const SqliteStatement&) = delete;
    SqliteStatement& operator=(const SqliteStatement&) = delete;

    bool ok() const { return m_stmt != nullptr; }
    // The error of the last failed call, shaped like the Qt driver's.
    const QSqlError& error() const { return m_error; }

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

private:
    bool fail(int rc, const char* what);
    void rewind();

    sqlite3* m_handle;
    sqlite3_stmt* m_stmt = nullptr;
    QSqlError m_error;
    bool m_row = false;     // execute() stepped onto a row not read yet
    bool m_stepped = false; // stepped since the last reset
    NameIndex m_parameters;
};

} // namespace db

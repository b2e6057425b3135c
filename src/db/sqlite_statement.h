#pragma once

#include "db/amount.h"
#include "db/name_index.h"

#include "db/driver_error.h"
#include <QByteArray>
#include <QString>
#include <QVariant>

#include <memory>
#include <string>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

namespace db {

class SqliteWriteLog;

// The handle's last error, rc its result code.
DriverError sqliteError(sqlite3* handle, int rc);

// One statement prepared on an SQLite handle through the C library, for the
// statements a conversion runs thousands of times. Texts go in and come out as
// GBK bytes (UTF-8 inside the database); values read as QVariant take the forms
// the rest of the layer reads: integers, doubles, texts and byte arrays.
class SqliteStatement {
public:
    // recording: where the handle's recording write log is found, if one is.
    SqliteStatement(sqlite3* handle, const QString& text, SqliteWriteLog* const* recording = nullptr);
    ~SqliteStatement();
    SqliteStatement(const SqliteStatement&) = delete;
    SqliteStatement& operator=(const SqliteStatement&) = delete;

    bool ok() const { return m_stmt != nullptr; }
    // The error of the last failed call.
    const DriverError& error() const { return m_error; }

    // 0 when the statement has no such parameter (":name").
    int parameterIndex(const QString& name);
    void bindText(int index, const QByteArray& gbkText);
    // An amount as its Latin-1 text.
    void bindAmount(int index, Amount value);
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

    // A parameter's value as bound; unbound parameters are NULL.
    struct Bound {
        enum class Kind { Null, Text, Integer, Number } kind = Kind::Null;
        QByteArray text; // UTF-8
        qint64 integer = 0;
        double number = 0;
        // How a text was given, to know a value bound again: the GBK text
        // bindText() was given, or the amount.
        enum class From { Gbk, Amount } from = From::Gbk;
        QByteArray given;
        qint64 amount = 0;
    };

private:
    bool fail(int rc);
    void rewind();
    void bindKept(int index, Bound* b, QByteArray utf8);
    Bound* bound(int index);

    sqlite3* m_handle;
    SqliteWriteLog* const* m_recording;
    sqlite3_stmt* m_stmt = nullptr;
    DriverError m_error;
    bool m_row = false;     // execute() stepped onto a row not read yet
    bool m_stepped = false; // stepped since the last reset
    NameIndex m_parameters;
    std::vector<Bound> m_bound; // by parameter index - 1; the texts are kept for the statement
    bool m_writes = false;      // the statement changes the database
    QByteArray m_sql;           // its text, for a write log
};

// The writes made on one handle since a mark, kept so that they can be run
// again: a row that fails is undone by going back to the mark and running the
// writes of the rows before it once more, so a batch of rows needs one
// savepoint instead of one per row. One log records on a handle at a time,
// while it lives: it puts itself in the handle's recording slot.
class SqliteWriteLog {
public:
    SqliteWriteLog(sqlite3* handle, std::shared_ptr<SqliteWriteLog*> recording);
    ~SqliteWriteLog();
    SqliteWriteLog(const SqliteWriteLog&) = delete;
    SqliteWriteLog& operator=(const SqliteWriteLog&) = delete;

    // The mark is set now: nothing recorded since.
    void restart();
    size_t size() const { return m_writes.size(); }
    // After the database went back to the mark: runs the first count writes
    // again and forgets the rest. False when one of them fails, or when a
    // change was made since the mark that the log did not record.
    bool replay(size_t count);

    qint64 changes() const;
    // A write that made changed changes, with its values.
    void record(const QByteArray& sql, const std::vector<SqliteStatement::Bound>& values, qint64 changed);
    // A write whose end was not seen (it returned rows): the log cannot replay.
    void lose() { m_lost = true; }

private:
    struct Write {
        int text = 0;     // in m_texts
        size_t chunk = 0; // its values in m_chunks[chunk] from at
        size_t at = 0;
        size_t values = 0;
        qint64 changed = 0;
    };
    int textIndex(const QByteArray& sql);

    sqlite3* m_handle;
    std::shared_ptr<SqliteWriteLog*> m_recording;
    QList<QByteArray> m_texts;
    std::vector<Write> m_writes;
    // The values one after the other (kind, then size and bytes, or 8 bytes), in
    // chunks small enough to stay in the heap and kept for the next batch.
    std::vector<std::string> m_chunks;
    size_t m_chunk = 0;          // the chunk being filled
    qint64 m_atMark = 0;         // the handle's total changes at the mark
    qint64 m_recorded = 0;       // the changes the recorded writes made
    bool m_tempInMemory = false; // the handle keeps its sub-journal in memory while the log lives
    bool m_lost = false;
};

} // namespace db

#pragma once

#include "db/amount.h"
#include "db/connection.h"
#include "db/name_index.h"

#include <QByteArray>
#include <QDate>
#include <QStringList>
#include <QVariant>

#include <exception>
#include <functional>
#include <memory>
#include <vector>

namespace db {

class EngineQuery;

// A statement of lines (each followed by CR LF) with named parameters
// (":objid"), prepared once and executed many times, or a SELECT walked row by
// row. Field names match without regard to case. Every failure throws
// belmire::Error naming the table and carrying the database's own text.
// The statement runs through the connection's client library: sqlite3, libpq
// (writes through the pipeline, row sets through a cursor a chunk at a time)
// or ODBC, each in a statement class of its own (EngineQuery).
class Query {
public:
    explicit Query(Connection& connection);
    ~Query();
    Query(const Query&) = delete;
    Query& operator=(const Query&) = delete;

    void setLines(const QStringList& lines);
    void setText(const QString& text);
    const QString& text() const { return m_text; }
    const QString& table() const { return m_table; }

    // Target statements: prepare once, bind by name, execute.
    void prepare();
    void bindText(const QString& name, const QByteArray& gbkText);
    void bindText(const QString& name, const QByteArray& gbkText, qsizetype cut);
    void bindAmount(const QString& name, Amount value);
    void bindInteger(const QString& name, qint64 value);
    void bindNumber(const QString& name, double value);
    void exec();
    // Runs the text as it is, unprepared (for statements a server cannot prepare).
    void execDirect();
    int rowsAffected() const;

    // Row sets: open streams the rows; countRows asks the database for the total first.
    void open();
    int countRows();
    bool next();
    // Reading ahead: next() reads up to `rows` rows at a time into memory and
    // serves them from there (0, the default, reads row by row). A failed fetch
    // is reported when next() reaches the row it was to read.
    void readAhead(int rows) { m_aheadRows = rows; }
    // Whether the current row is the first of the rows just read ahead.
    bool firstReadAhead() const { return m_aheadActive && m_aheadPos == 0; }
    // Makes each row read ahead, the current one first, current in turn for
    // visit(k), k counting from 0; then the current row is current again.
    void forEachReadAhead(const std::function<void(int)>& visit);
    bool isOpen() const { return m_open; }
    void close();
    QStringList fieldNames() const;
    bool hasField(const QString& name) const;
    int fieldCount() const;
    QVariant valueAt(int index) const;

    QVariant value(const QString& name) const;
    bool isNull(const QString& name) const;
    QByteArray text(const QString& name) const; // NULL -> ""
    qint64 integer(const QString& name) const;  // NULL -> 0
    Amount amount(const QString& name) const;   // NULL -> 0
    double number(const QString& name) const;   // NULL -> 0
    bool truth(const QString& name) const;      // NULL -> false
    QDate date(const QString& name) const;      // NULL -> invalid date

    // The connection is closing: the statement goes, to be prepared again when used.
    void dropStatement();

private:
    bool fetch(); // the database's next row
    int fieldIndex(const QString& name) const;
    int requiredField(const QString& name) const;
    // A statement naming a table whose lock wait already ran out in this run fails at once.
    void refuseWhereGivenUp() const;
    const QStringList& fields() const;
    // The statement on the connection's engine, made when first needed.
    EngineQuery& engine();

    Connection& m_connection;
    std::unique_ptr<EngineQuery> m_engine;
    QString m_text;
    QString m_table;
    bool m_prepared = false;
    bool m_open = false;
    // Rows read ahead: their values, the current one, whether the database has
    // no more, and a fetch that failed after them.
    int m_aheadRows = 0;
    std::vector<std::vector<QVariant>> m_ahead;
    size_t m_aheadPos = 0;
    bool m_aheadActive = false;
    bool m_aheadEnd = false;
    std::exception_ptr m_aheadError;
    // The field names of the last opened row set, read when first needed. The
    // indexes by name stay until the text changes: every execution of one
    // statement gives the same fields.
    mutable QStringList m_fields;
    mutable bool m_fieldsRead = false;
    mutable NameIndex m_fieldIndex;
};

// Reads a database value as GBK text, an integer, a truth value or a date.
QByteArray variantText(const QVariant& value);
qint64 variantInteger(const QVariant& value);
bool variantTruth(const QVariant& value);
QDate variantDate(const QVariant& value);

} // namespace db

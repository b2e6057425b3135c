#pragma once

#include "db/odbc_statement.h"
#include "db/pg_pipeline.h"

#include <QString>

#include <map>
#include <memory>
#include <optional>
#include <vector>

namespace db {

class OdbcLink;

// Writes on an ODBC link held back and sent many rows at a time. Each row's
// savepoint, writes and release are queued, tagged with the row. A flush sends
// the INSERTs of the whole rows it holds grouped by statement, as INSERTs of
// many VALUES rows (as many as the database takes parameters in one
// statement; SELECT ... UNION ALL where SQL Server takes no VALUES list),
// inside a savepoint of their own: a few round trips for hundreds of rows. A
// form the server refuses gives way to the next for the rest of the run, down
// to one row per INSERT. A batch that fails otherwise is undone to its
// savepoint and sent again statement by statement in the order queued, each
// row under its own savepoint, so the failing write and everything before it
// end exactly as they would have one row at a time; where the failure ended
// the server's transaction nothing is sent again (DeferredError::transactionEnded).
// Where the link holds statements back (psqlODBC), the releases of the batch's
// savepoint and of each row's go in front of the next statement sent. Where
// it writes shared values into the text (psqlODBC), a value every row of a
// statement has had so far is written into its statements of many rows as a
// literal, not bound to each row: fewer parameters for the driver to convert,
// and more rows to a statement.
// Parameter arrays are not used: FreeTDS sends one RPC per parameter set.
class OdbcBatch {
public:
    explicit OdbcBatch(OdbcLink& link);
    ~OdbcBatch();

    // Queues one write: its statement in the link's dialect, in marker form,
    // and its values by parameter index. table names it in an error.
    void queue(const odbc::Markers& statement, const std::vector<odbc::Parameter>& values, const QString& table,
               int tag, int position);
    // Queues a row's savepoint (position 0) or release; an empty text only
    // marks the row's end (SQL Server releases no savepoint).
    void queueControl(const QString& text, int tag, int position);
    qsizetype size() const { return qsizetype(m_held.entries.size()); }
    bool empty() const { return m_held.entries.empty(); }
    int lastTag() const { return m_held.entries.empty() ? -1 : m_held.entries.back().tag; }
    void dropTag(int tag);
    void discard() { m_held = Held(); }

    // Sends every queued write. Throws DeferredError for the first write that
    // failed: the writes before it are applied, none after it.
    void flush();

private:
    struct Statements;
    struct Entry {
        Statements* write = nullptr; // null for a savepoint or release
        QString text;                // the savepoint or release
        size_t firstValue = 0;       // its values in Held::values
        size_t valueCount = 0;
        QString table;
        int tag = 0;
        int position = 0;
    };
    // A value held: its binding without data, and where its bytes lie in Held::bytes.
    struct Value {
        odbc::Shape shape;
        qsizetype at = 0;
        qsizetype size = 0;
    };
    // What is queued. The values of all writes share two arrays, so holding a
    // row costs no allocation of its own.
    struct Held {
        std::vector<Entry> entries;
        std::vector<Value> values;
        QByteArray bytes;
    };
    // A value every row of a statement sent so far has had, while it has.
    struct Shared {
        bool shared = false;
        QString literal;
        odbc::Shape shape;
        QByteArray bytes;
    };
    // The statements of one write: for one row and for many at once, by row count.
    struct Statements {
        odbc::Markers marked; // one row's
        bool groupable = false;
        int rowsPerStatement = 1;
        // Where the link writes shared values into the text (psqlodbc()):
        // by name, what the rows have shared, and the literal written into the
        // statements of many rows (empty: bound); the names bound in each row.
        std::vector<Shared> shared;
        QList<QString> written;
        std::vector<int> bound;
        odbc::RowsForm form = odbc::RowsForm::Values; // of the statements kept for many rows
        std::map<int, std::unique_ptr<odbc::Statement>> rows;
        // psqlODBC: the flush that last used each statement of many rows, and
        // the rows left over after the full statements in the last two
        // flushes (-1: none yet).
        std::map<int, quint64> used;
        int lastRemainder = -1;
        int remainderBefore = -1;
    };
    // The rows the next statement of a group sends, of n left.
    int piece(const Statements& s, int n) const;
    odbc::Statement& statement(Statements& s, int rows, odbc::RowsForm form = odbc::RowsForm::Values);
    std::optional<odbc::RowsForm> rowsForm() const; // the form the server takes; none: one row at a time
    static void bind(odbc::Statement& s, int first, const Held& held, const Entry& e);
    static void bind(odbc::Statement& s, int first, const Held& held, const Entry& e, const std::vector<int>& names);
    // Sees which values the rows still share; the statements of many rows
    // are made anew when that changes.
    void share(Statements& s, const Held& held, const std::vector<const Entry*>& rows);
    int rowsFor(int markers) const; // rows a statement of many takes, with this many markers a row
    void replay(const Held& held, size_t from, size_t to);
    void run(const Held& held, const Entry& e);
    // Sends the writes of [from, to) grouped; false when the server refused
    // them. A form the server does not take gives way to the next.
    bool grouped(const Held& held, size_t from, size_t to);
    enum class Outcome { Sent, Refused, FormRefused };
    Outcome groupedAs(odbc::RowsForm form, const Held& held, size_t from, size_t to);
    [[noreturn]] void fail(const Entry& e, const odbc::Failure& f);
    void control(const QString& text);

    OdbcLink& m_link;
    Held m_held;
    quint64 m_flushes = 0;
    std::map<QString, Statements> m_statements; // by one row's text in marker form
    Statements* m_last = nullptr;               // the statement queued last
};

} // namespace db

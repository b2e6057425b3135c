#pragma once

#include "db/connection.h"
#include "db/deferred_writer.h"
#include "db/query.h"
#include "shell/frontend.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <functional>
#include <memory>
#include <utility>
#include <vector>

namespace shell {

struct RunResult;

// The target side of a walk: one transaction per batch of rows, a savepoint per
// row so a failing row leaves nothing behind and the rows before it stay, and,
// on links that defer writes, the rows whose writes wait to be sent, counted
// and shown once the database has taken them. On SQLite a run of rows shares
// one savepoint: a failing row is undone by going back to it and writing the
// rows before it again, as they were written.
class RowWriter {
public:
    // A row listed in the reject report: row, code, reason, log line.
    using RejectFn = std::function<void(int, const QByteArray&, const QString&, const QString&)>;

    RowWriter(db::Connection& target, Frontend& frontend, RunResult& result, RejectFn reject);
    ~RowWriter();

    // The savepoint of one row, set when made. release() ends the row; undo()
    // rolls it back. Ended neither way (an unexpected exception), the row is
    // rolled back where writes go one by one; where they wait, the run's
    // rollback takes them.
    class Mark {
    public:
        explicit Mark(RowWriter& writer);
        ~Mark();
        Mark(const Mark&) = delete;
        Mark& operator=(const Mark&) = delete;
        void release();

    private:
        friend class RowWriter;
        RowWriter& m_writer;
        bool m_open = true;
    };

    // The walk's first transaction; the writes wait where the link defers them.
    void startWalk();
    void endWalk(); // the link writes one by one again; rows still waiting are dropped
    bool deferred() const { return m_deferred; }

    // Row i with its code is being converted.
    void startRow(int i, const QByteArray& code);
    // The row is converted; whether the waiting rows are due to be sent (flush()).
    bool rowDone(bool skipped, bool batchFull);
    // While a row's writes wait, its log line and its reject entry wait with it;
    // false when they are to be shown now.
    bool holdLog(const QString& line);
    bool holdReject(const QString& reason, const QString& log);

    // Sends the waiting writes; the rows they belong to are counted and shown.
    // Throws db::DeferredError naming the row of a refused write.
    void flush();

    // Commits the rows up to lastRow; a failing commit rolls back and names the rows lost.
    void commitBatch(int lastRow);
    void startBatch(); // the next batch's transaction

    // The row's writes after it failed: undone to its mark (the mark is null when
    // setting it failed), or not undone. Throws db::DeferredError when the rows
    // before it are refused on the way.
    bool undoRow(Mark* mark);
    // A refused waiting write: the rows before it counted and shown, the logs
    // of its row up to the write shown (where the row is known), nothing of its
    // row kept, and the transaction ended as endAfterError() does.
    struct Failure {
        int row = 0;
        QByteArray code;
        QString lost; // endAfterError()'s text
    };
    Failure failedWrite(const db::DeferredError& e);
    // Ends the transaction after the walk stopped at an error: the rows before
    // stay when the failing row was undone and the commit goes; otherwise the
    // batch goes and the text names its rows (empty when none counted was lost).
    QString endAfterError(bool undone);

private:
    // A row whose writes wait, with what it shows (log lines, by how many of
    // the row's writes preceded them) once the database has taken them.
    struct PendingRow {
        int row = 0;
        QByteArray code;
        bool skipped = false;
        QList<std::pair<int, QString>> logs;
        QString rejectReason; // a skipped row's, listed once the row is confirmed
        QString rejectLog;
    };

    void rowStatements(); // the row's savepoint statements, made when first needed
    void runControl(db::Query& statement);
    void setMark();
    void releaseMark();
    bool rollbackMark();
    void countRow(bool skipped);
    void confirmRows();
    bool commitBeforeError(); // whether the open batch was committed
    QString batchLost();
    void batchCommitted(int nextRow);

    db::Connection& m_target;
    db::DeferredWriter m_writes; // the target's writes that wait, where they do
    Frontend& m_frontend;
    RunResult& m_result;
    RejectFn m_reject;
    std::unique_ptr<db::Query> m_savepoint, m_release, m_rollbackTo, m_releaseAndMark;
    bool m_savepointHeld = false; // a row mark is set in the open transaction
    // SQLite: the writes since the batch's savepoint, whether it is set, and
    // where the current row's writes begin.
    std::unique_ptr<db::SqliteWriteLog> m_log;
    bool m_batchMarked = false;
    int m_rowsMarked = 0; // the rows since it was set
    size_t m_rowStart = 0;
    // The counts at the last commit of the walk, and the row after it.
    struct Committed {
        qint64 read = 0;
        qint64 written = 0;
        qint64 skipped = 0;
        int nextRow = 1;
    } m_committed;
    bool m_deferred = false;
    std::vector<PendingRow> m_unconfirmed;
    PendingRow m_row;       // the row being converted, while deferred
    bool m_rowOpen = false; // whether m_row takes the row's logs
};

} // namespace shell

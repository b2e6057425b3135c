#pragma once

#include "db/connection.h"
#include "db/query.h"
#include "shell/frontend.h"
#include "shell/keyed_access.h"
#include "shell/operation.h"
#include "shell/progress.h"
#include "shell/rejects.h"
#include "shell/row_writer.h"

#include <QDateTime>

#include <functional>
#include <map>
#include <memory>
#include <optional>

namespace shell {

struct RunResult {
    bool ok = false;
    bool aborted = false;
    QString message;          // the error text when !ok
    bool interrupted = false; // stopped in a walk that does not honour the abort box; message says what it left
    qint64 rowsRead = 0;
    qint64 rowsWritten = 0;
    qint64 rowsSkipped = 0;
    qint64 rowsDeleted = 0; // clear operations
    double seconds = 0;
};

using Clock = std::function<QDateTime()>;

// Owns the two connections (source ADOConnection1, target ADOConnection2) for
// the life of the window or command, and runs one operation at a time.
class RunFrame {
public:
    RunFrame(Frontend& frontend, QString sourceUdl, QString targetUdl);
    ~RunFrame();

    void setClock(Clock clock) { m_clock = std::move(clock); }
    // Rows per target transaction, in place of the target's own number
    // (db::Capabilities::rowsPerCommit); a failing row leaves nothing behind
    // and every row before it stays.
    void setBatchSize(int rows) { m_batchSize = qMax(1, rows); }
    // Where the rows the conversions skip and the target refuses are listed; none when null.
    void setRejectReport(RejectReport* report) { m_rejects = report; }
    // Keys compared as a server's collation compares them, on every engine
    // (db::Connection::setKeysCompareByCollation).
    void setKeysCompareByCollation(bool on)
    {
        m_source.setKeysCompareByCollation(on);
        m_target.setKeysCompareByCollation(on);
    }

    RunResult run(const Operation& operation);
    bool running() const { return m_running; }
    void disconnect();

    db::Connection& source() { return m_source; }
    db::Connection& target() { return m_target; }

private:
    friend class Run;
    Frontend& m_frontend;
    QString m_sourceUdl;
    QString m_targetUdl;
    db::Connection m_source{QStringLiteral("源")};
    db::Connection m_target{QStringLiteral("目标")};
    Clock m_clock;
    std::optional<int> m_batchSize;
    bool m_running = false;
    RejectReport* m_rejects = nullptr;
};

// The context a conversion body works in: its statements, lookups, walks and log.
class Run {
public:
    using CodeFn = std::function<QByteArray(const db::Query& row)>;
    using RowFn = std::function<void(const db::Query& row, const QByteArray& code)>;
    // Lists the target keys a row read ahead will check or write; k is 0 for the
    // first row of each batch read ahead, which may visit the whole batch
    // (Query::forEachReadAhead) to ask something of all its rows at once.
    using AheadFn = std::function<void(db::Query& row, int k)>;

    Run(RunFrame& frame, const Operation& operation);
    ~Run();

    // Run time stamp "yyyy-MM-dd hh:mm ss", GBK bytes.
    const QByteArray& stamp() const { return m_stamp; }
    void retakeStamp();
    QByteArray today() const; // "yyyy-MM-dd"

    // A target statement of lines, prepared once for the run (ADOQuery21..24).
    db::Query& target(const QStringList& lines);
    // A source statement of lines, prepared once for the run (ADOQuery11).
    db::Query& source(const QStringList& lines);

    // Statements run once, together: all take effect or none.
    void once(const QStringList& statements);
    // One statement on the target (TargetExecute), inside the current row's
    // transaction during a walk.
    void execute(const QString& statement);

    // The lookup's field of the first source row with this key, trimmed; empty
    // when there is none. Answers are kept for the run.
    QByteArray lookup(const Lookup& lookup, const QByteArray& key) { return m_lookups.value(lookup, key); }
    // From a walk's ahead function: a lookup that a row read ahead will make;
    // where the source compares by collation, the keys listed are asked together.
    void listLookup(const Lookup& lookup, const QByteArray& key) { m_lookups.list(lookup, key); }

    // Walks every row of a source SELECT with the progress line; honourAbort
    // stops before the next row when the abort box is ticked. Where the source's
    // or the target's collation decides what is equal, the rows are read
    // kAheadRows at a time and ahead lists their keys first, so their lookups
    // and duplicate checks take one query.
    void walk(const QString& select, bool honourAbort, const CodeFn& code, const RowFn& row, const AheadFn& ahead = {});
    static constexpr int kAheadRows = 200;
    bool aborted() const { return m_aborted; }

    // The current row is not written (already present); counted as skipped,
    // its log line (if any) shown and the row listed in the reject report
    // with the reason. DropCode sets its progress line again without the code
    // part ("信息:i/n").
    enum class SkipProgress { KeepCode, DropCode };
    void skipRow(const QString& reason, const QByteArray& gbkLogLine = {},
                 SkipProgress progress = SkipProgress::KeepCode);
    void log(const QByteArray& gbkLine);
    void log(const QString& line);

    Frontend& frontend() { return m_frame.m_frontend; }
    db::Connection& sourceConnection() { return m_frame.m_source; }
    db::Connection& targetConnection() { return m_frame.m_target; }
    const Operation& operation() const { return m_operation; }
    RunResult& result() { return m_result; }

private:
    void reject(int row, const QByteArray& code, const QString& reason, const QString& log);
    // After a write of walk row r was refused: the target row an earlier run
    // left with that row's key, and the clear operation to run first, where the
    // conversion cannot skip such rows; empty otherwise.
    QString heldBefore(const QString& select, int r);

    RunFrame& m_frame;
    const Operation& m_operation;
    QByteArray m_stamp;
    std::map<QString, std::unique_ptr<db::Query>> m_targets;
    std::map<QString, std::unique_ptr<db::Query>> m_sources;
    SourceLookups m_lookups;
    RunResult m_result;
    RowWriter m_writer;
    bool m_aborted = false;
    bool m_abortNoted = false; // the front end was told the walk runs to its end
    bool m_skipThisRow = false;
    bool m_dropProgressCode = false;
    int m_walks = 0;       // walks started in this run
    int m_walkRow = 0;     // the row being converted, from 1
    QByteArray m_walkCode; // and its code
    QString m_walkTable;   // the walk's source table
};

// Thrown by a walk stopped where it does not honour the abort box (Frontend::stopNow).
class Interrupted : public belmire::Error {
public:
    Interrupted() : belmire::Error(QString()) {}
};

// A database's message on one line: its own lines joined, without the
// statement excerpt and caret PostgreSQL adds and without the SQLSTATE code.
QString oneLine(const QString& message);

} // namespace shell

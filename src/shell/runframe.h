#pragma once

#include "db/connection.h"
#include "db/name_index.h"
#include "db/query.h"
#include "shell/frontend.h"
#include "shell/operation.h"
#include "shell/rejects.h"
#include "textutil/byte_table.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QHash>

#include <deque>

#include <functional>
#include <initializer_list>
#include <map>
#include <memory>
#include <optional>
#include <vector>

namespace shell {

struct RunResult {
    bool ok = false;
    bool aborted = false;
    QString message;        // the error text when !ok
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
    // Rows per target transaction; a failing row leaves nothing behind and
    // every row before it stays.
    void setBatchSize(int rows) { m_batchSize = qMax(1, rows); }
    // Where the rows the conversions skip and the target refuses are listed; none when null.
    void setRejectReport(RejectReport* report) { m_rejects = report; }

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
    int m_batchSize = 1000;
    bool m_running = false;
    RejectReport* m_rejects = nullptr;
};

// The context a conversion body works in: its statements, lookups, walks and log.
class Run {
public:
    using CodeFn = std::function<QByteArray(const db::Query& row)>;
    using RowFn = std::function<void(const db::Query& row, const QByteArray& code)>;

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

    // First field of the first row, trimmed; empty when there is none. The
    // values are bound to :p1, :p2, ... in order; answers are kept for the run.
    QByteArray lookup(const QString& statement, std::initializer_list<QByteArray> values);

    // Walks every row of a source SELECT with the progress line; honourAbort
    // stops before the next row when the abort box is ticked.
    void walk(const QString& select, bool honourAbort, const CodeFn& code, const RowFn& row);
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
    void rowStatements(); // the row's savepoint statements, made when first needed
    void rowSavepoint();
    void rowRelease();
    bool rowRollback();
    bool commitBeforeError(); // whether the open batch was committed
    // The open batch went with its transaction: the counts go back to the last
    // commit; the text (empty when no counted row was lost) names the rows.
    QString batchLost();
    void batchCommitted(int nextRow);
    void commitBatch(int lastRow);
    void runControl(db::Query& statement);
    void countRow(bool skipped);
    void reject(int row, const QByteArray& code, const QString& reason, const QString& log);
    void confirmRows();
    void flushRows();

    RunFrame& m_frame;
    const Operation& m_operation;
    QByteArray m_stamp;
    std::map<QString, std::unique_ptr<db::Query>> m_targets;
    std::map<QString, std::unique_ptr<db::Query>> m_sources;
    // The keys of one source table's key field, numbered in the order first
    // read: the lookups of one table (stock asks spxx for four fields) share them.
    struct KeyIndex {
        textutil::ByteTable ids; // key -> its number, 4 bytes
        std::uint32_t count = 0;
    };
    struct Lookup {
        std::unique_ptr<db::Query> query;
        textutil::ByteTable answers; // key -> answer, for answers asked one by one
        // A whole table loaded: the answer of each key number.
        KeyIndex* index = nullptr;
        std::vector<std::uint32_t> answerAt; // key number -> offset + 1 into texts
        std::vector<char> texts;             // the answers, each a 4-byte length and its bytes
        std::optional<QByteArray> loaded(const QByteArray& key) const;
        // The last key asked and its answer: rows often come grouped by the key.
        QByteArray lastKey;
        QByteArray lastAnswer;
        bool hasLast = false;
        bool tried = false;    // whether loading the whole table was considered
        bool complete = false; // answers holds every key of the table
    };
    bool preload(const QString& statement, Lookup& lookup);
    std::deque<Lookup> m_lookups;
    std::map<QString, std::unique_ptr<KeyIndex>> m_keyIndexes; // "table.key" in lower case
    db::NameIndex m_lookupIndex; // statement -> position in m_lookups
    std::unique_ptr<db::Query> m_savepoint, m_release, m_rollbackTo, m_releaseAndMark;
    bool m_savepointHeld = false; // a row mark is set in the open transaction
    RunResult m_result;
    bool m_aborted = false;
    bool m_abortNoted = false; // the front end was told the walk runs to its end
    bool m_skipThisRow = false;
    bool m_dropProgressCode = false;
    bool m_inWalk = false;
    // The counts at the last commit of the walk, and the row after it.
    struct Committed {
        qint64 read = 0;
        qint64 written = 0;
        qint64 skipped = 0;
        int nextRow = 1;
    } m_committed;
    int m_walkRow = 0;       // the row being converted, from 1
    QByteArray m_walkCode;   // and its code
    QString m_walkTable;     // the walk's source table
    // Targets that defer writes: the rows of a walk whose writes wait to be sent,
    // with what they show (log lines, by how many of the row's writes preceded
    // them) once the database has taken them.
    struct PendingRow {
        int row = 0;
        QByteArray code;
        bool skipped = false;
        QList<std::pair<int, QString>> logs;
        QString rejectReason; // a skipped row's, listed once the row is confirmed
        QString rejectLog;
    };
    bool m_deferred = false;
    std::vector<PendingRow> m_unconfirmed;
    PendingRow* m_current = nullptr; // the row being converted, while deferred
};

// A database's message on one line: its own lines joined, without the
// statement excerpt and caret PostgreSQL adds and without the SQLSTATE code.
QString oneLine(const QString& message);

QString progressLine(int i, int n, const QByteArray& code);
QString progressLine(int i, int n); // without the code part

} // namespace shell

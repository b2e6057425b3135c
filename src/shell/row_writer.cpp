#include "shell/row_writer.h"

#include "db/sqlite_statement.h"
#include "shell/runframe.h"
#include "textutil/error.h"

namespace shell {
namespace {

const QString kRowSavepoint = QStringLiteral("belmire_row");
// SQLite: the rows that share one savepoint at most.
constexpr int kRowsPerMark = 100;

} // namespace

RowWriter::RowWriter(db::Connection& target, Frontend& frontend, RunResult& result, RejectFn reject)
    : m_target(target), m_writes(target), m_frontend(frontend), m_result(result), m_reject(std::move(reject))
{
}

RowWriter::~RowWriter() = default;

RowWriter::Mark::Mark(RowWriter& writer) : m_writer(writer) { m_writer.setMark(); }

RowWriter::Mark::~Mark()
{
    if (m_open && !m_writer.m_deferred)
        m_writer.rollbackMark();
}

void RowWriter::Mark::release()
{
    m_open = false;
    m_writer.releaseMark();
}

void RowWriter::startWalk()
{
    m_savepointHeld = false;
    // On PostgreSQL and ODBC links the rows' writes wait and go in batches;
    // each row keeps its own savepoint, so the outcome is the row-by-row one.
    // Elsewhere the writes are logged, the log made before the transaction
    // begins: it may set how the database keeps its savepoints.
    m_deferred = m_target.capabilities().defersWrites;
    m_log = m_deferred ? nullptr : m_target.writeLog();
    m_target.begin();
    batchCommitted(1);
    m_writes.setDeferring(m_deferred);
    m_batchMarked = false;
    m_unconfirmed.clear();
    m_row = PendingRow();
    m_rowOpen = false;
}

void RowWriter::endWalk()
{
    m_log.reset();
    m_batchMarked = false;
    m_writes.setDeferring(false);
    m_deferred = false;
    m_rowOpen = false;
    m_unconfirmed.clear();
}

void RowWriter::startRow(int i, const QByteArray& code)
{
    if (!m_deferred)
        return;
    m_writes.setRowTag(i);
    m_row = PendingRow{i, code, false, {}, {}, {}};
    m_rowOpen = true;
}

bool RowWriter::rowDone(bool skipped, bool batchFull)
{
    if (!m_deferred) {
        countRow(skipped);
        return false;
    }
    m_row.skipped = skipped;
    m_rowOpen = false;
    m_unconfirmed.push_back(std::move(m_row));
    m_row = PendingRow();
    return batchFull || m_unconfirmed.size() >= m_writes.rowsPerFlush() ||
           m_writes.deferredWrites() >= m_writes.writesPerFlush();
}

bool RowWriter::holdLog(const QString& line)
{
    if (!m_rowOpen)
        return false;
    m_row.logs.append({m_writes.positionInRow(), line});
    return true;
}

bool RowWriter::holdReject(const QString& reason, const QString& log)
{
    if (!m_rowOpen)
        return false;
    m_row.rejectReason = reason;
    m_row.rejectLog = log;
    return true;
}

void RowWriter::countRow(bool skipped)
{
    ++m_result.rowsRead;
    if (skipped)
        ++m_result.rowsSkipped;
    else
        ++m_result.rowsWritten;
}

void RowWriter::confirmRows()
{
    for (const PendingRow& r : m_unconfirmed) {
        for (const auto& [position, line] : r.logs)
            m_frontend.appendLog(line);
        if (r.skipped)
            m_reject(r.row, r.code, r.rejectReason, r.rejectLog);
        countRow(r.skipped);
    }
    m_unconfirmed.clear();
}

void RowWriter::flush()
{
    m_writes.flushDeferred();
    confirmRows();
}

void RowWriter::runControl(db::Query& statement)
{
    // Run unprepared where the server cannot prepare them (execDirect prepares them where it can).
    statement.execDirect();
}

void RowWriter::rowStatements()
{
    if (m_savepoint)
        return;
    m_savepoint = std::make_unique<db::Query>(m_target);
    m_savepoint->setText(m_target.forms().savepointSql(kRowSavepoint));
    const QString release = m_target.forms().releaseSql(kRowSavepoint);
    if (!release.isEmpty()) {
        m_release = std::make_unique<db::Query>(m_target);
        m_release->setText(release);
    }
    m_rollbackTo = std::make_unique<db::Query>(m_target);
    m_rollbackTo->setText(m_target.forms().rollbackToSql(kRowSavepoint));
    // Without batches, where one text may hold two statements: one round trip
    // releases the last row's mark and sets the next.
    if (m_target.capabilities().runsStatementLists && !release.isEmpty() && !m_deferred) {
        m_releaseAndMark = std::make_unique<db::Query>(m_target);
        m_releaseAndMark->setText(release + QStringLiteral("; ") + m_target.forms().savepointSql(kRowSavepoint));
    }
}

void RowWriter::setMark()
{
    if (m_deferred) {
        m_writes.queueControl(m_target.forms().savepointSql(kRowSavepoint));
        m_savepointHeld = true;
        return;
    }
    rowStatements();
    if (m_log) {
        // A new savepoint every so many rows keeps the log, and what the database
        // keeps to go back to it, short; the rows before it stay in the transaction.
        if (m_batchMarked && m_rowsMarked >= kRowsPerMark) {
            if (m_release)
                runControl(*m_release);
            m_batchMarked = false;
        }
        if (!m_batchMarked) {
            runControl(*m_savepoint);
            m_log->restart();
            m_batchMarked = true;
            m_rowsMarked = 0;
        }
        m_rowStart = m_log->size();
        ++m_rowsMarked;
        m_savepointHeld = true;
        return;
    }
    if (m_releaseAndMark && m_savepointHeld)
        runControl(*m_releaseAndMark);
    else
        runControl(*m_savepoint);
    m_savepointHeld = true;
}

void RowWriter::releaseMark()
{
    if (m_deferred) {
        // Where there is no release (SQL Server) the empty statement marks the row's end.
        m_writes.queueControl(m_target.forms().releaseSql(kRowSavepoint));
        m_savepointHeld = false;
        return;
    }
    // Where marks can be released with the next one, the commit or the next
    // row's mark takes it; the batch's savepoint stays until the commit.
    if (m_releaseAndMark || m_log)
        return;
    if (m_release)
        runControl(*m_release);
    m_savepointHeld = false;
}

bool RowWriter::rollbackMark()
{
    rowStatements();
    try {
        runControl(*m_rollbackTo);
        // Back at the batch's savepoint: the rows before this one are written again.
        if (m_log && !m_log->replay(m_rowStart))
            return false;
        if (m_release)
            runControl(*m_release);
        m_savepointHeld = false;
        m_batchMarked = false;
        return true;
    } catch (const belmire::Error&) {
        // The row's writes may still be in the transaction; the caller must not commit it.
        return false;
    }
}

bool RowWriter::undoRow(Mark* mark)
{
    if (mark)
        mark->m_open = false;
    if (!m_deferred)
        return !mark || rollbackMark();
    m_rowOpen = false;
    // The row's writes not sent yet are dropped; the rows before go in.
    const int i = m_row.row;
    const bool sent = m_writes.sentTag(i);
    m_writes.dropRowWrites(i);
    flush();
    const bool undone = !sent || rollbackMark();
    for (const auto& [position, line] : m_row.logs)
        m_frontend.appendLog(line);
    return undone;
}

RowWriter::Failure RowWriter::failedWrite(const db::DeferredError& e)
{
    m_rowOpen = false;
    const int j = e.tag();
    PendingRow failing = m_row.row == j ? m_row : PendingRow{j, {}, false, {}, {}, {}};
    std::vector<PendingRow> before;
    for (PendingRow& r : m_unconfirmed) {
        if (r.row < j)
            before.push_back(std::move(r));
        else if (r.row == j)
            failing = std::move(r);
    }
    // The row's own mark was set unless the mark itself failed; a transaction
    // the server ended took it.
    const bool undone = !e.endedTransaction() && e.position() > 0 && rollbackMark();
    m_unconfirmed = std::move(before);
    confirmRows();
    if (e.rowKnown())
        for (const auto& [position, line] : failing.logs)
            if (position <= e.position())
                m_frontend.appendLog(line);
    return {j, failing.code, endAfterError(undone)};
}

QString RowWriter::endAfterError(bool undone)
{
    // A row that could not be undone takes the open batch with it, never half of itself.
    if (!undone)
        m_target.rollback();
    return undone && commitBeforeError() ? QString() : batchLost();
}

bool RowWriter::commitBeforeError()
{
    // The rows before the failing one stay; a failing commit must not hide the
    // error that ended the walk.
    try {
        m_target.commit();
        return true;
    } catch (const belmire::Error&) {
        m_target.rollback();
        return false;
    }
}

void RowWriter::batchCommitted(int nextRow)
{
    m_committed = {m_result.rowsRead, m_result.rowsWritten, m_result.rowsSkipped, nextRow};
}

QString RowWriter::batchLost()
{
    const qint64 lost = m_result.rowsRead - m_committed.read;
    m_result.rowsRead = m_committed.read;
    m_result.rowsWritten = m_committed.written;
    m_result.rowsSkipped = m_committed.skipped;
    if (lost <= 0)
        return {};
    const qint64 first = m_committed.nextRow;
    const QString rows = lost == 1 ? QStringLiteral("第 %1 行").arg(first)
                                   : QStringLiteral("第 %1 至 %2 行").arg(first).arg(first + lost - 1);
    return QStringLiteral("（%1已随未提交的事务回滚，没有写入）").arg(rows);
}

void RowWriter::commitBatch(int lastRow)
{
    try {
        m_target.commit();
    } catch (const belmire::Error& e) {
        m_target.rollback();
        throw belmire::Error(e.message() + batchLost());
    }
    batchCommitted(lastRow + 1);
    m_batchMarked = false;
}

void RowWriter::startBatch()
{
    m_savepointHeld = false;
    m_batchMarked = false;
    m_target.begin();
}

} // namespace shell

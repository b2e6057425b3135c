#include "shell/runframe.h"

#include "shell/guard.h"

#include "textutil/error.h"
#include "textutil/gbk.h"

#include <QElapsedTimer>
#include <QRegularExpression>

#include <cstdint>
#include <cstring>

namespace shell {
namespace {

constexpr qint64 kRepaintMs = 33; // about 30 repaints a second
const QString kRowSavepoint = QStringLiteral("belmire_row");
// The reason a reject report gives for the row an error stopped the walk at
// (most often a write the target refused; the log column has the error).
const QString kRefused = QStringLiteral("出错，运行停止");

} // namespace

QString progressLine(int i, int n, const QByteArray& code)
{
    return QStringLiteral("信息:%1/%2  (编号").arg(i).arg(n) + gbk::toUnicode(code) + u')';
}

QString progressLine(int i, int n) { return QStringLiteral("信息:%1/%2").arg(i).arg(n); }

QString oneLine(const QString& message)
{
    static const QRegularExpression sqlstate(QStringLiteral(R"(^\(?[0-9A-Z]{5}\)?$)"));
    static const QRegularExpression trailingState(QStringLiteral(R"(\s*\([0-9A-Z]{5}\)$)"));
    QStringList kept;
    for (const QString& piece : message.split(u'\n')) {
        const QString line = piece.trimmed();
        if (line.isEmpty() || line == u"^" || line.startsWith(QLatin1String("LINE ")) ||
            line.startsWith(QLatin1String("SQLSTATE")) || sqlstate.match(line).hasMatch())
            continue;
        kept << line;
    }
    QString out = kept.join(u' ');
    out.remove(trailingState);
    return out;
}

RunFrame::RunFrame(Frontend& frontend, QString sourceUdl, QString targetUdl)
    : m_frontend(frontend), m_sourceUdl(std::move(sourceUdl)), m_targetUdl(std::move(targetUdl)),
      m_clock([] { return QDateTime::currentDateTime(); })
{
}

RunFrame::~RunFrame() = default;

void RunFrame::disconnect()
{
    m_source.close();
    m_target.close();
}

RunResult RunFrame::run(const Operation& operation)
{
    RunResult result;
    if (m_running) {
        result.message = QStringLiteral("%1：另一个操作正在运行").arg(operation.title);
        return result;
    }
    m_running = true;
    QElapsedTimer timer;
    timer.start();
    {
        Run run(*this, operation);
        try {
            if (operation.needsSource) {
                m_frontend.clearLog();
                m_source.close();
                m_target.close();
                m_source.open(m_sourceUdl);
            } else {
                m_target.close();
            }
            m_target.open(m_targetUdl);
            if (operation.needsSource) {
                guardWrites({&operation}, m_source, m_target, m_sourceUdl, m_targetUdl);
            } else {
                // Compared on a connection of its own: the frame's source stays as the last run left it.
                db::Connection source(QStringLiteral("源"));
                guardWrites({&operation}, source, m_target, m_sourceUdl, m_targetUdl);
            }
            run.retakeStamp();
            operation.body(run);
            m_target.commit();
            run.result().ok = true;
        } catch (const belmire::Error& e) {
            m_target.rollback();
            run.result().message = operation.title + QStringLiteral("：") + oneLine(e.message());
        } catch (const std::exception& e) {
            m_target.rollback();
            run.result().message = operation.title + QStringLiteral("：") + oneLine(QString::fromLocal8Bit(e.what()));
        }
        result = run.result();
    }
    result.seconds = double(timer.nsecsElapsed()) / 1e9;
    m_running = false;
    if (result.ok)
        m_frontend.completed(QStringLiteral("提示"), operation.completion);
    else
        m_frontend.failed(result.message);
    return result;
}

Run::Run(RunFrame& frame, const Operation& operation) : m_frame(frame), m_operation(operation) {}

Run::~Run() = default;

void Run::retakeStamp()
{
    m_stamp = m_frame.m_clock().toString(QStringLiteral("yyyy-MM-dd hh:mm ss")).toLatin1();
}

QByteArray Run::today() const { return m_frame.m_clock().date().toString(QStringLiteral("yyyy-MM-dd")).toLatin1(); }

db::Query& Run::target(const QStringList& lines)
{
    const QString key = lines.join(u'\n');
    auto& slot = m_targets[key];
    if (!slot) {
        slot = std::make_unique<db::Query>(m_frame.m_target);
        slot->setLines(lines);
        slot->prepare();
    }
    return *slot;
}

db::Query& Run::source(const QStringList& lines)
{
    const QString key = lines.join(u'\n');
    auto& slot = m_sources[key];
    if (!slot) {
        slot = std::make_unique<db::Query>(m_frame.m_source);
        slot->setLines(lines);
        slot->prepare();
    }
    return *slot;
}

void Run::once(const QStringList& statements)
{
    db::Connection& target = m_frame.m_target;
    target.begin();
    for (const QString& s : statements)
        target.exec(s);
    target.commit();
}

void Run::execute(const QString& statement) { m_frame.m_target.exec(statement); }

QByteArray Run::lookup(const QString& statement, std::initializer_list<QByteArray> values)
{
    int slot = m_lookupIndex.find(statement);
    if (slot == db::NameIndex::kUnknown) {
        slot = int(m_lookups.size());
        m_lookups.emplace_back();
        m_lookupIndex.add(statement, slot);
    }
    Lookup& l = m_lookups[size_t(slot)];
    // One value is its own key; several are joined by a byte no code holds.
    QByteArray key;
    if (values.size() == 1) {
        key = *values.begin();
    } else {
        for (const QByteArray& v : values) {
            key += v;
            key += '\x1f';
        }
    }
    if (l.hasLast && l.lastKey == key)
        return l.lastAnswer;
    l.lastKey = key;
    l.hasLast = false;
    if (auto answer = l.index ? l.loaded(key) : l.answers.value(key)) {
        l.lastAnswer = std::move(*answer);
        l.hasLast = true;
        return l.lastAnswer;
    }
    if (!l.tried) {
        l.tried = true;
        if (values.size() == 1 && preload(statement, l)) {
            l.lastAnswer = l.loaded(key).value_or(QByteArray());
            l.hasLast = true;
            return l.lastAnswer;
        }
    }
    if (l.complete) {
        l.lastAnswer.clear();
        l.hasLast = true;
        return {};
    }
    if (!l.query) {
        l.query = std::make_unique<db::Query>(m_frame.m_source);
        l.query->setText(statement);
        l.query->prepare();
    }
    db::Query& q = *l.query;
    q.close();
    int n = 0;
    for (const QByteArray& v : values)
        q.bindText(QStringLiteral("p%1").arg(++n), v);
    q.open();
    QByteArray answer;
    if (q.next() && q.fieldCount() > 0)
        answer = gbk::trim(db::variantText(q.valueAt(0)));
    q.close();
    l.answers.insert(key, answer);
    l.lastAnswer = answer;
    l.hasLast = true;
    return answer;
}

bool Run::preload(const QString& statement, Lookup& l)
{
    // "select [top 1] F from T where K=:p1" on SQLite or PostgreSQL: one scan of
    // T answers every key, first row first, as the keyed query would (both
    // compare text exactly). Where the server's collation decides what is equal
    // (SQL Server), the query per key stays.
    if (!m_frame.m_source.comparesKeysExactly())
        return false;
    static const QRegularExpression re(
        QStringLiteral(R"(^\s*select\s+(?:top\s+1\s+)?(\w+)\s+from\s+(\w+)\s+where\s+(\w+)\s*=\s*:p1\s*$)"),
        QRegularExpression::CaseInsensitiveOption);
    const auto m = re.match(statement);
    if (!m.hasMatch())
        return false;
    db::Query all(m_frame.m_source);
    all.setText(QStringLiteral("select %1, %2 from %3").arg(m.captured(3), m.captured(1), m.captured(2)));
    all.open();
    const QString keyField = m.captured(3), valueField = m.captured(1);
    auto& index = m_keyIndexes[(m.captured(2) + u'.' + keyField).toLower()];
    if (!index)
        index = std::make_unique<KeyIndex>();
    l.index = index.get();
    while (all.next()) {
        if (all.isNull(keyField))
            continue;
        const QByteArray key = all.text(keyField);
        std::uint32_t id;
        if (const auto known = index->ids.view(key)) {
            std::memcpy(&id, known->data(), sizeof id);
        } else {
            id = index->count++;
            index->ids.insert(key, QByteArrayView(reinterpret_cast<const char*>(&id), sizeof id));
        }
        if (l.answerAt.size() <= id)
            l.answerAt.resize(size_t(id) + 1, 0);
        if (l.answerAt[id] != 0) // the first row of a key answers
            continue;
        const QByteArray answer = gbk::trim(all.text(valueField));
        l.answerAt[id] = std::uint32_t(l.texts.size() + 1);
        const auto n = std::uint32_t(answer.size());
        l.texts.insert(l.texts.end(), reinterpret_cast<const char*>(&n), reinterpret_cast<const char*>(&n) + sizeof n);
        l.texts.insert(l.texts.end(), answer.constData(), answer.constData() + answer.size());
    }
    l.answerAt.shrink_to_fit();
    l.texts.shrink_to_fit();
    l.complete = true;
    return true;
}

std::optional<QByteArray> Run::Lookup::loaded(const QByteArray& key) const
{
    const auto known = index->ids.view(key);
    if (!known)
        return std::nullopt;
    std::uint32_t id;
    std::memcpy(&id, known->data(), sizeof id);
    if (id >= answerAt.size() || answerAt[id] == 0) // a key only another field's scan met
        return std::nullopt;
    const char* p = texts.data() + (answerAt[id] - 1);
    std::uint32_t n;
    std::memcpy(&n, p, sizeof n);
    return QByteArray(p + sizeof n, n);
}

void Run::log(const QByteArray& gbkLine) { log(gbk::toUnicode(gbkLine)); }

void Run::log(const QString& line)
{
    // A row whose writes wait in the pipeline shows its lines once they are in.
    if (m_current) {
        m_current->logs.append({m_frame.m_target.positionInRow(), line});
        return;
    }
    m_frame.m_frontend.appendLog(line);
}

void Run::skipRow(const QString& reason, const QByteArray& gbkLogLine, SkipProgress progress)
{
    m_skipThisRow = true;
    m_dropProgressCode = progress == SkipProgress::DropCode;
    const QString line = gbk::toUnicode(gbkLogLine);
    if (!gbkLogLine.isEmpty())
        log(line);
    if (m_current) {
        m_current->rejectReason = reason;
        m_current->rejectLog = line;
    } else {
        reject(m_walkRow, m_walkCode, reason, line);
    }
}

void Run::reject(int row, const QByteArray& code, const QString& reason, const QString& log)
{
    if (RejectReport* report = m_frame.m_rejects)
        report->add({m_operation.title, m_walkTable, row, gbk::toUnicode(code), reason, log});
}

void Run::countRow(bool skipped)
{
    ++m_result.rowsRead;
    if (skipped)
        ++m_result.rowsSkipped;
    else
        ++m_result.rowsWritten;
}

void Run::confirmRows()
{
    for (const PendingRow& r : m_unconfirmed) {
        for (const auto& [position, line] : r.logs)
            m_frame.m_frontend.appendLog(line);
        if (r.skipped)
            reject(r.row, r.code, r.rejectReason, r.rejectLog);
        countRow(r.skipped);
    }
    m_unconfirmed.clear();
}

void Run::flushRows()
{
    m_frame.m_target.flushDeferred();
    confirmRows();
}

void Run::runControl(db::Query& statement)
{
    // Run unprepared where the server cannot prepare them (execDirect prepares them where it can).
    statement.execDirect();
}

void Run::rowStatements()
{
    if (m_savepoint)
        return;
    const db::Connection& target = m_frame.m_target;
    m_savepoint = std::make_unique<db::Query>(m_frame.m_target);
    m_savepoint->setText(target.savepointSql(kRowSavepoint));
    const QString release = target.releaseSql(kRowSavepoint);
    if (!release.isEmpty()) {
        m_release = std::make_unique<db::Query>(m_frame.m_target);
        m_release->setText(release);
    }
    m_rollbackTo = std::make_unique<db::Query>(m_frame.m_target);
    m_rollbackTo->setText(target.rollbackToSql(kRowSavepoint));
    // Without batches, where one text may hold two statements: one round trip
    // releases the last row's mark and sets the next.
    if (target.runsStatementLists() && !release.isEmpty() && !m_deferred) {
        m_releaseAndMark = std::make_unique<db::Query>(m_frame.m_target);
        m_releaseAndMark->setText(release + QStringLiteral("; ") + target.savepointSql(kRowSavepoint));
    }
}

void Run::rowSavepoint()
{
    if (m_deferred) {
        m_frame.m_target.queueControl(m_frame.m_target.savepointSql(kRowSavepoint));
        m_savepointHeld = true;
        return;
    }
    rowStatements();
    if (m_releaseAndMark && m_savepointHeld)
        runControl(*m_releaseAndMark);
    else
        runControl(*m_savepoint);
    m_savepointHeld = true;
}

void Run::rowRelease()
{
    if (m_deferred) {
        // Where there is no release (SQL Server) the empty statement marks the row's end.
        m_frame.m_target.queueControl(m_frame.m_target.releaseSql(kRowSavepoint));
        m_savepointHeld = false;
        return;
    }
    // Where marks can be released with the next one, the commit or the next
    // row's mark takes it.
    if (m_releaseAndMark)
        return;
    if (m_release)
        runControl(*m_release);
    m_savepointHeld = false;
}

bool Run::rowRollback()
{
    rowStatements();
    try {
        runControl(*m_rollbackTo);
        if (m_release)
            runControl(*m_release);
        m_savepointHeld = false;
        return true;
    } catch (const belmire::Error&) {
        // The row's writes may still be in the transaction; the caller must not commit it.
        return false;
    }
}

bool Run::commitBeforeError()
{
    // The rows before the failing one stay; a failing commit must not hide the
    // error that ended the walk.
    try {
        m_frame.m_target.commit();
        return true;
    } catch (const belmire::Error&) {
        m_frame.m_target.rollback();
        return false;
    }
}

void Run::batchCommitted(int nextRow)
{
    m_committed = {m_result.rowsRead, m_result.rowsWritten, m_result.rowsSkipped, nextRow};
}

QString Run::batchLost()
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

void Run::commitBatch(int lastRow)
{
    try {
        m_frame.m_target.commit();
    } catch (const belmire::Error& e) {
        m_frame.m_target.rollback();
        throw belmire::Error(e.message() + batchLost());
    }
    batchCommitted(lastRow + 1);
}

void Run::walk(const QString& select, bool honourAbort, const CodeFn& code, const RowFn& row)
{
    Frontend& fe = m_frame.m_frontend;
    db::Connection& target = m_frame.m_target;
    db::Query rows(m_frame.m_source);
    rows.setLines({select});
    m_walkTable = db::statementTable(select);
    const int n = rows.countRows();
    rows.open();
    fe.sourceOpened(select, rows.fieldNames(), n);

    QElapsedTimer timer;
    timer.start();
    qint64 lastShown = -kRepaintMs;
    // The last progress line when it was not shown yet, kept as its parts: most
    // rows' lines are never shown.
    struct Pending {
        bool waiting = false;
        bool withCode = true;
        int row = 0;
        QByteArray code;
    } pending;
    auto pendingLine = [&] {
        return pending.withCode ? progressLine(pending.row, n, pending.code) : progressLine(pending.row, n);
    };
    int i = 0;
    int inBatch = 0;
    m_inWalk = true;
    m_savepointHeld = false;
    target.begin();
    batchCommitted(1);
    auto rowContext = [&](int r, const QByteArray& c) {
        return QStringLiteral("第 %1/%2 行（编号").arg(r).arg(n) + gbk::toUnicode(c) + QStringLiteral("），");
    };

    // On PostgreSQL and ODBC links the rows' writes wait and go in batches;
    // each row keeps its own savepoint, so the outcome is the row-by-row one.
    m_deferred = target.defersWrites();
    target.setDeferring(m_deferred);
    m_unconfirmed.clear();
    struct Restore {
        Run& run;
        ~Restore()
        {
            run.m_frame.m_target.setDeferring(false);
            run.m_deferred = false;
            run.m_current = nullptr;
            run.m_unconfirmed.clear();
        }
    } restore{*this};
    PendingRow current;

    // A queued write of row j failed: the rows before it stay, nothing of row j
    // does, and what row j showed before that write is shown.
    auto deferredFailure = [&](const db::DeferredError& e) {
        m_current = nullptr;
        m_inWalk = false;
        const int j = e.tag();
        PendingRow failing = current.row == j ? current : PendingRow{j, {}, false, {}};
        std::vector<PendingRow> before;
        for (PendingRow& r : m_unconfirmed) {
            if (r.row < j)
                before.push_back(std::move(r));
            else if (r.row == j)
                failing = std::move(r);
        }
        // The row's own mark was set unless the mark itself failed.
        const bool undone = e.position() > 0 && rowRollback();
        m_unconfirmed = std::move(before);
        confirmRows();
        for (const auto& [position, line] : failing.logs)
            if (position <= e.position())
                fe.appendLog(line);
        fe.showProgress(progressLine(j, n, failing.code));
        if (!undone)
            target.rollback();
        const QString lost = undone && commitBeforeError() ? QString() : batchLost();
        reject(j, failing.code, kRefused, e.message());
        throw belmire::Error(rowContext(j, failing.code) + e.message() + lost);
    };
    auto flushOrFail = [&] {
        try {
            flushRows();
        } catch (const db::DeferredError& e) {
            deferredFailure(e);
        }
    };

    while (true) {
        if (honourAbort && fe.abortTicked()) {
            m_aborted = true;
            m_result.aborted = true;
            break;
        }
        QByteArray c;
        bool fetched = false;
        try {
            if (!rows.next())
                break;
            fetched = true;
            ++i;
            c = code(rows);
        } catch (const belmire::Error& e) {
            // The rows before this one go in first; a failure among them is the one reported.
            if (m_deferred)
                flushOrFail();
            m_inWalk = false;
            const QString lost = commitBeforeError() ? QString() : batchLost();
            if (pending.waiting)
                fe.showProgress(pendingLine());
            // A failed fetch names the row it was to read.
            throw belmire::Error(QStringLiteral("第 %1/%2 行，").arg(fetched ? i : i + 1).arg(n) + e.message() + lost);
        }
        if (i == n || timer.elapsed() - lastShown >= kRepaintMs) {
            fe.showProgress(progressLine(i, n, c));
            fe.sourceRow(i - 1);
            fe.processEvents();
            if (!honourAbort && !m_abortNoted && fe.abortTicked()) {
                m_abortNoted = true;
                fe.abortNotHonoured(m_operation.title);
            }
            lastShown = timer.elapsed();
            pending.waiting = false;
        } else {
            pending = {true, true, i, c};
        }
        m_skipThisRow = false;
        m_dropProgressCode = false;
        m_walkRow = i;
        m_walkCode = c;
        if (m_deferred) {
            target.setRowTag(i);
            current = PendingRow{i, c, false, {}};
            m_current = &current;
        }
        bool marked = false;
        try {
            rowSavepoint();
            marked = true;
            row(rows, c);
            rowRelease();
        } catch (const db::DeferredError& e) {
            deferredFailure(e);
        } catch (const belmire::Error& e) {
            bool undone;
            if (m_deferred) {
                m_current = nullptr;
                // The row's writes not sent yet are dropped; the rows before go in.
                const bool sent = target.sentTag(i);
                target.dropRowWrites(i);
                flushOrFail();
                undone = !sent || rowRollback();
                for (const auto& [position, line] : current.logs)
                    fe.appendLog(line);
            } else {
                undone = !marked || rowRollback();
            }
            m_inWalk = false;
            if (pending.waiting) {
                fe.showProgress(pendingLine());
                fe.sourceRow(i - 1);
            }
            // A row that could not be undone takes the open batch with it, never half of itself.
            if (!undone)
                target.rollback();
            const QString lost = undone && commitBeforeError() ? QString() : batchLost();
            reject(i, c, kRefused, e.message());
            throw belmire::Error(rowContext(i, c) + e.message() + lost);
        }
        if (m_dropProgressCode) {
            // Replaces the row's line where it was shown, else the one waiting to be shown.
            if (!pending.waiting) {
                fe.showProgress(progressLine(i, n));
                fe.processEvents();
            } else {
                pending.withCode = false;
            }
        }
        const bool commitNow = ++inBatch >= m_frame.m_batchSize;
        if (m_deferred) {
            current.skipped = m_skipThisRow;
            m_current = nullptr;
            m_unconfirmed.push_back(std::move(current));
            current = PendingRow();
            if (commitNow || m_unconfirmed.size() >= target.rowsPerFlush() ||
                target.deferredWrites() >= target.writesPerFlush())
                flushOrFail();
        } else {
            countRow(m_skipThisRow);
        }
        if (commitNow) {
            commitBatch(i);
            m_savepointHeld = false;
            target.begin();
            inBatch = 0;
        }
    }
    if (m_deferred)
        flushOrFail();
    m_inWalk = false;
    if (pending.waiting) {
        fe.showProgress(pendingLine());
        fe.processEvents();
    }
    commitBatch(i);
}

} // namespace shell

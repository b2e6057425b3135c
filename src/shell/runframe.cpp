#include "shell/runframe.h"

#include "shell/guard.h"

#include "textutil/error.h"
#include "textutil/gbk.h"

#include <QElapsedTimer>
#include <QRegularExpression>

#include <optional>

namespace shell {
namespace {

// The reason a reject report gives for the row an error stopped the walk at
// (most often a write the target refused; the log column has the error).
const QString kRefused = QStringLiteral("出错，运行停止");

} // namespace

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

Run::Run(RunFrame& frame, const Operation& operation)
    : m_frame(frame), m_operation(operation), m_lookups(frame.m_source),
      m_writer(frame.m_target, frame.m_frontend, m_result,
               [this](int row, const QByteArray& code, const QString& reason, const QString& log) {
                   reject(row, code, reason, log);
               })
{
}

Run::~Run() = default;

void Run::retakeStamp() { m_stamp = m_frame.m_clock().toString(QStringLiteral("yyyy-MM-dd hh:mm ss")).toLatin1(); }

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
    return m_lookups.answer(statement, values);
}

void Run::log(const QByteArray& gbkLine) { log(gbk::toUnicode(gbkLine)); }

void Run::log(const QString& line)
{
    // A row whose writes wait shows its lines once they are in.
    if (!m_writer.holdLog(line))
        m_frame.m_frontend.appendLog(line);
}

void Run::skipRow(const QString& reason, const QByteArray& gbkLogLine, SkipProgress progress)
{
    m_skipThisRow = true;
    m_dropProgressCode = progress == SkipProgress::DropCode;
    const QString line = gbk::toUnicode(gbkLogLine);
    if (!gbkLogLine.isEmpty())
        log(line);
    if (!m_writer.holdReject(reason, line))
        reject(m_walkRow, m_walkCode, reason, line);
}

void Run::reject(int row, const QByteArray& code, const QString& reason, const QString& log)
{
    if (RejectReport* report = m_frame.m_rejects)
        report->add({m_operation.title, m_walkTable, row, gbk::toUnicode(code), reason, log});
}

void Run::walk(const QString& select, bool honourAbort, const CodeFn& code, const RowFn& row, const AheadFn& ahead)
{
    Frontend& fe = m_frame.m_frontend;
    db::Query rows(m_frame.m_source);
    rows.setLines({select});
    m_walkTable = db::statementTable(select);
    const int n = rows.countRows();
    rows.open();
    fe.sourceOpened(select, rows.fieldNames(), n);
    const bool readAhead =
        ahead && (!m_frame.m_target.comparesKeysExactly() || !m_frame.m_source.comparesKeysExactly());
    if (readAhead)
        rows.readAhead(kAheadRows);

    ProgressThrottle progress(n);
    auto showWaiting = [&] {
        if (progress.waiting())
            fe.showProgress(progress.waitingLine());
        return progress.waiting();
    };
    auto rowContext = [&](int r, const QByteArray& c) {
        return QStringLiteral("第 %1/%2 行（编号").arg(r).arg(n) + gbk::toUnicode(c) + QStringLiteral("），");
    };
    int i = 0;
    int inBatch = 0;
    m_writer.startWalk();
    struct EndWalk {
        RowWriter& writer;
        ~EndWalk() { writer.endWalk(); }
    } endWalk{m_writer};

    // A queued write of row j failed: the rows before it stay, nothing of row j
    // does, and what row j showed before that write is shown. Where one
    // statement of many rows ended the transaction, no row is named as the
    // failing one: the server does not say which it was.
    auto deferredFailure = [&](const db::DeferredError& e) {
        const RowWriter::Failure f = m_writer.failedWrite(e);
        if (!e.rowKnown())
            throw belmire::Error(QStringLiteral("第 %1 至 %2/%3 行中的一行（数据库没有指明是哪一行），")
                                     .arg(e.tag())
                                     .arg(e.lastTag())
                                     .arg(n) +
                                 e.message() + f.lost);
        fe.showProgress(progressLine(f.row, n, f.code));
        reject(f.row, f.code, kRefused, e.message());
        throw belmire::Error(rowContext(f.row, f.code) + e.message() + f.lost);
    };
    auto flushOrFail = [&] {
        try {
            m_writer.flush();
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
            if (readAhead && rows.firstReadAhead()) {
                // A row whose fields fail here fails again, at its own turn, when converted.
                rows.forEachReadAhead([&](int k) {
                    try {
                        ahead(rows, k);
                    } catch (const belmire::Error&) {
                    }
                });
            }
            c = code(rows);
        } catch (const belmire::Error& e) {
            // The rows before this one go in first; a failure among them is the one reported.
            if (m_writer.deferred())
                flushOrFail();
            const QString lost = m_writer.endAfterError(true);
            showWaiting();
            // A failed fetch names the row it was to read.
            throw belmire::Error(QStringLiteral("第 %1/%2 行，").arg(fetched ? i : i + 1).arg(n) + e.message() + lost);
        }
        if (progress.showNow(i, c)) {
            fe.showProgress(progressLine(i, n, c));
            fe.sourceRow(i - 1);
            fe.processEvents();
            if (!honourAbort && !m_abortNoted && fe.abortTicked()) {
                m_abortNoted = true;
                fe.abortNotHonoured(m_operation.title);
            }
            progress.shown();
        }
        m_skipThisRow = false;
        m_dropProgressCode = false;
        m_walkRow = i;
        m_walkCode = c;
        m_writer.startRow(i, c);
        std::optional<RowWriter::Mark> mark;
        try {
            mark.emplace(m_writer);
            row(rows, c);
            mark->release();
        } catch (const db::DeferredError& e) {
            deferredFailure(e);
        } catch (const belmire::Error& e) {
            bool undone = false;
            try {
                undone = m_writer.undoRow(mark ? &*mark : nullptr);
            } catch (const db::DeferredError& failed) {
                deferredFailure(failed);
            }
            if (showWaiting())
                fe.sourceRow(i - 1);
            const QString lost = m_writer.endAfterError(undone);
            reject(i, c, kRefused, e.message());
            throw belmire::Error(rowContext(i, c) + e.message() + lost);
        }
        if (m_dropProgressCode) {
            // Replaces the row's line where it was shown, else the one waiting to be shown.
            if (!progress.waiting()) {
                fe.showProgress(progressLine(i, n));
                fe.processEvents();
            } else {
                progress.dropCode();
            }
        }
        const bool commitNow = ++inBatch >= m_frame.m_batchSize;
        if (m_writer.rowDone(m_skipThisRow, commitNow))
            flushOrFail();
        if (commitNow) {
            m_writer.commitBatch(i);
            m_writer.startBatch();
            inBatch = 0;
        }
    }
    if (m_writer.deferred())
        flushOrFail();
    if (showWaiting())
        fe.processEvents();
    m_writer.commitBatch(i);
}

} // namespace shell

#include "shell/runframe.h"

#include "textutil/error.h"
#include "textutil/gbk.h"

#include <optional>

namespace shell {
namespace {

// The reason a reject report gives for the row an error stopped the walk at
// (most often a write the target refused; the log column has the error).
const QString kRefused = QStringLiteral("出错，运行停止");

} // namespace

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

QString Run::heldBefore(const QString& select, int r)
{
    const RowMatch* match = nullptr;
    for (const RowMatch& m : m_operation.reconciliation.rows)
        if (!m.skipsPresent && m.sourceTable.compare(m_walkTable, Qt::CaseInsensitive) == 0)
            match = &m;
    const ClearedBy* clear = match ? m_operation.clearing(match->targetTable) : nullptr;
    if (!clear)
        return {};
    try {
        // The key of row r as the conversion writes it, then of the rows before
        // it: one of them with the same key means the source repeats it, and no
        // clear helps.
        db::Query rows(m_frame.m_source);
        rows.setLines({select});
        const auto keyOf = [&] {
            QList<QByteArray> key;
            for (const KeyPart& part : match->key) {
                const QByteArray value = gbk::trim(rows.text(part.sourceField));
                key << (part.cut > 0 ? gbk::cut(value, part.cut) : value);
            }
            return key;
        };
        rows.open();
        for (int k = 1; k < r; ++k)
            rows.next();
        if (!rows.next())
            return {};
        const QList<QByteArray> key = keyOf();
        rows.close();
        rows.open();
        for (int k = 1; k < r && rows.next(); ++k)
            if (keyOf() == key)
                return {};
        rows.close();
        QStringList where, shown;
        for (qsizetype k = 0; k < key.size(); ++k) {
            where << QStringLiteral("%1=:p%2").arg(match->key[k].targetColumn).arg(k + 1);
            shown << match->key[k].targetColumn + u'=' + gbk::toUnicode(key[k]);
        }
        db::Query held(m_frame.m_target);
        held.setText(QStringLiteral("select xgrq from %1 where %2")
                         .arg(match->targetTable, where.join(QStringLiteral(" and "))));
        held.prepare();
        for (qsizetype k = 0; k < key.size(); ++k)
            held.bindText(QStringLiteral("p%1").arg(k + 1), key[k]);
        held.open();
        if (!held.next())
            return {};
        const QByteArray written = gbk::trim(held.text(QStringLiteral("xgrq")));
        held.close();
        return QStringLiteral("；目标 %1 已有这一行（%2%3），是之前的转换写入的：请先运行%4（%5），再重新转换")
            .arg(match->targetTable, shown.join(QStringLiteral("、")),
                 written.isEmpty() ? QString() : QStringLiteral("，写入时间 ") + QString::fromLatin1(written),
                 clear->title, clear->id);
    } catch (const belmire::Error&) {
        return {};
    }
}

void Run::walk(const QString& select, bool honourAbort, const CodeFn& code, const RowFn& row, const AheadFn& ahead)
{
    Frontend& fe = m_frame.m_frontend;
    db::Query rows(m_frame.m_source);
    rows.setLines({select});
    m_walkTable = db::statementTable(select);
    ++m_walks;
    const int n = rows.countRows();
    rows.open();
    fe.sourceOpened(select, rows.fieldNames(), n);
    const bool readAhead = ahead && (!m_frame.m_target.capabilities().comparesKeysExactly ||
                                     !m_frame.m_source.capabilities().comparesKeysExactly);
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
    const int batchSize = m_frame.m_batchSize.value_or(m_frame.m_target.capabilities().rowsPerCommit);
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
        throw belmire::Error(rowContext(f.row, f.code) + oneLine(e.message()) + f.lost + heldBefore(select, f.row));
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
            if (i == 0 && m_walks == 1)
                fe.abortedBeforeFirstRow(m_operation.title);
            m_aborted = true;
            m_result.aborted = true;
            break;
        }
        if (fe.stopNow()) {
            // The rows converted so far stay, whole.
            if (m_writer.deferred())
                flushOrFail();
            m_writer.commitBatch(i);
            m_aborted = true;
            m_result.aborted = true;
            throw Interrupted();
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
            throw belmire::Error(rowContext(i, c) + oneLine(e.message()) + lost + heldBefore(select, i));
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
        const bool commitNow = ++inBatch >= batchSize;
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

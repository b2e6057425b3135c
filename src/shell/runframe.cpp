#include "shell/runframe.h"

#include "shell/guard.h"

#include "db/lock_wait.h"
#include "db/transaction.h"

#include "textutil/error.h"
#include "textutil/gbk.h"

#include <QElapsedTimer>
#include <QRegularExpression>

namespace shell {

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

namespace {

// What a run stopped in the middle of its walk leaves: its own words, else the
// tables it writes row by row and the clear operation a rerun needs first.
QString interruptedMessage(const Operation& operation)
{
    const QString lead = operation.title + QStringLiteral("：已中断，");
    if (!operation.interruptedNote.isEmpty())
        return lead + operation.interruptedNote;
    QStringList tables;
    QString clear;
    for (const RowMatch& m : operation.reconciliation.rows) {
        tables << m.targetTable;
        if (const ClearedBy* op = operation.clearing(m.targetTable); clear.isEmpty() && !m.skipsPresent && op)
            clear = op->title;
    }
    if (tables.isEmpty())
        return lead + QStringLiteral("写入的行留在目标中");
    return lead + tables.join(QStringLiteral("、")) + QStringLiteral(" 不完整") +
           (clear.isEmpty() ? QStringLiteral("：重新转换会补上其余的行")
                            : QStringLiteral("：请%1后重新转换").arg(clear));
}

} // namespace

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
    const db::LockWaitMemory oneWaitPerTable;
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
            // The driver, TDS version and server that answered each SQL Server link.
            for (db::Connection* c : {operation.needsSource ? &m_source : nullptr, &m_target})
                if (c && !c->answeredBy().isEmpty())
                    m_frontend.appendLog(QStringLiteral("%1数据库：%2").arg(c->role(), c->answeredBy()));
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
        } catch (const Interrupted&) {
            m_target.rollback();
            run.result().interrupted = true;
            run.result().message = interruptedMessage(operation);
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
    else if (result.interrupted)
        m_frontend.interrupted(result.message);
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

namespace {

// Runs one of the once-only statements. A TRUNCATE TABLE the database refuses
// (the table is referenced by a foreign key, or the login may delete but not
// alter it) is undone to a savepoint and the table emptied with DELETE FROM
// instead. Returns the log line that says so, empty otherwise.
QString runOnce(db::Connection& target, const QString& statement)
{
    static const QRegularExpression truncate(QStringLiteral(R"(^\s*truncate\s+table\s+(\w+)\s*$)"),
                                             QRegularExpression::CaseInsensitiveOption);
    const auto m = truncate.match(statement);
    // SQLite has no TRUNCATE: its dialect runs a DELETE already.
    if (!m.hasMatch() || !target.dialectText(statement).trimmed().startsWith(u"truncate", Qt::CaseInsensitive)) {
        target.exec(statement);
        return {};
    }
    db::Savepoint mark(target, QStringLiteral("belmire_clear"));
    try {
        target.exec(statement);
    } catch (const belmire::Error& e) {
        if (db::isLockWait(e.message())) {
            mark.leave(); // the run's rollback ends it all
            throw;
        }
        try {
            mark.rollback();
        } catch (const belmire::Error&) {
            throw e;
        }
        const QString table = m.captured(1);
        try {
            target.exec(QStringLiteral("DELETE FROM %1").arg(table));
        } catch (const belmire::Error& again) {
            throw belmire::Error(QStringLiteral("%1\n改用 DELETE 也不行：%2").arg(e.message(), again.message()));
        }
        QString why = oneLine(e.message());
        why.remove(QRegularExpression(QStringLiteral("^表 \\w+：")));
        return QStringLiteral("表 %1 不能 TRUNCATE（%2），已改用 DELETE 清空").arg(table, why);
    }
    mark.release();
    return {};
}

} // namespace

void Run::once(const QStringList& statements)
{
    db::Connection& target = m_frame.m_target;
    db::Transaction transaction(target);
    QStringList notes;
    for (const QString& s : statements)
        if (const QString note = runOnce(target, s); !note.isEmpty())
            notes << note;
    transaction.commit();
    for (const QString& note : std::as_const(notes))
        log(note);
}

void Run::execute(const QString& statement) { m_frame.m_target.exec(statement); }

void Run::log(const QByteArray& gbkLine) { log(gbk::toUnicode(gbkLine)); }

void Run::log(const QString& line)
{
    // A row whose writes wait shows its lines once they are in.
    if (!m_writer.holdLog(line))
        m_frame.m_frontend.appendLog(line);
}

} // namespace shell

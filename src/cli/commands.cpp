// The commands of the command line and what each writes: the conversions with their summaries,
// reconciliation and rejected rows, the check, and the verification.

#include "cli/commands.h"

#include "cli/cli.h"
#include "cli/terminal.h"
#include "shell/check.h"
#include "shell/guard.h"
#include "shell/rejects.h"
#include "shell/runframe.h"
#include "shell/summary.h"
#include "shell/verify.h"
#include "textutil/error.h"

#include <optional>

namespace cli {
namespace {

constexpr int kInterrupted = 130; // the shell's status for a program ended by SIGINT

// Writes one operation's reconciliation; returns the number of problems.
int writeReconciled(const shell::Reconciled& r, std::FILE* lines, std::FILE* problems)
{
    if (lines)
        for (const QString& line : r.lines)
            writeLine(lines, line);
    for (const QString& problem : r.problems)
        writeLine(problems, problem);
    return int(r.problems.size());
}

// What to give instead where the source holds the other program's tables, else empty.
QString otherFamilyHint(const shell::Catalog& catalog, const Invocation& call)
{
    const std::optional<shell::Family> family = catalog.familyOf(call.source);
    if (!family || *family == call.family)
        return {};
    return *family == shell::Family::V1
               ? QStringLiteral("源数据库的表是 V1 的，不是 V6/V7 的：请用 --from v1 再运行")
               : QStringLiteral("源数据库的表是 V6/V7 的，不是 V1 的：请用 --from v67（或去掉 --from v1）再运行");
}

} // namespace

int CheckCommand::run(const shell::Catalog& catalog, const Invocation& call) const
{
    const QList<const shell::Operation*> ops =
        call.operations.isEmpty() ? catalog.built(call.family, call.source) : call.operations;
    shell::CheckReport report = shell::checkOperations(ops, call.source, call.target);
    // A source of the other program: every table missing, said first with what to give instead.
    if (const QString hint = otherFamilyHint(catalog, call); !hint.isEmpty())
        report.problems.prepend(hint);
    for (const QString& line : report.lines())
        writeLine(call.out, line);
    return report.ok() ? 0 : 1;
}

int VerifyCommand::run(const shell::Catalog&, const Invocation& call) const
{
    db::Connection source(QStringLiteral("源"));
    db::Connection target(QStringLiteral("目标"));
    try {
        source.open(call.source);
        target.open(call.target);
    } catch (const belmire::Error& e) {
        writeLine(call.err, QStringLiteral("错误：") + e.message());
        return 1;
    }
    int problems = 0;
    for (const shell::Operation* op : call.operations)
        problems += writeReconciled(shell::reconciled(
                                        *op, [&] { return shell::verify(*op, source, target); }, QStringLiteral("：")),
                                    call.out, call.out);
    writeLine(call.out, problems == 0 ? QStringLiteral("核对完毕：没有发现问题")
                                      : QStringLiteral("核对完毕：发现 %1 个问题").arg(problems));
    return problems == 0 ? 0 : 1;
}

int ConvertCommand::run(const shell::Catalog& catalog, const Invocation& call) const
{
    const QList<const shell::Operation*>& ops = call.operations;
    std::FILE* const err = call.err;
    const QString& reportPath = call.reportPath;
    // The rows the conversions skip or the target refuses, for the person who mends the source.
    std::optional<shell::RejectReport> report;
    if (!reportPath.isEmpty()) {
        report.emplace(reportPath, shell::RejectReport::Create::Now);
        if (!report->error().isEmpty()) {
            writeLine(err, QStringLiteral("错误：") + report->failure());
            return 1;
        }
    }
    // Nothing runs unless every operation may write: the target is not the source and has the target's tables.
    try {
        shell::guardWrites(ops, call.source, call.target);
    } catch (const belmire::Error& e) {
        writeLine(err, QStringLiteral("错误：") + e.message());
        return 1;
    }
    CliFrontend frontend(call.out, err, call.quiet);
    shell::RunFrame frame(frontend, call.source, call.target);
    // For bench/run --keys-by-collation: duplicate checks as a SQL Server target gets them, on any engine.
    frame.setKeysCompareByCollation(qEnvironmentVariableIntValue("BELMIRE_KEYS_BY_COLLATION") == 1);
    if (report)
        frame.setRejectReport(&*report);
    const auto reportFailed = [&] {
        if (!report || report->error().isEmpty())
            return false;
        writeLine(err, QStringLiteral("错误：") + report->failure());
        return true;
    };
    // The report goes into place however the command ends.
    const int status = convertAll(catalog, call, frame, reportFailed);
    const bool told = report && !report->error().isEmpty();
    if (report && !report->finish() && !told) {
        writeLine(err, QStringLiteral("错误：") + report->failure());
        return status == 0 ? 1 : status;
    }
    return status;
}

int ConvertCommand::convertAll(const shell::Catalog& catalog, const Invocation& call, shell::RunFrame& frame,
                               const std::function<bool()>& reportFailed)
{
    const QList<const shell::Operation*>& ops = call.operations;
    std::FILE* const err = call.err;
    // Ctrl-C: the operation that honours it stops before its next row, one that does not runs to its end
    // unless a second Ctrl-C stops it too; no later operation runs and the exit status says so.
    const auto notRun = [&](qsizetype from) {
        QStringList titles;
        for (qsizetype j = from; j < ops.size(); ++j)
            titles << ops[j]->title;
        if (!titles.isEmpty())
            writeLine(err, QStringLiteral("已中断：没有运行 %1").arg(titles.join(QStringLiteral("、"))));
        return kInterrupted;
    };
    int problems = 0;
    for (qsizetype i = 0; i < ops.size(); ++i) {
        const shell::Operation* op = ops[i];
        if (g_abort.load())
            return notRun(i);
        shell::RunReconciliation reconciliation(*op, call.source, call.target);
        const shell::RunResult r = frame.run(*op);
        if (!call.quiet && r.ok)
            writeLine(err, shell::summaryLine(*op, r));
        if (r.ok && r.aborted)
            writeLine(err, shell::abortedLine(*op, r));
        if (r.interrupted)
            return reportFailed() ? 1 : notRun(i + 1);
        if (reportFailed())
            return 1;
        if (!r.ok) {
            // A source of the other program fails at its first table: the error is followed by what to give.
            if (op->needsSource)
                if (const QString hint = otherFamilyHint(catalog, call); !hint.isEmpty())
                    writeLine(err, hint);
            return 1;
        }
        if (r.aborted)
            return notRun(i + 1);
        // The reconciliation line of the summary; its problems show even when quiet.
        problems += writeReconciled(reconciliation.finish(frame), call.quiet ? nullptr : err, err);
    }
    if (g_abort.load())
        return kInterrupted;
    return problems == 0 ? 0 : 1;
}

} // namespace cli

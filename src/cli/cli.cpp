#include "cli/cli.h"

#include "db/datalink_file.h"
#include "shell/check.h"
#include "shell/guard.h"
#include "shell/linkfolder.h"
#include "shell/runframe.h"
#include "shell/summary.h"
#include "shell/verify.h"
#include "textutil/error.h"

#include <QDir>
#include <QFileInfo>

#include <optional>
#include <string>

#include <termios.h>
#include <unistd.h>

namespace cli {

std::atomic<bool> g_abort{false};

namespace {

constexpr int kInterrupted = 130; // the shell's status for a program ended by SIGINT

const char* kUsage =
    "usage: belmire-convert [--from v67|v1] [--source FILE.udl] [--target FILE.udl] [--quiet] [--report FILE.csv]\n"
    "                       OPERATION...\n"
    "       belmire-convert [--from v67|v1] [--source FILE.udl] [--target FILE.udl] check [OPERATION...]\n"
    "       belmire-convert [--from v67|v1] [--source FILE.udl] [--target FILE.udl] verify OPERATION...\n"
    "operations: warehouses goods-areas suppliers categories products stock members all\n"
    "            (v67 also products-v6 products-v7)\n"
    "            clear-warehouses clear-goods-areas clear-suppliers clear-categories\n"
    "            clear-products clear-stock clear-members\n";

void writeLine(std::FILE* f, const QString& text)
{
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), f);
    std::fputc('\n', f);
    std::fflush(f);
}

class CliFrontend : public shell::Frontend {
public:
    CliFrontend(std::FILE* out, std::FILE* err, bool quiet)
        : m_out(out), m_err(err), m_quiet(quiet), m_tty(isatty(fileno(err)) != 0)
    {
    }

    void clearLog() override {}
    void appendLog(const QString& line) override { writeLine(m_out, line); }
    void showProgress(const QString& line) override
    {
        if (m_quiet || !m_tty)
            return;
        const QByteArray bytes = ("\r\033[K" + line).toUtf8();
        std::fwrite(bytes.constData(), 1, size_t(bytes.size()), m_err);
        std::fflush(m_err);
        m_progressShown = true;
    }
    void processEvents() override {}
    bool abortTicked() override { return g_abort.load(); }
    void completed(const QString&, const QString& text) override
    {
        endProgress();
        writeLine(m_out, text);
    }
    void abortNotHonoured(const QString& title) override
    {
        endProgress();
        writeLine(m_err, QStringLiteral("%1：收到中断；这个转换不能中途停止，将运行到结束").arg(title));
    }
    void failed(const QString& message) override
    {
        endProgress();
        writeLine(m_err, QStringLiteral("错误：") + message);
    }
    void endProgress()
    {
        if (m_progressShown)
            std::fputc('\n', m_err);
        m_progressShown = false;
    }

private:
    std::FILE* m_out;
    std::FILE* m_err;
    bool m_quiet;
    bool m_tty;
    bool m_progressShown = false;
};

// A line from the terminal without echoing it.
QString readPassword(std::FILE* err, const QString& prompt)
{
    const QByteArray p = prompt.toUtf8();
    std::fwrite(p.constData(), 1, size_t(p.size()), err);
    std::fflush(err);
    termios old{};
    const bool tty = tcgetattr(STDIN_FILENO, &old) == 0;
    if (tty) {
        termios quiet = old;
        quiet.c_lflag &= ~tcflag_t(ECHO);
        tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
    }
    std::string line;
    for (int c = std::fgetc(stdin); c != EOF && c != '\n'; c = std::fgetc(stdin))
        line += char(c);
    if (tty)
        tcsetattr(STDIN_FILENO, TCSAFLUSH, &old);
    std::fputc('\n', err);
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    return QString::fromUtf8(line.data(), qsizetype(line.size()));
}

int usage(std::FILE* err, const QString& problem)
{
    if (!problem.isEmpty())
        writeLine(err, QStringLiteral("belmire-convert: ") + problem);
    std::fputs(kUsage, err);
    return 2;
}

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

int verifyCommand(const QList<const shell::Operation*>& ops, const QString& sourceUdl, const QString& targetUdl,
                  std::FILE* out, std::FILE* err)
{
    db::Connection source(QStringLiteral("源"));
    db::Connection target(QStringLiteral("目标"));
    try {
        source.open(sourceUdl);
        target.open(targetUdl);
    } catch (const belmire::Error& e) {
        writeLine(err, QStringLiteral("错误：") + e.message());
        return 1;
    }
    int problems = 0;
    for (const shell::Operation* op : ops)
        problems += writeReconciled(
            shell::reconciled(*op, [&] { return shell::verify(*op, source, target); }, QStringLiteral("：")), out, out);
    writeLine(out, problems == 0 ? QStringLiteral("核对完毕：没有发现问题")
                                 : QStringLiteral("核对完毕：发现 %1 个问题").arg(problems));
    return problems == 0 ? 0 : 1;
}

} // namespace

int run(const QStringList& arguments, const QString& programFolder, std::FILE* out, std::FILE* err)
{
    shell::Family family = shell::Family::V67;
    const shell::LinkFolder links = shell::linkFolder(programFolder);
    QString source = links.sourceUdl();
    QString target = links.targetUdl();
    bool quiet = false;
    QString reportPath;
    QStringList names;
    for (int i = 0; i < arguments.size(); ++i) {
        const QString& a = arguments[i];
        auto value = [&](QString& into) {
            if (i + 1 >= arguments.size())
                return false;
            into = arguments[++i];
            return true;
        };
        if (a == u"--from") {
            QString f;
            if (!value(f))
                return usage(err, QStringLiteral("--from needs v67 or v1"));
            if (f == u"v67")
                family = shell::Family::V67;
            else if (f == u"v1")
                family = shell::Family::V1;
            else
                return usage(err, QStringLiteral("unknown source family '%1'").arg(f));
        } else if (a == u"--source") {
            if (!value(source))
                return usage(err, QStringLiteral("--source needs a file"));
        } else if (a == u"--target") {
            if (!value(target))
                return usage(err, QStringLiteral("--target needs a file"));
        } else if (a == u"--report") {
            if (!value(reportPath))
                return usage(err, QStringLiteral("--report needs a file"));
        } else if (a == u"--quiet" || a == u"-q") {
            quiet = true;
        } else if (a == u"--help" || a == u"-h") {
            std::fputs(kUsage, out);
            writeLine(out, QStringLiteral("data-link files 数据库连接1.udl (source) and 数据库连接2.udl (target) are read\n"
                                          "from the program folder (%1) when they are there, otherwise from\n"
                                          "%2 ($XDG_CONFIG_HOME/belmire-convert); now: %3")
                               .arg(QDir(programFolder).absolutePath(), shell::configFolder(), links.readFrom));
            return 0;
        } else if (a.startsWith(u'-')) {
            return usage(err, QStringLiteral("unknown option '%1'").arg(a));
        } else {
            names << a;
        }
    }
    enum class Command { Convert, Check, Verify } command = Command::Convert;
    if (!names.isEmpty() && names.first() == u"check") {
        command = Command::Check;
        names.removeFirst();
    } else if (!names.isEmpty() && names.first() == u"verify") {
        command = Command::Verify;
        names.removeFirst();
    }
    if (names.isEmpty() && command != Command::Check)
        return usage(err, QStringLiteral("no operation given"));

    // A data-link file that keeps no password (Persist Security Info=False): asked on the terminal, once.
    // The source is opened even for clear operations, to be compared with the target.
    for (const QString& udl : QFileInfo::exists(source) ? QStringList{source, target} : QStringList{target})
        if (db::needsPassword(udl) && !db::sessionPassword(udl) && isatty(fileno(stdin)))
            db::setSessionPassword(udl, readPassword(err, QStringLiteral("%1 的密码：").arg(udl)));

    // Resolve every name before anything runs; products of v67 are the V6 or V7 conversion the source fits.
    QString products = QStringLiteral("products");
    if (family == shell::Family::V67 && (names.contains(u"products") || names.contains(u"all")))
        products = shell::productsFor(source);
    QList<const shell::Operation*> ops;
    for (const QString& name : names) {
        if (name == u"all") {
            const QStringList all = {QStringLiteral("warehouses"), QStringLiteral("goods-areas"),
                                     QStringLiteral("categories"), QStringLiteral("suppliers"), products,
                                     QStringLiteral("stock"), QStringLiteral("members")};
            for (const QString& id : all)
                if (const shell::Operation* op = shell::findOperation(family, id))
                    ops << op;
            continue;
        }
        const shell::Operation* op = shell::findOperation(family, name == u"products" ? products : name);
        if (!op)
            return usage(err, QStringLiteral("operation '%1' is not available for %2")
                                  .arg(name, family == shell::Family::V67 ? QStringLiteral("v67")
                                                                          : QStringLiteral("v1")));
        if (command == Command::Verify && op->reconciliation.isEmpty())
            return usage(err, QStringLiteral("operation '%1' has nothing to verify").arg(name));
        ops << op;
    }

    if (command == Command::Check) {
        if (ops.isEmpty())
            ops = shell::builtOperations(family, source);
        const shell::CheckReport report = shell::checkOperations(ops, source, target);
        for (const QString& line : report.lines())
            writeLine(out, line);
        return report.ok() ? 0 : 1;
    }
    if (command == Command::Verify)
        return verifyCommand(ops, source, target, out, err);

    // The rows the conversions skip or the target refuses, for the person who mends the source.
    std::optional<shell::RejectReport> report;
    if (!reportPath.isEmpty()) {
        report.emplace(reportPath, shell::RejectReport::Create::Now);
        if (!report->error().isEmpty()) {
            writeLine(err, QStringLiteral("错误：无法写入拒绝行报告 %1：%2").arg(reportPath, report->error()));
            return 1;
        }
    }
    // Nothing runs unless every operation may write: the target is not the source and has the target's tables.
    try {
        shell::guardWrites(ops, source, target);
    } catch (const belmire::Error& e) {
        writeLine(err, QStringLiteral("错误：") + e.message());
        return 1;
    }
    CliFrontend frontend(out, err, quiet);
    shell::RunFrame frame(frontend, source, target);
    if (report)
        frame.setRejectReport(&*report);
    const auto reportFailed = [&] {
        if (!report || report->error().isEmpty())
            return false;
        writeLine(err, QStringLiteral("错误：无法写入拒绝行报告 %1：%2").arg(reportPath, report->error()));
        return true;
    };
    // Ctrl-C: the operation that honours it stops before its next row, one that does not runs to its end;
    // no later operation runs and the exit status says so.
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
        shell::RunReconciliation reconciliation(*op, source, target);
        const shell::RunResult r = frame.run(*op);
        if (!quiet && r.ok)
            writeLine(err, shell::summaryLine(*op, r));
        if (r.ok && r.aborted)
            writeLine(err, shell::abortedLine(*op, r));
        if (reportFailed() || !r.ok)
            return 1;
        if (r.aborted)
            return notRun(i + 1);
        // The reconciliation line of the summary; its problems show even when quiet.
        problems += writeReconciled(reconciliation.finish(frame), quiet ? nullptr : err, err);
    }
    if (g_abort.load())
        return kInterrupted;
    return problems == 0 ? 0 : 1;
}

} // namespace cli

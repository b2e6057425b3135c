#include "cli/cli.h"

#include "db/datalink_file.h"
#include "db/lock_wait.h"
#include "shell/catalog.h"
#include "shell/check.h"
#include "shell/guard.h"
#include "shell/linkfolder.h"
#include "shell/rejects.h"
#include "shell/runframe.h"
#include "shell/summary.h"
#include "shell/verify.h"
#include "textutil/error.h"

#include <QCommandLineParser>
#include <QDir>
#include <QFileInfo>

#include <functional>
#include <memory>
#include <optional>
#include <string>

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <termios.h>
#include <unistd.h>
#endif

namespace cli {

std::atomic<bool> g_abort{false};
std::atomic<bool> g_stop{false};

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

bool isTerminal(std::FILE* f)
{
#ifdef _WIN32
    return _isatty(_fileno(f)) != 0;
#else
    return isatty(fileno(f)) != 0;
#endif
}

class CliFrontend : public shell::Frontend {
public:
    CliFrontend(std::FILE* out, std::FILE* err, bool quiet)
        : m_out(out), m_err(err), m_quiet(quiet), m_tty(isTerminal(err))
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
    bool stopNow() override { return g_stop.load(); }
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
    void interrupted(const QString& message) override
    {
        endProgress();
        writeLine(m_err, message);
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

// While it lives, what is typed on the terminal is not echoed.
class EchoOff {
public:
    EchoOff()
    {
#ifdef _WIN32
        m_input = GetStdHandle(STD_INPUT_HANDLE);
        m_set = GetConsoleMode(m_input, &m_old) && SetConsoleMode(m_input, m_old & ~DWORD(ENABLE_ECHO_INPUT));
#else
        m_set = tcgetattr(STDIN_FILENO, &m_old) == 0;
        if (m_set) {
            termios quiet = m_old;
            quiet.c_lflag &= ~tcflag_t(ECHO);
            tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
        }
#endif
    }
    ~EchoOff()
    {
        if (!m_set)
            return;
#ifdef _WIN32
        SetConsoleMode(m_input, m_old);
#else
        tcsetattr(STDIN_FILENO, TCSAFLUSH, &m_old);
#endif
    }
    EchoOff(const EchoOff&) = delete;
    EchoOff& operator=(const EchoOff&) = delete;

private:
    bool m_set = false;
#ifdef _WIN32
    HANDLE m_input = nullptr;
    DWORD m_old = 0;
#else
    termios m_old{};
#endif
};

// A line from the terminal without echoing it.
QString readPassword(std::FILE* err, const QString& prompt)
{
    const QByteArray p = prompt.toUtf8();
    std::fwrite(p.constData(), 1, size_t(p.size()), err);
    std::fflush(err);
    std::string line;
    {
        const EchoOff quiet;
        for (int c = std::fgetc(stdin); c != EOF && c != '\n'; c = std::fgetc(stdin))
            line += char(c);
    }
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

// What every command is given: the options and the operations named, resolved.
struct Invocation {
    shell::Family family = shell::Family::V67;
    QString source;
    QString target;
    bool quiet = false;
    QString reportPath;
    QList<const shell::Operation*> operations;
    std::FILE* out = nullptr;
    std::FILE* err = nullptr;
};

// One command of the command line: convert (no command word), check or verify.
class Command {
public:
    virtual ~Command() = default;
    // The word that selects the command, empty for convert.
    virtual QString word() const = 0;
    // Whether at least one operation must be named.
    virtual bool needsOperations() const { return true; }
    // Why an operation named on the command line cannot be given to this command, empty when it can.
    virtual QString refusal(const shell::Operation&, const QString&) const { return {}; }
    virtual int run(const shell::Catalog& catalog, const Invocation& call) const = 0;
};

// Runs the operations in the order given through one run frame, each reconciled after it.
class ConvertCommand : public Command {
public:
    QString word() const override { return {}; }
    int run(const shell::Catalog& catalog, const Invocation& call) const override;

private:
    static int convertAll(const shell::Catalog& catalog, const Invocation& call, shell::RunFrame& frame,
                          const std::function<bool()>& reportFailed);
};

// Probes the tables and columns the operations use, every built one when none is named; writes nothing.
class CheckCommand : public Command {
public:
    QString word() const override { return QStringLiteral("check"); }
    bool needsOperations() const override { return false; }
    int run(const shell::Catalog& catalog, const Invocation& call) const override;
};

// Reconciles the target with the source for the operations named.
class VerifyCommand : public Command {
public:
    QString word() const override { return QStringLiteral("verify"); }
    QString refusal(const shell::Operation& op, const QString& name) const override
    {
        return op.reconciliation.isEmpty() ? QStringLiteral("operation '%1' has nothing to verify").arg(name)
                                           : QString();
    }
    int run(const shell::Catalog& catalog, const Invocation& call) const override;
};

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
            writeLine(err, QStringLiteral("错误：无法写入拒绝行报告 %1：%2").arg(reportPath, report->error()));
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
        writeLine(err, QStringLiteral("错误：无法写入拒绝行报告 %1：%2").arg(reportPath, report->error()));
        return true;
    };
    // The report goes into place however the command ends.
    const int status = convertAll(catalog, call, frame, reportFailed);
    const bool told = report && !report->error().isEmpty();
    if (report && !report->finish() && !told) {
        writeLine(err, QStringLiteral("错误：无法写入拒绝行报告 %1：%2").arg(reportPath, report->error()));
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

// An unknown option as the command line gave it.
QString optionAsGiven(const QStringList& arguments, const QString& name)
{
    for (const QString& a : arguments) {
        if (a == u"--")
            break;
        const QString bare = a.startsWith(u"--") ? a.mid(2) : a.startsWith(u'-') ? a.mid(1) : QString();
        if (bare.section(u'=', 0, 0) == name)
            return a;
    }
    return QStringLiteral("--") + name;
}

} // namespace

int run(const shell::Catalog& catalog, const QStringList& arguments, const QString& programFolder, std::FILE* out,
        std::FILE* err)
{
    const shell::LinkFolder links = shell::linkFolder(programFolder);
    QCommandLineParser parser;
    const QCommandLineOption fromOption(QStringLiteral("from"), {}, QStringLiteral("v67|v1"));
    const QCommandLineOption sourceOption(QStringLiteral("source"), {}, QStringLiteral("FILE.udl"));
    const QCommandLineOption targetOption(QStringLiteral("target"), {}, QStringLiteral("FILE.udl"));
    const QCommandLineOption reportOption(QStringLiteral("report"), {}, QStringLiteral("FILE.csv"));
    const QCommandLineOption quietOption(QStringList{QStringLiteral("q"), QStringLiteral("quiet")});
    const QCommandLineOption helpOption(QStringList{QStringLiteral("h"), QStringLiteral("help")});
    parser.addOptions({fromOption, sourceOption, targetOption, reportOption, quietOption, helpOption});
    // "-qx" is one unknown option, as it always was, not -q and -x.
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    // The parser reads the arguments after the program's name.
    if (!parser.parse(QStringList{QStringLiteral("belmire-convert")} + arguments)) {
        if (!parser.unknownOptionNames().isEmpty())
            return usage(err, QStringLiteral("unknown option '%1'")
                                  .arg(optionAsGiven(arguments, parser.unknownOptionNames().first())));
        // A value option given last, without its value.
        const QString last = arguments.isEmpty() ? QString() : arguments.last();
        if (last == u"--from")
            return usage(err, QStringLiteral("--from needs v67 or v1"));
        if (last == u"--report")
            return usage(err, QStringLiteral("--report needs a file"));
        if (last == u"--source" || last == u"--target")
            return usage(err, QStringLiteral("%1 needs a file").arg(last));
        return usage(err, parser.errorText());
    }
    if (parser.isSet(helpOption)) {
        std::fputs(kUsage, out);
        writeLine(out, QStringLiteral("data-link files %1 (source) and %2 (target) are read\n"
                                      "from the program folder (%3) when they are there, otherwise from\n"
                                      "%4 ($XDG_CONFIG_HOME/belmire-convert); now: %5")
                           .arg(shell::kSourceLinkName, shell::kTargetLinkName, QDir(programFolder).absolutePath(),
                                shell::configFolder(), links.readFrom));
        return 0;
    }

    Invocation call;
    call.out = out;
    call.err = err;
    call.quiet = parser.isSet(quietOption);
    call.reportPath = parser.value(reportOption);
    call.source = parser.isSet(sourceOption) ? parser.value(sourceOption) : links.sourceUdl();
    call.target = parser.isSet(targetOption) ? parser.value(targetOption) : links.targetUdl();
    // The report never takes the place of a database, a data-link file or any file not a report of ours.
    if (!call.reportPath.isEmpty())
        if (const QString refused = shell::reportRefusal(call.reportPath, call.source, call.target);
            !refused.isEmpty()) {
            writeLine(err, QStringLiteral("错误：") + refused);
            return 2;
        }
    if (parser.isSet(fromOption)) {
        const QString f = parser.value(fromOption);
        if (f == u"v67")
            call.family = shell::Family::V67;
        else if (f == u"v1")
            call.family = shell::Family::V1;
        else
            return usage(err, QStringLiteral("unknown source family '%1'").arg(f));
    }

    // The first name may be a command's word; without one the operations are converted.
    static const ConvertCommand convert;
    static const CheckCommand check;
    static const VerifyCommand verify;
    static const Command* const worded[] = {&check, &verify};
    QStringList names = parser.positionalArguments();
    const Command* command = &convert;
    for (const Command* c : worded)
        if (!names.isEmpty() && names.first() == c->word()) {
            command = c;
            names.removeFirst();
            break;
        }
    if (names.isEmpty() && command->needsOperations())
        return usage(err, QStringLiteral("no operation given"));

    // A data-link file that keeps no password (Persist Security Info=False): asked on the terminal, once.
    // The source is opened even for clear operations, to be compared with the target.
    for (const QString& udl :
         QFileInfo::exists(call.source) ? QStringList{call.source, call.target} : QStringList{call.target})
        if (db::needsPassword(udl) && !db::sessionPassword(udl) && isTerminal(stdin))
            db::setSessionPassword(udl, readPassword(err, QStringLiteral("%1 的密码：").arg(udl)));

    // Resolve every name before anything runs; products of v67 are the V6 or V7 conversion the source fits.
    QString products = QStringLiteral("products");
    if (call.family == shell::Family::V67 && (names.contains(u"products") || names.contains(u"all")))
        products = catalog.products(call.family, call.source);
    for (const QString& name : std::as_const(names)) {
        if (name == u"all") {
            call.operations << catalog.all(call.family, products);
            continue;
        }
        const shell::Operation* op = catalog.find(call.family, name == u"products" ? products : name);
        if (!op)
            return usage(
                err, QStringLiteral("operation '%1' is not available for %2")
                         .arg(name, call.family == shell::Family::V67 ? QStringLiteral("v67") : QStringLiteral("v1")));
        if (const QString refused = command->refusal(*op, name); !refused.isEmpty())
            return usage(err, refused);
        call.operations << op;
    }
    // Each table another session holds is waited for once in the whole command.
    const db::LockWaitMemory oneWaitPerTable;
    return command->run(catalog, call);
}

} // namespace cli

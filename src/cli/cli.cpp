#include "cli/cli.h"

#include "cli/commands.h"
#include "cli/terminal.h"
#include "db/datalink_file.h"
#include "db/lock_wait.h"
#include "shell/linkfolder.h"
#include "shell/rejects.h"

#include <QCommandLineParser>
#include <QDir>
#include <QFileInfo>

namespace cli {

std::atomic<bool> g_abort{false};
std::atomic<bool> g_stop{false};

namespace {

const char* kUsage =
    "usage: belmire-convert [--from v67|v1] [--source FILE.udl] [--target FILE.udl] [--quiet] [--report FILE.csv]\n"
    "                       OPERATION...\n"
    "       belmire-convert [--from v67|v1] [--source FILE.udl] [--target FILE.udl] check [OPERATION...]\n"
    "       belmire-convert [--from v67|v1] [--source FILE.udl] [--target FILE.udl] verify OPERATION...\n"
    "operations: warehouses goods-areas suppliers categories products stock members all\n"
    "            (v67 also products-v6 products-v7)\n"
    "            clear-warehouses clear-goods-areas clear-suppliers clear-categories\n"
    "            clear-products clear-stock clear-members\n";

int usage(std::FILE* err, const QString& problem)
{
    if (!problem.isEmpty())
        writeLine(err, QStringLiteral("belmire-convert: ") + problem);
    std::fputs(kUsage, err);
    return 2;
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

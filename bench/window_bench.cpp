// The same conversion run from the window (TmainForm, button click) and through
// the command line (cli::run, as belmire-convert does), in one process, each on
// a fresh copy of the same empty target, alternating which goes first. Prints
// the median wall-clock and CPU times and their ratios. Run under QT_QPA_PLATFORM=offscreen:
//
//   window_bench v67 SOURCE.db EMPTY_TARGET.db members [runs] [window|command]
//
// With "window" or "command" only that front end runs (for measuring its
// memory, e.g. under /usr/bin/time -f %M).
#include "cli/cli.h"
#include "gui/mainform.h"
#include "programs/programs.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QPushButton>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <vector>

namespace {

// The button of each conversion (see the button table of the window).
const char* buttonOf(const QString& operation, shell::Family family)
{
    if (operation == u"warehouses")
        return "CkdaBitBtn";
    if (operation == u"goods-areas")
        return "BitBtn5";
    if (operation == u"suppliers")
        return "gysBitBtn4";
    if (operation == u"categories")
        return "splbBitBtn5";
    if (operation == u"products-v6")
        return "spdaBitBtnV6";
    if (operation == u"products-v7")
        return "spdaBitBtnV7";
    if (operation == u"products")
        return family == shell::Family::V1 ? "spdaBitBtnV1" : nullptr;
    if (operation == u"stock")
        return "BitBtn8";
    if (operation == u"members")
        return "hydaBitBtn7";
    return nullptr;
}

void writeUdl(const QString& path, const QString& database)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly))
        qFatal("cannot write %s", qPrintable(path));
    f.write(QStringLiteral("[oledb]\r\n; Everything after this line is an OLE DB initstring\r\n"
                           "Provider=SQLite;Data Source=%1\r\n")
                .arg(database)
                .toUtf8());
}

// CPU seconds of the whole process (every thread): steadier than the clock on a busy machine.
double cpuSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 5) {
        std::fprintf(stderr,
                     "usage: window_bench v67|v1 SOURCE.db EMPTY_TARGET.db OPERATION [runs] [window|command]\n");
        return 2;
    }
    const QString familyName = args[1];
    const shell::Family family = familyName == u"v1" ? shell::Family::V1 : shell::Family::V67;
    const QString source = QFileInfo(args[2]).absoluteFilePath();
    const QString emptyTarget = QFileInfo(args[3]).absoluteFilePath();
    const QString operation = args[4];
    const int runs = args.size() > 5 ? args[5].toInt() : 5;
    const QString only = args.value(6);
    const char* button = buttonOf(operation, family);
    if (!button) {
        std::fprintf(stderr, "no button for %s\n", qPrintable(operation));
        return 2;
    }

    QTemporaryDir dir;
    const QString folder = dir.path();
    const QString target = QDir(folder).filePath(QStringLiteral("target.db"));
    const QString sourceUdl = QDir(folder).filePath(QStringLiteral("数据库连接1.udl"));
    const QString targetUdl = QDir(folder).filePath(QStringLiteral("数据库连接2.udl"));
    writeUdl(sourceUdl, source);
    writeUdl(targetUdl, target);
    const auto freshTarget = [&] {
        QFile::remove(target);
        if (!QFile::copy(emptyTarget, target))
            qFatal("cannot copy %s", qPrintable(emptyTarget));
    };

    std::vector<double> window, command, windowCpu, commandCpu;
    const auto byWindow = [&] {
        freshTarget();
        TmainForm form(programs::catalog(), family, folder);
        bool failed = false;
        form.setMessageSink([&](const QString& kind, const QString&, const QString& text) {
            if (kind == u"critical") {
                failed = true;
                std::fprintf(stderr, "window: %s\n", qPrintable(text));
            }
        });
        form.show();
        app.processEvents();
        QPushButton* b = form.findChild<QPushButton*>(QString::fromLatin1(button));
        QElapsedTimer t;
        t.start();
        const double cpu = cpuSeconds();
        b->click();
        window.push_back(t.nsecsElapsed() / 1e9);
        windowCpu.push_back(cpuSeconds() - cpu);
        return !failed;
    };
    const auto byCommand = [&] {
        freshTarget();
        QElapsedTimer t;
        t.start();
        const double cpu = cpuSeconds();
        const int rc =
            cli::run(programs::catalog(),
                     {QStringLiteral("--quiet"), QStringLiteral("--from"), familyName, QStringLiteral("--source"),
                      sourceUdl, QStringLiteral("--target"), targetUdl, operation},
                     folder, stdout, stderr);
        command.push_back(t.nsecsElapsed() / 1e9);
        commandCpu.push_back(cpuSeconds() - cpu);
        return rc == 0;
    };
    // Which goes first alternates, so that neither always finds the caches as the other left them.
    for (int run = 0; run < runs; ++run) {
        const bool ok = only == u"window"    ? byWindow()
                        : only == u"command" ? byCommand()
                        : run % 2 == 0       ? byWindow() && byCommand()
                                             : byCommand() && byWindow();
        if (!ok)
            return 1;
    }
    if (!only.isEmpty()) {
        const std::vector<double>& t = only == u"window" ? window : command;
        std::printf("%s %s: %s %.3f s (median of %d)\n", qPrintable(familyName), qPrintable(operation),
                    qPrintable(only), median(t), runs);
        return 0;
    }
    const double w = median(window), c = median(command);
    const double wc = median(windowCpu), cc = median(commandCpu);
    std::printf("%s %s: window %.3f s, command line %.3f s, window/command %.3f; CPU %.3f s / %.3f s = %.3f "
                "(median of %d)\n",
                qPrintable(familyName), qPrintable(operation), w, c, w / c, wc, cc, wc / cc, runs);
    return 0;
}

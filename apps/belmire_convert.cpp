#include "cli/cli.h"
#include "programs/programs.h"

#include <QCoreApplication>

#include <csignal>
#include <cstdio>

namespace {

// The first Ctrl-C ticks the abort box, the second stops even a walk that does
// not honour it, a third ends the program.
void onInterrupt(int)
{
    if (!cli::g_abort.exchange(true)) {
        std::signal(SIGINT, onInterrupt);
        return;
    }
    cli::g_stop.store(true);
    std::signal(SIGINT, SIG_DFL);
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    std::signal(SIGINT, onInterrupt);
    QStringList args = app.arguments();
    args.removeFirst();
    return cli::run(programs::catalog(), args, QCoreApplication::applicationDirPath(), stdout, stderr);
}

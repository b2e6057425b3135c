#include "cli/cli.h"
#include "db/connection.h"
#include "programs/programs.h"

#include <QCoreApplication>

#include <csignal>
#include <cstdio>

namespace {

void onInterrupt(int)
{
    cli::g_abort.store(true);
    std::signal(SIGINT, SIG_DFL); // a second Ctrl-C ends the program
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    std::signal(SIGINT, onInterrupt);
    // For bench/run --keys-by-collation: duplicate checks as a SQL Server target gets them, on any engine.
    if (qEnvironmentVariableIntValue("BELMIRE_KEYS_BY_COLLATION") == 1)
        db::Connection::setKeysCompareByCollation(true);
    QStringList args = app.arguments();
    args.removeFirst();
    return cli::run(programs::catalog(), args, QCoreApplication::applicationDirPath(), stdout, stderr);
}

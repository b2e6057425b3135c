#pragma once

#include "shell/catalog.h"

#include <QString>
#include <QStringList>

#include <atomic>
#include <cstdio>

namespace cli {

// Set by the first Ctrl-C: ticks the abort box for the rest of the command.
extern std::atomic<bool> g_abort;
// Set by the second: a walk that does not honour the abort box stops as well,
// and its run ends as interrupted, saying what it left in the target.
extern std::atomic<bool> g_stop;

// belmire-convert [--from v67|v1] [--source FILE.udl] [--target FILE.udl] [--quiet] [--report FILE.csv] OPERATION...
// stdout gets the log-pane lines and the completion texts, stderr progress,
// summaries with their reconciliation, and errors; --report lists the rows
// skipped or refused in a CSV file. Returns 0 when all completed
// and reconciled, 1 on an error or a reconciliation problem, 2 on misuse (a
// --report naming a database, a data-link file or a file not a report), 130
// when Ctrl-C stopped the command.
// "check [OPERATION...]" probes the tables and columns the operations use (all
// built operations when none is named) and "verify OPERATION..." reconciles
// the target with the source; both write their lines to stdout and return 0
// when there is no problem, 1 otherwise.
// The operations come from catalog.
int run(const shell::Catalog& catalog, const QStringList& arguments, const QString& programFolder, std::FILE* out,
        std::FILE* err);

} // namespace cli

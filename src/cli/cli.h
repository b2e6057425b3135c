#pragma once

#include <QString>
#include <QStringList>

#include <atomic>
#include <cstdio>

namespace cli {

// Set by the first Ctrl-C: ticks the abort box for the rest of the command.
extern std::atomic<bool> g_abort;

// belmire-convert [--from v67|v1] [--source FILE.udl] [--target FILE.udl] [--quiet] OPERATION...
// stdout gets the log-pane lines and the completion texts, stderr progress,
// summaries and errors. Returns 0 when all completed, 1 on an error, 2 on misuse.
int run(const QStringList& arguments, const QString& programFolder, std::FILE* out, std::FILE* err);

} // namespace cli

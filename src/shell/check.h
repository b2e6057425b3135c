#pragma once

#include "shell/operation.h"

#include <QList>
#include <QStringList>

namespace shell {

// The outcome of a pre-flight check: one line per problem, then a last line
// that sums it up.
struct CheckReport {
    QStringList problems;
    int tables = 0;  // tables probed
    int columns = 0; // fields and columns probed
    bool ok() const { return problems.isEmpty(); }
    QStringList lines() const;
};

// Opens the source connection (when an operation reads it) and the target
// connection from their data-link files and probes, without reading or
// writing a row, every table and column the operations use. Every problem is
// reported; nothing stops at the first. The connections are closed afterwards.
CheckReport checkOperations(const QList<const Operation*>& operations, const QString& sourceUdl,
                            const QString& targetUdl);

// Every built operation of a program.
QList<const Operation*> builtOperations(Family family);

} // namespace shell

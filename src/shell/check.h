#pragma once

#include "shell/operation.h"

#include <QList>
#include <QString>
#include <QStringList>

namespace db {
class Connection;
}

namespace belmire {
class Error;
}

namespace shell {

// The outcome of a pre-flight check: one line per problem, then a last line
// that sums it up.
struct CheckReport {
    QStringList notes; // information, before the problems
    QStringList problems;
    int tables = 0;  // tables probed
    int columns = 0; // fields and columns probed
    bool ok() const { return problems.isEmpty(); }
    QStringList lines() const;
};

// Opens the source connection (when an operation reads it) and the target
// connection from their data-link files and probes, writing nothing, every
// table and column the operations use; with both open it also notes the rows
// the target already holds and reports codes a key cut would merge and a
// stock conversion run before the warehouses or products. Every problem is
// reported; nothing stops at the first. The connections are closed afterwards.
CheckReport checkOperations(const QList<const Operation*>& operations, const QString& sourceUdl,
                            const QString& targetUdl);

// A statement that names the table and columns but reads no row. Throws with
// the database's own text when the database rejects it.
void probe(db::Connection& connection, const QString& table, const QStringList& columns);

// Probes one table and its columns on an open connection; each problem found is
// added to the report. probed: how a probe of the table with all the columns
// just failed, so that it is not made again.
void checkTable(db::Connection& connection, Side side, const QString& table, const QStringList& columns,
                CheckReport& report, const belmire::Error* probed = nullptr);

} // namespace shell

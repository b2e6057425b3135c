#pragma once

#include "shell/operation.h"

#include <QList>
#include <QString>

namespace db {
class Connection;
}

namespace shell {

// Before anything is written: the target must not be the source (the same
// SQLite file, or the same database of the same server) and every target
// table the operations use must have the target's columns (for a clear
// operation, the columns the conversions write). Throws belmire::Error naming
// both data-link files otherwise. The target is open; a closed source is
// opened from sourceUdl for the comparison when that file exists (an
// operation that only writes the target does not need it) and closed again.
void guardWrites(const QList<const Operation*>& operations, db::Connection& source, db::Connection& target,
                 const QString& sourceUdl, const QString& targetUdl);

// The same on connections of its own, for every operation of a command line
// before the first one runs: a source needed by any of them must open.
void guardWrites(const QList<const Operation*>& operations, const QString& sourceUdl, const QString& targetUdl);

// What tells one database from another: the file of a SQLite database, the
// server and database otherwise. Two connections to one database give the same text.
QString databaseIdentity(db::Connection& connection);

} // namespace shell

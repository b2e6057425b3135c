#pragma once

#include "shell/check.h"

namespace shell {

// What a SQL Server target needs beyond its tables and columns: every text
// column the operations write stores GBK (code page 936), else a problem names
// it; and the triggers on the tables they write are listed, since those tables
// get one row per INSERT. Nothing for other databases.
void checkServerTarget(const QList<const Operation*>& operations, db::Connection& target, CheckReport& report);

} // namespace shell

#pragma once

#include "shell/operation.h"

namespace shell {

// The seven clear operations: each empties the target tables of one kind, all
// of them or none, and touches only the target connection.
QList<Operation> clearOperations(Family family);

// The clear operation that empties table (its title and id are those of both
// programs), null when none does.
const Operation* clearing(const QString& table);

} // namespace shell

#pragma once

#include "shell/catalog.h"

// The target's tables by what the window empties and what marks the database.
namespace quorvan {

// The seven clear operations of a program, each emptying the tables of one kind.
QList<shell::Operation> clearOperations(shell::Family family);

// The tables only a Quorvan V9 database has together.
shell::DatabaseKind targetKind();

} // namespace quorvan

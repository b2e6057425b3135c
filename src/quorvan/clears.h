#pragma once

#include "shell/catalog.h"

// The target's tables by what the window empties, what marks the database and
// what the store stock needs first.
namespace quorvan {

// The seven clear operations of a program, each emptying the tables of one kind.
QList<shell::Operation> clearOperations(shell::Family family);

// The tables only a Quorvan V9 database has together.
shell::DatabaseKind targetKind();

// What the store stock a stock conversion builds needs first: warehouses in
// ckda and products in spda, filled by the operations named.
QList<shell::Prerequisite> storeStockNeeds(const QStringList& warehouses, const QStringList& products);

} // namespace quorvan

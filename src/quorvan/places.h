#pragma once

#include "quorvan/column.h"
#include "quorvan/rules.h"
#include "shell/operation.h"

#include <QString>

#include <initializer_list>

// Warehouses and goods areas.
namespace quorvan {

inline constexpr Column kCkda[] = {
    text("objid", 15).keepWidth().inKey(),
    text("ckmc", 20).keepWidth(),
    text("xgrq", 20).keepWidth(),
    text("jyf", 1).byDefault("0"),
    text("zt", 1).byDefault("0"),
    text("ownermdbh", 15).byDefault("001"), // the one store of every warehouse
    text("ownermdmc", 20).byDefault("超市门店"),
};
inline constexpr Table kCkdaTable = describe("ckda", kCkda);

inline constexpr Column kHqda[] = {
    text("objid", 15).keepWidth().inKey(),
    text("hqmc", 20).keepWidth(),
    text("xgrq", 20).keepWidth(),
};
inline constexpr Table kHqdaTable = describe("hqda", kHqda);

// The warehouse conversion into ckda and the goods-area conversion into hqda,
// of a source table by the family's rules.
shell::Operation warehouses(const QString& sourceTable, std::initializer_list<Rule> rules);
shell::Operation goodsAreas(const QString& sourceTable, std::initializer_list<Rule> rules);

} // namespace quorvan

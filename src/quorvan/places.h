#pragma once

#include "db/query.h"
#include "quorvan/column.h"

#include <QStringList>

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

// The warehouse row of ckda and the goods-area row of hqda; both families write them.
inline const QStringList kInsertCkda = insertLines(kCkdaTable);

void writeWarehouse(db::Query& insert, const QByteArray& code, const QByteArray& name, const QByteArray& stamp);

inline const QStringList kInsertHqda = insertLines(kHqdaTable);

void writeGoodsArea(db::Query& insert, const QByteArray& code, const QByteArray& name, const QByteArray& stamp);

} // namespace quorvan

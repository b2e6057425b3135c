#pragma once

#include "db/query.h"
#include "target/column.h"

#include <QStringList>

// Warehouses and goods areas.
namespace target {

inline constexpr Column kCkda[] = {
    {"objid", 15}, {"ckmc", 20}, {"xgrq", 20}, {"jyf"}, {"zt"}, {"ownermdbh"}, {"ownermdmc"},
};

inline constexpr Column kHqda[] = {
    {"objid", 15},
    {"hqmc", 20},
    {"xgrq", 20},
};

// The warehouse row of ckda and the goods-area row of hqda; both families write them.
inline const QStringList kInsertCkda = {
    QStringLiteral("insert into ckda (objid,ckmc,xgrq,jyf,zt,ownermdbh,ownermdmc"),
    QStringLiteral(") values ("),
    QStringLiteral(":objid,:ckmc,:xgrq,:jyf,:zt,:ownermdbh,:ownermdmc)"),
};

void writeWarehouse(db::Query& insert, const QByteArray& code, const QByteArray& name, const QByteArray& stamp);

inline const QStringList kInsertHqda = {
    QStringLiteral("insert into hqda (objid,hqmc,xgrq"),
    QStringLiteral(") values ("),
    QStringLiteral(":objid,:hqmc,:xgrq)"),
};

void writeGoodsArea(db::Query& insert, const QByteArray& code, const QByteArray& name, const QByteArray& stamp);

} // namespace target

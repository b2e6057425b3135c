#pragma once

#include "db/query.h"

#include <QStringList>

// The warehouse row of ckda, shared with the V1 warehouse conversion.
namespace convert_v67 {

inline const QStringList kInsertCkda = {
    QStringLiteral("insert into ckda (objid,ckmc,xgrq,jyf,zt,ownermdbh,ownermdmc"),
    QStringLiteral(") values ("),
    QStringLiteral(":objid,:ckmc,:xgrq,:jyf,:zt,:ownermdbh,:ownermdmc)"),
};

void writeWarehouse(db::Query& insert, const QByteArray& code, const QByteArray& name, const QByteArray& stamp);

} // namespace convert_v67

#pragma once

#include "db/query.h"

#include <QStringList>

// The goods-area row of hqda, shared with the V1 goods-area conversion.
namespace convert_v67 {

inline const QStringList kInsertHqda = {
    QStringLiteral("insert into hqda (objid,hqmc,xgrq"),
    QStringLiteral(") values ("),
    QStringLiteral(":objid,:hqmc,:xgrq)"),
};

void writeGoodsArea(db::Query& insert, const QByteArray& code, const QByteArray& name, const QByteArray& stamp);

} // namespace convert_v67

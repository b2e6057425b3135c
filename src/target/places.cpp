#include "target/places.h"

#include "textutil/gbk.h"

namespace target {

void writeWarehouse(db::Query& insert, const QByteArray& code, const QByteArray& name, const QByteArray& stamp)
{
    insert.bindText(QStringLiteral("objid"), code, cutOf(kCkda, "objid"));
    insert.bindText(QStringLiteral("ckmc"), name, cutOf(kCkda, "ckmc"));
    insert.bindText(QStringLiteral("xgrq"), stamp, cutOf(kCkda, "xgrq"));
    insert.bindText(QStringLiteral("jyf"), "0");
    insert.bindText(QStringLiteral("zt"), "0");
    insert.bindText(QStringLiteral("ownermdbh"), "001");
    insert.bindText(QStringLiteral("ownermdmc"), gbk::fromUnicode(QStringLiteral("超市门店")));
    insert.exec();
}

void writeGoodsArea(db::Query& insert, const QByteArray& code, const QByteArray& name, const QByteArray& stamp)
{
    insert.bindText(QStringLiteral("objid"), code, cutOf(kHqda, "objid"));
    insert.bindText(QStringLiteral("hqmc"), name, cutOf(kHqda, "hqmc"));
    insert.bindText(QStringLiteral("xgrq"), stamp, cutOf(kHqda, "xgrq"));
    insert.exec();
}

} // namespace target

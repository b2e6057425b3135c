#include "quorvan/places.h"

#include "quorvan/row.h"

namespace quorvan {

void writeWarehouse(db::Query& insert, const QByteArray& code, const QByteArray& name, const QByteArray& stamp)
{
    Row<kCkdaTable> row;
    row.text<"objid">(code);
    row.text<"ckmc">(name);
    row.text<"xgrq">(stamp);
    row.insert(insert);
}

void writeGoodsArea(db::Query& insert, const QByteArray& code, const QByteArray& name, const QByteArray& stamp)
{
    Row<kHqdaTable> row;
    row.text<"objid">(code);
    row.text<"hqmc">(name);
    row.text<"xgrq">(stamp);
    row.insert(insert);
}

} // namespace quorvan

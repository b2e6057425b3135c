#include "quorvan/suppliers.h"

#include "quorvan/row.h"
#include "textutil/gbk.h"

#include <array>

namespace quorvan {

SaleMode saleMode(const QByteArray& name)
{
    static const std::array<SaleMode, 4> modes = {
        SaleMode{"0", gbk::fromUnicode(QStringLiteral("经销"))},
        SaleMode{"1", gbk::fromUnicode(QStringLiteral("代销"))},
        SaleMode{"2", gbk::fromUnicode(QStringLiteral("联营"))},
        SaleMode{"3", gbk::fromUnicode(QStringLiteral("租赁"))},
    };
    for (const SaleMode& mode : modes)
        if (mode.name == name)
            return mode;
    return modes[0];
}

void writeSupplier(db::Query& insert, const Supplier& s, const QByteArray& stamp, const QByteArray& today)
{
    const SaleMode mode = saleMode(s.saleModeName);
    Row<kGysdaTable> row;
    row.text<"objid">(s.code);
    row.text<"gysmc">(s.name);
    row.text<"gyslbbh">(s.categoryCode);
    row.text<"gyslbmc">(s.categoryName);
    row.text<"xsfsbh">(mode.code);
    row.text<"xsfs">(mode.name);
    row.text<"xgrq">(stamp);
    row.text<"chuanzhen">(s.fax);
    row.text<"dianhua">(s.phone);
    row.text<"dizhi">(s.address);
    row.text<"faren">(s.manager);
    row.text<"khh">(s.bank);
    row.text<"shuihao">(s.taxNumber);
    row.text<"zhanghao">(s.account);
    row.text<"lxr">(s.contact);
    row.text<"youbian">(s.postcode);
    row.text<"bz">(s.remark);
    row.text<"sxksrq">(today);
    if (s.goodsScope) {
        row.text<"ghfw">(*s.goodsScope);
        row.insert(insert);
    } else {
        row.insert(insert, kGysdaWithoutScope);
    }
}

void writeSupplierCategory(db::Query& insert, const QByteArray& code, const QByteArray& name, const QByteArray& parent,
                           const QByteArray& stamp)
{
    Row<kGyslbdaTable> row;
    row.text<"objid">(code);
    row.text<"gyslbmc">(name);
    row.text<"fbbh">(parent);
    row.text<"xgrq">(stamp);
    row.insert(insert);
}

} // namespace quorvan

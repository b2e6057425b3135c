#include "convert_v67/supplier_rows.h"

#include "textutil/gbk.h"

#include <array>

namespace convert_v67 {

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
    insert.bindText(QStringLiteral("objid"), s.code, 15);
    insert.bindText(QStringLiteral("Gysmc"), s.name, 20);
    insert.bindText(QStringLiteral("gyslbbh"), s.categoryCode, 15);
    insert.bindText(QStringLiteral("gyslbmc"), s.categoryName, 20);
    insert.bindText(QStringLiteral("xsfsbh"), mode.code);
    insert.bindText(QStringLiteral("xsfs"), mode.name);
    insert.bindText(QStringLiteral("jyf"), "0");
    insert.bindText(QStringLiteral("xgrq"), stamp, 20);
    insert.bindText(QStringLiteral("zt"), "0");
    insert.bindText(QStringLiteral("chuanzhen"), s.fax, 20);
    insert.bindText(QStringLiteral("dianhua"), s.phone, 20);
    insert.bindText(QStringLiteral("dizhi"), s.address, 50);
    insert.bindText(QStringLiteral("faren"), s.manager, 10);
    insert.bindText(QStringLiteral("khh"), s.bank, 20);
    insert.bindText(QStringLiteral("shuihao"), s.taxNumber, 20);
    insert.bindText(QStringLiteral("zhanghao"), s.account, 20);
    insert.bindText(QStringLiteral("lxr"), s.contact, 10);
    insert.bindText(QStringLiteral("youbian"), s.postcode, 10);
    insert.bindText(QStringLiteral("bz"), s.remark, 20);
    insert.bindText(QStringLiteral("sxksrq"), today);
    insert.bindText(QStringLiteral("sxjsrq"), "2008-12-31");
    if (s.goodsScope)
        insert.bindText(QStringLiteral("ghfw"), *s.goodsScope, 50);
    insert.exec();
}

void writeSupplierCategory(db::Query& insert, const QByteArray& code, const QByteArray& name, const QByteArray& parent,
                           const QByteArray& stamp)
{
    insert.bindText(QStringLiteral("objid"), code);
    insert.bindText(QStringLiteral("gyslbmc"), name);
    insert.bindText(QStringLiteral("fbbh"), parent);
    insert.bindText(QStringLiteral("xgrq"), stamp);
    insert.exec();
}

} // namespace convert_v67

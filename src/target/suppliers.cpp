#include "target/suppliers.h"

#include "textutil/gbk.h"

#include <array>

namespace target {

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
    insert.bindText(QStringLiteral("objid"), s.code, target::cutOf(target::kGysda, "objid"));
    insert.bindText(QStringLiteral("Gysmc"), s.name, target::cutOf(target::kGysda, "gysmc"));
    insert.bindText(QStringLiteral("gyslbbh"), s.categoryCode, target::cutOf(target::kGysda, "gyslbbh"));
    insert.bindText(QStringLiteral("gyslbmc"), s.categoryName, target::cutOf(target::kGysda, "gyslbmc"));
    insert.bindText(QStringLiteral("xsfsbh"), mode.code);
    insert.bindText(QStringLiteral("xsfs"), mode.name);
    insert.bindText(QStringLiteral("jyf"), "0");
    insert.bindText(QStringLiteral("xgrq"), stamp, target::cutOf(target::kGysda, "xgrq"));
    insert.bindText(QStringLiteral("zt"), "0");
    insert.bindText(QStringLiteral("chuanzhen"), s.fax, target::cutOf(target::kGysda, "chuanzhen"));
    insert.bindText(QStringLiteral("dianhua"), s.phone, target::cutOf(target::kGysda, "dianhua"));
    insert.bindText(QStringLiteral("dizhi"), s.address, target::cutOf(target::kGysda, "dizhi"));
    insert.bindText(QStringLiteral("faren"), s.manager, target::cutOf(target::kGysda, "faren"));
    insert.bindText(QStringLiteral("khh"), s.bank, target::cutOf(target::kGysda, "khh"));
    insert.bindText(QStringLiteral("shuihao"), s.taxNumber, target::cutOf(target::kGysda, "shuihao"));
    insert.bindText(QStringLiteral("zhanghao"), s.account, target::cutOf(target::kGysda, "zhanghao"));
    insert.bindText(QStringLiteral("lxr"), s.contact, target::cutOf(target::kGysda, "lxr"));
    insert.bindText(QStringLiteral("youbian"), s.postcode, target::cutOf(target::kGysda, "youbian"));
    insert.bindText(QStringLiteral("bz"), s.remark, target::cutOf(target::kGysda, "bz"));
    insert.bindText(QStringLiteral("sxksrq"), today);
    insert.bindText(QStringLiteral("sxjsrq"), "2008-12-31");
    if (s.goodsScope)
        insert.bindText(QStringLiteral("ghfw"), *s.goodsScope, target::cutOf(target::kGysda, "ghfw"));
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

} // namespace target

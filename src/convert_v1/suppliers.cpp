#include "quorvan/suppliers.h"
#include "convert_v1/conversions.h"

namespace convert_v1 {

using namespace quorvan::rule;

// Supplier into gysda with the goods scope, then SupplierType into gyslbda
// with the parent code the row names ("-1" at the top level).
shell::Operation suppliers()
{
    constexpr quorvan::Lookup saleMode = firstOf("goods", "SupplierId", "Salemode"); // of its first product
    quorvan::Rules suppliers(
        quorvan::kGysdaTable, QStringLiteral("Supplier"),
        {
            code("objid", "SupplierId"),
            field("gysmc", "Supplier"),
            lookupByCode("xsfsbh", saleMode).passedThrough(quorvan::saleModeCode),
            lookupByCode("xsfs", saleMode).passedThrough(quorvan::saleModeName),
            field("gyslbbh", "SupplierTypeid"),
            lookup("gyslbmc", from("SupplierType", "SupplierTypeId", "SupplierType"), "SupplierTypeid"),
            field("chuanzhen", "Fax"),
            field("dianhua", "Phone"),
            field("dizhi", "Address"),
            field("faren", "manager"),
            field("khh", "Bank"),
            field("shuihao", "TaxCode"),
            field("zhanghao", "Accounts"),
            field("lxr", "Linkman"),
            field("youbian", "Zip"),
            field("ghfw", "GoodsScope"),
            field("bz", "memo1"),
            stamp("xgrq"),
            today("sxksrq"),
        });
    quorvan::Rules categories(quorvan::kGyslbdaTable, QStringLiteral("SupplierType"),
                              {
                                  code("objid", "SupplierTypeId"),
                                  field("gyslbmc", "SupplierType"),
                                  parent("fbbh", "parent"),
                                  stamp("xgrq"),
                              });
    return quorvan::suppliers(std::move(suppliers), std::move(categories), std::nullopt);
}

} // namespace convert_v1

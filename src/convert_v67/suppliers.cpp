#include "quorvan/suppliers.h"
#include "convert_v67/conversions.h"
#include "quorvan/categories.h"

namespace convert_v67 {

using namespace quorvan::rule;

// gys into gysda, then gyslb into gyslbda, each category's parent code the
// prefix of its own code that the "gysjc" level setting gives its level.
shell::Operation suppliers()
{
    constexpr quorvan::Lookup saleMode = firstOf("spxx", "gysbh", "fs"); // of the supplier's first product
    quorvan::Rules suppliers(quorvan::kGysdaTable, QStringLiteral("gys"),
                             {
                                 code("objid", "gysbh"),
                                 field("gysmc", "gysmc"),
                                 lookupByCode("xsfsbh", saleMode).passedThrough(quorvan::saleModeCode),
                                 lookupByCode("xsfs", saleMode).passedThrough(quorvan::saleModeName),
                                 field("gyslbbh", "gyslbbh"),
                                 lookup("gyslbmc", from("gyslb", "gyslbbh", "gyslbmc"), "gyslbbh"),
                                 field("chuanzhen", "cz"),
                                 field("dianhua", "dh"),
                                 field("dizhi", "dz"),
                                 field("khh", "khh"),
                                 field("shuihao", "sh"),
                                 field("zhanghao", "zh"),
                                 field("lxr", "lxr"),
                                 field("youbian", "yb"),
                                 stamp("xgrq"),
                                 today("sxksrq"),
                             },
                             quorvan::kGysdaWithoutScope);
    quorvan::Rules categories(quorvan::kGyslbdaTable, QStringLiteral("gyslb"),
                              {
                                  code("objid", "gyslbbh"),
                                  field("gyslbmc", "gyslbmc"),
                                  parentByLevel("fbbh", "jc"),
                                  stamp("xgrq"),
                              });
    return quorvan::suppliers(std::move(suppliers), std::move(categories),
                              quorvan::sourceSetting(QStringLiteral("xx"), QStringLiteral("xm"), "gysjc",
                                                     QStringLiteral("vals1"), QStringLiteral("供应商类别级别设置"),
                                                     QStringLiteral("gyslb"), QStringLiteral("jc")));
}

} // namespace convert_v67

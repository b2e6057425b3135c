#include "quorvan/categories.h"
#include "convert_v1/conversions.h"

namespace convert_v1 {

using namespace quorvan::rule;

// GoodsType into splbda with the parent code the row names ("-1" at the top
// level), then the "GoodsLevel" setting to the target's "01splbjc" row; the
// parent codes come from the rows, the setting is only copied.
shell::Operation categories()
{
    const std::initializer_list<quorvan::Rule> rules = {
        code("objid", "GoodsTypeId"),
        field("splbmc", "GoodsTypeName"),
        parent("fbbh", "parent"),
        stamp("xgrq"),
    };
    return quorvan::categories(QStringLiteral("GoodsType"), rules,
                               quorvan::sourceSetting(QStringLiteral("AccountInfo"), QStringLiteral("item"),
                                                      "GoodsLevel", QStringLiteral("vals2"),
                                                      QStringLiteral("商品类别级别设置"), QStringLiteral("GoodsType"),
                                                      QString()));
}

} // namespace convert_v1

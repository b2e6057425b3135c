#include "quorvan/categories.h"
#include "convert_v67/conversions.h"

namespace convert_v67 {

using namespace quorvan::rule;

// splb into splbda; each parent code is the prefix of the category's own code
// that the "spjc" level setting gives its level. The setting itself goes to the
// target's "01splbjc" row afterwards.
shell::Operation categories()
{
    const std::initializer_list<quorvan::Rule> rules = {
        code("objid", "lbbh"),
        field("splbmc", "lbmc"),
        parentByLevel("fbbh", "jc"),
        stamp("xgrq"),
    };
    return quorvan::categories(QStringLiteral("splb"), rules,
                               quorvan::sourceSetting(QStringLiteral("xx"), QStringLiteral("xm"), "spjc",
                                                      QStringLiteral("vals1"), QStringLiteral("商品类别级别设置"),
                                                      QStringLiteral("splb"), QStringLiteral("jc")));
}

} // namespace convert_v67

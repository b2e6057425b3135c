#include "convert_v67/conversions.h"
#include "quorvan/places.h"

namespace convert_v67 {

using namespace quorvan::rule;

shell::Operation goodsAreas()
{
    const std::initializer_list<quorvan::Rule> rules = {
        code("objid", "hqbh"),
        field("hqmc", "hqmc"),
        stamp("xgrq"),
    };
    return quorvan::goodsAreas(QStringLiteral("hq"), rules);
}

} // namespace convert_v67

#include "convert_v1/conversions.h"
#include "quorvan/places.h"

namespace convert_v1 {

using namespace quorvan::rule;

shell::Operation goodsAreas()
{
    const std::initializer_list<quorvan::Rule> rules = {
        code("objid", "OrganiseId"),
        field("hqmc", "Organise"),
        stamp("xgrq"),
    };
    return quorvan::goodsAreas(QStringLiteral("Organise"), rules);
}

} // namespace convert_v1

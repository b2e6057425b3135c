#include "convert_v67/conversions.h"
#include "quorvan/places.h"

namespace convert_v67 {

using namespace quorvan::rule;

shell::Operation warehouses()
{
    const std::initializer_list<quorvan::Rule> rules = {
        code("objid", "ckbh"),
        field("ckmc", "ckmc"),
        stamp("xgrq"),
    };
    return quorvan::warehouses(QStringLiteral("ck"), rules);
}

} // namespace convert_v67

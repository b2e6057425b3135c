#include "convert_v1/conversions.h"
#include "quorvan/places.h"

namespace convert_v1 {

using namespace quorvan::rule;

shell::Operation warehouses()
{
    const std::initializer_list<quorvan::Rule> rules = {
        code("objid", "StoreId"),
        field("ckmc", "Store"),
        stamp("xgrq"),
    };
    return quorvan::warehouses(QStringLiteral("Store"), rules);
}

} // namespace convert_v1

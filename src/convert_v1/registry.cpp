#include "convert_v1/conversions.h"

namespace convert_v1 {

QList<shell::Operation> conversions()
{
    return {warehouses(), goodsAreas(), suppliers(), categories(), products(), stock(), members()};
}

shell::Program program(QList<shell::Operation> clears)
{
    return {conversions(),
            std::move(clears),
            {QStringLiteral("Belmire V1 源数据库"),
             {QStringLiteral("Goods"), QStringLiteral("Store"), QStringLiteral("card")}},
            {},
            {}};
}

} // namespace convert_v1

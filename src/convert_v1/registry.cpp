#include "convert_v1/conversions.h"

#include "quorvan/clears.h"

namespace convert_v1 {

QList<shell::Operation> conversions()
{
    shell::Operation stockOp = stock();
    stockOp.prerequisites = quorvan::storeStockNeeds({QStringLiteral("warehouses")}, {QStringLiteral("products")});
    return {warehouses(), goodsAreas(), suppliers(), categories(), products(), stockOp, members()};
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

#include "convert_v67/conversions.h"

namespace convert_v67 {

QList<shell::Operation> conversions()
{
    return {warehouses(), goodsAreas(), suppliers(), categories(), productsV6(), productsV7(), stock(), members()};
}

} // namespace convert_v67

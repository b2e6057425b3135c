#include "convert_v1/conversions.h"

namespace convert_v1 {

QList<shell::Operation> conversions()
{
    return {warehouses(), goodsAreas(), suppliers(), categories(), products(), stock(), members()};
}

} // namespace convert_v1

#include "programs/programs.h"

#include "convert_v1/conversions.h"
#include "convert_v67/conversions.h"

namespace programs {

const shell::Catalog& catalog()
{
    static const shell::Catalog catalog(convert_v67::conversions(), convert_v1::conversions());
    return catalog;
}

} // namespace programs

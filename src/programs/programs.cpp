#include "programs/programs.h"

#include "convert_v1/conversions.h"
#include "convert_v67/conversions.h"
#include "quorvan/clears.h"

namespace programs {

const shell::Catalog& catalog()
{
    static const shell::Catalog catalog(convert_v67::program(quorvan::clearOperations(shell::Family::V67)),
                                        convert_v1::program(quorvan::clearOperations(shell::Family::V1)),
                                        quorvan::targetKind());
    return catalog;
}

} // namespace programs

#include "shell/operation.h"

#include "convert_v1/conversions.h"
#include "convert_v67/conversions.h"
#include "shell/clear.h"

namespace shell {

const QList<Operation>& operations(Family family)
{
    static const QList<Operation> v67 = convert_v67::conversions() + clearOperations(Family::V67);
    static const QList<Operation> v1 = convert_v1::conversions() + clearOperations(Family::V1);
    return family == Family::V67 ? v67 : v1;
}

const Operation* findOperation(Family family, const QString& id)
{
    for (const Operation& op : operations(family))
        if (op.id == id && op.body)
            return &op;
    return nullptr;
}

} // namespace shell

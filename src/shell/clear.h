#pragma once

#include "shell/operation.h"

namespace shell {

// A clear operation: empties tables, all of them or none, touching only the
// target connection; the rows it deletes go into the summary.
Operation clearOperation(const QString& id, const QString& title, const QStringList& tables, const QString& completion);

} // namespace shell

#pragma once

#include "shell/operation.h"

// The conversions of v1convert, one function per file, in button order.
namespace convert_v1 {

shell::Operation warehouses();
shell::Operation goodsAreas();
shell::Operation suppliers();
shell::Operation categories();
shell::Operation products();
shell::Operation stock();
shell::Operation members();

QList<shell::Operation> conversions();

} // namespace convert_v1

#pragma once

#include "shell/catalog.h"

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

// What v1convert hands the catalog: its conversions and clear operations and
// the tables that mark a V1 source.
shell::Program program(QList<shell::Operation> clears);

} // namespace convert_v1

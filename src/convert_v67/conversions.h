#pragma once

#include "shell/catalog.h"

// The conversions of v67convert, one function per file, in button order.
namespace convert_v67 {

shell::Operation warehouses();
shell::Operation goodsAreas();
shell::Operation suppliers();
shell::Operation categories();
shell::Operation productsV6();
shell::Operation productsV7();
shell::Operation stock();
shell::Operation members();

QList<shell::Operation> conversions();

// What v67convert hands the catalog: its conversions and clear operations, the
// tables that mark a V6/V7 source, and which product conversion a source fits.
shell::Program program(QList<shell::Operation> clears);

} // namespace convert_v67

#pragma once

#include "shell/operation.h"

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

} // namespace convert_v67

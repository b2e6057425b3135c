#pragma once

#include "shell/catalog.h"

namespace programs {

// The operations of v67convert and v1convert, built once.
const shell::Catalog& catalog();

} // namespace programs

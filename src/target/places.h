#pragma once

#include "target/column.h"

// Warehouses and goods areas.
namespace target {

inline constexpr Column kCkda[] = {
    {"objid", 15},
    {"ckmc", 20},
    {"xgrq", 20},
    {"jyf"},
    {"zt"},
    {"ownermdbh"},
    {"ownermdmc"},
};

inline constexpr Column kHqda[] = {
    {"objid", 15},
    {"hqmc", 20},
    {"xgrq", 20},
};

} // namespace target

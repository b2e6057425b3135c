#pragma once

#include "target/column.h"

// Stock per warehouse and product, and per store and product.
namespace target {

inline constexpr Column kSpckkc[] = {
    {"ckbh", 3}, // not the 15 bytes a warehouse code keeps in ckda
    {"ckmc", 20},
    {"spbh", 15},
    {"spmc", 40},
    {"dwmc", 6},
    {"yesl", 0, Form::Amount},
    {"yecbje", 0, Form::Amount},
    {"yesjje", 0, Form::Amount},
    {"bz"},
    {"qccbje", 0, Form::Integer},
    {"qcsjje", 0, Form::Integer},
    {"qcsl", 0, Form::Integer},
    {"xgrq", 20},
};

// Filled by set-based statements from spckkc and the target's own tables.
inline constexpr Column kMdspkc[] = {
    {"mdbh"},
    {"spbh"},
    {"yesl", 0, Form::Amount},
    {"yecbje", 0, Form::Amount},
    {"yesjje", 0, Form::Amount},
    {"mdmc"},
    {"spmc"},
    {"dwmc"},
    {"xgrq"},
};

} // namespace target

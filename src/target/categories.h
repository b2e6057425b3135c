#pragma once

#include "target/column.h"

// Product categories and the settings row of their level setting.
namespace target {

inline constexpr Column kSplbda[] = {
    {"objid"},
    {"splbmc"},
    {"fbbh"},
    {"xgrq"},
};

// Only fvalue of the row "01splbjc" is written, by an update.
inline constexpr Column kXx[] = {
    {"objid"},
    {"fvalue"},
};

} // namespace target

#pragma once

#include "target/column.h"

// Suppliers and supplier categories.
namespace target {

inline constexpr Column kGysda[] = {
    {"objid", 15},
    {"gysmc", 20},
    {"gyslbbh", 15},
    {"gyslbmc", 20},
    {"xsfsbh"},
    {"xsfs"},
    {"jyf"},
    {"xgrq", 20},
    {"zt"},
    {"chuanzhen", 20},
    {"dianhua", 20},
    {"dizhi", 50},
    {"faren", 10},
    {"khh", 20},
    {"shuihao", 20},
    {"zhanghao", 20},
    {"lxr", 10},
    {"youbian", 10},
    {"bz", 20},
    {"sxksrq"},
    {"sxjsrq"},
    {"ghfw", 50},
};

inline constexpr Column kGyslbda[] = {
    {"objid"},
    {"gyslbmc"},
    {"fbbh"},
    {"xgrq"},
};

} // namespace target

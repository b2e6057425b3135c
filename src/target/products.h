#pragma once

#include "target/column.h"

// Products, their units and bar codes, and the default department.
namespace target {

inline constexpr Column kSpda[] = {
    {"objid"},
    {"spmc"},
    {"ggxh", 10},
    {"gysbh"},
    {"gysmc", 20},
    {"splbbh"},
    {"splbmc"},
    {"zjm"},
    {"bzq"},
    {"chandi"},
    {"dengji"},
    {"pinpai"},
    {"bz"},
    {"jyf"},
    {"pinzhong"},
    {"xgrq", 20},
    {"zt"},
    {"yjspf"},
    {"scspf"},
    {"bjkcf"},
    {"xsfsbh"},
    {"xsfs"},
    {"jgkzfsbh"},
    {"jgkzfs"},
    {"mdbh"},
    {"blbh"},
    {"blmc"},
    {"ghfsbh"},
    {"ghfsmc"},
    {"hqbh"},
    {"hqmc"},
    {"jxtax", 0, Form::Amount},
    {"xxtax", 0, Form::Amount},
    {"lykdl", 0, Form::Amount},
};

inline constexpr Column kSpdw[] = {
    {"objid"},
    {"fid", 0, Form::Integer}, // the first row of a product binds it as the text "0"
    {"dwmc", 6},
    {"sptm"},
    {"ifjbdw"},
    {"dwjl", 0, Form::Amount}, // an integer where the source gives none
    {"jj", 0, Form::Amount},
    {"lsj", 0, Form::Amount},
    {"hyj", 0, Form::Amount},
    {"pfj", 0, Form::Amount},
    {"jj_notax", 0, Form::Amount},
    {"lsj_notax", 0, Form::Amount},
    {"pfj_notax", 0, Form::Amount},
};

// Written by a fixed statement: the default department "01".
inline constexpr Column kRyblda[] = {
    {"objid"},
    {"blmc"},
    {"xgrq"},
};

} // namespace target

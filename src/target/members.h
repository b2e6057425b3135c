#pragma once

#include "target/column.h"

// Members and the member category.
namespace target {

inline constexpr Column kHyda[] = {
    {"objid", 13},
    {"lbbh"},
    {"lbmc"},
    {"xingming", 10},
    {"xingbie", 2},
    {"dizhi", 30},
    {"shenfenzheng", 18},
    {"dianhua", 15},
    {"shengri"},
    {"zhongzhirq"},
    {"jifenf"},
    {"huiyuanf"},
    {"jiezhi"},
    {"jyf"},
    {"bz", 20},
    {"xgrq"},
    {"sskhf"},
    {"czjxm"},
    {"czf"},
    {"czye", 0, Form::Amount},
    {"ljxfje", 0, Form::Amount},
    {"ljjf", 0, Form::Amount},
    {"jfye", 0, Form::Amount},
    {"dazhef"},
    {"dazhezk", 0, Form::Number}, // an integer where the source gives one
};

// Written by a fixed statement: the category "01".
inline constexpr Column kHylbda[] = {
    {"objid"},
    {"lbmc"},
    {"xgrq"},
};

} // namespace target

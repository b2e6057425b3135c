#include "quorvan/members.h"
#include "convert_v67/conversions.h"

namespace convert_v67 {

using namespace quorvan::rule;

shell::Operation members()
{
    const std::initializer_list<quorvan::Rule> rules = {
        cutCode("objid", "kbh"),      amount("czye", "czye").readBeforeCheck(),
        field("czf", "czk"),          field("bz", "zt"),
        field("jiezhi", "klx"),       field("sskhf", "skf"),
        field("xingming", "xm"),      field("dizhi", "dzh"),
        field("shenfenzheng", "sfz"), field("dianhua", "dh"),
        field("jifenf", "jfk"),       amount("ljxfje", "jfjelj"),
        amount("ljjf", "jffslj"),     amount("jfye", "jffsye"),
        field("huiyuanf", "hyk"),     field("dazhef", "dzk"),
        number("dazhezk", "dzbl"),    stamp("xgrq"),
    };
    return quorvan::members(QStringLiteral("hyda"), rules);
}

} // namespace convert_v67

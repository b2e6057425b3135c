#include "quorvan/members.h"
#include "convert_v1/conversions.h"

#include <QDate>

#include <cstdio>

namespace convert_v1 {
namespace {

// "yyyy-MM-dd"; a missing birthday is day 0 of the date system, 1899-12-30.
QByteArray birthday(const db::Query& row, const QString& field)
{
    QDate d = row.date(field);
    if (!d.isValid())
        d = QDate(1899, 12, 30);
    if (d.year() < 1 || d.year() > 9999)
        return d.toString(QStringLiteral("yyyy-MM-dd")).toLatin1();
    char text[11];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d", d.year(), d.month(), d.day());
    return QByteArray(text, 10);
}

} // namespace

using namespace quorvan::rule;

shell::Operation members()
{
    const std::initializer_list<quorvan::Rule> rules = {
        cutCode("objid", "cardid"),
        amount("czye", "cashbala").readBeforeCheck(),
        flag("czf", "ifcash"),
        field("bz", "state"),
        field("jiezhi", "cardmake"),
        flag("sskhf", "ifflash"),
        field("xingming", "fname"),
        field("xingbie", "sex"),
        field("dizhi", "address"),
        field("shenfenzheng", "idcard"),
        field("dianhua", "tel"),
        hook("shengri", "birthday", birthday),
        flag("jifenf", "ifcent"),
        amount("ljxfje", "moneysum"),
        amount("ljjf", "centsum"),
        amount("jfye", "centbala"),
        flag("huiyuanf", "ifmembercard"),
        flag("dazhef", "ifdiscount"),
        integer("dazhezk", 0),
        stamp("xgrq"),
    };
    return quorvan::members(QStringLiteral("card"), rules);
}

} // namespace convert_v1

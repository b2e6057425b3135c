#pragma once

#include "db/amount.h"
#include "db/query.h"
#include "shell/operation.h"
#include "target/column.h"
#include "target/target_keys.h"

#include <QStringList>
#include <variant>

namespace shell {
class Run;
}

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

// The member row of hyda, its card-number check and the member category of
// hylbda; both families write them.
inline const QStringList kInsertHyda = {
    QStringLiteral("insert into hyda (objid,lbbh,lbmc,xingming,xingbie,dizhi,shenfenzheng,dianhua,shengri,zhongzhirq,"
                   "jifenf,huiyuanf,jiezhi,jyf,bz,xgrq,sskhf,czjxm,czf,czye,ljxfje,ljjf,jfye,dazhef,dazhezk"),
    QStringLiteral(") values ("),
    QStringLiteral(":objid,:lbbh,:lbmc,:xingming,:xingbie,:dizhi,:shenfenzheng,:dianhua,:shengri,:zhongzhirq,"
                   ":jifenf,:huiyuanf,:jiezhi,:jyf,:bz,:xgrq,:sskhf,:czjxm,:czf,:czye,:ljxfje,:ljjf,:jfye,:dazhef,"
                   ":dazhezk)"),
};

inline const QStringList kCheckHyda = {QStringLiteral("select objid from hyda  where objid=:objid ")};

// One card as the source gives it, by target column. lbbh, lbmc, zhongzhirq,
// jyf, bz, xgrq and czjxm are derived when it is written.
struct MemberRow {
    QByteArray objid; // card number, trimmed and cut to 13 bytes
    QByteArray czf;
    db::Amount czye;
    QByteArray zt; // status; exactly "正常" means normal
    QByteArray jiezhi;
    QByteArray sskhf;
    QByteArray xingming;
    QByteArray xingbie;
    QByteArray dizhi;
    QByteArray shenfenzheng;
    QByteArray dianhua;
    QByteArray shengri;
    QByteArray jifenf;
    db::Amount ljxfje;
    db::Amount ljjf;
    db::Amount jfye;
    QByteArray huiyuanf;
    QByteArray dazhef;
    std::variant<double, qint64> dazhezk; // a rate (number) or a fixed integer
};

// The card number of a source field: trimmed, cut to the 13 bytes of objid.
QByteArray cardNumber(const QByteArray& field);

// Empties hylbda and writes its one category "01" with the run time stamp.
void resetMemberCategories(shell::Run& run);

// The cards of target hyda for one run, rows of this run included: read once
// and kept current, or on SQL Server asked of the target per batch of rows read ahead.
class MemberCards {
public:
    explicit MemberCards(shell::Run& run);
    bool present(const QByteArray& objid);
    // The card of a hyda row just written (cut to 13 bytes as it is bound).
    void written(const QByteArray& objid);
    // Where the server's collation decides (the walk reads rows ahead): the
    // card of a row read ahead, the k-th of its batch.
    void listAhead(const QByteArray& objid, int k);

private:
    const bool m_inMemory;
    TargetKeys m_keys;
    KeyWindow m_window; // where the server's collation decides
};

// Binds one hyda row and executes the INSERT.
void writeMember(db::Query& insert, const MemberRow& row, const QByteArray& stamp);

// The target tables of a member conversion: hylbda and hyda.
QList<shell::TableUse> memberTargetUses();

} // namespace target

#pragma once

#include "db/amount.h"
#include "db/query.h"
#include "quorvan/column.h"
#include "quorvan/target_keys.h"
#include "shell/operation.h"

#include <QStringList>
#include <variant>

namespace shell {
class Run;
}

// Members and the member category.
namespace quorvan {

inline constexpr Column kHyda[] = {
    text("objid", 13).keepWidth().inKey(),
    text("lbbh", 15).byDefault("01"), // the one member category, which hylbda holds
    text("lbmc", 20).byDefault("会员卡"),
    text("xingming", 10).keepWidth(),
    text("xingbie", 2).keepWidth(),
    text("dizhi", 30).keepWidth(),
    text("shenfenzheng", 18).keepWidth(),
    text("dianhua", 15).keepWidth(),
    text("shengri", 20),
    text("zhongzhirq", 20).byDefault("2010-12-31"),
    text("jifenf", 1),
    text("huiyuanf", 1),
    text("jiezhi", 20),
    text("jyf", 1),
    text("bz", 20).keepWidth(),
    text("xgrq", 20),
    text("sskhf", 1),
    text("czjxm", 64),
    text("czf", 1),
    amount("czye"),
    amount("ljxfje"),
    amount("ljjf"),
    amount("jfye"),
    text("dazhef", 1),
    number("dazhezk"), // an integer where the source gives one
};
inline constexpr Table kHydaTable = describe("hyda", kHyda);

// Written by a fixed statement: the category "01".
inline constexpr Column kHylbda[] = {
    text("objid", 15).inKey(),
    text("lbmc", 20),
    text("xgrq", 20),
};
inline constexpr Table kHylbdaTable = describe("hylbda", kHylbda);

// The member row of hyda, its card-number check and the member category of
// hylbda; both families write them.
inline const QStringList kInsertHyda = insertLines(kHydaTable);

inline const QStringList kCheckHyda = {QStringLiteral("select objid from hyda  where objid=:objid ")};

// One card as the source gives it, by target column. lbbh, lbmc, zhongzhirq,
// jyf, bz, xgrq and czjxm are derived when it is written.
struct MemberRow {
    QByteArray objid; // card number, trimmed and cut as objid keeps it
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

// The card number of a source field: trimmed, cut as objid keeps it.
QByteArray cardNumber(const QByteArray& field);

// Empties hylbda and writes its one category "01" with the run time stamp.
void resetMemberCategories(shell::Run& run);

// The cards of target hyda for one run, rows of this run included: read once
// and kept current, or on SQL Server asked of the target per batch of rows read ahead.
class MemberCards {
public:
    explicit MemberCards(shell::Run& run);
    bool present(const QByteArray& objid);
    // The card of a hyda row just written (cut as it is bound).
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

} // namespace quorvan

#pragma once

#include "quorvan/column.h"
#include "quorvan/rules.h"
#include "shell/operation.h"

#include <QStringList>

#include <initializer_list>

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

// The member row of hyda and its card-number check.
inline const QStringList kInsertHyda = insertLines(kHydaTable);

inline const QStringList kCheckHyda = {QStringLiteral("select objid from hyda  where objid=:objid ")};

// The member conversion of a source table by the family's rules: the card
// (a cut code) and the rules read before the check are read for every row, a
// card already in hyda is skipped, a repeated source card included. The
// status goes into bz by the rules; a status of exactly "正常" leaves bz empty
// and jyf "0", any other jyf "1". czjxm is the scrambled balance.
shell::Operation members(const QString& sourceTable, std::initializer_list<Rule> rules);

} // namespace quorvan

#pragma once

#include "db/query.h"
#include "quorvan/column.h"
#include "quorvan/rules.h"
#include "shell/operation.h"

#include <QStringList>
#include <optional>

// Suppliers and supplier categories.
namespace quorvan {

inline constexpr Column kGysda[] = {
    text("objid", 15).keepWidth().inKey(),
    text("gysmc", 20).keepWidth().spelled("Gysmc"),
    text("gyslbbh", 15).keepWidth(),
    text("gyslbmc", 20).keepWidth(),
    text("xsfsbh", 2).spelled(" xsfsbh"), // the INSERT has a blank before it
    text("xsfs", 20),
    text("jyf", 1).byDefault("0"),
    text("xgrq", 20).keepWidth(),
    text("zt", 1).byDefault("0"),
    text("chuanzhen", 20).keepWidth(),
    text("dianhua", 20).keepWidth(),
    text("dizhi", 50).keepWidth(),
    text("faren", 10).keepWidth(),
    text("khh", 20).keepWidth(),
    text("shuihao", 20).keepWidth(),
    text("zhanghao", 20).keepWidth(),
    text("lxr", 10).keepWidth(),
    text("youbian", 10).keepWidth(),
    text("bz", 20).keepWidth(),
    text("sxksrq", 20), // the day of the conversion
    text("sxjsrq", 20).byDefault("2008-12-31"),
    text("ghfw", 50).keepWidth(), // the goods scope, which only the V1 source has
};
inline constexpr Table kGysdaTable = describe("gysda", kGysda);

inline constexpr Column kGyslbda[] = {
    text("objid", 20).inKey(),
    text("gyslbmc", 40),
    text("fbbh", 20), // the parent code, empty at the top level
    text("xgrq", 20),
};
inline constexpr Table kGyslbdaTable = describe("gyslbda", kGyslbda);

// The columns of gysda before ghfw.
inline constexpr int kGysdaWithoutScope = indexOf(kGysda, "ghfw");

// The supplier row of gysda and the supplier category row of gyslbda;
// both families write them.
inline const QStringList kInsertGysda = insertLines(kGysdaTable, kGysdaWithoutScope);

// The same row with the goods scope ghfw, which only the V1 source has.
inline const QStringList kInsertGysdaWithScope = insertLines(kGysdaTable);

inline const QStringList kInsertGyslbda = insertLines(kGyslbdaTable);

// The code (xsfsbh) and the name (xsfs) of the sale mode of a name, for rules:
// the four sale-mode names map to "0" to "3"; anything else counts as "经销", "0".
QByteArray saleModeCode(const QByteArray& name);
QByteArray saleModeName(const QByteArray& name);

// The supplier conversion: the suppliers into gysda by their rules (the INSERT
// of the columns they name), then the run's stamp taken again and the
// supplier categories into gyslbda by theirs; where a parent goes by level,
// the level setting `levels` is read before that walk.
shell::Operation suppliers(Rules suppliers, Rules categories, const std::optional<shell::SettingRow>& levels);

} // namespace quorvan

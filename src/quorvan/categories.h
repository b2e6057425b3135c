#pragma once

#include "db/query.h"
#include "quorvan/column.h"
#include "quorvan/rules.h"
#include "shell/operation.h"

#include <QStringList>

#include <initializer_list>

namespace shell {
class Run;
}

// Product categories and the settings row of their level setting.
namespace quorvan {

inline constexpr Column kSplbda[] = {
    text("objid", 20).inKey(),
    text("splbmc", 40),
    text("fbbh", 20), // the parent code, empty at the top level
    text("xgrq", 20),
};
inline constexpr Table kSplbdaTable = describe("splbda", kSplbda);

// Only fvalue of the row "01splbjc" is written, by an update.
inline constexpr Column kXx[] = {
    text("objid", 20).inKey(),
    text("fvalue", 50),
};
inline constexpr Table kXxTable = describe("xx", kXx);

// The product category row of splbda; both families write it.
inline const QStringList kInsertSplbda = insertLines(kSplbdaTable);

// The category conversion of a source table into splbda by the family's
// rules, then the source level setting `levels` copied to the target row
// "01splbjc". Where a parent goes by level, the setting is read before the walk.
shell::Operation categories(const QString& sourceTable, std::initializer_list<Rule> rules,
                            const shell::SettingRow& levels);

// The leading part of a category code that names its parent: as many bytes as the
// level setting gives the levels above `level` (digits 1 to level - 1, at most 6
// count). Empty at the top level. Throws on a setting too short or not numeric.
QByteArray parentByLevel(const QByteArray& code, qint64 level, const QByteArray& levelSetting);

// Copies a source level setting to the target row "01splbjc", every "0" written as "2".
void copyLevelSetting(shell::Run& run, const QByteArray& levelSetting);

// The target row "01splbjc" that copyLevelSetting updates (and never creates).
shell::SettingRow targetLevelSetting();
// A source setting row: the row of table whose keyColumn is key, its value in valueColumn.
shell::SettingRow sourceSetting(const QString& table, const QString& keyColumn, const char* key,
                                const QString& valueColumn, const QString& name, const QString& levelTable,
                                const QString& levelField);

// A text as an SQL string literal: enclosed in single quotes, inner quotes doubled.
QString quoted(const QByteArray& gbkText);

} // namespace quorvan

#pragma once

#include "shell/operation.h"

#include <QList>
#include <QString>
#include <QStringView>

#include <span>
#include <string_view>

// The target tables the conversions write, one line per column: its name, the
// bytes of GBK text the conversions keep (0: the whole value) and the form its
// value is bound in. The conversions take their cuts from here; the check
// compares the source values that go in uncut with the widths the target
// database declares.
namespace target {

enum class Form { Text, Amount, Integer, Number };

struct Column {
    std::string_view name;
    int cut = 0; // bytes kept, 0 for the whole text
    Form form = Form::Text;
};

struct Table {
    std::string_view name;
    std::span<const Column> columns;
};

// The cut of a column, found when compiling: a name that is not there does not compile.
consteval int cutOf(std::span<const Column> table, std::string_view column)
{
    for (const Column& c : table)
        if (c.name == column)
            return c.cut;
    throw "no such column";
}

// Every table described here.
std::span<const Table> tables();

// A column by table and column name, without regard to case; nullptr when not described.
const Column* find(QStringView table, QStringView column);

// Source fields into target columns, as "field>column,field>column", each with
// the cut its column's description gives.
QList<shell::FieldInto> fieldsInto(const QString& sourceTable, const QString& targetTable, const QString& pairs,
                                   bool trimmed, const QString& filter = QString());

} // namespace target

#include "quorvan/column.h"

#include "quorvan/categories.h"
#include "quorvan/members.h"
#include "quorvan/places.h"
#include "quorvan/products.h"
#include "quorvan/stock.h"
#include "quorvan/suppliers.h"

#include <QString>

namespace quorvan {
namespace {

QString latin1(std::string_view s) { return QString::fromLatin1(s.data(), qsizetype(s.size())); }

} // namespace

std::span<const Table> tables()
{
    static constexpr Table all[] = {kCkdaTable,    kHqdaTable, kSplbdaTable, kXxTable,     kGysdaTable,
                                    kGyslbdaTable, kSpdaTable, kSpdwTable,   kRybldaTable, kSpckkcTable,
                                    kMdspkcTable,  kMddaTable, kHydaTable,   kHylbdaTable};
    return all;
}

QString parameterName(const Column& column)
{
    return column.spelling.empty() ? latin1(column.name) : latin1(column.spelling).trimmed();
}

QStringList insertLines(const Table& table, qsizetype columns)
{
    const std::span<const Column> listed = columns < 0 ? table.columns : table.columns.first(std::size_t(columns));
    QStringList names;
    QStringList parameters;
    qsizetype breakAt = 0;
    for (const Column& c : listed) {
        if (c.name == table.breakBefore)
            breakAt = names.size();
        names << (c.spelling.empty() ? latin1(c.name) : latin1(c.spelling));
        parameters << u':' + parameterName(c);
    }
    const QString head = QStringLiteral("insert into ") + latin1(table.name) + QStringLiteral(" (");
    const QString comma = QStringLiteral(",");
    switch (table.layout) {
    case Layout::Spaced:
        return {head + names.join(comma) + u' ', QStringLiteral(" ) values ("),
                u' ' + parameters.join(comma) + QStringLiteral(" )")};
    case Layout::Broken:
        return {head + names.first(breakAt).join(comma) + comma,
                names.sliced(breakAt).join(comma) + QStringLiteral(" ) values ("),
                parameters.first(breakAt).join(comma) + comma, parameters.sliced(breakAt).join(comma) + u')'};
    case Layout::Plain:
        break;
    }
    return {head + names.join(comma), QStringLiteral(") values ("), parameters.join(comma) + u')'};
}

} // namespace quorvan

#include "target/column.h"

#include "target/categories.h"
#include "target/members.h"
#include "target/places.h"
#include "target/products.h"
#include "target/stock.h"
#include "target/suppliers.h"

#include <QString>

namespace target {

std::span<const Table> tables()
{
    static constexpr Table all[] = {
        {"ckda", kCkda},       {"hqda", kHqda}, {"splbda", kSplbda}, {"xx", kXx},         {"gysda", kGysda},
        {"gyslbda", kGyslbda}, {"spda", kSpda}, {"spdw", kSpdw},     {"ryblda", kRyblda}, {"spckkc", kSpckkc},
        {"mdspkc", kMdspkc},   {"hyda", kHyda}, {"hylbda", kHylbda},
    };
    return all;
}

const Column* find(QStringView table, QStringView column)
{
    const auto same = [](std::string_view name, QStringView s) {
        return QLatin1StringView(name.data(), qsizetype(name.size())).compare(s, Qt::CaseInsensitive) == 0;
    };
    for (const Table& t : tables())
        if (same(t.name, table))
            for (const Column& c : t.columns)
                if (same(c.name, column))
                    return &c;
    return nullptr;
}

QList<shell::FieldInto> fieldsInto(const QString& sourceTable, const QString& targetTable, const QString& pairs,
                                   bool trimmed, const QString& filter)
{
    QList<shell::FieldInto> out;
    for (const QString& pair : pairs.split(u',', Qt::SkipEmptyParts)) {
        shell::FieldInto f{sourceTable, pair.section(u'>', 0, 0), targetTable, pair.section(u'>', 1, 1), trimmed,
                           filter};
        const Column* column = find(f.targetTable, f.targetColumn);
        f.cut = column ? column->cut : 0;
        out << f;
    }
    return out;
}

} // namespace target

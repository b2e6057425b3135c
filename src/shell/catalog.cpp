#include "shell/catalog.h"

#include "shell/check.h"
#include "shell/clear.h"

#include "db/connection.h"
#include "textutil/error.h"

namespace shell {
namespace {

// A clear operation names its tables alone; it is given the columns the
// conversions of both programs write there, so that the check and the guard
// before a clear probe what a later conversion needs.
void nameClearedColumns(QList<Operation>& operations, const QList<Operation>& v67, const QList<Operation>& v1)
{
    for (Operation& op : operations) {
        if (op.needsSource)
            continue;
        for (TableUse& use : op.uses) {
            if (use.side != Side::Target || !use.columns.isEmpty())
                continue;
            for (const QList<Operation>* family : {&v67, &v1})
                for (const Operation& conversion : *family)
                    for (const TableUse& written : conversion.uses) {
                        if (written.side != Side::Target || written.table.compare(use.table, Qt::CaseInsensitive))
                            continue;
                        for (const QString& c : written.columns)
                            if (!use.columns.contains(c, Qt::CaseInsensitive))
                                use.columns << c;
                    }
        }
    }
}

} // namespace

Catalog::Catalog(QList<Operation> v67Conversions, QList<Operation> v1Conversions)
    : m_v67(v67Conversions + clearOperations(Family::V67)), m_v1(v1Conversions + clearOperations(Family::V1))
{
    nameClearedColumns(m_v67, v67Conversions, v1Conversions);
    nameClearedColumns(m_v1, v67Conversions, v1Conversions);
}

const QList<Operation>& Catalog::operations(Family family) const { return family == Family::V67 ? m_v67 : m_v1; }

const Operation* Catalog::find(Family family, const QString& id) const
{
    for (const Operation& op : operations(family))
        if (op.id == id && op.body)
            return &op;
    return nullptr;
}

QList<const Operation*> Catalog::built(Family family) const
{
    QList<const Operation*> out;
    for (const Operation& op : operations(family))
        if (op.body)
            out << &op;
    return out;
}

QList<const Operation*> Catalog::built(Family family, const QString& sourceUdl) const
{
    QList<const Operation*> out = built(family);
    if (family != Family::V67)
        return out;
    const QString other =
        productsFor(sourceUdl) == u"products-v7" ? QStringLiteral("products-v6") : QStringLiteral("products-v7");
    out.removeIf([&](const Operation* op) { return op->id == other; });
    return out;
}

QList<const Operation*> Catalog::all(Family family, const QString& products) const
{
    QList<const Operation*> out;
    for (const QString& id :
         {QStringLiteral("warehouses"), QStringLiteral("goods-areas"), QStringLiteral("categories"),
          QStringLiteral("suppliers"), products, QStringLiteral("stock"), QStringLiteral("members")})
        if (const Operation* op = find(family, id))
            out << op;
    return out;
}

std::optional<Family> Catalog::familyOf(const QString& sourceUdl) const
{
    db::Connection source(QStringLiteral("源"));
    try {
        source.open(sourceUdl);
    } catch (const belmire::Error&) {
        return std::nullopt;
    }
    const auto present = [&](Family family) {
        QStringList seen;
        int found = 0;
        for (const Operation* op : built(family))
            for (const TableUse& use : op->uses)
                if (use.side == Side::Source && !seen.contains(use.table, Qt::CaseInsensitive)) {
                    seen << use.table;
                    try {
                        probe(source, use.table, {});
                        ++found;
                    } catch (const belmire::Error&) {
                    }
                }
        return found;
    };
    const int v67 = present(Family::V67), v1 = present(Family::V1);
    if (v67 > 0 && v1 == 0)
        return Family::V67;
    if (v1 > 0 && v67 == 0)
        return Family::V1;
    return std::nullopt;
}

} // namespace shell

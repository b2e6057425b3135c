#include "shell/catalog.h"

#include "shell/check.h"

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

// Each conversion is told the clear operation that empties each target table
// it matches rows in, for the messages that tell what to run before a rerun.
void nameClears(QList<Operation>& operations, const QList<Operation>& clears)
{
    for (Operation& op : operations)
        for (const RowMatch& m : op.reconciliation.rows)
            for (const Operation& clear : clears)
                for (const TableUse& use : clear.uses)
                    if (!op.clearing(m.targetTable) && use.table.compare(m.targetTable, Qt::CaseInsensitive) == 0)
                        op.clears << ClearedBy{m.targetTable, clear.id, clear.title};
}

} // namespace

Catalog::Catalog(Program v67, Program v1, DatabaseKind target)
    : m_v67(std::move(v67)), m_v1(std::move(v1)), m_target(std::move(target))
{
    for (Program* program : {&m_v67, &m_v1}) {
        nameClears(program->conversions, program->clears);
        nameClearedColumns(program->clears, m_v67.conversions, m_v1.conversions);
    }
    m_v67Operations = m_v67.conversions + m_v67.clears;
    m_v1Operations = m_v1.conversions + m_v1.clears;
}

const QList<Operation>& Catalog::operations(Family family) const
{
    return family == Family::V67 ? m_v67Operations : m_v1Operations;
}

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
    if (program(family).alternatives.isEmpty())
        return out;
    const QString fits = products(family, sourceUdl);
    out.removeIf([&](const Operation* op) { return op->id != fits && program(family).alternatives.contains(op->id); });
    return out;
}

QString Catalog::products(Family family, const QString& sourceUdl) const
{
    const Program& p = program(family);
    return p.fitting ? p.fitting(sourceUdl) : QStringLiteral("products");
}

QList<DatabaseKind> Catalog::kinds() const { return {m_v67.source, m_v1.source, m_target}; }

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

#include "quorvan/places.h"

namespace quorvan {
namespace {

shell::Operation place(const Table& table, const QString& sourceTable, std::initializer_list<Rule> rules,
                       const QString& id, const QString& title)
{
    shell::Operation op = rowByRow(Rules(table, sourceTable, rules));
    op.id = id;
    op.title = title;
    op.completion = QStringLiteral("档案转换完毕！");
    return op;
}

} // namespace

shell::Operation warehouses(const QString& sourceTable, std::initializer_list<Rule> rules)
{
    return place(kCkdaTable, sourceTable, rules, QStringLiteral("warehouses"), QStringLiteral("仓库档案转换"));
}

shell::Operation goodsAreas(const QString& sourceTable, std::initializer_list<Rule> rules)
{
    return place(kHqdaTable, sourceTable, rules, QStringLiteral("goods-areas"), QStringLiteral("货区档案转换"));
}

} // namespace quorvan

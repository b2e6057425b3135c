#include "quorvan/clears.h"

#include "quorvan/categories.h"
#include "quorvan/members.h"
#include "quorvan/places.h"
#include "quorvan/products.h"
#include "quorvan/stock.h"
#include "quorvan/suppliers.h"
#include "shell/clear.h"

namespace quorvan {
namespace {

QStringList names(std::initializer_list<Table> tables)
{
    QStringList out;
    for (const Table& t : tables)
        out << QString::fromLatin1(t.name.data(), qsizetype(t.name.size()));
    return out;
}

} // namespace

QList<shell::Operation> clearOperations(shell::Family family)
{
    using shell::clearOperation;
    const QString done = QStringLiteral("档案删除完毕！");
    return {
        clearOperation(QStringLiteral("clear-warehouses"), QStringLiteral("清空仓库"), names({kCkdaTable}),
                       family == shell::Family::V67 ? QStringLiteral("仓库档案删除完毕！") : done),
        clearOperation(QStringLiteral("clear-goods-areas"), QStringLiteral("清空货区"), names({kHqdaTable}), done),
        clearOperation(QStringLiteral("clear-suppliers"), QStringLiteral("清空供应商"),
                       names({kGysdaTable, kGyslbdaTable}), done),
        clearOperation(QStringLiteral("clear-categories"), QStringLiteral("清空类别"), names({kSplbdaTable}), done),
        clearOperation(QStringLiteral("clear-products"), QStringLiteral("清空商品档案"),
                       names({kSpdaTable, kSpdwTable}), done),
        clearOperation(QStringLiteral("clear-stock"), QStringLiteral("清空库存"), names({kSpckkcTable, kMdspkcTable}),
                       done),
        clearOperation(QStringLiteral("clear-members"), QStringLiteral("清空会员"), names({kHydaTable}), done),
    };
}

shell::DatabaseKind targetKind()
{
    return {QStringLiteral("Quorvan V9 目标数据库"), names({kSpdaTable, kCkdaTable, kMddaTable})};
}

QList<shell::Prerequisite> storeStockNeeds(const QStringList& warehouses, const QStringList& products)
{
    return {
        {warehouses, names({kCkdaTable}).constFirst(),
         QStringLiteral("库存转换排在%1之前：门店库存 mdspkc 的合计会是空的；请先运行%1"),
         QStringLiteral("目标 ckda 没有仓库：库存转换后门店库存 mdspkc 会是空的；请先转换仓库")},
        {products, names({kSpdaTable}).constFirst(),
         QStringLiteral("库存转换排在%1之前：门店库存 mdspkc 的商品名称和单位会是空的；请先运行%1"),
         QStringLiteral("目标 spda 没有商品：库存转换后门店库存 mdspkc 的商品名称和单位会是空的；请先转换商品")},
    };
}

} // namespace quorvan

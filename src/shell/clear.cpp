#include "shell/clear.h"

#include "shell/runframe.h"

namespace shell {
namespace {

Operation clear(const QString& id, const QString& title, const QStringList& tables, const QString& completion)
{
    Operation op;
    op.id = id;
    op.title = title;
    op.completion = completion;
    op.needsSource = false;
    for (const QString& t : tables)
        op.uses << targetUse(t, QString());
    op.body = [tables](Run& run) {
        QStringList statements;
        for (const QString& t : tables) {
            // The rows about to go, for the summary.
            db::Query count(run.targetConnection());
            count.setText(QStringLiteral("select count(*) from %1").arg(t));
            count.open();
            if (count.next())
                run.result().rowsDeleted += count.valueAt(0).toLongLong();
            count.close();
            statements << QStringLiteral("TRUNCATE TABLE %1 ").arg(t);
        }
        run.once(statements);
    };
    return op;
}

} // namespace

QList<Operation> clearOperations(Family family)
{
    const QString done = QStringLiteral("档案删除完毕！");
    return {
        clear(QStringLiteral("clear-warehouses"), QStringLiteral("清空仓库"), {QStringLiteral("ckda")},
              family == Family::V67 ? QStringLiteral("仓库档案删除完毕！") : done),
        clear(QStringLiteral("clear-goods-areas"), QStringLiteral("清空货区"), {QStringLiteral("hqda")}, done),
        clear(QStringLiteral("clear-suppliers"), QStringLiteral("清空供应商"),
              {QStringLiteral("gysda"), QStringLiteral("gyslbda")}, done),
        clear(QStringLiteral("clear-categories"), QStringLiteral("清空类别"), {QStringLiteral("splbda")}, done),
        clear(QStringLiteral("clear-products"), QStringLiteral("清空商品档案"),
              {QStringLiteral("spda"), QStringLiteral("spdw")}, done),
        clear(QStringLiteral("clear-stock"), QStringLiteral("清空库存"),
              {QStringLiteral("spckkc"), QStringLiteral("mdspkc")}, done),
        clear(QStringLiteral("clear-members"), QStringLiteral("清空会员"), {QStringLiteral("hyda")}, done),
    };
}

const Operation* clearing(const QString& table)
{
    static const QList<Operation> operations = clearOperations(Family::V67);
    for (const Operation& op : operations)
        for (const TableUse& use : op.uses)
            if (use.table.compare(table, Qt::CaseInsensitive) == 0)
                return &op;
    return nullptr;
}

} // namespace shell

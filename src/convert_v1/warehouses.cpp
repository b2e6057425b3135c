#include "convert_v1/conversions.h"
#include "quorvan/places.h"
#include "shell/runframe.h"
#include "textutil/gbk.h"

namespace convert_v1 {

shell::Operation warehouses()
{
    shell::Operation op;
    op.id = QStringLiteral("warehouses");
    op.title = QStringLiteral("仓库档案转换");
    op.completion = QStringLiteral("档案转换完毕！");
    op.body = [](shell::Run& run) {
        db::Query& insert = run.target(quorvan::kInsertCkda);
        run.walk(
            QStringLiteral("select * from Store "), false,
            [](const db::Query& row) { return gbk::trim(row.text(QStringLiteral("StoreId"))); },
            [&](const db::Query& row, const QByteArray& code) {
                quorvan::writeWarehouse(insert, code, row.text(QStringLiteral("Store")), run.stamp());
            });
    };
    op.uses = {shell::sourceUse(QStringLiteral("Store"), QStringLiteral("StoreId,Store")),
               shell::insertUse(quorvan::kInsertCkda)};
    op.reconciliation.rows = {
        {QStringLiteral("Store"),
         QString(),
         {{QStringLiteral("StoreId"), QStringLiteral("objid"), quorvan::cutOf(quorvan::kCkda, "objid")}},
         QStringLiteral("ckda")}};
    return op;
}

} // namespace convert_v1

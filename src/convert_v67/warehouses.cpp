
#include "convert_v67/conversions.h"
#include "quorvan/places.h"
#include "shell/runframe.h"
#include "textutil/gbk.h"

namespace convert_v67 {

shell::Operation warehouses()
{
    shell::Operation op;
    op.id = QStringLiteral("warehouses");
    op.title = QStringLiteral("仓库档案转换");
    op.completion = QStringLiteral("档案转换完毕！");
    op.body = [](shell::Run& run) {
        db::Query& insert = run.target(quorvan::kInsertCkda);
        run.walk(
            QStringLiteral("select * from ck "), false,
            [](const db::Query& row) { return gbk::trim(row.text(QStringLiteral("ckbh"))); },
            [&](const db::Query& row, const QByteArray& code) {
                quorvan::writeWarehouse(insert, code, row.text(QStringLiteral("ckmc")), run.stamp());
            });
    };
    op.uses = {shell::sourceUse(QStringLiteral("ck"), QStringLiteral("ckbh,ckmc")),
               shell::insertUse(quorvan::kInsertCkda)};
    op.reconciliation.rows = {
        {QStringLiteral("ck"),
         QString(),
         {{QStringLiteral("ckbh"), QStringLiteral("objid"), quorvan::cutOf(quorvan::kCkda, "objid")}},
         QStringLiteral("ckda")}};
    return op;
}

} // namespace convert_v67

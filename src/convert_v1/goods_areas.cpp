#include "convert_v1/conversions.h"
#include "quorvan/places.h"
#include "shell/runframe.h"
#include "textutil/gbk.h"

namespace convert_v1 {

shell::Operation goodsAreas()
{
    shell::Operation op;
    op.id = QStringLiteral("goods-areas");
    op.title = QStringLiteral("货区档案转换");
    op.completion = QStringLiteral("档案转换完毕！");
    op.body = [](shell::Run& run) {
        db::Query& insert = run.target(quorvan::kInsertHqda);
        run.walk(
            QStringLiteral("select * from Organise "), false,
            [](const db::Query& row) { return gbk::trim(row.text(QStringLiteral("OrganiseId"))); },
            [&](const db::Query& row, const QByteArray& code) {
                quorvan::writeGoodsArea(insert, code, row.text(QStringLiteral("Organise")), run.stamp());
            });
    };
    op.uses = {shell::sourceUse(QStringLiteral("Organise"), QStringLiteral("OrganiseId,Organise")),
               shell::insertUse(quorvan::kInsertHqda)};
    op.reconciliation.rows = {
        {QStringLiteral("Organise"),
         QString(),
         {{QStringLiteral("OrganiseId"), QStringLiteral("objid"), quorvan::cutOf(quorvan::kHqda, "objid")}},
         QStringLiteral("hqda")}};
    return op;
}

} // namespace convert_v1


#include "convert_v67/conversions.h"
#include "quorvan/places.h"
#include "shell/runframe.h"
#include "textutil/gbk.h"

namespace convert_v67 {

shell::Operation goodsAreas()
{
    shell::Operation op;
    op.id = QStringLiteral("goods-areas");
    op.title = QStringLiteral("货区档案转换");
    op.completion = QStringLiteral("档案转换完毕！");
    op.body = [](shell::Run& run) {
        db::Query& insert = run.target(quorvan::kInsertHqda);
        run.walk(
            QStringLiteral("select * from hq "), false,
            [](const db::Query& row) { return gbk::trim(row.text(QStringLiteral("hqbh"))); },
            [&](const db::Query& row, const QByteArray& code) {
                quorvan::writeGoodsArea(insert, code, row.text(QStringLiteral("hqmc")), run.stamp());
            });
    };
    op.uses = {shell::sourceUse(QStringLiteral("hq"), QStringLiteral("hqbh,hqmc")),
               shell::insertUse(quorvan::kInsertHqda)};
    op.reconciliation.rows = {
        {QStringLiteral("hq"),
         QString(),
         {{QStringLiteral("hqbh"), QStringLiteral("objid"), quorvan::cutOf(quorvan::kHqda, "objid")}},
         QStringLiteral("hqda")}};
    return op;
}

} // namespace convert_v67

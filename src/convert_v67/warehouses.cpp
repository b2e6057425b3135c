#include "convert_v67/warehouses.h"

#include "convert_v67/conversions.h"
#include "shell/runframe.h"
#include "textutil/gbk.h"
#include "target/places.h"

namespace convert_v67 {

void writeWarehouse(db::Query& insert, const QByteArray& code, const QByteArray& name, const QByteArray& stamp)
{
    insert.bindText(QStringLiteral("objid"), code, target::cutOf(target::kCkda, "objid"));
    insert.bindText(QStringLiteral("ckmc"), name, target::cutOf(target::kCkda, "ckmc"));
    insert.bindText(QStringLiteral("xgrq"), stamp, target::cutOf(target::kCkda, "xgrq"));
    insert.bindText(QStringLiteral("jyf"), "0");
    insert.bindText(QStringLiteral("zt"), "0");
    insert.bindText(QStringLiteral("ownermdbh"), "001");
    insert.bindText(QStringLiteral("ownermdmc"), gbk::fromUnicode(QStringLiteral("超市门店")));
    insert.exec();
}

shell::Operation warehouses()
{
    shell::Operation op;
    op.id = QStringLiteral("warehouses");
    op.title = QStringLiteral("仓库档案转换");
    op.completion = QStringLiteral("档案转换完毕！");
    op.body = [](shell::Run& run) {
        db::Query& insert = run.target(kInsertCkda);
        run.walk(
            QStringLiteral("select * from ck "), false,
            [](const db::Query& row) { return gbk::trim(row.text(QStringLiteral("ckbh"))); },
            [&](const db::Query& row, const QByteArray& code) {
                writeWarehouse(insert, code, row.text(QStringLiteral("ckmc")), run.stamp());
            });
    };
    op.uses = {shell::sourceUse(QStringLiteral("ck"), QStringLiteral("ckbh,ckmc")), shell::insertUse(kInsertCkda)};
    op.reconciliation.rows = {{QStringLiteral("ck"),
                               QString(),
                               {{QStringLiteral("ckbh"), QStringLiteral("objid"), target::cutOf(target::kCkda, "objid")}},
                               QStringLiteral("ckda")}};
    return op;
}

} // namespace convert_v67

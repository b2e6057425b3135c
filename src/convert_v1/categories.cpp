#include "quorvan/categories.h"
#include "convert_v1/conversions.h"
#include "shell/runframe.h"
#include "textutil/gbk.h"

namespace convert_v1 {

// GoodsType into splbda with the parent code the row names ("-1" at the top
// level), then the "GoodsLevel" setting to the target's "01splbjc" row.
shell::Operation categories()
{
    shell::Operation op;
    op.id = QStringLiteral("categories");
    op.title = QStringLiteral("商品类别转换");
    op.completion = QStringLiteral("档案转换完毕！");
    op.body = [](shell::Run& run) {
        db::Query& insert = run.target(quorvan::kInsertSplbda);
        run.walk(
            QStringLiteral("select * from GoodsType  "), false,
            [](const db::Query& row) { return gbk::trim(row.text(QStringLiteral("GoodsTypeId"))); },
            [&](const db::Query& row, const QByteArray& code) {
                // Only the exact text "-1" marks the top; a padded one is kept as the parent code.
                QByteArray parent = row.text(QStringLiteral("parent"));
                if (parent == "-1")
                    parent.clear();
                quorvan::writeCategory(insert, code, row.text(QStringLiteral("GoodsTypeName")), parent, run.stamp());
            });
        quorvan::copyLevelSetting(
            run, run.lookup(QStringLiteral("select vals2 from AccountInfo where item=:p1"), {"GoodsLevel"}));
    };
    op.uses = {
        shell::sourceUse(QStringLiteral("GoodsType"), QStringLiteral("GoodsTypeId,GoodsTypeName,parent")),
        shell::sourceUse(QStringLiteral("AccountInfo"), QStringLiteral("vals2,item")),
        shell::insertUse(quorvan::kInsertSplbda),
        shell::targetUse(QStringLiteral("xx"), QStringLiteral("fvalue,objid")),
    };
    // The parent codes come from the rows: the setting is only copied.
    const shell::SettingRow levels = quorvan::sourceSetting(
        QStringLiteral("AccountInfo"), QStringLiteral("item"), "GoodsLevel", QStringLiteral("vals2"),
        QStringLiteral("商品类别级别设置"), QStringLiteral("GoodsType"), QString());
    op.settings = {levels, quorvan::targetLevelSetting()};
    op.fields = quorvan::fieldsInto(QStringLiteral("GoodsType"), QStringLiteral("splbda"),
                                    QStringLiteral("GoodsTypeId>objid"), true) +
                quorvan::fieldsInto(QStringLiteral("GoodsType"), QStringLiteral("splbda"),
                                    QStringLiteral("GoodsTypeName>splbmc,parent>fbbh"), false);
    op.reconciliation.setting = shell::SettingCopy{levels, quorvan::targetLevelSetting()};
    op.reconciliation.rows = {{QStringLiteral("GoodsType"),
                               QString(),
                               {{QStringLiteral("GoodsTypeId"), QStringLiteral("objid")}},
                               QStringLiteral("splbda")}};
    return op;
}

} // namespace convert_v1

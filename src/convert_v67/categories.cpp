#include "quorvan/categories.h"
#include "convert_v67/conversions.h"
#include "shell/runframe.h"
#include "textutil/gbk.h"

namespace convert_v67 {

namespace {

const QString kLevelSettingLookup = QStringLiteral("select vals1 from xx where xm=:p1");

} // namespace

// splb into splbda; each parent code is the prefix of the category's own code
// that the "spjc" level setting gives its level. The setting itself goes to the
// target's "01splbjc" row afterwards.
shell::Operation categories()
{
    shell::Operation op;
    op.id = QStringLiteral("categories");
    op.title = QStringLiteral("商品类别转换");
    op.completion = QStringLiteral("档案转换完毕！");
    op.body = [](shell::Run& run) {
        db::Query& insert = run.target(quorvan::kInsertSplbda);
        const QByteArray levelSetting = run.lookup(kLevelSettingLookup, {"spjc"});
        run.walk(
            QStringLiteral("select * from splb  "), false,
            [](const db::Query& row) { return gbk::trim(row.text(QStringLiteral("lbbh"))); },
            [&](const db::Query& row, const QByteArray& code) {
                const QByteArray parent = quorvan::parentByLevel(code, row.integer(QStringLiteral("jc")), levelSetting);
                quorvan::writeCategory(insert, code, row.text(QStringLiteral("lbmc")), parent, run.stamp());
            });
        quorvan::copyLevelSetting(run, run.lookup(kLevelSettingLookup, {"spjc"}));
    };
    op.uses = {
        shell::sourceUse(QStringLiteral("splb"), QStringLiteral("lbbh,lbmc,jc")),
        shell::sourceUse(QStringLiteral("xx"), QStringLiteral("vals1,xm")),
        shell::insertUse(quorvan::kInsertSplbda),
        shell::targetUse(QStringLiteral("xx"), QStringLiteral("fvalue,objid")),
    };
    const shell::SettingRow levels =
        quorvan::sourceSetting(QStringLiteral("xx"), QStringLiteral("xm"), "spjc", QStringLiteral("vals1"),
                               QStringLiteral("商品类别级别设置"), QStringLiteral("splb"), QStringLiteral("jc"));
    op.settings = {levels, quorvan::targetLevelSetting()};
    op.fields =
        quorvan::fieldsInto(QStringLiteral("splb"), QStringLiteral("splbda"), QStringLiteral("lbbh>objid"), true) +
        quorvan::fieldsInto(QStringLiteral("splb"), QStringLiteral("splbda"), QStringLiteral("lbmc>splbmc"), false);
    op.reconciliation.setting = shell::SettingCopy{levels, quorvan::targetLevelSetting()};
    op.reconciliation.rows = {{QStringLiteral("splb"),
                               QString(),
                               {{QStringLiteral("lbbh"), QStringLiteral("objid")}},
                               QStringLiteral("splbda")}};
    return op;
}

} // namespace convert_v67

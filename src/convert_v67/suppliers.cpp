#include "quorvan/suppliers.h"
#include "convert_v67/conversions.h"
#include "quorvan/categories.h"
#include "shell/runframe.h"
#include "textutil/gbk.h"

namespace convert_v67 {

// gys into gysda, then gyslb into gyslbda, each category's parent code the
// prefix of its own code that the "gysjc" level setting gives its level.
shell::Operation suppliers()
{
    shell::Operation op;
    op.id = QStringLiteral("suppliers");
    op.title = QStringLiteral("供应商转换");
    op.completion = QStringLiteral("档案转换完毕！");
    op.body = [](shell::Run& run) {
        db::Query& insertSupplier = run.target(quorvan::kInsertGysda);
        run.walk(
            QStringLiteral("select * from gys "), false,
            [](const db::Query& row) { return gbk::trim(row.text(QStringLiteral("gysbh"))); },
            [&](const db::Query& row, const QByteArray& code) {
                quorvan::Supplier s;
                s.code = code;
                s.name = row.text(QStringLiteral("gysmc"));
                s.saleModeName =
                    run.lookup({QStringLiteral("spxx"), QStringLiteral("gysbh"), QStringLiteral("fs"), true}, code);
                s.categoryCode = row.text(QStringLiteral("gyslbbh"));
                s.categoryName = run.lookup(
                    {QStringLiteral("gyslb"), QStringLiteral("gyslbbh"), QStringLiteral("gyslbmc")}, s.categoryCode);
                s.fax = row.text(QStringLiteral("cz"));
                s.phone = row.text(QStringLiteral("dh"));
                s.address = row.text(QStringLiteral("dz"));
                s.bank = row.text(QStringLiteral("khh"));
                s.taxNumber = row.text(QStringLiteral("sh"));
                s.account = row.text(QStringLiteral("zh"));
                s.contact = row.text(QStringLiteral("lxr"));
                s.postcode = row.text(QStringLiteral("yb"));
                quorvan::writeSupplier(insertSupplier, s, run.stamp(), run.today());
            });

        db::Query& insertCategory = run.target(quorvan::kInsertGyslbda);
        run.retakeStamp();
        const QByteArray levelSetting =
            run.lookup({QStringLiteral("xx"), QStringLiteral("xm"), QStringLiteral("vals1")}, "gysjc");
        run.walk(
            QStringLiteral("select * from gyslb  "), false,
            [](const db::Query& row) { return gbk::trim(row.text(QStringLiteral("gyslbbh"))); },
            [&](const db::Query& row, const QByteArray& code) {
                const QByteArray parent = quorvan::parentByLevel(code, row.integer(QStringLiteral("jc")), levelSetting);
                quorvan::writeSupplierCategory(insertCategory, code, row.text(QStringLiteral("gyslbmc")), parent,
                                               run.stamp());
            });
    };
    op.uses = {
        shell::sourceUse(QStringLiteral("gys"), QStringLiteral("gysbh,gysmc,gyslbbh,cz,dh,dz,khh,sh,zh,lxr,yb")),
        shell::sourceUse(QStringLiteral("spxx"), QStringLiteral("fs,gysbh")),
        shell::sourceUse(QStringLiteral("gyslb"), QStringLiteral("gyslbbh,gyslbmc,jc")),
        shell::sourceUse(QStringLiteral("xx"), QStringLiteral("vals1,xm")),
        shell::insertUse(quorvan::kInsertGysda),
        shell::insertUse(quorvan::kInsertGyslbda),
    };
    op.settings = {quorvan::sourceSetting(QStringLiteral("xx"), QStringLiteral("xm"), "gysjc", QStringLiteral("vals1"),
                                          QStringLiteral("供应商类别级别设置"), QStringLiteral("gyslb"),
                                          QStringLiteral("jc"))};
    op.fields =
        quorvan::fieldsInto(QStringLiteral("gyslb"), QStringLiteral("gyslbda"), QStringLiteral("gyslbbh>objid"), true) +
        quorvan::fieldsInto(QStringLiteral("gyslb"), QStringLiteral("gyslbda"), QStringLiteral("gyslbmc>gyslbmc"),
                            false);
    op.reconciliation.rows = {
        {QStringLiteral("gys"),
         QString(),
         {{QStringLiteral("gysbh"), QStringLiteral("objid"), quorvan::cutOf(quorvan::kGysda, "objid")}},
         QStringLiteral("gysda")},
        {QStringLiteral("gyslb"),
         QString(),
         {{QStringLiteral("gyslbbh"), QStringLiteral("objid")}},
         QStringLiteral("gyslbda")},
    };
    return op;
}

} // namespace convert_v67

#include "quorvan/suppliers.h"
#include "convert_v1/conversions.h"
#include "shell/runframe.h"
#include "textutil/gbk.h"

namespace convert_v1 {

// Supplier into gysda, then SupplierType into gyslbda with the parent code the
// row names ("-1" at the top level).
shell::Operation suppliers()
{
    shell::Operation op;
    op.id = QStringLiteral("suppliers");
    op.title = QStringLiteral("供应商转换");
    op.completion = QStringLiteral("档案转换完毕！");
    op.body = [](shell::Run& run) {
        db::Query& insertSupplier = run.target(quorvan::kInsertGysdaWithScope);
        run.walk(
            QStringLiteral("select * from Supplier "), false,
            [](const db::Query& row) { return gbk::trim(row.text(QStringLiteral("SupplierId"))); },
            [&](const db::Query& row, const QByteArray& code) {
                quorvan::Supplier s;
                s.code = code;
                s.name = row.text(QStringLiteral("Supplier"));
                s.saleModeName = run.lookup(
                    {QStringLiteral("goods"), QStringLiteral("SupplierId"), QStringLiteral("Salemode"), true}, code);
                s.categoryCode = row.text(QStringLiteral("SupplierTypeid"));
                s.categoryName = run.lookup(
                    {QStringLiteral("SupplierType"), QStringLiteral("SupplierTypeId"), QStringLiteral("SupplierType")},
                    s.categoryCode);
                s.fax = row.text(QStringLiteral("Fax"));
                s.phone = row.text(QStringLiteral("Phone"));
                s.address = row.text(QStringLiteral("Address"));
                s.manager = row.text(QStringLiteral("manager"));
                s.bank = row.text(QStringLiteral("Bank"));
                s.taxNumber = row.text(QStringLiteral("TaxCode"));
                s.account = row.text(QStringLiteral("Accounts"));
                s.contact = row.text(QStringLiteral("Linkman"));
                s.postcode = row.text(QStringLiteral("Zip"));
                s.goodsScope = row.text(QStringLiteral("GoodsScope"));
                s.remark = row.text(QStringLiteral("memo1"));
                quorvan::writeSupplier(insertSupplier, s, run.stamp(), run.today());
            });

        db::Query& insertCategory = run.target(quorvan::kInsertGyslbda);
        run.retakeStamp();
        run.walk(
            QStringLiteral("select * from SupplierType  "), false,
            [](const db::Query& row) { return gbk::trim(row.text(QStringLiteral("SupplierTypeId"))); },
            [&](const db::Query& row, const QByteArray& code) {
                // Only the exact text "-1" marks the top; a padded one is kept as the parent code.
                QByteArray parent = row.text(QStringLiteral("parent"));
                if (parent == "-1")
                    parent.clear();
                quorvan::writeSupplierCategory(insertCategory, code, row.text(QStringLiteral("SupplierType")), parent,
                                               run.stamp());
            });
    };
    op.uses = {
        shell::sourceUse(QStringLiteral("Supplier"),
                         QStringLiteral("SupplierId,Supplier,SupplierTypeid,Fax,Phone,Address,manager,Bank,"
                                        "TaxCode,Accounts,Linkman,Zip,GoodsScope,memo1")),
        shell::sourceUse(QStringLiteral("goods"), QStringLiteral("Salemode,SupplierId")),
        shell::sourceUse(QStringLiteral("SupplierType"), QStringLiteral("SupplierTypeId,SupplierType,parent")),
        shell::insertUse(quorvan::kInsertGysdaWithScope),
        shell::insertUse(quorvan::kInsertGyslbda),
    };
    op.fields = quorvan::fieldsInto(QStringLiteral("SupplierType"), QStringLiteral("gyslbda"),
                                    QStringLiteral("SupplierTypeId>objid"), true) +
                quorvan::fieldsInto(QStringLiteral("SupplierType"), QStringLiteral("gyslbda"),
                                    QStringLiteral("SupplierType>gyslbmc,parent>fbbh"), false);
    op.reconciliation.rows = {
        {QStringLiteral("Supplier"),
         QString(),
         {{QStringLiteral("SupplierId"), QStringLiteral("objid"), quorvan::cutOf(quorvan::kGysda, "objid")}},
         QStringLiteral("gysda")},
        {QStringLiteral("SupplierType"),
         QString(),
         {{QStringLiteral("SupplierTypeId"), QStringLiteral("objid")}},
         QStringLiteral("gyslbda")},
    };
    return op;
}

} // namespace convert_v1

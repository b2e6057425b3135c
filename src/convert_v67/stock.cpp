#include "quorvan/stock.h"
#include "convert_v67/conversions.h"
#include "shell/runframe.h"
#include "textutil/gbk.h"

namespace convert_v67 {

shell::Operation stock()
{
    shell::Operation op;
    op.id = QStringLiteral("stock");
    op.title = QStringLiteral("库存转换");
    op.completion = QStringLiteral("库存转换完毕！");
    op.interruptedNote = quorvan::kStockInterrupted;
    op.body = [](shell::Run& run) {
        static const shell::Lookup kPurchasePrice{QStringLiteral("spxx"), QStringLiteral("spbh"),
                                                  QStringLiteral("jhjj")};
        static const shell::Lookup kRetailPrice{QStringLiteral("spxx"), QStringLiteral("spbh"), QStringLiteral("lsj")};
        static const shell::Lookup kWarehouseName{QStringLiteral("ck"), QStringLiteral("ckbh"), QStringLiteral("ckmc")};
        static const shell::Lookup kProductName{QStringLiteral("spxx"), QStringLiteral("spbh"), QStringLiteral("spmc")};
        static const shell::Lookup kUnit{QStringLiteral("spxx"), QStringLiteral("spbh"), QStringLiteral("jldw")};
        db::Query& insert = run.target(quorvan::kInsertSpckkc);
        // The abort box is not consulted: the stock of every row is converted.
        quorvan::WarehouseCuts cuts;
        try {
            run.walk(
                QStringLiteral("select * from spkc "), false,
                [](const db::Query& row) {
                    return gbk::trim(row.text(QStringLiteral("ckbh"))) + gbk::trim(row.text(QStringLiteral("spbh")));
                },
                [&](const db::Query& row, const QByteArray&) {
                    quorvan::StockRow s;
                    s.ckbh = gbk::trim(row.text(QStringLiteral("ckbh")));
                    s.spbh = gbk::trim(row.text(QStringLiteral("spbh")));
                    s.purchasePrice = quorvan::softPrice(run, kPurchasePrice, s.spbh);
                    s.retailPrice = quorvan::softPrice(run, kRetailPrice, s.spbh);
                    s.ckmc = run.lookup(kWarehouseName, {s.ckbh});
                    s.spmc = run.lookup(kProductName, {s.spbh});
                    s.dwmc = run.lookup(kUnit, {s.spbh});
                    s.yesl = row.amount(QStringLiteral("yesl"));
                    cuts.see(s.ckbh);
                    quorvan::writeStock(insert, s, run.stamp());
                },
                [&](const db::Query& row, int) {
                    const QByteArray spbh = gbk::trim(row.text(QStringLiteral("spbh")));
                    for (const shell::Lookup* statement : {&kPurchasePrice, &kRetailPrice, &kProductName, &kUnit})
                        run.listLookup(*statement, spbh);
                    run.listLookup(kWarehouseName, gbk::trim(row.text(QStringLiteral("ckbh"))));
                });
        } catch (const belmire::Error& e) {
            cuts.rethrow(e);
        }
        quorvan::buildStoreStock(run);
    };
    op.uses =
        QList<shell::TableUse>{
            shell::sourceUse(QStringLiteral("spkc"), QStringLiteral("ckbh,spbh,yesl")),
            shell::sourceUse(QStringLiteral("spxx"), QStringLiteral("spbh,jhjj,lsj,spmc,jldw")),
            shell::sourceUse(QStringLiteral("ck"), QStringLiteral("ckbh,ckmc")),
        } +
        quorvan::stockTargetUses();
    op.reconciliation.rows = {
        {QStringLiteral("spkc"),
         QString(),
         {{QStringLiteral("ckbh"), QStringLiteral("ckbh"), quorvan::cutOf(quorvan::kSpckkc, "ckbh")},
          {QStringLiteral("spbh"), QStringLiteral("spbh"), quorvan::cutOf(quorvan::kSpckkc, "spbh")}},
         QStringLiteral("spckkc")}};
    op.reconciliation.stock =
        shell::StockSums{QStringLiteral("spkc"), QStringLiteral("spbh"), QStringLiteral("yesl"), QStringLiteral("spxx"),
                         QStringLiteral("spbh"), QStringLiteral("jhjj"), QStringLiteral("lsj")};
    return op;
}

} // namespace convert_v67

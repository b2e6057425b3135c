#include "quorvan/stock.h"
#include "convert_v1/conversions.h"
#include "shell/runframe.h"
#include "textutil/error.h"
#include "textutil/gbk.h"

namespace convert_v1 {

shell::Operation stock()
{
    shell::Operation op;
    op.id = QStringLiteral("stock");
    op.title = QStringLiteral("库存转换");
    op.completion = QStringLiteral("库存转换完毕！");
    op.interruptedNote = quorvan::kStockInterrupted;
    op.body = [](shell::Run& run) {
        static const shell::Lookup kPurchasePrice{QStringLiteral("goods"), QStringLiteral("goodsid"),
                                                  QStringLiteral("StockPrice")};
        static const shell::Lookup kRetailPrice{QStringLiteral("goods"), QStringLiteral("goodsid"),
                                                QStringLiteral("RetailPrice")};
        static const shell::Lookup kUnit{QStringLiteral("goods"), QStringLiteral("goodsid"), QStringLiteral("unit")};
        db::Query& insert = run.target(quorvan::kInsertSpckkc);
        // An abort ends the walk; the store stock is then built from the rows written so far.
        quorvan::WarehouseCuts cuts;
        try {
            run.walk(
                QStringLiteral("select * from GoodsStoreBalance "), true,
                [](const db::Query& row) {
                    return gbk::trim(row.text(QStringLiteral("StoreId"))) +
                           gbk::trim(row.text(QStringLiteral("GoodsId")));
                },
                [&](const db::Query& row, const QByteArray&) {
                    quorvan::StockRow s;
                    s.ckbh = gbk::trim(row.text(QStringLiteral("StoreId")));
                    s.spbh = gbk::trim(row.text(QStringLiteral("GoodsId")));
                    s.purchasePrice = quorvan::softPrice(run, kPurchasePrice, s.spbh);
                    s.retailPrice = quorvan::softPrice(run, kRetailPrice, s.spbh);
                    s.ckmc = row.text(QStringLiteral("Store"));
                    s.spmc = row.text(QStringLiteral("Goods"));
                    s.dwmc = run.lookup(kUnit, {s.spbh});
                    // The quantity is read softly, like the prices.
                    try {
                        s.yesl = row.amount(QStringLiteral("BalanceNum"));
                    } catch (const belmire::Error&) {
                        s.yesl = {};
                    }
                    cuts.see(s.ckbh);
                    quorvan::writeStock(insert, s, run.stamp());
                },
                [&](const db::Query& row, int) {
                    const QByteArray spbh = gbk::trim(row.text(QStringLiteral("GoodsId")));
                    for (const shell::Lookup* statement : {&kPurchasePrice, &kRetailPrice, &kUnit})
                        run.listLookup(*statement, spbh);
                });
        } catch (const belmire::Error& e) {
            cuts.rethrow(e);
        }
        quorvan::buildStoreStock(run);
    };
    op.uses =
        QList<shell::TableUse>{
            shell::sourceUse(QStringLiteral("GoodsStoreBalance"),
                             QStringLiteral("StoreId,GoodsId,Store,Goods,BalanceNum")),
            shell::sourceUse(QStringLiteral("goods"), QStringLiteral("goodsid,StockPrice,RetailPrice,unit")),
        } +
        quorvan::stockTargetUses();
    op.reconciliation.rows = {
        {QStringLiteral("GoodsStoreBalance"),
         QString(),
         {{QStringLiteral("StoreId"), QStringLiteral("ckbh"), quorvan::cutOf(quorvan::kSpckkc, "ckbh")},
          {QStringLiteral("GoodsId"), QStringLiteral("spbh"), quorvan::cutOf(quorvan::kSpckkc, "spbh")}},
         QStringLiteral("spckkc")}};
    op.reconciliation.stock = shell::StockSums{QStringLiteral("GoodsStoreBalance"), QStringLiteral("GoodsId"),
                                               QStringLiteral("BalanceNum"),        QStringLiteral("goods"),
                                               QStringLiteral("goodsid"),           QStringLiteral("StockPrice"),
                                               QStringLiteral("RetailPrice")};
    return op;
}

} // namespace convert_v1

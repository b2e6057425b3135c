#include "quorvan/stock.h"
#include "convert_v1/conversions.h"

namespace convert_v1 {

using namespace quorvan::rule;

// GoodsStoreBalance into spckkc with the names it holds, prices and unit
// looked up; an abort ends the walk, and the store stock is then built from
// the rows written so far. The quantity is read softly, like the prices.
shell::Operation stock()
{
    return quorvan::stock(
        quorvan::Rules(quorvan::kSpckkcTable, QStringLiteral("GoodsStoreBalance"),
                       {
                           code("ckbh", "StoreId"),
                           code("spbh", "GoodsId"),
                           valued("yecbje", "yesl", from("goods", "goodsid", "StockPrice"), "GoodsId"),
                           valued("yesjje", "yesl", from("goods", "goodsid", "RetailPrice"), "GoodsId"),
                           field("ckmc", "Store"),
                           field("spmc", "Goods"),
                           lookupTrimmed("dwmc", from("goods", "goodsid", "unit"), "GoodsId"),
                           softAmount("yesl", "BalanceNum"),
                           stamp("xgrq"),
                       }),
        true);
}

} // namespace convert_v1

// V1 product conversion, SQLite to SQLite and SQLite to PostgreSQL.
#include "support/product_tables.h"
#include "support/testdb.h"

#include "db/amount.h"

#include <gtest/gtest.h>

using namespace testing_support;
using shell::Family;

namespace {

const QString kStamp = QStringLiteral("2026-12-08 09:05 07");

class ProductsV1 : public ::testing::TestWithParam<Backend> {};

// A Goods row: the given columns, every other column NULL.
void addGoods(TestDb& source, const QString& columns, const QString& values)
{
    source.exec(QStringLiteral("insert into Goods (%1) values (%2);").arg(columns, values));
}

void addBarCode(TestDb& source, const QString& goodsId, const QString& barCode, const QString& type)
{
    source.exec(QStringLiteral("insert into GoodsBarCode (GoodsId, GoodsBarCode, Type) values ('%1', '%2', '%3');")
                    .arg(goodsId, barCode, type));
}

const QString kAllColumns = QStringLiteral(
    "goodsid,GoodsName,Model,GoodsTypeId,GoodsTypeName,Available,ProducingArea,grade,Trademark,StockTaxRate,"
    "SaleTaxRate,IfWeigh,IfStore,SupplierId,SupplierName,SaleDisCount,Salemode,IfChangePrice,ProvideType,OrganiseId,"
    "Organise,Conversion,StockPrice,RetailPrice,NumberPrice,TradePrice,Unit,PackStockPrice,PackRetailPrice,"
    "PackNumberPrice,PackTradePrice,packUnit,WeighId,GoodsBarCode");

// A unit row with the prices, the no-tax prices 0.
QString unit(const QString& objid, const QString& fid, const QString& dwmc, const QString& sptm, const QString& ifjbdw,
             const QString& dwjl, const QString& prices)
{
    return row({objid, fid, dwmc, sptm, ifjbdw, dwjl, prices, "0.0000", "0.0000", "0.0000"});
}

const QString kBasicPrices = QStringLiteral("1.0000|2.0000|3.0000|4.0000");
const QString kPackPrices = QStringLiteral("10.0000|20.0000|30.0000|40.0000");
const QString kNoPrices = QStringLiteral("0.0000|0.0000|0.0000|0.0000");

} // namespace

TEST_P(ProductsV1, WritesEveryShapeOfUnitRows)
{
    REQUIRE_BACKEND(GetParam());
    Shop shop(QStringLiteral("source_v1_sqlite.sql"), GetParam());
    TestDb& src = shop.source();
    const QString basic = QStringLiteral("基本单位"), package = QStringLiteral("包装单位");
    addGoods(
        src, kAllColumns,
        QStringLiteral("' G''1\r\n', '中国 abc', '规格型号ABCDEF', 'T1', '饮料', '12个月', '山东', '一级', '牌子', "
                       "13, 9.5, 0, 1, 'S1', 'A供应商名称一二三四五六', 5, '代销', 1, '统配品', ' O1 ', ' 生鲜区 ', "
                       "12, 1, 2, 3, 4, 'A公斤袋', 10, 20, 30, 40, '箱', 'W-ignored', ' 690G1 '"));
    addGoods(src, QStringLiteral("IfWeigh"), QStringLiteral("NULL")); // every field NULL
    addGoods(src,
             QStringLiteral("goodsid,IfWeigh,WeighId,Salemode,ProvideType,StockPrice,RetailPrice,NumberPrice,"
                            "TradePrice,Unit"),
             QStringLiteral("'G3', 1, ' 2001 ', '批发', '统配品 ', 1, 2, 3, 4, '千克'"));
    addGoods(src, QStringLiteral("goodsid,IfWeigh,Unit"), QStringLiteral("'G4', 1, '千克'"));
    addGoods(src, QStringLiteral("goodsid,IfWeigh,GoodsBarCode,Conversion"), QStringLiteral("'G5', 0, ' 690G5 ', -1"));
    addGoods(src,
             QStringLiteral("goodsid,Conversion,packUnit,PackStockPrice,PackRetailPrice,PackNumberPrice,"
                            "PackTradePrice"),
             QStringLiteral("'G6', 0, '箱', 10, 20, 30, 40"));
    // Bar-code rows in mixed order; the rows of products sold by weight are never read.
    addBarCode(src, QStringLiteral("G''1"), QStringLiteral(" B1 "), basic);
    addBarCode(src, QStringLiteral("G6"), QStringLiteral("P6a"), package);
    addBarCode(src, QStringLiteral("G''1"), QStringLiteral("B9"), QStringLiteral("其他"));
    addBarCode(src, QStringLiteral("G3"), QStringLiteral("G3BAR"), basic);
    addBarCode(src, QStringLiteral("G4"), QStringLiteral("G4BAR"), basic);
    addBarCode(src, QStringLiteral("G''1"), QStringLiteral("P1"), package);
    addBarCode(src, QStringLiteral("G6"), QStringLiteral("P6b"), package);
    addBarCode(src, QStringLiteral("G''1"), QStringLiteral("B2"), basic);
    shop.target().exec(QStringLiteral("insert into ryblda (objid, blmc, xgrq) values ('02', 'old', 'x');"));

    RecordingFrontend fe;
    const auto r = runOperation(shop, Family::V1, QStringLiteral("products"), fe);
    ASSERT_TRUE(r.ok) << r.message.toStdString();
    EXPECT_EQ(r.rowsRead, 6);
    EXPECT_EQ(fe.completions, QStringList{QStringLiteral("提示/档案转换完毕！")});
    EXPECT_EQ(fe.progress, QStringLiteral("信息:6/6  (编号G6)"));
    EXPECT_TRUE(fe.log.isEmpty()) << fe.log.join(u'\n').toStdString();
    EXPECT_EQ(shop.target().rows(QStringLiteral("select objid,blmc,xgrq from ryblda")),
              QStringList{row({"01", "无部类", kStamp})});
    const auto plain = [](const QString& code, const QString& scspf, const QString& amounts) {
        return row({code, "",         "",  "",   "",       "",  "",       "",    "",  "",     "",
                    "",   "",         "0", "",   kStamp,   "0", "0",      scspf, "1", "0",    "经销",
                    "1",  "总部控制", "",  "01", "无部类", "0", "直配品", "",    "",  amounts});
    };
    EXPECT_EQ(rows(shop.target(), kSpda, 31, 33),
              (QStringList{
                  plain("", "0", "0.0000|0.0000|0.0000"),
                  row({"G'1",    "中国 abc", "规格型号AB", "S1",       "A供应商名称一二三四",
                       "T1",     "饮料",     "ZG ABC",     "12个月",   "山东",
                       "一级",   "牌子",     "",           "0",        "",
                       kStamp,   "0",        "0",          "0",        "0",
                       "1",      "代销",     "0",          "门店控制", "",
                       "01",     "无部类",   "1",          "统配品",   "O1",
                       "生鲜区", "13.0000",  "9.5000",     "5.0000"}),
                  plain("G3", "1", "0.0000|0.0000|0.0000"),
                  plain("G4", "1", "0.0000|0.0000|0.0000"),
                  plain("G5", "0", "0.0000|0.0000|0.0000"),
                  plain("G6", "0", "0.0000|0.0000|0.0000"),
              }));
    EXPECT_EQ(rows(shop.target(), kSpdw, 5, 12), (QStringList{
                                                     unit("", "0", "", "", "1", "1.0000", kNoPrices),
                                                     unit("G'1", "0", "A公斤", " B1 ", "1", "1.0000", kBasicPrices),
                                                     unit("G'1", "2", "箱", "P1", "0", "12.0000", kPackPrices),
                                                     unit("G'1", "3", "A公斤", "B2", "0", "1.0000", kBasicPrices),
                                                     unit("G3", "0", "千克", " 2001 ", "1", "1.0000", kBasicPrices),
                                                     unit("G4", "0", "千克", "", "1", "1.0000", kNoPrices),
                                                     unit("G5", "0", "", " 690G5 ", "1", "1.0000", kNoPrices),
                                                     unit("G6", "0", "箱", "P6a", "0", "1.0000", kPackPrices),
                                                     unit("G6", "1", "箱", "P6b", "0", "1.0000", kPackPrices),
                                                 }));
}

TEST_P(ProductsV1, DuplicatesAreLoggedAndRunsRepeat)
{
    REQUIRE_BACKEND(GetParam());
    Shop shop(QStringLiteral("source_v1_sqlite.sql"), GetParam());
    shop.target().exec(QStringLiteral("insert into spda (objid, spmc) values ('OLD', 'old');\n"
                                      "insert into spdw (objid, fid, sptm) values ('OLD', 0, '690OLD');\n"
                                      "insert into spda (objid, spmc) values ('X', 'x');\n"
                                      "insert into spdw (objid, fid, sptm) values ('X', 0, 'X');"));
    TestDb& src = shop.source();
    const QString cols = QStringLiteral("goodsid,IfWeigh,WeighId,GoodsBarCode");
    const QString basic = QStringLiteral("基本单位"), package = QStringLiteral("包装单位");
    addGoods(src, cols, QStringLiteral("'OLD ', 0, NULL, '690OLD'")); // code taken: no bar-code notices
    addGoods(src, cols, QStringLiteral("'N2', 1, '690OLD', NULL"));   // scale code in spdw
    addGoods(src, cols, QStringLiteral("'N3', 1, ' X ', 'ignored'")); // scale code in both
    addGoods(src, cols, QStringLiteral("'N4', 0, NULL, 'OLD'"));      // bar code is a product code
    addGoods(src, cols, QStringLiteral("'N5', 0, NULL, '690OLD'"));   // own and row bar codes
    addGoods(src, cols, QStringLiteral("'N6', 1, 'N5', NULL"));       // scale code written by this run
    addGoods(src, cols, QStringLiteral("'N2', 0, NULL, NULL"));       // code repeats in the source
    addGoods(src, cols, QStringLiteral("'N''8', 0, NULL, 'N''8'"));   // its own code, checked after spda
    addBarCode(src, QStringLiteral("OLD"), QStringLiteral("OLDROW"), basic);
    addBarCode(src, QStringLiteral("N5"), QStringLiteral(" OLD "), basic);
    addBarCode(src, QStringLiteral("N5"), QStringLiteral("D5X"), package);
    addBarCode(src, QStringLiteral("N5"), QStringLiteral("D5X"), basic);
    addBarCode(src, QStringLiteral("N''8"), QStringLiteral("Q''1"), basic);

    RecordingFrontend fe;
    fe.abort = true; // ticked before the run: no product, but the departments are reset
    auto r = runOperation(shop, Family::V1, QStringLiteral("products"), fe);
    ASSERT_TRUE(r.ok) << r.message.toStdString();
    EXPECT_EQ(fe.completions, QStringList{QStringLiteral("提示/档案转换完毕！")});
    EXPECT_EQ(shop.target().rows(QStringLiteral("select objid,blmc,xgrq from ryblda")),
              QStringList{row({"01", "无部类", kStamp})});
    EXPECT_EQ(shop.target().scalar(QStringLiteral("select count(*) from spda")), QStringLiteral("2"));

    fe.abort = false;
    r = runOperation(shop, Family::V1, QStringLiteral("products"), fe);
    ASSERT_TRUE(r.ok) << r.message.toStdString();
    EXPECT_EQ(r.rowsSkipped, 2);
    EXPECT_EQ(fe.log, (QStringList{"商品编号重复：OLD", "商品称码重复：690OLD", "商品称码重复：X",
                                   "商品编号与称码重复：X", "商品编号与条码重复：OLD", "商品条码重复：690OLD",
                                   "商品条码重复：OLD", "商品编号与条码重复：OLD", "商品条码重复：D5X",
                                   "商品编号与称码重复：N5", "商品编号重复：N2", "商品编号与条码重复：N'8"}));
    EXPECT_EQ(shop.target().rows(QStringLiteral("select objid,fid,sptm,ifjbdw from spdw order by objid,fid")),
              (QStringList{row({"N'8", "0", "Q'1", "1"}), row({"N2", "0", "690OLD", "1"}), row({"N3", "0", " X ", "1"}),
                           row({"N4", "0", "OLD", "1"}), row({"N5", "0", " OLD ", "1"}), row({"N5", "1", "D5X", "0"}),
                           row({"N5", "2", "D5X", "0"}), row({"N6", "0", "N5", "1"}), row({"OLD", "0", "690OLD", ""}),
                           row({"X", "0", "X", ""})}));

    // A second run without clearing skips every product before any bar code is checked.
    r = runOperation(shop, Family::V1, QStringLiteral("products"), fe);
    ASSERT_TRUE(r.ok) << r.message.toStdString();
    QStringList skipped;
    for (const char* code : {"OLD", "N2", "N3", "N4", "N5", "N6", "N2", "N'8"})
        skipped << QStringLiteral("商品编号重复：") + QLatin1String(code);
    EXPECT_EQ(fe.log, skipped);
    EXPECT_EQ(shop.target().scalar(QStringLiteral("select count(*) from spdw")), QStringLiteral("10"));
    EXPECT_EQ(shop.target().scalar(QStringLiteral("select count(*) from ryblda")), QStringLiteral("1"));
}

INSTANTIATE_TEST_SUITE_P(Backends, ProductsV1, ::testing::Values(Backend::SQLite, Backend::PostgreSQL),
                         [](const auto& info) { return backendName(info.param).toStdString(); });

#include "quorvan/products.h"
#include "convert_v1/conversions.h"
#include "quorvan/suppliers.h"
#include "shell/runframe.h"
#include "textutil/gbk.h"
#include "textutil/imcode.h"

#include <optional>

namespace convert_v1 {
namespace {

using quorvan::ProductRow;
using quorvan::ProductTarget;
using quorvan::UnitRow;

void convertProducts(shell::Run& run)
{
    ProductTarget target(run);
    run.retakeStamp();
    // The bar codes of each product, read when the first product not sold by
    // weight needs them (so a source without them converts products sold by weight).
    shell::KeyedRows barCodes(run, QStringLiteral("GoodsBarCode"), QStringLiteral("GoodsId"),
                              {QStringLiteral("GoodsBarCode"), QStringLiteral("Type")});

    const QByteArray shopControl = gbk::fromUnicode(QStringLiteral("门店控制"));
    const QByteArray headOfficeControl = gbk::fromUnicode(QStringLiteral("总部控制"));
    const QByteArray centralSupply = gbk::fromUnicode(QStringLiteral("统配品"));
    const QByteArray directSupply = gbk::fromUnicode(QStringLiteral("直配品"));
    const QByteArray basicUnit = gbk::fromUnicode(QStringLiteral("基本单位"));
    const QByteArray packageUnit = gbk::fromUnicode(QStringLiteral("包装单位"));

    ProductRow p;
    UnitRow basic;   // scale row, single row and basic-unit rows
    UnitRow package; // package-unit rows
    basic.dwjlInteger = true;

    run.walk(
        QStringLiteral(" SELECT * from Goods "), true,
        [](const db::Query& row) { return gbk::trim(row.text(QStringLiteral("goodsid"))); },
        [&](const db::Query& row, const QByteArray& code) {
            p.objid = code;
            p.spmc = row.text(QStringLiteral("GoodsName"));
            p.ggxh = row.text(QStringLiteral("Model"));
            p.splbbh = row.text(QStringLiteral("GoodsTypeId"));
            p.splbmc = row.text(QStringLiteral("GoodsTypeName"));
            p.zjm = textutil::MnemonicCode(p.spmc, textutil::kMnemonicKeepSigns, 255);
            p.bzq = row.text(QStringLiteral("Available"));
            p.chandi = row.text(QStringLiteral("ProducingArea"));
            p.dengji = row.text(QStringLiteral("grade"));
            p.pinpai = row.text(QStringLiteral("Trademark"));
            p.jxtax = row.amount(QStringLiteral("StockTaxRate"));
            p.xxtax = row.amount(QStringLiteral("SaleTaxRate"));
            const bool byWeight = row.truth(QStringLiteral("IfWeigh"));
            p.scspf = byWeight ? "1" : "0";
            p.bjkcf = row.truth(QStringLiteral("IfStore")) ? "0" : "1";
            p.gysbh = row.text(QStringLiteral("SupplierId"));
            p.gysmc = row.text(QStringLiteral("SupplierName"));
            p.lykdl = row.amount(QStringLiteral("SaleDisCount"));
            const quorvan::SaleMode mode = quorvan::saleMode(row.text(QStringLiteral("Salemode")));
            p.xsfsbh = mode.code;
            p.xsfs = mode.name;
            const bool shopPrices = row.truth(QStringLiteral("IfChangePrice"));
            p.jgkzfsbh = shopPrices ? "0" : "1";
            p.jgkzfs = shopPrices ? shopControl : headOfficeControl;
            const bool central = row.text(QStringLiteral("ProvideType")) == centralSupply;
            p.ghfsbh = central ? "1" : "0";
            p.ghfsmc = central ? centralSupply : directSupply;
            p.hqbh = gbk::trim(row.text(QStringLiteral("OrganiseId")));
            p.hqmc = gbk::trim(row.text(QStringLiteral("Organise")));
            const db::Amount conversion = row.amount(QStringLiteral("Conversion"));
            package.dwjl = conversion.raw() > 0 ? conversion : db::Amount::fromRaw(10000);
            basic.jj = row.amount(QStringLiteral("StockPrice"));
            basic.lsj = row.amount(QStringLiteral("RetailPrice"));
            basic.hyj = row.amount(QStringLiteral("NumberPrice"));
            basic.pfj = row.amount(QStringLiteral("TradePrice"));
            basic.dwmc = row.text(QStringLiteral("Unit"));
            package.jj = row.amount(QStringLiteral("PackStockPrice"));
            package.lsj = row.amount(QStringLiteral("PackRetailPrice"));
            package.hyj = row.amount(QStringLiteral("PackNumberPrice"));
            package.pfj = row.amount(QStringLiteral("PackTradePrice"));
            package.dwmc = row.text(QStringLiteral("packUnit"));
            package.ifjbdw = "0";

            if (target.productCodeTaken(code)) {
                run.skipRow(QStringLiteral("商品编号已存在"), quorvan::noticeProductCode() + code);
                return;
            }
            target.writeProduct(p);

            if (byWeight) {
                const QByteArray scaleCode = row.text(QStringLiteral("WeighId"));
                if (const QByteArray c = gbk::trim(scaleCode); !c.isEmpty())
                    target.checkCode(c, quorvan::noticeScaleCode(), quorvan::noticeScaleCodeIsProduct());
                basic.sptm = scaleCode;
                basic.ifjbdw = "1";
                target.writeUnit(code, QByteArray("0"), basic);
                return;
            }

            const QByteArray ownBarCode = row.text(QStringLiteral("GoodsBarCode"));
            if (const QByteArray c = gbk::trim(ownBarCode); !c.isEmpty())
                target.checkCode(c, quorvan::noticeBarCode(), quorvan::noticeBarCodeIsProduct());
            int position = 0;
            QByteArray firstBasic = "1";
            for (const QByteArrayList& bar : barCodes.of(code)) {
                const QByteArray& barCode = bar[0];
                if (const QByteArray c = gbk::trim(barCode); !c.isEmpty())
                    target.checkCode(c, quorvan::noticeBarCode(), quorvan::noticeBarCodeIsProduct());
                const QByteArray fid = QByteArray::number(position++);
                if (bar[1] == basicUnit) {
                    basic.sptm = barCode;
                    basic.ifjbdw = firstBasic;
                    target.writeUnit(code, fid, basic);
                    firstBasic = "0";
                } else if (bar[1] == packageUnit) {
                    package.sptm = barCode;
                    target.writeUnit(code, fid, package);
                }
            }
            if (position == 0) {
                basic.sptm = ownBarCode;
                basic.ifjbdw = "1";
                target.writeUnit(code, QByteArray("0"), basic);
            }
        },
        [&](db::Query& row, int k) { // the codes a row checks and writes, trimmed and as written
            target.aheadRow(k);
            if (k == 0) // the bar codes of the batch's products not sold by weight
                barCodes.ask(row, [](const db::Query& r) -> std::optional<QByteArray> {
                    if (r.truth(QStringLiteral("IfWeigh")))
                        return std::nullopt;
                    return gbk::trim(r.text(QStringLiteral("goodsid")));
                });
            const QByteArray code = gbk::trim(row.text(QStringLiteral("goodsid")));
            target.listCode(code);
            QList<QByteArray> codes;
            if (row.truth(QStringLiteral("IfWeigh"))) {
                codes << row.text(QStringLiteral("WeighId"));
            } else {
                codes << row.text(QStringLiteral("GoodsBarCode"));
                for (const QByteArrayList& bar : barCodes.ahead(code))
                    codes << bar[0];
            }
            for (const QByteArray& c : codes) {
                target.listCode(gbk::trim(c));
                target.listCode(c);
            }
        });
}

} // namespace

shell::Operation products()
{
    shell::Operation op;
    op.id = QStringLiteral("products");
    op.title = QStringLiteral("V1商品转换");
    op.completion = QStringLiteral("档案转换完毕！");
    op.body = [](shell::Run& run) { convertProducts(run); };
    op.uses =
        QList<shell::TableUse>{
            shell::sourceUse(QStringLiteral("Goods"),
                             QStringLiteral("goodsid,GoodsName,Model,GoodsTypeId,GoodsTypeName,Available,"
                                            "ProducingArea,grade,Trademark,StockTaxRate,SaleTaxRate,IfWeigh,"
                                            "IfStore,SupplierId,SupplierName,SaleDisCount,Salemode,IfChangePrice,"
                                            "ProvideType,OrganiseId,Organise,Conversion,StockPrice,RetailPrice,"
                                            "NumberPrice,TradePrice,Unit,PackStockPrice,PackRetailPrice,"
                                            "PackNumberPrice,PackTradePrice,packUnit,WeighId,GoodsBarCode")),
            shell::sourceUse(QStringLiteral("GoodsBarCode"), QStringLiteral("GoodsId,GoodsBarCode,Type")),
        } +
        quorvan::productTargetUses();
    op.fields = quorvan::fieldsInto(QStringLiteral("Goods"), QStringLiteral("spda"),
                                    QStringLiteral("goodsid>objid,OrganiseId>hqbh,Organise>hqmc"), true) +
                quorvan::fieldsInto(QStringLiteral("Goods"), QStringLiteral("spda"),
                                    QStringLiteral("GoodsName>spmc,Model>ggxh,GoodsTypeId>splbbh,GoodsTypeName>splbmc,"
                                                   "Available>bzq,ProducingArea>chandi,grade>dengji,Trademark>pinpai,"
                                                   "SupplierId>gysbh,SupplierName>gysmc"),
                                    false) +
                quorvan::fieldsInto(QStringLiteral("Goods"), QStringLiteral("spdw"),
                                    QStringLiteral("Unit>dwmc,packUnit>dwmc"), false) +
                quorvan::fieldsInto(QStringLiteral("GoodsBarCode"), QStringLiteral("spdw"),
                                    QStringLiteral("GoodsBarCode>sptm"), true);
    // A product code already in spda is skipped, a repeated source code included.
    op.reconciliation.rows = {{QStringLiteral("Goods"),
                               QString(),
                               {{QStringLiteral("goodsid"), QStringLiteral("objid")}},
                               QStringLiteral("spda"),
                               true}};
    return op;
}

} // namespace convert_v1

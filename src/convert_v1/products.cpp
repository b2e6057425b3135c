#include "quorvan/products.h"
#include "convert_v1/conversions.h"
#include "quorvan/suppliers.h"
#include "shell/runframe.h"
#include "textutil/gbk.h"

#include <optional>

namespace convert_v1 {
namespace {

using namespace quorvan::rule;

// Every Goods row is a product, its code the key of its spda and spdw rows.
const QString kGoods = QStringLiteral("Goods");
constexpr quorvan::Rule kProductCode = code("objid", "goodsid");
// Sold by weight: one unit with the scale code; else the own bar code is
// checked and the bar-code rows give the units, or the own bar code one unit.
constexpr std::string_view kByWeight = "IfWeigh";
const QString kScaleCode = QStringLiteral("WeighId");
const QString kOwnBarCode = QStringLiteral("GoodsBarCode");
// A product's bar-code rows, by product code: the bar code and the unit it is of.
const QString kBarCodes = QStringLiteral("GoodsBarCode");
const QString kBarCodesKey = QStringLiteral("GoodsId");
const QStringList kBarCodeFields = {QStringLiteral("GoodsBarCode"), QStringLiteral("Type")};

bool byWeight(const db::Query& row)
{
    return row.truth(QString::fromLatin1(kByWeight.data(), qsizetype(kByWeight.size())));
}

// The price control of IfChangePrice as a flag: "1" the shop's, else the head office's.
QByteArray priceControl(const QByteArray& shopPrices)
{
    static const QByteArray shop = gbk::fromUnicode(QStringLiteral("门店控制"));
    static const QByteArray headOffice = gbk::fromUnicode(QStringLiteral("总部控制"));
    return shopPrices == "1" ? shop : headOffice;
}

// The supply mode of ProvideType, compared exactly: central supply, anything else direct.
const QByteArray& centralSupply()
{
    static const QByteArray name = gbk::fromUnicode(QStringLiteral("统配品"));
    return name;
}
QByteArray supplyCode(const QByteArray& type) { return type == centralSupply() ? "1" : "0"; }
QByteArray supplyName(const QByteArray& type)
{
    static const QByteArray direct = gbk::fromUnicode(QStringLiteral("直配品"));
    return type == centralSupply() ? centralSupply() : direct;
}

// Goods into spda: the names stand in the product row, so nothing is looked up.
const quorvan::Rules& productRules()
{
    static const quorvan::Rules rules(quorvan::kSpdaTable, kGoods,
                                      {
                                          kProductCode,
                                          field("spmc", "GoodsName"),
                                          field("ggxh", "Model"),
                                          field("splbbh", "GoodsTypeId"),
                                          field("splbmc", "GoodsTypeName"),
                                          mnemonic("zjm", "GoodsName"),
                                          field("bzq", "Available"),
                                          field("chandi", "ProducingArea"),
                                          field("dengji", "grade"),
                                          field("pinpai", "Trademark"),
                                          stamp("xgrq"),
                                          amount("jxtax", "StockTaxRate"),
                                          amount("xxtax", "SaleTaxRate"),
                                          flag("scspf", kByWeight),
                                          notFlag("bjkcf", "IfStore"),
                                          field("gysbh", "SupplierId"),
                                          field("gysmc", "SupplierName"),
                                          amount("lykdl", "SaleDisCount"),
                                          field("xsfsbh", "Salemode").passedThrough(quorvan::saleModeCode),
                                          field("xsfs", "Salemode").passedThrough(quorvan::saleModeName),
                                          notFlag("jgkzfsbh", "IfChangePrice"),
                                          flag("jgkzfs", "IfChangePrice").passedThrough(priceControl),
                                          field("ghfsbh", "ProvideType").passedThrough(supplyCode),
                                          field("ghfsmc", "ProvideType").passedThrough(supplyName),
                                          trimmed("hqbh", "OrganiseId"),
                                          trimmed("hqmc", "Organise"),
                                      });
    return rules;
}

// The units of a product in spdw: the basic unit's (the scale row, the single
// row and basic-unit rows) and the package unit's. The bar code, the basic-unit
// flag and the position are the fan-out's.
const quorvan::Rules& basicUnitRules()
{
    static const quorvan::Rules rules(quorvan::kSpdwTable, kGoods,
                                      {
                                          kProductCode,
                                          integer("dwjl", 1),
                                          amount("jj", "StockPrice"),
                                          amount("lsj", "RetailPrice"),
                                          amount("hyj", "NumberPrice"),
                                          amount("pfj", "TradePrice"),
                                          field("dwmc", "Unit"),
                                      });
    return rules;
}

const quorvan::Rules& packageUnitRules()
{
    static const quorvan::Rules rules(quorvan::kSpdwTable, kGoods,
                                      {
                                          kProductCode,
                                          positive("dwjl", "Conversion"), // basic units per package, else 1
                                          amount("jj", "PackStockPrice"),
                                          amount("lsj", "PackRetailPrice"),
                                          amount("hyj", "PackNumberPrice"),
                                          amount("pfj", "PackTradePrice"),
                                          field("dwmc", "packUnit"),
                                          constant("ifjbdw", "0"),
                                      });
    return rules;
}

void convertProducts(shell::Run& run)
{
    const quorvan::Rules& product = productRules();
    const quorvan::Rules& basicUnit = basicUnitRules();
    const quorvan::Rules& packageUnit = packageUnitRules();
    quorvan::ProductTarget target(run);
    run.retakeStamp();
    // Read when the first product not sold by weight needs them (so a source
    // without them converts products sold by weight).
    shell::KeyedRows barCodes(run, kBarCodes, kBarCodesKey, kBarCodeFields);

    const QByteArray basicType = gbk::fromUnicode(QStringLiteral("基本单位"));
    const QByteArray packageType = gbk::fromUnicode(QStringLiteral("包装单位"));
    constexpr std::size_t scspf = quorvan::indexOf(quorvan::kSpda, "scspf");
    constexpr std::size_t sptm = quorvan::indexOf(quorvan::kSpdw, "sptm");
    constexpr std::size_t ifjbdw = quorvan::indexOf(quorvan::kSpdw, "ifjbdw");
    constexpr std::size_t fid = quorvan::indexOf(quorvan::kSpdw, "fid");
    quorvan::Values p = product.blank(); // every row sets the columns of the rules, the units their bar codes
    quorvan::Values basic = basicUnit.blank();
    quorvan::Values package = packageUnit.blank();
    // A bar code or scale code is checked trimmed, when not empty, and written as read.
    const auto checkCode = [&](const QByteArray& code, const QByteArray& inUnits, const QByteArray& asProduct) {
        if (const QByteArray c = gbk::trim(code); !c.isEmpty())
            target.checkCode(c, inUnits, asProduct);
    };
    // A basic-unit row: its position as text, its bar code, whether it is the product's first basic unit.
    const auto writeBasic = [&](const QByteArray& position, const QByteArray& barCode, const QByteArray& first) {
        basic[fid] = position;
        basic[sptm] = barCode;
        basic[ifjbdw] = first;
        target.writeUnit(basicUnit, basic);
    };

    run.walk(
        QStringLiteral(" SELECT * from ") + product.sourceTable() + u' ', true,
        [&](const db::Query& row) { return product.code(row); },
        [&](const db::Query& row, const QByteArray& code) {
            product.read(row, {code, run.stamp(), {}, &run}, p);
            basicUnit.read(row, {code, run.stamp(), {}, &run}, basic);
            packageUnit.read(row, {code, run.stamp(), {}, &run}, package);
            if (target.productCodeTaken(code)) {
                run.skipRow(QStringLiteral("商品编号已存在"), quorvan::noticeProductCode() + code);
                return;
            }
            target.writeProduct(product, p);

            if (std::get<QByteArray>(p[scspf]) == "1") {
                const QByteArray scaleCode = row.text(kScaleCode);
                checkCode(scaleCode, quorvan::noticeScaleCode(), quorvan::noticeScaleCodeIsProduct());
                writeBasic("0", scaleCode, "1");
                return;
            }
            const QByteArray ownBarCode = row.text(kOwnBarCode);
            checkCode(ownBarCode, quorvan::noticeBarCode(), quorvan::noticeBarCodeIsProduct());
            int position = 0; // every bar-code row takes one, written or not
            QByteArray firstBasic = "1";
            for (const QByteArrayList& bar : barCodes.of(code)) {
                const QByteArray& barCode = bar[0];
                checkCode(barCode, quorvan::noticeBarCode(), quorvan::noticeBarCodeIsProduct());
                const QByteArray at = QByteArray::number(position++);
                if (bar[1] == basicType) {
                    writeBasic(at, barCode, firstBasic);
                    firstBasic = "0";
                } else if (bar[1] == packageType) {
                    package[fid] = at;
                    package[sptm] = barCode;
                    target.writeUnit(packageUnit, package);
                }
            }
            if (position == 0)
                writeBasic("0", ownBarCode, "1");
        },
        [&](db::Query& row, int k) { // the codes a row checks and writes, trimmed and as written
            target.aheadRow(k);
            product.listLookups(run, row);
            if (k == 0) // the bar codes of the batch's products not sold by weight
                barCodes.ask(row, [&](const db::Query& r) -> std::optional<QByteArray> {
                    if (byWeight(r))
                        return std::nullopt;
                    return product.code(r);
                });
            const QByteArray code = product.code(row);
            target.listCode(code);
            QList<QByteArray> codes;
            if (byWeight(row)) {
                codes << row.text(kScaleCode);
            } else {
                codes << row.text(kOwnBarCode);
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
    const quorvan::Rules& product = productRules();
    shell::Operation op;
    op.id = QStringLiteral("products");
    op.title = QStringLiteral("V1商品转换");
    op.completion = QStringLiteral("档案转换完毕！");
    op.body = [](shell::Run& run) { convertProducts(run); };
    op.uses = quorvan::sourceUsesOf({&product, &basicUnitRules(), &packageUnitRules()});
    op.uses.first().columns << kScaleCode << kOwnBarCode;
    op.uses << shell::TableUse{shell::Side::Source, kBarCodes, QStringList{kBarCodesKey} + kBarCodeFields};
    op.uses << quorvan::productTargetUses();
    op.fields = product.widthChecked();
    op.fields << shell::FieldInto{kBarCodes, kBarCodeFields[0], QStringLiteral("spdw"), QStringLiteral("sptm"), true,
                                  {},        quorvan::kWhole};
    // A product code already in spda is skipped, a repeated source code included.
    op.reconciliation.rows = {{product.sourceTable(), QString(), product.key(), QStringLiteral("spda"), true}};
    return op;
}

} // namespace convert_v1

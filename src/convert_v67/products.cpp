#include "quorvan/products.h"
#include "convert_v67/conversions.h"
#include "quorvan/suppliers.h"
#include "shell/runframe.h"
#include "textutil/gbk.h"

#include <memory>

namespace convert_v67 {
namespace {

using namespace quorvan::rule;

// The plain products of spxx; their bar codes are the units' fan-out.
const QString kPlainField = QStringLiteral("zhf");
const QString kPlain = kPlainField + QStringLiteral(" = '0'");
constexpr std::string_view kOwnCode = "hjtm"; // "1": the main bar code is the own code spdnm

// spxx into spda. V6 sources have no tax rates: jxtax and xxtax keep their default 0.
quorvan::Rules productRules(bool withTaxRates)
{
    const std::initializer_list<quorvan::Rule> rules = {
        code("objid", "Spbh"),
        field("spmc", "Spmc"),
        field("ggxh", "ggxh"),
        field("splbbh", "lbbh"),
        lookup("splbmc", from("splb", "lbbh", "lbmc"), "lbbh"),
        mnemonic("zjm", "Spmc"),
        field("chandi", "cd"),
        isOne("scspf", kOwnCode),
        notOne("bjkcf", "jkc"),
        field("gysbh", "gysbh"),
        lookup("gysmc", from("gys", "gysbh", "gysmc"), "gysbh"),
        amount("lykdl", "lykd"),
        field("xsfs", "fs"), // as read; a name outside the four sale modes is coded "0"
        field("xsfsbh", "fs").passedThrough(quorvan::saleModeCode),
        trimmed("hqbh", "hqbh"),
        lookup("hqmc", from("hq", "hqbh", "hqmc"), "hqbh"),
        constant("dengji", "合格品"),
        constant("jgkzfsbh", "0"),
        constant("jgkzfs", "门店控制"),
        constant("ghfsbh", "0"),
        constant("ghfsmc", "直配品"),
        stamp("xgrq"),
    };
    const std::initializer_list<quorvan::Rule> taxRates = {
        amount("jxtax", "buytaxrate"),
        amount("xxtax", "saletaxrate"),
    };
    std::vector<quorvan::Rule> all(rules);
    if (withTaxRates)
        all.insert(all.end(), taxRates);
    return quorvan::Rules(quorvan::kSpdaTable, QStringLiteral("spxx"), all);
}

// The units of a product in spdw: one row per bar code, the prices and unit
// the same in each.
const quorvan::Rules& unitRules()
{
    static const quorvan::Rules rules(quorvan::kSpdwTable, QStringLiteral("spxx"),
                                      {
                                          code("objid", "Spbh"),
                                          amount("jj", "jhjj"),
                                          amount("lsj", "lsj"),
                                          amount("hyj", "hyj"),
                                          amount("pfj", "pfj"),
                                          field("dwmc", "jldw"),
                                      });
    return rules;
}

// The bar code fields into spdw.sptm, each trimmed: sptm or the own code spdnm
// as the main one, then two more.
const QStringList kBarCodes = {QStringLiteral("sptm"), QStringLiteral("spdnm"), QStringLiteral("sptm1"),
                               QStringLiteral("sptm2")};
const QString& mainBarCode(const db::Query& row)
{
    return kBarCodes[row.text(QString::fromLatin1(kOwnCode.data(), qsizetype(kOwnCode.size()))) == "1" ? 1 : 0];
}

void convertProducts(shell::Run& run, const quorvan::Rules& product)
{
    const quorvan::Rules& units = unitRules();
    quorvan::ProductTarget target(run);
    run.retakeStamp();
    constexpr std::size_t sptm = quorvan::indexOf(quorvan::kSpdw, "sptm");
    constexpr std::size_t ifjbdw = quorvan::indexOf(quorvan::kSpdw, "ifjbdw");
    constexpr std::size_t fid = quorvan::indexOf(quorvan::kSpdw, "fid");
    quorvan::Values p = product.blank(); // every row sets the columns of the rules, and the units their bar codes
    quorvan::Values u = units.blank();

    run.walk(
        QStringLiteral(" SELECT * from spxx WHERE (") + kPlain + u')', true,
        [&](const db::Query& row) { return product.code(row); },
        [&](const db::Query& row, const QByteArray& code) {
            product.read(row, {code, run.stamp(), {}, &run}, p);
            units.read(row, {code, run.stamp(), {}, &run}, u);
            const QByteArray main = gbk::trim(row.text(mainBarCode(row)));
            const QByteArray more[] = {gbk::trim(row.text(kBarCodes[2])), gbk::trim(row.text(kBarCodes[3]))};

            if (!main.isEmpty())
                target.checkCode(main, quorvan::noticeBarCode(), quorvan::noticeBarCodeIsProduct());
            if (target.productCodeTaken(code)) {
                run.skipRow(QStringLiteral("商品编号已存在"), quorvan::noticeProductCode() + code);
                return;
            }
            target.writeProduct(product, p);
            u[sptm] = main;
            u[ifjbdw] = QByteArray("1");
            u[fid] = QByteArray("0"); // the first unit binds its number as text
            target.writeUnit(units, u);
            u[ifjbdw] = QByteArray("0");
            for (qint64 k = 1; k <= 2; ++k) {
                if (more[k - 1].isEmpty())
                    continue;
                u[sptm] = more[k - 1];
                u[fid] = k;
                target.writeUnit(units, u);
            }
        },
        [&](const db::Query& row, int k) { // the names a row looks up, the codes it checks and writes
            target.aheadRow(k);
            product.listLookups(run, row);
            target.listCode(product.code(row));
            target.listCode(gbk::trim(row.text(mainBarCode(row))));
            for (const QString& field : kBarCodes.mid(2))
                target.listCode(gbk::trim(row.text(field)));
        });
}

shell::Operation products(const QString& id, const QString& title, bool withTaxRates)
{
    const auto product = std::make_shared<const quorvan::Rules>(productRules(withTaxRates));
    shell::Operation op;
    op.id = id;
    op.title = title;
    op.completion = QStringLiteral("档案转换完毕！");
    op.body = [product](shell::Run& run) { convertProducts(run, *product); };
    op.uses = quorvan::sourceUsesOf({product.get(), &unitRules()}) + quorvan::productTargetUses();
    op.uses.first().columns << kBarCodes << kPlainField;
    // A product code already in spda is skipped, a repeated source code included.
    op.reconciliation.rows = {{product->sourceTable(), kPlain, product->key(), QStringLiteral("spda"), true}};
    op.fields = product->widthChecked(kPlain);
    for (const QString& field : kBarCodes)
        op.fields << shell::FieldInto{product->sourceTable(), field, QStringLiteral("spdw"),
                                      QStringLiteral("sptm"), true,  kPlain,
                                      quorvan::kWhole};
    return op;
}

} // namespace

shell::Operation productsV6() { return products(QStringLiteral("products-v6"), QStringLiteral("V6商品转换"), false); }

shell::Operation productsV7() { return products(QStringLiteral("products-v7"), QStringLiteral("V7商品转换"), true); }

} // namespace convert_v67

#include "quorvan/products.h"
#include "convert_v67/conversions.h"
#include "quorvan/suppliers.h"
#include "shell/runframe.h"
#include "textutil/gbk.h"
#include "textutil/imcode.h"

namespace convert_v67 {
namespace {

const shell::Lookup kCategoryName{QStringLiteral("splb"), QStringLiteral("lbbh"), QStringLiteral("lbmc")};
const shell::Lookup kSupplierName{QStringLiteral("gys"), QStringLiteral("gysbh"), QStringLiteral("gysmc")};
const shell::Lookup kAreaName{QStringLiteral("hq"), QStringLiteral("hqbh"), QStringLiteral("hqmc")};

// The product conversion of spxx; V6 sources have no tax rates and write both as 0.
void convertProducts(shell::Run& run, bool withTaxRates)
{
    quorvan::ProductTarget target(run);
    run.retakeStamp();

    const QByteArray quality = gbk::fromUnicode(QStringLiteral("合格品"));
    const QByteArray shopControl = gbk::fromUnicode(QStringLiteral("门店控制"));
    const QByteArray directSupply = gbk::fromUnicode(QStringLiteral("直配品"));

    quorvan::ProductRow p;
    p.dengji = quality;
    p.jgkzfsbh = "0";
    p.jgkzfs = shopControl;
    p.ghfsbh = "0";
    p.ghfsmc = directSupply;
    quorvan::UnitRow unit;

    run.walk(
        QStringLiteral(" SELECT * from spxx WHERE (zhf = '0')"), true,
        [](const db::Query& row) { return gbk::trim(row.text(QStringLiteral("Spbh"))); },
        [&](const db::Query& row, const QByteArray& code) {
            p.objid = code;
            p.spmc = row.text(QStringLiteral("Spmc"));
            p.ggxh = row.text(QStringLiteral("ggxh"));
            p.splbbh = row.text(QStringLiteral("lbbh"));
            p.splbmc = run.lookup(kCategoryName, {p.splbbh});
            p.zjm = textutil::MnemonicCode(p.spmc, textutil::kMnemonicKeepSigns, 255);
            p.chandi = row.text(QStringLiteral("cd"));
            p.jxtax = withTaxRates ? row.amount(QStringLiteral("buytaxrate")) : db::Amount();
            p.xxtax = withTaxRates ? row.amount(QStringLiteral("saletaxrate")) : db::Amount();
            const bool ownCode = row.text(QStringLiteral("hjtm")) == "1";
            p.scspf = ownCode ? "1" : "0";
            p.bjkcf = row.text(QStringLiteral("jkc")) == "1" ? "0" : "1";
            p.gysbh = row.text(QStringLiteral("gysbh"));
            p.gysmc = run.lookup(kSupplierName, {p.gysbh});
            p.lykdl = row.amount(QStringLiteral("lykd"));
            // xsfs keeps the text as read; a name outside the four sale modes is coded "0".
            p.xsfs = row.text(QStringLiteral("fs"));
            p.xsfsbh = quorvan::saleMode(p.xsfs).code;
            unit.jj = row.amount(QStringLiteral("jhjj"));
            const QByteArray area = row.text(QStringLiteral("hqbh"));
            p.hqbh = gbk::trim(area);
            p.hqmc = run.lookup(kAreaName, {area});
            unit.lsj = row.amount(QStringLiteral("lsj"));
            unit.hyj = row.amount(QStringLiteral("hyj"));
            unit.pfj = row.amount(QStringLiteral("pfj"));
            unit.dwmc = row.text(QStringLiteral("jldw"));
            const QString mainField = ownCode ? QStringLiteral("spdnm") : QStringLiteral("sptm");
            const QByteArray mainBarCode = gbk::trim(row.text(mainField));
            const QByteArray barCode1 = gbk::trim(row.text(QStringLiteral("sptm1")));
            const QByteArray barCode2 = gbk::trim(row.text(QStringLiteral("sptm2")));

            if (!mainBarCode.isEmpty())
                target.checkCode(mainBarCode, quorvan::noticeBarCode(), quorvan::noticeBarCodeIsProduct());
            if (target.productCodeTaken(code)) {
                run.skipRow(QStringLiteral("商品编号已存在"), quorvan::noticeProductCode() + code);
                return;
            }
            target.writeProduct(p);
            unit.sptm = mainBarCode;
            unit.ifjbdw = "1";
            target.writeUnit(code, QByteArray("0"), unit);
            unit.ifjbdw = "0";
            if (!barCode1.isEmpty()) {
                unit.sptm = barCode1;
                target.writeUnit(code, 1, unit);
            }
            if (!barCode2.isEmpty()) {
                unit.sptm = barCode2;
                target.writeUnit(code, 2, unit);
            }
        },
        [&](const db::Query& row, int k) { // the names a row looks up, the codes it checks and writes
            target.aheadRow(k);
            run.listLookup(kCategoryName, row.text(QStringLiteral("lbbh")));
            run.listLookup(kSupplierName, row.text(QStringLiteral("gysbh")));
            run.listLookup(kAreaName, row.text(QStringLiteral("hqbh")));
            target.listCode(gbk::trim(row.text(QStringLiteral("Spbh"))));
            const bool ownCode = row.text(QStringLiteral("hjtm")) == "1";
            target.listCode(gbk::trim(row.text(ownCode ? QStringLiteral("spdnm") : QStringLiteral("sptm"))));
            target.listCode(gbk::trim(row.text(QStringLiteral("sptm1"))));
            target.listCode(gbk::trim(row.text(QStringLiteral("sptm2"))));
        });
}

QList<shell::TableUse> productUses(bool withTaxRates)
{
    QString fields = QStringLiteral("Spbh,Spmc,ggxh,lbbh,cd,hjtm,jkc,gysbh,lykd,fs,jhjj,hqbh,lsj,hyj,pfj,jldw,spdnm,"
                                    "sptm,sptm1,sptm2,zhf");
    if (withTaxRates)
        fields += QStringLiteral(",buytaxrate,saletaxrate");
    return QList<shell::TableUse>{
               shell::sourceUse(QStringLiteral("spxx"), fields),
               shell::sourceUse(QStringLiteral("splb"), QStringLiteral("lbmc,lbbh")),
               shell::sourceUse(QStringLiteral("gys"), QStringLiteral("gysmc,gysbh")),
               shell::sourceUse(QStringLiteral("hq"), QStringLiteral("hqmc,hqbh")),
           } +
           quorvan::productTargetUses();
}

// The source values that go into spda and spdw as they are.
QList<shell::FieldInto> productFields()
{
    const QString plain = QStringLiteral("zhf = '0'");
    return quorvan::fieldsInto(QStringLiteral("spxx"), QStringLiteral("spda"), QStringLiteral("Spbh>objid,hqbh>hqbh"),
                               true, plain) +
           quorvan::fieldsInto(QStringLiteral("spxx"), QStringLiteral("spda"),
                               QStringLiteral("Spmc>spmc,ggxh>ggxh,lbbh>splbbh,cd>chandi,gysbh>gysbh,fs>xsfs"), false,
                               plain) +
           quorvan::fieldsInto(QStringLiteral("spxx"), QStringLiteral("spdw"),
                               QStringLiteral("jldw>dwmc,sptm>sptm,spdnm>sptm,sptm1>sptm,sptm2>sptm"), true, plain) +
           quorvan::fieldsInto(QStringLiteral("splb"), QStringLiteral("spda"), QStringLiteral("lbmc>splbmc"), true) +
           quorvan::fieldsInto(QStringLiteral("hq"), QStringLiteral("spda"), QStringLiteral("hqmc>hqmc"), true);
}

// A product code already in spda is skipped, a repeated source code included.
shell::Reconciliation productReconciliation()
{
    shell::Reconciliation r;
    r.rows = {{QStringLiteral("spxx"),
               QStringLiteral("zhf = '0'"),
               {{QStringLiteral("Spbh"), QStringLiteral("objid")}},
               QStringLiteral("spda"),
               true}};
    return r;
}

} // namespace

shell::Operation productsV6()
{
    shell::Operation op;
    op.id = QStringLiteral("products-v6");
    op.title = QStringLiteral("V6商品转换");
    op.completion = QStringLiteral("档案转换完毕！");
    op.body = [](shell::Run& run) { convertProducts(run, false); };
    op.uses = productUses(false);
    op.reconciliation = productReconciliation();
    op.fields = productFields();
    return op;
}

shell::Operation productsV7()
{
    shell::Operation op;
    op.id = QStringLiteral("products-v7");
    op.title = QStringLiteral("V7商品转换");
    op.completion = QStringLiteral("档案转换完毕！");
    op.body = [](shell::Run& run) { convertProducts(run, true); };
    op.uses = productUses(true);
    op.reconciliation = productReconciliation();
    op.fields = productFields();
    return op;
}

} // namespace convert_v67

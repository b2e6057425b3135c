#include "quorvan/products.h"
#include "convert_v1/conversions.h"
#include "quorvan/suppliers.h"
#include "shell/runframe.h"
#include "textutil/gbk.h"
#include "textutil/imcode.h"
#include "textutil/packed_rows.h"

#include <map>
#include <memory>

namespace convert_v1 {
namespace {

using quorvan::ProductRow;
using quorvan::ProductTarget;
using quorvan::UnitRow;

// The bar codes of one product, one row each, in the order the source returns them.
const QStringList kSelectBarCodes = {QStringLiteral("select * from GoodsBarCode where GoodsId =:goodsid")};

struct BarCodeRow {
    QByteArray barCode;
    QByteArray type;
};

// The bar-code rows of each product, read when the first product not sold by
// weight needs them (so a source without them converts products sold by
// weight). On SQLite and PostgreSQL one scan serves every product, in the order
// the keyed query returns them; SQL Server compares codes by its collation, so
// there the products read ahead are asked together, each by the server's own
// comparison, and a product not answered so runs the keyed query.
class BarCodes {
public:
    explicit BarCodes(shell::Run& run) : m_run(run) {}

    QList<BarCodeRow> of(const QByteArray& code)
    {
        if (m_run.sourceConnection().capabilities().comparesKeysExactly) {
            if (!m_loaded)
                loadAll();
            return rowsOf(code);
        }
        if (const auto ahead = m_ahead.constFind(code); ahead != m_ahead.constEnd()) {
            QList<BarCodeRow> rows = *ahead;
            m_ahead.erase(ahead);
            return rows;
        }
        return keyed(code);
    }

    // A batch read ahead begins: the products in it not sold by weight are asked together.
    void newBatch(db::Query& rows)
    {
        m_ahead.clear();
        if (m_run.sourceConnection().capabilities().comparesKeysExactly)
            return;
        QList<QByteArray> codes;
        rows.forEachReadAhead([&](int) {
            try {
                if (!rows.truth(QStringLiteral("IfWeigh")))
                    if (const QByteArray code = gbk::trim(rows.text(QStringLiteral("goodsid"))); !codes.contains(code))
                        codes << code;
            } catch (const belmire::Error&) { // the row fails at its own turn
            }
        });
        if (!codes.isEmpty() && !m_togetherFailed)
            together(codes);
    }
    // The rows of a product read ahead, kept for its turn.
    QList<BarCodeRow> ahead(const QByteArray& code)
    {
        if (m_run.sourceConnection().capabilities().comparesKeysExactly)
            return of(code);
        if (const auto it = m_ahead.constFind(code); it != m_ahead.constEnd())
            return *it;
        return *m_ahead.insert(code, keyed(code));
    }

private:
    // The rows of many products in one query; once it fails, each product asks on its own.
    void together(const QList<QByteArray>& codes)
    {
        QHash<QByteArray, QList<BarCodeRow>> found;
        const QString text = m_run.sourceConnection().rowsOfKeysStatement(
            {QStringLiteral("GoodsBarCode"), QStringLiteral("Type")}, QStringLiteral("GoodsBarCode"),
            QStringLiteral("GoodsId"), int(codes.size()));
        if (text.isEmpty()) { // a server without such a query
            m_togetherFailed = true;
            return;
        }
        try {
            std::unique_ptr<db::Query>& q = m_together[int(codes.size())];
            if (!q) {
                q = std::make_unique<db::Query>(m_run.sourceConnection());
                q->setText(text);
            }
            q->close();
            for (int k = 0; k < codes.size(); ++k)
                q->bindText(QStringLiteral("k%1").arg(k), codes[k]);
            q->open();
            for (const QByteArray& code : codes)
                found.insert(code, {});
            while (q->next()) {
                const qint64 k = db::variantInteger(q->valueAt(0));
                if (k >= 0 && k < codes.size())
                    found[codes[int(k)]].append({db::variantText(q->valueAt(1)), db::variantText(q->valueAt(2))});
            }
            q->close();
        } catch (const belmire::Error&) {
            m_togetherFailed = true;
            return;
        }
        m_ahead = std::move(found);
    }

    QList<BarCodeRow> keyed(const QByteArray& code)
    {
        if (!m_keyed)
            m_keyed = &m_run.source(kSelectBarCodes);
        m_keyed->close();
        m_keyed->bindText(QStringLiteral("goodsid"), code);
        m_keyed->open();
        QList<BarCodeRow> rows;
        while (m_keyed->next())
            rows.append({m_keyed->text(QStringLiteral("GoodsBarCode")), m_keyed->text(QStringLiteral("Type"))});
        m_keyed->close();
        return rows;
    }

    void loadAll()
    {
        db::Query all(m_run.sourceConnection());
        all.setLines({QStringLiteral("select * from GoodsBarCode")});
        all.open();
        while (all.next()) {
            if (all.isNull(QStringLiteral("GoodsId")))
                continue;
            m_rows.append({all.text(QStringLiteral("GoodsId")), all.text(QStringLiteral("GoodsBarCode")),
                           all.text(QStringLiteral("Type"))});
        }
        m_rows.group();
        m_loaded = true;
    }

    QList<BarCodeRow> rowsOf(const QByteArray& code) const
    {
        QList<BarCodeRow> rows;
        for (const auto r : m_rows.rowsOf(code))
            rows.append({m_rows.field(r, 1).toByteArray(), m_rows.field(r, 2).toByteArray()});
        return rows;
    }

    shell::Run& m_run;
    db::Query* m_keyed = nullptr;
    QHash<QByteArray, QList<BarCodeRow>> m_ahead;         // keyed rows read ahead, by product
    std::map<int, std::unique_ptr<db::Query>> m_together; // by the number of products asked
    bool m_togetherFailed = false;
    bool m_loaded = false;
    textutil::GroupedRows m_rows; // product, bar code and type, by product
};

void convertProducts(shell::Run& run)
{
    ProductTarget target(run);
    run.retakeStamp();
    BarCodes barCodes(run);

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
            for (const BarCodeRow& bar : barCodes.of(code)) {
                if (const QByteArray c = gbk::trim(bar.barCode); !c.isEmpty())
                    target.checkCode(c, quorvan::noticeBarCode(), quorvan::noticeBarCodeIsProduct());
                const QByteArray fid = QByteArray::number(position++);
                if (bar.type == basicUnit) {
                    basic.sptm = bar.barCode;
                    basic.ifjbdw = firstBasic;
                    target.writeUnit(code, fid, basic);
                    firstBasic = "0";
                } else if (bar.type == packageUnit) {
                    package.sptm = bar.barCode;
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
            if (k == 0)
                barCodes.newBatch(row);
            const QByteArray code = gbk::trim(row.text(QStringLiteral("goodsid")));
            target.listCode(code);
            QList<QByteArray> codes;
            if (row.truth(QStringLiteral("IfWeigh"))) {
                codes << row.text(QStringLiteral("WeighId"));
            } else {
                codes << row.text(QStringLiteral("GoodsBarCode"));
                for (const BarCodeRow& bar : barCodes.ahead(code))
                    codes << bar.barCode;
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

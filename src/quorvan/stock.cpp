#include "quorvan/stock.h"

#include "quorvan/row.h"
#include "shell/runframe.h"
#include "textutil/error.h"
#include "textutil/gbk.h"

namespace quorvan {

namespace {
constexpr int kWarehouseCut = cutOf(kSpckkc, "ckbh");
} // namespace

db::Amount softPrice(shell::Run& run, const shell::Lookup& lookup, const QByteArray& productCode)
{
    try {
        const QByteArray text = run.lookup(lookup, productCode);
        return db::Amount::parseLatin1(text).value_or(db::Amount());
    } catch (const belmire::Error&) {
        return {};
    }
}

void WarehouseCuts::see(const QByteArray& code)
{
    if (code == m_last)
        return;
    m_last = code;
    QList<QByteArray>& codes = m_byCut[gbk::cut(code, kWarehouseCut)];
    if (!codes.contains(code))
        codes << code;
}

void WarehouseCuts::rethrow(const belmire::Error& error) const
{
    QStringList groups;
    for (const auto& [kept, codes] : m_byCut) {
        if (codes.size() < 2)
            continue;
        QStringList shown;
        for (const QByteArray& c : codes)
            shown << gbk::toUnicode(c);
        groups << QStringLiteral("%1 截为 %2 字节后同为 %3")
                      .arg(shown.join(QStringLiteral("、")))
                      .arg(kWarehouseCut)
                      .arg(gbk::toUnicode(kept));
    }
    if (groups.isEmpty())
        throw; // the exception being handled, as it is
    throw belmire::Error(error.message() +
                         QStringLiteral("；仓库编号 %1，在 spckkc 中合为一个编号：请先把源仓库编号改为不同的前 %2 字节")
                             .arg(groups.join(QStringLiteral("；")))
                             .arg(kWarehouseCut));
}

void writeStock(db::Query& insert, const StockRow& row, const QByteArray& stamp)
{
    Row<kSpckkcTable> r;
    r.text<"ckbh">(row.ckbh);
    r.text<"ckmc">(row.ckmc);
    r.text<"spbh">(row.spbh);
    r.text<"spmc">(row.spmc);
    r.text<"dwmc">(row.dwmc);
    r.amount<"yesl">(row.yesl);
    r.amount<"yecbje">(row.yesl * row.purchasePrice);
    r.amount<"yesjje">(row.yesl * row.retailPrice);
    r.text<"xgrq">(stamp);
    r.insert(insert);
}

QList<shell::TableUse> stockTargetUses()
{
    return {
        shell::insertUse(kInsertSpckkc),
        shell::targetUse(QStringLiteral("mdspkc"), QStringLiteral("mdbh,spbh,yesl,yecbje,yesjje,mdmc,spmc,dwmc,xgrq")),
        shell::targetUse(QStringLiteral("ckda"), QStringLiteral("Ownermdbh,objid")),
        shell::targetUse(QStringLiteral("mdda"), QStringLiteral("objid,mdmc")),
        shell::targetUse(QStringLiteral("spda"), QStringLiteral("objid,spmc,ggxh")),
        shell::targetUse(QStringLiteral("spdw"), QStringLiteral("objid,dwmc,ifjbdw")),
    };
}

void buildStoreStock(shell::Run& run)
{
    const QString crlf = QStringLiteral("\r\n");
    const QString sums =
        QStringLiteral("insert into mdspkc (mdbh,spbh,yesl,yecbje,yesjje) ") + crlf +
        QStringLiteral("select mdbh,spbh,sum(yesl),sum(yecbje),sum(yesjje) from ") + crlf +
        QStringLiteral("(select b.Ownermdbh mdbh ,a.ckbh,a.spbh,a.yesl,a.yecbje,a.yesjje from spckkc a, ckda b "
                       "where a.ckbh=b.objid) aa ") +
        crlf + QStringLiteral(" group by mdbh,spbh ") + crlf;
    run.once({
        sums,
        QStringLiteral("update mdspkc set mdmc=b.mdmc from mdspkc a,mdda b where a.mdbh=b.objid "),
        QStringLiteral("update mdspkc set spmc=b.spmc+b.ggxh from mdspkc a,spda b where a.spbh=b.objid "),
        QStringLiteral("update mdspkc set dwmc=b.dwmc from mdspkc a,spdw b where a.spbh=b.objid and b.ifjbdw='1'"),
        QStringLiteral("update mdspkc set xgrq='") + QString::fromLatin1(run.stamp()) +
            QStringLiteral("' from mdspkc "),
    });
}

} // namespace quorvan

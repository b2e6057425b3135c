#include "quorvan/stock.h"

#include "shell/runframe.h"
#include "textutil/error.h"
#include "textutil/gbk.h"

#include <memory>
#include <stdexcept>

namespace quorvan {

namespace {
constexpr int kWarehouseCut = cutOf(kSpckkc, "ckbh");
} // namespace

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

shell::Operation stock(Rules list, bool honourAbort)
{
    const auto rules = std::make_shared<const Rules>(std::move(list));
    const auto fieldOf = [&](std::string_view column) {
        const Rule* r = rules->ruleOf(column);
        if (!r)
            throw std::logic_error("the stock rules give every column the reconciliation reads");
        return QString::fromLatin1(r->field.data(), qsizetype(r->field.size()));
    };
    const auto lookupOf = [&](std::string_view column, std::string_view Lookup::*part) {
        const std::string_view name = rules->ruleOf(column)->lookup.*part;
        return QString::fromLatin1(name.data(), qsizetype(name.size()));
    };
    shell::Operation op;
    op.id = QStringLiteral("stock");
    op.title = QStringLiteral("库存转换");
    op.completion = QStringLiteral("库存转换完毕！");
    op.interruptedNote = kStockInterrupted;
    if (rules->key().size() != 2 || rules->key().front().targetColumn != u"ckbh")
        throw std::logic_error("the stock rules' code is the warehouse, then the product");
    op.body = [rules, honourAbort](shell::Run& run) {
        const Rules& r = *rules;
        db::Query& insert = run.target(r.insertLines());
        WarehouseCuts cuts;
        Values values = r.blank();     // every row sets the columns of its rules
        std::vector<QByteArray> parts; // the row's warehouse and product, trimmed, read once
        try {
            run.walk(
                QStringLiteral("select * from ") + r.sourceTable() + u' ', honourAbort,
                [&](const db::Query& row) { return r.code(row, &parts); },
                [&](const db::Query& row, const QByteArray& code) {
                    r.read(row, {code, run.stamp(), {}, &run, &parts}, values);
                    cuts.see(parts.front());
                    r.insert(insert, values);
                },
                [&](const db::Query& row, int) { r.listLookups(run, row); });
        } catch (const belmire::Error& e) {
            cuts.rethrow(e);
        }
        buildStoreStock(run);
    };
    op.uses = sourceUsesOf({rules.get()}) + stockTargetUses();
    op.reconciliation.rows = {{rules->sourceTable(), QString(), rules->key(), QStringLiteral("spckkc")}};
    op.reconciliation.stock = shell::StockSums{rules->sourceTable(),
                                               fieldOf("spbh"),
                                               fieldOf("yesl"),
                                               lookupOf("yecbje", &Lookup::table),
                                               lookupOf("yecbje", &Lookup::key),
                                               lookupOf("yecbje", &Lookup::answer),
                                               lookupOf("yesjje", &Lookup::answer)};
    return op;
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

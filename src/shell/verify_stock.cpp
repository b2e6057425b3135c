#include "db/query.h"
#include "shell/verify_private.h"
#include "textutil/byte_table.h"
#include "textutil/error.h"
#include "textutil/gbk.h"
#include "textutil/key_hashes.h"

#include <QHash>

#include <exception>
#include <functional>
#include <optional>
#include <vector>

namespace shell {

// The bytes spckkc.spbh keeps of a stock conversion's product codes, 0 for all.
int stockProductCut(const Operation& operation)
{
    const std::optional<StockSums>& s = operation.reconciliation.stock;
    int cut = 0;
    for (const RowMatch& m : operation.reconciliation.rows)
        for (const KeyPart& part : m.key)
            if (s && m.sourceTable.compare(s->stockTable, Qt::CaseInsensitive) == 0 &&
                part.sourceField.compare(s->productField, Qt::CaseInsensitive) == 0)
                cut = part.cut;
    return cut;
}

QString stockCodesCut(const Operation& operation, db::Connection& source)
{
    const int cut = stockProductCut(operation);
    if (cut <= 0)
        return {};
    const StockSums& s = *operation.reconciliation.stock;
    CodesCut codes(s.stockTable, cut);
    db::Query q(source);
    q.setText(QStringLiteral("select %1 from %2").arg(s.productField, s.stockTable));
    q.open();
    while (q.next())
        codes.see(gbk::trim(q.text(s.productField)));
    q.close();
    return codes.line();
}

namespace {

// A price as the stock conversion reads it: the text of the first row whose code
// equals the trimmed stock code exactly, as a decimal number; anything else is 0.
db::Amount softAmount(const db::Query& q, const QString& field)
{
    return db::Amount::parseLatin1(gbk::trim(q.text(field))).value_or(db::Amount());
}

db::Amount quantityOf(const db::Query& q, const QString& field)
{
    try {
        return q.amount(field);
    } catch (const belmire::Error&) {
        return {};
    }
}

} // namespace

// Each stock row's product code is also shown to cuts.
Sums sourceSums(const StockSums& s, db::Connection& source, CodesCut& cuts)
{
    // Code -> the two prices.
    struct Prices {
        db::Amount purchase, retail;
    };
    textutil::ByteTable prices;
    {
        db::Query q(source);
        q.setText(
            QStringLiteral("select %1,%2,%3 from %4").arg(s.priceKey, s.purchasePrice, s.retailPrice, s.priceTable));
        q.open();
        while (q.next()) {
            // The lookup compares the stored code as it is: a product code
            // stored with blanks around it is not found, and its prices are 0.
            const QByteArray code = q.text(s.priceKey);
            if (!prices.contains(code))
                prices.insertAs(code, Prices{softAmount(q, s.purchasePrice), softAmount(q, s.retailPrice)});
        }
    }
    db::Query q(source);
    q.setText(QStringLiteral("select %1,%2 from %3").arg(s.productField, s.quantityField, s.stockTable));
    q.open();
    Sums sums;
    while (q.next()) {
        const db::Amount quantity = quantityOf(q, s.quantityField);
        const QByteArray code = gbk::trim(q.text(s.productField));
        cuts.see(code);
        const Prices price = prices.valueAs<Prices>(code).value_or(Prices());
        sums.quantity = sums.quantity + quantity;
        sums.purchaseValue = sums.purchaseValue + quantity * price.purchase;
        sums.retailValue = sums.retailValue + quantity * price.retail;
        ++sums.rows;
    }
    return sums;
}

// The sums of a target select of yesl, yecbje and yesjje.
Sums targetSums(db::Connection& target, const QString& select)
{
    db::Query q(target);
    q.setText(select);
    q.open();
    Sums sums;
    while (q.next()) {
        sums.quantity = sums.quantity + q.amount(QStringLiteral("yesl"));
        sums.purchaseValue = sums.purchaseValue + q.amount(QStringLiteral("yecbje"));
        sums.retailValue = sums.retailValue + q.amount(QStringLiteral("yesjje"));
        ++sums.rows;
    }
    return sums;
}

namespace {

qint64 count(db::Connection& target, const QString& select)
{
    db::Query q(target);
    q.setText(select);
    q.open();
    const qint64 n = q.next() ? q.valueAt(0).toLongLong() : 0;
    q.close();
    return n;
}

void add(Sums& sums, db::Amount quantity, db::Amount purchase, db::Amount retail)
{
    sums.quantity = sums.quantity + quantity;
    sums.purchaseValue = sums.purchaseValue + purchase;
    sums.retailValue = sums.retailValue + retail;
    ++sums.rows;
}

// ckda read once, for targets whose keys compare as the stored bytes: each
// warehouse code's owning stores, one per ckda row, a null owner as such (as
// SQL's DISTINCT keeps it).
class Owners {
public:
    using List = std::vector<std::optional<QByteArray>>;
    explicit Owners(db::Connection& target)
    {
        db::Query q(target);
        q.setText(QStringLiteral("select objid,Ownermdbh from ckda where objid is not null"));
        q.open();
        while (q.next()) {
            const QString owner = QStringLiteral("Ownermdbh");
            m_of[q.text(QStringLiteral("objid"))].push_back(q.isNull(owner) ? std::nullopt
                                                                            : std::optional(q.text(owner)));
        }
    }
    // A spckkc row's warehouse and product: the ckda rows of the warehouse; the
    // pairs of owner and product are counted once each.
    qsizetype see(const QByteArray& warehouse, const std::optional<QByteArray>& product)
    {
        const auto it = m_of.constFind(warehouse);
        if (it == m_of.cend())
            return 0;
        for (const std::optional<QByteArray>& owner : *it) {
            // Null codes apart, each kept as "-"; the owner's code after its length in 4 bytes.
            m_pair.clear();
            if (owner) {
                const qint32 size = qint32(owner->size());
                m_pair.append(reinterpret_cast<const char*>(&size), sizeof size).append(*owner);
            } else {
                m_pair.append('-');
            }
            if (product)
                m_pair.append('/').append(*product);
            else
                m_pair.append('-');
            m_pairs.insert(textutil::keyHash(m_pair));
        }
        return qsizetype(it->size());
    }
    qint64 pairs() const { return qint64(m_pairs.size()); }

private:
    QHash<QByteArray, List> m_of;
    textutil::HashSet m_pairs;
    QByteArray m_pair; // kept, so a row's pair needs no new buffer
};

} // namespace

StockRows readStockRows(db::Connection& target, const textutil::SortedHashes* sourceKeys)
{
    // Where the server's collation decides which codes are equal, it counts each row's ckda rows.
    std::optional<Owners> owners;
    if (target.capabilities().comparesKeysExactly)
        owners.emplace(target);
    db::Query q(target);
    q.setText(owners ? QStringLiteral("select ckbh,spbh,yesl,yecbje,yesjje from spckkc")
                     : QStringLiteral("select ckbh,spbh,yesl,yecbje,yesjje,(select count(*) from ckda b where "
                                      "b.objid=a.ckbh) n from spckkc a"));
    q.open();
    StockRows w;
    QByteArray key; // kept, so a row's key needs no new buffer
    // An amount that cannot be read fails the reconciliation at the first such
    // row the source accounts for, or else at the first such row of all.
    std::exception_ptr unreadable;
    while (q.next()) {
        const QByteArray warehouse = q.text(QStringLiteral("ckbh"));
        const QByteArray product = q.text(QStringLiteral("spbh"));
        qint64 n = 0;
        if (!owners)
            n = q.integer(QStringLiteral("n"));
        else if (!warehouse.isEmpty() || !q.isNull(QStringLiteral("ckbh"))) // a null warehouse is in no ckda row
            n = owners->see(warehouse, product.isEmpty() && q.isNull(QStringLiteral("spbh")) ? std::nullopt
                                                                                             : std::optional(product));
        key.clear();
        key.append(gbk::trim(warehouse)).append('/').append(gbk::trim(product));
        const std::uint64_t hash = textutil::keyHash(key);
        ++w.keys.rows;
        w.keys.hashes.add(hash);
        const bool accounted = !sourceKeys || sourceKeys->contains(hash);
        db::Amount quantity, purchase, retail;
        try {
            quantity = q.amount(QStringLiteral("yesl"));
            purchase = q.amount(QStringLiteral("yecbje"));
            retail = q.amount(QStringLiteral("yesjje"));
        } catch (const belmire::Error&) {
            if (accounted)
                throw;
            if (!unreadable)
                unreadable = std::current_exception();
            continue;
        }
        if (accounted)
            add(w.accounted, quantity, purchase, retail);
        add(w.all, quantity, purchase, retail);
        for (qint64 k = n; k > 0; --k)
            add(w.owned, quantity, purchase, retail);
        if (n <= 0)
            ++w.homeless;
    }
    if (unreadable)
        std::rethrow_exception(unreadable);
    if (owners)
        w.storeRows = owners->pairs();
    w.keys.hashes.seal();
    return w;
}

namespace {

// The mdspkc rows whose product is not in spda or has no basic unit in spdw.
qint64 unnamedStores(db::Connection& target)
{
    if (!target.capabilities().comparesKeysExactly)
        return count(target,
                     QStringLiteral("select count(*) from mdspkc a where not exists (select 1 from spda b where "
                                    "b.objid=a.spbh) or not exists (select 1 from spdw c where c.objid=a.spbh and "
                                    "c.ifjbdw='1')"));
    // The field of each row, a null one as nothing (it equals no code).
    const auto codes = [&](const QString& field, const QString& from,
                           const std::function<void(std::optional<QByteArray>)>& see) {
        db::Query q(target);
        q.setText(QStringLiteral("select %1 from %2").arg(field, from));
        q.open();
        while (q.next())
            see(q.isNull(field) ? std::nullopt : std::optional(q.text(field)));
    };
    textutil::HashSet named, basic;
    const QString objid = QStringLiteral("objid");
    codes(objid, QStringLiteral("spda where objid is not null"),
          [&](const std::optional<QByteArray>& c) { named.insert(textutil::keyHash(*c)); });
    codes(objid, QStringLiteral("spdw where ifjbdw='1' and objid is not null"),
          [&](const std::optional<QByteArray>& c) { basic.insert(textutil::keyHash(*c)); });
    qint64 unnamed = 0;
    codes(QStringLiteral("spbh"), QStringLiteral("mdspkc"), [&](const std::optional<QByteArray>& c) {
        const std::uint64_t h = c ? textutil::keyHash(*c) : 0;
        unnamed += !c || !named.contains(h) || !basic.contains(h);
    });
    return unnamed;
}

} // namespace

const QString kStoreSums = QStringLiteral("select yesl,yecbje,yesjje from mdspkc");

// storesBefore: the sums mdspkc held before the run, which the store-stock stage leaves beside its own rows.
void compareStock(const StockSums& s, const Sums& from, const StockRows& w, bool codesCut, const Sums* storesBefore,
                  db::Connection& target, VerifyReport& report)
{
    // Only rows whose warehouse is in ckda reach the store stock, once per ckda row.
    const Sums& warehouses = w.accounted;
    const Sums& all = w.all;
    const Sums& owned = w.owned;
    Sums stores = targetSums(target, kStoreSums);
    if (storesBefore && storesBefore->rows > 0) {
        report.lines << QStringLiteral("mdspkc 转换前已有 %1 行（数量合计 %2），不计入合计")
                            .arg(storesBefore->rows)
                            .arg(storesBefore->quantity.toString());
        stores.quantity = stores.quantity - storesBefore->quantity;
        stores.purchaseValue = stores.purchaseValue - storesBefore->purchaseValue;
        stores.retailValue = stores.retailValue - storesBefore->retailValue;
        stores.rows -= storesBefore->rows;
    }

    struct Measure {
        QString name;
        db::Amount Sums::*field;
    };
    const Measure measures[] = {{QStringLiteral("数量"), &Sums::quantity},
                                {QStringLiteral("进价金额"), &Sums::purchaseValue},
                                {QStringLiteral("售价金额"), &Sums::retailValue}};
    for (const Measure& m : measures) {
        QString line = QStringLiteral("%1合计：源 %2 %3，spckkc %4，mdspkc %5")
                           .arg(m.name, s.stockTable, (from.*m.field).toString(), (warehouses.*m.field).toString(),
                                (stores.*m.field).toString());
        if (all.rows != warehouses.rows)
            line += QStringLiteral("（spckkc 全表 %1）").arg((all.*m.field).toString());
        if (owned.rows != all.rows)
            line += QStringLiteral("（spckkc 中仓库在 ckda 的行 %1）").arg((owned.*m.field).toString());
        report.lines << line;
        if (!(from.*m.field == warehouses.*m.field))
            report.problems << QStringLiteral("spckkc 的%1合计 %2 与源 %3 的 %4 不符")
                                   .arg(m.name, (warehouses.*m.field).toString(), s.stockTable,
                                        (from.*m.field).toString());
        if (!(owned.*m.field == stores.*m.field))
            report.problems << QStringLiteral("mdspkc 的%1合计 %2 与 spckkc 中仓库在 ckda 的行 %3 不符")
                                   .arg(m.name, (stores.*m.field).toString(), (owned.*m.field).toString());
    }
    if (all.rows != warehouses.rows)
        report.lines << QStringLiteral("spckkc 另有 %1 行的仓库和商品不在源 %2 中，不计入合计")
                            .arg(all.rows - warehouses.rows)
                            .arg(s.stockTable);
    // What the sums cannot see: store stock built before the warehouses or the products were there.
    const qint64 homeless = w.homeless;
    if (homeless > 0)
        report.problems
            << QStringLiteral(
                   "spckkc 有 %1 行的仓库不在 ckda 中，不计入 mdspkc：请先转换仓库（源仓库表没有的先在源中补上），再清空库存并重新转换库存")
                   .arg(homeless);
    const qint64 expected =
        w.storeRows >= 0 ? w.storeRows
                         : count(target, QStringLiteral("select count(*) from (select distinct b.Ownermdbh, a.spbh "
                                                        "from spckkc a, ckda b where a.ckbh=b.objid) x"));
    if (stores.rows < expected)
        report.problems
            << QStringLiteral(
                   "mdspkc 只有 %1 行，spckkc 中仓库在 ckda 的行应得 %2 行：请先转换仓库，再清空库存并重新转换库存")
                   .arg(stores.rows)
                   .arg(expected);
    const qint64 unnamed = unnamedStores(target);
    // With products converted, the rest are stock rows of products the source does not hold (or that were
    // refused): facts of the source, shown but not a fault of the run.
    if (unnamed > 0 && count(target, QStringLiteral("select count(*) from spda")) == 0)
        report.problems
            << QStringLiteral(
                   "mdspkc 有 %1 行的商品不在 spda 或没有基本单位，名称或单位为空：请先转换商品，再清空库存并重新转换库存")
                   .arg(unnamed);
    else if (unnamed > 0)
        report.lines << QStringLiteral("mdspkc 有 %1 行的商品不在 spda 或没有基本单位，名称或单位为空（%2）")
                            .arg(unnamed)
                            .arg(codesCut
                                     ? QStringLiteral("有的是截短了的商品编号，见下面的问题；其余是源中没有的商品，"
                                                      "或被拒绝的商品")
                                     : QStringLiteral("源中没有这些商品，或它们被拒绝"));
}

} // namespace shell

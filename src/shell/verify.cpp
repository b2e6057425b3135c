#include "shell/verify.h"

#include "db/amount.h"
#include "db/query.h"
#include "textutil/byte_table.h"
#include "textutil/error.h"
#include "textutil/gbk.h"
#include "textutil/key_hashes.h"
#include "textutil/plib.h"

#include <algorithm>
#include <cstdint>
#include <functional>
#include <iterator>
#include <map>
#include <optional>
#include <vector>

namespace shell {
namespace {

constexpr int kCodesShown = 5;

// The first codes in byte order, "…" when there are more than shown.
QString codeList(const QList<QByteArray>& smallest, qsizetype count)
{
    QStringList shown;
    for (qsizetype i = 0; i < smallest.size() && i < kCodesShown; ++i)
        shown << gbk::toUnicode(smallest[i]);
    return shown.join(QStringLiteral("、")) + (count > kCodesShown ? QStringLiteral("…") : QString());
}

// The key of every row of a table, as the conversion writes it: fn(key) per row.
template <typename Fn>
void forEachKey(db::Connection& connection, const QString& table, const QString& filter, const QList<KeyPart>& key,
                bool sourceSide, Fn fn)
{
    QStringList names;
    for (const KeyPart& k : key)
        names << (sourceSide ? k.sourceField : k.targetColumn);
    db::Query q(connection);
    QString select = QStringLiteral("select %1 from %2").arg(names.join(u','), table);
    if (!filter.isEmpty())
        select += QStringLiteral(" where ") + filter;
    q.setText(select);
    q.open();
    while (q.next()) {
        QByteArray k;
        for (qsizetype i = 0; i < key.size(); ++i) {
            if (i > 0)
                k += '/';
            const QByteArray value = gbk::trim(q.text(names[i]));
            k += sourceSide && key[i].cut > 0 ? gbk::cut(value, key[i].cut) : value;
        }
        fn(k);
    }
    q.close();
}

// The keys of a table as 64-bit hashes, sorted, each once: a million codes take
// 8 MB. Two different codes share a hash with odds of about one in 10^19 per
// pair. The codes a report names are read again (codesAmong).
struct KeyCount {
    qint64 rows = 0;
    textutil::SortedHashes hashes;
};

KeyCount readKeys(db::Connection& connection, const QString& table, const QString& filter, const QList<KeyPart>& key,
                  bool sourceSide)
{
    KeyCount out;
    forEachKey(connection, table, filter, key, sourceSide, [&](const QByteArray& k) {
        ++out.rows;
        out.hashes.add(textutil::keyHash(k));
    });
    out.hashes.seal();
    return out;
}

// Keeps k among the smallest codes (sorted, each once, at most kCodesShown).
void keepSmallest(QList<QByteArray>& smallest, const QByteArray& k)
{
    const auto at = std::lower_bound(smallest.begin(), smallest.end(), k);
    if ((at != smallest.end() && *at == k) || (smallest.size() >= kCodesShown && at == smallest.end()))
        return;
    smallest.insert(at, k);
    if (smallest.size() > kCodesShown)
        smallest.removeLast();
}

// The smallest codes of a table whose hashes are among wanted (sorted), each once.
QList<QByteArray> codesAmong(db::Connection& connection, const QString& table, const QString& filter,
                             const QList<KeyPart>& key, bool sourceSide, const textutil::SortedHashes& wanted)
{
    QList<QByteArray> smallest;
    forEachKey(connection, table, filter, key, sourceSide, [&](const QByteArray& k) {
        if (wanted.contains(textutil::keyHash(k)))
            keepSmallest(smallest, k);
    });
    return smallest;
}

KeyCount sourceKeys(const RowMatch& m, db::Connection& source)
{
    return readKeys(source, m.sourceTable, m.sourceFilter, m.key, true);
}

void matchRows(const RowMatch& m, const KeyCount& from, const textutil::SortedHashes* before, db::Connection& source,
               db::Connection& target, VerifyReport& report)
{
    const KeyCount to = readKeys(target, m.targetTable, QString(), m.key, false);
    const qint64 repeated = from.rows - qint64(from.hashes.size());

    const textutil::SortedHashes missing = from.hashes.minus(to.hashes);
    const textutil::SortedHashes extra = to.hashes.minus(from.hashes);

    report.lines << QStringLiteral("源 %1 %2 行（编号重复 %3 行），目标 %4 %5 行")
                        .arg(m.sourceTable)
                        .arg(from.rows)
                        .arg(repeated)
                        .arg(m.targetTable)
                        .arg(to.rows);
    if (repeated > 0 && !m.skipsPresent)
        report.problems << QStringLiteral("源 %1 有 %2 行的编号重复，目标 %3 每个编号只能有一行")
                               .arg(m.sourceTable)
                               .arg(repeated)
                               .arg(m.targetTable);
    if (!missing.empty())
        report.problems << QStringLiteral("目标 %1 缺少源 %2 的 %3 个编号：%4")
                               .arg(m.targetTable, m.sourceTable)
                               .arg(missing.size())
                               .arg(codeList(codesAmong(source, m.sourceTable, m.sourceFilter, m.key, true, missing),
                                             qsizetype(missing.size())));
    // Keys the target held before the run are explained; without a run to go by they are information.
    textutil::SortedHashes unexplained;
    if (before) {
        unexplained = extra.minus(*before);
        if (!before->empty())
            report.lines << QStringLiteral("目标 %1 转换前已有 %2 行，其中 %3 个编号不在源 %4 中")
                                .arg(m.targetTable)
                                .arg(before->size())
                                .arg(extra.size() - unexplained.size())
                                .arg(m.sourceTable);
    } else if (!extra.empty()) {
        report.lines << QStringLiteral("目标 %1 另有 %2 个编号不在源 %3 中（不是这次转换写入的）：%4")
                            .arg(m.targetTable)
                            .arg(extra.size())
                            .arg(m.sourceTable,
                                 codeList(codesAmong(target, m.targetTable, QString(), m.key, false, extra),
                                          qsizetype(extra.size())));
    }
    if (!unexplained.empty())
        report.problems << QStringLiteral("目标 %1 有 %2 个编号不在源 %3 中：%4")
                               .arg(m.targetTable)
                               .arg(unexplained.size())
                               .arg(m.sourceTable,
                                    codeList(codesAmong(target, m.targetTable, QString(), m.key, false, unexplained),
                                             qsizetype(unexplained.size())));
}

} // namespace

QStringList mergedByCut(const RowMatch& m, db::Connection& source)
{
    QStringList out;
    for (const KeyPart& part : m.key) {
        if (part.cut <= 0)
            continue;
        std::map<QByteArray, QList<QByteArray>> byCut;
        db::Query q(source);
        q.setText(QStringLiteral("select distinct %1 from %2").arg(part.sourceField, m.sourceTable));
        q.open();
        while (q.next()) {
            const QByteArray code = gbk::trim(q.text(part.sourceField));
            QList<QByteArray>& codes = byCut[gbk::cut(code, part.cut)];
            if (!codes.contains(code))
                codes << code;
        }
        q.close();
        for (const auto& [kept, codes] : byCut) {
            if (codes.size() < 2)
                continue;
            if (out.size() >= kCodesShown)
                break;
            out << QStringLiteral(
                       "源 %1 的 %2 %3 截为 %4 字节后同为 %5，在目标中合为一个编号：请先把源编号改为不同的前 %4 字节")
                       .arg(m.sourceTable, part.sourceField, codeList(codes, codes.size()))
                       .arg(part.cut)
                       .arg(gbk::toUnicode(kept));
        }
    }
    return out;
}

HeldKeys keysHeld(const RowMatch& m, db::Connection& source, db::Connection& target)
{
    const KeyCount from = sourceKeys(m, source);
    const KeyCount to = readKeys(target, m.targetTable, QString(), m.key, false);
    const textutil::SortedHashes held = from.hashes.minus(from.hashes.minus(to.hashes));
    HeldKeys out;
    out.count = qint64(held.size());
    if (!held.empty())
        out.shown = codeList(codesAmong(source, m.sourceTable, m.sourceFilter, m.key, true, held), out.count);
    return out;
}

namespace {

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

// The stock rows whose trimmed product code is longer than the cut, met one
// by one: their number, the distinct codes (as hashes) and the smallest few.
class CodesCut {
public:
    CodesCut(QString table, int cut) : m_table(std::move(table)), m_cut(cut) {}
    void see(const QByteArray& code)
    {
        if (m_cut <= 0 || code.size() <= m_cut)
            return;
        ++m_rows;
        m_hashes.add(textutil::keyHash(code));
        keepSmallest(m_smallest, code);
    }
    // One problem line, empty when no code is cut.
    QString line()
    {
        if (m_rows == 0)
            return {};
        m_hashes.seal();
        return QStringLiteral("源 %1 有 %2 行的商品编号长于 %3 字节（%4）：spckkc 和 mdspkc 的 spbh 只保留前 %3 字节，"
                              "这些库存对不上 spda 中完整的商品编号；请先在源中把这些商品编号改为不超过 %3 字节，"
                              "再转换商品和库存")
            .arg(m_table)
            .arg(m_rows)
            .arg(m_cut)
            .arg(codeList(m_smallest, qsizetype(m_hashes.size())));
    }

private:
    QString m_table;
    int m_cut;
    qint64 m_rows = 0;
    textutil::SortedHashes m_hashes;
    QList<QByteArray> m_smallest;
};

} // namespace

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

struct Sums {
    db::Amount quantity, purchaseValue, retailValue;
    qint64 rows = 0;
    bool operator==(const Sums& o) const
    {
        return quantity == o.quantity && purchaseValue == o.purchaseValue && retailValue == o.retailValue;
    }
};

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

// The sums of a target select; with counted, each row also counts "n" times into
// *counted (the rows a join on the warehouse would give).
Sums targetSums(db::Connection& target, const QString& select, Sums* counted = nullptr,
                const textutil::SortedHashes* keys = nullptr)
{
    db::Query q(target);
    q.setText(select);
    q.open();
    Sums sums;
    while (q.next()) {
        // Only rows whose warehouse and product the source accounts for.
        if (keys && !keys->contains(textutil::keyHash(gbk::trim(q.text(QStringLiteral("ckbh"))) + '/' +
                                                      gbk::trim(q.text(QStringLiteral("spbh"))))))
            continue;
        const db::Amount quantity = q.amount(QStringLiteral("yesl"));
        const db::Amount purchase = q.amount(QStringLiteral("yecbje"));
        const db::Amount retail = q.amount(QStringLiteral("yesjje"));
        sums.quantity = sums.quantity + quantity;
        sums.purchaseValue = sums.purchaseValue + purchase;
        sums.retailValue = sums.retailValue + retail;
        ++sums.rows;
        if (counted)
            for (qint64 k = q.integer(QStringLiteral("n")); k > 0; --k) {
                counted->quantity = counted->quantity + quantity;
                counted->purchaseValue = counted->purchaseValue + purchase;
                counted->retailValue = counted->retailValue + retail;
                ++counted->rows;
            }
    }
    return sums;
}

qint64 count(db::Connection& target, const QString& select)
{
    db::Query q(target);
    q.setText(select);
    q.open();
    const qint64 n = q.next() ? q.valueAt(0).toLongLong() : 0;
    q.close();
    return n;
}

const QString kStoreSums = QStringLiteral("select yesl,yecbje,yesjje from mdspkc");

// storesBefore: the sums mdspkc held before the run, which the store-stock stage leaves beside its own rows.
void compareStock(const StockSums& s, const Sums& from, const textutil::SortedHashes* sourceKeys, bool codesCut,
                  const Sums* storesBefore, db::Connection& target, VerifyReport& report)
{
    // Only rows whose warehouse is in ckda reach the store stock, once per ckda row.
    Sums owned;
    const QString spckkc = QStringLiteral(
        "select ckbh,spbh,yesl,yecbje,yesjje,(select count(*) from ckda b where b.objid=a.ckbh) n from spckkc a");
    const Sums warehouses = targetSums(target, spckkc, nullptr, sourceKeys);
    const Sums all = targetSums(target, spckkc, &owned);
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
    const qint64 homeless = count(
        target,
        QStringLiteral("select count(*) from spckkc a where not exists (select 1 from ckda b where b.objid=a.ckbh)"));
    if (homeless > 0)
        report.problems
            << QStringLiteral(
                   "spckkc 有 %1 行的仓库不在 ckda 中，不计入 mdspkc：请先转换仓库（源仓库表没有的先在源中补上），再清空库存并重新转换库存")
                   .arg(homeless);
    const qint64 expected = count(target, QStringLiteral("select count(*) from (select distinct b.Ownermdbh, a.spbh "
                                                         "from spckkc a, ckda b where a.ckbh=b.objid) x"));
    if (stores.rows < expected)
        report.problems
            << QStringLiteral(
                   "mdspkc 只有 %1 行，spckkc 中仓库在 ckda 的行应得 %2 行：请先转换仓库，再清空库存并重新转换库存")
                   .arg(stores.rows)
                   .arg(expected);
    const qint64 unnamed =
        count(target, QStringLiteral(
                          "select count(*) from mdspkc a where not exists (select 1 from spda b where b.objid=a.spbh) "
                          "or not exists (select 1 from spdw c where c.objid=a.spbh and c.ifjbdw='1')"));
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

} // namespace

std::optional<QByteArray> readSetting(db::Connection& connection, const SettingRow& setting)
{
    // The key is a constant of the conversions, never source data.
    db::Query q(connection);
    q.setText(QStringLiteral("select %1 from %2 where %3='%4'")
                  .arg(setting.valueColumn, setting.table, setting.keyColumn, setting.key));
    q.open();
    std::optional<QByteArray> value;
    if (q.next())
        value = gbk::trim(db::variantText(q.valueAt(0)));
    q.close();
    return value;
}

QByteArray copiedSetting(const QByteArray& value) { return textutil::ReplaceAll(value, "0", "2"); }

namespace {

// The target setting must hold what the conversion wrote into it: an update
// that met no row writes nothing and says nothing.
void compareSetting(const SettingCopy& copy, const QByteArray& sourceValue, db::Connection& target,
                    VerifyReport& report)
{
    const QByteArray wanted = copiedSetting(sourceValue);
    const std::optional<QByteArray> held = readSetting(target, copy.to);
    const QString to = QStringLiteral("%1 的 %2 行").arg(copy.to.table, copy.to.key);
    // A healthy run says that the setting was carried over, and how, so that "2220" beside "2222" is no puzzle.
    const QString from = QStringLiteral("%1：源 %2 的 %3 行“%4”")
                             .arg(copy.to.name, copy.from.table, copy.from.key, gbk::toUnicode(sourceValue));
    if (held && *held == wanted && wanted == sourceValue)
        report.lines << from + QStringLiteral("已照原样写入目标 %1").arg(to);
    else if (held && *held == wanted)
        report.lines << from + QStringLiteral("已写入目标 %1，其中的 0 写为 2：“%2”").arg(to, gbk::toUnicode(wanted));
    else
        report.lines << from + QStringLiteral("，目标 %1“%2”")
                                   .arg(to, held ? gbk::toUnicode(*held) : QStringLiteral("（没有这一行）"));
    if (!held)
        report.problems << QStringLiteral(
                               "目标 %1 没有 %2 行，%3“%4”没有写入：请在目标 %1 中加上 %5 为 %2、%6 为 %4 的行")
                               .arg(copy.to.table, copy.to.key, copy.to.name, gbk::toUnicode(wanted), copy.to.keyColumn,
                                    copy.to.valueColumn);
    else if (*held != wanted)
        report.problems << QStringLiteral("目标 %1是“%2”，源 %3 的 %4 行应写为“%5”：请再运行类别转换，或把它改为“%5”")
                               .arg(to, gbk::toUnicode(*held), copy.from.table, copy.from.key, gbk::toUnicode(wanted));
}

} // namespace

struct SourceFacts {
    std::vector<KeyCount> keys; // one per row match
    QStringList merged;         // codes a cut merges
    std::optional<Sums> stock;
    QString stockCodesCut; // product codes the stock tables keep shorter than spda
    QByteArray setting;    // the copied setting, empty when the source has no such row
};

struct TargetBefore {
    std::vector<textutil::SortedHashes> keys; // one per row match
    std::optional<Sums> stores;               // mdspkc, where the operation builds store stock
};

std::shared_ptr<const TargetBefore> readTargetBefore(const Operation& operation, db::Connection& target)
{
    auto before = std::make_shared<TargetBefore>();
    for (const RowMatch& m : operation.reconciliation.rows)
        before->keys.push_back(readKeys(target, m.targetTable, QString(), m.key, false).hashes);
    if (operation.reconciliation.stock)
        before->stores = targetSums(target, kStoreSums);
    return before;
}

std::shared_ptr<const SourceFacts> readSourceFacts(const Operation& operation, db::Connection& source)
{
    auto facts = std::make_shared<SourceFacts>();
    for (const RowMatch& m : operation.reconciliation.rows) {
        facts->keys.push_back(sourceKeys(m, source));
        facts->merged << mergedByCut(m, source);
    }
    if (operation.reconciliation.stock) {
        CodesCut cuts(operation.reconciliation.stock->stockTable, stockProductCut(operation));
        facts->stock = sourceSums(*operation.reconciliation.stock, source, cuts);
        facts->stockCodesCut = cuts.line();
    }
    if (operation.reconciliation.setting)
        facts->setting = readSetting(source, operation.reconciliation.setting->from).value_or(QByteArray());
    return facts;
}

VerifyReport verify(const Operation& operation, const SourceFacts& facts, db::Connection& source,
                    db::Connection& target, const TargetBefore* before)
{
    VerifyReport report;
    const textutil::SortedHashes* stockKeys = nullptr;
    for (qsizetype i = 0; i < operation.reconciliation.rows.size(); ++i) {
        const RowMatch& m = operation.reconciliation.rows[i];
        matchRows(m, facts.keys[size_t(i)], before ? &before->keys[size_t(i)] : nullptr, source, target, report);
        if (m.targetTable.compare(u"spckkc", Qt::CaseInsensitive) == 0)
            stockKeys = &facts.keys[size_t(i)].hashes;
    }
    report.problems << facts.merged;
    if (operation.reconciliation.stock) {
        compareStock(*operation.reconciliation.stock, *facts.stock, stockKeys, !facts.stockCodesCut.isEmpty(),
                     before && before->stores ? &*before->stores : nullptr, target, report);
        if (!facts.stockCodesCut.isEmpty())
            report.problems << facts.stockCodesCut;
    }
    if (operation.reconciliation.setting)
        compareSetting(*operation.reconciliation.setting, facts.setting, target, report);
    return report;
}

VerifyReport verify(const Operation& operation, db::Connection& source, db::Connection& target)
{
    return verify(operation, *readSourceFacts(operation, source), source, target, nullptr);
}

} // namespace shell

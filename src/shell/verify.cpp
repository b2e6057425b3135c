#include "shell/verify.h"

#include "db/query.h"
#include "shell/verify_private.h"
#include "textutil/error.h"
#include "textutil/gbk.h"
#include "textutil/key_hashes.h"
#include "textutil/plib.h"

#include <QHash>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <iterator>
#include <map>
#include <optional>
#include <vector>

namespace shell {

// The first codes in byte order, "…" when there are more than shown.
QString codeList(const QList<QByteArray>& smallest, qsizetype count)
{
    QStringList shown;
    for (qsizetype i = 0; i < smallest.size() && i < kCodesShown; ++i)
        shown << gbk::toUnicode(smallest[i]);
    return shown.join(QStringLiteral("、")) + (count > kCodesShown ? QStringLiteral("…") : QString());
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

namespace {

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

// read: the target's keys where a walk of the table read them already.
void matchRows(const RowMatch& m, const KeyCount& from, const textutil::SortedHashes* before, db::Connection& source,
               db::Connection& target, VerifyReport& report, const KeyCount* read = nullptr)
{
    KeyCount own;
    if (!read)
        own = readKeys(target, m.targetTable, QString(), m.key, false);
    const KeyCount& to = read ? *read : own;
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
        // Only a code longer than the cut changes. What it keeps is the cut's
        // length or up to three bytes less (a character the cut would split
        // goes), so only codes of those lengths may equal it; the others stand
        // alone and are not kept. Each code comes with the row it first came in.
        using Seen = std::pair<qint64, QByteArray>;
        std::map<QByteArray, QList<Seen>> byCut;
        QHash<QByteArray, qint64> fitting;
        db::Query q(source);
        q.setText(QStringLiteral("select distinct %1 from %2").arg(part.sourceField, m.sourceTable));
        q.open();
        qint64 row = 0;
        while (q.next()) {
            const QByteArray code = gbk::trim(q.text(part.sourceField));
            ++row;
            if (code.size() > part.cut) {
                QList<Seen>& codes = byCut[gbk::cut(code, part.cut)];
                if (std::none_of(codes.cbegin(), codes.cend(), [&](const Seen& c) { return c.second == code; }))
                    codes.append({row, code});
            } else if (code.size() >= part.cut - 3 && !fitting.contains(code)) {
                fitting.insert(code, row);
            }
        }
        q.close();
        for (auto& [kept, seen] : byCut) {
            if (const auto it = fitting.constFind(kept); it != fitting.cend())
                seen.insert(std::lower_bound(seen.begin(), seen.end(), Seen{it.value(), kept}), {it.value(), kept});
            if (seen.size() < 2)
                continue;
            QList<QByteArray> codes;
            for (const Seen& c : seen)
                codes << c.second;
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
    const auto isStock = [](const RowMatch& m) {
        return m.targetTable.compare(u"spckkc", Qt::CaseInsensitive) == 0 && m.key.size() == 2 &&
               m.key[0].targetColumn.compare(u"ckbh", Qt::CaseInsensitive) == 0 &&
               m.key[1].targetColumn.compare(u"spbh", Qt::CaseInsensitive) == 0;
    };
    // The walk over spckkc for the stock sums reads its keys too.
    std::optional<StockRows> stock;
    if (operation.reconciliation.stock) {
        const textutil::SortedHashes* stockKeys = nullptr;
        for (qsizetype i = 0; i < operation.reconciliation.rows.size(); ++i)
            if (isStock(operation.reconciliation.rows[i]))
                stockKeys = &facts.keys[size_t(i)].hashes;
        stock = readStockRows(target, stockKeys);
    }
    for (qsizetype i = 0; i < operation.reconciliation.rows.size(); ++i) {
        const RowMatch& m = operation.reconciliation.rows[i];
        matchRows(m, facts.keys[size_t(i)], before ? &before->keys[size_t(i)] : nullptr, source, target, report,
                  stock && isStock(m) ? &stock->keys : nullptr);
    }
    if (stock)
        stock->keys = KeyCount(); // matched: its memory goes before the stock sums are compared
    report.problems << facts.merged;
    if (stock) {
        compareStock(*operation.reconciliation.stock, *facts.stock, *stock, !facts.stockCodesCut.isEmpty(),
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
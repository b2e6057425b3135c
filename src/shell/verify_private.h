#pragma once

// Helpers shared by the files of the reconciliation (verify.cpp, verify_stock.cpp).

#include "db/amount.h"
#include "db/connection.h"
#include "shell/operation.h"
#include "shell/verify.h"
#include "textutil/key_hashes.h"

#include <QByteArray>
#include <QList>
#include <QString>

namespace shell {

constexpr int kCodesShown = 5;

// The first codes in byte order, "…" when there are more than shown.
QString codeList(const QList<QByteArray>& smallest, qsizetype count);

// Keeps k among the smallest codes (sorted, each once, at most kCodesShown).
void keepSmallest(QList<QByteArray>& smallest, const QByteArray& k);

struct Sums {
    db::Amount quantity, purchaseValue, retailValue;
    qint64 rows = 0;
    bool operator==(const Sums& o) const
    {
        return quantity == o.quantity && purchaseValue == o.purchaseValue && retailValue == o.retailValue;
    }
};

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

// The bytes spckkc.spbh keeps of a stock conversion's product codes, 0 for all.
int stockProductCut(const Operation& operation);

// The sums of the stock conversion's source; each stock row's product code is also shown to cuts.
Sums sourceSums(const StockSums& s, db::Connection& source, CodesCut& cuts);

// The sums of a target select of yesl, yecbje and yesjje.
Sums targetSums(db::Connection& target, const QString& select);

// The sums mdspkc holds.
extern const QString kStoreSums;

// The keys of a table as 64-bit hashes, sorted, each once: a million codes take
// 8 MB. Two different codes share a hash with odds of about one in 10^19 per
// pair. The codes a report names are read again.
struct KeyCount {
    qint64 rows = 0;
    textutil::SortedHashes hashes;
};

// What one walk over spckkc tells: its keys (the row match's), the sums of the
// rows whose warehouse and product the source accounts for (all rows without
// source keys), of every row, of every row once per ckda row of its warehouse,
// the rows whose warehouse is not in ckda and, where keys compare as stored
// bytes, the store stock rows those in ckda make (one per owning store and
// product), else -1.
struct StockRows {
    KeyCount keys;
    Sums accounted, all, owned;
    qint64 homeless = 0;
    qint64 storeRows = -1;
};
StockRows readStockRows(db::Connection& target, const textutil::SortedHashes* sourceKeys);

// Compares the sums of spckkc and mdspkc with the source's and names the store stock rows that are missing.
// storesBefore: the sums mdspkc held before the run, which the store-stock stage leaves beside its own rows.
void compareStock(const StockSums& s, const Sums& from, const StockRows& rows, bool codesCut, const Sums* storesBefore,
                  db::Connection& target, VerifyReport& report);

} // namespace shell

#pragma once

#include "db/amount.h"
#include "db/query.h"
#include "quorvan/column.h"
#include "quorvan/rules.h"
#include "shell/operation.h"
#include "textutil/error.h"

#include <QStringList>
#include <map>

namespace shell {
class Run;
}

// Stock per warehouse and product, and per store and product.
namespace quorvan {

inline constexpr Column kSpckkc[] = {
    text("ckbh", 15).keep(3).inKey(), // not the 15 bytes a warehouse code keeps in ckda
    text("ckmc", 20).keepWidth(),
    text("spbh", 15).keepWidth().inKey(),
    text("spmc", 40).keepWidth(),
    text("dwmc", 6).keepWidth(),
    amount("yesl"),
    amount("yecbje"),
    amount("yesjje"),
    text("bz", 50),
    integer("qccbje"),
    integer("qcsjje"),
    integer("qcsl"),
    text("xgrq", 20).keepWidth(),
};
inline constexpr Table kSpckkcTable = describe("spckkc", kSpckkc);

// Filled by set-based statements from spckkc and the target's own tables.
inline constexpr Column
    kMdspkc
        [] =
            {
                text("mdbh", 15).inKey(), text("mdmc", 40), text("spbh", 15).inKey(),
                text("spmc", 90), // the product name followed by its model or size
                text("dwmc", 6),          amount("yesl"),   amount("yecbje"),
                amount("yesjje"),         text("xgrq", 20),
};
inline constexpr Table kMdspkcTable = describe("mdspkc", kMdspkc);

// The stores; only read, for the name of the store a warehouse belongs to.
inline constexpr Column kMdda[] = {
    text("objid", 15).inKey(),
    text("mdmc", 40),
};
inline constexpr Table kMddaTable = describe("mdda", kMdda);

// The warehouse-stock row of spckkc and the store-stock stage that sums it into
// mdspkc; both families write them.
inline const QStringList kInsertSpckkc = insertLines(kSpckkcTable);

// A stock run stopped in the middle of its walk: the store stock is built only after it.
inline const QString kStockInterrupted = QStringLiteral("spckkc 不完整，mdspkc 未生成：请清空库存后重新转换");

// The warehouse codes a walk meets, grouped by what the cut of spckkc.ckbh
// keeps of them: two codes that keep the same bytes become one code there, and
// the second row of a product in both breaks the table's key.
class WarehouseCuts {
public:
    void see(const QByteArray& code);
    // The error that ended the walk, with the codes the cut merged so far.
    [[noreturn]] void rethrow(const belmire::Error& error) const;

private:
    std::map<QByteArray, QList<QByteArray>> m_byCut; // kept bytes -> the whole codes, in the order met
    QByteArray m_last;                               // the last code seen, most rows repeat it
};

// The stock conversion into spckkc by the rules, then the store stock; the
// walk stops at an abort where honourAbort says so. The rules give ckbh and
// spbh as code parts, yesl, and yecbje and yesjje as yesl valued at the
// purchase and retail price.
shell::Operation stock(Rules rules, bool honourAbort);

// Fills mdspkc from every spckkc row present: per store and product the sums,
// then store name, product name followed by its ggxh, base unit and time stamp.
// The five statements take effect together or not at all.
void buildStoreStock(shell::Run& run);

// The target tables of a stock conversion: spckkc and mdspkc written, ckda,
// mdda, spda and spdw read by the store-stock stage.
QList<shell::TableUse> stockTargetUses();

} // namespace quorvan

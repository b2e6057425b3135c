#pragma once

#include "db/amount.h"
#include "db/query.h"
#include "shell/operation.h"

#include <QStringList>

namespace shell {
class Run;
}

// The warehouse-stock row of spckkc and the store-stock stage that sums it into
// mdspkc, shared with the V1 stock conversion.
namespace convert_v67 {

inline const QStringList kInsertSpckkc = {
    QStringLiteral("insert into spckkc (ckbh,ckmc,spbh,spmc,dwmc,yesl,yecbje,yesjje,bz,qccbje,qcsjje,qcsl,xgrq"),
    QStringLiteral(") values ("),
    QStringLiteral(":ckbh,:ckmc,:spbh,:spmc,:dwmc,:yesl,:yecbje,:yesjje,:bz,:qccbje,:qcsjje,:qcsl,:xgrq)"),
};

// One product in one warehouse, as the source gives it.
struct StockRow {
    QByteArray ckbh; // warehouse code, trimmed
    QByteArray ckmc;
    QByteArray spbh; // product code, trimmed
    QByteArray spmc;
    QByteArray dwmc;
    db::Amount yesl;          // quantity
    db::Amount purchasePrice; // values the quantity as yecbje
    db::Amount retailPrice;   // values the quantity as yesjje
};

// A price looked up for a product code, read as a decimal number. Any failure
// (no such product, an empty or non-numeric price, a failing statement) gives 0.
db::Amount softPrice(shell::Run& run, const QString& statement, const QByteArray& productCode);

// Binds one spckkc row and executes the INSERT.
void writeStock(db::Query& insert, const StockRow& row, const QByteArray& stamp);

// Fills mdspkc from every spckkc row present: per store and product the sums,
// then store name, product name followed by its ggxh, base unit and time stamp.
// The five statements take effect together or not at all.
void buildStoreStock(shell::Run& run);

// The target tables of a stock conversion: spckkc and mdspkc written, ckda,
// mdda, spda and spdw read by the store-stock stage.
QList<shell::TableUse> stockTargetUses();

} // namespace convert_v67

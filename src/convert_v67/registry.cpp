#include "convert_v67/conversions.h"

#include "db/connection.h"
#include "quorvan/clears.h"
#include "shell/check.h"
#include "textutil/error.h"

namespace convert_v67 {
namespace {

// "products-v7" when the source's spxx has the tax-rate fields (or cannot be
// read: the run or the check tells what is wrong), else "products-v6".
QString productsFor(const QString& sourceUdl)
{
    db::Connection source(QStringLiteral("源"));
    try {
        source.open(sourceUdl);
        shell::probe(source, QStringLiteral("spxx"), {});
    } catch (const belmire::Error&) {
        return QStringLiteral("products-v7");
    }
    try {
        shell::probe(source, QStringLiteral("spxx"), {QStringLiteral("buytaxrate"), QStringLiteral("saletaxrate")});
        return QStringLiteral("products-v7");
    } catch (const belmire::Error&) {
        return QStringLiteral("products-v6");
    }
}

} // namespace

QList<shell::Operation> conversions()
{
    shell::Operation stockOp = stock();
    stockOp.prerequisites = quorvan::storeStockNeeds({QStringLiteral("warehouses")},
                                                     {QStringLiteral("products-v6"), QStringLiteral("products-v7")});
    return {warehouses(), goodsAreas(), suppliers(), categories(), productsV6(), productsV7(), stockOp, members()};
}

shell::Program program(QList<shell::Operation> clears)
{
    return {conversions(),
            std::move(clears),
            {QStringLiteral("Belmire V6/V7 源数据库"),
             {QStringLiteral("spxx"), QStringLiteral("ck"), QStringLiteral("xx")}},
            {QStringLiteral("products-v6"), QStringLiteral("products-v7")},
            productsFor};
}

} // namespace convert_v67

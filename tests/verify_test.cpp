// Reconciliation after a load: row keys of each source table against the
// target table, and the stock sums of the source against spckkc and mdspkc.
#include "programs/programs.h"
#include "shell/verify.h"
#include "support/testdb.h"

#include <gtest/gtest.h>

using namespace testing_support;
using shell::Family;

namespace {

class Verify : public ::testing::TestWithParam<Backend> {};

// byCollation: the target compares keys as a server's collation would, so the
// database counts what a scan of the stored bytes counts otherwise.
shell::VerifyReport verifyOperation(Shop& shop, Family family, const QString& id, bool byCollation = false)
{
    db::Connection source(QStringLiteral("源"));
    db::Connection target(QStringLiteral("目标"));
    target.setKeysCompareByCollation(byCollation);
    source.open(shop.sourceUdl());
    target.open(shop.targetUdl());
    return shell::verify(*programs::catalog().find(family, id), source, target);
}

void runAll(Shop& shop, Family family, const QStringList& ids)
{
    for (const QString& id : ids) {
        RecordingFrontend fe;
        const shell::RunResult r = runOperation(shop, family, id, fe);
        ASSERT_TRUE(r.ok) << id.toStdString() << ": " << r.message.toStdString();
    }
}

std::string text(const shell::VerifyReport& r) { return (r.lines + r.problems).join(u'\n').toStdString(); }

// Warehouses W1 and W2 of store 001 and W9 that is not converted; P1 twice in
// the source, P3 not a plain product; K1 twice.
void fillV67(Shop& shop) { shop.source().load(QStringLiteral("verify_source_v67")); }

// W9 is in no ckda row: its stock cannot reach the store stock.
const QString kHomeless = QStringLiteral(
    "spckkc 有 1 行的仓库不在 ckda 中，不计入 mdspkc：请先转换仓库（源仓库表没有的先在源中补上），再清空库存并重新转换库存");

} // namespace

TEST_P(Verify, ACleanRunReconciles)
{
    REQUIRE_BACKEND(GetParam());
    Shop shop(QStringLiteral("source_v67_sqlite.sql"), GetParam());
    fillV67(shop);
    runAll(shop, Family::V67, {"warehouses", "products-v7", "stock", "members"});

    const shell::VerifyReport warehouses = verifyOperation(shop, Family::V67, QStringLiteral("warehouses"));
    EXPECT_TRUE(warehouses.ok()) << text(warehouses);
    EXPECT_EQ(warehouses.lines, QStringList{QStringLiteral("源 ck 2 行（编号重复 0 行），目标 ckda 2 行")});

    // The repeated product code and card were skipped, as the conversions do.
    const shell::VerifyReport products = verifyOperation(shop, Family::V67, QStringLiteral("products-v7"));
    EXPECT_TRUE(products.ok()) << text(products);
    EXPECT_EQ(products.lines, QStringList{QStringLiteral("源 spxx 3 行（编号重复 1 行），目标 spda 2 行")});
    const shell::VerifyReport members = verifyOperation(shop, Family::V67, QStringLiteral("members"));
    EXPECT_TRUE(members.ok()) << text(members);
    EXPECT_EQ(members.lines, QStringList{QStringLiteral("源 hyda 3 行（编号重复 1 行），目标 hyda 2 行")});

    // 3 x 1.5 + 0.5 x 1.5, and 3 x 2.5 + 0.5 x 2.5 + 7 x 0.3333 + 1.25 x 0.3333 (0.4166 each row rounded); W9
    // belongs to no store, so mdspkc lacks its row.
    const shell::VerifyReport stock = verifyOperation(shop, Family::V67, QStringLiteral("stock"));
    EXPECT_EQ(stock.problems, QStringList{kHomeless}) << text(stock);
    EXPECT_EQ(
        stock.lines,
        (QStringList{
            QStringLiteral("源 spkc 4 行（编号重复 0 行），目标 spckkc 4 行"),
            QStringLiteral("数量合计：源 spkc 11.7500，spckkc 11.7500，mdspkc 10.5000（spckkc 中仓库在 ckda 的行 "
                           "10.5000）"),
            QStringLiteral("进价金额合计：源 spkc 5.2500，spckkc 5.2500，mdspkc 5.2500（spckkc 中仓库在 ckda 的行 "
                           "5.2500）"),
            QStringLiteral("售价金额合计：源 spkc 11.4997，spckkc 11.4997，mdspkc 11.0831（spckkc 中仓库在 ckda "
                           "的行 11.0831）"),
        }));
    EXPECT_EQ(text(verifyOperation(shop, Family::V67, QStringLiteral("stock"), true)), text(stock));

    // The store stock lost: fewer rows than the warehouses in ckda make, counted alike both ways.
    shop.target().exec(QStringLiteral("delete from mdspkc;"));
    const shell::VerifyReport stores = verifyOperation(shop, Family::V67, QStringLiteral("stock"));
    EXPECT_TRUE(stores.problems.contains(
        QStringLiteral("mdspkc 只有 0 行，spckkc 中仓库在 ckda 的行应得 2 行：请先转换仓库，再清空库存并重新转换库存")))
        << text(stores);
    EXPECT_EQ(text(verifyOperation(shop, Family::V67, QStringLiteral("stock"), true)), text(stores));
}

TEST_P(Verify, ATargetRowLostAfterTheRunIsAProblem)
{
    REQUIRE_BACKEND(GetParam());
    Shop shop(QStringLiteral("source_v67_sqlite.sql"), GetParam());
    fillV67(shop);
    shop.source().exec(QStringLiteral("insert into xx values ('spjc', '2220');"));
    runAll(shop, Family::V67, {"warehouses", "products-v6", "stock", "members", "categories"});
    const shell::VerifyReport categories = verifyOperation(shop, Family::V67, QStringLiteral("categories"));
    EXPECT_TRUE(categories.ok()) << text(categories);
    EXPECT_TRUE(categories.lines.contains(QStringLiteral(
        "商品类别级别设置：源 xx 的 spjc 行“2220”已写入目标 xx 的 01splbjc 行，其中的 0 写为 2：“2222”")))
        << text(categories);
    // The level setting changed or gone: the update the run made is not there.
    shop.target().exec(QStringLiteral("update xx set fvalue = '22' where objid = '01splbjc';"));
    const shell::VerifyReport changed = verifyOperation(shop, Family::V67, QStringLiteral("categories"));
    EXPECT_EQ(changed.problems, QStringList{QStringLiteral(
                                    "目标 xx 的 01splbjc 行是“22”，源 xx 的 spjc 行应写为“2222”：请再运行类别转换，"
                                    "或把它改为“2222”")});
    EXPECT_TRUE(
        changed.lines.contains(QStringLiteral("商品类别级别设置：源 xx 的 spjc 行“2220”，目标 xx 的 01splbjc 行“22”")))
        << text(changed);
    shop.target().exec(QStringLiteral("delete from xx where objid = '01splbjc';"));
    EXPECT_EQ(verifyOperation(shop, Family::V67, QStringLiteral("categories")).problems,
              QStringList{QStringLiteral("目标 xx 没有 01splbjc 行，商品类别级别设置“2222”没有写入：请在目标 xx 中加上 "
                                         "objid 为 01splbjc、fvalue 为 2222 的行")});
    shop.target().exec(QStringLiteral("delete from spda where objid = 'P2';\n"
                                      "delete from hyda where objid = 'K1';\n"
                                      "delete from spckkc where ckbh = 'W2' and spbh = 'P2';\n"
                                      "insert into ckda (objid) values ('X9');"));

    const shell::VerifyReport products = verifyOperation(shop, Family::V67, QStringLiteral("products-v6"));
    EXPECT_EQ(products.problems, QStringList{QStringLiteral("目标 spda 缺少源 spxx 的 1 个编号：P2")});
    const shell::VerifyReport members = verifyOperation(shop, Family::V67, QStringLiteral("members"));
    EXPECT_EQ(members.problems, QStringList{QStringLiteral("目标 hyda 缺少源 hyda 的 1 个编号：K1")});
    const shell::VerifyReport warehouses = verifyOperation(shop, Family::V67, QStringLiteral("warehouses"));
    // On its own the reconciliation cannot tell a row added later from one held before: information.
    EXPECT_TRUE(warehouses.ok()) << text(warehouses);
    EXPECT_TRUE(
        warehouses.lines.contains(QStringLiteral("目标 ckda 另有 1 个编号不在源 ck 中（不是这次转换写入的）：X9")));

    // The lost spckkc row shows in the keys and in the sums; mdspkc still holds its stock.
    const shell::VerifyReport stock = verifyOperation(shop, Family::V67, QStringLiteral("stock"));
    EXPECT_EQ(stock.problems,
              (QStringList{
                  QStringLiteral("目标 spckkc 缺少源 spkc 的 1 个编号：W2/P2"),
                  QStringLiteral("spckkc 的数量合计 4.7500 与源 spkc 的 11.7500 不符"),
                  QStringLiteral("mdspkc 的数量合计 10.5000 与 spckkc 中仓库在 ckda 的行 3.5000 不符"),
                  QStringLiteral("spckkc 的售价金额合计 9.1666 与源 spkc 的 11.4997 不符"),
                  QStringLiteral("mdspkc 的售价金额合计 11.0831 与 spckkc 中仓库在 ckda 的行 8.7500 不符"),
                  kHomeless,
              }))
        << text(stock);
    // With products in spda, a store row without its product is shown; the products' own check names P2.
    EXPECT_TRUE(stock.lines.contains(QStringLiteral(
        "mdspkc 有 1 行的商品不在 spda 或没有基本单位，名称或单位为空（源中没有这些商品，或它们被拒绝）")))
        << text(stock);
    EXPECT_EQ(text(verifyOperation(shop, Family::V67, QStringLiteral("stock"), true)), text(stock));
}

TEST_P(Verify, ManyDifferencesNameTheFirstCodesInByteOrder)
{
    REQUIRE_BACKEND(GetParam());
    Shop shop(QStringLiteral("source_v67_sqlite.sql"), GetParam());
    // Cards M01..M12 written, then seven of them lost and five strangers added: more missing than shown.
    QString cards;
    for (int i = 12; i >= 1; --i)
        cards += QStringLiteral("insert into hyda (kbh, czye, zt) values ('M%1', 1, '正常');\n")
                     .arg(i, 2, 10, QLatin1Char('0'));
    shop.source().exec(cards.trimmed());
    runAll(shop, Family::V67, {"members"});
    shop.target().exec(QStringLiteral("delete from hyda where objid in ('M11','M03','M09','M05','M12','M07','M01');\n"
                                      "insert into hyda (objid) values ('Z1');\n"
                                      "insert into hyda (objid) values ('A9');\n"
                                      "insert into hyda (objid) values ('A1');\n"
                                      "insert into hyda (objid) values ('Y');\n"
                                      "insert into hyda (objid) values ('B');"));
    const shell::VerifyReport members = verifyOperation(shop, Family::V67, QStringLiteral("members"));
    EXPECT_EQ(members.problems,
              QStringList{QStringLiteral("目标 hyda 缺少源 hyda 的 7 个编号：M01、M03、M05、M07、M09…")})
        << text(members);
    EXPECT_TRUE(members.lines.contains(
        QStringLiteral("目标 hyda 另有 5 个编号不在源 hyda 中（不是这次转换写入的）：A1、A9、B、Y、Z1")));
}

INSTANTIATE_TEST_SUITE_P(Backends, Verify, ::testing::Values(Backend::SQLite, Backend::PostgreSQL),
                         [](const auto& info) { return backendName(info.param).toStdString(); });

// A code of the cut's length, or shorter where the cut drops a character it
// would split, joins the longer codes that keep it, in the order the source
// gives them; the other codes stand alone.
TEST(VerifyCuts, CodesACutMergesAreNamedInTheOrderTheSourceGivesThem)
{
    Shop shop(QStringLiteral("source_v67_sqlite.sql"), Backend::SQLite);
    QString rows;
    for (const char* code : {"AB12", "W1X", "AB1", "Z", "AB仓", "W9", "AB13", "W1XY", "AB"})
        rows += QStringLiteral("insert into ck (ckbh) values ('%1');\n").arg(QString::fromUtf8(code));
    shop.source().exec(rows.trimmed());
    db::Connection source(QStringLiteral("源"));
    source.open(shop.sourceUdl());
    const shell::RowMatch match{
        QStringLiteral("ck"), {}, {{QStringLiteral("ckbh"), QStringLiteral("objid"), 3}}, QStringLiteral("ckda")};
    const auto line = [](const char* codes, const char* kept) {
        return QStringLiteral(
                   "源 ck 的 ckbh %1 截为 3 字节后同为 %2，在目标中合为一个编号：请先把源编号改为不同的前 3 字节")
            .arg(QString::fromUtf8(codes), QString::fromUtf8(kept));
    };
    EXPECT_EQ(shell::mergedByCut(match, source),
              (QStringList{line("AB仓、AB", "AB"), line("AB12、AB1、AB13", "AB1"), line("W1X、W1XY", "W1X")}));
}

TEST(VerifyV1, StockQuantitiesThatAreNoNumbersCountAsZeroOnBothSides)
{
    Shop shop(QStringLiteral("source_v1_sqlite.sql"), Backend::SQLite);
    shop.source().exec(
        QStringLiteral("insert into Store (StoreId, Store) values ('S1', '门店仓');\n"
                       "insert into goods (goodsid, StockPrice, RetailPrice, Unit) values ('G1', 2, 'x', '个');\n"
                       "insert into GoodsStoreBalance (StoreId, GoodsId, BalanceNum) values ('S1', 'G1', 4);\n"
                       "insert into GoodsStoreBalance (StoreId, GoodsId, BalanceNum) values ('S1', 'G2', 'many');\n"
                       "insert into GoodsStoreBalance (StoreId, GoodsId, BalanceNum) values ('S1', 'G2', 1);"));
    runAll(shop, Family::V1, {"warehouses", "clear-stock"});
    RecordingFrontend fe;
    // The repeated warehouse and product ends the run at its row; the rows before it stay.
    EXPECT_FALSE(runOperation(shop, Family::V1, QStringLiteral("stock"), fe).ok);
    const shell::VerifyReport failed = verifyOperation(shop, Family::V1, QStringLiteral("stock"));
    EXPECT_EQ(failed.problems.value(0),
              QStringLiteral("源 GoodsStoreBalance 有 1 行的编号重复，目标 spckkc 每个编号只能有一行"));
    EXPECT_FALSE(failed.ok());

    shop.source().exec(QStringLiteral("delete from GoodsStoreBalance where BalanceNum = 1"));
    runAll(shop, Family::V1, {"clear-stock", "stock"});
    // The products were not converted: the store stock has neither names nor units.
    const shell::VerifyReport stock = verifyOperation(shop, Family::V1, QStringLiteral("stock"));
    EXPECT_EQ(
        stock.problems,
        QStringList{QStringLiteral(
            "mdspkc 有 2 行的商品不在 spda 或没有基本单位，名称或单位为空：请先转换商品，再清空库存并重新转换库存")})
        << text(stock);
    EXPECT_EQ(stock.lines.value(1),
              QStringLiteral("数量合计：源 GoodsStoreBalance 4.0000，spckkc 4.0000，mdspkc 4.0000"));
    EXPECT_EQ(stock.lines.value(2),
              QStringLiteral("进价金额合计：源 GoodsStoreBalance 8.0000，spckkc 8.0000，mdspkc 8.0000"));
    EXPECT_EQ(stock.lines.value(3),
              QStringLiteral("售价金额合计：源 GoodsStoreBalance 0.0000，spckkc 0.0000，mdspkc 0.0000"));
}

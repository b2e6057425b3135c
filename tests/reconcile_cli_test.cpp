// The check and verify commands of the command line and the reconciliation
// line of each conversion's summary.
#include "cli/cli.h"
#include "support/cli_capture.h"
#include "support/testdb.h"

#include <gtest/gtest.h>

#include <cstdio>

using namespace testing_support;

namespace {

void fillSource(Shop& shop) { shop.source().load(QStringLiteral("reconcile_source_v67")); }

} // namespace

TEST(CheckCommand, ExitsZeroOnAHealthyShopAndOneWithEveryProblem)
{
    Shop shop(QStringLiteral("source_v67_sqlite.sql"), Backend::SQLite);
    shop.source().exec(QStringLiteral("insert into ck (ckbh, ckmc) values ('C1', '总仓');\n"
                                      "insert into hq (hqbh, hqmc) values ('H1', '食品区');"));
    const Captured healthy = runCli({"check"}, shop.folder());
    EXPECT_EQ(healthy.status, 0) << healthy.out.toStdString();
    EXPECT_TRUE(healthy.out.startsWith(QStringLiteral("检查完毕："))) << healthy.out.toStdString();
    EXPECT_EQ(healthy.out.count(u'\n'), 1);

    shop.source().exec(QStringLiteral("drop table ck"));
    shop.target().exec(QStringLiteral("alter table ckda drop column ownermdmc"));
    // Only the operations named are checked: goods areas read neither.
    EXPECT_EQ(runCli({"check", "goods-areas"}, shop.folder()).status, 0);
    const Captured broken = runCli({"check", "warehouses", "stock"}, shop.folder());
    EXPECT_EQ(broken.status, 1);
    const QStringList lines = broken.out.trimmed().split(u'\n');
    ASSERT_EQ(lines.size(), 4) << broken.out.toStdString();
    // Information first: stock without products leaves the store stock without names.
    EXPECT_TRUE(lines[0].startsWith(QStringLiteral("目标 spda 没有商品：")));
    EXPECT_TRUE(lines[1].startsWith(QStringLiteral("源表 ck 不存在或无法读取：")));
    EXPECT_TRUE(lines[2].startsWith(QStringLiteral("目标表 ckda 缺少字段 ownermdmc：")));
    EXPECT_EQ(lines[3], QStringLiteral("检查完毕：发现 2 个问题"));
    EXPECT_EQ(shop.target().scalar(QStringLiteral("select count(*) from ckda")), QStringLiteral("0"));

    EXPECT_EQ(runCli({"check", "no-such-operation"}, shop.folder()).status, 2);
    // A source of the other program: its tables are named as missing, and the hint comes first.
    const Captured v1 = runCli({"--from", "v1", "check"}, shop.folder());
    EXPECT_EQ(v1.status, 1);
    EXPECT_TRUE(v1.out.contains(
        QStringLiteral("源数据库的表是 V6/V7 的，不是 V1 的：请用 --from v67（或去掉 --from v1）再运行\n源表 ")))
        << v1.out.toStdString();
    Shop v1Shop(QStringLiteral("source_v1_sqlite.sql"), Backend::SQLite);
    const Captured v67 = runCli({"check"}, v1Shop.folder());
    EXPECT_EQ(v67.status, 1);
    EXPECT_TRUE(v67.out.contains(QStringLiteral("源数据库的表是 V1 的，不是 V6/V7 的：请用 --from v1 再运行\n源表 ")))
        << v67.out.toStdString();
    // A conversion stops at the first missing table, followed by the same hint once.
    const Captured run = runCli({"warehouses", "products"}, v1Shop.folder());
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(run.err.startsWith(QStringLiteral("错误：仓库档案转换：表 ck：")) &&
                run.err.endsWith(QStringLiteral("\n源数据库的表是 V1 的，不是 V6/V7 的：请用 --from v1 再运行\n")))
        << run.err.toStdString();
    EXPECT_EQ(run.err.count(QStringLiteral("--from v1")), 1);
    // A table missing from a source of the right program gets no hint.
    shop.target().exec(QStringLiteral("alter table ckda add column ownermdmc varchar(20)"));
    const Captured missing = runCli({"warehouses"}, shop.folder());
    EXPECT_EQ(missing.status, 1);
    EXPECT_TRUE(missing.err.startsWith(QStringLiteral("错误：仓库档案转换：表 ck：")) &&
                !missing.err.contains(QStringLiteral("请用")))
        << missing.err.toStdString();

    // A dry run: rows already there, codes the cut merges, store stock built too early; nothing written.
    Shop dry(QStringLiteral("source_v67_sqlite.sql"), Backend::SQLite);
    fillSource(dry);
    dry.source().exec(QStringLiteral("insert into spkc (ckbh, spbh, yesl) values ('WH01', 'P1', 1);\n"
                                     "insert into spkc (ckbh, spbh, yesl) values ('WH02', 'P1', 1);"));
    dry.target().exec(QStringLiteral("insert into spda (objid) values ('Z9');"));
    const Captured c = runCli({"check", "stock", "warehouses", "products"}, dry.folder());
    EXPECT_EQ(c.status, 1);
    for (const QString& line :
         {QStringLiteral("目标表 spda 已有 1 行\n"), QStringLiteral("截为 3 字节后同为 WH0"),
          QStringLiteral("库存转换排在仓库档案转换之前"), QStringLiteral("库存转换排在V7商品转换之前")})
        EXPECT_TRUE(c.out.contains(line)) << c.out.toStdString();
    EXPECT_EQ(dry.target().scalar(QStringLiteral("select count(*) from spckkc")), QStringLiteral("0"));
}

TEST(CheckCommand, AV6SourceIsCheckedAndConvertedWithTheV6Products)
{
    Shop shop(QStringLiteral("source_v67_sqlite.sql"), Backend::SQLite);
    fillSource(shop);
    shop.source().exec(
        QStringLiteral("alter table spxx drop column buytaxrate;\nalter table spxx drop column saletaxrate;"));
    const Captured check = runCli({"check"}, shop.folder());
    EXPECT_EQ(check.status, 0) << check.out.toStdString();
    const Captured all = runCli({"all"}, shop.folder());
    EXPECT_EQ(all.status, 0) << all.err.toStdString();
    EXPECT_TRUE(all.err.contains(QStringLiteral("V6商品转换：读取 1 行，写入 1 行"))) << all.err.toStdString();
    EXPECT_EQ(shop.target().scalar(QStringLiteral("select count(*) from spda")), QStringLiteral("1"));
    const Captured again = runCli({"clear-products", "products"}, shop.folder());
    EXPECT_TRUE(again.err.contains(QStringLiteral("V6商品转换："))) << again.err.toStdString();
}

TEST(VerifyCommand, ReportsWhatTheRulesDoNotExplain)
{
    Shop shop(QStringLiteral("source_v67_sqlite.sql"), Backend::SQLite);
    fillSource(shop);
    const Captured run = runCli({"warehouses", "products", "stock"}, shop.folder());
    ASSERT_EQ(run.status, 0) << run.err.toStdString();
    // Each summary is followed by its reconciliation.
    EXPECT_TRUE(run.err.contains(QStringLiteral("仓库档案转换：读取 2 行，写入 2 行，跳过 0 行，")));
    EXPECT_TRUE(run.err.contains(QStringLiteral("仓库档案转换核对：源 ck 2 行（编号重复 0 行），目标 ckda 2 行\n")));
    EXPECT_TRUE(
        run.err.contains(QStringLiteral("库存转换核对：数量合计：源 spkc 4.0000，spckkc 4.0000，mdspkc 4.0000\n")));
    EXPECT_TRUE(
        run.err.contains(QStringLiteral("库存转换核对：进价金额合计：源 spkc 6.0000，spckkc 6.0000，mdspkc 6.0000\n")));
    EXPECT_FALSE(run.err.contains(QStringLiteral("问题")));

    const Captured clean = runCli({"verify", "all"}, shop.folder());
    EXPECT_EQ(clean.status, 0) << clean.out.toStdString();
    EXPECT_TRUE(clean.out.endsWith(QStringLiteral("核对完毕：没有发现问题\n")));

    shop.target().exec(QStringLiteral("update mdspkc set yesl = 5"));
    const Captured changed = runCli({"verify", "stock", "warehouses"}, shop.folder());
    EXPECT_EQ(changed.status, 1);
    EXPECT_TRUE(changed.out.contains(
        QStringLiteral("库存转换：问题：mdspkc 的数量合计 5.0000 与 spckkc 中仓库在 ckda 的行 4.0000 不符\n")))
        << changed.out.toStdString();
    EXPECT_TRUE(changed.out.endsWith(QStringLiteral("核对完毕：发现 1 个问题\n")));

    EXPECT_EQ(runCli({"verify"}, shop.folder()).status, 2);
    EXPECT_EQ(runCli({"verify", "clear-stock"}, shop.folder()).status, 2);
}

TEST(VerifyCommand, StockOfAProductCodeLongerThanSpckkcKeepsIsAProblem)
{
    // spda keeps the 16-byte code whole, spckkc and mdspkc keep 15: the stock names no product.
    Shop shop(QStringLiteral("source_v67_sqlite.sql"), Backend::SQLite);
    fillSource(shop);
    shop.source().exec(QStringLiteral("insert into spxx (Spbh, Spmc, jhjj, lsj, zhf) "
                                      "values ('6901234567890123', '雪碧', 1, 2, '0');\n"
                                      "insert into spkc (ckbh, spbh, yesl) values ('W1', '6901234567890123', 2);"));
    const QString problem = QStringLiteral("问题：源 spkc 有 1 行的商品编号长于 15 字节（6901234567890123）：spckkc 和 "
                                           "mdspkc 的 spbh 只保留前 15 字节");
    const Captured run = runCli({"--quiet", "warehouses", "products", "stock"}, shop.folder());
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(run.err.contains(QStringLiteral("库存转换核对：") + problem)) << run.err.toStdString();
    EXPECT_EQ(shop.target().scalar(QStringLiteral("select spbh from spckkc where ckbh = 'W1' and spbh like '69%'")),
              QStringLiteral("690123456789012"));
    const Captured v = runCli({"verify", "stock"}, shop.folder());
    EXPECT_EQ(v.status, 1);
    EXPECT_TRUE(v.out.contains(QStringLiteral("库存转换：") + problem)) << v.out.toStdString();
    EXPECT_FALSE(v.out.contains(QStringLiteral("源中没有这些商品，或它们被拒绝"))) << v.out.toStdString();
    EXPECT_TRUE(runCli({"check", "stock"}, shop.folder()).out.contains(problem.mid(3)));
}

TEST(VerifyCommand, RowsHeldBeforeAreExplainedAndWhatTheSumsCannotSeeIsAProblem)
{
    Shop shop(QStringLiteral("source_v67_sqlite.sql"), Backend::SQLite);
    fillSource(shop);
    shop.target().exec(QStringLiteral("insert into spda (objid, spmc) values ('Z9', '旧商品');\n"
                                      "insert into spckkc (ckbh, spbh, yesl) values ('W1', 'Z9', 8);"));
    const Captured run = runCli({"products", "warehouses"}, shop.folder());
    EXPECT_EQ(run.status, 0) << run.err.toStdString();
    EXPECT_TRUE(
        run.err.contains(QStringLiteral("V7商品转换核对：目标 spda 转换前已有 1 行，其中 1 个编号不在源 spxx 中\n")))
        << run.err.toStdString();

    // Stock of a product the source lacks (P8) is shown but, with products converted, is no problem; the spckkc row held before
    // stays out of the comparison with the source. The problems show even when quiet.
    // A store-stock row held before the run, with no spckkc row behind it, stays beside the stage's rows and out
    // of its sums.
    shop.source().exec(QStringLiteral("insert into spkc (ckbh, spbh, yesl) values ('W1', 'P8', 2);\n"
                                      "insert into spkc (ckbh, spbh, yesl) values ('WH01', 'P1', 1);\n"
                                      "insert into spkc (ckbh, spbh, yesl) values ('WH02', 'P2', 1);"));
    shop.target().exec(
        QStringLiteral("insert into mdspkc (mdbh, spbh, yesl, yecbje, yesjje) values ('001', 'Z7', 1, 2, 3);"));
    const Captured c = runCli({"--quiet", "stock"}, shop.folder());
    EXPECT_EQ(c.status, 1);
    EXPECT_EQ(c.out, QStringLiteral("库存转换完毕！\n"));
    for (const QString& problem :
         {QStringLiteral("库存转换核对：问题：源 spkc 的 ckbh WH01、WH02 截为 3 字节后同为 WH0"),
          QStringLiteral("库存转换核对：问题：spckkc 有 2 行的仓库不在 ckda 中")})
        EXPECT_TRUE(c.err.contains(problem)) << c.err.toStdString();
    EXPECT_FALSE(c.err.contains(QStringLiteral("spckkc 的数量合计"))) << c.err.toStdString();
    EXPECT_FALSE(c.err.contains(QStringLiteral("mdspkc 的"))) << c.err.toStdString();
    EXPECT_FALSE(c.err.contains(QStringLiteral("mdspkc 只有"))) << c.err.toStdString();

    // A level setting the run could not write, for want of the row it updates, fails the run.
    shop.target().exec(QStringLiteral("delete from xx where objid = '01splbjc';"));
    const Captured categories = runCli({"categories"}, shop.folder());
    EXPECT_EQ(categories.status, 1);
    EXPECT_TRUE(categories.err.contains(QStringLiteral("商品类别转换核对：问题：目标 xx 没有 01splbjc 行")))
        << categories.err.toStdString();
}

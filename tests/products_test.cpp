// V7 and V6 product conversions, SQLite to SQLite and SQLite to PostgreSQL.
#include "support/product_tables.h"
#include "support/testdb.h"

#include "db/amount.h"

#include <gtest/gtest.h>

using namespace testing_support;
using shell::Family;

namespace {

const QString kStamp = QStringLiteral("2026-12-08 09:05 07");

class Products : public ::testing::TestWithParam<Backend> {};

// The spda columns from jyf to blmc that the V6/V7 conversions fill with constants,
// with scspf, bjkcf, xsfsbh and xsfs given.
QString middle(const QString& scspf, const QString& bjkcf, const QString& xsfsbh, const QString& xsfs)
{
    return row(
        {"0", "", kStamp, "0", "0", scspf, bjkcf, xsfsbh, xsfs, "0", "门店控制", "", "01", "无部类", "0", "直配品"});
}

void addProduct(TestDb& source, const QString& values)
{
    source.exec(QStringLiteral("insert into spxx (Spbh,Spmc,ggxh,lbbh,cd,buytaxrate,saletaxrate,hjtm,jkc,gysbh,lykd,fs,"
                               "jhjj,hqbh,lsj,hyj,pfj,jldw,spdnm,sptm,sptm1,sptm2,zhf) values (") +
                values + QStringLiteral(");"));
}

} // namespace

TEST_P(Products, V7WritesEveryColumn)
{
    REQUIRE_BACKEND(GetParam());
    Shop shop(QStringLiteral("source_v67_sqlite.sql"), GetParam());
    TestDb& src = shop.source();
    src.exec(QStringLiteral("insert into splb (lbbh, lbmc) values ('L''1', ' 饮料\t');\n"
                            "insert into gys (gysbh, gysmc) values ('G''1', 'A供应商名称一二三四五六');\n"
                            "insert into hq (hqbh, hqmc) values (' H1 ', '一号货区');\n"
                            "insert into hq (hqbh, hqmc) values ('H1', '不是这个');"));
    addProduct(src,
               QStringLiteral("' \tP1\r\n', '中国 abc', '规格型号ABCDEF', 'L''1', '山东', 13, 9.5, '1', '1', 'G''1', "
                              "5, '代销', 8.1234, ' H1 ', 12.5, 11, 10.25, 'A公斤袋', ' 2000001 ', '6900000000001', "
                              "' 6900000000002\t', NULL, '0'"));
    addProduct(src, QStringLiteral("NULL, ").repeated(22) + QStringLiteral("'0'"));
    // An unknown sale mode is coded "0", not as the previous product's mode.
    addProduct(src, QStringLiteral("'P''3', '可口可乐 330ml', '', 'L9', '', 0, 0, '1 ', '0', 'G9', 0, '批发', 0, '', "
                                   "1, 1, 1, '瓶', 'IGNORED', ' B0 ', '  ', 'B2', '0'"));
    addProduct(src, QStringLiteral("'P4', 'x', '', '', '', 0, 0, '', '', '', 0, '', 0, '', 0, 0, 0, '', '', '', '', "
                                   "'', '1'"));
    shop.target().exec(QStringLiteral("insert into ryblda (objid, blmc, xgrq) values ('02', 'old', 'x');"));

    RecordingFrontend fe;
    const auto r = runOperation(shop, Family::V67, QStringLiteral("products-v7"), fe);
    ASSERT_TRUE(r.ok) << r.message.toStdString();
    EXPECT_EQ(r.rowsRead, 3);
    EXPECT_EQ(fe.completions, QStringList{QStringLiteral("提示/档案转换完毕！")});
    EXPECT_EQ(fe.progress, QStringLiteral("信息:3/3  (编号P'3)"));
    EXPECT_TRUE(fe.log.isEmpty()) << fe.log.join(u'\n').toStdString();
    EXPECT_EQ(shop.target().rows(QStringLiteral("select objid,blmc,xgrq from ryblda")),
              QStringList{row({"01", "无部类", kStamp})});
    EXPECT_EQ(
        rows(shop.target(), kSpda, 31, 33),
        (QStringList{
            row({"", "", "", "", "", "", "", "", "", "", "合格品", "", "", middle("0", "1", "0", ""), "", "", "0.0000",
                 "0.0000", "0.0000"}),
            row({"P'3", "可口可乐 330ml", "", "G9", "", "L9", "", "KKKL 330ML", "", "", "合格品", "", "",
                 middle("0", "1", "0", "批发"), "", "", "0.0000", "0.0000", "0.0000"}),
            row({"P1", "中国 abc", "规格型号AB", "G'1", "A供应商名称一二三四", "L'1", "饮料", "ZG ABC", "", "山东",
                 "合格品", "", "", middle("1", "0", "1", "代销"), "H1", "一号货区", "13.0000", "9.5000", "5.0000"}),
        }));
    EXPECT_EQ(
        rows(shop.target(), kSpdw, 5, 12),
        (QStringList{
            row({"", "0", "", "", "1", "1.0000", "0.0000", "0.0000", "0.0000", "0.0000", "0.0000", "0.0000", "0.0000"}),
            row({"P'3", "0", "瓶", "B0", "1", "1.0000", "0.0000", "1.0000", "1.0000", "1.0000", "0.0000", "0.0000",
                 "0.0000"}),
            row({"P'3", "2", "瓶", "B2", "0", "1.0000", "0.0000", "1.0000", "1.0000", "1.0000", "0.0000", "0.0000",
                 "0.0000"}),
            row({"P1", "0", "A公斤", "2000001", "1", "1.0000", "8.1234", "12.5000", "11.0000", "10.2500", "0.0000",
                 "0.0000", "0.0000"}),
            row({"P1", "1", "A公斤", "6900000000002", "0", "1.0000", "8.1234", "12.5000", "11.0000", "10.2500",
                 "0.0000", "0.0000", "0.0000"}),
        }));
}

TEST_P(Products, V6WritesZeroTaxRatesWithoutReadingThem)
{
    REQUIRE_BACKEND(GetParam());
    Shop shop(QStringLiteral("source_v67_sqlite.sql"), GetParam());
    TestDb& src = shop.source();
    addProduct(src,
               QStringLiteral("'P1', '中国', '', '', '', 13, 9.5, '0', '1', '', 2.5, '租赁', 1, '', 2, 2, 2, '个', "
                              "'', '690', '', '', '0'"));
    src.exec(QStringLiteral("alter table spxx drop column buytaxrate;\nalter table spxx drop column saletaxrate;"));
    RecordingFrontend fe;
    const auto r = runOperation(shop, Family::V67, QStringLiteral("products-v6"), fe);
    ASSERT_TRUE(r.ok) << r.message.toStdString();
    EXPECT_EQ(rows(shop.target(), kSpda, 31, 33),
              QStringList{row({"P1", "中国", "", "", "", "", "", "ZG", "", "", "合格品", "", "",
                               middle("0", "0", "3", "租赁"), "", "", "0.0000", "0.0000", "2.5000"})});
    EXPECT_EQ(shop.target().rows(QStringLiteral("select objid,fid,sptm,ifjbdw from spdw")),
              QStringList{row({"P1", "0", "690", "1"})});
    // The V7 conversion needs the tax fields: the run ends at the first product.
    const auto v7 = runOperation(shop, Family::V67, QStringLiteral("products-v7"), fe);
    EXPECT_FALSE(v7.ok);
    EXPECT_TRUE(v7.message.contains(QStringLiteral("buytaxrate"))) << v7.message.toStdString();
}

TEST_P(Products, DuplicatesAreLoggedAndRunsRepeat)
{
    REQUIRE_BACKEND(GetParam());
    Shop shop(QStringLiteral("source_v67_sqlite.sql"), GetParam());
    shop.target().exec(QStringLiteral("insert into spda (objid, spmc) values ('OLD', 'old');\n"
                                      "insert into spdw (objid, fid, sptm) values ('OLD', 0, '690OLD');\n"
                                      "insert into spda (objid, spmc) values ('X', 'x');\n"
                                      "insert into spdw (objid, fid, sptm) values ('X', 0, 'X');\n"
                                      "insert into ryblda (objid, blmc, xgrq) values ('02', 'old', 'x');"));
    TestDb& src = shop.source();
    const auto add = [&](const QString& code, const QString& barCode, const QString& barCode1) {
        addProduct(src, QStringLiteral("'%1', 'n', '', '', '', 0, 0, '0', '0', '', 0, '经销', 0, '', 0, 0, 0, '', '', "
                                       "'%2', '%3', '', '0'")
                            .arg(code, barCode, barCode1));
    };
    add(QStringLiteral("N1"), QStringLiteral("690OLD"), QStringLiteral("690OLD")); // bar code in spdw
    add(QStringLiteral("N2"), QStringLiteral("OLD"), QString());                   // bar code is a product code
    add(QStringLiteral("N3"), QStringLiteral("X"), QString());                     // both
    add(QStringLiteral(" OLD "), QStringLiteral("690OLD"), QString());             // code taken: skipped
    add(QStringLiteral("N1\t"), QString(), QString());                             // code repeats in the source
    add(QStringLiteral("N6"), QStringLiteral(" N1 "), QString());                  // a code written by this run
    add(QStringLiteral("N7"), QStringLiteral("OLD"), QString());                   // a bar code written by this run

    RecordingFrontend fe;
    fe.abort = true; // ticked before the run: no product, but the departments are reset
    auto r = runOperation(shop, Family::V67, QStringLiteral("products-v7"), fe);
    ASSERT_TRUE(r.ok) << r.message.toStdString();
    EXPECT_TRUE(r.aborted);
    EXPECT_EQ(fe.completions, QStringList{QStringLiteral("提示/档案转换完毕！")});
    EXPECT_EQ(fe.progressCalls, 0);
    EXPECT_EQ(shop.target().rows(QStringLiteral("select objid,blmc,xgrq from ryblda")),
              QStringList{row({"01", "无部类", kStamp})});
    EXPECT_EQ(shop.target().scalar(QStringLiteral("select count(*) from spda")), QStringLiteral("2"));

    fe.abort = false;
    r = runOperation(shop, Family::V67, QStringLiteral("products-v7"), fe);
    ASSERT_TRUE(r.ok) << r.message.toStdString();
    EXPECT_EQ(r.rowsRead, 7);
    EXPECT_EQ(r.rowsSkipped, 2);
    EXPECT_EQ(fe.log,
              (QStringList{"商品条码重复：690OLD", "商品编号与条码重复：OLD", "商品条码重复：X",
                           "商品编号与条码重复：X", "商品条码重复：690OLD", "商品编号重复：OLD", "商品编号重复：N1",
                           "商品编号与条码重复：N1", "商品条码重复：OLD", "商品编号与条码重复：OLD"}));
    EXPECT_EQ(fe.progress, QStringLiteral("信息:7/7  (编号N7)"));
    EXPECT_EQ(shop.target().rows(QStringLiteral("select objid,fid,sptm from spdw order by objid,fid")),
              (QStringList{row({"N1", "0", "690OLD"}), row({"N1", "1", "690OLD"}), row({"N2", "0", "OLD"}),
                           row({"N3", "0", "X"}), row({"N6", "0", "N1"}), row({"N7", "0", "OLD"}),
                           row({"OLD", "0", "690OLD"}), row({"X", "0", "X"})}));

    // A second run without clearing skips every product; the bar-code notices come first.
    r = runOperation(shop, Family::V67, QStringLiteral("products-v7"), fe);
    ASSERT_TRUE(r.ok) << r.message.toStdString();
    EXPECT_EQ(r.rowsSkipped, 7);
    EXPECT_EQ(fe.log,
              (QStringList{"商品条码重复：690OLD", "商品编号重复：N1", "商品条码重复：OLD", "商品编号与条码重复：OLD",
                           "商品编号重复：N2", "商品条码重复：X", "商品编号与条码重复：X", "商品编号重复：N3",
                           "商品条码重复：690OLD", "商品编号重复：OLD", "商品编号重复：N1", "商品条码重复：N1",
                           "商品编号与条码重复：N1", "商品编号重复：N6", "商品条码重复：OLD", "商品编号与条码重复：OLD",
                           "商品编号重复：N7"}));
    EXPECT_EQ(shop.target().scalar(QStringLiteral("select count(*) from spdw")), QStringLiteral("8"));
    EXPECT_EQ(shop.target().scalar(QStringLiteral("select count(*) from ryblda")), QStringLiteral("1"));
}

TEST_P(Products, FailingUnitRowLeavesNoHalfProduct)
{
    REQUIRE_BACKEND(GetParam());
    Shop shop(QStringLiteral("source_v67_sqlite.sql"), GetParam());
    // A stray unit row takes the key of N2's second bar code.
    shop.target().exec(QStringLiteral("insert into spdw (objid, fid, sptm) values ('N2', 1, 'stray');"));
    for (const char* code : {"N1", "N2", "N3"})
        addProduct(shop.source(),
                   QStringLiteral("'%1', 'n', '', '', '', 0, 0, '0', '0', '', 0, '经销', 0, '', 0, 0, 0, "
                                  "'', '', 'B%1', 'C%1', '', '0'")
                       .arg(QLatin1String(code)));
    RecordingFrontend fe;
    const auto r = runOperation(shop, Family::V67, QStringLiteral("products-v7"), fe);
    ASSERT_FALSE(r.ok);
    EXPECT_TRUE(fe.completions.isEmpty());
    EXPECT_TRUE(fe.errors.value(0).startsWith(QStringLiteral("V7商品转换：第 2/3 行（编号N2），表 spdw：")))
        << fe.errors.value(0).toStdString();
    EXPECT_EQ(shop.target().rows(QStringLiteral("select objid from spda")), QStringList{QStringLiteral("N1")});
    EXPECT_EQ(shop.target().rows(QStringLiteral("select objid,fid,sptm from spdw order by objid,fid")),
              (QStringList{row({"N1", "0", "BN1"}), row({"N1", "1", "CN1"}), row({"N2", "1", "stray"})}));
}

INSTANTIATE_TEST_SUITE_P(Backends, Products, ::testing::Values(Backend::SQLite, Backend::PostgreSQL),
                         [](const auto& info) { return backendName(info.param).toStdString(); });

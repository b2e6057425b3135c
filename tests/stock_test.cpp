// Stock conversions of both programs, SQLite to SQLite and SQLite to
// PostgreSQL: the spckkc rows and the store stock summed into mdspkc.
#include "support/testdb.h"

#include "db/amount.h"

#include <gtest/gtest.h>

using namespace testing_support;
using shell::Family;

namespace {

const QString kStamp = QStringLiteral("2026-12-08 09:05 07");
const QString kSpckkc = QStringLiteral(
    "select ckbh,ckmc,spbh,spmc,dwmc,yesl,yecbje,yesjje,bz,qccbje,qcsjje,qcsl,xgrq from spckkc order by ckbh,spbh");
const QString kMdspkc =
    QStringLiteral("select mdbh,spbh,yesl,yecbje,yesjje,mdmc,spmc,dwmc,xgrq from mdspkc order by mdbh,spbh");

class Stock : public ::testing::TestWithParam<Backend> {};

QString row(std::initializer_list<QString> fields) { return QStringList(fields).join(u'|'); }

// Rows of a query with the amount columns written alike on both databases ("4.5" and "4.5000").
QStringList rowsWithAmounts(TestDb& db, const QString& sql, std::initializer_list<int> amountColumns)
{
    QStringList out;
    for (const QString& r : db.rows(sql)) {
        QStringList fields = r.split(u'|');
        for (int c : amountColumns)
            fields[c] = db::Amount::parse(fields[c]).value_or(db::Amount::fromRaw(-1)).toString();
        out << fields.join(u'|');
    }
    return out;
}

QString spckkc(const QString& ckbh, const QString& ckmc, const QString& spbh, const QString& spmc, const QString& dwmc,
               const char* yesl, const char* yecbje, const char* yesjje)
{
    return row({ckbh, ckmc, spbh, spmc, dwmc, QLatin1String(yesl), QLatin1String(yecbje), QLatin1String(yesjje), "",
                "0", "0", "0", kStamp});
}

QString mdspkc(const QString& mdbh, const QString& spbh, const char* yesl, const char* yecbje, const char* yesjje,
               const QString& mdmc, const QString& spmc, const QString& dwmc)
{
    return row(
        {mdbh, spbh, QLatin1String(yesl), QLatin1String(yecbje), QLatin1String(yesjje), mdmc, spmc, dwmc, kStamp});
}

// The warehouses, products and units the store-stock stage joins with (store 001 comes with the schema).
void prepareTarget(TestDb& target) { target.load(QStringLiteral("stock_target")); }

void fillV67Source(TestDb& source) { source.load(QStringLiteral("stock_source_v67")); }

// Ticks the abort box once the walk has asked a given number of times.
class AbortAfter : public RecordingFrontend {
public:
    explicit AbortAfter(int asks) : m_asks(asks) {}
    bool abortTicked() override { return m_asks-- <= 0; }

private:
    int m_asks;
};

} // namespace

TEST_P(Stock, V67RowsStoreStockAndRepeatedRuns)
{
    REQUIRE_BACKEND(GetParam());
    Shop shop(QStringLiteral("source_v67_sqlite.sql"), GetParam());
    fillV67Source(shop.source());
    prepareTarget(shop.target());
    RecordingFrontend fe;
    fe.abort = true; // not honoured by this conversion
    auto r = runOperation(shop, Family::V67, QStringLiteral("stock"), fe);
    ASSERT_TRUE(r.ok) << r.message.toStdString();
    EXPECT_EQ(r.rowsWritten, 8);
    EXPECT_EQ(fe.completions, QStringList{QStringLiteral("提示/库存转换完毕！")});
    EXPECT_EQ(fe.progress, QStringLiteral("信息:8/8  (编号S2P'Q)"));
    // Missing product: prices 0, names empty. NULL and non-numeric prices: 0. 0.3333 x 0.0001 rounds to 0.
    // Long and Chinese warehouse codes are cut to 3 bytes on whole characters; the name uses the whole code.
    EXPECT_EQ(rowsWithAmounts(shop.target(), kSpckkc, {5, 6, 7}),
              (QStringList{
                  spckkc("S2", "二店仓", "P'Q", "引号", "个", "4.0000", "8.0000", "16.0000"),
                  spckkc("W01", "一号仓", "P1", "可乐", "瓶", "3.0000", "4.5000", "6.7500"),
                  spckkc("W01", "一号仓", "P2", "雪碧", "听装一", "2.0000", "0.0000", "6.0000"),
                  spckkc("W01", "一号仓", "P3", "口香糖", "盒", "0.3333", "0.0000", "0.0000"),
                  spckkc("W01", "一号仓", "PX", "", "", "5.0000", "0.0000", "0.0000"),
                  spckkc("W02", "二号仓", "P1", "可乐", "瓶", "2.0000", "3.0000", "4.5000"),
                  spckkc("W12", "长码仓", "P1", "可乐", "瓶", "1.0000", "1.5000", "2.2500"),
                  spckkc("甲", "甲乙仓", "P1", "可乐", "瓶", "1.0000", "1.5000", "2.2500"),
              }));
    // W01 and W02 of store 001 are summed; W12 and 甲 match no warehouse. Store 002 has no mdda row,
    // P2 no base unit, P3, PX and P'Q no spda row: those columns keep their defaults.
    EXPECT_EQ(rowsWithAmounts(shop.target(), kMdspkc, {2, 3, 4}),
              (QStringList{
                  mdspkc("001", "P1", "5.0000", "7.5000", "11.2500", "超市门店", "可乐500ml", "瓶"),
                  mdspkc("001", "P2", "2.0000", "0.0000", "6.0000", "超市门店", "雪碧", ""),
                  mdspkc("001", "P3", "0.3333", "0.0000", "0.0000", "超市门店", "", ""),
                  mdspkc("001", "PX", "5.0000", "0.0000", "0.0000", "超市门店", "", ""),
                  mdspkc("002", "P'Q", "4.0000", "8.0000", "16.0000", "", "", "个"),
              }));

    const QStringList spckkcBefore = shop.target().rows(kSpckkc);
    const QStringList mdspkcBefore = shop.target().rows(kMdspkc);

    // Without clearing, the first repeated row is refused: nothing of the second run stays and
    // the store-stock stage does not run.
    fe.errors.clear();
    r = runOperation(shop, Family::V67, QStringLiteral("stock"), fe);
    ASSERT_FALSE(r.ok);
    EXPECT_TRUE(fe.errors.value(0).startsWith(QStringLiteral("库存转换：第 1/8 行（编号W01P1），表 spckkc：")))
        << fe.errors.value(0).toStdString();
    EXPECT_EQ(fe.completions.size(), 1);
    EXPECT_EQ(shop.target().rows(kSpckkc), spckkcBefore);
    EXPECT_EQ(shop.target().rows(kMdspkc), mdspkcBefore);

    // With only spckkc emptied the walk succeeds, but the sums meet the first run's mdspkc rows:
    // the stage fails as a whole and the new spckkc rows stay.
    shop.target().exec(QStringLiteral("delete from spckkc;\nupdate mdspkc set xgrq='old';"));
    r = runOperation(shop, Family::V67, QStringLiteral("stock"), fe);
    ASSERT_FALSE(r.ok);
    EXPECT_TRUE(fe.errors.value(1).contains(QStringLiteral("表 mdspkc"))) << fe.errors.value(1).toStdString();
    EXPECT_EQ(fe.completions.size(), 1);
    EXPECT_EQ(shop.target().rows(kSpckkc), spckkcBefore);
    EXPECT_EQ(shop.target().scalar(QStringLiteral("select count(*) from mdspkc where xgrq='old'")),
              QStringLiteral("5"));

    // Two warehouse codes the 3-byte cut merges, one product in both: the key error says why.
    shop.target().exec(QStringLiteral("delete from spckkc;\ndelete from mdspkc;"));
    shop.source().exec(QStringLiteral("delete from spkc;\n"
                                      "insert into spkc (ckbh, spbh, yesl) values ('WH01', 'P1', 1);\n"
                                      "insert into spkc (ckbh, spbh, yesl) values ('WH02', 'P2', 1);\n"
                                      "insert into spkc (ckbh, spbh, yesl) values ('WH02', 'P1', 1);"));
    r = runOperation(shop, Family::V67, QStringLiteral("stock"), fe);
    ASSERT_FALSE(r.ok);
    EXPECT_TRUE(r.message.startsWith(QStringLiteral("库存转换：第 3/3 行（编号WH02P1），表 spckkc：")))
        << r.message.toStdString();
    EXPECT_TRUE(
        r.message.endsWith(QStringLiteral("；仓库编号 WH01、WH02 截为 3 字节后同为 WH0，在 spckkc 中合为一个编号："
                                          "请先把源仓库编号改为不同的前 3 字节")))
        << r.message.toStdString();
}

TEST_P(Stock, V1RowsStoreStockAndAbort)
{
    REQUIRE_BACKEND(GetParam());
    Shop shop(QStringLiteral("source_v1_sqlite.sql"), GetParam());
    const QString longName = QStringLiteral("一二三四五六七八九十一二三四五六七八九十一二三四五");
    shop.source().exec(
        QStringLiteral("insert into Goods (goodsid, StockPrice, RetailPrice, Unit) values ('G1', 1.5, 2, '瓶');\n"
                       "insert into Goods (goodsid, StockPrice, RetailPrice, Unit) values ('G2', NULL, 'x', '袋');\n"
                       "insert into GoodsStoreBalance values (' W01 ', ' G1 ', ' 一号仓', '可乐 ', 3);\n"
                       "insert into GoodsStoreBalance values ('W02', 'G1', '二号仓', '可乐', NULL);\n"
                       "insert into GoodsStoreBalance values ('W01', 'G2', '一号仓', '薯片', 'abc');\n"
                       "insert into GoodsStoreBalance values ('W01', 'GX', '一号仓', '%1', 2);\n"
                       "insert into GoodsStoreBalance values ('X1234', 'G1', '长仓', '可乐', 1);")
            .arg(longName));
    prepareTarget(shop.target());
    RecordingFrontend fe;
    auto r = runOperation(shop, Family::V1, QStringLiteral("stock"), fe);
    ASSERT_TRUE(r.ok) << r.message.toStdString();
    EXPECT_EQ(fe.completions, QStringList{QStringLiteral("提示/库存转换完毕！")});
    EXPECT_EQ(fe.progress, QStringLiteral("信息:5/5  (编号X1234G1)"));
    // Names come from the stock row as read; a NULL or unreadable quantity is 0; a product missing
    // from goods has prices 0 and no unit.
    EXPECT_EQ(rowsWithAmounts(shop.target(), kSpckkc, {5, 6, 7}),
              (QStringList{
                  spckkc("W01", " 一号仓", "G1", "可乐 ", "瓶", "3.0000", "4.5000", "6.0000"),
                  spckkc("W01", "一号仓", "G2", "薯片", "袋", "0.0000", "0.0000", "0.0000"),
                  spckkc("W01", "一号仓", "GX", longName.left(20), "", "2.0000", "0.0000", "0.0000"),
                  spckkc("W02", "二号仓", "G1", "可乐", "瓶", "0.0000", "0.0000", "0.0000"),
                  spckkc("X12", "长仓", "G1", "可乐", "瓶", "1.0000", "1.5000", "2.0000"),
              }));
    EXPECT_EQ(rowsWithAmounts(shop.target(), kMdspkc, {2, 3, 4}),
              (QStringList{
                  mdspkc("001", "G1", "3.0000", "4.5000", "6.0000", "超市门店", "可乐", "瓶"),
                  mdspkc("001", "G2", "0.0000", "0.0000", "0.0000", "超市门店", "", ""),
                  mdspkc("001", "GX", "2.0000", "0.0000", "0.0000", "超市门店", "", ""),
              }));

    // An abort stops before the next row; the stage then sums what is there, a row of an earlier run too.
    shop.target().exec(
        QStringLiteral("delete from spckkc;\ndelete from mdspkc;\n"
                       "insert into spckkc (ckbh, spbh, yesl, yecbje, yesjje) values ('W02', 'G9', 7, 1, 2);"));
    AbortAfter aborting(1);
    r = runOperation(shop, Family::V1, QStringLiteral("stock"), aborting);
    ASSERT_TRUE(r.ok) << r.message.toStdString();
    EXPECT_TRUE(r.aborted);
    EXPECT_EQ(r.rowsWritten, 1);
    EXPECT_EQ(aborting.completions, QStringList{QStringLiteral("提示/库存转换完毕！")});
    EXPECT_EQ(shop.target().rows(QStringLiteral("select ckbh,spbh from spckkc order by ckbh,spbh")),
              (QStringList{row({"W01", "G1"}), row({"W02", "G9"})}));
    EXPECT_EQ(rowsWithAmounts(shop.target(), kMdspkc, {2, 3, 4}),
              (QStringList{
                  mdspkc("001", "G1", "3.0000", "4.5000", "6.0000", "超市门店", "可乐", "瓶"),
                  mdspkc("001", "G9", "7.0000", "1.0000", "2.0000", "超市门店", "", ""),
              }));
}

INSTANTIATE_TEST_SUITE_P(Backends, Stock, ::testing::Values(Backend::SQLite, Backend::PostgreSQL),
                         [](const auto& info) { return backendName(info.param).toStdString(); });

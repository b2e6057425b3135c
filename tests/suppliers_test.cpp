// Suppliers and supplier categories of both programs, SQLite to SQLite and SQLite to PostgreSQL.
#include "support/testdb.h"

#include "programs/programs.h"

#include <gtest/gtest.h>

using namespace testing_support;
using shell::Family;

namespace {

const QString kStamp = QStringLiteral("2026-12-08 09:05 07");
const QString kSuppliers = QStringLiteral(
    "select objid,gysmc,gyslbbh,gyslbmc,xsfsbh,xsfs,jyf,xgrq,zt,chuanzhen,dianhua,dizhi,faren,khh,shuihao,zhanghao,"
    "lxr,youbian,bz,sxksrq,sxjsrq,ghfw from gysda order by objid");
const QString kCategories = QStringLiteral("select objid,gyslbmc,fbbh,xgrq from gyslbda order by objid");

class Suppliers : public ::testing::TestWithParam<Backend> {};

// Keeps every progress line shown, to see both walks.
struct ProgressFrontend : RecordingFrontend {
    void showProgress(const QString& line) override
    {
        RecordingFrontend::showProgress(line);
        lines << line;
    }
    QStringList lines;
};

// A gysda row: code, name, category code and name, sale mode, the ten contact fields, the goods scope.
QString supplier(QStringList head, const QString& mode, QStringList contact = QStringList(10, {}), QString scope = {})
{
    const QString code = mode == u"代销" ? "1" : mode == u"联营" ? "2" : mode == u"租赁" ? "3" : "0";
    head << code << mode << "0" << kStamp << "0" << contact << "2026-12-08"
         << "2008-12-31" << scope;
    return head.join(u'|');
}
QString category(std::initializer_list<QString> fields) { return QStringList(fields).join(u'|') + u'|' + kStamp; }

} // namespace

TEST_P(Suppliers, V67SuppliersThenCategories)
{
    REQUIRE_BACKEND(GetParam());
    Shop shop(QStringLiteral("source_v67_sqlite.sql"), GetParam());
    shop.source().exec(QStringLiteral(
        "insert into xx values ('spjc', '9999');\n insert into xx values ('gysjc', '220');\n"
        "insert into gys values (' \tG1\r\n', '一二三四五六七八九十甲乙丙丁戊', 'L1', 'fax1', 'tel1', '  地址', '银行',"
        " 'tax', 'acc', '联系人名字很长', '1000000000001');\n"
        "insert into gys values ('G''2', 'x一二三四五六七八九十', ' L2 ', NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL);\n"
        "insert into gys values (NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL);\n"
        "insert into gys (gysbh, gyslbbh) values ('G4', 'L''9');\n"
        "insert into gys (gysbh, dz) values ('G5', '一二三四五六七八九十一二三四五六七八九十一二三四五六');\n"
        "insert into spxx (Spbh, gysbh, fs) values ('P1', 'G1', '联营');\n"
        "insert into spxx (Spbh, gysbh, fs) values ('P2', 'G''2', ' 代销\t');\n"
        "insert into spxx (Spbh, gysbh, fs) values ('P4', 'G4', '经 销');\n"
        "insert into spxx (Spbh, gysbh, fs) values ('P5', 'G5', '租赁');\n"
        "insert into gyslb values ('L1', '食品类  ', 1);\n insert into gyslb values (' L2 ', '百货', 1);\n"
        "insert into gyslb values ('L101', NULL, 2);\n insert into gyslb values ('L10101', '末级', 3);\n"
        "insert into gyslb values (NULL, NULL, NULL);"));
    ProgressFrontend fe;
    fe.abort = true; // not honoured by this conversion
    const auto r = runOperation(shop, Family::V67, QStringLiteral("suppliers"), fe);
    ASSERT_TRUE(r.ok) << r.message.toStdString();
    EXPECT_EQ(fe.completions, QStringList{QStringLiteral("提示/档案转换完毕！")});
    QStringList g5(10, {});
    g5[2] = QStringLiteral("一二三四五六七八九十一二三四五六七八九十一二三四五");
    EXPECT_EQ(shop.target().rows(kSuppliers),
              (QStringList{
                  supplier({"", "", "", ""}, "经销"), supplier({"G'2", "x一二三四五六七八九", " L2 ", "百货"}, "代销"),
                  supplier({"G1", "一二三四五六七八九十", "L1", "食品类"}, "联营",
                           {"fax1", "tel1", "  地址", "", "银行", "tax", "acc", "联系人名字", "1000000000", ""}),
                  supplier({"G4", "", "L'9", ""}, "经销"), supplier({"G5", "", "", ""}, "租赁", g5)}));
    EXPECT_EQ(shop.target().rows(kCategories),
              (QStringList{category({"", "", ""}), category({"L1", "食品类  ", ""}), category({"L101", "", "L1"}),
                           category({"L10101", "末级", "L101"}), category({"L2", "百货", ""})}));
    for (const char* line : {"信息:1/5  (编号G1)", "信息:5/5  (编号G5)", "信息:1/5  (编号L1)", "信息:5/5  (编号)"})
        EXPECT_TRUE(fe.lines.contains(QString::fromUtf8(line))) << line;
}

TEST_P(Suppliers, V67MissingLevelSettingAndRepeatedRunEndTheRun)
{
    REQUIRE_BACKEND(GetParam());
    Shop shop(QStringLiteral("source_v67_sqlite.sql"), GetParam());
    shop.source().exec(
        QStringLiteral("insert into gys (gysbh) values ('G1');\n insert into gys (gysbh) values ('G2');\n"
                       "insert into gyslb values ('A', 'a', 1);\n insert into gyslb values ('B', 'b', 0);\n"
                       "insert into gyslb values ('A1', 'a1', 2);\n insert into gyslb values ('C', 'c', 1);"));
    RecordingFrontend fe;
    ASSERT_FALSE(runOperation(shop, Family::V67, QStringLiteral("suppliers"), fe).ok);
    EXPECT_TRUE(fe.completions.isEmpty());
    EXPECT_EQ(fe.errors,
              QStringList{QStringLiteral("供应商转换：第 3/4 行（编号A1），'' is not a valid integer value")});
    EXPECT_EQ(fe.progress, QStringLiteral("信息:3/4  (编号A1)"));
    EXPECT_EQ(shop.target().scalar(QStringLiteral("select count(*) from gysda")), QStringLiteral("2"));
    EXPECT_EQ(shop.target().rows(kCategories), (QStringList{category({"A", "a", ""}), category({"B", "b", ""})}));

    // Run again: the first supplier is a duplicate and no category is converted.
    shop.target().exec(QStringLiteral("delete from gyslbda;"));
    ASSERT_FALSE(runOperation(shop, Family::V67, QStringLiteral("suppliers"), fe).ok);
    EXPECT_TRUE(fe.errors.last().startsWith(QStringLiteral("供应商转换：第 1/2 行（编号G1），表 gysda：")))
        << fe.errors.last().toStdString();
    EXPECT_EQ(shop.target().scalar(QStringLiteral("select count(*) from gyslbda")), QStringLiteral("0"));
}

TEST_P(Suppliers, V1SuppliersThenCategories)
{
    REQUIRE_BACKEND(GetParam());
    Shop shop(QStringLiteral("source_v1_sqlite.sql"), GetParam());
    const QString scope = QStringLiteral("甲乙丙丁戊己庚辛壬癸").repeated(3);
    shop.source().exec(
        QStringLiteral(
            "insert into Supplier values (' S1\t', '供应商一', 'T1', 'fax', 'tel', 'addr', 'x张三李四王五', 'bank', 'tax',"
            " 'acc', 'lk', 'zip', '%1', '一二三四五六七八九十一');\n"
            "insert into Supplier (SupplierId, Supplier, SupplierTypeid, manager, memo1)"
            " values ('S''2', 'b', ' T1 ', 'mgr', 'memo');\n"
            "insert into Supplier values (NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL,"
            " NULL);\n"
            "insert into Goods (goodsid, SupplierId, Salemode) values ('P1', 'S1', '租赁');\n"
            "insert into Goods (goodsid, SupplierId, Salemode) values ('P2', 'S''2', '联营');\n"
            "insert into SupplierType values (' T1 ', '-1', '食品  ');\n"
            "insert into SupplierType values ('\tT2\r\n', ' -1', 'b');\n"
            "insert into SupplierType values ('T3', '-1 ', 'c');\n"
            "insert into SupplierType values ('T101', ' T1 ', NULL);\n"
            "insert into SupplierType values ('T''4', 'NOPE', 'd');\n insert into SupplierType values (NULL, NULL, NULL);")
            .arg(scope));
    ProgressFrontend fe;
    fe.abort = true;
    ASSERT_TRUE(runOperation(shop, Family::V1, QStringLiteral("suppliers"), fe).ok) << fe.errors.value(0).toStdString();
    EXPECT_EQ(fe.completions, QStringList{QStringLiteral("提示/档案转换完毕！")});
    // The category name is looked up with the code as read: only " T1 " matches.
    EXPECT_EQ(
        shop.target().rows(kSuppliers),
        (QStringList{
            supplier({"", "", "", ""}, "经销"),
            supplier({"S'2", "b", " T1 ", "食品"}, "联营", {"", "", "", "mgr", "", "", "", "", "", "memo"}),
            supplier({"S1", "供应商一", "T1", ""}, "租赁",
                     {"fax", "tel", "addr", "x张三李四", "bank", "tax", "acc", "lk", "zip", "一二三四五六七八九十"},
                     scope.left(25))}));
    EXPECT_EQ(
        shop.target().rows(kCategories),
        (QStringList{category({"", "", ""}), category({"T'4", "d", "NOPE"}), category({"T1", "食品  ", ""}),
                     category({"T101", "", " T1 "}), category({"T2", "b", " -1"}), category({"T3", "c", "-1 "})}));
    EXPECT_TRUE(fe.lines.contains(QStringLiteral("信息:1/3  (编号S1)")));
    EXPECT_TRUE(fe.lines.contains(QStringLiteral("信息:1/6  (编号T1)")));
}

// What the check reads and the reconciliation compares, derived from rule lists
// with lookups: a table looked up follows the table that looks it up, unless a
// list walks it; the width check takes answers into whole columns; stock's sums
// and key parts come from its rules.
TEST(LookupRules, DeriveTheTablesReadWidthChecksKeysAndSums)
{
    const auto derived = [](Family family, const char* id) {
        const shell::Operation* op = programs::catalog().find(family, QString::fromLatin1(id));
        QStringList out;
        for (const shell::TableUse& u : op->uses)
            if (u.side == shell::Side::Source)
                out << u.table + u':' + u.columns.join(u',');
        for (const shell::FieldInto& f : op->fields)
            out << f.sourceTable + u'.' + f.sourceField + u'>' + f.targetColumn + (f.trimmed ? u'+' : u'-');
        for (const shell::RowMatch& m : op->reconciliation.rows)
            for (const shell::KeyPart& k : m.key)
                out << k.sourceField + u'>' + m.targetTable + u'.' + k.targetColumn + u'/' + QString::number(k.cut);
        if (const auto& s = op->reconciliation.stock)
            out << QStringList{s->stockTable, s->productField,  s->quantityField, s->priceTable,
                               s->priceKey,   s->purchasePrice, s->retailPrice}
                       .join(u',');
        return out;
    };
    EXPECT_EQ(derived(Family::V67, "suppliers"),
              QStringList({"gys:gysbh,gysmc,gyslbbh,cz,dh,dz,khh,sh,zh,lxr,yb", "spxx:fs,gysbh",
                           "gyslb:gyslbbh,gyslbmc,jc", "xx:vals1,xm", "gyslb.gyslbbh>objid+", "gyslb.gyslbmc>gyslbmc-",
                           "gysbh>gysda.objid/15", "gyslbbh>gyslbda.objid/0"}));
    EXPECT_EQ(
        derived(Family::V1, "stock"),
        QStringList({"GoodsStoreBalance:StoreId,GoodsId,Store,Goods,BalanceNum",
                     "goods:StockPrice,RetailPrice,unit,goodsid", "StoreId>spckkc.ckbh/3", "GoodsId>spckkc.spbh/15",
                     "GoodsStoreBalance,GoodsId,BalanceNum,goods,goodsid,StockPrice,RetailPrice"}));
    const QStringList products = derived(Family::V67, "products-v7");
    EXPECT_EQ(products.mid(1, 3), QStringList({"splb:lbmc,lbbh", "gys:gysmc,gysbh", "hq:hqmc,hqbh"}));
    EXPECT_EQ(
        products.mid(4),
        QStringList({"spxx.Spbh>objid+", "spxx.hqbh>hqbh+", "spxx.Spmc>spmc-", "spxx.lbbh>splbbh-", "spxx.cd>chandi-",
                     "spxx.gysbh>gysbh-", "spxx.fs>xsfs-", "splb.lbmc>splbmc+", "hq.hqmc>hqmc+", "spxx.sptm>sptm+",
                     "spxx.spdnm>sptm+", "spxx.sptm1>sptm+", "spxx.sptm2>sptm+", "Spbh>spda.objid/0"}));
    // V1 products: no lookups; the basic and package units' fields, then the
    // scale code, the own bar code and the bar-code rows besides the rules.
    EXPECT_EQ(
        derived(Family::V1, "products"),
        QStringList({"Goods:goodsid,GoodsName,Model,GoodsTypeId,GoodsTypeName,Available,ProducingArea,grade,Trademark,"
                     "StockTaxRate,SaleTaxRate,IfWeigh,IfStore,SupplierId,SupplierName,SaleDisCount,Salemode,"
                     "IfChangePrice,ProvideType,OrganiseId,Organise,StockPrice,RetailPrice,NumberPrice,TradePrice,Unit,"
                     "Conversion,PackStockPrice,PackRetailPrice,PackNumberPrice,PackTradePrice,packUnit,WeighId,"
                     "GoodsBarCode",
                     "GoodsBarCode:GoodsId,GoodsBarCode,Type", "Goods.goodsid>objid+", "Goods.OrganiseId>hqbh+",
                     "Goods.Organise>hqmc+", "Goods.GoodsName>spmc-", "Goods.GoodsTypeId>splbbh-",
                     "Goods.GoodsTypeName>splbmc-", "Goods.Available>bzq-", "Goods.ProducingArea>chandi-",
                     "Goods.grade>dengji-", "Goods.Trademark>pinpai-", "Goods.SupplierId>gysbh-",
                     "GoodsBarCode.GoodsBarCode>sptm+", "goodsid>spda.objid/0"}));
}

INSTANTIATE_TEST_SUITE_P(Backends, Suppliers, ::testing::Values(Backend::SQLite, Backend::PostgreSQL),
                         [](const auto& info) { return backendName(info.param).toStdString(); });

// Source data a shop database should not hold: missing tables and fields, text
// outside GBK, codes with quotes and backslashes, amounts that are not numbers
// and huge texts. SQLite source; SQLite and PostgreSQL target.
#include "support/testdb.h"

#include "db/amount.h"
#include "programs/programs.h"
#include "shell/check.h"

#include <gtest/gtest.h>

#include <QSqlError>
#include <QSqlQuery>

#include <utility>

using namespace testing_support;
using shell::Family;

namespace {

const QString kV67 = QStringLiteral("source_v67_sqlite.sql");
const QString kV1 = QStringLiteral("source_v1_sqlite.sql");

class BadSource : public ::testing::TestWithParam<Backend> {};

QString row(std::initializer_list<QString> fields) { return QStringList(fields).join(u'|'); }

// Inserts one row with its values bound, so any text reaches the source as it is.
void insert(TestDb& db, const QString& table, std::initializer_list<std::pair<QString, QString>> values)
{
    QStringList columns, marks;
    for (const auto& v : values) {
        columns << v.first;
        marks << QStringLiteral("?");
    }
    QSqlQuery q(db.db());
    ASSERT_TRUE(
        q.prepare(QStringLiteral("insert into %1 (%2) values (%3)").arg(table, columns.join(u','), marks.join(u','))));
    for (const auto& v : values)
        q.addBindValue(v.second);
    ASSERT_TRUE(q.exec()) << q.lastError().text().toStdString();
}

// The run's single error, or why there is none.
QString errorOf(Shop& shop, Family family, const QString& id)
{
    RecordingFrontend fe;
    const auto r = runOperation(shop, family, id, fe);
    if (r.ok)
        return QStringLiteral("<ok>");
    EXPECT_EQ(fe.errors, QStringList{r.message});
    EXPECT_TRUE(fe.completions.isEmpty());
    return r.message;
}

void runOk(Shop& shop, Family family, const QString& id)
{
    RecordingFrontend fe;
    const auto r = runOperation(shop, family, id, fe);
    ASSERT_TRUE(r.ok) << id.toStdString() << ": " << r.message.toStdString();
}

// An amount column as "n.nnnn" on both databases.
QString amount(const QString& text) { return db::Amount::parse(text).value_or(db::Amount::fromRaw(-1)).toString(); }

} // namespace

TEST_P(BadSource, MissingTablesAndFieldsNameConversionRowTableAndDatabaseText)
{
    REQUIRE_BACKEND(GetParam());
    const QString noSuchTable = QStringLiteral("no such table: ");
    struct Case {
        QString schema;
        Family family;
        QString id;
        QString damage;
        QString expected; // the whole message, or its start followed by "..."
    };
    const QList<Case> cases = {
        // Before the walk: no row to name.
        {kV67, Family::V67, "warehouses", "drop table ck", "仓库档案转换：表 ck：" + noSuchTable + "ck"},
        {kV67, Family::V67, "categories", "drop table xx", "商品类别转换：表 xx：" + noSuchTable + "xx"},
        {kV1, Family::V1, "members", "drop table card", "会员信息转换：表 card：" + noSuchTable + "card"},
        // A lookup table missing: the row that asked.
        {kV67, Family::V67, "products-v6", "drop table splb",
         "V6商品转换：第 1/1 行（编号P'1），表 splb：" + noSuchTable + "splb"},
        {kV67, Family::V67, "suppliers", "drop table gyslb",
         "供应商转换：第 1/1 行（编号G1），表 gyslb：" + noSuchTable + "gyslb"},
        {kV67, Family::V67, "stock", "drop table ck", "库存转换：第 1/1 行（编号W1P'1），表 ck：" + noSuchTable + "ck"},
        {kV1, Family::V1, "stock", "drop table Goods",
         "库存转换：第 1/1 行（编号S1G1），表 goods：" + noSuchTable + "goods"},
        // A field missing from the walked table.
        {kV67, Family::V67, "products-v7", "alter table spxx drop column lykd",
         "V7商品转换：第 1/1 行（编号P'1），表 spxx：字段 lykd 不存在"},
        {kV67, Family::V67, "members", "alter table hyda drop column xm",
         "会员信息转换：第 1/1 行（编号K😀1），表 hyda：字段 xm 不存在"},
        {kV1, Family::V1, "members", "alter table card drop column fname",
         "会员信息转换：第 1/1 行（编号C1），表 card：字段 fname 不存在"},
        {kV1, Family::V1, "products", "alter table Goods drop column Trademark",
         "V1商品转换：第 1/1 行（编号G1），表 Goods：字段 Trademark 不存在"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE((c.id + u' ' + c.damage).toStdString());
        Shop shop(c.schema, GetParam());
        if (c.schema == kV67) {
            insert(shop.source(), "ck", {{"ckbh", "W1"}, {"ckmc", "仓"}});
            insert(shop.source(), "splb", {{"lbbh", "L1"}, {"lbmc", "类"}, {"jc", "1"}});
            insert(shop.source(), "xx", {{"xm", "spjc"}, {"vals1", "2222"}});
            insert(shop.source(), "gys", {{"gysbh", "G1"}, {"gysmc", "供"}, {"gyslbbh", "C1"}});
            insert(shop.source(), "spxx", {{"Spbh", "P'1"}, {"Spmc", "品"}, {"lbbh", "L1"}, {"zhf", "0"}});
            insert(shop.source(), "spkc", {{"ckbh", "W1"}, {"spbh", "P'1"}, {"yesl", "1"}});
            insert(shop.source(), "hyda", {{"kbh", "K😀1"}, {"czye", "0"}});
        } else {
            insert(shop.source(), "Goods", {{"goodsid", "G1"}, {"GoodsName", "品"}});
            insert(shop.source(), "GoodsStoreBalance", {{"StoreId", "S1"}, {"GoodsId", "G1"}, {"BalanceNum", "1"}});
            insert(shop.source(), "card", {{"cardid", "C1"}, {"fname", "名"}});
        }
        shop.source().exec(c.damage);
        EXPECT_EQ(errorOf(shop, c.family, c.id), c.expected);
    }

    // A target table missing refuses the run before anything is written, with the target database's text.
    Shop shop(kV67, GetParam());
    insert(shop.source(), "spkc", {{"ckbh", "W1"}, {"spbh", "P1"}, {"yesl", "1"}});
    shop.target().exec(QStringLiteral("drop table spckkc"));
    const QString msg = errorOf(shop, Family::V67, QStringLiteral("stock"));
    EXPECT_TRUE(msg.startsWith(QStringLiteral("库存转换：目标数据库与转换的目标不符（"))) << msg.toStdString();
    EXPECT_TRUE(msg.contains(GetParam() == Backend::SQLite ? QStringLiteral("no such table: spckkc")
                                                           : QStringLiteral("relation \"spckkc\" does not exist")))
        << msg.toStdString();
}

TEST_P(BadSource, TextOutsideGbkIsKeptAndNeverSplitByACut)
{
    REQUIRE_BACKEND(GetParam());
    const QString ext = QStringLiteral("𠀀"), emoji = QStringLiteral("😀"), euro = QStringLiteral("€");
    Shop shop(kV67, GetParam());
    // Names cut to 20 bytes: a four-byte character that would end past the cut is left out whole.
    insert(shop.source(), "ck", {{"ckbh", "A" + ext}, {"ckmc", "一二三四五六七八九" + ext}});
    insert(shop.source(), "ck", {{"ckbh", "B" + emoji}, {"ckmc", "一二三四五六七八" + emoji}});
    insert(shop.source(), "ck", {{"ckbh", "C" + euro}, {"ckmc", "一二三四五六七八九" + euro + "x"}});
    // Codes cut to 15 bytes.
    insert(shop.source(), "ck", {{"ckbh", "DEFGHIJKLMN" + emoji + "Z"}, {"ckmc", euro + ext + emoji}});
    insert(shop.source(), "ck", {{"ckbh", "EFGHIJKLMNOP" + emoji}, {"ckmc", "e"}});
    RecordingFrontend fe;
    const auto r = runOperation(shop, Family::V67, QStringLiteral("warehouses"), fe);
    ASSERT_TRUE(r.ok) << r.message.toStdString();
    EXPECT_EQ(fe.progress, QStringLiteral("信息:5/5  (编号EFGHIJKLMNOP") + emoji + u')');
    EXPECT_EQ(shop.target().rows(QStringLiteral("select objid,ckmc from ckda order by objid")),
              (QStringList{row({"A" + ext, "一二三四五六七八九"}), row({"B" + emoji, "一二三四五六七八" + emoji}),
                           row({"C" + euro, "一二三四五六七八九" + euro}),
                           row({"DEFGHIJKLMN" + emoji, euro + ext + emoji}), row({"EFGHIJKLMNOP", "e"})}));
    EXPECT_TRUE(shop.target().scalar(QStringLiteral("select count(*) from ckda where objid like '%?%' or ckmc like "
                                                    "'%?%'")) == u"0");

    // A member name cut to 10 bytes, an address to 30, and lookups of names outside GBK.
    insert(shop.source(), "hyda", {{"kbh", "K1"}, {"xm", "张三李" + emoji}, {"dzh", ext + "路"}});
    insert(shop.source(), "hyda", {{"kbh", "K2"}, {"xm", "张三李四" + emoji}});
    runOk(shop, Family::V67, QStringLiteral("members"));
    EXPECT_EQ(shop.target().rows(QStringLiteral("select objid,xingming,dizhi from hyda order by objid")),
              (QStringList{row({"K1", "张三李" + emoji, ext + "路"}), row({"K2", "张三李四", ""})}));
    insert(shop.source(), "spxx", {{"Spbh", "P" + ext}, {"Spmc", "糖" + emoji}, {"jldw", euro}, {"lsj", "2"}});
    insert(shop.source(), "spkc", {{"ckbh", "A" + ext}, {"spbh", "P" + ext}, {"yesl", "1"}});
    runOk(shop, Family::V67, QStringLiteral("stock"));
    // The warehouse code is cut to 3 bytes, its name looked up with the whole code.
    EXPECT_EQ(shop.target().rows(QStringLiteral("select ckbh,ckmc,spbh,spmc,dwmc from spckkc")),
              QStringList{row({"A", "一二三四五六七八九", "P" + ext, "糖" + emoji, euro})});

    // Text an older program stored as GBK bytes, not UTF-8, is taken as the GBK it is.
    shop.source().exec(QStringLiteral("insert into hyda (kbh, xm) values ('K3', cast(X'D5C5C8FD' as text))"));
    runOk(shop, Family::V67, QStringLiteral("members"));
    EXPECT_EQ(shop.target().scalar(QStringLiteral("select xingming from hyda where objid='K3'")),
              QStringLiteral("张三"));
    // PostgreSQL keeps no NUL: the check names the row, the run refuses it by name instead of its text cut short.
    shop.source().exec(QStringLiteral("insert into hyda (kbh, xm) values ('K4', 'a' || char(0) || 'b')"));
    const auto checkMembers = [&] {
        return shell::checkOperations({programs::catalog().find(Family::V67, QStringLiteral("members"))},
                                      shop.sourceUdl(), shop.targetUdl())
            .problems.join(u'\n');
    };
    const QString nulProblem = QStringLiteral("源 hyda 有 1 行的 xm 含 NUL 字符（0x00）：编号 K4；");
    EXPECT_EQ(checkMembers().contains(nulProblem), GetParam() == Backend::PostgreSQL) << checkMembers().toStdString();
    RecordingFrontend nul;
    const auto withNul = runOperation(shop, Family::V67, QStringLiteral("members"), nul);
    if (GetParam() == Backend::PostgreSQL) {
        EXPECT_FALSE(withNul.ok);
        EXPECT_TRUE(withNul.message.contains(QStringLiteral("第 4/4 行（编号K4）")) &&
                    withNul.message.contains(QStringLiteral("NUL")))
            << withNul.message.toStdString();
        EXPECT_EQ(shop.target().scalar(QStringLiteral("select count(*) from hyda where objid='K4'")),
                  QStringLiteral("0"));
    } else {
        EXPECT_TRUE(withNul.ok) << withNul.message.toStdString();
    }

    // UTF-8 with a broken byte is not re-read as GBK: the check names the row, the run stops at it.
    shop.source().exec(
        QStringLiteral("delete from hyda where kbh='K4';\n"
                       "insert into hyda (kbh, xm) values ('K5', cast(X'E5A5BDEDA080E5908378' as text))"));
    EXPECT_TRUE(checkMembers().contains(QStringLiteral(
        "源 hyda 有 1 行的 xm 既不是有效的 UTF-8，也不是有效的 GBK：编号 K5；会员信息转换会在第一行停下")))
        << checkMembers().toStdString();
    RecordingFrontend broken;
    const auto withBroken = runOperation(shop, Family::V67, QStringLiteral("members"), broken);
    EXPECT_FALSE(withBroken.ok);
    EXPECT_TRUE(withBroken.message.contains(QStringLiteral(
        "第 4/4 行（编号K5），表 hyda 字段 xm：文本既不是有效的 UTF-8，也不是有效的 GBK：“好\\xED\\xA0\\x80吃x”")))
        << withBroken.message.toStdString();
    EXPECT_EQ(shop.target().scalar(QStringLiteral("select count(*) from hyda where objid='K5'")), QStringLiteral("0"));
}

TEST_P(BadSource, QuotesBackslashesAndGbkLeadBytesNeitherFailNorChangeAStatement)
{
    REQUIRE_BACKEND(GetParam());
    // "翱" is B0 BF in GBK and "縗" BF 5C: with a quote after them the bytes hold BF 27 and BF 5C 27.
    const QString a = QStringLiteral("翱'"), b = QStringLiteral("縗'"), c = QStringLiteral("\\'x\\");
    Shop shop(kV67, GetParam());
    insert(shop.source(), "splb", {{"lbbh", a}, {"lbmc", "类" + b}, {"jc", "1"}});
    insert(shop.source(), "gys", {{"gysbh", b}, {"gysmc", "供" + c}});
    insert(shop.source(), "hq", {{"hqbh", c}, {"hqmc", "区" + a}});
    insert(shop.source(), "ck", {{"ckbh", a}, {"ckmc", "仓" + c}});
    insert(shop.source(), "spxx",
           {{"Spbh", b + "1"},
            {"Spmc", "品" + a},
            {"lbbh", a},
            {"gysbh", b},
            {"hqbh", c},
            {"jldw", c},
            {"jhjj", "1.5"},
            {"lsj", "2"},
            {"zhf", "0"}});
    insert(shop.source(), "spkc", {{"ckbh", a}, {"spbh", b + "1"}, {"yesl", "2"}});
    // The level setting is written into the target inside a statement text.
    insert(shop.source(), "xx", {{"xm", "spjc"}, {"vals1", "1'\\縗'" + a}});
    for (const char* id : {"products-v7", "warehouses", "stock", "categories"})
        runOk(shop, Family::V67, QString::fromLatin1(id));
    EXPECT_EQ(shop.target().rows(QStringLiteral("select objid,spmc,splbbh,splbmc,Gysbh,Gysmc,hqbh,hqmc from spda")),
              QStringList{row({b + "1", "品" + a, a, "类" + b, b, "供" + c, c, "区" + a})});
    EXPECT_EQ(shop.target().rows(QStringLiteral("select ckbh,ckmc,spbh,spmc,dwmc from spckkc")),
              QStringList{row({a, "仓" + c, b + "1", "品" + a, c})});
    EXPECT_EQ(amount(shop.target().scalar(QStringLiteral("select yecbje from spckkc"))), QStringLiteral("3.0000"));
    EXPECT_EQ(shop.target().rows(QStringLiteral("select objid,splbmc from splbda")), QStringList{row({a, "类" + b})});
    EXPECT_EQ(shop.target().scalar(QStringLiteral("select fvalue from xx where objid='01splbjc'")),
              QStringLiteral("1'\\縗'") + a);
}

TEST_P(BadSource, AmountsThatAreNotNumbers)
{
    REQUIRE_BACKEND(GetParam());
    Shop shop(kV67, GetParam());
    insert(shop.source(), "spxx", {{"Spbh", "P1"}, {"Spmc", "a"}, {"jhjj", "1"}, {"lsj", "2"}, {"zhf", "0"}});
    insert(shop.source(), "spxx", {{"Spbh", "P2"}, {"Spmc", "b"}, {"jhjj", "abc"}, {"lsj", "abc"}, {"zhf", "0"}});
    // A product price ends the run at its row; the row before it stays.
    EXPECT_EQ(errorOf(shop, Family::V67, QStringLiteral("products-v7")),
              QStringLiteral("V7商品转换：第 2/2 行（编号P2），表 spxx 字段 jhjj：'abc' 不是有效的数值"));
    EXPECT_EQ(shop.target().rows(QStringLiteral("select objid from spda")), QStringList{"P1"});

    // Stock prices fail softly to 0; the quantity is an amount the row cannot do without.
    insert(shop.source(), "spxx", {{"Spbh", "P3"}, {"Spmc", "c"}, {"jhjj", "x1"}, {"lsj", "3"}, {"zhf", "0"}});
    insert(shop.source(), "spkc", {{"ckbh", "W"}, {"spbh", "P2"}, {"yesl", "2"}});
    insert(shop.source(), "spkc", {{"ckbh", "W"}, {"spbh", "P3"}, {"yesl", "2"}});
    runOk(shop, Family::V67, QStringLiteral("stock"));
    QStringList values;
    for (const QString& r : shop.target().rows(QStringLiteral("select spbh,yecbje,yesjje from spckkc order by spbh"))) {
        const QStringList f = r.split(u'|');
        values << row({f[0], amount(f[1]), amount(f[2])});
    }
    EXPECT_EQ(values, (QStringList{row({"P2", "0.0000", "0.0000"}), row({"P3", "0.0000", "6.0000"})}));
    insert(shop.source(), "spkc", {{"ckbh", "W"}, {"spbh", "P9"}, {"yesl", "many"}});
    runOk(shop, Family::V67, QStringLiteral("clear-stock"));
    EXPECT_EQ(errorOf(shop, Family::V67, QStringLiteral("stock")),
              QStringLiteral("库存转换：第 3/3 行（编号WP9），表 spkc 字段 yesl：'many' 不是有效的数值"));

    // Member amounts and category levels name their field too.
    insert(shop.source(), "hyda", {{"kbh", "K1"}, {"czye", "1,5"}});
    EXPECT_EQ(errorOf(shop, Family::V67, QStringLiteral("members")),
              QStringLiteral("会员信息转换：第 1/1 行（编号K1），表 hyda 字段 czye：'1,5' 不是有效的数值"));
    insert(shop.source(), "splb", {{"lbbh", "L1"}, {"jc", "two"}});
    EXPECT_EQ(errorOf(shop, Family::V67, QStringLiteral("categories")),
              QStringLiteral("商品类别转换：第 1/1 行（编号L1），表 splb 字段 jc：'two' is not a valid integer value"));
}

TEST_P(BadSource, MegabyteTextsAreCutToTheirColumns)
{
    REQUIRE_BACKEND(GetParam());
    const QString huge(512 * 1024, QChar(0x7532)); // "甲": 1 MB in GBK
    Shop shop(kV67, GetParam());
    insert(shop.source(), "ck", {{"ckbh", "W1"}, {"ckmc", huge}});
    insert(shop.source(), "gys", {{"gysbh", "G1"}, {"gysmc", huge}, {"dz", huge}});
    insert(shop.source(), "hyda", {{"kbh", "K1"}, {"xm", huge}, {"dzh", huge}});
    insert(shop.source(), "spxx", {{"Spbh", "P1"}, {"Spmc", "品"}, {"ggxh", huge}, {"zhf", "0"}});
    insert(shop.source(), "spkc", {{"ckbh", "W1"}, {"spbh", "P1"}, {"yesl", "1"}});
    for (const char* id : {"warehouses", "suppliers", "members", "products-v7", "stock"})
        runOk(shop, Family::V67, QString::fromLatin1(id));
    const QString ten(10, QChar(0x7532));
    EXPECT_EQ(shop.target().rows(QStringLiteral("select ckmc from ckda")), QStringList{ten});
    EXPECT_EQ(shop.target().rows(QStringLiteral("select gysmc,dizhi from gysda")),
              QStringList{row({ten, huge.left(25)})});
    EXPECT_EQ(shop.target().rows(QStringLiteral("select xingming,dizhi from hyda")),
              QStringList{row({ten.left(5), huge.left(15)})});
    EXPECT_EQ(shop.target().rows(QStringLiteral("select spmc from mdspkc")), QStringList{"品" + ten.left(5)});

    // A product name is written as read: the target's own width decides.
    Shop named(kV67, GetParam());
    insert(named.source(), "spxx", {{"Spbh", "P1"}, {"Spmc", huge}, {"zhf", "0"}});
    const QString msg = errorOf(named, Family::V67, QStringLiteral("products-v7"));
    if (GetParam() == Backend::SQLite) {
        EXPECT_EQ(msg, QStringLiteral("<ok>"));
        EXPECT_EQ(named.target().scalar(QStringLiteral("select length(spmc) from spda")), QString::number(huge.size()));
        EXPECT_EQ(named.target().scalar(QStringLiteral("select length(zjm) from spda")), QStringLiteral("255"));
    } else {
        EXPECT_TRUE(msg.startsWith(QStringLiteral("V7商品转换：第 1/1 行（编号P1），表 spda：")))
            << msg.left(200).toStdString();
        EXPECT_TRUE(msg.contains(QStringLiteral("too long"))) << msg.left(200).toStdString();
    }
}

INSTANTIATE_TEST_SUITE_P(Targets, BadSource, ::testing::Values(Backend::SQLite, Backend::PostgreSQL),
                         [](const auto& info) { return backendName(info.param).toStdString(); });

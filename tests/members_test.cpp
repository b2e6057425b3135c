// Member conversions of both programs, SQLite to SQLite and SQLite to
// PostgreSQL: hylbda rebuilt, cards already present skipped, the hyda row.
#include "support/testdb.h"

#include "db/amount.h"
#include "programs/programs.h"
#include "textutil/scramble.h"

#include <gtest/gtest.h>

using namespace testing_support;
using shell::Family;

namespace {

const QString kStamp = QStringLiteral("2026-12-08 09:05 07");
constexpr std::uint8_t kFirst = 0x5A;
const QString kHyda = QStringLiteral(
    "select objid,lbbh,lbmc,xingming,xingbie,dizhi,shenfenzheng,dianhua,shengri,zhongzhirq,jifenf,huiyuanf,jiezhi,"
    "jyf,bz,xgrq,sskhf,czjxm,czf,czye,ljxfje,ljjf,jfye,dazhef,dazhezk from hyda order by objid");

QString row(std::initializer_list<QString> fields) { return QStringList(fields).join(u'|'); }

// The check text the target verifies, computed from the balance text and key with the fixed first value.
QString check(const char* balanceText, const char* key)
{
    return QString::fromLatin1(textutil::Scramble(balanceText, key, kFirst));
}

// Rows of hyda with the amount columns written alike on both databases.
QStringList members(TestDb& db)
{
    QStringList out;
    for (const QString& r : db.rows(kHyda)) {
        QStringList fields = r.split(u'|');
        for (int c : {19, 20, 21, 22})
            fields[c] = db::Amount::parse(fields[c]).value_or(db::Amount::fromRaw(-1)).toString();
        out << fields.join(u'|');
    }
    return out;
}

class Members : public ::testing::TestWithParam<Backend> {
protected:
    void SetUp() override
    {
        textutil::setScrambleRandomSource([] { return kFirst; });
    }
    void TearDown() override { textutil::setScrambleRandomSource({}); }
};

} // namespace

TEST_P(Members, V67RowsSkipsAndCheckTexts)
{
    REQUIRE_BACKEND(GetParam());
    Shop shop(QStringLiteral("source_v67_sqlite.sql"), GetParam());
    shop.source().load(QStringLiteral("members_source_v67"));
    shop.target().exec(QStringLiteral("insert into hyda (objid, xingming) values ('OLD1', '旧');\n"
                                      "insert into hylbda (objid, lbmc, xgrq) values ('99', 'x', 'y');"));
    RecordingFrontend fe;
    auto r = runOperation(shop, Family::V67, QStringLiteral("members"), fe);
    ASSERT_TRUE(r.ok) << r.message.toStdString();
    EXPECT_EQ(r.rowsWritten, 4);
    EXPECT_EQ(r.rowsSkipped, 3);
    EXPECT_EQ(fe.completions, QStringList{QStringLiteral("提示/档案转换完毕！")});
    EXPECT_EQ(fe.progress, QStringLiteral("信息:7/7")); // the last card is skipped
    EXPECT_TRUE(fe.log.isEmpty());
    EXPECT_EQ(shop.target().rows(QStringLiteral("select objid,lbmc,xgrq from hylbda")),
              QStringList{row({"01", "会员卡", kStamp})});
    // Cuts keep whole characters; the card differing after its 13th byte, the card already in the
    // target and the repeated card are skipped; NULLs give empty texts and zeros.
    const QString date = QStringLiteral("2010-12-31");
    EXPECT_EQ(members(shop.target()),
              (QStringList{
                  row({"1234567890123",
                       "01",
                       "会员卡",
                       "a张三丰一",
                       "",
                       "北京市海淀区中关村大街一号院二",
                       "110101199001011234",
                       "010-12345678-99",
                       "",
                       date,
                       "1",
                       "1",
                       "IC",
                       "0",
                       "",
                       kStamp,
                       "1",
                       check("12.50", "890123"),
                       "1",
                       "12.5000",
                       "100.2500",
                       "7.0000",
                       "3.5000",
                       "1",
                       "0.85"}),
                  row({"N1", "01",     "会员卡", "",       "",       "", "",     "", "",
                       date, "",       "",       "",       "1",      "", kStamp, "", check("0.00", "N1"),
                       "",   "0.0000", "0.0000", "0.0000", "0.0000", "", "0"}),
                  row({"OLD1", "", "", "旧", "", "", "",       "",       "",       "",       "", "", "",
                       "",     "", "", "",   "", "", "0.0000", "0.0000", "0.0000", "0.0000", "", "0"}),
                  row({"S1", "01",      "会员卡", "",       "",       "",      "",     "", "",
                       date, "",        "",       "",       "1",      "正常 ", kStamp, "", check("-3.00", "S1"),
                       "0",  "-3.0000", "0.0000", "0.0000", "0.0000", "",      "1.5"}),
                  row({"S2",     "01",     "会员卡",
                       "",       "",       "",
                       "",       "",       "",
                       date,     "",       "",
                       "",       "1",      "挂失一二三四五六七八",
                       kStamp,   "",       check("0.00", "S2"),
                       "",       "0.0000", "0.0000",
                       "0.0000", "0.0000", "",
                       "0"}),
              }));

    // A second run writes nothing and shows every card without its code.
    const QStringList before = shop.target().rows(kHyda);
    r = runOperation(shop, Family::V67, QStringLiteral("members"), fe);
    ASSERT_TRUE(r.ok) << r.message.toStdString();
    EXPECT_EQ(r.rowsSkipped, 7);
    EXPECT_EQ(fe.progress, QStringLiteral("信息:7/7"));
    EXPECT_EQ(shop.target().rows(kHyda), before);
}

TEST_P(Members, AbortBeforeTheRunStillRebuildsTheCategories)
{
    REQUIRE_BACKEND(GetParam());
    for (const Family family : {Family::V67, Family::V1}) {
        const bool v67 = family == Family::V67;
        Shop shop(v67 ? QStringLiteral("source_v67_sqlite.sql") : QStringLiteral("source_v1_sqlite.sql"), GetParam());
        shop.source().exec(v67 ? QStringLiteral("insert into hyda (kbh) values ('K1');")
                               : QStringLiteral("insert into card (cardid) values ('K1');"));
        shop.target().exec(QStringLiteral("insert into hylbda (objid) values ('99');"));
        RecordingFrontend fe;
        fe.abort = true;
        const auto r = runOperation(shop, family, QStringLiteral("members"), fe);
        ASSERT_TRUE(r.ok) << r.message.toStdString();
        EXPECT_TRUE(r.aborted);
        EXPECT_EQ(fe.completions, QStringList{QStringLiteral("提示/档案转换完毕！")});
        EXPECT_EQ(shop.target().rows(QStringLiteral("select objid,lbmc,xgrq from hylbda")),
                  QStringList{row({"01", "会员卡", kStamp})});
        EXPECT_EQ(shop.target().scalar(QStringLiteral("select count(*) from hyda")), QStringLiteral("0"));
    }
}

TEST_P(Members, V1FlagsDatesAndNulls)
{
    REQUIRE_BACKEND(GetParam());
    Shop shop(QStringLiteral("source_v1_sqlite.sql"), GetParam());
    shop.source().load(QStringLiteral("members_source_v1"));
    RecordingFrontend fe;
    const auto r = runOperation(shop, Family::V1, QStringLiteral("members"), fe);
    ASSERT_TRUE(r.ok) << r.message.toStdString();
    EXPECT_EQ(r.rowsSkipped, 1);
    EXPECT_EQ(fe.progress, QStringLiteral("信息:5/5  (编号C4)"));
    const QString date = QStringLiteral("2010-12-31");
    // Booleans become "1"/"0" (NULL is "0"), a missing birthday is 1899-12-30, dazhezk is always 0.
    EXPECT_EQ(members(shop.target()),
              (QStringList{
                  row({"1234567890123",
                       "01",
                       "会员卡",
                       "李四",
                       "男",
                       "上海",
                       "3101",
                       "021",
                       "1980-05-17",
                       date,
                       "0",
                       "0",
                       "IC",
                       "0",
                       "",
                       kStamp,
                       "0",
                       check("8.50", "890123"),
                       "1",
                       "8.5000",
                       "10.0000",
                       "2.0000",
                       "1.0000",
                       "1",
                       "0"}),
                  row({"C2", "01",     "会员卡", "",       "",       "",  "",     "",  "1899-12-30",
                       date, "0",      "0",      "",       "1",      "",  kStamp, "0", check("0.00", "C2"),
                       "0",  "0.0000", "0.0000", "0.0000", "0.0000", "0", "0"}),
                  row({"C3", "01",     "会员卡", "王五",   "ab",     "",     "",     "",  "2001-02-03",
                       date, "1",      "1",      "M",      "1",      "冻结", kStamp, "1", check("0.01", "C3"),
                       "0",  "0.0050", "0.0000", "0.0000", "0.0000", "0",    "0"}),
                  row({"C4", "01",     "会员卡", "",       "男",     "",  "",     "",  "1899-12-30",
                       date, "0",      "0",      "",       "1",      "",  kStamp, "0", check("0.00", "C4"),
                       "1",  "0.0000", "0.0000", "0.0000", "0.0000", "0", "0"}),
              }));
}

// What the check probes, widths it checks and the reconciliation key, all from the rule lists.
TEST(MemberRules, DeriveTheFieldsReadTheWidthCheckAndTheKey)
{
    const auto derived = [](Family family) {
        const shell::Operation* op = programs::catalog().find(family, QStringLiteral("members"));
        QStringList out{op->uses.first().table + u':' + op->uses.first().columns.join(u',')};
        for (const shell::FieldInto& f : op->fields)
            out << f.sourceField + u'>' + f.targetColumn;
        const shell::RowMatch& m = op->reconciliation.rows.first();
        out << m.key.first().sourceField + u'>' + m.key.first().targetColumn + u'/' +
                   QString::number(m.key.first().cut) + (m.skipsPresent ? u'+' : u'-');
        return out;
    };
    EXPECT_EQ(derived(Family::V67), QStringList({"hyda:kbh,czye,czk,zt,klx,skf,xm,dzh,sfz,dh,jfk,jfjelj,jffslj,jffsye,"
                                                 "hyk,dzk,dzbl",
                                                 "czk>czf", "klx>jiezhi", "skf>sskhf", "jfk>jifenf", "hyk>huiyuanf",
                                                 "dzk>dazhef", "kbh>objid/13+"}));
    EXPECT_EQ(derived(Family::V1),
              QStringList({"card:cardid,cashbala,ifcash,state,cardmake,ifflash,fname,sex,address,idcard,tel,birthday,"
                           "ifcent,moneysum,centsum,centbala,ifmembercard,ifdiscount",
                           "cardmake>jiezhi", "cardid>objid/13+"}));
}

INSTANTIATE_TEST_SUITE_P(Backends, Members, ::testing::Values(Backend::SQLite, Backend::PostgreSQL),
                         [](const auto& info) { return backendName(info.param).toStdString(); });

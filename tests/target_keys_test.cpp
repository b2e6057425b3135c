// The cheap paths of the per-row work: a prepared query bound and reopened
// many times, amounts bound as decimal text, and the duplicate checks that keep
// the target codes in memory, which must compare exactly as the database does.
#include "support/testdb.h"

#include "db/connection.h"
#include "db/query.h"
#include "shell/keyed_access.h"
#include "textutil/error.h"
#include "textutil/gbk.h"
#include "textutil/scramble.h"

#include <gtest/gtest.h>

#include <limits>

using namespace testing_support;
using shell::Family;

namespace {

class TargetKeys : public ::testing::TestWithParam<Backend> {};

// Rows in a fixed order whatever the database's collation.
QStringList sorted(QStringList rows)
{
    rows.sort();
    return rows;
}

} // namespace

TEST(PreparedQuery, RebindsReopensAndReadsTheRightFields)
{
    Shop shop(QStringLiteral("source_v67_sqlite.sql"), Backend::SQLite);
    shop.target().exec(QStringLiteral("insert into spda (objid, spmc) values ('A', '甲');\n"
                                      "insert into spda (objid, spmc) values ('B', '乙');"));
    db::Connection target(QStringLiteral("目标"));
    target.open(shop.targetUdl());

    db::Query q(target);
    q.setText(QStringLiteral("select objid, spmc from spda where objid=:objid"));
    q.prepare();
    for (const char* code : {"A", "B", "C", "A"}) {
        q.close();
        q.bindText(QStringLiteral("objid"), code);
        q.open();
        if (QByteArray(code) == "C") {
            EXPECT_FALSE(q.next());
            continue;
        }
        ASSERT_TRUE(q.next()) << code;
        EXPECT_EQ(q.text(QStringLiteral("OBJID")), QByteArray(code));
        EXPECT_EQ(gbk::toUnicode(q.text(QStringLiteral("spmc"))), QByteArray(code) == "A" ? u"甲" : u"乙");
        EXPECT_FALSE(q.next());
    }
    EXPECT_THROW(q.text(QStringLiteral("ggxh")), belmire::Error);

    // A new text has its own fields: the names are looked up again.
    q.setText(QStringLiteral("select spmc, objid as ggxh from spda where objid=:objid"));
    q.prepare();
    q.bindText(QStringLiteral("objid"), "B");
    q.open();
    ASSERT_TRUE(q.next());
    EXPECT_EQ(q.text(QStringLiteral("ggxh")), QByteArray("B"));
    EXPECT_THROW(q.text(QStringLiteral("objid")), belmire::Error);
}

TEST(PreparedQuery, AmountsAreBoundAsFourDecimalText)
{
    Shop shop(QStringLiteral("source_v67_sqlite.sql"), Backend::SQLite);
    db::Connection target(QStringLiteral("目标"));
    target.open(shop.targetUdl());
    db::Query q(target);
    q.setText(QStringLiteral("select :a as a"));
    q.prepare();
    const std::int64_t raws[] = {0,
                                 1,
                                 -1,
                                 9999,
                                 10000,
                                 -125000,
                                 123456789,
                                 std::numeric_limits<std::int64_t>::max(),
                                 std::numeric_limits<std::int64_t>::min()};
    for (const std::int64_t raw : raws) {
        const db::Amount a = db::Amount::fromRaw(raw);
        q.close();
        q.bindAmount(QStringLiteral("a"), a);
        q.open();
        ASSERT_TRUE(q.next());
        EXPECT_EQ(QString::fromLatin1(q.text(QStringLiteral("a"))), a.toString()) << raw;
    }
}

// Lookups of several fields of one table by one key share one scan where the
// source compares exactly: each field answers from the first row of its key,
// trimmed, as the query per key would. A field the scan cannot read leaves the
// others answering, each then scanned alone, and fails when it is asked.
TEST(SourceLookups, FieldsOfOneTableShareOneScanAndAnswerFromTheFirstRow)
{
    Shop shop(QStringLiteral("source_v67_sqlite.sql"), Backend::SQLite);
    shop.source().exec(QStringLiteral("create table lk (k varchar(10), a varchar(10), b varchar(10));\n"
                                      "insert into lk values ('1', ' x ', 'p');\n"
                                      "insert into lk values ('1', 'y', 'q');\n"
                                      "insert into lk values (null, 'n', 'n');\n"
                                      "insert into lk values ('2', '甲', null);"));
    db::Connection source(QStringLiteral("源"));
    source.open(shop.sourceUdl());
    const auto lookup = [](const char* field, const char* other) {
        return shell::Lookup(QStringLiteral("lk"), QStringLiteral("k"), QString::fromLatin1(field), false,
                             {QString::fromLatin1(other)});
    };
    shell::SourceLookups lookups(source);
    EXPECT_EQ(lookups.value(lookup("a", "b"), "1"), QByteArray("x"));
    shop.source().exec(QStringLiteral("update lk set b = 'changed';")); // b came with a's scan
    EXPECT_EQ(lookups.value(lookup("b", "a"), "1"), QByteArray("p"));
    EXPECT_EQ(gbk::toUnicode(lookups.value(lookup("a", "b"), "2")), u"甲");
    EXPECT_EQ(lookups.value(lookup("b", "a"), "2"), QByteArray());
    EXPECT_EQ(lookups.value(lookup("a", "b"), "3"), QByteArray());

    for (const bool missingFirst : {false, true}) {
        shell::SourceLookups apart(source);
        if (missingFirst) {
            EXPECT_THROW(apart.value(lookup("nope", "a"), "1"), belmire::Error);
        }
        EXPECT_EQ(apart.value(lookup("a", "nope"), "1"), QByteArray("x"));
        EXPECT_EQ(apart.value(lookup("a", "nope"), "9"), QByteArray());
        EXPECT_THROW(apart.value(lookup("nope", "a"), "1"), belmire::Error);
    }
}

// Codes already in the target differ from the source codes only by a trailing
// blank, by case, or are Chinese; the codes written by the run are Chinese too.
TEST_P(TargetKeys, ProductChecksCompareTextExactly)
{
    REQUIRE_BACKEND(GetParam());
    Shop shop(QStringLiteral("source_v67_sqlite.sql"), GetParam());
    shop.target().exec(QStringLiteral("insert into spda (objid, spmc) values ('ab ', 'old');\n"
                                      "insert into spda (objid, spmc) values ('CD', 'old');\n"
                                      "insert into spda (objid, spmc) values ('旧品', 'old');\n"
                                      "insert into spdw (objid, fid, sptm) values ('CD', 0, '69 ');\n"
                                      "insert into spdw (objid, fid, sptm) values ('CD', 1, '条码旧');\n"
                                      "insert into spdw (objid, fid, sptm) values ('CD', 2, NULL);"));
    const auto add = [&](const QString& code, const QString& barCode, const QString& barCode1) {
        shop.source().exec(
            QStringLiteral("insert into spxx (Spbh,Spmc,hjtm,jkc,fs,sptm,sptm1,zhf) values ('%1','n','0','0','经销',"
                           "'%2','%3','0');")
                .arg(code, barCode, barCode1));
    };
    add(QStringLiteral("ab"), QStringLiteral("69"), QString());                  // neither 'ab ' nor '69 '
    add(QStringLiteral("cd"), QStringLiteral("条码旧"), QStringLiteral("新码")); // not 'CD'; bar code taken
    add(QStringLiteral("旧品"), QString(), QString());                           // taken: skipped
    add(QStringLiteral("新品"), QStringLiteral("新码"), QStringLiteral("cd"));   // written by this run
    add(QStringLiteral("新品"), QStringLiteral("cd"), QString()); // repeated; bar and product code of this run

    RecordingFrontend fe;
    const auto r = runOperation(shop, Family::V67, QStringLiteral("products-v7"), fe);
    ASSERT_TRUE(r.ok) << r.message.toStdString();
    EXPECT_EQ(r.rowsSkipped, 2);
    EXPECT_EQ(fe.log, (QStringList{"商品条码重复：条码旧", "商品编号重复：旧品", "商品条码重复：新码",
                                   "商品条码重复：cd", "商品编号与条码重复：cd", "商品编号重复：新品"}));
    EXPECT_EQ(sorted(shop.target().rows(QStringLiteral("select objid from spda"))),
              sorted({"CD", "ab", "ab ", "cd", "新品", "旧品"}));
}

TEST_P(TargetKeys, MemberChecksCompareTextExactly)
{
    REQUIRE_BACKEND(GetParam());
    textutil::setScrambleRandomSource([] { return std::uint8_t(0x5A); });
    Shop shop(QStringLiteral("source_v67_sqlite.sql"), GetParam());
    shop.target().exec(QStringLiteral("insert into hyda (objid) values ('K1 ');\n"
                                      "insert into hyda (objid) values ('KA');\n"
                                      "insert into hyda (objid) values ('会员卡一');"));
    for (const char* card : {"K1", "ka", "会员卡一", "会员卡二", " 会员卡二 ", "12345678901234", "1234567890123"})
        shop.source().exec(QStringLiteral("insert into hyda (kbh) values ('%1');").arg(QString::fromUtf8(card)));

    RecordingFrontend fe;
    const auto r = runOperation(shop, Family::V67, QStringLiteral("members"), fe);
    textutil::setScrambleRandomSource({});
    ASSERT_TRUE(r.ok) << r.message.toStdString();
    // The 14-digit card is cut to 13 digits, so the last card repeats it.
    EXPECT_EQ(r.rowsSkipped, 3);
    EXPECT_EQ(sorted(shop.target().rows(QStringLiteral("select objid from hyda"))),
              sorted({"1234567890123", "K1", "K1 ", "KA", "ka", "会员卡一", "会员卡二"}));
}

INSTANTIATE_TEST_SUITE_P(Backends, TargetKeys, ::testing::Values(Backend::SQLite, Backend::PostgreSQL),
                         [](const auto& info) { return backendName(info.param).toStdString(); });

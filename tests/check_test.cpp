// The pre-flight check: every table and column the operations use is probed on
// both databases, every problem is reported at once and nothing is written.
#include "programs/programs.h"
#include "shell/check.h"
#include "support/testdb.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <functional>

#include <unistd.h>

using namespace testing_support;
using shell::Family;

namespace {

class Check : public ::testing::TestWithParam<Backend> {};

QList<const shell::Operation*> ops(Family family, const QStringList& ids)
{
    QList<const shell::Operation*> out;
    for (const QString& id : ids)
        out << programs::catalog().find(family, id);
    return out;
}

// Everything the target holds, to see that a check changed nothing.
QStringList targetContent(TestDb& target)
{
    QStringList out;
    for (const char* t : {"hylbda", "hyda", "spckkc", "mdspkc", "mdda", "xx", "ckda"})
        for (const QString& r : target.rows(QStringLiteral("select * from %1").arg(QLatin1String(t))))
            out << QLatin1String(t) + u':' + r;
    return out;
}

} // namespace

TEST_P(Check, ListsEveryProblemOfBothSidesAndWritesNothing)
{
    REQUIRE_BACKEND(GetParam());
    Shop shop(QStringLiteral("source_v67_sqlite.sql"), GetParam());
    shop.source().exec(QStringLiteral("insert into hyda (kbh, czye) values ('K1', 5);\n"
                                      "drop table spkc;\n"
                                      "alter table hyda drop column dzbl;\n"
                                      "alter table hyda drop column hyk;"));
    shop.target().exec(QStringLiteral("alter table spckkc drop column yecbje;\n"
                                      "alter table hylbda drop column xgrq;"));
    const QStringList before = targetContent(shop.target());

    const shell::CheckReport report =
        shell::checkOperations(ops(Family::V67, {"stock", "members"}), shop.sourceUdl(), shop.targetUdl());
    EXPECT_FALSE(report.ok());
    ASSERT_EQ(report.problems.size(), 5) << report.problems.join(u'\n').toStdString();
    // Source problems first, in the order the operations name the tables, then the target's.
    EXPECT_TRUE(report.problems[0].startsWith(QStringLiteral("源表 spkc 不存在或无法读取：")))
        << report.problems[0].toStdString();
    EXPECT_TRUE(report.problems[0].contains(QStringLiteral("spkc")));
    EXPECT_TRUE(report.problems[1].startsWith(QStringLiteral("源表 hyda 缺少字段 hyk：")))
        << report.problems[1].toStdString();
    EXPECT_TRUE(report.problems[2].startsWith(QStringLiteral("源表 hyda 缺少字段 dzbl：")))
        << report.problems[2].toStdString();
    EXPECT_TRUE(report.problems[3].startsWith(QStringLiteral("目标表 spckkc 缺少字段 yecbje：")))
        << report.problems[3].toStdString();
    EXPECT_TRUE(report.problems[4].startsWith(QStringLiteral("目标表 hylbda 缺少字段 xgrq：")))
        << report.problems[4].toStdString();
    for (const QString& p : report.problems) {
        // The database's own text follows the colon.
        EXPECT_GT(p.size(), p.indexOf(u'：') + 1) << p.toStdString();
        if (shop.target().isPostgres()) {
            EXPECT_FALSE(p.contains(qEnvironmentVariable("BELMIRE_PG_PASSWORD"))) << p.toStdString();
        }
    }
    EXPECT_EQ(report.lines().last(), QStringLiteral("检查完毕：发现 5 个问题"));
    EXPECT_EQ(targetContent(shop.target()), before);
}

TEST_P(Check, AHealthyShopPassesForEveryOperationOfBothPrograms)
{
    REQUIRE_BACKEND(GetParam());
    for (const Family family : {Family::V67, Family::V1}) {
        Shop shop(family == Family::V67 ? QStringLiteral("source_v67_sqlite.sql")
                                        : QStringLiteral("source_v1_sqlite.sql"),
                  GetParam());
        // One warehouse: a source without any row to convert is not healthy.
        shop.source().exec(family == Family::V67
                               ? QStringLiteral("insert into ck (ckbh, ckmc) values ('C1', '总仓');")
                               : QStringLiteral("insert into Store (StoreId, Store) values ('C1', '总仓');"));
        const QList<const shell::Operation*> all = programs::catalog().built(family);
        ASSERT_FALSE(all.isEmpty());
        for (const shell::Operation* op : all)
            EXPECT_FALSE(op->uses.isEmpty()) << op->id.toStdString();
        const shell::CheckReport report = shell::checkOperations(all, shop.sourceUdl(), shop.targetUdl());
        EXPECT_TRUE(report.ok()) << report.problems.join(u'\n').toStdString();
        EXPECT_GE(report.tables, 15);
        EXPECT_EQ(report.lines(),
                  QStringList{
                      QStringLiteral("检查完毕：%1 个表、%2 个字段都可以使用").arg(report.tables).arg(report.columns)});
    }
}

// What a run would stop at, or do without a word, once the tables are sound: a
// source with nothing to convert, keys the target holds where the conversion
// cannot skip them, stock of product codes spckkc keeps shorter than spda, and
// a target that takes no write.
TEST_P(Check, PredictsWhatTheRunWouldStopAtOrDoWithoutAWord)
{
    REQUIRE_BACKEND(GetParam());
    Shop shop(QStringLiteral("source_v67_sqlite.sql"), GetParam());
    const auto problems = [&](const QStringList& ids, const QString& targetUdl) {
        return shell::checkOperations(ops(Family::V67, ids), shop.sourceUdl(), targetUdl).problems;
    };
    EXPECT_EQ(problems({"warehouses", "stock"}, shop.targetUdl()),
              QStringList{QStringLiteral("源的表都没有要转换的行（ck、spkc）：转换不会写入任何数据；"
                                         "请确认源数据连接文件指向有数据的数据库")});

    shop.source().exec(QStringLiteral("insert into ck (ckbh, ckmc) values ('C1', '总仓');\n"
                                      "insert into ck (ckbh, ckmc) values ('C2', '二仓');\n"
                                      "insert into spkc (ckbh, spbh, yesl) values ('C1', 'P1', 1);\n"
                                      "insert into spkc (ckbh, spbh, yesl) values ('C1', '6901234567890123', 1);\n"
                                      "insert into spkc (ckbh, spbh, yesl) values ('C2', '6901234567890123', 2);"));
    shop.target().exec(QStringLiteral("insert into ckda (objid) values ('C2');\n"
                                      "insert into spckkc (ckbh, spbh) values ('C1', 'P1');"));
    const QString longCodes = QStringLiteral(
        "源 spkc 有 2 行的商品编号长于 15 字节（6901234567890123）：spckkc 和 mdspkc 的 spbh 只保留前 15 字节，"
        "这些库存对不上 spda 中完整的商品编号；请先在源中把这些商品编号改为不超过 15 字节，再转换商品和库存");
    EXPECT_EQ(problems({"warehouses", "stock"}, shop.targetUdl()),
              (QStringList{QStringLiteral("目标 ckda 已有源 ck 的 1 个编号（C2）：仓库档案转换不能跳过已有的行，"
                                          "会在第一个这样的行停下；请先运行清空仓库（clear-warehouses）"),
                           QStringLiteral("目标 spckkc 已有源 spkc 的 1 个编号（C1/P1）：库存转换不能跳过已有的行，"
                                          "会在第一个这样的行停下；请先运行清空库存（clear-stock）"),
                           longCodes}));
    // Cleared first in the same command, the rows held are no obstacle.
    EXPECT_EQ(problems({"clear-warehouses", "clear-stock", "warehouses", "stock"}, shop.targetUdl()),
              QStringList{longCodes});

    // A target that takes no write: a read-only file, a database whose sessions are read-only.
    QTemporaryDir dir;
    const QString readOnlyUdl = dir.filePath(QStringLiteral("ro.udl"));
    struct Undo {
        std::function<void()> fn;
        ~Undo()
        {
            if (fn)
                fn();
        }
    } undo;
    if (shop.target().isPostgres()) {
        const QString name = static_cast<PostgresDb&>(shop.target()).name();
        shop.target().exec(QStringLiteral("alter database %1 set default_transaction_read_only = on").arg(name));
        undo.fn = [&shop, name] {
            shop.target().exec(QStringLiteral("alter database %1 reset default_transaction_read_only").arg(name));
        };
        QFile::copy(shop.targetUdl(), readOnlyUdl);
    } else {
        const QString folder = dir.filePath(QStringLiteral("ro"));
        ASSERT_TRUE(QDir().mkpath(folder));
        if (geteuid() == 0) {
            // root writes into any file: a file system mounted read-only.
            ASSERT_EQ(QProcess::execute(QStringLiteral("mount"), {QStringLiteral("-t"), QStringLiteral("tmpfs"),
                                                                  QStringLiteral("tmpfs"), folder}),
                      0);
            undo.fn = [folder] { QProcess::execute(QStringLiteral("umount"), {folder}); };
        }
        ASSERT_TRUE(QFile::copy(shop.folder() + QStringLiteral("/target.db"), folder + QStringLiteral("/t.db")));
        if (geteuid() == 0) {
            ASSERT_EQ(QProcess::execute(QStringLiteral("mount"),
                                        {QStringLiteral("-o"), QStringLiteral("remount,ro"), folder}),
                      0);
        } else {
            ASSERT_TRUE(QFile::setPermissions(folder + QStringLiteral("/t.db"), QFile::ReadOwner));
        }
        writeUdl(readOnlyUdl, QStringLiteral("Provider=SQLite;Data Source=ro/t.db"), false);
    }
    const QStringList readOnly = problems({"clear-warehouses", "warehouses"}, readOnlyUdl);
    ASSERT_EQ(readOnly.size(), 1) << readOnly.join(u'\n').toStdString();
    EXPECT_TRUE(readOnly[0].startsWith(QStringLiteral("目标表 ckda 不能写入：")) &&
                readOnly[0].contains(shop.target().isPostgres()
                                         ? QStringLiteral("read-only transaction")
                                         : QStringLiteral("attempt to write a readonly database")) &&
                readOnly[0].endsWith(QStringLiteral("；转换会在第一次写入时停下：请让目标数据库可以写入（数据库文件和它"
                                                    "所在的文件夹要可写，数据库用户要有写入的权限）")))
        << readOnly[0].toStdString();
}

// Settings rows the conversions read or update: a target row an update would
// miss and a source level setting the walk needs are problems; a setting no row
// needs is information. Then source values the target's declared width refuses.
TEST_P(Check, SettingsRowsAndValuesWiderThanTheTarget)
{
    REQUIRE_BACKEND(GetParam());
    Shop shop(QStringLiteral("source_v67_sqlite.sql"), GetParam());
    shop.source().exec(QStringLiteral("insert into splb values ('01', '食品', 1);\n"
                                      "insert into splb values ('0101', '饮料', 2);\n"
                                      "insert into splb values ('010101', '果汁', 3);\n"
                                      "insert into gyslb values ('G1', '本地', 1);"));
    shop.target().exec(QStringLiteral("delete from xx where objid = '01splbjc';"));
    const auto check = [&](const QStringList& ids) {
        return shell::checkOperations(ops(Family::V67, ids), shop.sourceUdl(), shop.targetUdl());
    };
    shell::CheckReport report = check({"suppliers", "categories"});
    EXPECT_EQ(report.notes,
              QStringList{QStringLiteral("源 xx 的 gysjc 行（供应商类别级别设置）不存在，供应商转换按空设置转换")});
    EXPECT_EQ(report.problems,
              (QStringList{
                  QStringLiteral("源 xx 的 spjc 行（商品类别级别设置）不存在；splb 有第 3 级的行，要用它的前 2 "
                                 "位数字：商品类别转换会在第一个用到它的行停下；请先在源 xx 中补上或改正这一行"),
                  QStringLiteral("目标 xx 没有 01splbjc 行（商品类别级别设置）：商品类别转换只更新这一行，不会新建，"
                                 "商品类别级别设置会丢失；请先在目标 xx 中加上 objid 为 01splbjc 的行"),
              }));
    shop.source().exec(QStringLiteral("insert into xx values ('spjc', ' 2x20');"));
    shop.target().exec(QStringLiteral("insert into xx (objid, fvalue) values ('01splbjc', '');"));
    report = check({"categories"});
    ASSERT_EQ(report.problems.size(), 1);
    EXPECT_TRUE(report.problems[0].startsWith(QStringLiteral("源 xx 的 spjc 行（商品类别级别设置）是“2x20”；")))
        << report.problems[0].toStdString();
    shop.source().exec(QStringLiteral("update xx set vals1 = '22' where xm = 'spjc';"));
    EXPECT_TRUE(check({"categories"}).ok());

    // A product name wider than spda.spmc ends a PostgreSQL run at its row; SQLite takes it whole.
    // A composite product (zhf 1) is not converted.
    const QString longName = QString(81, QChar(0x6C34));
    shop.source().exec(QStringLiteral("insert into spxx (Spbh, Spmc, zhf) values ('P1', '%1', '0');\n"
                                      "insert into spxx (Spbh, Spmc, zhf) values ('P2', '%1', '1');")
                           .arg(longName));
    report = check({"products-v7"});
    if (shop.target().isPostgres())
        EXPECT_EQ(report.problems, QStringList{QStringLiteral(
                                       "源 spxx 有 1 行的 Spmc 长于目标 spda 的 spmc 宽 80 个字符（最长 81）：编号 P1；"
                                       "V7商品转换会在第一行停下；请先在源中改短，或加宽目标字段")});
    else
        EXPECT_TRUE(report.ok()) << report.problems.join(u'\n').toStdString();

    // V1 takes the parents from the rows and only copies GoodsLevel.
    Shop v1(QStringLiteral("source_v1_sqlite.sql"), GetParam());
    v1.source().exec(QStringLiteral("insert into GoodsType values ('01', '食品', '-1');"));
    const shell::CheckReport copied =
        shell::checkOperations(ops(Family::V1, {"categories"}), v1.sourceUdl(), v1.targetUdl());
    EXPECT_TRUE(copied.ok());
    EXPECT_EQ(copied.notes,
              QStringList{QStringLiteral(
                  "源 AccountInfo 的 GoodsLevel 行（商品类别级别设置）不存在，商品类别转换按空设置转换")});
}

INSTANTIATE_TEST_SUITE_P(Backends, Check, ::testing::Values(Backend::SQLite, Backend::PostgreSQL),
                         [](const auto& info) { return backendName(info.param).toStdString(); });

TEST(CheckConnections, AMissingDatabaseIsReportedBesideTheOtherSidesProblems)
{
    Shop shop(QStringLiteral("source_v1_sqlite.sql"), Backend::SQLite);
    shop.source().exec(QStringLiteral("drop table Store"));
    const shell::CheckReport report = shell::checkOperations(
        ops(Family::V1, {"warehouses", "clear-stock"}), shop.sourceUdl(), shop.folder() + QStringLiteral("/none.udl"));
    ASSERT_EQ(report.problems.size(), 2) << report.problems.join(u'\n').toStdString();
    EXPECT_TRUE(report.problems[0].startsWith(QStringLiteral("源表 Store 不存在或无法读取：")));
    EXPECT_TRUE(report.problems[1].contains(QStringLiteral("none.udl"))) << report.problems[1].toStdString();

    // A clear operation reads no source: its check never opens the source.
    const shell::CheckReport clearOnly = shell::checkOperations(
        ops(Family::V1, {"clear-stock"}), shop.folder() + QStringLiteral("/none.udl"), shop.targetUdl());
    EXPECT_TRUE(clearOnly.ok()) << clearOnly.problems.join(u'\n').toStdString();
    EXPECT_EQ(clearOnly.tables, 2);
}

TEST(CheckDeclarations, InsertUseNamesTheStatementsTableAndColumns)
{
    const shell::TableUse use =
        shell::insertUse({QStringLiteral("insert into spdw (objid,fid,dwmc "), QStringLiteral(" ) values ("),
                          QStringLiteral(" :objid,:fid,:dwmc )")});
    EXPECT_EQ(use.side, shell::Side::Target);
    EXPECT_EQ(use.table, QStringLiteral("spdw"));
    EXPECT_EQ(use.columns, (QStringList{"objid", "fid", "dwmc"}));
}

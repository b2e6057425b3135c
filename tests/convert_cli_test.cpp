// The command-line front end: operation order, streams, exit codes.
#include "cli/cli.h"
#include "support/cli_capture.h"
#include "support/testdb.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QMap>
#include <QProcess>
#include <QProcessEnvironment>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <cstdio>

using namespace testing_support;

namespace {

void fillSource(Shop& shop)
{
    shop.source().exec(QStringLiteral("insert into ck (ckbh, ckmc) values ('C1', '总仓');\n"
                                      "insert into hq (hqbh, hqmc) values ('H1', '食品区');\n"
                                      "insert into hq (hqbh, hqmc) values ('H2', '日用区');"));
}

} // namespace

TEST(Cli, UsageErrorsExitTwoAndRunNothing)
{
    Shop shop(QStringLiteral("source_v67_sqlite.sql"), Backend::SQLite);
    fillSource(shop);
    const struct {
        QStringList args;
        const char* says;
    } cases[] = {
        {{}, "no operation given"},
        {{"--from", "v2", "warehouses"}, "unknown source family 'v2'"},
        {{"warehouses", "no-such-operation"}, "operation 'no-such-operation' is not available for v67"},
        {{"--bogus"}, "unknown option '--bogus'"},
        {{"-qx", "warehouses"}, "unknown option '-qx'"},
        {{"--from", "v1", "products-v7"}, "operation 'products-v7' is not available for v1"},
        {{"--source"}, "--source needs a file"},
        {{"warehouses", "--report"}, "--report needs a file"},
        {{"verify", "clear-stock"}, "operation 'clear-stock' has nothing to verify"},
    };
    for (const auto& c : cases) {
        const Captured r = runCli(c.args, shop.folder());
        EXPECT_EQ(r.status, 2) << c.args.join(u' ').toStdString();
        EXPECT_TRUE(r.out.isEmpty());
        EXPECT_TRUE(r.err.startsWith(QStringLiteral("belmire-convert: %1\nusage:").arg(QLatin1String(c.says))))
            << r.err.toStdString();
    }
    // Nothing ran, even for the valid name before the bad one.
    EXPECT_EQ(shop.target().scalar(QStringLiteral("select count(*) from ckda")), QStringLiteral("0"));
}

TEST(Cli, RunsOperationsInOrderAndPrintsCompletionTexts)
{
    Shop shop(QStringLiteral("source_v67_sqlite.sql"), Backend::SQLite);
    fillSource(shop);
    const Captured c = runCli({"--quiet", "goods-areas", "warehouses", "clear-goods-areas"}, shop.folder());
    EXPECT_EQ(c.status, 0) << c.err.toStdString();
    EXPECT_EQ(c.out, QStringLiteral("档案转换完毕！\n档案转换完毕！\n档案删除完毕！\n"));
    EXPECT_TRUE(c.err.isEmpty());
    EXPECT_EQ(shop.target().scalar(QStringLiteral("select count(*) from ckda")), QStringLiteral("1"));
    EXPECT_EQ(shop.target().scalar(QStringLiteral("select count(*) from hqda")), QStringLiteral("0"));

    // Without --quiet each operation gets its summary on stderr; a clear operation counts the rows it deleted.
    const Captured again = runCli({"goods-areas", "clear-goods-areas"}, shop.folder());
    EXPECT_EQ(again.status, 0);
    EXPECT_TRUE(again.err.contains(QStringLiteral("货区档案转换：读取 2 行，写入 2 行，跳过 0 行")))
        << again.err.toStdString();
    EXPECT_TRUE(again.err.contains(QStringLiteral("清空货区：删除 2 行，"))) << again.err.toStdString();
}

TEST(Cli, AnErrorStopsTheLaterOperations)
{
    Shop shop(QStringLiteral("source_v67_sqlite.sql"), Backend::SQLite);
    fillSource(shop);
    shop.target().exec(QStringLiteral("insert into ckda (objid) values ('C1');"));
    const Captured c = runCli({"--source", shop.sourceUdl(), "--target", shop.targetUdl(), "warehouses", "goods-areas"},
                              QStringLiteral("/nonexistent"));
    EXPECT_EQ(c.status, 1);
    EXPECT_TRUE(c.out.isEmpty());
    EXPECT_TRUE(c.err.contains(QStringLiteral("错误：仓库档案转换：第 1/1 行（编号C1），表 ckda：")))
        << c.err.toStdString();
    EXPECT_EQ(shop.target().scalar(QStringLiteral("select count(*) from hqda")), QStringLiteral("0"));
    // The row an earlier run left is named with the clear to run first; a code the source
    // repeats is no such row, and no clear would help.
    EXPECT_TRUE(c.err.contains(QStringLiteral("；目标 ckda 已有这一行（objid=C1），是之前的转换写入的：请先运行清空仓库"
                                              "（clear-warehouses），再重新转换\n")))
        << c.err.toStdString();
    shop.target().exec(QStringLiteral("delete from ckda;"));
    shop.source().exec(QStringLiteral("insert into ck (ckbh, ckmc) values ('C2', '二仓');\n"
                                      "insert into ck (ckbh, ckmc) values (' C2', '又一个二仓');"));
    const Captured repeated = runCli({"warehouses"}, shop.folder());
    EXPECT_EQ(repeated.status, 1);
    EXPECT_TRUE(repeated.err.contains(QStringLiteral("第 3/3 行（编号C2）"))) << repeated.err.toStdString();
    EXPECT_FALSE(repeated.err.contains(QStringLiteral("清空仓库"))) << repeated.err.toStdString();
}

TEST(Cli, TheProgramUsesTheDataLinkFilesBesideIt)
{
    // The real binary, copied into the program folder, finds both files there.
    Shop shop(QStringLiteral("source_v1_sqlite.sql"), Backend::SQLite);
    shop.source().exec(QStringLiteral("insert into Store (StoreId, Store) values ('S1', '门店仓');"));
    const QString exe = shop.folder() + QStringLiteral("/belmire-convert");
    ASSERT_TRUE(QFile::copy(QStringLiteral(BELMIRE_BINARY_DIR "/belmire-convert"), exe));
    QProcess p;
    p.start(exe, {QStringLiteral("--from"), QStringLiteral("v1"), QStringLiteral("all")});
    ASSERT_TRUE(p.waitForFinished(60000));
    EXPECT_EQ(p.exitCode(), 0) << p.readAllStandardError().toStdString();
    EXPECT_TRUE(QString::fromUtf8(p.readAllStandardOutput()).startsWith(QStringLiteral("档案转换完毕！\n")));
    EXPECT_EQ(shop.target().rows(QStringLiteral("select objid, ckmc from ckda")),
              QStringList{QStringLiteral("S1|门店仓")});

    // Installed: a program folder without the files; they are read from $XDG_CONFIG_HOME/belmire-convert.
    QTemporaryDir installed;
    const QString bin = installed.filePath(QStringLiteral("bin"));
    ASSERT_TRUE(QDir().mkpath(bin) && QDir().mkpath(installed.filePath(QStringLiteral("config"))));
    ASSERT_TRUE(QFile::copy(exe, bin + QStringLiteral("/belmire-convert")));
    ASSERT_TRUE(QFile::link(shop.folder(), installed.filePath(QStringLiteral("config/belmire-convert"))));
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), installed.filePath(QStringLiteral("config")));
    p.setProcessEnvironment(env);
    p.start(bin + QStringLiteral("/belmire-convert"),
            {QStringLiteral("--from"), QStringLiteral("v1"), QStringLiteral("clear-warehouses")});
    ASSERT_TRUE(p.waitForFinished(60000));
    EXPECT_EQ(p.exitCode(), 0) << p.readAllStandardError().toStdString();
    EXPECT_EQ(shop.target().scalar(QStringLiteral("select count(*) from ckda")), QStringLiteral("0"));
    p.start(bin + QStringLiteral("/belmire-convert"), {QStringLiteral("--help")});
    ASSERT_TRUE(p.waitForFinished(60000));
    EXPECT_TRUE(QString::fromUtf8(p.readAllStandardOutput())
                    .contains(QStringLiteral("now: ") + installed.filePath(QStringLiteral("config/belmire-convert"))));
}

// The manual page, the bash completion and the README name the operations the
// command line has, and `all` in its order.
TEST(Cli, ManualCompletionAndReadmeFollowTheOperations)
{
    const auto read = [](const QString& path) {
        QFile f(sourceRoot() + u'/' + path);
        return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
    };
    QStringList ids = {QStringLiteral("all"), QStringLiteral("check"), QStringLiteral("verify")};
    for (const shell::Family family : {shell::Family::V67, shell::Family::V1})
        for (const shell::Operation& op : programs::catalog().operations(family))
            if (!ids.contains(op.id))
                ids << op.id;
    const QString completion = read(QStringLiteral("packaging/belmire-convert.bash"));
    const QRegularExpression lists(QStringLiteral(R"re(ops\+?="([^"]*)")re"));
    QStringList completed;
    for (auto it = lists.globalMatch(completion); it.hasNext();)
        completed += it.next().captured(1).split(QRegularExpression(QStringLiteral("\\s+")), Qt::SkipEmptyParts);
    ids.sort();
    completed.sort();
    EXPECT_EQ(completed, ids);
    const QString manual =
        read(QStringLiteral("packaging/belmire-convert.1")).replace(QStringLiteral("\\-"), QStringLiteral("-"));
    for (const QString& id : std::as_const(ids))
        EXPECT_TRUE(manual.contains(id)) << id.toStdString();
    QStringList all;
    for (const shell::Operation* op : programs::catalog().all(shell::Family::V1, QStringLiteral("products")))
        all << op->id;
    EXPECT_EQ(all.size(), 7);
    EXPECT_TRUE(read(QStringLiteral("README.md")).contains(u'(' + all.join(u' ') + u')'))
        << all.join(u' ').toStdString();
}

TEST(Cli, ReportListsTheRowsSkippedAndTheRowRefused)
{
    for (const Backend backend : {Backend::SQLite, Backend::PostgreSQL}) {
        SCOPED_TRACE(backendName(backend).toStdString());
        REQUIRE_BACKEND(backend);
        Shop shop(QStringLiteral("source_v67_sqlite.sql"), backend);
        shop.source().exec(QStringLiteral("insert into spxx (Spbh, Spmc, zhf) values ('P,\"1', '可乐', '0');\n"
                                          "insert into spxx (Spbh, Spmc, zhf) values ('P2', '雪碧', '0');\n"
                                          "insert into spxx (Spbh, Spmc, zhf) values ('P,\"1', '大可乐', '0');\n"
                                          "insert into hyda (kbh) values ('K1');\n"
                                          "insert into hyda (kbh) values (' K1 ');\n"
                                          "insert into ck (ckbh, ckmc) values ('C1', '总仓');"));
        shop.target().exec(QStringLiteral("insert into ckda (objid) values ('C1');"));
        const QString report = shop.folder() + QStringLiteral("/拒绝行.csv");
        const Captured c = runCli({"--quiet", "--report", report, "products", "members", "warehouses"}, shop.folder());
        EXPECT_EQ(c.status, 1);
        // The database's refusal on one line, without a code after it.
        EXPECT_EQ(c.err.count(u'\n'), 1) << c.err.toStdString();
        EXPECT_FALSE(c.err.contains(QStringLiteral("(23505)")) || c.err.contains(QStringLiteral("LINE 1")))
            << c.err.toStdString();
        QFile f(report);
        ASSERT_TRUE(f.open(QIODevice::ReadOnly));
        const QByteArray bytes = f.readAll();
        ASSERT_TRUE(bytes.startsWith("\xEF\xBB\xBF"));
        const QStringList lines = QString::fromUtf8(bytes.mid(3)).split(QStringLiteral("\r\n"));
        ASSERT_EQ(lines.size(), 5) << bytes.toStdString();
        EXPECT_EQ(lines[0], QStringLiteral("操作,表,行,编号,原因,日志"));
        EXPECT_EQ(lines[1], QStringLiteral("V7商品转换,spxx,3,\"P,\"\"1\",商品编号已存在,\"商品编号重复：P,\"\"1\""));
        EXPECT_EQ(lines[2], QStringLiteral("会员信息转换,hyda,2,K1,会员卡号已存在,"));
        EXPECT_TRUE(lines[3].startsWith(QStringLiteral("仓库档案转换,ck,1,C1,出错，运行停止,")))
            << lines[3].toStdString();
        EXPECT_EQ(lines[4], QString());
    }
    // A report that cannot be made stops the command before anything runs.
    Shop shop(QStringLiteral("source_v67_sqlite.sql"), Backend::SQLite);
    fillSource(shop);
    const Captured c = runCli({"--report", shop.folder() + QStringLiteral("/none/r.csv"), "warehouses"}, shop.folder());
    EXPECT_EQ(c.status, 1);
    EXPECT_TRUE(c.err.startsWith(QStringLiteral("错误：无法写入拒绝行报告"))) << c.err.toStdString();
    EXPECT_EQ(shop.target().scalar(QStringLiteral("select count(*) from ckda")), QStringLiteral("0"));
}

TEST(Cli, ReportNeverReplacesADatabaseALinkOrAForeignFile)
{
    Shop shop(QStringLiteral("source_v67_sqlite.sql"), Backend::SQLite);
    fillSource(shop);
    const QDir folder(shop.folder());
    const auto bytesOf = [](const QString& path) {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    };
    const QString notes = folder.filePath(QStringLiteral("notes.csv"));
    {
        QFile f(notes);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("kept,as,it,is\n");
    }
    ASSERT_TRUE(QFile::link(folder.filePath(QStringLiteral("source.db")), folder.filePath(QStringLiteral("s.csv"))));
    ASSERT_TRUE(folder.mkdir(QStringLiteral("reports")));
    const struct {
        QString path;
        QString says;
    } cases[] = {
        {folder.filePath(QStringLiteral("source.db")), QStringLiteral("是源数据库（源数据连接文件 ")},
        {folder.filePath(QStringLiteral("s.csv")), QStringLiteral("是源数据库（源数据连接文件 ")},
        {folder.filePath(QStringLiteral("target.db")), QStringLiteral("是目标数据库（目标数据连接文件 ")},
        {shop.sourceUdl(), QStringLiteral("是源数据连接文件：不会覆盖它；请另给一个 .csv 文件")},
        {shop.targetUdl(), QStringLiteral("是目标数据连接文件：不会覆盖它；请另给一个 .csv 文件")},
        {notes, QStringLiteral("已存在，不是拒绝行报告：不会覆盖它；请另给一个 .csv 文件，或先移走这个文件")},
        {folder.filePath(QStringLiteral("reports")), QStringLiteral("是一个文件夹：请给一个 .csv 文件名")},
    };
    QMap<QString, QByteArray> before;
    for (const QString& f : folder.entryList(QDir::Files))
        before.insert(f, bytesOf(folder.filePath(f)));
    for (const auto& c : cases) {
        const Captured r = runCli({"--report", c.path, "warehouses"}, shop.folder());
        EXPECT_EQ(r.status, 2) << c.path.toStdString();
        EXPECT_TRUE(r.err.startsWith(QStringLiteral("错误：拒绝行报告 %1 %2").arg(c.path, c.says)) &&
                    r.err.count(u'\n') == 1)
            << r.err.toStdString();
        EXPECT_TRUE(r.out.isEmpty());
    }
    // A target database the run would make is not there yet: still refused.
    const QString fresh = folder.filePath(QStringLiteral("fresh.udl"));
    writeUdl(fresh, QStringLiteral("Provider=SQLite;Data Source=fresh.db"));
    const Captured notYet = runCli(
        {"--target", fresh, "--report", folder.filePath(QStringLiteral("fresh.db")), "warehouses"}, shop.folder());
    EXPECT_EQ(notYet.status, 2);
    EXPECT_TRUE(notYet.err.contains(QStringLiteral("是目标数据库"))) << notYet.err.toStdString();
    QFile::remove(fresh);

    // Nothing ran and every file is as it was, with none left beside them.
    EXPECT_EQ(shop.target().scalar(QStringLiteral("select count(*) from ckda")), QStringLiteral("0"));
    for (const QString& f : folder.entryList(QDir::Files))
        EXPECT_EQ(bytesOf(folder.filePath(f)), before.value(f)) << f.toStdString();

    // An earlier report of ours is replaced whole, through a file beside it.
    const QString report = folder.filePath(QStringLiteral("r.csv"));
    shop.target().exec(QStringLiteral("insert into ckda (objid) values ('C1');"));
    EXPECT_EQ(runCli({"--quiet", "--report", report, "warehouses"}, shop.folder()).status, 1);
    const QByteArray first = bytesOf(report);
    EXPECT_TRUE(first.contains("C1")) << first.toStdString();
    shop.target().exec(QStringLiteral("delete from ckda;"));
    EXPECT_EQ(runCli({"--quiet", "--report", report, "warehouses"}, shop.folder()).status, 0);
    EXPECT_EQ(bytesOf(report), "\xEF\xBB\xBF" + QStringLiteral("操作,表,行,编号,原因,日志\r\n").toUtf8());
    EXPECT_EQ(folder.entryList({QStringLiteral("r.csv*")}, QDir::Files), QStringList{QStringLiteral("r.csv")});
}

TEST(Cli, RefusesToWriteIntoTheSourceOrIntoWhatIsNoTarget)
{
    for (const Backend backend : {Backend::SQLite, Backend::PostgreSQL}) {
        SCOPED_TRACE(backendName(backend).toStdString());
        REQUIRE_BACKEND(backend);
        Shop shop(QStringLiteral("source_v67_sqlite.sql"), backend);
        fillSource(shop);
        shop.source().exec(QStringLiteral("insert into hyda (kbh, xm) values ('K1', '张三');"));
        shop.target().exec(QStringLiteral("insert into hyda (objid) values ('K9');"));
        const QString s = shop.sourceUdl(), t = shop.targetUdl();
        // The same database under another data-link file (and another path to the file).
        const QString alias = shop.folder() + QStringLiteral("/alias.udl");
        if (backend == Backend::SQLite) {
            ASSERT_TRUE(
                QFile::link(shop.folder() + QStringLiteral("/source.db"), shop.folder() + QStringLiteral("/s.db")));
            writeUdl(alias, QStringLiteral("Provider=SQLite;Data Source=s.db"));
        } else {
            writeUdl(alias,
                     QStringLiteral("Provider=PostgreSQL;Data Source=%5:%1;Initial Catalog=%2;User ID=%3;Password=%4")
                         .arg(qEnvironmentVariable("BELMIRE_PG_PORT"), static_cast<PostgresDb&>(shop.target()).name(),
                              qEnvironmentVariable("BELMIRE_PG_USER"), qEnvironmentVariable("BELMIRE_PG_PASSWORD"))
                         .replace(QStringLiteral("%5"), qEnvironmentVariable("BELMIRE_PG_HOST")));
        }
        const QString sameAsTarget = backend == Backend::SQLite ? s : t;
        struct Case {
            QStringList args;
            QString says;
        };
        const QList<Case> cases = {
            {{"--source", sameAsTarget, "--target", alias, "clear-members"}, QStringLiteral("目标数据库就是源数据库")},
            {{"--source", s, "--target", s, "clear-members", "warehouses"}, QStringLiteral("目标数据库就是源数据库")},
            // Swapped links: the source's hyda is not the target's.
            {{"--source", t, "--target", s, "clear-members"}, QStringLiteral("目标数据库与转换的目标不符")},
            // A later operation that cannot run stops the clear before it.
            {{"--source", shop.folder() + QStringLiteral("/nope.udl"), "--target", t, "clear-members", "members"},
             QStringLiteral("nope.udl")},
        };
        for (const Case& c : cases) {
            const Captured r = runCli(c.args, QStringLiteral("/nonexistent"));
            EXPECT_EQ(r.status, 1) << c.args.join(u' ').toStdString();
            EXPECT_TRUE(r.err.contains(c.says)) << r.err.toStdString();
            EXPECT_TRUE(r.out.isEmpty()) << r.out.toStdString();
        }
        EXPECT_TRUE(runCli({"--source", s, "--target", t, "--quiet", "clear-members"}, {}).err.isEmpty());
        EXPECT_EQ(shop.source().scalar(QStringLiteral("select count(*) from hyda")), QStringLiteral("1"));
        EXPECT_EQ(shop.target().scalar(QStringLiteral("select count(*) from hyda")), QStringLiteral("0"));
        EXPECT_EQ(shop.target().scalar(QStringLiteral("select count(*) from ckda")), QStringLiteral("0"));
    }
}

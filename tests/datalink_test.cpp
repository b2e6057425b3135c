#include "db/datalink.h"
#include "db/datalink_file.h"
#include "support/testdb.h"
#include "textutil/error.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QMap>
#include <QTemporaryDir>

#include <optional>
#include <random>

using db::LinkSettings;

namespace {

const QString kUdl = QStringLiteral("/shop/数据库连接1.udl");
const QStringList kDriver18 = {QStringLiteral("FreeTDS"), QStringLiteral("ODBC Driver 18 for SQL Server")};
const QStringList kFreeTds = {QStringLiteral("FreeTDS")};

QByteArray windowsForm(const QString& init)
{
    const QString text = QStringLiteral("[oledb]\r\n; Everything after this line is an OLE DB initstring\r\n") + init +
                         QStringLiteral("\r\n");
    QByteArray bytes("\xFF\xFE", 2);
    for (const QChar c : text) {
        bytes.append(char(c.unicode() & 0xFF));
        bytes.append(char(c.unicode() >> 8));
    }
    return bytes;
}

LinkSettings parse(const QString& init, const QStringList& drivers = kDriver18)
{
    return db::parseDataLink(init.toUtf8(), QStringLiteral("/shop"), kUdl, drivers);
}

QString errorOf(const QByteArray& bytes, const QStringList& drivers = kDriver18)
{
    try {
        db::parseDataLink(bytes, QStringLiteral("/shop"), kUdl, drivers);
    } catch (const belmire::Error& e) {
        return e.message();
    }
    return QStringLiteral("<no error>");
}

QString errorOf(const QString& init, const QStringList& drivers = kDriver18) { return errorOf(init.toUtf8(), drivers); }

// An ODBC connection string split the way the driver manager splits it ({...} with "}}" for "}").
QMap<QString, QString> odbcAttributes(const QString& s)
{
    QMap<QString, QString> out;
    qsizetype i = 0;
    while (i < s.size()) {
        if (s[i] == QLatin1Char(';')) {
            ++i;
            continue;
        }
        const qsizetype eq = s.indexOf(QLatin1Char('='), i);
        if (eq < 0)
            break;
        const QString key = s.mid(i, eq - i).toUpper();
        QString value;
        i = eq + 1;
        if (i < s.size() && s[i] == QLatin1Char('{')) {
            for (++i; i < s.size() && (s[i] != QLatin1Char('}') || (i + 1 < s.size() && s[i + 1] == QLatin1Char('}')));
                 ++i) {
                if (s[i] == QLatin1Char('}'))
                    ++i;
                value += s[i];
            }
            ++i;
        } else {
            while (i < s.size() && s[i] != QLatin1Char(';'))
                value += s[i++];
        }
        EXPECT_FALSE(out.contains(key)) << key.toStdString();
        out.insert(key, value);
    }
    return out;
}

} // namespace

TEST(DataLink, AcceptsWindowsFormAndPlainUtf8)
{
    const QString init = QStringLiteral("Provider=SQLite;Data Source=shop.db");
    // The same text in UTF-16 big-endian with its byte-order mark, and little-endian without one.
    const auto bigEndian = [](const QByteArray& little) {
        QByteArray big = little;
        for (qsizetype i = 0; i + 1 < big.size(); i += 2)
            std::swap(big[i], big[i + 1]);
        return big;
    };
    const QList<QByteArray> files = {
        windowsForm(init),
        bigEndian(windowsForm(init)),
        windowsForm(init).mid(2),
        bigEndian(windowsForm(init).mid(2)),
        init.toUtf8(),
        QByteArray("\xEF\xBB\xBF[oledb]\r\n; comment\r\n\r\n") + init.toUtf8() + "\r\n",
        QByteArray("\n  ; comment\n") + init.toUtf8() + "\n; later comment\nProvider=nonsense\n",
    };
    for (const QByteArray& bytes : files) {
        const LinkSettings link = db::parseDataLink(bytes, QStringLiteral("/shop"), kUdl, {});
        EXPECT_EQ(link.driver, QStringLiteral("SQLite"));
        EXPECT_EQ(link.databaseName, QStringLiteral("/shop/shop.db"));
        EXPECT_EQ(link.description, QStringLiteral("SQLite /shop/shop.db"));
    }
    // Chinese text survives every encoding.
    const QByteArray chinese = windowsForm(QStringLiteral("Provider=SQLite;Data Source=门店.db"));
    for (const QByteArray& bytes : {chinese, bigEndian(chinese), chinese.mid(2)})
        EXPECT_EQ(db::parseDataLink(bytes, "/d", kUdl, {}).databaseName, QStringLiteral("/d/门店.db"));
}

TEST(DataLinkFile, EditsKeyByKeyAndWritesTheWindowsForm)
{
    // As Windows writes it: keys in its order and spelling, a quoted password with ";" in it.
    const QString init = QStringLiteral("Provider=SQLOLEDB.1;Password=\"a;b\";Persist Security Info=True;User ID=sa;"
                                        "Initial Catalog=门店;Data Source=srv\\SHOP;Application Name=x");
    const QByteArray original = windowsForm(init);
    db::DataLinkFile f = db::DataLinkFile::parse(original, kUdl);
    EXPECT_EQ(f.bytes(), original); // unchanged, byte for byte
    EXPECT_EQ(f.value(QStringLiteral("password")), QStringLiteral("a;b"));
    EXPECT_EQ(f.value(QStringLiteral("persist  security info")), QStringLiteral("True"));

    // Only what changes moves: an existing key keeps its place, a new one goes to the end, quoted when it must be.
    f.set(QStringLiteral("initial catalog"), QStringLiteral("总店"));
    f.set(QStringLiteral("Use Encryption for Data"), QStringLiteral("True"));
    f.set(QStringLiteral("User ID"), QStringLiteral(" o'k \""));
    f.remove(QStringLiteral("Application Name"));
    const QString expected = QStringLiteral("Provider=SQLOLEDB.1;Password=\"a;b\";Persist Security Info=True;"
                                            "User ID=\" o'k \"\"\";Initial Catalog=总店;Data Source=srv\\SHOP;"
                                            "Use Encryption for Data=True");
    EXPECT_EQ(f.initString(), expected);
    EXPECT_EQ(f.bytes(), windowsForm(expected));
    const LinkSettings link = db::parseDataLink(f.bytes(), QStringLiteral("/shop"), kUdl, kDriver18);
    EXPECT_EQ(link.user, QStringLiteral(" o'k \""));
    EXPECT_EQ(link.password, QStringLiteral("a;b"));

    // A file written by hand in UTF-8 with LF is written the Windows way; a new file has the usual header.
    db::DataLinkFile plain = db::DataLinkFile::parse("; made by hand\nProvider=SQLite; Data Source = a.db ;\n", kUdl);
    plain.set(QStringLiteral("Data Source"), QStringLiteral("b.db"));
    QByteArray expectedPlain("\xFF\xFE", 2);
    for (const QChar c : QStringLiteral("; made by hand\r\nProvider=SQLite; Data Source=b.db ;\r\n"))
        expectedPlain.append(char(c.unicode() & 0xFF)).append(char(c.unicode() >> 8));
    EXPECT_EQ(plain.bytes(), expectedPlain);
    db::DataLinkFile fresh;
    fresh.set(QStringLiteral("Provider"), QStringLiteral("SQLite"));
    fresh.set(QStringLiteral("Data Source"), QStringLiteral("门店.db"));
    EXPECT_EQ(fresh.bytes(), windowsForm(QStringLiteral("Provider=SQLite;Data Source=门店.db")));

    // A file that keeps no password (Persist Security Info not set) gets the one given for the session.
    QTemporaryDir dir;
    const QString udl = dir.filePath(QStringLiteral("数据库连接2.udl"));
    testing_support::writeUdl(udl, QStringLiteral("Provider=PostgreSQL;Data Source=127.0.0.1:5;User ID=u;"
                                                  "Persist Security Info=False"));
    EXPECT_TRUE(db::needsPassword(udl));
    EXPECT_EQ(db::readDataLink(udl).password, QString());
    db::setSessionPassword(udl, QStringLiteral("s3cret"));
    EXPECT_EQ(db::readDataLink(udl).password, QStringLiteral("s3cret"));
    testing_support::writeUdl(udl, QStringLiteral("Provider=PostgreSQL;Data Source=h;User ID=u;Password=p;"
                                                  "Persist Security Info=True"));
    EXPECT_FALSE(db::needsPassword(udl));
    EXPECT_EQ(db::readDataLink(udl).password, QStringLiteral("p"));
}

TEST(DataLink, InitStringSyntax)
{
    LinkSettings link = parse(QStringLiteral(" provider = postgresql ; DATA   source=h:5433;"
                                             "initial catalog='a;b=c';User ID=\"sa\";PASSWORD=\"p\"\"w;=x\""));
    EXPECT_EQ(link.driver, QStringLiteral("PostgreSQL"));
    EXPECT_EQ(link.host, QStringLiteral("h"));
    EXPECT_EQ(link.port, 5433);
    EXPECT_EQ(link.databaseName, QStringLiteral("a;b=c"));
    EXPECT_EQ(link.user, QStringLiteral("sa"));
    EXPECT_EQ(link.password, QStringLiteral("p\"w;=x"));
    // A later key replaces an earlier one; blanks inside quotes stay.
    link = parse(QStringLiteral("Provider=SQLite;Data Source=a.db;Data Source=' b.db'"));
    EXPECT_EQ(link.databaseName, QStringLiteral("/shop/ b.db"));

    for (const QString& bad : {QStringLiteral("Provider=SQLite;Data Source"), QStringLiteral("Provider=SQLite;=x"),
                               QStringLiteral("Provider=SQLite;Data Source='a.db"),
                               QStringLiteral("Provider=SQLite;Data Source='a.db'x"), QStringLiteral("[other]")}) {
        const QString message = errorOf(bad);
        EXPECT_TRUE(message.contains(kUdl) && message.contains(QStringLiteral("格式错误"))) << message.toStdString();
    }
}

TEST(DataLink, SqlitePaths)
{
    EXPECT_EQ(parse(QStringLiteral("Provider=SQLite3;Data Source=../data/./x.db")).databaseName,
              QStringLiteral("/data/x.db"));
    EXPECT_EQ(parse(QStringLiteral("Provider=sqlite;Data Source=/var/lib/x.db")).databaseName,
              QStringLiteral("/var/lib/x.db"));
    EXPECT_TRUE(errorOf(QStringLiteral("Provider=SQLite")).contains(QStringLiteral("缺少 Data Source")));
    EXPECT_TRUE(errorOf(QStringLiteral("Provider=SQLite;Data Source=C:\\pos\\x.db")).contains("Windows"));
}

TEST(DataLink, SqlServerProviders)
{
    for (const char* provider :
         {"SQLOLEDB", "SQLOLEDB.1", "sqlncli", "SQLNCLI10", "SQLNCLI11.1", "MSOLEDBSQL", "MSOLEDBSQL19"}) {
        const LinkSettings link = parse(QStringLiteral("Provider=%1;Data Source=srv\\inst,1433;"
                                                       "Initial Catalog=shop;User ID=sa;Password=pw")
                                            .arg(QLatin1String(provider)));
        EXPECT_EQ(link.driver, QStringLiteral("ODBC")) << provider;
        EXPECT_EQ(link.databaseName,
                  QStringLiteral("DRIVER=ODBC Driver 18 for SQL Server;SERVER=srv\\inst,1433;"
                                 "DATABASE=shop;UID=sa;PWD=pw;Encrypt=no;TrustServerCertificate=yes"));
        EXPECT_EQ(link.description, QStringLiteral("SQL Server srv\\inst,1433/shop (user sa)"));
        EXPECT_EQ(link.password, QStringLiteral("pw"));
    }
    const LinkSettings tds = parse(QStringLiteral("Provider=SQLOLEDB;Data Source=10.0.0.5, 1500;User ID=sa"), kFreeTds);
    EXPECT_EQ(tds.databaseName, QStringLiteral("DRIVER=FreeTDS;SERVER=10.0.0.5;PORT=1500;UID=sa;TDS_Version=7.1;"
                                               "Encryption=request;ClientCharset=UTF-8"));
    EXPECT_TRUE(tds.fallback.isEmpty());

    // Encryption only when the file asks for it. As with the older providers, a certificate the server encrypts
    // with unasked (Force Encryption) is not checked; one asked for is, unless trusted; Validate Server
    // Certificate checks it always. FreeTDS says it can encrypt, so a server that forces encryption gets it.
    const auto connection = [](const QString& keys, const QStringList& drivers) {
        const QMap<QString, QString> a =
            odbcAttributes(parse(QStringLiteral("Provider=MSOLEDBSQL;Data Source=srv;") + keys, drivers).databaseName);
        return a.value("ENCRYPT", a.value("ENCRYPTION")) + u'/' + a.value("TRUSTSERVERCERTIFICATE");
    };
    EXPECT_EQ(connection(QString(), kDriver18), QStringLiteral("no/yes"));
    EXPECT_EQ(connection(QStringLiteral("Use Encryption for Data=False;Trust Server Certificate=False"), kDriver18),
              QStringLiteral("no/yes"));
    EXPECT_EQ(connection(QStringLiteral("Validate Server Certificate=True"), kDriver18), QStringLiteral("no/no"));
    EXPECT_EQ(connection(QStringLiteral("Use Encryption for Data=False"), kFreeTds), QStringLiteral("request/"));
    const QStringList kDriver17 = {QStringLiteral("ODBC Driver 17 for SQL Server")};
    EXPECT_EQ(connection(QStringLiteral("Use Encryption for Data=True;Trust Server Certificate=True"), kDriver18),
              QStringLiteral("yes/yes"));
    EXPECT_EQ(connection(QStringLiteral("Use Encryption for Data=Mandatory"), kDriver18), QStringLiteral("yes/no"));
    EXPECT_EQ(connection(QStringLiteral("Use Encryption for Data=Strict"), kDriver18), QStringLiteral("strict/no"));
    EXPECT_EQ(connection(QStringLiteral("Use Encryption for Data=Strict"), kDriver17), QStringLiteral("yes/no"));
    EXPECT_EQ(connection(QStringLiteral("Use Encryption for Data=False;Trust Server Certificate=true"), kDriver17),
              QStringLiteral("no/yes"));
    EXPECT_EQ(connection(QStringLiteral("Use Encryption for Data=True"), kFreeTds), QStringLiteral("require/"));
    EXPECT_TRUE(errorOf(QStringLiteral("Provider=SQLOLEDB;Data Source=srv;Use Encryption for Data=maybe"))
                    .contains(QStringLiteral("Use Encryption for Data \"maybe\" 无效")));
    EXPECT_TRUE(errorOf(QStringLiteral("Provider=SQLOLEDB;Data Source=srv;Validate Server Certificate=True"), kFreeTds)
                    .contains(QStringLiteral("Validate Server Certificate")));
    EXPECT_TRUE(errorOf(QStringLiteral("Provider=SQLOLEDB;Data Source=srv;Validate Server Certificate=True;"
                                       "Trust Server Certificate=True"))
                    .contains(QStringLiteral("只能选一个")));

    // Microsoft's driver first, with FreeTDS (TDS 7.1 unless the file says) behind it for an old server; a
    // driver the file names is the only one tried; FreeTDS cannot stand in where a certificate must be checked.
    const QStringList both = {QStringLiteral("FreeTDS"), QStringLiteral("ODBC Driver 17 for SQL Server"),
                              QStringLiteral("ODBC Driver 18 for SQL Server")};
    const LinkSettings chosen = parse(QStringLiteral("Provider=SQLOLEDB;Data Source=srv,1433;TDS Version=7.4"), both);
    EXPECT_TRUE(chosen.databaseName.startsWith(QStringLiteral("DRIVER=ODBC Driver 18 for SQL Server;")));
    EXPECT_EQ(chosen.fallback, QStringLiteral("DRIVER=FreeTDS;SERVER=srv;PORT=1433;TDS_Version=7.4;"
                                              "Encryption=request;ClientCharset=UTF-8"));
    EXPECT_TRUE(parse(QStringLiteral("Provider=SQLOLEDB;Data Source=srv;Validate Server Certificate=yes"), both)
                    .fallback.isEmpty());
    EXPECT_TRUE(parse(QStringLiteral("Provider=SQLOLEDB;Data Source=srv;Use Encryption for Data=Strict"), both)
                    .fallback.isEmpty());
    const LinkSettings named = parse(QStringLiteral("Provider=SQLOLEDB;Data Source=srv;ODBC Driver=freetds"), both);
    EXPECT_TRUE(named.databaseName.startsWith(QStringLiteral("DRIVER=FreeTDS;SERVER=srv;TDS_Version=7.1;")));
    EXPECT_TRUE(named.fallback.isEmpty());
    EXPECT_TRUE(
        parse(QStringLiteral("Provider=SQLOLEDB;Data Source=srv;ODBC Driver=ODBC Driver 17 for SQL Server"), both)
            .databaseName.startsWith(QStringLiteral("DRIVER=ODBC Driver 17 for SQL Server;")));
    EXPECT_TRUE(errorOf(QStringLiteral("Provider=SQLOLEDB;Data Source=srv;ODBC Driver=ODBC Driver 19 for SQL Server"))
                    .contains(QStringLiteral("ODBC Driver 19 for SQL Server\" 没有安装")));
    EXPECT_TRUE(errorOf(QStringLiteral("Provider=SQLOLEDB;Data Source=srv;TDS Version=8.0"), kFreeTds)
                    .contains(QStringLiteral("TDS Version \"8.0\" 无效")));

    EXPECT_TRUE(errorOf(QStringLiteral("Provider=SQLOLEDB;Data Source=srv;Integrated Security=SSPI"))
                    .contains(QStringLiteral("User ID 和 Password")));
    EXPECT_TRUE(errorOf(QStringLiteral("Provider=SQLOLEDB;Data Source=srv,99999")).contains("99999"));
    const QString none = errorOf(QStringLiteral("Provider=SQLOLEDB;Data Source=srv"), {QStringLiteral("PostgreSQL")});
    EXPECT_TRUE(none.contains(kUdl) && none.contains("ODBC Driver 18 for SQL Server") && none.contains("FreeTDS"))
        << none.toStdString();
}

TEST(DataLink, OdbcQuotingKeepsValuesInside)
{
    EXPECT_EQ(db::odbcQuote(QStringLiteral("a}b{c")), QStringLiteral("{a}}b{c}"));
    EXPECT_EQ(db::odbcQuote(QStringLiteral(" a;b")), QStringLiteral("{ a;b}"));
    EXPECT_EQ(db::odbcQuote(QStringLiteral("sa")), QStringLiteral("sa"));
    const QString evil = QStringLiteral("x};DRIVER={evil");
    for (const QStringList& drivers : {kDriver18, kFreeTds}) {
        const LinkSettings link = parse(
            QStringLiteral("Provider=SQLOLEDB;Data Source=srv;Initial Catalog='a};UID={b';User ID=u;Password='%1'")
                .arg(evil),
            drivers);
        const QMap<QString, QString> attrs = odbcAttributes(link.databaseName);
        EXPECT_EQ(attrs.value("PWD"), evil);
        EXPECT_EQ(attrs.value("DATABASE"), QStringLiteral("a};UID={b"));
        EXPECT_EQ(attrs.value("UID"), QStringLiteral("u"));
        EXPECT_EQ(attrs.value("DRIVER"), drivers.last());
        EXPECT_FALSE(link.description.contains(evil));
    }
}

TEST(DataLink, Msdasql)
{
    LinkSettings link = parse(QStringLiteral("Provider=MSDASQL.1;Data Source=shop;User ID=sa;Password=pw"));
    EXPECT_EQ(link.driver, QStringLiteral("ODBC"));
    EXPECT_EQ(link.databaseName, QStringLiteral("DSN=shop;UID=sa;PWD=pw"));
    EXPECT_EQ(link.description, QStringLiteral("ODBC DSN=shop (user sa)"));

    link = parse(QStringLiteral("Provider=MSDASQL;Extended Properties=\"DRIVER={FreeTDS};SERVER=h;PWD={s;1}\""));
    EXPECT_EQ(link.databaseName,
              QStringLiteral("DRIVER={FreeTDS};SERVER=h;PWD={s;1};ClientCharset=UTF-8;TDS_Version=7.1"));
    EXPECT_EQ(link.password, QStringLiteral("s;1"));
    EXPECT_EQ(link.description, QStringLiteral("ODBC DRIVER=FreeTDS;SERVER=h"));

    // The same user in both places is said once; different ones are a contradiction.
    link = parse(QStringLiteral("Provider=MSDASQL;User ID=sa;Extended Properties='DSN=shop;UID=sa'"));
    EXPECT_EQ(link.databaseName, QStringLiteral("DSN=shop;UID=sa"));
    EXPECT_TRUE(errorOf(QStringLiteral("Provider=MSDASQL;User ID=x;Extended Properties='DSN=shop;UID=sa'"))
                    .contains(QStringLiteral("不一致")));
    EXPECT_TRUE(errorOf(QStringLiteral("Provider=MSDASQL;Extended Properties='DSN={shop'")).contains("Extended"));
    EXPECT_TRUE(errorOf(QStringLiteral("Provider=MSDASQL;User ID=sa")).contains("Data Source"));
}

TEST(DataLink, PostgreSql)
{
    LinkSettings link =
        parse(QStringLiteral("Provider=PostgreSQL.1;Data Source=127.0.0.1:5432;Initial Catalog=shop;User ID=sa;"
                             "Password=pw"));
    EXPECT_EQ(link.driver, QStringLiteral("PostgreSQL"));
    EXPECT_EQ(link.host, QStringLiteral("127.0.0.1"));
    EXPECT_EQ(link.port, 5432);
    EXPECT_EQ(link.databaseName, QStringLiteral("shop"));
    EXPECT_EQ(link.connectOptions,
              QStringLiteral("connect_timeout=10;keepalives=1;keepalives_idle=30;keepalives_interval=10;"
                             "keepalives_count=3"));
    EXPECT_EQ(link.description, QStringLiteral("PostgreSQL 127.0.0.1:5432/shop (user sa)"));

    link = parse(QStringLiteral("Provider=PostgreSQL;Data Source=[::1]:6000"));
    EXPECT_EQ(link.host, QStringLiteral("::1"));
    EXPECT_EQ(link.port, 6000);
    link = parse(QStringLiteral("Provider=PostgreSQL;Data Source=db.local"));
    EXPECT_EQ(link.host, QStringLiteral("db.local"));
    EXPECT_EQ(link.port, -1);
    EXPECT_TRUE(errorOf(QStringLiteral("Provider=PostgreSQL;Data Source=h:abc")).contains("abc"));
}

TEST(DataLink, ProviderErrors)
{
    EXPECT_TRUE(errorOf(QStringLiteral("Data Source=x.db")).contains(QStringLiteral("没有提供程序")));
    for (const char* provider : {"Microsoft.Jet.OLEDB.4.0", "Microsoft.ACE.OLEDB.12.0", "Oracle"}) {
        const QString message = errorOf(QStringLiteral("Provider=%1;Data Source=x.mdb").arg(QLatin1String(provider)));
        EXPECT_EQ(message, QStringLiteral("数据连接文件 %1 中的提供程序 \"%2\" 不受支持（支持：SQLite, SQLite3, "
                                          "SQLOLEDB, SQLNCLI, SQLNCLI10, SQLNCLI11, MSOLEDBSQL, MSOLEDBSQL19, MSDASQL, "
                                          "PostgreSQL）")
                               .arg(kUdl, QLatin1String(provider)));
    }
}

TEST(DataLink, BadFiles)
{
    EXPECT_TRUE(errorOf(QByteArray()).contains(QStringLiteral("是空的")));
    EXPECT_TRUE(errorOf(QByteArray("\xFF\xFE")).contains(QStringLiteral("是空的")));
    EXPECT_TRUE(errorOf(QByteArray("[oledb]\r\n; only a comment\r\n")).contains(QStringLiteral("没有连接串")));
    // Not UTF-8 and without BOM: GB18030, as Notepad saves "ANSI" on a Chinese Windows.
    const QByteArray gb = QByteArray("Provider=SQLite;Data Source=") + QByteArray("\xD5\xC5\xC8\xFD.db"); // 张三
    EXPECT_EQ(db::parseDataLink(gb, QStringLiteral("/shop"), kUdl, kDriver18).databaseName,
              QStringLiteral("/shop/张三.db"));
    for (const QByteArray& bytes : {QByteArray("Provider=SQLite;Data Source=\xC3(.db"), // neither UTF-8 nor GB18030
                                    QByteArray("\xFF\xFEP\x00r", 5),                    // odd UTF-16 length
                                    QByteArray("\xFF\xFE\x00\xD8P\x00", 6),             // lone surrogate
                                    QByteArray("\xFE\xFF\xD8\x00\x00P", 6),             // lone surrogate, big-endian
                                    QByteArray("P\x00r\x00o", 5)}) {                    // odd UTF-16 length, no BOM
        const QString message = errorOf(bytes);
        EXPECT_TRUE(message.contains(kUdl) && message.contains("UTF-16")) << message.toStdString();
    }
    const QByteArray huge = "Provider=SQLite;Data Source=" + QByteArray(10 * 1024 * 1024, 'a');
    EXPECT_TRUE(errorOf(huge).contains(QStringLiteral("超过 1 MB")));
    EXPECT_TRUE(errorOf(QByteArray("; comment\n") + huge + "\n").contains(kUdl));
}

TEST(DataLink, ReadsFiles)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("数据库连接1.udl"));
    const auto write = [&](const QByteArray& bytes) {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(bytes);
    };
    const auto readError = [](const QString& p) {
        try {
            db::readDataLink(p);
        } catch (const belmire::Error& e) {
            return e.message();
        }
        return QStringLiteral("<no error>");
    };

    EXPECT_EQ(readError(path), QStringLiteral("数据连接文件 %1 不存在").arg(path));
    EXPECT_TRUE(readError(dir.path()).contains(dir.path()));
    write(QByteArray());
    EXPECT_EQ(readError(path), QStringLiteral("数据连接文件 %1 是空的").arg(path));
    write(windowsForm(QStringLiteral("Provider=SQLite;Data Source=sub/shop.db")));
    EXPECT_EQ(db::readDataLink(path).databaseName, QDir::cleanPath(dir.path() + QStringLiteral("/sub/shop.db")));
}

TEST(DataLink, FindsInstalledOdbcDrivers)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    QFile ini(dir.filePath(QStringLiteral("odbcinst.ini")));
    ASSERT_TRUE(ini.open(QIODevice::WriteOnly));
    ini.write("[ODBC]\nTrace=No\n\n[ODBC Drivers]\nFreeTDS=Installed\n\n[FreeTDS]\nDriver=libtdsodbc.so\n"
              "[ ODBC Driver 17 for SQL Server ]\nDriver=/opt/msodbcsql17/lib64/libmsodbcsql-17.so\n");
    ini.close();
    const auto setEnv = [](const char* name, const std::optional<QByteArray>& value) {
        if (value)
            qputenv(name, *value);
        else
            qunsetenv(name);
    };
    const auto getEnv = [](const char* name) {
        return qEnvironmentVariableIsSet(name) ? std::optional<QByteArray>(qgetenv(name)) : std::nullopt;
    };
    const auto oldSysIni = getEnv("ODBCSYSINI");
    const auto oldInstIni = getEnv("ODBCINSTINI");
    const auto oldHome = getEnv("HOME");
    setEnv("ODBCSYSINI", dir.path().toUtf8());
    setEnv("ODBCINSTINI", std::nullopt);
    setEnv("HOME", dir.path().toUtf8());
    const QStringList drivers = db::installedOdbcDrivers();
    const LinkSettings link = db::parseDataLink("Provider=SQLOLEDB;Data Source=srv", "/shop", kUdl);
    setEnv("ODBCSYSINI", oldSysIni);
    setEnv("ODBCINSTINI", oldInstIni);
    setEnv("HOME", oldHome);
    EXPECT_EQ(drivers, QStringList({QStringLiteral("FreeTDS"), QStringLiteral("ODBC Driver 17 for SQL Server")}));
    EXPECT_EQ(link.databaseName, QStringLiteral("DRIVER=ODBC Driver 17 for SQL Server;SERVER=srv;Encrypt=no;"
                                                "TrustServerCertificate=yes"));
}

TEST(DataLink, NoMessageHoldsThePassword)
{
    const QString pw = QStringLiteral("Geheim#77");
    const QStringList inits = {
        "Provider=Microsoft.Jet.OLEDB.4.0;Password=" + pw,
        "Provider=SQLOLEDB;Password=" + pw + ";Data Source=srv,0",
        "Provider=SQLOLEDB;Password=" + pw + ";Data Source=srv;Integrated Security=SSPI",
        "Provider=SQLOLEDB;Password=" + pw + ";Data Source=srv,port" + pw.left(1),
        "Provider=MSDASQL;Password=" + pw + ";Extended Properties='DSN=a;PWD=other'",
        "Provider=PostgreSQL;Password=" + pw + ";Data Source=h:x",
        "Provider=SQLite;Password=" + pw + ";Data Source=C:\\shop.db",
    };
    for (const QString& init : inits) {
        const QString message = errorOf(init);
        EXPECT_NE(message, QStringLiteral("<no error>")) << init.toStdString();
        EXPECT_FALSE(message.contains(pw)) << message.toStdString();
    }
    const LinkSettings link = parse("Provider=SQLOLEDB;Data Source=srv;User ID=sa;Password=" + pw);
    EXPECT_FALSE(link.description.contains(pw));
    // Names are shown as they are: nothing is masked, so a short password neither mangles nor reveals itself.
    const LinkSettings shortPw = parse("Provider=SQLOLEDB;Data Source=syntax;User ID=x;Password=x");
    EXPECT_TRUE(shortPw.description.contains(QStringLiteral("syntax"))) << shortPw.description.toStdString();
    EXPECT_FALSE(shortPw.description.contains(QStringLiteral("***")));
}

TEST(DataLink, FuzzedFilesOnlyParseOrFail)
{
    const QList<QByteArray> seeds = {
        windowsForm(QStringLiteral("Provider=SQLOLEDB.1;Password=\"p;w\";User ID=sa;Initial Catalog=shop;"
                                   "Data Source=srv\\inst,1433")),
        QByteArray("\xEF\xBB\xBF[oledb]\r\n; c\r\nProvider=MSDASQL;Extended Properties=\"DSN={a}}b};UID=x\";"
                   "Password='q''r'\r\n"),
        QByteArray("Provider=PostgreSQL;Data Source=[::1]:5432;Initial Catalog=门店;User ID=u;Password=p"),
        QByteArray("Provider=SQLite;Data Source=../x.db"),
    };
    const char interesting[] = {';', '=', '"',  '\'', '{',  '}',        '\\',       ',',        ':',
                                '[', ']', '\r', '\n', '\0', char(0xFF), char(0xFE), char(0xC3), char(0xD8)};
    std::mt19937 rng(20240611);
    int parsed = 0;
    for (int iteration = 0; iteration < 20000; ++iteration) {
        QByteArray bytes = seeds[iteration % seeds.size()];
        const int edits = 1 + int(rng() % 4);
        for (int e = 0; e < edits; ++e) {
            const qsizetype at = bytes.isEmpty() ? 0 : qsizetype(rng() % bytes.size());
            switch (rng() % 5) {
            case 0:
                if (!bytes.isEmpty())
                    bytes[at] = char(rng());
                break;
            case 1:
                bytes.insert(at, interesting[rng() % sizeof interesting]);
                break;
            case 2:
                bytes.remove(at, 1 + qsizetype(rng() % 8));
                break;
            case 3:
                bytes.insert(at, bytes.mid(qsizetype(rng() % (bytes.size() + 1)), 16));
                break;
            default:
                bytes.truncate(at);
                break;
            }
        }
        try {
            const LinkSettings link = db::parseDataLink(bytes, QStringLiteral("/shop"), kUdl, kFreeTds);
            ++parsed;
            EXPECT_FALSE(link.driver.isEmpty());
        } catch (const belmire::Error&) {
        }
    }
    EXPECT_GT(parsed, 0);
}

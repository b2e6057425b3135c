#include "db/datalink.h"

#include "db/datalink_file.h"
#include "db/datalink_text.h"
#include "db/odbc_string.h"
#include "db/providers.h"

#include <QDir>
#include <QFileInfo>
#include <QHash>

namespace db {

namespace {

using udl::fileText;

const QStringList& sqlServerDriverNames()
{
    static const QStringList drivers = {QStringLiteral("ODBC Driver 18 for SQL Server"),
                                        QStringLiteral("ODBC Driver 17 for SQL Server"), QStringLiteral("FreeTDS")};
    return drivers;
}

bool isValidPort(const QString& text, int* port)
{
    if (text.isEmpty() || text.size() > 5)
        return false;
    for (const QChar c : text)
        if (c.unicode() < '0' || c.unicode() > '9')
            return false;
    *port = text.toInt();
    return *port >= 1 && *port <= 65535;
}

QString userPart(const QString& user) { return user.isEmpty() ? QString() : QStringLiteral(" (user %1)").arg(user); }

class Builder {
public:
    Builder(QHash<QString, QString> pairs, const QString& baseDir, const QString& path, const QStringList* drivers)
        : m_pairs(std::move(pairs)), m_baseDir(baseDir), m_path(path), m_drivers(drivers),
          m_password(m_pairs.value(QStringLiteral("password")))
    {
        // A file that keeps no password uses the one given for it in this session.
        if (!m_pairs.contains(QStringLiteral("password")))
            if (const auto given = sessionPassword(path)) {
                m_password = *given;
                m_pairs.insert(QStringLiteral("password"), *given);
            }
    }

    LinkSettings build()
    {
        const QString provider = m_pairs.value(QStringLiteral("provider")).trimmed();
        if (provider.isEmpty())
            fail(fileText(m_path, QStringLiteral("中没有提供程序（Provider）")));
        LinkSettings link;
        const std::optional<LinkEngine> engine = providerEngine(provider);
        if (!engine)
            fail(unsupportedProvider(m_path, provider));
        switch (*engine) {
        case LinkEngine::SQLite:
            link = sqlite();
            break;
        case LinkEngine::SqlServer:
            link = sqlServer();
            break;
        case LinkEngine::PostgreSQL:
            link = postgres();
            break;
        case LinkEngine::Odbc:
            link = msdasql();
            break;
        }
        return link;
    }

private:
    [[noreturn]] static void fail(const QString& message) { udl::fail(message); }

    QString value(const char* key) const { return m_pairs.value(QLatin1String(key)); }

    QString required(const char* key, const char* shownKey) const
    {
        const QString v = value(key).trimmed();
        if (v.isEmpty())
            fail(fileText(m_path, QStringLiteral("中缺少 %1").arg(QLatin1String(shownKey))));
        return v;
    }

    // Windows logins cannot be made from here; without this check the login would silently go out without a user.
    void rejectIntegratedSecurity() const
    {
        const QString v = value("integrated security").trimmed();
        const QString lower = v.toLower();
        if (lower == QLatin1String("sspi") || lower == QLatin1String("true") || lower == QLatin1String("yes"))
            fail(fileText(m_path, QStringLiteral("要求 Windows 登录（Integrated Security=%1），这里不可用；"
                                                 "请改用 User ID 和 Password")
                                      .arg(v)));
    }

    LinkSettings sqlite() const
    {
        const QString source = value("data source");
        if (source.trimmed().isEmpty())
            fail(fileText(m_path, QStringLiteral("中缺少 Data Source")));
#ifndef Q_OS_WIN
        // A drive or share path names a file on some Windows machine, never one here.
        const bool drive = source.size() >= 3 && source[0].isLetter() && source[0].unicode() < 0x80 &&
                           source[1] == QLatin1Char(':') &&
                           (source[2] == QLatin1Char('\\') || source[2] == QLatin1Char('/'));
        if (drive || source.startsWith(QLatin1String("\\\\")))
            fail(fileText(m_path, QStringLiteral("中的 Data Source \"%1\" 是 Windows 路径，这里无法使用").arg(source)));
#endif
        LinkSettings link;
        link.driver = QStringLiteral("SQLite");
        link.databaseName = QDir::cleanPath(QDir(m_baseDir).absoluteFilePath(source));
        link.description = QStringLiteral("SQLite %1").arg(link.databaseName);
        return link;
    }

    static bool isFreeTds(const QString& driver)
    {
        return driver.compare(QLatin1String("FreeTDS"), Qt::CaseInsensitive) == 0;
    }

    // The drivers to connect with: the one the file names ("ODBC Driver"), else Microsoft's newest installed with
    // FreeTDS behind it, else FreeTDS. Microsoft's drivers 17 and 18 serve SQL Server 2012 and later over TLS 1.2
    // only; FreeTDS also reaches 2000 to 2008, so it stands in when their handshake fails.
    std::pair<QString, QString> sqlServerDrivers(bool freeTdsCanServe) const
    {
        const QStringList installed = m_drivers ? *m_drivers : installedOdbcDrivers();
        const auto find = [&](const QString& wanted) {
            for (const QString& have : installed)
                if (have.compare(wanted, Qt::CaseInsensitive) == 0)
                    return have;
            return QString();
        };
        if (const QString named = value("odbc driver").trimmed(); !named.isEmpty()) {
            const QString have = find(named);
            if (have.isEmpty())
                fail(fileText(m_path, QStringLiteral("中的 ODBC Driver \"%1\" 没有安装在这台机器上（已安装：%2）")
                                          .arg(named, installed.join(QStringLiteral(", ")))));
            return {have, QString()};
        }
        const QString freeTds = find(QStringLiteral("FreeTDS"));
        for (const QString& wanted : sqlServerDriverNames())
            if (const QString have = find(wanted); !have.isEmpty() && !isFreeTds(have))
                return {have, freeTdsCanServe ? freeTds : QString()};
        if (!freeTds.isEmpty())
            return {freeTds, QString()};
        fail(fileText(m_path, QStringLiteral("需要 SQL Server 的 ODBC 驱动，但这台机器上没有安装（查找了：%1）")
                                  .arg(sqlServerDriverNames().join(QStringLiteral(", ")))));
    }

    // A key's value among the given words (any case); 0 when the key is absent or empty.
    int choice(const char* key, const char* shownKey, std::initializer_list<std::pair<const char*, int>> words) const
    {
        const QString v = value(key).trimmed();
        if (v.isEmpty())
            return 0;
        for (const auto& [word, level] : words)
            if (v.compare(QLatin1String(word), Qt::CaseInsensitive) == 0)
                return level;
        fail(fileText(m_path, QStringLiteral("中的 %1 \"%2\" 无效").arg(QLatin1String(shownKey), v)));
    }

    // The file's "Use Encryption for Data" (OLE DB: True/False; Microsoft's newer providers also
    // Optional/Mandatory/Strict), "Trust Server Certificate" and "Validate Server Certificate", as the older
    // providers took them: without encryption asked for, a certificate the server encrypts with anyway (Force
    // Encryption, or the login alone) is not checked; asked for, it is, unless trusted. Validate Server
    // Certificate checks it whenever there is one.
    struct Security {
        int encrypt = 0; // 0 off, 1 on, 2 strict (TDS 8: encrypted before the login, always validated)
        bool trust = false;
        bool validate = false;
    };
    Security security() const
    {
        Security s;
        s.encrypt = choice(
            "use encryption for data", "Use Encryption for Data",
            {{"false", 0}, {"no", 0}, {"optional", 0}, {"true", 1}, {"yes", 1}, {"mandatory", 1}, {"strict", 2}});
        const std::initializer_list<std::pair<const char*, int>> truth = {
            {"false", 0}, {"no", 0}, {"true", 1}, {"yes", 1}};
        s.trust = choice("trust server certificate", "Trust Server Certificate", truth) != 0;
        s.validate = choice("validate server certificate", "Validate Server Certificate", truth) != 0;
        if (s.trust && s.validate)
            fail(fileText(m_path, QStringLiteral("既要信任服务器证书（Trust Server Certificate），又要校验它"
                                                 "（Validate Server Certificate），只能选一个")));
        return s;
    }

    // The settings in the terms of the ODBC driver. Each driver is told explicitly: Driver 18 would otherwise
    // encrypt and validate by default.
    QStringList encryption(const QString& driver, const Security& s) const
    {
        if (isFreeTds(driver)) {
            // FreeTDS 1.3 knows no strict mode and checks a certificate only where freetds.conf names a CA file,
            // which it reads for a DSN, not for a link given by server. "request" says the client can encrypt, so
            // a server that forces encryption gets it ("off" would tell it the client cannot, and it refuses).
            if (s.validate)
                fail(fileText(m_path, QStringLiteral("要求校验服务器证书（Validate Server Certificate），FreeTDS 在这里"
                                                     "做不到；请安装 Microsoft ODBC Driver 17/18 for SQL Server，或用 "
                                                     "MSDASQL 连到 freetds.conf 中写了 CA 文件的 FreeTDS 数据源")));
            return {QStringLiteral("Encryption=") + (s.encrypt ? QStringLiteral("require") : QStringLiteral("request")),
                    QStringLiteral("ClientCharset=UTF-8")};
        }
        const bool strict = s.encrypt == 2 && driver.contains(QLatin1String("18"));
        const bool trust = s.trust || (s.encrypt == 0 && !s.validate);
        return {QStringLiteral("Encrypt=") + (strict      ? QStringLiteral("strict")
                                              : s.encrypt ? QStringLiteral("yes")
                                                          : QStringLiteral("no")),
                QStringLiteral("TrustServerCertificate=") + (trust ? QStringLiteral("yes") : QStringLiteral("no"))};
    }

    // The TDS version FreeTDS states at login: 7.1 unless the file says another. SQL Server 2000 and every later
    // server answer 7.1; FreeTDS 1.3 left to guess offers 7.4, which 2000 takes, but a refused login then hangs.
    QString tdsVersion() const
    {
        const QString v = value("tds version").trimmed();
        if (v.isEmpty())
            return QStringLiteral("7.1");
        static const QStringList known = {QStringLiteral("7.1"), QStringLiteral("7.2"), QStringLiteral("7.3"),
                                          QStringLiteral("7.4"), QStringLiteral("auto")};
        if (!known.contains(v, Qt::CaseInsensitive))
            fail(fileText(
                m_path,
                QStringLiteral("中的 TDS Version \"%1\" 无效（可用：%2）").arg(v, known.join(QStringLiteral(", ")))));
        return v.toLower();
    }

    LinkSettings sqlServer() const
    {
        rejectIntegratedSecurity();
        const QString source = required("data source", "Data Source");
        QString server = source;
        QString portText;
        if (const qsizetype comma = source.lastIndexOf(QLatin1Char(',')); comma >= 0) {
            server = source.left(comma).trimmed();
            portText = source.mid(comma + 1).trimmed();
            int port;
            if (!isValidPort(portText, &port))
                fail(fileText(m_path, QStringLiteral("中 Data Source 的端口 \"%1\" 无效").arg(portText)));
        }
        if (server.isEmpty())
            fail(fileText(m_path, QStringLiteral("中 Data Source 没有服务器名")));
        const Security security = this->security();
        const QString tds = tdsVersion();
        const std::pair<QString, QString> drivers = sqlServerDrivers(!security.validate && security.encrypt != 2);
        const QString catalog = value("initial catalog").trimmed();
        const QString user = value("user id");

        const auto connection = [&](const QString& driver) {
            QStringList parts{QStringLiteral("DRIVER=") + odbcQuote(driver)};
            const bool freeTds = isFreeTds(driver);
            if (freeTds) {
                parts << QStringLiteral("SERVER=") + odbcQuote(server);
                if (!portText.isEmpty())
                    parts << QStringLiteral("PORT=") + odbcQuote(portText);
            } else {
                parts << QStringLiteral("SERVER=") +
                             odbcQuote(portText.isEmpty() ? server : server + QLatin1Char(',') + portText);
            }
            if (!catalog.isEmpty())
                parts << QStringLiteral("DATABASE=") + odbcQuote(catalog);
            if (!user.isEmpty())
                parts << QStringLiteral("UID=") + odbcQuote(user);
            if (!m_password.isEmpty())
                parts << QStringLiteral("PWD=") + odbcQuote(m_password);
            if (freeTds)
                parts << QStringLiteral("TDS_Version=") + tds;
            parts << encryption(driver, security);
            return parts.join(QLatin1Char(';'));
        };

        LinkSettings link;
        link.driver = QStringLiteral("ODBC");
        link.databaseName = connection(drivers.first);
        if (!drivers.second.isEmpty())
            link.fallback = connection(drivers.second);
        link.user = user;
        link.password = m_password;
        const QString database = catalog.isEmpty() ? QString() : QString(QLatin1Char('/') + catalog);
        link.description = QStringLiteral("SQL Server %1%2%3").arg(source, database, userPart(user));
        return link;
    }

    LinkSettings msdasql()
    {
        rejectIntegratedSecurity();
        QString extended = value("extended properties").trimmed();
        while (extended.endsWith(QLatin1Char(';')))
            extended = extended.left(extended.size() - 1).trimmed();
        OdbcAttributes attrs;
        if (!parseOdbcAttributes(extended, &attrs))
            fail(fileText(m_path, QStringLiteral("中的 Extended Properties 不是有效的 ODBC 连接串")));
        const auto* pwdAttr = findAttribute(attrs, QLatin1String("PWD"));
        if (m_password.isEmpty() && pwdAttr)
            m_password = pwdAttr->second;

        QString connection = extended;
        const bool names = findAttribute(attrs, QLatin1String("DSN")) ||
                           findAttribute(attrs, QLatin1String("DRIVER")) ||
                           findAttribute(attrs, QLatin1String("FILEDSN"));
        if (!names) {
            const QString source = value("data source").trimmed();
            if (source.isEmpty())
                fail(fileText(m_path, QStringLiteral("中既没有 Data Source（DSN 名）也没有含 DSN 或 DRIVER 的 "
                                                     "Extended Properties")));
            const QString dsn = QStringLiteral("DSN=") + odbcQuote(source);
            connection = extended.isEmpty() ? dsn : dsn + QLatin1Char(';') + extended;
            attrs.prepend({QStringLiteral("DSN"), source});
        }

        // User ID and Password are added unless the ODBC string already says the same; a contradiction is an error.
        const QString user = value("user id");
        const QString password = value("password");
        const auto add = [&](QLatin1String attr, const QString& given, const char* shownKey) {
            const auto* existing = findAttribute(attrs, attr);
            if (given.isEmpty() || (existing && existing->second == given))
                return;
            if (existing)
                fail(fileText(m_path, QStringLiteral("中的 %1 与 Extended Properties 中的 %2 不一致")
                                          .arg(QLatin1String(shownKey), attr)));
            connection += QLatin1Char(';') + QString(attr) + QLatin1Char('=') + odbcQuote(given);
        };
        add(QLatin1String("UID"), user, "User ID");
        add(QLatin1String("PWD"), password, "Password");
        // FreeTDS reads the server's text in the client character set; without one it follows the locale. It
        // states TDS 7.1, as a SQL Server link through it does, unless the string says another version.
        const auto* driverAttr = findAttribute(attrs, QLatin1String("DRIVER"));
        if (driverAttr && isFreeTds(driverAttr->second.trimmed())) {
            if (!findAttribute(attrs, QLatin1String("ClientCharset")))
                connection += QLatin1String(";ClientCharset=UTF-8");
            if (!findAttribute(attrs, QLatin1String("TDS_Version")))
                connection += QLatin1String(";TDS_Version=7.1");
        }

        QStringList shown;
        for (const auto& a : attrs) {
            const QString key = a.first.toUpper();
            if (key == QLatin1String("DSN") || key == QLatin1String("FILEDSN") || key == QLatin1String("DRIVER") ||
                key == QLatin1String("SERVER") || key == QLatin1String("DATABASE"))
                shown << key + QLatin1Char('=') + a.second;
        }
        const auto* uidAttr = findAttribute(attrs, QLatin1String("UID"));

        LinkSettings link;
        link.driver = QStringLiteral("ODBC");
        link.databaseName = connection;
        link.user = user.isEmpty() && uidAttr ? uidAttr->second : user;
        link.password = m_password;
        link.description = QStringLiteral("ODBC %1%2").arg(shown.join(QLatin1Char(';')), userPart(link.user));
        return link;
    }

    LinkSettings postgres() const
    {
        rejectIntegratedSecurity();
        const QString source = value("data source").trimmed();
        QString host = source;
        QString portText;
        if (source.startsWith(QLatin1Char('['))) { // [IPv6]:port
            const qsizetype close = source.indexOf(QLatin1Char(']'));
            const QString rest = close < 0 ? QString() : source.mid(close + 1);
            if (close < 0 || (!rest.isEmpty() && !rest.startsWith(QLatin1Char(':'))))
                fail(fileText(m_path, QStringLiteral("中的 Data Source \"%1\" 无效").arg(source)));
            host = source.mid(1, close - 1);
            portText = rest.mid(1);
            if (!rest.isEmpty() && portText.isEmpty())
                fail(fileText(m_path, QStringLiteral("中 Data Source 的端口 \"\" 无效")));
        } else if (source.count(QLatin1Char(':')) == 1) {
            const qsizetype colon = source.indexOf(QLatin1Char(':'));
            host = source.left(colon).trimmed();
            portText = source.mid(colon + 1).trimmed();
        }
        LinkSettings link;
        if (!portText.isEmpty() && !isValidPort(portText, &link.port))
            fail(fileText(m_path, QStringLiteral("中 Data Source 的端口 \"%1\" 无效").arg(portText)));
        link.driver = QStringLiteral("PostgreSQL");
        link.databaseName = value("initial catalog").trimmed();
        link.host = host;
        link.user = value("user id");
        link.password = m_password;
        // Options go to libpq separated by ";". Keepalives let a vanished server
        // end a waiting statement within about a minute instead of hanging.
        link.connectOptions = QStringLiteral(
            "connect_timeout=10;keepalives=1;keepalives_idle=30;keepalives_interval=10;keepalives_count=3");
        const QString database = link.databaseName.isEmpty() ? QString() : QLatin1Char('/') + link.databaseName;
        link.description =
            QStringLiteral("PostgreSQL %1%2%3")
                .arg(source.isEmpty() ? QStringLiteral("(local)") : source, database, userPart(link.user));
        return link;
    }

    QHash<QString, QString> m_pairs;
    QString m_baseDir;
    QString m_path;
    const QStringList* m_drivers;
    QString m_password;
};

LinkSettings parse(const QByteArray& bytes, const QString& baseDir, const QString& path, const QStringList* drivers)
{
    bool utf16 = false;
    const QString text = udl::decodeFile(bytes, path, &utf16);
    const QString init = udl::findInitString(text, utf16, path);
    return Builder(udl::parseInitString(init, path), baseDir, path, drivers).build();
}

} // namespace

LinkSettings readDataLink(const QString& udlPath)
{
    return parse(readDataLinkBytes(udlPath), QFileInfo(udlPath).absolutePath(), udlPath, nullptr);
}

LinkSettings parseDataLink(const QByteArray& bytes, const QString& baseDir, const QString& pathForMessages)
{
    return parse(bytes, baseDir, pathForMessages, nullptr);
}

LinkSettings parseDataLink(const QByteArray& bytes, const QString& baseDir, const QString& pathForMessages,
                           const QStringList& installedOdbcDrivers)
{
    return parse(bytes, baseDir, pathForMessages, &installedOdbcDrivers);
}

} // namespace db

#include "db/datalink.h"

#include "db/datalink_builder.h"
#include "db/datalink_file.h"
#include "db/odbc_string.h"
#include "db/providers.h"

#include <QDir>
#include <QFileInfo>

namespace db {

namespace udl {

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

Builder::Builder(QHash<QString, QString> pairs, const QString& baseDir, const QString& path, const QStringList* drivers)
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

LinkSettings Builder::build()
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

QString Builder::required(const char* key, const char* shownKey) const
{
    const QString v = value(key).trimmed();
    if (v.isEmpty())
        fail(fileText(m_path, QStringLiteral("中缺少 %1").arg(QLatin1String(shownKey))));
    return v;
}

// Windows logins cannot be made from here; without this check the login would silently go out without a user.
void Builder::rejectIntegratedSecurity() const
{
    const QString v = value("integrated security").trimmed();
    const QString lower = v.toLower();
    if (lower == QLatin1String("sspi") || lower == QLatin1String("true") || lower == QLatin1String("yes"))
        fail(fileText(m_path, QStringLiteral("要求 Windows 登录（Integrated Security=%1），这里不可用；"
                                             "请改用 User ID 和 Password")
                                  .arg(v)));
}

LinkSettings Builder::sqlite() const
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

LinkSettings Builder::msdasql()
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
    const bool names = findAttribute(attrs, QLatin1String("DSN")) || findAttribute(attrs, QLatin1String("DRIVER")) ||
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
            fail(fileText(
                m_path,
                QStringLiteral("中的 %1 与 Extended Properties 中的 %2 不一致").arg(QLatin1String(shownKey), attr)));
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

LinkSettings Builder::postgres() const
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
    link.connectOptions =
        QStringLiteral("connect_timeout=10;keepalives=1;keepalives_idle=30;keepalives_interval=10;keepalives_count=3");
    const QString database = link.databaseName.isEmpty() ? QString() : QLatin1Char('/') + link.databaseName;
    link.description = QStringLiteral("PostgreSQL %1%2%3")
                           .arg(source.isEmpty() ? QStringLiteral("(local)") : source, database, userPart(link.user));
    return link;
}

} // namespace udl

namespace {

LinkSettings parse(const QByteArray& bytes, const QString& baseDir, const QString& path, const QStringList* drivers)
{
    bool utf16 = false;
    const QString text = udl::decodeFile(bytes, path, &utf16);
    const QString init = udl::findInitString(text, utf16, path);
    return udl::Builder(udl::parseInitString(init, path), baseDir, path, drivers).build();
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

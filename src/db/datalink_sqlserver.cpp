#include "db/datalink_builder.h"

#include "db/odbc_string.h"

namespace db::udl {

namespace {

const QStringList& sqlServerDriverNames()
{
    static const QStringList drivers = {QStringLiteral("ODBC Driver 18 for SQL Server"),
                                        QStringLiteral("ODBC Driver 17 for SQL Server"), QStringLiteral("FreeTDS")};
    return drivers;
}

} // namespace

// The drivers to connect with: the one the file names ("ODBC Driver"), else Microsoft's newest installed with
// FreeTDS behind it, else FreeTDS. Microsoft's drivers 17 and 18 serve SQL Server 2012 and later over TLS 1.2
// only; FreeTDS also reaches 2000 to 2008, so it stands in when their handshake fails.
std::pair<QString, QString> Builder::sqlServerDrivers(bool freeTdsCanServe) const
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
int Builder::choice(const char* key, const char* shownKey,
                    std::initializer_list<std::pair<const char*, int>> words) const
{
    const QString v = value(key).trimmed();
    if (v.isEmpty())
        return 0;
    for (const auto& [word, level] : words)
        if (v.compare(QLatin1String(word), Qt::CaseInsensitive) == 0)
            return level;
    fail(fileText(m_path, QStringLiteral("中的 %1 \"%2\" 无效").arg(QLatin1String(shownKey), v)));
}

Builder::Security Builder::security() const
{
    Security s;
    s.encrypt =
        choice("use encryption for data", "Use Encryption for Data",
               {{"false", 0}, {"no", 0}, {"optional", 0}, {"true", 1}, {"yes", 1}, {"mandatory", 1}, {"strict", 2}});
    const std::initializer_list<std::pair<const char*, int>> truth = {{"false", 0}, {"no", 0}, {"true", 1}, {"yes", 1}};
    s.trust = choice("trust server certificate", "Trust Server Certificate", truth) != 0;
    s.validate = choice("validate server certificate", "Validate Server Certificate", truth) != 0;
    if (s.trust && s.validate)
        fail(fileText(m_path, QStringLiteral("既要信任服务器证书（Trust Server Certificate），又要校验它"
                                             "（Validate Server Certificate），只能选一个")));
    return s;
}

// The settings in the terms of the ODBC driver. Each driver is told explicitly: Driver 18 would otherwise
// encrypt and validate by default.
QStringList Builder::encryption(const QString& driver, const Security& s) const
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
QString Builder::tdsVersion() const
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

LinkSettings Builder::sqlServer() const
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

} // namespace db::udl

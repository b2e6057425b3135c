#pragma once

#include "db/datalink.h"
#include "db/datalink_text.h"

#include <QHash>
#include <QStringList>

#include <initializer_list>
#include <utility>

namespace db::udl {

// A port number as a data-link file may give it: 1 to 65535, digits only.
bool isValidPort(const QString& text, int* port);
// " (user NAME)" for a link's description; empty without a user.
QString userPart(const QString& user);

// The connection settings from a file's keys, by the provider it names; SQL Server's in datalink_sqlserver.cpp.
class Builder {
public:
    Builder(QHash<QString, QString> pairs, const QString& baseDir, const QString& path, const QStringList* drivers);

    LinkSettings build();

private:
    [[noreturn]] static void fail(const QString& message) { udl::fail(message); }

    QString value(const char* key) const { return m_pairs.value(QLatin1String(key)); }

    QString required(const char* key, const char* shownKey) const;
    void rejectIntegratedSecurity() const;
    LinkSettings sqlite() const;

    static bool isFreeTds(const QString& driver)
    {
        return driver.compare(QLatin1String("FreeTDS"), Qt::CaseInsensitive) == 0;
    }

    std::pair<QString, QString> sqlServerDrivers(bool freeTdsCanServe) const;
    int choice(const char* key, const char* shownKey, std::initializer_list<std::pair<const char*, int>> words) const;

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
    Security security() const;
    QStringList encryption(const QString& driver, const Security& s) const;
    QString tdsVersion() const;
    LinkSettings sqlServer() const;

    LinkSettings msdasql();
    LinkSettings postgres() const;

    QHash<QString, QString> m_pairs;
    QString m_baseDir;
    QString m_path;
    const QStringList* m_drivers;
    QString m_password;
};

} // namespace db::udl

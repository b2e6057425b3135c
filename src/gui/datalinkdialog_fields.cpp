// Between a data-link file's keys and the editor's fields: what each provider's page shows of the file, the
// file the edited page gives, saving it and testing it.

#include "gui/datalinkdialog.h"

#include "db/providers.h"
#include "shell/linkfolder.h"
#include "shell/linkprobe.h"
#include "textutil/error.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QStackedWidget>
#include <QTemporaryDir>

#include <algorithm>
#include <optional>

namespace gui {
namespace {

const QString kProvider = QStringLiteral("Provider");
const QString kDataSource = QStringLiteral("Data Source");
const QString kCatalog = QStringLiteral("Initial Catalog");
const QString kUser = QStringLiteral("User ID");
const QString kPassword = QStringLiteral("Password");
const QString kPersist = QStringLiteral("Persist Security Info");
const QString kEncryption = QStringLiteral("Use Encryption for Data");
const QString kTrust = QStringLiteral("Trust Server Certificate");
const QString kExtended = QStringLiteral("Extended Properties");
const QString kValidate = QStringLiteral("Validate Server Certificate");
const QString kDriver = QStringLiteral("ODBC Driver");
const QString kTds = QStringLiteral("TDS Version");

const char* const kEncryptionValues[] = {"False", "True", "Strict"};

// The page of a provider name, as db reads the name; nothing for one db does not support.
std::optional<DataLinkPage::Provider> providerOf(const QString& name)
{
    const std::optional<db::LinkEngine> engine = db::providerEngine(name);
    const QList<db::LinkEngineChoice>& choices = db::linkEngineChoices();
    for (qsizetype i = 0; engine && i < choices.size(); ++i)
        if (choices[i].engine == *engine)
            return DataLinkPage::Provider(i);
    return std::nullopt;
}

int encryptionIndex(const QString& value)
{
    const QString v = value.trimmed().toLower();
    if (v == u"strict")
        return 2;
    return v == u"true" || v == u"yes" || v == u"mandatory" ? 1 : 0;
}

// SQL Server's Data Source: "server", "server\instance" or "server,port".
struct SqlServerSource {
    QString server, instance, port;
    static SqlServerSource parse(const QString& s)
    {
        SqlServerSource r;
        if (const qsizetype comma = s.lastIndexOf(u','); comma >= 0) {
            r.server = s.left(comma).trimmed();
            r.port = s.mid(comma + 1).trimmed();
        } else if (const qsizetype slash = s.indexOf(u'\\'); slash >= 0) {
            r.server = s.left(slash).trimmed();
            r.instance = s.mid(slash + 1).trimmed();
        } else {
            r.server = s.trimmed();
        }
        return r;
    }
    QString text() const
    {
        return !port.isEmpty() ? server + u',' + port : !instance.isEmpty() ? server + u'\\' + instance : server;
    }
};

// PostgreSQL's Data Source: "host", "host:port" or "[v6 address]:port".
std::pair<QString, QString> splitHostPort(const QString& s)
{
    if (s.startsWith(u'[')) {
        const qsizetype close = s.indexOf(u']');
        if (close > 0)
            return {s.mid(1, close - 1), s.mid(close + 2)};
    }
    if (s.count(u':') == 1)
        return {s.section(u':', 0, 0).trimmed(), s.section(u':', 1).trimmed()};
    return {s.trimmed(), QString()};
}

QString joinHostPort(const QString& host, const QString& port)
{
    if (port.isEmpty())
        return host;
    return (host.contains(u':') ? u'[' + host + u']' : host) + u':' + port;
}

// Sets a key only when the user changed what was shown for it; an emptied value removes the key.
void apply(db::DataLinkFile& f, const QString& key, const QString& now, const QString& shown)
{
    if (now == shown)
        return;
    if (now.isEmpty())
        f.remove(key);
    else
        f.set(key, now);
}

} // namespace
void DataLinkPage::load()
{
    m_file = db::DataLinkFile();
    m_loadError.clear();
    if (QFileInfo::exists(m_path)) {
        try {
            m_file = db::DataLinkFile::read(m_path);
        } catch (const belmire::Error& e) {
            m_loadError = e.message();
            setResult(e.message());
        }
    }
    const db::DataLinkFile& f = m_file;
    // A provider db cannot open is named as db names it; its settings are shown on no page.
    const std::optional<Provider> known = f.has(kProvider) ? providerOf(f.value(kProvider)) : SQLite;
    if (!known && m_loadError.isEmpty()) {
        m_loadError = db::unsupportedProvider(m_path, f.value(kProvider));
        setResult(m_loadError);
    }
    const Provider kind = known.value_or(SQLite);
    m_provider->setCurrentIndex(kind);
    m_stack->setCurrentIndex(kind);
    m_login->setVisible(kind != SQLite);
    const QString source = known ? f.value(kDataSource) : QString();
    // Every page shows what the file says in its terms; only the provider's page is used.
    m_sqliteFile->setText(kind == SQLite ? source : QString());
    const SqlServerSource mssql = SqlServerSource::parse(kind == SqlServer ? source : QString());
    m_server->setText(mssql.server);
    m_instance->setText(mssql.instance);
    m_port->setText(mssql.port);
    m_catalog->setText(kind == SqlServer ? f.value(kCatalog) : QString());
    m_encryption->setCurrentIndex(encryptionIndex(f.value(kEncryption)));
    m_trust->setChecked(db::oledbTrue(f.value(kTrust)));
    m_validate->setChecked(db::oledbTrue(f.value(kValidate)));
    m_driver->setCurrentIndex(0);
    if (kind == SqlServer && !f.value(kDriver).trimmed().isEmpty())
        m_driver->setCurrentText(f.value(kDriver).trimmed());
    m_tds->setCurrentIndex(std::max(
        0, int(QStringList{QString(), QStringLiteral("7.2"), QStringLiteral("7.3"), QStringLiteral("7.4")}.indexOf(
               kind == SqlServer ? f.value(kTds).trimmed() : QString()))));
    const auto [host, port] = splitHostPort(kind == PostgreSQL ? source : QString());
    m_pgHost->setText(host);
    m_pgPort->setText(port);
    m_pgDatabase->setText(kind == PostgreSQL ? f.value(kCatalog) : QString());
    m_dsn->setText(kind == Odbc ? source : QString());
    m_driverString->setText(kind == Odbc ? f.value(kExtended) : QString());
    m_user->setText(f.value(kUser));
    // The password is never shown again: the field stays empty, and empty keeps it.
    m_password->clear();
    m_password->setPlaceholderText(f.value(kPassword).isEmpty() ? QString() : QStringLiteral("（已保存，不改就留空）"));
    m_persist->setChecked(f.has(kPersist) ? db::oledbTrue(f.value(kPersist)) : !f.value(kPassword).isEmpty());
}

db::DataLinkFile DataLinkPage::edited() const
{
    db::DataLinkFile f = m_file;
    const Provider was = f.has(kProvider) ? providerOf(f.value(kProvider)).value_or(Provider(-1)) : Provider(-1);
    const auto kind = Provider(m_provider->currentIndex());
    const db::DataLinkFile& old = m_file;
    if (kind != was) {
        f.set(kProvider, db::linkEngineChoices().at(kind).written);
        // What belonged to the other provider goes; Data Source is set again below.
        for (const QString& key : {kDataSource, kCatalog, kEncryption, kTrust, kExtended, kValidate, kDriver, kTds})
            f.remove(key);
        if (kind == SQLite)
            for (const QString& key : {kUser, kPassword, kPersist})
                f.remove(key);
    }
    // What each field showed when loaded: a field the user left alone leaves its key alone.
    const QString shownSource = kind == was ? old.value(kDataSource) : QString();
    const QString shownCatalog = kind == was ? old.value(kCatalog) : QString();
    switch (kind) {
    case SQLite:
        apply(f, kDataSource, m_sqliteFile->text().trimmed(), shownSource);
        return f;
    case SqlServer: {
        const SqlServerSource now{m_server->text().trimmed(), m_instance->text().trimmed(), m_port->text().trimmed()};
        if (now.text() != SqlServerSource::parse(shownSource).text())
            apply(f, kDataSource, now.text(), shownSource);
        apply(f, kCatalog, m_catalog->text().trimmed(), shownCatalog);
        const int encryption = m_encryption->currentIndex();
        if (encryption != (kind == was ? encryptionIndex(old.value(kEncryption)) : 0) || kind != was)
            f.set(kEncryption, QString::fromLatin1(kEncryptionValues[encryption]));
        if (m_trust->isChecked() != (kind == was && db::oledbTrue(old.value(kTrust))) || kind != was)
            f.set(kTrust, m_trust->isChecked() ? QStringLiteral("True") : QStringLiteral("False"));
        if (m_validate->isChecked() != (kind == was && db::oledbTrue(old.value(kValidate))))
            f.set(kValidate, m_validate->isChecked() ? QStringLiteral("True") : QStringLiteral("False"));
        QString driver = m_driver->currentText().trimmed();
        if (driver == m_driver->itemText(0))
            driver.clear();
        apply(f, kDriver, driver, kind == was ? old.value(kDriver).trimmed() : QString());
        const QString tds = m_tds->currentIndex() == 0 ? QString() : m_tds->currentText();
        // A version the editor does not list (auto) stays as the file has it.
        const QString shownTds = kind == was ? old.value(kTds).trimmed() : QString();
        if (m_tds->currentIndex() != 0 ||
            QStringList{QStringLiteral("7.2"), QStringLiteral("7.3"), QStringLiteral("7.4")}.contains(shownTds))
            apply(f, kTds, tds, shownTds);
        break;
    }
    case PostgreSQL: {
        const auto [host, port] = splitHostPort(shownSource);
        const QString now = joinHostPort(m_pgHost->text().trimmed(), m_pgPort->text().trimmed());
        if (now != joinHostPort(host, port))
            apply(f, kDataSource, now, shownSource);
        apply(f, kCatalog, m_pgDatabase->text().trimmed(), shownCatalog);
        break;
    }
    case Odbc:
        apply(f, kDataSource, m_dsn->text().trimmed(), shownSource);
        apply(f, kExtended, m_driverString->text().trimmed(), kind == was ? old.value(kExtended) : QString());
        break;
    }
    apply(f, kUser, m_user->text(), old.value(kUser));
    const bool persist = m_persist->isChecked();
    const bool persistShown = old.has(kPersist) ? db::oledbTrue(old.value(kPersist)) : !old.value(kPassword).isEmpty();
    if (persist != persistShown || (kind != was && !f.has(kPersist)))
        f.set(kPersist, persist ? QStringLiteral("True") : QStringLiteral("False"));
    // Without Persist Security Info the password is not kept in the file.
    if (!persist)
        f.remove(kPassword);
    else if (!m_password->text().isEmpty())
        f.set(kPassword, m_password->text());
    return f;
}

QString DataLinkPage::save()
{
    const db::DataLinkFile f = edited();
    QString target = m_path;
    const QFileInfo folder(QFileInfo(m_path).absolutePath());
    if (!folder.isWritable() || (QFileInfo::exists(m_path) && !QFileInfo(m_path).isWritable())) {
        const QString config = shell::configFolder();
        QDir().mkpath(config);
        target = QDir(config).filePath(QFileInfo(m_path).fileName());
    }
    f.write(target);
    if (!m_persist->isChecked() && !m_password->text().isEmpty())
        db::setSessionPassword(target, m_password->text());
    m_file = f;
    m_password->clear();
    m_password->setPlaceholderText(f.value(kPassword).isEmpty() ? QString() : QStringLiteral("（已保存，不改就留空）"));
    return target;
}

QString DataLinkPage::testConnection()
{
    db::DataLinkFile f = edited();
    // A relative SQLite file is found beside the data-link file, as when the file itself is opened.
    if (m_provider->currentIndex() == SQLite && !f.value(kDataSource).isEmpty())
        f.set(kDataSource, QFileInfo(QFileInfo(m_path).dir(), f.value(kDataSource)).absoluteFilePath());
    QString password = m_password->text();
    if (password.isEmpty() && m_provider->currentIndex() != SQLite && f.value(kPassword).isEmpty() &&
        !f.value(kUser).isEmpty()) {
        if (const auto given = db::sessionPassword(m_path)) {
            password = *given;
        } else if (!m_persist->isChecked()) {
            bool ok = false;
            password = QInputDialog::getText(this, QStringLiteral("测试连接"),
                                             QStringLiteral("%1 的密码：").arg(f.value(kUser)), QLineEdit::Password,
                                             QString(), &ok);
            if (!ok)
                return QString();
        }
    }
    if (!password.isEmpty())
        f.set(kPassword, password);
    QTemporaryDir dir;
    const QString probePath = dir.filePath(QFileInfo(m_path).fileName());
    try {
        f.write(probePath);
        return shell::describe(shell::probeLink(probePath, m_kinds));
    } catch (const belmire::Error& e) {
        return QStringLiteral("连接失败：") + e.message();
    }
}

} // namespace gui

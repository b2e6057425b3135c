#include "gui/datalinkdialog.h"

#include "db/datalink.h"
#include "db/providers.h"
#include "gui/filedialog.h"
#include "shell/linkfolder.h"
#include "shell/linkprobe.h"
#include "textutil/error.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileInfo>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStackedWidget>
#include <QStandardPaths>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QVBoxLayout>

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

DataLinkPage::DataLinkPage(QString path, QList<shell::DatabaseKind> kinds, QWidget* parent)
    : QWidget(parent), m_path(std::move(path)), m_kinds(std::move(kinds))
{
    auto* layout = new QVBoxLayout(this);
    auto* fileLabel = new QLabel(QDir::toNativeSeparators(m_path), this);
    fileLabel->setObjectName(QStringLiteral("FileLabel"));
    fileLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(fileLabel);

    auto* top = new QFormLayout;
    m_provider = new QComboBox(this);
    m_provider->setObjectName(QStringLiteral("Provider"));
    for (const db::LinkEngineChoice& choice : db::linkEngineChoices())
        m_provider->addItem(choice.caption);
    top->addRow(QStringLiteral("提供程序"), m_provider);
    layout->addLayout(top);

    m_stack = new QStackedWidget(this);
    // SQLite: the database file.
    auto* sqlite = new QWidget(m_stack);
    auto* sqliteForm = new QFormLayout(sqlite);
    auto* fileRow = new QHBoxLayout;
    m_sqliteFile = line("SqliteFile", sqlite);
    auto* browse = new QPushButton(QStringLiteral("浏览…"), sqlite);
    browse->setObjectName(QStringLiteral("Browse"));
    connect(browse, &QPushButton::clicked, this, &DataLinkPage::chooseFile);
    fileRow->addWidget(m_sqliteFile, 1);
    fileRow->addWidget(browse);
    sqliteForm->addRow(QStringLiteral("数据库文件"), fileRow);
    // SQL Server.
    auto* mssql = new QWidget(m_stack);
    auto* mssqlForm = new QFormLayout(mssql);
    m_server = line("Server", mssql);
    m_instance = line("Instance", mssql);
    m_port = line("Port", mssql);
    m_catalog = line("Catalog", mssql);
    m_encryption = new QComboBox(mssql);
    m_encryption->setObjectName(QStringLiteral("Encryption"));
    m_encryption->addItems({QStringLiteral("不加密"), QStringLiteral("加密"), QStringLiteral("严格加密（TDS 8）")});
    m_trust = new QCheckBox(QStringLiteral("信任服务器证书"), mssql);
    m_trust->setObjectName(QStringLiteral("Trust"));
    m_validate = new QCheckBox(QStringLiteral("总是校验服务器证书"), mssql);
    m_validate->setObjectName(QStringLiteral("Validate"));
    // The first entry leaves the choice to the program: Microsoft's driver, FreeTDS where it cannot connect.
    m_driver = new QComboBox(mssql);
    m_driver->setObjectName(QStringLiteral("Driver"));
    m_driver->setEditable(true);
    m_driver->addItems({QStringLiteral("自动"), QStringLiteral("FreeTDS"),
                        QStringLiteral("ODBC Driver 18 for SQL Server"),
                        QStringLiteral("ODBC Driver 17 for SQL Server")});
    m_tds = new QComboBox(mssql);
    m_tds->setObjectName(QStringLiteral("TdsVersion"));
    m_tds->addItems({QStringLiteral("7.1（SQL Server 2000 起都能用）"), QStringLiteral("7.2"), QStringLiteral("7.3"),
                     QStringLiteral("7.4")});
    mssqlForm->addRow(QStringLiteral("服务器"), m_server);
    mssqlForm->addRow(QStringLiteral("实例"), m_instance);
    mssqlForm->addRow(QStringLiteral("端口"), m_port);
    mssqlForm->addRow(QStringLiteral("数据库"), m_catalog);
    mssqlForm->addRow(QStringLiteral("加密"), m_encryption);
    mssqlForm->addRow(QString(), m_trust);
    mssqlForm->addRow(QString(), m_validate);
    mssqlForm->addRow(QStringLiteral("ODBC 驱动"), m_driver);
    mssqlForm->addRow(QStringLiteral("TDS 版本（FreeTDS）"), m_tds);
    // PostgreSQL.
    auto* pg = new QWidget(m_stack);
    auto* pgForm = new QFormLayout(pg);
    m_pgHost = line("PgHost", pg);
    m_pgPort = line("PgPort", pg);
    m_pgDatabase = line("PgDatabase", pg);
    pgForm->addRow(QStringLiteral("主机"), m_pgHost);
    pgForm->addRow(QStringLiteral("端口"), m_pgPort);
    pgForm->addRow(QStringLiteral("数据库"), m_pgDatabase);
    // ODBC: a data source name or a driver's connection string.
    auto* odbc = new QWidget(m_stack);
    auto* odbcForm = new QFormLayout(odbc);
    m_dsn = line("Dsn", odbc);
    m_driverString = line("DriverString", odbc);
    m_driverString->setPlaceholderText(QStringLiteral("DRIVER={...};SERVER=...;DATABASE=..."));
    odbcForm->addRow(QStringLiteral("数据源（DSN）"), m_dsn);
    odbcForm->addRow(QStringLiteral("或驱动连接串"), m_driverString);
    for (QWidget* w : {sqlite, mssql, pg, odbc})
        m_stack->addWidget(w);
    layout->addWidget(m_stack);

    // The login of the server kinds.
    m_login = new QWidget(this);
    auto* loginForm = new QFormLayout(m_login);
    m_user = line("User", m_login);
    m_password = line("Password", m_login);
    m_password->setEchoMode(QLineEdit::Password);
    m_persist = new QCheckBox(QStringLiteral("保存密码（Persist Security Info）"), m_login);
    m_persist->setObjectName(QStringLiteral("Persist"));
    loginForm->addRow(QStringLiteral("用户"), m_user);
    loginForm->addRow(QStringLiteral("密码"), m_password);
    loginForm->addRow(QString(), m_persist);
    layout->addWidget(m_login);

    auto* buttons = new QHBoxLayout;
    auto* test = new QPushButton(QStringLiteral("测试连接"), this);
    test->setObjectName(QStringLiteral("TestButton"));
    auto* saveButton = new QPushButton(QStringLiteral("保存"), this);
    saveButton->setObjectName(QStringLiteral("SaveButton"));
    buttons->addWidget(test);
    buttons->addWidget(saveButton);
    buttons->addStretch(1);
    layout->addLayout(buttons);
    m_result = new QLabel(this);
    m_result->setObjectName(QStringLiteral("Result"));
    m_result->setWordWrap(true);
    m_result->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(m_result);
    layout->addStretch(1);

    connect(m_provider, &QComboBox::currentIndexChanged, this, [this](int i) {
        m_stack->setCurrentIndex(i);
        m_login->setVisible(i != SQLite);
    });
    connect(test, &QPushButton::clicked, this, [this] { setResult(testConnection()); });
    connect(saveButton, &QPushButton::clicked, this, [this] {
        try {
            const QString written = save();
            setResult(written == m_path
                          ? QStringLiteral("已保存")
                          : QStringLiteral("程序文件夹不可写，已保存到 %1").arg(QDir::toNativeSeparators(written)));
        } catch (const belmire::Error& e) {
            setResult(e.message());
        }
    });
    load();
}

QLineEdit* DataLinkPage::line(const char* name, QWidget* parent)
{
    auto* edit = new QLineEdit(parent);
    edit->setObjectName(QString::fromLatin1(name));
    return edit;
}

void DataLinkPage::setResult(const QString& text) { m_result->setText(text); }

void DataLinkPage::chooseFile()
{
    const QString start = m_sqliteFile->text().isEmpty()
                              ? QFileInfo(m_path).absolutePath()
                              : QFileInfo(QFileInfo(m_path).dir(), m_sqliteFile->text()).absoluteFilePath();
    const QString chosen = gui::chooseFile(this, QStringLiteral("SQLite 数据库文件"), start,
                                           QStringLiteral("SQLite 数据库 (*.db *.sqlite *.sqlite3);;所有文件 (*)"),
                                           QFileDialog::AcceptOpen);
    if (!chosen.isEmpty())
        m_sqliteFile->setText(chosen);
}

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

DataLinkDialog::DataLinkDialog(const QString& sourceUdl, const QString& targetUdl,
                               const QList<shell::DatabaseKind>& kinds, QWidget* parent)
    : QDialog(parent)
{
    setObjectName(QStringLiteral("DataLinkDialog"));
    setWindowTitle(QStringLiteral("连接设置"));
    m_tabs = new QTabWidget(this);
    m_source = new DataLinkPage(sourceUdl, kinds, m_tabs);
    m_source->setObjectName(QStringLiteral("SourcePage"));
    m_target = new DataLinkPage(targetUdl, kinds, m_tabs);
    m_target->setObjectName(QStringLiteral("TargetPage"));
    m_tabs->addTab(m_source, QStringLiteral("源：%1").arg(QFileInfo(sourceUdl).fileName()));
    m_tabs->addTab(m_target, QStringLiteral("目标：%1").arg(QFileInfo(targetUdl).fileName()));
    auto* close = new QDialogButtonBox(QDialogButtonBox::Close, this);
    close->button(QDialogButtonBox::Close)->setText(QStringLiteral("关闭"));
    connect(close, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_tabs);
    layout->addWidget(close);
    resize(460, 420);
}

} // namespace gui

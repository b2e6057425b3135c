#include "gui/datalinkdialog.h"

#include "db/providers.h"
#include "gui/filedialog.h"
#include "textutil/error.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileInfo>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStackedWidget>
#include <QTabWidget>
#include <QVBoxLayout>

namespace gui {

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

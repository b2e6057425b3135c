#pragma once

#include "db/datalink_file.h"
#include "shell/catalog.h"

#include <QDialog>
#include <QWidget>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QStackedWidget;
class QTabWidget;

namespace gui {

// The editor of one data-link file: the provider and its settings, 测试连接
// and 保存. Keys the editor does not know stay in the file as they were.
class DataLinkPage : public QWidget {
    Q_OBJECT
public:
    // The pages, in the order of db::linkEngineChoices().
    enum Provider { SQLite, SqlServer, PostgreSQL, Odbc };

    // kinds: what 测试连接 tells a database by.
    DataLinkPage(QString path, QList<shell::DatabaseKind> kinds, QWidget* parent = nullptr);

    const QString& path() const { return m_path; }
    // The file with the page's settings applied.
    db::DataLinkFile edited() const;
    // Writes the file; where the folder cannot be written, to the user's
    // configuration folder. Returns the path written. Throws belmire::Error.
    QString save();
    // Connects with the page's settings and says what answered; never shows the password.
    QString testConnection();
    QLabel* result() const { return m_result; }

private:
    void load();
    void chooseFile();
    QLineEdit* line(const char* name, QWidget* parent);
    void setResult(const QString& text);

    QString m_path;
    QList<shell::DatabaseKind> m_kinds;
    db::DataLinkFile m_file;
    QString m_loadError;
    QComboBox* m_provider = nullptr;
    QStackedWidget* m_stack = nullptr;
    QLineEdit* m_sqliteFile = nullptr;
    QLineEdit* m_server = nullptr;
    QLineEdit* m_instance = nullptr;
    QLineEdit* m_port = nullptr;
    QLineEdit* m_catalog = nullptr;
    QComboBox* m_encryption = nullptr;
    QCheckBox* m_trust = nullptr;
    QCheckBox* m_validate = nullptr;
    QComboBox* m_driver = nullptr;
    QComboBox* m_tds = nullptr;
    QLineEdit* m_pgHost = nullptr;
    QLineEdit* m_pgPort = nullptr;
    QLineEdit* m_pgDatabase = nullptr;
    QLineEdit* m_dsn = nullptr;
    QLineEdit* m_driverString = nullptr;
    QWidget* m_login = nullptr;
    QLineEdit* m_user = nullptr;
    QLineEdit* m_password = nullptr;
    QCheckBox* m_persist = nullptr;
    QLabel* m_result = nullptr;
};

// "连接设置": the source and the target data-link files, one page each.
class DataLinkDialog : public QDialog {
    Q_OBJECT
public:
    DataLinkDialog(const QString& sourceUdl, const QString& targetUdl, const QList<shell::DatabaseKind>& kinds,
                   QWidget* parent = nullptr);
    DataLinkPage* sourcePage() const { return m_source; }
    DataLinkPage* targetPage() const { return m_target; }

private:
    QTabWidget* m_tabs = nullptr;
    DataLinkPage* m_source = nullptr;
    DataLinkPage* m_target = nullptr;
};

} // namespace gui

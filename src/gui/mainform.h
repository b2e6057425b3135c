#pragma once

#include "shell/catalog.h"
#include "shell/frontend.h"
#include "shell/linkfolder.h"
#include "shell/operation.h"
#include "shell/runframe.h"

#include <QElapsedTimer>
#include <QFont>
#include <QList>
#include <QWidget>

#include <functional>
#include <optional>

class QCheckBox;
class QCoreApplication;
class QFrame;
class QLabel;
class QPlainTextEdit;
class QPushButton;
class QSplitter;
class QTableView;
class QToolButton;

namespace gui {
class SourceRowsModel;
}

// The one window of v67convert and v1convert: a strip with the progress line,
// the abort box, the exit button and the check button; the grid of source rows
// beside the log pane; and the row of operation buttons. Each button runs its
// operation to completion inside the click, through the window's run frame.
class TmainForm : public QWidget, public shell::Frontend {
    Q_OBJECT
public:
    // Receives the completion and error boxes instead of showing them; kind is
    // "warning" (completion box) or "critical" (error box).
    using MessageSink = std::function<void(const QString& kind, const QString& caption, const QString& text)>;

    // The buttons run the family's operations of catalog, which outlives the
    // window; the data-link files are looked up from programFolder (shell::linkFolder).
    TmainForm(const shell::Catalog& catalog, shell::Family family, QString programFolder, QWidget* parent = nullptr);
    TmainForm(const shell::Catalog& catalog, shell::Family family, const shell::LinkFolder& links,
              QWidget* parent = nullptr);
    ~TmainForm() override;

    // "宋体" 12 pixels, falling back to an installed Chinese font.
    static QFont programFont();
    // Loads Qt's Chinese texts (qtbase_zh_CN) into app; false when they are not installed.
    static bool installQtTranslations(QCoreApplication& app);

    void setMessageSink(MessageSink sink) { m_messageSink = std::move(sink); }
    // Asks the password of a data-link file that keeps none; nullopt when the
    // user declines. Without one a password dialog asks.
    using PasswordPrompt = std::function<std::optional<QString>(const QString& udlPath)>;
    void setPasswordPrompt(PasswordPrompt prompt) { m_passwordPrompt = std::move(prompt); }

    shell::Family family() const { return m_family; }
    const QString& sourceUdl() const { return m_sourceUdl; }
    const QString& targetUdl() const { return m_targetUdl; }
    bool busy() const { return m_busy; }
    // Writes the log pane to path as UTF-8 text; false with the reason in *error when it cannot.
    bool saveLog(const QString& path, QString* error = nullptr) const;

    // shell::Frontend
    void clearLog() override;
    void appendLog(const QString& line) override;
    void showProgress(const QString& line) override;
    void processEvents() override;
    bool abortTicked() override;
    void sourceOpened(const QString& select, const QStringList& fields, int total) override;
    void sourceRow(int index) override;
    void abortedBeforeFirstRow(const QString& title) override;
    void completed(const QString& caption, const QString& text) override;
    void failed(const QString& message) override;

protected:
    void closeEvent(QCloseEvent* event) override;

private slots:
    void BitBtn2Click();
    void CheckBitBtnClick();
    void SaveLogBtnClick();
    void LinkBitBtnClick();

private:
    struct OperationButton {
        QPushButton* button;
        QString operationId;
    };

    void buildTopStrip();
    void buildMiddleBand();
    void buildButtonStrip();
    void beginOperation(const QString& title);
    void arrangeTabOrder();
    void runOperation(const QString& id);
    void enableOperationButtons(bool enable);
    void closeAfterRun();
    bool havePasswords(bool source);
    void showSourceRow(int index);
    void showBox(const QString& kind, const QString& caption, const QString& text);

    const shell::Catalog& m_catalog;
    shell::Family m_family;
    QString m_sourceUdl;
    QString m_targetUdl;

    QFrame* m_panel2 = nullptr;
    QLabel* m_xxLabel = nullptr;
    QCheckBox* m_checkBox1 = nullptr;
    QPushButton* m_bitBtn2 = nullptr;
    QPushButton* m_checkBitBtn = nullptr;
    QPushButton* m_linkBitBtn = nullptr;
    QSplitter* m_splitter1 = nullptr;
    QTableView* m_grid = nullptr;
    gui::SourceRowsModel* m_rows = nullptr;
    QElapsedTimer m_gridShown; // when the grid last moved to the walk's row
    int m_gridPending = -1;    // the walk's row not shown yet
    QFrame* m_panel3 = nullptr;
    QPlainTextEdit* m_memo1 = nullptr;
    QToolButton* m_saveLogBtn = nullptr;
    QFrame* m_panel1 = nullptr;
    QList<OperationButton> m_operationButtons;

    shell::RunFrame m_frame;
    MessageSink m_messageSink;
    PasswordPrompt m_passwordPrompt;
    bool m_busy = false;
    bool m_closeAfterRun = false;
    // The completion or error box of the running operation, shown once the
    // summary lines are in the log pane.
    struct Box {
        QString kind, caption, text;
    };
    std::optional<Box> m_runBox;
};

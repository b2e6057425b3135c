// The window's run control: the operation buttons, 检查, 连接设置, the passwords a run needs, and leaving.

#include "gui/mainform.h"

#include "db/datalink_file.h"
#include "db/lock_wait.h"
#include "gui/datalinkdialog.h"
#include "shell/check.h"
#include "shell/rejects.h"
#include "shell/summary.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QInputDialog>
#include <QLabel>
#include <QPushButton>

void TmainForm::runOperation(const QString& id)
{
    // The per-row event pass lets clicks through; a second operation never starts inside a run.
    if (m_busy)
        return;
    const shell::Operation* operation = m_catalog.find(m_family, id);
    if (!operation || !havePasswords(operation->needsSource))
        return;
    m_busy = true;
    enableOperationButtons(false);
    m_runBox.reset();
    beginOperation(operation->title);
    // A conversion starts from a clean status line; a clear leaves it as the last conversion left it.
    if (operation->needsSource)
        m_xxLabel->setText(QStringLiteral("信息"));
    {
        // Each table another session holds is waited for once: by the reconciliation's first read or the run.
        const db::LockWaitMemory oneWaitPerTable;
        std::optional<shell::RunReconciliation> reconciliation;
        // The rows skipped or refused go to a file beside the target's data-link file, made at the first one.
        std::optional<shell::RejectReport> rejects;
        if (operation->needsSource) {
            reconciliation.emplace(*operation, m_sourceUdl, m_targetUdl);
            rejects.emplace(QFileInfo(m_targetUdl)
                                .dir()
                                .filePath(QStringLiteral("拒绝行-%1-%2.csv")
                                              .arg(operation->title, QDateTime::currentDateTime().toString(
                                                                         QStringLiteral("yyyyMMdd-hhmmss")))));
            m_frame.setRejectReport(&*rejects);
        }
        const shell::RunResult result = m_frame.run(*operation);
        m_frame.setRejectReport(nullptr);
        if (m_gridPending >= 0)
            showSourceRow(m_gridPending);
        // The summary (a clear's rows deleted) and reconciliation lines the command line prints, before the box.
        if (result.ok)
            appendLog(shell::summaryLine(*operation, result));
        if (operation->needsSource && result.ok) {
            if (result.aborted) {
                appendLog(shell::abortedLine(*operation, result));
            } else {
                const shell::Reconciled r = reconciliation->finish(m_frame);
                for (const QString& line : r.lines + r.problems)
                    appendLog(line);
            }
        }
        if (rejects && rejects->made())
            appendLog(QStringLiteral("拒绝行报告：%1（%2 行）").arg(rejects->path()).arg(rejects->count()));
        if (rejects && !rejects->error().isEmpty())
            appendLog(rejects->failure());
    }
    if (m_runBox)
        showBox(m_runBox->kind, m_runBox->caption, m_runBox->text);
    m_runBox.reset();
    enableOperationButtons(true);
    m_busy = false;
    if (m_closeAfterRun)
        closeAfterRun();
}

void TmainForm::enableOperationButtons(bool enable)
{
    for (const OperationButton& b : std::as_const(m_operationButtons))
        b.button->setEnabled(enable && m_catalog.find(m_family, b.operationId) != nullptr);
    m_checkBitBtn->setEnabled(enable);
}

void TmainForm::BitBtn2Click()
{
    if (m_busy) {
        // Pressed during a run: stop it where it honours the abort box, and leave once it has returned.
        m_checkBox1->setChecked(true);
        m_closeAfterRun = true;
        return;
    }
    closeAfterRun();
}

void TmainForm::CheckBitBtnClick()
{
    // Probes every table and column the program's operations use; writes nothing.
    if (m_busy || !havePasswords(true))
        return;
    m_busy = true;
    enableOperationButtons(false);
    beginOperation(m_checkBitBtn->text());
    const shell::CheckReport report =
        shell::checkOperations(m_catalog.built(m_family, m_sourceUdl), m_sourceUdl, m_targetUdl);
    for (const QString& line : report.lines())
        appendLog(line);
    enableOperationButtons(true);
    m_busy = false;
}

bool TmainForm::havePasswords(bool source)
{
    // A data-link file without Persist Security Info keeps no password: it is asked once per session.
    QStringList links{m_targetUdl};
    if (source)
        links.prepend(m_sourceUdl);
    for (const QString& udl : links) {
        if (!db::needsPassword(udl) || db::sessionPassword(udl))
            continue;
        std::optional<QString> password;
        if (m_passwordPrompt) {
            password = m_passwordPrompt(udl);
        } else {
            bool ok = false;
            const QString given = QInputDialog::getText(this, QStringLiteral("密码"),
                                                        QStringLiteral("%1 的密码：").arg(QFileInfo(udl).fileName()),
                                                        QLineEdit::Password, QString(), &ok);
            if (ok)
                password = given;
        }
        if (!password)
            return false;
        db::setSessionPassword(udl, *password);
    }
    return true;
}

void TmainForm::LinkBitBtnClick()
{
    if (m_busy)
        return;
    gui::DataLinkDialog dialog(m_sourceUdl, m_targetUdl, m_catalog.kinds(), this);
    dialog.exec();
}

void TmainForm::closeAfterRun()
{
    m_frame.disconnect();
    close();
}

void TmainForm::closeEvent(QCloseEvent* event)
{
    // The run is on the call stack below this event; the window goes when it has returned.
    if (m_busy) {
        m_checkBox1->setChecked(true);
        m_closeAfterRun = true;
        event->ignore();
        return;
    }
    QWidget::closeEvent(event);
}

void TmainForm::beginOperation(const QString& title)
{
    appendLog(QStringLiteral("———— %1  %2 ————")
                  .arg(title, QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"))));
}

// The window as the run frame's front end: the log pane and its 保存日志, the status line, the abort box, the
// grid following the walk, and the completion and error boxes.

#include "gui/mainform.h"

#include "gui/filedialog.h"
#include "gui/sourcerows.h"
#include "shell/rejects.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QLabel>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QSaveFile>
#include <QTableView>

namespace {

constexpr qint64 kGridFollowMs = 200;

} // namespace

// The pane keeps the whole session, so that 保存日志 saves every operation: each begins with its own line.
void TmainForm::clearLog() {}

void TmainForm::abortedBeforeFirstRow(const QString& title)
{
    Q_UNUSED(title);
    appendLog(QStringLiteral("中断已勾选：本次转换不处理任何行（取消勾选后重新运行）"));
}

void TmainForm::appendLog(const QString& line) { m_memo1->appendPlainText(line); }

void TmainForm::showProgress(const QString& line) { m_xxLabel->setText(line); }

void TmainForm::processEvents() { QCoreApplication::processEvents(); }

bool TmainForm::abortTicked() { return m_checkBox1->isChecked(); }

void TmainForm::sourceOpened(const QString& select, const QStringList& fields, int total)
{
    m_rows->reset(select, fields, total);
    m_gridPending = -1;
    m_gridShown.invalidate();
}

void TmainForm::sourceRow(int index)
{
    // The grid follows the walk five times a second: each move reads the rows it
    // shows from the source. The last row and the row a run ends on always show.
    if (index + 1 < m_rows->rowCount() && m_gridShown.isValid() && m_gridShown.elapsed() < kGridFollowMs) {
        m_gridPending = index;
        return;
    }
    showSourceRow(index);
}

void TmainForm::showSourceRow(int index)
{
    m_gridPending = -1;
    m_gridShown.start();
    const int column = qMax(0, m_grid->currentIndex().column());
    const QModelIndex current = m_rows->index(index, qMin(column, m_rows->columnCount() - 1));
    m_grid->setCurrentIndex(current);
    m_grid->scrollTo(current);
}

void TmainForm::completed(const QString& caption, const QString& text)
{
    if (m_busy)
        m_runBox = Box{QStringLiteral("warning"), caption, text};
    else
        showBox(QStringLiteral("warning"), caption, text);
}

void TmainForm::failed(const QString& message)
{
    if (m_busy)
        m_runBox = Box{QStringLiteral("critical"), QStringLiteral("错误"), message};
    else
        showBox(QStringLiteral("critical"), QStringLiteral("错误"), message);
}

void TmainForm::showBox(const QString& kind, const QString& caption, const QString& text)
{
    if (m_messageSink) {
        m_messageSink(kind, caption, text);
        return;
    }
    if (kind == u"critical") {
        QMessageBox::critical(this, caption, text);
        return;
    }
    QMessageBox box(QMessageBox::Warning, caption, text, QMessageBox::Ok, this);
    box.exec();
}

bool TmainForm::saveLog(const QString& path, QString* error) const
{
    // A log never replaces a database or a data-link file of the two links.
    if (const QString what = shell::linkFileAt(path, m_sourceUdl, m_targetUdl); !what.isEmpty()) {
        if (error)
            *error = QStringLiteral("这是%1，不会覆盖它；请另给一个 .txt 文件").arg(what);
        return false;
    }
    QSaveFile file(path);
    QByteArray text = m_memo1->toPlainText().toUtf8();
    if (!text.isEmpty())
        text += '\n';
    if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size() || !file.commit()) {
        if (error)
            *error = file.errorString();
        return false;
    }
    return true;
}

void TmainForm::SaveLogBtnClick()
{
    const QString suggested =
        QFileInfo(m_targetUdl)
            .dir()
            .filePath(QStringLiteral("日志-%1.txt")
                          .arg(QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-hhmmss"))));
    const QString path = gui::chooseFile(this, QStringLiteral("保存日志"), suggested,
                                         QStringLiteral("文本文件 (*.txt);;所有文件 (*)"), QFileDialog::AcceptSave);
    if (path.isEmpty())
        return;
    QString error;
    if (!saveLog(path, &error))
        showBox(QStringLiteral("critical"), QStringLiteral("错误"),
                QStringLiteral("无法保存日志到 %1：%2").arg(path, error));
}

#include "gui/filedialog.h"

#include <QRegularExpression>

namespace gui {

QString filterSuffix(const QString& filter)
{
    static const QRegularExpression firstPattern(QStringLiteral(R"(\(\s*\*\.([^\s*?\[\)]+))"));
    const QRegularExpressionMatch m = firstPattern.match(filter);
    return m.hasMatch() ? m.captured(1) : QString();
}

QString chooseFile(QWidget* parent, const QString& caption, const QString& start, const QString& filters,
                   QFileDialog::AcceptMode mode)
{
    QFileDialog dialog(parent, caption, start, filters);
    dialog.setAcceptMode(mode);
    dialog.setFileMode(mode == QFileDialog::AcceptSave ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
    const auto follow = [&dialog](const QString& filter) { dialog.setDefaultSuffix(filterSuffix(filter)); };
    follow(dialog.selectedNameFilter());
    QObject::connect(&dialog, &QFileDialog::filterSelected, &dialog, follow);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    return dialog.selectedFiles().first();
}

} // namespace gui

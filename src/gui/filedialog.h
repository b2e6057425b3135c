#pragma once

#include <QFileDialog>
#include <QString>

namespace gui {

// The file dialog of the windows: a file name typed without an extension gets the selected filter's first one
// ("日志" under "文本文件 (*.txt)" becomes "日志.txt"; under "所有文件 (*)" it stays as typed). The chosen
// path, or empty when the user cancelled.
QString chooseFile(QWidget* parent, const QString& caption, const QString& start, const QString& filters,
                   QFileDialog::AcceptMode mode);

// The extension a filter such as "SQLite 数据库 (*.db *.sqlite)" gives a typed name: "db"; empty for "(*)".
QString filterSuffix(const QString& filter);

} // namespace gui

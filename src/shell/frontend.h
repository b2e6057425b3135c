#pragma once

#include <QSqlRecord>
#include <QString>
#include <QStringList>

namespace shell {

// What a run shows and asks of the front end (the window or the command line).
// The run frame throttles showProgress, processEvents and sourceRow to about 30
// calls a second and always shows the last row.
class Frontend {
public:
    virtual ~Frontend() = default;

    virtual void clearLog() = 0;
    virtual void appendLog(const QString& line) = 0;
    virtual void showProgress(const QString& line) = 0;
    virtual void processEvents() = 0;
    virtual bool abortTicked() = 0;
    // The source rows of the running walk, for the grid.
    virtual void sourceOpened(const QStringList& fields) { Q_UNUSED(fields); }
    virtual void sourceRow(int index, const QSqlRecord& row) { Q_UNUSED(index); Q_UNUSED(row); }
    // Completion box: caption "提示" and the operation's completion text.
    virtual void completed(const QString& caption, const QString& text) = 0;
    // Error box with the frame's message.
    virtual void failed(const QString& message) = 0;
};

} // namespace shell

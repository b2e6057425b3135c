#pragma once

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
    // The running walk, for the grid: its SELECT (read again by the grid, the
    // walk only reads the source), field names and row total; then the
    // position (from 0) of the row being converted.
    virtual void sourceOpened(const QString& select, const QStringList& fields, int total)
    {
        Q_UNUSED(select);
        Q_UNUSED(fields);
        Q_UNUSED(total);
    }
    virtual void sourceRow(int index) { Q_UNUSED(index); }
    // The abort box was ticked before the run's first walk, which honours it, converted a row: the run converts
    // nothing.
    virtual void abortedBeforeFirstRow(const QString& title) { Q_UNUSED(title); }
    // The abort was asked for while a walk that does not honour it runs; said once a run.
    virtual void abortNotHonoured(const QString& title) { Q_UNUSED(title); }
    // Completion box: caption "提示" and the operation's completion text.
    virtual void completed(const QString& caption, const QString& text) = 0;
    // Error box with the frame's message.
    virtual void failed(const QString& message) = 0;
    // Asked for a second time: even a walk that does not honour the abort box
    // stops before its next row.
    virtual bool stopNow() { return false; }
    // Such a run ended: the message says what it left in the target.
    virtual void interrupted(const QString& message) { failed(message); }
};

} // namespace shell

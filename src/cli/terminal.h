#pragma once

#include "shell/frontend.h"

#include <QString>

#include <cstdio>

namespace cli {

// Writes text and a line end to f as UTF-8 and flushes it.
void writeLine(std::FILE* f, const QString& text);
bool isTerminal(std::FILE* f);
// A line from the terminal without echoing it, after prompt on err.
QString readPassword(std::FILE* err, const QString& prompt);

// The run frame on the command line: the log-pane lines and the completion
// texts to out; the progress line (on a terminal only, not when quiet), errors
// and interruptions to err. The abort box is Ctrl-C (g_abort, g_stop).
class CliFrontend : public shell::Frontend {
public:
    CliFrontend(std::FILE* out, std::FILE* err, bool quiet);

    void clearLog() override {}
    void appendLog(const QString& line) override { writeLine(m_out, line); }
    void showProgress(const QString& line) override;
    void processEvents() override {}
    bool abortTicked() override;
    bool stopNow() override;
    void completed(const QString&, const QString& text) override;
    void abortNotHonoured(const QString& title) override;
    void failed(const QString& message) override;
    void interrupted(const QString& message) override;
    // Ends the progress line, so that what follows starts a line of its own.
    void endProgress();

private:
    std::FILE* m_out;
    std::FILE* m_err;
    bool m_quiet;
    bool m_tty;
    bool m_progressShown = false;
};

} // namespace cli

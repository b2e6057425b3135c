// The command line's terminal: lines out, the progress line, and passwords read without echo.

#include "cli/terminal.h"

#include "cli/cli.h"

#include <string>

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <termios.h>
#include <unistd.h>
#endif

namespace cli {

void writeLine(std::FILE* f, const QString& text)
{
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), f);
    std::fputc('\n', f);
    std::fflush(f);
}

bool isTerminal(std::FILE* f)
{
#ifdef _WIN32
    return _isatty(_fileno(f)) != 0;
#else
    return isatty(fileno(f)) != 0;
#endif
}

CliFrontend::CliFrontend(std::FILE* out, std::FILE* err, bool quiet)
    : m_out(out), m_err(err), m_quiet(quiet), m_tty(isTerminal(err))
{
}

void CliFrontend::showProgress(const QString& line)
{
    if (m_quiet || !m_tty)
        return;
    const QByteArray bytes = ("\r\033[K" + line).toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), m_err);
    std::fflush(m_err);
    m_progressShown = true;
}

bool CliFrontend::abortTicked() { return g_abort.load(); }

bool CliFrontend::stopNow() { return g_stop.load(); }

void CliFrontend::completed(const QString&, const QString& text)
{
    endProgress();
    writeLine(m_out, text);
}

void CliFrontend::abortNotHonoured(const QString& title)
{
    endProgress();
    writeLine(m_err, QStringLiteral("%1：收到中断；这个转换不能中途停止，将运行到结束").arg(title));
}

void CliFrontend::failed(const QString& message)
{
    endProgress();
    writeLine(m_err, QStringLiteral("错误：") + message);
}

void CliFrontend::interrupted(const QString& message)
{
    endProgress();
    writeLine(m_err, message);
}

void CliFrontend::endProgress()
{
    if (m_progressShown)
        std::fputc('\n', m_err);
    m_progressShown = false;
}

namespace {

// While it lives, what is typed on the terminal is not echoed.
class EchoOff {
public:
    EchoOff()
    {
#ifdef _WIN32
        m_input = GetStdHandle(STD_INPUT_HANDLE);
        m_set = GetConsoleMode(m_input, &m_old) && SetConsoleMode(m_input, m_old & ~DWORD(ENABLE_ECHO_INPUT));
#else
        m_set = tcgetattr(STDIN_FILENO, &m_old) == 0;
        if (m_set) {
            termios quiet = m_old;
            quiet.c_lflag &= ~tcflag_t(ECHO);
            tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
        }
#endif
    }
    ~EchoOff()
    {
        if (!m_set)
            return;
#ifdef _WIN32
        SetConsoleMode(m_input, m_old);
#else
        tcsetattr(STDIN_FILENO, TCSAFLUSH, &m_old);
#endif
    }
    EchoOff(const EchoOff&) = delete;
    EchoOff& operator=(const EchoOff&) = delete;

private:
    bool m_set = false;
#ifdef _WIN32
    HANDLE m_input = nullptr;
    DWORD m_old = 0;
#else
    termios m_old{};
#endif
};

} // namespace

// A line from the terminal without echoing it.
QString readPassword(std::FILE* err, const QString& prompt)
{
    const QByteArray p = prompt.toUtf8();
    std::fwrite(p.constData(), 1, size_t(p.size()), err);
    std::fflush(err);
    std::string line;
    {
        const EchoOff quiet;
        for (int c = std::fgetc(stdin); c != EOF && c != '\n'; c = std::fgetc(stdin))
            line += char(c);
    }
    std::fputc('\n', err);
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    return QString::fromUtf8(line.data(), qsizetype(line.size()));
}

} // namespace cli

#include "shell/progress.h"

#include "textutil/gbk.h"

namespace shell {
namespace {

constexpr qint64 kRepaintMs = 33; // about 30 repaints a second

} // namespace

QString progressLine(int i, int n, const QByteArray& code)
{
    return QStringLiteral("信息:%1/%2  (编号").arg(i).arg(n) + gbk::toUnicode(code) + u')';
}

QString progressLine(int i, int n) { return QStringLiteral("信息:%1/%2").arg(i).arg(n); }

ProgressThrottle::ProgressThrottle(int rows) : m_rows(rows), m_lastShown(-kRepaintMs) { m_timer.start(); }

bool ProgressThrottle::showNow(int i, const QByteArray& code)
{
    if (i == m_rows || m_timer.elapsed() - m_lastShown >= kRepaintMs)
        return true;
    m_waiting = true;
    m_withCode = true;
    m_row = i;
    m_code = code;
    return false;
}

void ProgressThrottle::shown()
{
    m_lastShown = m_timer.elapsed();
    m_waiting = false;
}

QString ProgressThrottle::waitingLine() const
{
    return m_withCode ? progressLine(m_row, m_rows, m_code) : progressLine(m_row, m_rows);
}

} // namespace shell

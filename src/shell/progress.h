#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QString>

namespace shell {

QString progressLine(int i, int n, const QByteArray& code);
QString progressLine(int i, int n); // without the code part

// The progress line of a walk, shown about 30 times a second and on the last
// row. The line of a row not shown is kept as its parts, to be shown when the
// walk ends or stops there: most rows' lines are never made.
class ProgressThrottle {
public:
    explicit ProgressThrottle(int rows);

    // Whether row i's line is to be shown now; when not, it waits.
    bool showNow(int i, const QByteArray& code);
    void shown(); // the line was shown: the next is due a repaint later
    // The waiting line loses its code part ("信息:i/n").
    void dropCode() { m_withCode = false; }
    bool waiting() const { return m_waiting; }
    QString waitingLine() const;

private:
    int m_rows;
    QElapsedTimer m_timer;
    qint64 m_lastShown;
    bool m_waiting = false;
    bool m_withCode = true;
    int m_row = 0;
    QByteArray m_code;
};

} // namespace shell

#include "shell/rejects.h"

#include <QStringList>

namespace shell {

QString csvField(const QString& value)
{
    if (!value.contains(u',') && !value.contains(u'"') && !value.contains(u'\n') && !value.contains(u'\r'))
        return value;
    QString quoted = value;
    quoted.replace(u'"', QStringLiteral("\"\""));
    return u'"' + quoted + u'"';
}

RejectReport::RejectReport(QString path, Create when) : m_path(std::move(path))
{
    if (when == Create::Now)
        make();
}

bool RejectReport::make()
{
    if (m_file.isOpen())
        return true;
    if (!m_error.isEmpty())
        return false;
    m_file.setFileName(m_path);
    if (!m_file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        m_error = m_file.errorString();
        return false;
    }
    const QByteArray head = "\xEF\xBB\xBF" + QStringLiteral("操作,表,行,编号,原因,日志\r\n").toUtf8();
    if (m_file.write(head) != head.size() || !m_file.flush()) {
        m_error = m_file.errorString();
        m_file.close();
        return false;
    }
    return true;
}

void RejectReport::add(const Reject& r)
{
    if (!make())
        return;
    const QStringList fields{csvField(r.operation), csvField(r.table),  QString::number(r.row),
                             csvField(r.key),       csvField(r.reason), csvField(r.log)};
    const QByteArray line = (fields.join(u',') + QStringLiteral("\r\n")).toUtf8();
    // Each row goes out at once: a run that ends in an error keeps what it found.
    if (m_file.write(line) != line.size() || !m_file.flush()) {
        m_error = m_file.errorString();
        m_file.close();
        return;
    }
    ++m_count;
}

} // namespace shell

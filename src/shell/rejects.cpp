#include "shell/rejects.h"

#include "db/datalink.h"
#include "textutil/error.h"

#include <QDir>
#include <QFileInfo>
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

namespace {

const QString kHeader = QStringLiteral("操作,表,行,编号,原因,日志");

// Two names of one file: the same file where both exist, the same path otherwise.
bool sameFile(const QString& a, const QString& b)
{
    const QFileInfo fa(a), fb(b);
    if (fa.exists() && fb.exists())
        return fa.canonicalFilePath() == fb.canonicalFilePath();
    return QDir::cleanPath(fa.absoluteFilePath()) == QDir::cleanPath(fb.absoluteFilePath());
}

// The SQLite file a data-link file names, empty for any other database or an unreadable link.
QString sqliteFileOf(const QString& udl)
{
    try {
        const db::LinkSettings given = db::readDataLink(udl);
        return given.driver == u"SQLite" ? given.databaseName : QString();
    } catch (const belmire::Error&) {
        return {};
    }
}

bool isEarlierReport(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return false;
    QByteArray head = f.read(256);
    if (head.startsWith("\xEF\xBB\xBF"))
        head.remove(0, 3);
    return head.startsWith((kHeader + QStringLiteral("\r\n")).toUtf8());
}

} // namespace

QString reportRefusal(const QString& path, const QString& sourceUdl, const QString& targetUdl)
{
    const QString lead = QStringLiteral("拒绝行报告 %1 ").arg(path);
    const QString keep = QStringLiteral("：不会覆盖它；请另给一个 .csv 文件");
    if (const QString what = linkFileAt(path, sourceUdl, targetUdl); !what.isEmpty())
        return lead + QStringLiteral("是") + what + keep;
    const QFileInfo info(path);
    if (info.isDir())
        return lead + QStringLiteral("是一个文件夹：请给一个 .csv 文件名");
    if (info.exists() && !isEarlierReport(path))
        return lead + QStringLiteral("已存在，不是拒绝行报告") + keep + QStringLiteral("，或先移走这个文件");
    return {};
}

QString linkFileAt(const QString& path, const QString& sourceUdl, const QString& targetUdl)
{
    const struct {
        QString udl;
        QString side;
    } links[] = {{sourceUdl, QStringLiteral("源")}, {targetUdl, QStringLiteral("目标")}};
    for (const auto& link : links) {
        if (link.udl.isEmpty())
            continue;
        if (sameFile(path, link.udl))
            return QStringLiteral("%1数据连接文件").arg(link.side);
        if (const QString file = sqliteFileOf(link.udl); !file.isEmpty() && sameFile(path, file))
            return QStringLiteral("%1数据库（%1数据连接文件 %2）").arg(link.side, link.udl);
    }
    return {};
}

RejectReport::RejectReport(QString path, Create when) : m_path(std::move(path))
{
    if (when == Create::Now)
        make();
}

RejectReport::~RejectReport() { finish(); }

QString RejectReport::failure() const { return QStringLiteral("无法写入拒绝行报告 %1：%2").arg(m_path, m_error); }

bool RejectReport::finish()
{
    if (!m_file.isOpen())
        return m_error.isEmpty();
    // A report that could not be written whole leaves the file that was there as it was.
    if (!m_error.isEmpty()) {
        m_file.cancelWriting();
        m_file.commit();
        return false;
    }
    if (!m_file.commit()) {
        m_error = m_file.errorString();
        return false;
    }
    return true;
}

bool RejectReport::make()
{
    if (m_file.isOpen())
        return true;
    if (!m_error.isEmpty())
        return false;
    m_file.setFileName(m_path);
    if (!m_file.open(QIODevice::WriteOnly)) {
        m_error = m_file.errorString();
        return false;
    }
    const QByteArray head = "\xEF\xBB\xBF" + (kHeader + QStringLiteral("\r\n")).toUtf8();
    if (m_file.write(head) != head.size() || !m_file.flush()) {
        m_error = m_file.errorString();
        return false;
    }
    return true;
}

void RejectReport::add(const Reject& r)
{
    if (!m_error.isEmpty() || !make())
        return;
    const QStringList fields{csvField(r.operation), csvField(r.table),  QString::number(r.row),
                             csvField(r.key),       csvField(r.reason), csvField(r.log)};
    const QByteArray line = (fields.join(u',') + QStringLiteral("\r\n")).toUtf8();
    // Each row goes out at once: a run that ends in an error keeps what it found.
    if (m_file.write(line) != line.size() || !m_file.flush()) {
        m_error = m_file.errorString();
        return;
    }
    ++m_count;
}

} // namespace shell

#include "db/datalink_file.h"

#include "db/datalink.h"
#include "textutil/error.h"

#include <QFileInfo>
#include <QHash>
#include <QMutex>
#include <QSaveFile>

namespace db {
namespace {

QString keyName(const QString& key) { return key.simplified().toLower(); }

bool isConnectionStringLine(const QString& line)
{
    const QString t = line.trimmed();
    return !t.isEmpty() && !t.startsWith(u';') && t.compare(QLatin1String("[oledb]"), Qt::CaseInsensitive) != 0;
}

QMutex g_passwordsLock;
QHash<QString, QString> g_passwords;

QString passwordKey(const QString& udlPath) { return QFileInfo(udlPath).absoluteFilePath(); }

} // namespace

bool oledbTrue(const QString& value)
{
    const QString v = value.trimmed().toLower();
    return v == u"true" || v == u"yes" || v == u"1";
}

QString oledbQuote(const QString& value)
{
    const bool plain =
        !value.contains(u';') && !value.contains(u'"') && !value.contains(u'\'') && value.trimmed() == value;
    if (plain)
        return value;
    if (!value.contains(u'"'))
        return u'"' + value + u'"';
    if (!value.contains(u'\''))
        return u'\'' + value + u'\'';
    QString doubled = value;
    doubled.replace(u'"', QStringLiteral("\"\""));
    return u'"' + doubled + u'"';
}

DataLinkFile::DataLinkFile()
    : m_before{QStringLiteral("[oledb]"), QStringLiteral("; Everything after this line is an OLE DB initstring")}
{
}

DataLinkFile DataLinkFile::read(const QString& path) { return parse(readDataLinkBytes(path), path); }

DataLinkFile DataLinkFile::parse(const QByteArray& bytes, const QString& pathForMessages)
{
    DataLinkFile f;
    f.m_before.clear();
    QString text = decodeDataLinkText(bytes, pathForMessages);
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    QStringList lines = text.split(u'\n');
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    qsizetype at = 0;
    while (at < lines.size() && !isConnectionStringLine(lines[at]))
        f.m_before << lines[at++];
    if (at == lines.size())
        return f;
    f.m_after = lines.mid(at + 1);

    // The same splitting as the reader's: a value in double or single quotes may hold ";" and "=", a doubled
    // quote inside it being one quote. Malformed text was refused by the reader; here it ends the items.
    const QString s = lines[at];
    const qsizetype n = s.size();
    qsizetype i = 0;
    while (i < n && (s[i].isSpace() || s[i] == u';'))
        ++i;
    f.m_lead = s.left(i);
    while (i < n) {
        const qsizetype start = i;
        while (i < n && s[i] != u'=' && s[i] != u';')
            ++i;
        if (i == n || s[i] == u';') {
            f.m_lead += s.mid(start); // not an item: kept as it is
            break;
        }
        Item item;
        item.key = s.mid(start, i - start).trimmed();
        item.name = keyName(item.key);
        ++i;
        while (i < n && s[i].isSpace())
            ++i;
        if (i < n && (s[i] == u'"' || s[i] == u'\'')) {
            const QChar quote = s[i++];
            while (i < n) {
                if (s[i] == quote) {
                    if (i + 1 < n && s[i + 1] == quote) {
                        item.value += quote;
                        i += 2;
                        continue;
                    }
                    ++i;
                    break;
                }
                item.value += s[i++];
            }
            while (i < n && s[i] != u';')
                ++i;
        } else {
            const qsizetype valueStart = i;
            while (i < n && s[i] != u';')
                ++i;
            item.value = s.mid(valueStart, i - valueStart).trimmed();
        }
        // The item ends before the blanks that precede its ";".
        qsizetype end = i;
        while (end > start && s[end - 1].isSpace())
            --end;
        item.text = s.mid(start, end - start);
        const qsizetype sepStart = end;
        while (i < n && (s[i].isSpace() || s[i] == u';'))
            ++i;
        f.m_items << item;
        f.m_separators << s.mid(sepStart, i - sepStart);
    }
    return f;
}

int DataLinkFile::find(const QString& name) const
{
    for (int i = int(m_items.size()) - 1; i >= 0; --i)
        if (m_items[i].name == name)
            return i;
    return -1;
}

bool DataLinkFile::has(const QString& key) const { return find(keyName(key)) >= 0; }

QString DataLinkFile::value(const QString& key) const
{
    const int i = find(keyName(key));
    return i < 0 ? QString() : m_items[i].value;
}

void DataLinkFile::set(const QString& key, const QString& value)
{
    const int i = find(keyName(key));
    if (i >= 0) {
        if (m_items[i].value == value)
            return;
        m_items[i].value = value;
        m_items[i].text = m_items[i].key + u'=' + oledbQuote(value);
        return;
    }
    if (!m_items.isEmpty() && !m_separators.last().contains(u';'))
        m_separators.last() = QStringLiteral(";");
    m_items << Item{key, keyName(key), value, key + u'=' + oledbQuote(value)};
    m_separators << QString();
}

void DataLinkFile::remove(const QString& key)
{
    for (int i = find(keyName(key)); i >= 0; i = find(keyName(key))) {
        m_items.removeAt(i);
        m_separators.removeAt(i);
    }
    if (!m_separators.isEmpty() && m_separators.last().trimmed() == u";")
        m_separators.last().clear();
}

QStringList DataLinkFile::keys() const
{
    QStringList keys;
    for (const Item& item : m_items)
        keys << item.key;
    return keys;
}

QString DataLinkFile::initString() const
{
    QString s = m_lead;
    for (qsizetype i = 0; i < m_items.size(); ++i)
        s += m_items[i].text + m_separators[i];
    return s;
}

QByteArray DataLinkFile::bytes() const
{
    QStringList lines = m_before;
    lines << initString();
    lines += m_after;
    const QString text = lines.join(QStringLiteral("\r\n")) + QStringLiteral("\r\n");
    QByteArray out("\xFF\xFE", 2);
    out.reserve(2 + text.size() * 2);
    for (const QChar c : text) {
        out += char(c.unicode() & 0xFF);
        out += char(c.unicode() >> 8);
    }
    return out;
}

void DataLinkFile::write(const QString& path) const
{
    QSaveFile file(path);
    const QByteArray data = bytes();
    if (!file.open(QIODevice::WriteOnly) || file.write(data) != data.size() || !file.commit())
        throw belmire::Error(QStringLiteral("数据连接文件 %1 无法写入：%2").arg(path, file.errorString()));
}

bool needsPassword(const QString& udlPath)
{
    try {
        const DataLinkFile f = DataLinkFile::read(udlPath);
        const QString provider = f.value(QStringLiteral("Provider")).trimmed().toLower();
        if (provider.startsWith(u"sqlite") || f.value(QStringLiteral("User ID")).isEmpty())
            return false;
        return f.value(QStringLiteral("Password")).isEmpty() &&
               !oledbTrue(f.value(QStringLiteral("Persist Security Info")));
    } catch (const belmire::Error&) {
        return false;
    }
}

void setSessionPassword(const QString& udlPath, const QString& password)
{
    QMutexLocker lock(&g_passwordsLock);
    g_passwords.insert(passwordKey(udlPath), password);
}

std::optional<QString> sessionPassword(const QString& udlPath)
{
    QMutexLocker lock(&g_passwordsLock);
    const auto it = g_passwords.constFind(passwordKey(udlPath));
    if (it == g_passwords.constEnd())
        return std::nullopt;
    return *it;
}

} // namespace db

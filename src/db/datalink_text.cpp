#include "db/datalink_text.h"

#include "db/datalink.h"
#include "textutil/error.h"

#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>

#include <cstdint>
#include <optional>

namespace db {
namespace udl {
namespace {

constexpr qsizetype kMaxLineBytes = 1024 * 1024;
// No sensible data-link file comes near this; it keeps a wrong file from being read into memory whole.
constexpr qsizetype kMaxFileBytes = 16 * 1024 * 1024;

// Strict UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF.
bool isValidUtf8(const unsigned char* s, qsizetype n)
{
    qsizetype i = 0;
    while (i < n) {
        const unsigned char c = s[i];
        if (c < 0x80) {
            ++i;
            continue;
        }
        int len;
        std::uint32_t cp;
        std::uint32_t min;
        if ((c & 0xE0) == 0xC0) {
            len = 2, cp = c & 0x1F, min = 0x80;
        } else if ((c & 0xF0) == 0xE0) {
            len = 3, cp = c & 0x0F, min = 0x800;
        } else if ((c & 0xF8) == 0xF0) {
            len = 4, cp = c & 0x07, min = 0x10000;
        } else {
            return false;
        }
        if (n - i < len)
            return false;
        for (int k = 1; k < len; ++k) {
            const unsigned char cc = s[i + k];
            if ((cc & 0xC0) != 0x80)
                return false;
            cp = (cp << 6) | (cc & 0x3F);
        }
        if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
            return false;
        i += len;
    }
    return true;
}

// UTF-16 in the given byte order with every surrogate paired; false on an odd byte count or a lone surrogate.
bool decodeUtf16(const unsigned char* s, qsizetype n, bool bigEndian, QString* out)
{
    if (n % 2 != 0)
        return false;
    const qsizetype units = n / 2;
    const int hi = bigEndian ? 0 : 1;
    QString text(units, Qt::Uninitialized);
    QChar* d = text.data();
    for (qsizetype i = 0; i < units; ++i)
        d[i] = QChar(char16_t(s[2 * i + 1 - hi] | (s[2 * i + hi] << 8)));
    for (qsizetype i = 0; i < units; ++i) {
        if (d[i].isHighSurrogate()) {
            if (i + 1 == units || !d[i + 1].isLowSurrogate())
                return false;
            ++i;
        } else if (d[i].isLowSurrogate()) {
            return false;
        }
    }
    *out = std::move(text);
    return true;
}

// UTF-16 without a byte-order mark, as some editors save it: a data-link file begins with an ASCII character
// ("[oledb]", a comment or the init string), so one of its first two bytes is zero, and which one gives the order.
std::optional<bool> bareUtf16BigEndian(const unsigned char* s, qsizetype n)
{
    if (n < 2 || n % 2 != 0)
        return std::nullopt;
    if (s[0] != 0 && s[0] < 0x80 && s[1] == 0)
        return false;
    if (s[0] == 0 && s[1] != 0 && s[1] < 0x80)
        return true;
    return std::nullopt;
}

} // namespace

[[noreturn]] void fail(const QString& message) { throw belmire::Error(message); }

QString fileText(const QString& path, const QString& what)
{
    return QStringLiteral("数据连接文件 %1 %2").arg(path, what);
}

// The file's text, decoded; *utf16 tells which encoding it was in (line lengths are measured in the file's bytes).
QString decodeFile(const QByteArray& bytes, const QString& path, bool* utf16)
{
    if (bytes.size() > kMaxFileBytes)
        fail(fileText(path, QStringLiteral("过大（超过 16 MB），不是数据连接文件")));
    const auto* data = reinterpret_cast<const unsigned char*>(bytes.constData());
    qsizetype size = bytes.size();
    QString text;
    bool ok;
    const bool littleMark = size >= 2 && data[0] == 0xFF && data[1] == 0xFE;
    const bool bigMark = size >= 2 && data[0] == 0xFE && data[1] == 0xFF;
    const std::optional<bool> bare = bareUtf16BigEndian(data, size);
    if (littleMark || bigMark) {
        *utf16 = true;
        ok = decodeUtf16(data + 2, size - 2, bigMark, &text);
        size -= 2;
    } else if (bare) {
        *utf16 = true;
        ok = decodeUtf16(data, size, *bare, &text);
    } else {
        *utf16 = false;
        if (size >= 3 && data[0] == 0xEF && data[1] == 0xBB && data[2] == 0xBF) {
            data += 3;
            size -= 3;
        }
        ok = isValidUtf8(data, size);
        if (ok) {
            text = QString::fromUtf8(reinterpret_cast<const char*>(data), size);
        } else if (data == reinterpret_cast<const unsigned char*>(bytes.constData())) {
            // No BOM and not UTF-8: Notepad's "ANSI" of a Chinese Windows, GB18030.
            QStringDecoder gb18030("GB18030");
            if (gb18030.isValid()) {
                text = gb18030.decode(QByteArrayView(reinterpret_cast<const char*>(data), size));
                ok = !gb18030.hasError();
            }
        }
    }
    // A zero character would cut the value short in every C interface further down.
    if (!ok || text.contains(QChar(0)))
        fail(fileText(path, QStringLiteral("不是数据连接文件（既不是 UTF-16、UTF-8 也不是 GB18030 文本）")));
    if (size == 0)
        fail(fileText(path, QStringLiteral("是空的")));
    return text;
}

// Skips the "[oledb]" line, comment lines (";") and blank lines; the first other line is the init string.
QString findInitString(const QString& text, bool utf16, const QString& path)
{
    QString init;
    bool found = false;
    qsizetype start = 0;
    qsizetype lineBytes = 0;
    const qsizetype n = text.size();
    for (qsizetype i = 0; i <= n; ++i) {
        if (i == n || text[i] == QLatin1Char('\r') || text[i] == QLatin1Char('\n')) {
            if (!found) {
                const QString line = text.mid(start, i - start).trimmed();
                if (!line.isEmpty() && !line.startsWith(QLatin1Char(';')) &&
                    line.compare(QLatin1String("[oledb]"), Qt::CaseInsensitive) != 0) {
                    init = line;
                    found = true;
                }
            }
            start = i + 1;
            lineBytes = 0;
            continue;
        }
        const char16_t u = text[i].unicode();
        lineBytes += utf16 ? 2 : (u < 0x80 ? 1 : u < 0x800 ? 2 : QChar::isSurrogate(u) ? 2 : 3);
        if (lineBytes > kMaxLineBytes)
            fail(fileText(path, QStringLiteral("中有一行超过 1 MB，不是数据连接文件")));
    }
    if (!found)
        fail(fileText(path, QStringLiteral("中没有连接串")));
    return init;
}

// The init string's key=value pairs, keys lower-cased with blanks collapsed. A value in double or single quotes may
// hold ";" and "="; a doubled quote inside it is one quote. A later key replaces an earlier one, as OLE DB does.
// The messages never quote the text: a mis-split password would otherwise show up in them.
QHash<QString, QString> parseInitString(const QString& s, const QString& path)
{
    QHash<QString, QString> pairs;
    const qsizetype n = s.size();
    qsizetype i = 0;
    int item = 0;
    const auto malformed = [&](const QString& what) {
        fail(QStringLiteral("数据连接文件 %1 中的连接串格式错误：第 %2 项%3").arg(path, QString::number(item), what));
    };
    while (i < n) {
        while (i < n && s[i].isSpace())
            ++i;
        if (i == n)
            break;
        if (s[i] == QLatin1Char(';')) {
            ++i;
            continue;
        }
        ++item;
        const qsizetype keyStart = i;
        while (i < n && s[i] != QLatin1Char('=') && s[i] != QLatin1Char(';'))
            ++i;
        if (i == n || s[i] == QLatin1Char(';'))
            malformed(QStringLiteral("缺少 \"=\""));
        const QString key = s.mid(keyStart, i - keyStart).simplified().toLower();
        if (key.isEmpty())
            malformed(QStringLiteral("没有键名"));
        ++i;
        while (i < n && s[i].isSpace())
            ++i;
        QString value;
        if (i < n && (s[i] == QLatin1Char('"') || s[i] == QLatin1Char('\''))) {
            const QChar quote = s[i++];
            switch (readQuoted(s, i, quote, &value)) {
            case Quoted::Unclosed:
                malformed(QStringLiteral("的引号没有闭合"));
            case Quoted::TextAfter:
                malformed(QStringLiteral("的右引号后还有其他字符"));
            case Quoted::Read:
                break;
            }
        } else {
            const qsizetype valueStart = i;
            while (i < n && s[i] != QLatin1Char(';'))
                ++i;
            value = s.mid(valueStart, i - valueStart).trimmed();
        }
        pairs.insert(key, value);
    }
    return pairs;
}

Quoted readQuoted(const QString& s, qsizetype& i, QChar close, QString* value)
{
    const qsizetype n = s.size();
    for (;;) {
        if (i == n)
            return Quoted::Unclosed;
        if (s[i] == close) {
            if (i + 1 < n && s[i + 1] == close) {
                *value += close;
                i += 2;
                continue;
            }
            ++i;
            break;
        }
        *value += s[i++];
    }
    while (i < n && s[i].isSpace())
        ++i;
    return i < n && s[i] != QLatin1Char(';') ? Quoted::TextAfter : Quoted::Read;
}

} // namespace udl

QByteArray readDataLinkBytes(const QString& udlPath)
{
    const QFileInfo info(udlPath);
    if (!info.exists())
        throw belmire::Error(udl::fileText(udlPath, QStringLiteral("不存在")));
    if (!info.isFile())
        throw belmire::Error(udl::fileText(udlPath, QStringLiteral("不是文件")));
    QFile file(udlPath);
    if (!file.open(QIODevice::ReadOnly))
        throw belmire::Error(udl::fileText(udlPath, QStringLiteral("无法读取：%1").arg(file.errorString())));
    // Read as far as the limit and one byte past it, in pieces: a single read
    // of the limit would set aside that much memory for a file of a few lines.
    QByteArray bytes;
    bytes.reserve(qMin(file.size(), qint64(udl::kMaxFileBytes)) + 1);
    while (bytes.size() <= udl::kMaxFileBytes) {
        const QByteArray piece = file.read(qMin(qint64(64 * 1024), qint64(udl::kMaxFileBytes) + 1 - bytes.size()));
        if (piece.isEmpty())
            break;
        bytes += piece;
    }
    if (file.error() != QFileDevice::NoError)
        throw belmire::Error(udl::fileText(udlPath, QStringLiteral("无法读取：%1").arg(file.errorString())));
    return bytes;
}

QString decodeDataLinkText(const QByteArray& bytes, const QString& pathForMessages)
{
    bool utf16 = false;
    return udl::decodeFile(bytes, pathForMessages, &utf16);
}

} // namespace db

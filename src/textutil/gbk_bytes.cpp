// The bytes of a text as they stand: whether they are UTF-8 or GBK-shaped, how
// to show bytes that are neither, and trimming, cutting and case on GBK text.

#include "textutil/gbk.h"

namespace gbk {

bool isUtf8(const char* data, qsizetype size)
{
    const auto* p = reinterpret_cast<const unsigned char*>(data);
    const auto* end = p + size;
    while (p < end) {
        const unsigned char c = *p;
        if (c < 0x80) {
            ++p;
            continue;
        }
        int n;
        unsigned min;
        unsigned cp;
        if ((c & 0xE0) == 0xC0) {
            n = 1, min = 0x80, cp = c & 0x1F;
        } else if ((c & 0xF0) == 0xE0) {
            n = 2, min = 0x800, cp = c & 0x0F;
        } else if ((c & 0xF8) == 0xF0) {
            n = 3, min = 0x10000, cp = c & 0x07;
        } else {
            return false;
        }
        if (end - p <= n)
            return false;
        for (int k = 1; k <= n; ++k) {
            if ((p[k] & 0xC0) != 0x80)
                return false;
            cp = (cp << 6) | (p[k] & 0x3F);
        }
        if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
            return false;
        p += n + 1;
    }
    return true;
}

namespace {

// Bytes of the UTF-8-shaped sequence at p (a lead byte and its continuation
// bytes, however the code point comes out), 0 when there is none.
int utf8Shaped(const unsigned char* p, const unsigned char* end)
{
    const unsigned char c = *p;
    const int n = c >= 0xC2 && c <= 0xDF ? 1 : c >= 0xE0 && c <= 0xEF ? 2 : c >= 0xF0 && c <= 0xF4 ? 3 : -1;
    if (n < 0 || end - p <= n)
        return 0;
    for (int k = 1; k <= n; ++k)
        if ((p[k] & 0xC0) != 0x80)
            return 0;
    return n + 1;
}

} // namespace

bool mostlyUtf8(const char* data, qsizetype size)
{
    const auto* p = reinterpret_cast<const unsigned char*>(data);
    const auto* end = p + size;
    qsizetype shaped = 0, other = 0;
    while (p < end) {
        if (*p < 0x80) {
            ++p;
        } else if (const int n = utf8Shaped(p, end)) {
            shaped += n;
            p += n;
        } else {
            ++other;
            ++p;
        }
    }
    return shaped > other;
}

QString showBytes(const char* data, qsizetype size)
{
    QString out;
    for (qsizetype i = 0; i < size;) {
        const auto c = static_cast<unsigned char>(data[i]);
        const int n = c < 0x80 ? 1
                               : utf8Shaped(reinterpret_cast<const unsigned char*>(data) + i,
                                            reinterpret_cast<const unsigned char*>(data) + size);
        if (n > 0 && isUtf8(data + i, n)) {
            out += QString::fromUtf8(data + i, n);
            i += n;
        } else {
            out += QStringLiteral("\\x") + QString::number(c, 16).toUpper().rightJustified(2, u'0');
            ++i;
        }
    }
    return out;
}

int charLength(const QByteArray& bytes, qsizetype pos)
{
    const auto at = [&](qsizetype i) -> unsigned {
        return i < bytes.size() ? static_cast<unsigned char>(bytes[i]) : 0u;
    };
    const unsigned c = at(pos);
    if (c < 0x81 || c == 0xFF)
        return 1;
    const unsigned d = at(pos + 1);
    if (d >= 0x30 && d <= 0x39) {
        const unsigned e = at(pos + 2), f = at(pos + 3);
        if (e >= 0x81 && e <= 0xFE && f >= 0x30 && f <= 0x39)
            return 4;
        return 1;
    }
    if (d >= 0x40 && d <= 0xFE && d != 0x7F)
        return 2;
    return 1;
}

QByteArray trim(const QByteArray& text)
{
    qsizetype begin = 0, end = text.size();
    while (begin < end && static_cast<unsigned char>(text[begin]) <= 0x20)
        ++begin;
    while (end > begin && static_cast<unsigned char>(text[end - 1]) <= 0x20)
        --end;
    if (begin == 0 && end == text.size())
        return text;
    return text.mid(begin, end - begin);
}

QByteArray cut(const QByteArray& text, qsizetype n)
{
    if (text.size() <= n)
        return text;
    if (n <= 0)
        return {};
    qsizetype pos = 0;
    while (pos < text.size()) {
        const int len = charLength(text, pos);
        if (pos + len > n)
            break;
        pos += len;
    }
    return text.left(pos);
}

QByteArray upper(const QByteArray& text)
{
    QByteArray out = text;
    for (char& c : out)
        if (c >= 'a' && c <= 'z')
            c = char(c - 0x20);
    return out;
}

QByteArray lower(const QByteArray& text)
{
    QByteArray out = text;
    for (char& c : out)
        if (c >= 'A' && c <= 'Z')
            c = char(c + 0x20);
    return out;
}

} // namespace gbk

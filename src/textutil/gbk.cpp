#include "textutil/gbk.h"

#include "textutil/error.h"

#include <iconv.h>

#include <cerrno>
#include <memory>
#include <string>

namespace gbk {
namespace {

// One iconv descriptor per direction and thread, opened on first use.
class Converter {
public:
    Converter(const char* to, const char* from) : m_cd(iconv_open(to, from)) {}
    ~Converter()
    {
        if (m_cd != reinterpret_cast<iconv_t>(-1))
            iconv_close(m_cd);
    }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;

    // clean is set false when a byte had to be kept as it was.
    QByteArray convert(const char* data, qsizetype size, bool* clean = nullptr)
    {
        if (m_cd == reinterpret_cast<iconv_t>(-1))
            throw belmire::Error(QStringLiteral("iconv 不支持 GB18030 编码转换"));
        iconv(m_cd, nullptr, nullptr, nullptr, nullptr);
        QByteArray out(size * 2 + 8, Qt::Uninitialized);
        char* src = const_cast<char*>(data);
        size_t srcLeft = size_t(size);
        size_t done = 0;
        while (true) {
            char* dst = out.data() + done;
            size_t dstLeft = size_t(out.size()) - done;
            size_t rc = iconv(m_cd, &src, &srcLeft, &dst, &dstLeft);
            done = size_t(out.size()) - dstLeft;
            if (rc != size_t(-1))
                break;
            if (errno == E2BIG) {
                out.resize(out.size() * 2);
                continue;
            }
            // An invalid or incomplete sequence: keep the byte as it is and go on,
            // so a broken text is carried over rather than dropped.
            if (srcLeft == 0)
                break;
            if (clean)
                *clean = false;
            if (size_t(out.size()) - done < 8)
                out.resize(out.size() * 2);
            out[qsizetype(done++)] = *src++;
            --srcLeft;
        }
        out.resize(qsizetype(done));
        return out;
    }

private:
    iconv_t m_cd;
};

bool isAscii(const char* data, qsizetype size)
{
    for (qsizetype i = 0; i < size; ++i)
        if (static_cast<unsigned char>(data[i]) >= 0x80)
            return false;
    return true;
}

bool isAscii(const QByteArray& bytes) { return isAscii(bytes.constData(), bytes.size()); }

Converter& utf8ToGb()
{
    thread_local Converter c("GB18030", "UTF-8");
    return c;
}

Converter& gbToUtf8()
{
    thread_local Converter c("UTF-8", "GB18030");
    return c;
}

// The two-byte characters (nearly all Chinese text) through tables filled from
// iconv itself, a row of 191 codes or a block of 256 code points at a time when
// first met; anything else (four-byte sequences, broken bytes) leaves the text
// to iconv as a whole, so both ways give the same bytes.
class TwoByteTables {
public:
    // The code point of lead/trail, 0 when iconv gives no single BMP character.
    char16_t decode(unsigned char lead, unsigned char trail)
    {
        const int row = lead - 0x81;
        if (!m_rowFilled[row])
            fillRow(row);
        return m_decode[row][trail - 0x40];
    }
    // The two GB18030 bytes of a BMP code point (lead << 8 | trail), 0 when it has none.
    quint16 encode(char16_t cp)
    {
        const int block = cp >> 8;
        if (!m_blockFilled[block])
            fillBlock(block);
        return m_encode[cp];
    }

private:
    void fillRow(int row)
    {
        for (int trail = 0x40; trail <= 0xFE; ++trail) {
            const char in[2] = {char(0x81 + row), char(trail)};
            bool clean = true;
            const QByteArray out = gbToUtf8().convert(in, 2, &clean);
            const QString text = QString::fromUtf8(out);
            m_decode[row][trail - 0x40] =
                clean && text.size() == 1 && !text[0].isSurrogate() && text[0].unicode() >= 0x80 ? text[0].unicode()
                                                                                                 : 0;
        }
        m_rowFilled[row] = true;
    }
    void fillBlock(int block)
    {
        for (int low = 0; low < 256; ++low) {
            const char16_t cp = char16_t(block << 8 | low);
            quint16 code = 0;
            if (cp >= 0x80 && !QChar::isSurrogate(cp)) {
                const QByteArray in = QString(QChar(cp)).toUtf8();
                bool clean = true;
                const QByteArray out = utf8ToGb().convert(in.constData(), in.size(), &clean);
                if (clean && out.size() == 2)
                    code = quint16(static_cast<unsigned char>(out[0]) << 8 | static_cast<unsigned char>(out[1]));
            }
            m_encode[cp] = code;
        }
        m_blockFilled[block] = true;
    }

    char16_t m_decode[126][191] = {};
    bool m_rowFilled[126] = {};
    quint16 m_encode[65536] = {};
    bool m_blockFilled[256] = {};
};

TwoByteTables& tables()
{
    thread_local auto t = std::make_unique<TwoByteTables>();
    return *t;
}

// Each character of a GBK text by the tables, in order: each(code point), one
// UTF-16 unit each; false when one needs iconv.
template <typename Each>
bool decodeByTables(const char* data, qsizetype size, Each each)
{
    const auto* p = reinterpret_cast<const unsigned char*>(data);
    const auto* end = p + size;
    TwoByteTables* t = nullptr;
    while (p < end) {
        const unsigned char c = *p;
        if (c < 0x80) {
            each(char16_t(c));
            ++p;
            continue;
        }
        if (c == 0x80 || c == 0xFF || end - p < 2 || p[1] < 0x40 || p[1] == 0x7F || p[1] == 0xFF)
            return false;
        if (!t)
            t = &tables();
        const char16_t cp = t->decode(c, p[1]);
        if (cp == 0)
            return false;
        each(cp);
        p += 2;
    }
    return true;
}

// GBK to UTF-8 by the tables; false when the text needs iconv.
bool tableToUtf8(const QByteArray& bytes, QByteArray& out)
{
    out.resize(bytes.size() * 3 / 2 + 4);
    char* o = out.data();
    const bool ok = decodeByTables(bytes.constData(), bytes.size(), [&o](char16_t cp) {
        if (cp < 0x80) {
            *o++ = char(cp);
            return;
        }
        if (cp < 0x800) {
            *o++ = char(0xC0 | (cp >> 6));
        } else {
            *o++ = char(0xE0 | (cp >> 12));
            *o++ = char(0x80 | ((cp >> 6) & 0x3F));
        }
        *o++ = char(0x80 | (cp & 0x3F));
    });
    if (!ok)
        return false;
    out.resize(o - out.constData());
    return true;
}

// Valid UTF-8 to GB18030 by the tables; false when the text needs iconv.
bool tableFromUtf8(const char* data, qsizetype size, QByteArray& out)
{
    const auto* p = reinterpret_cast<const unsigned char*>(data);
    const auto* end = p + size;
    out.resize(size);
    char* o = out.data();
    TwoByteTables& t = tables();
    while (p < end) {
        const unsigned char c = *p;
        if (c < 0x80) {
            *o++ = char(c);
            ++p;
            continue;
        }
        char16_t cp;
        if ((c & 0xE0) == 0xC0 && end - p >= 2) {
            cp = char16_t((c & 0x1F) << 6 | (p[1] & 0x3F));
            p += 2;
        } else if ((c & 0xF0) == 0xE0 && end - p >= 3) {
            cp = char16_t((c & 0x0F) << 12 | (p[1] & 0x3F) << 6 | (p[2] & 0x3F));
            p += 3;
        } else {
            return false;
        }
        const quint16 code = t.encode(cp);
        if (code == 0)
            return false;
        *o++ = char(code >> 8);
        *o++ = char(code & 0xFF);
    }
    out.resize(o - out.constData());
    return true;
}

} // namespace

QByteArray fromUnicode(const QString& text)
{
    bool ascii = true;
    for (QChar c : text)
        if (c.unicode() >= 0x80) {
            ascii = false;
            break;
        }
    if (ascii)
        return text.toLatin1();
    const QByteArray utf8 = text.toUtf8();
    return fromUtf8(utf8.constData(), utf8.size());
}

qsizetype toUtf16(const char* data, qsizetype size, char16_t* out)
{
    // Every GBK character is one UTF-16 unit here: one byte for ASCII, two for
    // the table's characters; anything else goes back to toUnicode.
    char16_t* o = out;
    return decodeByTables(data, size, [&o](char16_t cp) { *o++ = cp; }) ? o - out : -1;
}

QString toUnicode(const QByteArray& bytes)
{
    if (isAscii(bytes))
        return QString::fromLatin1(bytes);
    QByteArray out;
    if (tableToUtf8(bytes, out))
        return QString::fromUtf8(out);
    return QString::fromUtf8(gbToUtf8().convert(bytes.constData(), bytes.size()));
}

QByteArray fromUtf8(const char* data, qsizetype size)
{
    if (isAscii(data, size))
        return QByteArray(data, size);
    QByteArray out;
    if (tableFromUtf8(data, size, out))
        return out;
    return utf8ToGb().convert(data, size);
}

QByteArray toUtf8(const QByteArray& bytes)
{
    if (isAscii(bytes))
        return bytes;
    QByteArray out;
    if (tableToUtf8(bytes, out))
        return out;
    bool clean = true;
    QByteArray utf8 = gbToUtf8().convert(bytes.constData(), bytes.size(), &clean);
    // A kept byte is no UTF-8: it becomes U+FFFD, as on the way through Unicode.
    return clean ? utf8 : QString::fromUtf8(utf8).toUtf8();
}

bool isGbk(const char* data, qsizetype size)
{
    if (isAscii(data, size))
        return true;
    QByteArray out;
    if (tableToUtf8(QByteArray::fromRawData(data, size), out))
        return true;
    bool clean = true;
    gbToUtf8().convert(data, size, &clean);
    return clean;
}

} // namespace gbk

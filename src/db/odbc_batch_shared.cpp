// The values every row of an INSERT has shared so far, written into its
// statements of many rows as literals (psqlODBC).
#include "db/odbc_batch.h"

#include "db/odbc_calls.h"

#include <cstring>

namespace db {
namespace {

// Longest shared value written into a statement's text, in characters.
constexpr qsizetype kLongestLiteral = 100;

// A value as a literal the server reads as it reads the parameter: a quoted
// text of unknown type, or NULL. None where the value holds a character a
// driver or the server could read otherwise (quotes, escapes, markers).
std::optional<QString> literal(const odbc::Shape& shape, const QByteArray& bytes)
{
    if (shape.indicator == SQL_NULL_DATA)
        return QStringLiteral("NULL");
    QString text;
    switch (shape.cType) {
    case SQL_C_WCHAR:
        text = QString::fromUtf16(reinterpret_cast<const char16_t*>(bytes.constData()),
                                  bytes.size() / qsizetype(sizeof(char16_t)));
        break;
    case SQL_C_CHAR:
        text = QString::fromLatin1(bytes);
        break;
    case SQL_C_SBIGINT: {
        qint64 n = 0;
        if (bytes.size() != qsizetype(sizeof n))
            return std::nullopt;
        std::memcpy(&n, bytes.constData(), sizeof n);
        text = QString::number(n);
        break;
    }
    default:
        return std::nullopt;
    }
    if (text.size() > kLongestLiteral)
        return std::nullopt;
    for (const QChar c : text)
        if (c.unicode() < 0x20 || QStringView(u"'\\\"?:;{}$").contains(c))
            return std::nullopt;
    return u'\'' + text + u'\'';
}

} // namespace

void OdbcBatch::share(Statements& s, const Held& held, const std::vector<const Entry*>& rows)
{
    const size_t names = s.marked.names.size();
    bool changed = false;
    if (s.shared.size() != names) {
        s.shared.assign(names, Shared());
        const Entry& e = *rows.front();
        for (size_t k = 0; k < names && k < e.valueCount; ++k) {
            const Value& v = held.values[e.firstValue + k];
            const QByteArray bytes(held.bytes.constData() + v.at, v.size);
            if (const auto text = literal(v.shape, bytes))
                s.shared[k] = Shared{true, *text, v.shape, bytes};
        }
        changed = true;
    }
    for (const Entry* e : rows)
        for (size_t k = 0; k < names; ++k) {
            Shared& shared = s.shared[k];
            if (!shared.shared)
                continue;
            if (k >= e->valueCount) {
                shared.shared = false;
                changed = true;
                continue;
            }
            const Value& v = held.values[e->firstValue + k];
            if (v.shape.cType != shared.shape.cType || v.shape.sqlType != shared.shape.sqlType ||
                v.shape.digits != shared.shape.digits || v.shape.indicator != shared.shape.indicator ||
                QByteArrayView(held.bytes.constData() + v.at, v.size) != shared.bytes) {
                shared.shared = false;
                changed = true;
            }
        }
    if (!changed)
        return;
    s.written.clear();
    for (const Shared& shared : s.shared)
        s.written.append(shared.shared ? shared.literal : QString());
    // Only a VALUES row of markers alone takes literals in their place.
    if (odbc::insertRows(s.marked, 2, odbc::RowsForm::Values, s.written).text.isEmpty()) {
        for (Shared& shared : s.shared)
            shared.shared = false;
        s.written.clear();
    }
    s.bound.clear();
    for (size_t k = 0; k < names; ++k)
        if (!s.shared[k].shared)
            s.bound.push_back(int(k));
    int markers = 0;
    for (const int k : s.marked.markers)
        markers += s.shared[size_t(k)].shared ? 0 : 1;
    s.rowsPerStatement = rowsFor(markers);
    // The statements of many rows were written for other values.
    for (auto it = s.rows.begin(); it != s.rows.end();)
        it = it->first == 1 ? std::next(it) : s.rows.erase(it);
    s.used.clear();
    s.lastRemainder = s.remainderBefore = -1;
}

} // namespace db

#include "db/odbc_markers.h"

#include <QRegularExpression>

namespace db::odbc {
namespace {

bool isNameChar(QChar c) { return c.isLetterOrNumber() || c == u'_'; }

} // namespace

Markers markers(const QString& text)
{
    Markers m;
    m.text.reserve(text.size());
    QChar quote;
    const qsizetype n = text.size();
    for (qsizetype i = 0; i < n; ++i) {
        const QChar c = text[i];
        if (!quote.isNull()) {
            if (c == quote)
                quote = QChar();
            m.text += c;
            continue;
        }
        if (c == u'\'' || c == u'"') {
            quote = c;
            m.text += c;
            continue;
        }
        if (c == u':' && i + 1 < n && text[i + 1] == u':') { // a PostgreSQL cast
            m.text += QStringLiteral("::");
            ++i;
            continue;
        }
        if (c == u':' && i + 1 < n && isNameChar(text[i + 1])) {
            qsizetype end = i + 1;
            while (end < n && isNameChar(text[end]))
                ++end;
            const QString name = text.mid(i + 1, end - i - 1);
            int k = m.parameter(name);
            if (k < 0) {
                k = int(m.names.size());
                m.names.append(name);
            }
            m.markers.push_back(k);
            m.text += u'?';
            i = end - 1;
            continue;
        }
        m.text += c;
    }
    return m;
}

Markers insertRows(const Markers& single, int rows, RowsForm form)
{
    static const QRegularExpression re(
        QStringLiteral(R"(^(\s*insert\s+into\s+[\w.]+\s*\([^()]*\)\s*)values\s*\((.*)\)\s*$)"),
        QRegularExpression::CaseInsensitiveOption | QRegularExpression::DotMatchesEverythingOption);
    const auto m = re.match(single.text);
    if (!m.hasMatch())
        return {};
    const bool values = form == RowsForm::Values;
    const QString row = values ? u'(' + m.captured(2) + u')' : m.captured(2);
    const QString head = values ? QStringLiteral("values ") : QStringLiteral("select ");
    const QString between = values ? QStringLiteral(",") : QStringLiteral(" union all select ");
    Markers out;
    out.text.reserve(m.capturedLength(1) + head.size() + rows * (row.size() + between.size()));
    out.text += m.captured(1);
    out.text += head;
    const int names = int(single.names.size());
    out.markers.reserve(size_t(rows) * single.markers.size());
    for (int r = 0; r < rows; ++r) {
        if (r > 0)
            out.text += between;
        out.text += row;
        for (const int k : single.markers)
            out.markers.push_back(r * names + k);
        for (const QString& name : single.names)
            out.names.append(name);
    }
    return out;
}

} // namespace db::odbc

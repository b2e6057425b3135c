#include "db/odbc_markers.h"

#include "db/dialect.h"

#include <QRegularExpression>

namespace db::odbc {

Markers markers(const QString& text)
{
    Markers m;
    m.text = replaceParameters(text, m.names, [&m](int k) {
        m.markers.push_back(k);
        return QStringLiteral("?");
    });
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

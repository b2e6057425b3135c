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

Markers insertRows(const Markers& single, int rows, RowsForm form) { return insertRows(single, rows, form, {}); }

Markers insertRows(const Markers& single, int rows, RowsForm form, const QList<QString>& written)
{
    static const QRegularExpression re(
        QStringLiteral(R"(^(\s*insert\s+into\s+[\w.]+\s*\([^()]*\)\s*)values\s*\((.*)\)\s*$)"),
        QRegularExpression::CaseInsensitiveOption | QRegularExpression::DotMatchesEverythingOption);
    static const QRegularExpression markersOnly(QStringLiteral(R"(^\s*\?(\s*,\s*\?)*\s*$)"));
    const auto m = re.match(single.text);
    if (!m.hasMatch())
        return {};
    // The names bound in each row, and each marker's place among them.
    QList<int> bound;
    std::vector<int> place(single.names.size(), -1);
    for (int k = 0; k < int(single.names.size()); ++k)
        if (k >= written.size() || written[k].isEmpty()) {
            place[size_t(k)] = int(bound.size());
            bound.append(k);
        }
    QString body = m.captured(2);
    if (bound.size() < single.names.size()) {
        if (!markersOnly.match(body).hasMatch())
            return {};
        QStringList items;
        for (const int k : single.markers)
            items.append(place[size_t(k)] < 0 ? written[k] : QStringLiteral("?"));
        body = items.join(u',');
    }
    const bool values = form == RowsForm::Values;
    const QString row = values ? u'(' + body + u')' : body;
    const QString head = values ? QStringLiteral("values ") : QStringLiteral("select ");
    const QString between = values ? QStringLiteral(",") : QStringLiteral(" union all select ");
    Markers out;
    out.text.reserve(m.capturedLength(1) + head.size() + rows * (row.size() + between.size()));
    out.text += m.captured(1);
    out.text += head;
    const int names = int(bound.size());
    out.markers.reserve(size_t(rows) * single.markers.size());
    for (int r = 0; r < rows; ++r) {
        if (r > 0)
            out.text += between;
        out.text += row;
        for (const int k : single.markers)
            if (place[size_t(k)] >= 0)
                out.markers.push_back(r * names + place[size_t(k)]);
        for (const int k : bound)
            out.names.append(single.names[k]);
    }
    return out;
}

} // namespace db::odbc

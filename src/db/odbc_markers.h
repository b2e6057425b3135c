#pragma once

#include <QList>
#include <QString>

#include <vector>

namespace db::odbc {

// A statement text with named parameters (":name") in the form ODBC takes:
// each name outside quotes becomes a "?" marker; a name used twice is two
// markers fed from one value.
struct Markers {
    QString text;
    QList<QString> names;     // one value per name, in the order first met
    std::vector<int> markers; // for each "?" in order, its index into names
    int parameter(const QString& name) const { return int(names.indexOf(name)); }
};
Markers markers(const QString& text);

// An INSERT of one VALUES row, in marker form, as the same INSERT of rows rows:
// "values (?,?),(?,?)", or "select ?,? union all select ?,?" for servers
// without VALUES lists. Markers of row r come after those of row r - 1 and
// feed from names r * names.size() on. Empty text when the statement is no
// such INSERT.
enum class RowsForm { Values, Select };
Markers insertRows(const Markers& single, int rows, RowsForm form = RowsForm::Values);
// The same with the value of name k written into the text where written[k]
// is not empty (a literal the rows share): names and markers then hold only
// the others, row by row. Empty text when the VALUES row is not markers alone.
Markers insertRows(const Markers& single, int rows, RowsForm form, const QList<QString>& written);

} // namespace db::odbc

#pragma once

#include <QList>
#include <QString>
#include <QStringList>

#include <span>
#include <string_view>

// The target tables the conversions write or read, described once as data:
// per column its name, the form its values are bound and declared in, its
// declared width in GBK bytes, the bytes the conversions keep of a value, its
// default and how the INSERT spells it. The INSERT texts and the binding of a
// row (target/row.h) derive from the description; a test holds the DDL files
// and docs/schema.md to it.
namespace quorvan {

// How a column's values are bound, and so declared: text (VARCHAR of its
// width), amount (NUMERIC(18,4)), integer (INTEGER) or number (a double).
enum class Form { Text, Amount, Integer, Number };

// The cut of a column whose values are kept whole: every byte, never none.
inline constexpr int kWhole = 0;

struct Column {
    std::string_view name;
    Form form = Form::Text;
    int width = 0;                 // declared width in GBK bytes; text only
    int cut = kWhole;              // bytes the conversions keep, kWhole for the whole value
    bool key = false;              // part of the primary key: NOT NULL, no default
    std::string_view defaultValue; // bound where a row gives no value (UTF-8 text or a number); empty: '' or 0
    std::string_view spelling;     // the name as the INSERT spells it, when not as `name`

    // Keeps the first `bytes` bytes of a value (at least one, not more than the width).
    constexpr Column keep(int bytes) const
    {
        if (bytes < 1)
            throw "a cut keeps at least one byte";
        Column c = *this;
        c.cut = bytes;
        return c;
    }
    constexpr Column keepWidth() const { return keep(width); }
    constexpr Column inKey() const
    {
        Column c = *this;
        c.key = true;
        return c;
    }
    // The fixed value every conversion writes, unless a row gives another.
    constexpr Column byDefault(std::string_view value) const
    {
        Column c = *this;
        c.defaultValue = value;
        return c;
    }
    constexpr Column spelled(std::string_view asWritten) const
    {
        Column c = *this;
        c.spelling = asWritten;
        return c;
    }
};

constexpr Column column(std::string_view name, Form form, int width = 0)
{
    Column c;
    c.name = name;
    c.form = form;
    c.width = width;
    return c;
}
constexpr Column text(std::string_view name, int width) { return column(name, Form::Text, width); }
constexpr Column amount(std::string_view name) { return column(name, Form::Amount); }
constexpr Column integer(std::string_view name) { return column(name, Form::Integer); }
constexpr Column number(std::string_view name) { return column(name, Form::Number); }

// How a table's INSERT lays out its column list and parameters in lines.
enum class Layout {
    Plain,  // "insert into t (a,b", ") values (", ":a,:b)"
    Spaced, // "insert into t (a,b ", " ) values (", " :a,:b )"
    Broken, // both lists broken before the column breakBefore: "insert into t (a,", "b ) values (", ":a,", ":b)"
};

struct Table {
    std::string_view name;
    std::span<const Column> columns;
    Layout layout = Layout::Plain;
    std::string_view breakBefore;
};

// The position of a column, found when compiling: a name that is not there does not compile.
consteval int indexOf(std::span<const Column> columns, std::string_view name)
{
    for (std::size_t k = 0; k < columns.size(); ++k)
        if (columns[k].name == name)
            return int(k);
    throw "no such column";
}

consteval int cutOf(std::span<const Column> columns, std::string_view name)
{
    return columns[std::size_t(indexOf(columns, name))].cut;
}

// A table as described, checked when compiling: names unique, a width for
// every text and only there, a cut within the width, no default in a key.
consteval Table describe(std::string_view name, std::span<const Column> columns, Layout layout = Layout::Plain,
                         std::string_view breakBefore = {})
{
    for (std::size_t k = 0; k < columns.size(); ++k) {
        const Column& c = columns[k];
        if ((c.form == Form::Text) != (c.width > 0))
            throw "a text column has a width, any other none";
        if (c.cut < 0 || c.cut > c.width)
            throw "a cut keeps at most the width";
        if (c.key && !c.defaultValue.empty())
            throw "a key column has no default";
        for (std::size_t j = 0; j < k; ++j)
            if (columns[j].name == c.name)
                throw "a column described twice";
    }
    if ((layout == Layout::Broken) != !breakBefore.empty())
        throw "a broken layout names the column it breaks before";
    if (layout == Layout::Broken)
        indexOf(columns, breakBefore);
    return {name, columns, layout, breakBefore};
}

// Every table described here.
std::span<const Table> tables();

// The parameter a column is bound to: its name as the INSERT spells it, blanks left out.
QString parameterName(const Column& column);

// The lines of the INSERT of the first `columns` columns of a table (all when -1).
QStringList insertLines(const Table& table, qsizetype columns = -1);

} // namespace quorvan

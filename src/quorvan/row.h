#pragma once

#include "db/amount.h"
#include "db/query.h"
#include "quorvan/column.h"
#include "textutil/gbk.h"

#include <QByteArray>
#include <QString>

#include <array>
#include <cstddef>
#include <span>
#include <variant>
#include <vector>

namespace quorvan {

// A column name as a template argument: a row names its columns when compiling.
template <std::size_t N>
struct ColumnName {
    char chars[N];
    consteval ColumnName(const char (&s)[N])
    {
        for (std::size_t k = 0; k < N; ++k)
            chars[k] = s[k];
    }
    constexpr std::string_view view() const { return {chars, N - 1}; }
};

// A value of one column of a row: none (the column's default goes in), a GBK
// text, an amount, an integer or a number.
using Value = std::variant<std::monostate, QByteArray, db::Amount, qint64, double>;

// A table's description as binding needs it when running: per column its
// parameter name and its default, in the column's form.
class Binding {
public:
    explicit Binding(const Table& table);
    // Binds every value, the default where there is none, in the order of the
    // columns, and executes the INSERT.
    void insert(db::Query& statement, std::span<const Value> values) const;

private:
    struct Slot {
        QString parameter;
        Value byDefault;
    };
    std::vector<Slot> m_columns;
};

// One row of the table T: values set by column name and checked against the
// column's form when compiling; texts are cut as the column says. insert()
// binds it by position from the description.
template <const Table& T>
class Row {
public:
    static constexpr std::size_t kColumns = T.columns.size();

    template <ColumnName C>
    void text(const QByteArray& gbkText)
    {
        constexpr Column c = described<C>();
        static_assert(c.form == Form::Text, "a text goes into a text column");
        if constexpr (c.cut == kWhole)
            m_values[index<C>()] = gbkText;
        else
            m_values[index<C>()] = gbk::cut(gbkText, c.cut);
    }
    template <ColumnName C>
    void amount(db::Amount value)
    {
        static_assert(described<C>().form == Form::Amount, "an amount goes into an amount column");
        m_values[index<C>()] = value;
    }
    // Any number column takes an integer.
    template <ColumnName C>
    void integer(qint64 value)
    {
        static_assert(described<C>().form != Form::Text, "an integer goes into a number column");
        m_values[index<C>()] = value;
    }
    template <ColumnName C>
    void number(double value)
    {
        static_assert(described<C>().form == Form::Number, "a number goes into a number column");
        m_values[index<C>()] = value;
    }
    // A text bound as it is into a column of another form, where a statement has always done so.
    template <ColumnName C>
    void verbatim(const QByteArray& gbkText)
    {
        static_assert(described<C>().form != Form::Text, "a text column takes text()");
        m_values[index<C>()] = gbkText;
    }

    // Binds and executes the INSERT of the first `columns` columns.
    void insert(db::Query& statement, std::size_t columns = kColumns) const
    {
        static const Binding binding(T);
        binding.insert(statement, std::span<const Value>(m_values).first(columns));
    }

private:
    template <ColumnName C>
    static consteval std::size_t index()
    {
        return std::size_t(indexOf(T.columns, C.view()));
    }
    template <ColumnName C>
    static consteval Column described()
    {
        return T.columns[index<C>()];
    }

    std::array<Value, kColumns> m_values;
};

} // namespace quorvan

#include "quorvan/row.h"

#include "textutil/gbk.h"

namespace quorvan {
namespace {

// A described default in the form of its column: UTF-8 text as GBK, numbers parsed; empty is '' or 0.
Value defaultOf(const Column& c)
{
    const QString text = QString::fromUtf8(c.defaultValue.data(), qsizetype(c.defaultValue.size()));
    switch (c.form) {
    case Form::Amount:
        return db::Amount::parse(text).value_or(db::Amount());
    case Form::Integer:
        return text.toLongLong();
    case Form::Number:
        return text.toDouble();
    case Form::Text:
        break;
    }
    return gbk::fromUnicode(text);
}

struct Bind {
    db::Query& statement;
    const QString& name;
    void operator()(std::monostate) const {}
    void operator()(const QByteArray& text) const { statement.bindText(name, text); }
    void operator()(db::Amount value) const { statement.bindAmount(name, value); }
    void operator()(qint64 value) const { statement.bindInteger(name, value); }
    void operator()(double value) const { statement.bindNumber(name, value); }
};

} // namespace

Binding::Binding(const Table& table)
{
    m_columns.reserve(table.columns.size());
    for (const Column& c : table.columns)
        m_columns.push_back({parameterName(c), defaultOf(c)});
}

void Binding::insert(db::Query& statement, std::span<const Value> values) const
{
    for (std::size_t k = 0; k < values.size(); ++k) {
        const Slot& slot = m_columns[k];
        const Value& v = std::holds_alternative<std::monostate>(values[k]) ? slot.byDefault : values[k];
        std::visit(Bind{statement, slot.parameter}, v);
    }
    statement.exec();
}

} // namespace quorvan

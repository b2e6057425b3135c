#pragma once

#include "db/amount.h"
#include "db/query.h"
#include "quorvan/column.h"

#include <QByteArray>
#include <QString>

#include <span>
#include <variant>
#include <vector>

namespace quorvan {

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

} // namespace quorvan

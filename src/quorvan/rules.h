#pragma once

#include "db/query.h"
#include "quorvan/column.h"
#include "quorvan/row.h"
#include "shell/operation.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <initializer_list>
#include <string_view>
#include <vector>

// A conversion as a list of rules, one per target column it fills, in the
// order the source fields are read, each saying where the column's value
// comes from. The source fields read, the width check's fields and the
// reconciliation key derive from the list, so a field is named once. Columns
// without a rule take their described default.
namespace quorvan {

struct Rule {
    enum class Kind {
        Code,          // the row's key: the field trimmed; it names the row in the log
        CutCode,       // the row's key: the field trimmed and cut as its column keeps it
        Field,         // a text as read
        Flag,          // a truth value as "1" or "0"; NULL is false
        Amount,        // an amount; NULL is 0
        Number,        // a number; NULL is 0
        Integer,       // a fixed integer, no field
        Stamp,         // the run's time stamp, no field
        Hook,          // a text the hook makes of the field
        Parent,        // a parent code as read; exactly "-1" is the top level (empty)
        ParentByLevel, // the code's prefix that the level setting gives the level the field holds
    };
    using HookFn = QByteArray (*)(const db::Query& row, const QString& field);

    Kind kind = Kind::Field;
    std::string_view column;
    std::string_view field;
    qint64 integer = 0;
    HookFn hook = nullptr;
    bool beforeCheck = false; // read before the row is checked against the target

    // Read before the row is checked against the target, as a skipped row's fields are.
    constexpr Rule readBeforeCheck() const
    {
        Rule r = *this;
        r.beforeCheck = true;
        return r;
    }
};

// The rules by what they read, target column first.
namespace rule {

constexpr Rule code(std::string_view column, std::string_view field) { return {Rule::Kind::Code, column, field}; }
constexpr Rule cutCode(std::string_view column, std::string_view field) { return {Rule::Kind::CutCode, column, field}; }
constexpr Rule field(std::string_view column, std::string_view field) { return {Rule::Kind::Field, column, field}; }
constexpr Rule flag(std::string_view column, std::string_view field) { return {Rule::Kind::Flag, column, field}; }
constexpr Rule amount(std::string_view column, std::string_view field) { return {Rule::Kind::Amount, column, field}; }
constexpr Rule number(std::string_view column, std::string_view field) { return {Rule::Kind::Number, column, field}; }
constexpr Rule integer(std::string_view column, qint64 value) { return {Rule::Kind::Integer, column, {}, value}; }
constexpr Rule stamp(std::string_view column) { return {Rule::Kind::Stamp, column, {}}; }
constexpr Rule parent(std::string_view column, std::string_view field) { return {Rule::Kind::Parent, column, field}; }
constexpr Rule parentByLevel(std::string_view column, std::string_view levelField)
{
    return {Rule::Kind::ParentByLevel, column, levelField};
}
constexpr Rule hook(std::string_view column, std::string_view field, Rule::HookFn fn)
{
    return {Rule::Kind::Hook, column, field, 0, fn};
}

} // namespace rule

// One row's values, by target column.
using Values = std::vector<Value>;

// A rule list bound to its source and target table: the columns found once.
class Rules {
public:
    Rules(const Table& target, QString sourceTable, std::initializer_list<Rule> rules);

    const Table& target() const { return m_target; }
    const QString& sourceTable() const { return m_sourceTable; }

    // The row's code, from the code rule.
    QByteArray code(const db::Query& row) const;

    // What a row's rules are given besides the row: its code, the run's time
    // stamp and, where parents go by level, the level setting.
    struct Given {
        const QByteArray& code;
        const QByteArray& stamp;
        QByteArray levels = {};
    };
    enum class Reading { All, BeforeCheck, AfterCheck };
    Values blank() const { return Values(m_target.columns.size()); }
    // Reads the values of the rules `reading` names, in the order of the list.
    void read(const db::Query& row, const Given& given, Values& values, Reading reading = Reading::All) const;
    // Whether a parent goes by level, so the level setting is needed.
    bool readsLevels() const;
    // Binds the values, the default where there is none, and executes the INSERT.
    void insert(db::Query& statement, const Values& values) const { m_binding.insert(statement, values); }

    // The fields read, as "a,b,c", in the order they are read.
    QString fieldList() const;
    // Fields read as they are, or a code trimmed, into text columns that keep
    // them whole: a value wider than the column is refused, so the width check
    // looks at them.
    QList<shell::FieldInto> widthChecked() const;
    // The key that carries a source row into its target row.
    QList<shell::KeyPart> key() const;

private:
    struct Compiled {
        Rule rule;
        std::size_t column;
        QString field;
    };
    const Table& m_target;
    QString m_sourceTable;
    std::vector<Compiled> m_rules;
    std::size_t m_code = 0; // the code rule
    Binding m_binding;
};

// A conversion of each row of a source table into one target row, as the
// rules say: read with "select * from <table> ", in source order, to the end
// whatever the abort box says.
shell::Operation rowByRow(Rules rules);

} // namespace quorvan

#pragma once

#include "db/query.h"
#include "quorvan/column.h"
#include "quorvan/row.h"
#include "shell/keyed_access.h"
#include "shell/operation.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <initializer_list>
#include <memory>
#include <span>
#include <string_view>
#include <vector>

// A conversion as a list of rules, one per target column it fills, in the
// order the source fields are read, each saying where the column's value
// comes from. The source fields read, the width check's fields and the
// reconciliation key derive from the list, so a field is named once. Columns
// without a rule take their described default.
namespace shell {
class Run;
}

namespace quorvan {

// A keyed lookup as data: the answer field of the first row of table whose key
// field holds the key; with `first`, of the first row the source gives ("top 1").
struct Lookup {
    std::string_view table;
    std::string_view key;
    std::string_view answer;
    bool first = false;
};

// A lookup as a run asks it: the answer trimmed, empty when there is none,
// kept for the run.
class Asking {
public:
    Asking(const QString& table, const QString& key, const QString& answer, bool first = false);
    // together: the other answers asked of the table by the same key, loaded with it.
    explicit Asking(const Lookup& lookup, const QStringList& together = {});
    QByteArray answer(shell::Run& run, const QByteArray& key) const;
    // A key a row read ahead will look up, asked with the others listed.
    void list(shell::Run& run, const QByteArray& key) const;

private:
    shell::Lookup m_lookup;
};

struct Rule {
    enum class Kind {
        Code,          // the row's key: the field trimmed; it names the row in the log
        CutCode,       // the row's key: the field trimmed and cut as its column keeps it
        Field,         // a text as read
        Flag,          // a truth value as "1" or "0"; NULL is false
        NotFlag,       // a truth value inverted: "0" where true, else "1"
        Amount,        // an amount; NULL is 0
        Positive,      // an amount above 0; else none, so the column's default
        Number,        // a number; NULL is 0
        Integer,       // a fixed integer, no field
        Stamp,         // the run's time stamp, no field
        Hook,          // a text the hook makes of the field
        Parent,        // a parent code as read; exactly "-1" is the top level (empty)
        ParentByLevel, // the code's prefix that the level setting gives the level the field holds
        Trimmed,       // a text trimmed
        Text,          // a fixed text, no field
        Today,         // the run's day "yyyy-MM-dd", no field
        Lookup,        // a text looked up by the field as read, or trimmed, or by the row's code (no field)
        Valued,        // an amount: the quantity column's value times a price looked up, read softly
        SoftAmount,    // an amount; NULL or unreadable is 0
        IsOne,         // "1" where the field is exactly "1", else "0"
        NotOne,        // "0" where the field is exactly "1", else "1"
        Mnemonic,      // the mnemonic code of the field's text
    };
    using HookFn = QByteArray (*)(const db::Query& row, const QString& field);
    using ThroughFn = QByteArray (*)(const QByteArray& text);

    Kind kind = Kind::Field;
    std::string_view column;
    std::string_view field;
    qint64 integer = 0;
    HookFn hook = nullptr;
    bool beforeCheck = false; // read before the row is checked against the target
    std::string_view text;    // a fixed text (UTF-8); the quantity column of a valued amount
    quorvan::Lookup lookup;
    bool trimKey = false;        // a lookup by the field trimmed
    ThroughFn through = nullptr; // makes the column's text of the text read or looked up

    // Read before the row is checked against the target, as a skipped row's fields are.
    constexpr Rule readBeforeCheck() const
    {
        Rule r = *this;
        r.beforeCheck = true;
        return r;
    }
    // The text read or looked up, made into the column's text by fn.
    constexpr Rule passedThrough(ThroughFn fn) const
    {
        Rule r = *this;
        r.through = fn;
        return r;
    }
};

// The rules by what they read, target column first.
namespace rule {

constexpr Rule of(Rule::Kind kind, std::string_view column, std::string_view field = {})
{
    Rule r;
    r.kind = kind;
    r.column = column;
    r.field = field;
    return r;
}

constexpr Rule code(std::string_view column, std::string_view field) { return of(Rule::Kind::Code, column, field); }
constexpr Rule cutCode(std::string_view column, std::string_view field)
{
    return of(Rule::Kind::CutCode, column, field);
}
constexpr Rule field(std::string_view column, std::string_view field) { return of(Rule::Kind::Field, column, field); }
constexpr Rule flag(std::string_view column, std::string_view field) { return of(Rule::Kind::Flag, column, field); }
constexpr Rule notFlag(std::string_view column, std::string_view field)
{
    return of(Rule::Kind::NotFlag, column, field);
}
constexpr Rule amount(std::string_view column, std::string_view field) { return of(Rule::Kind::Amount, column, field); }
constexpr Rule positive(std::string_view column, std::string_view field)
{
    return of(Rule::Kind::Positive, column, field);
}
constexpr Rule number(std::string_view column, std::string_view field) { return of(Rule::Kind::Number, column, field); }
constexpr Rule integer(std::string_view column, qint64 value)
{
    Rule r = of(Rule::Kind::Integer, column);
    r.integer = value;
    return r;
}
constexpr Rule stamp(std::string_view column) { return of(Rule::Kind::Stamp, column); }
constexpr Rule parent(std::string_view column, std::string_view field) { return of(Rule::Kind::Parent, column, field); }
constexpr Rule parentByLevel(std::string_view column, std::string_view levelField)
{
    return of(Rule::Kind::ParentByLevel, column, levelField);
}
constexpr Rule hook(std::string_view column, std::string_view field, Rule::HookFn fn)
{
    Rule r = of(Rule::Kind::Hook, column, field);
    r.hook = fn;
    return r;
}
constexpr Rule trimmed(std::string_view column, std::string_view field)
{
    return of(Rule::Kind::Trimmed, column, field);
}
constexpr Rule softAmount(std::string_view column, std::string_view field)
{
    return of(Rule::Kind::SoftAmount, column, field);
}
constexpr Rule isOne(std::string_view column, std::string_view field) { return of(Rule::Kind::IsOne, column, field); }
constexpr Rule notOne(std::string_view column, std::string_view field) { return of(Rule::Kind::NotOne, column, field); }
constexpr Rule mnemonic(std::string_view column, std::string_view field)
{
    return of(Rule::Kind::Mnemonic, column, field);
}
constexpr Rule today(std::string_view column) { return of(Rule::Kind::Today, column); }
constexpr Rule constant(std::string_view column, std::string_view utf8)
{
    Rule r = of(Rule::Kind::Text, column);
    r.text = utf8;
    return r;
}

// The lookups, as data.
constexpr Lookup from(std::string_view table, std::string_view key, std::string_view answer)
{
    return {table, key, answer};
}
constexpr Lookup firstOf(std::string_view table, std::string_view key, std::string_view answer)
{
    return {table, key, answer, true};
}
// A text looked up by a field as read.
constexpr Rule lookup(std::string_view column, Lookup l, std::string_view byField)
{
    Rule r = of(Rule::Kind::Lookup, column, byField);
    r.lookup = l;
    return r;
}
// A text looked up by a field trimmed.
constexpr Rule lookupTrimmed(std::string_view column, Lookup l, std::string_view byField)
{
    Rule r = lookup(column, l, byField);
    r.trimKey = true;
    return r;
}
// A text looked up by the row's code.
constexpr Rule lookupByCode(std::string_view column, Lookup l) { return lookup(column, l, {}); }
// An amount column: the amount of quantityColumn times a price looked up by a
// field trimmed; a price missing or not a number counts 0.
constexpr Rule valued(std::string_view column, std::string_view quantityColumn, Lookup price, std::string_view byField)
{
    Rule r = lookupTrimmed(column, price, byField);
    r.kind = Rule::Kind::Valued;
    r.text = quantityColumn;
    return r;
}

} // namespace rule

// One row's values, by target column.
using Values = std::vector<Value>;

// A rule list bound to its source and target table: the columns found once.
class Rules {
public:
    // Only the first `columns` columns are written (all when -1).
    Rules(const Table& target, QString sourceTable, std::span<const Rule> rules, qsizetype columns = -1);
    Rules(const Table& target, QString sourceTable, std::initializer_list<Rule> rules, qsizetype columns = -1)
        : Rules(target, std::move(sourceTable), std::span<const Rule>(rules.begin(), rules.size()), columns)
    {
    }

    const Table& target() const { return m_target; }
    const QString& sourceTable() const { return m_sourceTable; }

    // The INSERT of the columns written.
    QStringList insertLines() const { return quorvan::insertLines(m_target, m_columns); }

    // The row's code, from the code rules: each part trimmed, one after another;
    // where parts is given, it keeps the parts for read() of the same row.
    QByteArray code(const db::Query& row, std::vector<QByteArray>* parts = nullptr) const;

    // What a row's rules are given besides the row: its code, the run's time
    // stamp, where parents go by level the level setting, the run that
    // answers lookups, and the code's parts as code() kept them, not read again.
    struct Given {
        const QByteArray& code;
        const QByteArray& stamp;
        QByteArray levels = {};
        shell::Run* run = nullptr;
        const std::vector<QByteArray>* parts = nullptr;
    };
    enum class Reading { All, BeforeCheck, AfterCheck };
    Values blank() const { return Values(m_target.columns.size()); }
    // Reads the values of the rules `reading` names, in the order of the list.
    void read(const db::Query& row, const Given& given, Values& values, Reading reading = Reading::All) const;
    // Whether a parent goes by level, so the level setting is needed.
    bool readsLevels() const;
    // Binds the values, the default where there is none, and executes the INSERT.
    void insert(db::Query& statement, const Values& values) const
    {
        m_binding.insert(statement, std::span<const Value>(values).first(std::size_t(m_columns)));
    }
    // From a walk's ahead function: the keys the row's lookups will ask.
    void listLookups(shell::Run& run, const db::Query& row) const;

    // The fields read, as "a,b,c", in the order first read.
    QString fieldList() const;
    // The source tables looked up, each with its answer fields and key as "a,b,k".
    QList<shell::TableUse> lookupUses() const;
    // Fields read as they are, trimmed, or looked up, into text columns that
    // keep them whole: a value wider than the column is refused, so the width
    // check looks at them. Trimmed fields first, then fields as read, then the
    // lookups.
    QList<shell::FieldInto> widthChecked(const QString& filter = QString()) const;
    // The key that carries a source row into its target row: the code rules.
    QList<shell::KeyPart> key() const;
    // The rule of a column, null when none has one.
    const Rule* ruleOf(std::string_view column) const;

private:
    struct Compiled {
        Rule rule;
        std::size_t column;
        QString field;
        QByteArray text;                // a fixed text in GBK
        std::shared_ptr<Asking> asking; // a lookup's statement
        std::size_t quantity = 0;       // a valued amount's quantity column
        int key = -1;                   // the key it reads, among m_keys; -1 for the row's code
    };
    // The fields a row's rules read as text, as read or trimmed, each read once per row.
    struct Key {
        QString field;
        bool trimmed;
    };
    class Keys;
    const QByteArray& keyOf(const Compiled& r, Keys& keys, const QByteArray& code) const;
    const Table& m_target;
    QString m_sourceTable;
    qsizetype m_columns;
    std::vector<Compiled> m_rules;
    std::vector<std::size_t> m_codes;  // the code rules
    std::vector<std::size_t> m_valued; // the valued amounts, worked out last
    std::vector<Key> m_keys;
    Binding m_binding;
};

// A conversion of each row of a source table into one target row, as the
// rules say: read with "select * from <table>" and `gap` blanks, in source
// order, to the end whatever the abort box says.
shell::Operation rowByRow(Rules rules);
// The walk of rowByRow into its prepared INSERT, with the level setting given.
void walkRows(shell::Run& run, const Rules& rules, const QString& gap, const QByteArray& levels = {});
// The source tables an operation of rule lists reads: each list's table, then
// the tables it looks up that no list walks.
QList<shell::TableUse> sourceUsesOf(std::initializer_list<const Rules*> lists);

} // namespace quorvan

#pragma once

#include "db/query.h"
#include "quorvan/column.h"
#include "quorvan/row.h"
#include "shell/operation.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <initializer_list>
#include <string_view>
#include <vector>

namespace shell {
class Run;
}

// A conversion as a list of rules, one per target column it fills, each
// saying where the column's value comes from. The source fields read, the
// width check's fields and the reconciliation key derive from the list, so a
// field is named once. Columns without a rule take their described default.
namespace quorvan {

struct Rule {
    enum class Kind {
        Code,  // the row's key: the field trimmed; it names the row in the log
        Field, // a text as read
        Stamp, // the run's time stamp
    };
    Kind kind = Kind::Field;
    std::string_view column;
    std::string_view field; // the source field, empty for the stamp
};

constexpr Rule code(std::string_view column, std::string_view field) { return {Rule::Kind::Code, column, field}; }
constexpr Rule field(std::string_view column, std::string_view field) { return {Rule::Kind::Field, column, field}; }
constexpr Rule stamp(std::string_view column) { return {Rule::Kind::Stamp, column, {}}; }

// A rule list bound to its target table: the columns found once, the fields
// read in the order of the rules.
class Rules {
public:
    Rules(const Table& target, QString sourceTable, std::initializer_list<Rule> rules);

    const Table& target() const { return m_target; }
    const QString& sourceTable() const { return m_sourceTable; }

    // The row's code, from the code rule.
    QByteArray code(const db::Query& row) const;
    // Binds the row as the rules say, texts cut as their columns keep them, and executes the INSERT.
    void write(db::Query& insert, const db::Query& row, const QByteArray& code, const QByteArray& stamp) const;

    // The fields read, as "a,b,c", in the order they are read.
    QString fieldList() const;
    // Fields read as they are into text columns that keep them whole: a value
    // wider than the column is refused, so the width check looks at them.
    QList<shell::FieldInto> widthChecked() const;
    // The key that carries a source row into its target row.
    QList<shell::KeyPart> key() const;

private:
    struct Compiled {
        Rule::Kind kind;
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

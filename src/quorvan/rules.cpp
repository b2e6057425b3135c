#include "quorvan/rules.h"

#include "quorvan/categories.h"
#include "shell/runframe.h"
#include "textutil/gbk.h"
#include "textutil/plib.h"

#include <memory>
#include <stdexcept>

namespace quorvan {
namespace {

QString latin1(std::string_view s) { return QString::fromLatin1(s.data(), qsizetype(s.size())); }

std::size_t columnIndex(const Table& table, std::string_view name)
{
    for (std::size_t k = 0; k < table.columns.size(); ++k)
        if (table.columns[k].name == name)
            return k;
    throw std::logic_error("a rule names a column its table does not describe");
}

// Whether a rule's value fits its column's form.
bool fits(Rule::Kind kind, Form form)
{
    switch (kind) {
    case Rule::Kind::Amount:
        return form == Form::Amount;
    case Rule::Kind::Number:
        return form == Form::Number;
    case Rule::Kind::Integer:
        return form != Form::Text;
    default:
        return form == Form::Text;
    }
}

} // namespace

Rules::Rules(const Table& target, QString sourceTable, std::initializer_list<Rule> rules)
    : m_target(target), m_sourceTable(std::move(sourceTable)), m_binding(target)
{
    m_rules.reserve(rules.size());
    bool hasCode = false;
    for (const Rule& r : rules) {
        const std::size_t column = columnIndex(target, r.column);
        if (!fits(r.kind, target.columns[column].form))
            throw std::logic_error("a rule's value does not fit its column");
        if (r.kind == Rule::Kind::Code || r.kind == Rule::Kind::CutCode) {
            m_code = m_rules.size();
            hasCode = true;
        }
        m_rules.push_back({r, column, latin1(r.field)});
    }
    if (!hasCode)
        throw std::logic_error("a conversion's rules have a code rule");
}

QByteArray Rules::code(const db::Query& row) const
{
    const Compiled& r = m_rules[m_code];
    const QByteArray trimmed = gbk::trim(row.text(r.field));
    return r.rule.kind == Rule::Kind::CutCode ? gbk::cut(trimmed, m_target.columns[r.column].cut) : trimmed;
}

void Rules::read(const db::Query& row, const Given& given, Values& values, Reading reading) const
{
    for (const Compiled& r : m_rules) {
        if (reading != Reading::All && r.rule.beforeCheck != (reading == Reading::BeforeCheck))
            continue;
        QByteArray text;
        switch (r.rule.kind) {
        case Rule::Kind::Code:
        case Rule::Kind::CutCode:
            text = given.code;
            break;
        case Rule::Kind::Field:
            text = row.text(r.field);
            break;
        case Rule::Kind::Flag:
            text = textutil::ChooseValue<QByteArray>(row.truth(r.field), "1", "0");
            break;
        case Rule::Kind::Stamp:
            text = given.stamp;
            break;
        case Rule::Kind::Parent:
            text = row.text(r.field);
            if (text == "-1") // only the exact text; a padded one is kept as the parent code
                text.clear();
            break;
        case Rule::Kind::ParentByLevel:
            text = parentByLevel(given.code, row.integer(r.field), given.levels);
            break;
        case Rule::Kind::Hook:
            text = r.rule.hook(row, r.field);
            break;
        case Rule::Kind::Amount:
            values[r.column] = row.amount(r.field);
            continue;
        case Rule::Kind::Number:
            values[r.column] = row.number(r.field);
            continue;
        case Rule::Kind::Integer:
            values[r.column] = r.rule.integer;
            continue;
        }
        const int cut = m_target.columns[r.column].cut;
        values[r.column] = cut == kWhole ? text : gbk::cut(text, cut);
    }
}

bool Rules::readsLevels() const
{
    for (const Compiled& r : m_rules)
        if (r.rule.kind == Rule::Kind::ParentByLevel)
            return true;
    return false;
}

QString Rules::fieldList() const
{
    QStringList fields;
    for (const Compiled& r : m_rules)
        if (!r.field.isEmpty())
            fields << r.field;
    return fields.join(u',');
}

QList<shell::FieldInto> Rules::widthChecked() const
{
    QList<shell::FieldInto> out;
    for (const Compiled& r : m_rules) {
        const Column& c = m_target.columns[r.column];
        const bool trimmed = r.rule.kind == Rule::Kind::Code;
        const bool asRead = r.rule.kind == Rule::Kind::Field || r.rule.kind == Rule::Kind::Parent;
        if ((trimmed || asRead) && c.cut == kWhole)
            out << shell::FieldInto{m_sourceTable, r.field, latin1(m_target.name), latin1(c.name), trimmed, {}, kWhole};
    }
    return out;
}

QList<shell::KeyPart> Rules::key() const
{
    const Compiled& r = m_rules[m_code];
    const Column& c = m_target.columns[r.column];
    return {{r.field, latin1(c.name), c.cut}};
}

shell::Operation rowByRow(Rules rules)
{
    const auto shared = std::make_shared<const Rules>(std::move(rules));
    const QStringList insert = insertLines(shared->target());
    shell::Operation op;
    op.body = [shared, insert](shell::Run& run) {
        const Rules& r = *shared;
        db::Query& statement = run.target(insert);
        run.walk(
            QStringLiteral("select * from ") + r.sourceTable() + u' ', false,
            [&](const db::Query& row) { return r.code(row); },
            [&](const db::Query& row, const QByteArray& code) {
                Values values = r.blank();
                r.read(row, {code, run.stamp()}, values);
                r.insert(statement, values);
            });
    };
    op.uses = {shell::sourceUse(shared->sourceTable(), shared->fieldList()), shell::insertUse(insert)};
    op.fields = shared->widthChecked();
    op.reconciliation.rows = {{shared->sourceTable(), QString(), shared->key(), latin1(shared->target().name)}};
    return op;
}

} // namespace quorvan

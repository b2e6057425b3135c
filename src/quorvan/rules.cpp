#include "quorvan/rules.h"

#include "shell/runframe.h"
#include "textutil/gbk.h"

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

} // namespace

Rules::Rules(const Table& target, QString sourceTable, std::initializer_list<Rule> rules)
    : m_target(target), m_sourceTable(std::move(sourceTable)), m_binding(target)
{
    m_rules.reserve(rules.size());
    for (const Rule& r : rules) {
        const std::size_t column = columnIndex(target, r.column);
        const bool isText = target.columns[column].form == Form::Text;
        if (!isText)
            throw std::logic_error("a rule of a text names a text column");
        m_rules.push_back({r.kind, column, latin1(r.field)});
    }
    bool hasCode = false;
    for (std::size_t k = 0; k < m_rules.size(); ++k)
        if (m_rules[k].kind == Rule::Kind::Code) {
            m_code = k;
            hasCode = true;
        }
    if (!hasCode)
        throw std::logic_error("a row-by-row conversion has a code rule");
}

QByteArray Rules::code(const db::Query& row) const { return gbk::trim(row.text(m_rules[m_code].field)); }

void Rules::write(db::Query& insert, const db::Query& row, const QByteArray& code, const QByteArray& stamp) const
{
    std::vector<Value> values(m_target.columns.size());
    for (const Compiled& r : m_rules) {
        QByteArray text;
        switch (r.kind) {
        case Rule::Kind::Code:
            text = code;
            break;
        case Rule::Kind::Field:
            text = row.text(r.field);
            break;
        case Rule::Kind::Stamp:
            text = stamp;
            break;
        }
        const int cut = m_target.columns[r.column].cut;
        values[r.column] = cut == kWhole ? text : gbk::cut(text, cut);
    }
    m_binding.insert(insert, values);
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
        if (r.kind == Rule::Kind::Field && c.cut == kWhole)
            out << shell::FieldInto{m_sourceTable, r.field, latin1(m_target.name), latin1(c.name), false, {}, kWhole};
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
            [&](const db::Query& row, const QByteArray& code) { r.write(statement, row, code, run.stamp()); });
    };
    op.uses = {shell::sourceUse(shared->sourceTable(), shared->fieldList()), shell::insertUse(insert)};
    op.fields = shared->widthChecked();
    op.reconciliation.rows = {{shared->sourceTable(), QString(), shared->key(), latin1(shared->target().name)}};
    return op;
}

} // namespace quorvan

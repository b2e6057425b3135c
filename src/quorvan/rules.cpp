#include "quorvan/rules.h"

#include "quorvan/categories.h"
#include "shell/runframe.h"
#include "textutil/error.h"
#include "textutil/gbk.h"
#include "textutil/imcode.h"

#include <QVarLengthArray>

#include <algorithm>
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
    case Rule::Kind::Positive:
        return form == Form::Amount;
    case Rule::Kind::Number:
        return form == Form::Number;
    case Rule::Kind::Integer:
        return form != Form::Text;
    case Rule::Kind::Valued:
    case Rule::Kind::SoftAmount:
        return form == Form::Amount;
    default:
        return form == Form::Text;
    }
}

bool isLookup(Rule::Kind kind) { return kind == Rule::Kind::Lookup || kind == Rule::Kind::Valued; }

} // namespace

// The one place a lookup becomes the statement the run's lookups answer.
Asking::Asking(const QString& table, const QString& key, const QString& answer, bool first)
    : m_lookup(table, key, answer, first)
{
}

Asking::Asking(const Lookup& l, const QStringList& together)
    : m_lookup(latin1(l.table), latin1(l.key), latin1(l.answer), l.first, together)
{
}

QByteArray Asking::answer(shell::Run& run, const QByteArray& key) const { return run.lookup(m_lookup, key); }

void Asking::list(shell::Run& run, const QByteArray& key) const { run.listLookup(m_lookup, key); }

Rules::Rules(const Table& target, QString sourceTable, std::span<const Rule> rules, qsizetype columns)
    : m_target(target), m_sourceTable(std::move(sourceTable)),
      m_columns(columns < 0 ? qsizetype(target.columns.size()) : columns), m_binding(target)
{
    m_rules.reserve(rules.size());
    for (const Rule& r : rules) {
        const std::size_t column = columnIndex(target, r.column);
        if (qsizetype(column) >= m_columns)
            throw std::logic_error("a rule names a column its INSERT leaves out");
        if (!fits(r.kind, target.columns[column].form))
            throw std::logic_error("a rule's value does not fit its column");
        if (r.kind == Rule::Kind::Code || r.kind == Rule::Kind::CutCode)
            m_codes.push_back(m_rules.size());
        Compiled c{r, column, latin1(r.field), {}, nullptr, 0, -1};
        if (r.kind == Rule::Kind::Text)
            c.text = gbk::fromUnicode(QString::fromUtf8(r.text.data(), qsizetype(r.text.size())));
        if (isLookup(r.kind)) {
            QStringList together; // the list's other answers of the table by the same key
            for (const Rule& o : rules)
                if (isLookup(o.kind) && o.lookup.table == r.lookup.table && o.lookup.key == r.lookup.key &&
                    o.lookup.first == r.lookup.first && o.lookup.answer != r.lookup.answer)
                    together << latin1(o.lookup.answer);
            c.asking = std::make_shared<Asking>(r.lookup, together);
        }
        if (r.kind == Rule::Kind::Valued) {
            c.quantity = columnIndex(target, r.text);
            m_valued.push_back(m_rules.size());
        }
        m_rules.push_back(std::move(c));
    }
    if (m_codes.empty())
        throw std::logic_error("a conversion's rules have a code rule");
    for (Compiled& c : m_rules) {
        const Rule::Kind kind = c.rule.kind;
        const bool codePart = m_codes.size() > 1 && (kind == Rule::Kind::Code || kind == Rule::Kind::CutCode);
        const bool text = kind == Rule::Kind::Field || kind == Rule::Kind::Trimmed || kind == Rule::Kind::IsOne ||
                          kind == Rule::Kind::NotOne || kind == Rule::Kind::Mnemonic;
        if (!(codePart || text || (c.asking && !c.field.isEmpty())))
            continue;
        const Key key{c.field, codePart || c.rule.trimKey || kind == Rule::Kind::Trimmed};
        auto same = std::find_if(m_keys.begin(), m_keys.end(),
                                 [&](const Key& k) { return k.field == key.field && k.trimmed == key.trimmed; });
        c.key = int(same - m_keys.begin());
        if (same == m_keys.end())
            m_keys.push_back(key);
    }
    if (m_keys.size() > 64)
        throw std::logic_error("a rule list reads at most 64 keys");
    for (std::size_t v : m_valued) {
        const Rule* quantity = ruleOf(target.columns[m_rules[v].quantity].name);
        if (!quantity || (quantity->kind != Rule::Kind::Amount && quantity->kind != Rule::Kind::SoftAmount))
            throw std::logic_error("a valued amount's quantity is an amount read");
    }
}

const Rule* Rules::ruleOf(std::string_view column) const
{
    for (const Compiled& r : m_rules)
        if (r.rule.column == column)
            return &r.rule;
    return nullptr;
}

QByteArray Rules::code(const db::Query& row, std::vector<QByteArray>* parts) const
{
    if (m_codes.size() == 1) {
        const Compiled& r = m_rules[m_codes.front()];
        const QByteArray trimmed = gbk::trim(row.text(r.field));
        return r.rule.kind == Rule::Kind::CutCode ? gbk::cut(trimmed, m_target.columns[r.column].cut) : trimmed;
    }
    QByteArray code;
    if (parts)
        parts->clear();
    for (std::size_t k : m_codes) {
        QByteArray part = gbk::trim(row.text(m_rules[k].field));
        code += part;
        if (parts)
            parts->push_back(std::move(part));
    }
    return code;
}

// A row's keys, each read when first asked for.
class Rules::Keys {
public:
    Keys(const std::vector<Key>& keys, const db::Query& row)
        : m_keys(keys), m_row(row), m_values(qsizetype(keys.size()))
    {
    }
    // A key already read, as code() read the code's parts.
    void known(int k, const QByteArray& value)
    {
        m_values[k] = value;
        m_known |= quint64(1) << k;
    }
    const QByteArray& operator[](int k)
    {
        if (!(m_known & (quint64(1) << k))) {
            const Key& key = m_keys[std::size_t(k)];
            m_values[k] = key.trimmed ? gbk::trim(m_row.text(key.field)) : m_row.text(key.field);
            m_known |= quint64(1) << k;
        }
        return m_values[k];
    }

private:
    const std::vector<Key>& m_keys;
    const db::Query& m_row;
    QVarLengthArray<QByteArray, 16> m_values;
    quint64 m_known = 0;
};

const QByteArray& Rules::keyOf(const Compiled& r, Keys& keys, const QByteArray& code) const
{
    return r.key < 0 ? code : keys[r.key];
}

void Rules::read(const db::Query& row, const Given& given, Values& values, Reading reading) const
{
    static const QByteArray one = QByteArrayLiteral("1");
    static const QByteArray zero = QByteArrayLiteral("0");
    Keys keys(m_keys, row);
    if (given.parts && m_codes.size() > 1 && given.parts->size() == m_codes.size())
        for (std::size_t k = 0; k < m_codes.size(); ++k)
            keys.known(m_rules[m_codes[k]].key, (*given.parts)[k]);
    for (const Compiled& r : m_rules) {
        if (reading != Reading::All && r.rule.beforeCheck != (reading == Reading::BeforeCheck))
            continue;
        QByteArray text;
        switch (r.rule.kind) {
        case Rule::Kind::Code:
        case Rule::Kind::CutCode:
            text = keyOf(r, keys, given.code);
            break;
        case Rule::Kind::Field:
        case Rule::Kind::Trimmed:
            text = keys[r.key];
            break;
        case Rule::Kind::Text:
            text = r.text;
            break;
        case Rule::Kind::Today:
            text = given.run->today();
            break;
        case Rule::Kind::Lookup:
            text = r.asking->answer(*given.run, keyOf(r, keys, given.code));
            break;
        case Rule::Kind::IsOne:
            text = keys[r.key] == "1" ? one : zero;
            break;
        case Rule::Kind::NotOne:
            text = keys[r.key] == "1" ? zero : one;
            break;
        case Rule::Kind::Mnemonic:
            text = textutil::MnemonicCode(keys[r.key], textutil::kMnemonicKeepSigns, 255);
            break;
        case Rule::Kind::Flag:
            text = row.truth(r.field) ? one : zero;
            break;
        case Rule::Kind::NotFlag:
            text = row.truth(r.field) ? zero : one;
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
        case Rule::Kind::Positive:
            if (const db::Amount a = row.amount(r.field); a.raw() > 0)
                values[r.column] = a;
            else
                values[r.column] = std::monostate();
            continue;
        case Rule::Kind::SoftAmount:
            try {
                values[r.column] = row.amount(r.field);
            } catch (const belmire::Error&) {
                values[r.column] = db::Amount();
            }
            continue;
        case Rule::Kind::Valued: // the price for now; times the quantity below
            try {
                const QByteArray price = r.asking->answer(*given.run, keyOf(r, keys, given.code));
                values[r.column] = db::Amount::parseLatin1(price).value_or(db::Amount());
            } catch (const belmire::Error&) {
                values[r.column] = db::Amount();
            }
            continue;
        case Rule::Kind::Number:
            values[r.column] = row.number(r.field);
            continue;
        case Rule::Kind::Integer:
            values[r.column] = r.rule.integer;
            continue;
        }
        if (r.rule.through)
            text = r.rule.through(text);
        const int cut = m_target.columns[r.column].cut;
        values[r.column] = cut == kWhole ? std::move(text) : gbk::cut(text, cut);
    }
    for (std::size_t k : m_valued) {
        const Compiled& r = m_rules[k];
        if (reading != Reading::All && r.rule.beforeCheck != (reading == Reading::BeforeCheck))
            continue;
        values[r.column] = std::get<db::Amount>(values[r.quantity]) * std::get<db::Amount>(values[r.column]);
    }
}

void Rules::listLookups(shell::Run& run, const db::Query& row) const
{
    Keys keys(m_keys, row);
    for (const Compiled& r : m_rules)
        if (r.asking)
            r.asking->list(run, r.key < 0 ? code(row) : keys[r.key]);
}

bool Rules::readsLevels() const
{
    for (const Compiled& r : m_rules)
        if (r.rule.kind == Rule::Kind::ParentByLevel)
            return true;
    return false;
}

void walkRows(shell::Run& run, const Rules& r, const QString& gap, const QByteArray& levels)
{
    db::Query& statement = run.target(r.insertLines());
    Values values = r.blank(); // every row sets the columns of its rules
    run.walk(
        QStringLiteral("select * from ") + r.sourceTable() + gap, false,
        [&](const db::Query& row) { return r.code(row); },
        [&](const db::Query& row, const QByteArray& code) {
            r.read(row, {code, run.stamp(), levels, &run}, values);
            r.insert(statement, values);
        });
}

shell::Operation rowByRow(Rules rules)
{
    const auto shared = std::make_shared<const Rules>(std::move(rules));
    shell::Operation op;
    op.body = [shared](shell::Run& run) { walkRows(run, *shared, QStringLiteral(" ")); };
    op.uses = sourceUsesOf({shared.get()}) << shell::insertUse(shared->insertLines());
    op.fields = shared->widthChecked();
    op.reconciliation.rows = {{shared->sourceTable(), QString(), shared->key(), latin1(shared->target().name)}};
    return op;
}

} // namespace quorvan

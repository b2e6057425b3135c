// What a rule list tells besides its rows: the fields and tables it reads, the
// width check's fields and the reconciliation key.
#include "quorvan/rules.h"

#include <algorithm>
#include <utility>

namespace quorvan {
namespace {

QString latin1(std::string_view s) { return QString::fromLatin1(s.data(), qsizetype(s.size())); }

} // namespace

QString Rules::fieldList() const
{
    QStringList fields;
    for (const Compiled& r : m_rules)
        if (!r.field.isEmpty() && !fields.contains(r.field))
            fields << r.field;
    return fields.join(u',');
}

QList<shell::TableUse> Rules::lookupUses() const
{
    struct Looked {
        QString table;
        QStringList answers, keys;
    };
    QList<Looked> tables;
    for (const Compiled& r : m_rules) {
        if (!r.asking)
            continue;
        const QString table = latin1(r.rule.lookup.table);
        auto t = std::find_if(tables.begin(), tables.end(), [&](const Looked& l) { return l.table == table; });
        if (t == tables.end())
            t = tables.insert(tables.end(), Looked{table, {}, {}});
        for (auto [list, name] : {std::pair{&t->answers, r.rule.lookup.answer}, std::pair{&t->keys, r.rule.lookup.key}})
            if (!list->contains(latin1(name)))
                *list << latin1(name);
    }
    QList<shell::TableUse> uses;
    for (const Looked& l : tables)
        uses << shell::TableUse{shell::Side::Source, l.table, l.answers + l.keys};
    return uses;
}

QList<shell::FieldInto> Rules::widthChecked(const QString& filter) const
{
    QList<shell::FieldInto> out;
    for (const bool trimmed : {true, false})
        for (const Compiled& r : m_rules) {
            const Column& c = m_target.columns[r.column];
            const Rule::Kind kind = r.rule.kind;
            const bool asRead = kind == Rule::Kind::Field || kind == Rule::Kind::Parent;
            const bool isTrimmed = kind == Rule::Kind::Code || kind == Rule::Kind::Trimmed;
            if ((trimmed ? isTrimmed : asRead) && c.cut == kWhole && !r.rule.through)
                out << shell::FieldInto{m_sourceTable, r.field, latin1(m_target.name), latin1(c.name), trimmed,
                                        filter,        kWhole};
        }
    for (const Compiled& r : m_rules) {
        const Column& c = m_target.columns[r.column];
        if (r.rule.kind == Rule::Kind::Lookup && c.cut == kWhole && !r.rule.through) // answers come trimmed
            out << shell::FieldInto{latin1(r.rule.lookup.table),
                                    latin1(r.rule.lookup.answer),
                                    latin1(m_target.name),
                                    latin1(c.name),
                                    true,
                                    {},
                                    kWhole};
    }
    return out;
}

QList<shell::KeyPart> Rules::key() const
{
    QList<shell::KeyPart> key;
    for (std::size_t k : m_codes) {
        const Compiled& r = m_rules[k];
        const Column& c = m_target.columns[r.column];
        key << shell::KeyPart{r.field, latin1(c.name), c.cut};
    }
    return key;
}

QList<shell::TableUse> sourceUsesOf(std::initializer_list<const Rules*> lists)
{
    const auto merge = [](shell::TableUse& into, const QStringList& columns) {
        for (const QString& c : columns)
            if (!into.columns.contains(c, Qt::CaseInsensitive))
                into.columns << c;
    };
    const auto find = [](QList<shell::TableUse>& uses, const QString& table) {
        return std::find_if(uses.begin(), uses.end(),
                            [&](const shell::TableUse& u) { return u.table.compare(table, Qt::CaseInsensitive) == 0; });
    };
    // The tables walked, lists of one table together.
    QList<shell::TableUse> walked;
    QList<qsizetype> walkedAt; // per list, its table among walked
    for (const Rules* r : lists) {
        auto it = find(walked, r->sourceTable());
        if (it == walked.end())
            it = walked.insert(walked.end(), shell::sourceUse(r->sourceTable(), QString()));
        merge(*it, r->fieldList().split(u',', Qt::SkipEmptyParts));
        walkedAt << qsizetype(it - walked.begin());
    }
    // The tables looked up that none walks, each after the table of the first list that looks it up.
    QList<shell::TableUse> lookedUp;
    QList<qsizetype> after;
    for (qsizetype k = 0; k < qsizetype(lists.size()); ++k)
        for (const shell::TableUse& use : lists.begin()[k]->lookupUses()) {
            if (auto it = find(walked, use.table); it != walked.end()) {
                merge(*it, use.columns);
            } else if (auto it = find(lookedUp, use.table); it != lookedUp.end()) {
                merge(*it, use.columns);
            } else {
                lookedUp << use;
                after << walkedAt[k];
            }
        }
    QList<shell::TableUse> uses;
    for (qsizetype k = 0; k < walked.size(); ++k) {
        uses << walked[k];
        for (qsizetype j = 0; j < lookedUp.size(); ++j)
            if (after[j] == k)
                uses << lookedUp[j];
    }
    return uses;
}

} // namespace quorvan

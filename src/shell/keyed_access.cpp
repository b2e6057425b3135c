#include "shell/keyed_access.h"

#include "textutil/error.h"
#include "textutil/gbk.h"

#include <algorithm>

namespace shell {

Lookup::Lookup(QString t, QString k, QString f, bool first, QStringList with)
    : table(std::move(t)), key(std::move(k)), field(std::move(f)), firstOnly(first), together(std::move(with)),
      statement(QStringLiteral("select ") + (firstOnly ? QStringLiteral("top 1 ") : QString()) + field +
                QStringLiteral(" from ") + table + QStringLiteral(" where ") + key + QStringLiteral("=:p1"))
{
}

db::Query& KeyLists::open(db::Connection& connection, const QString& text, const std::vector<QByteArray>& keys)
{
    std::unique_ptr<db::Query>& q = m_queries[int(keys.size())];
    if (!q || q->text() != text) {
        q = std::make_unique<db::Query>(connection);
        q->setText(text);
    }
    q->close();
    for (size_t k = 0; k < keys.size(); ++k)
        q->bindText(QStringLiteral("k%1").arg(k), keys[k]);
    q->open();
    return *q;
}

SourceLookups::Answers& SourceLookups::answersOf(const Lookup& lookup)
{
    int slot = m_index.find(lookup.statement);
    if (slot == db::NameIndex::kUnknown) {
        slot = int(m_answers.size());
        m_answers.emplace_back();
        m_index.add(lookup.statement, slot);
    }
    return m_answers[size_t(slot)];
}

void SourceLookups::list(const Lookup& lookup, const QByteArray& key)
{
    if (m_source.capabilities().comparesKeysExactly) // one scan of the table answers them all
        return;
    if (!m_source.forms().accepts(db::Form::KeyLists)) // asked one by one
        return;
    Answers& a = answersOf(lookup);
    if (a.listed.size() < size_t(KeyLists::kMaxKeys) && !a.answers.value(key))
        a.listed.push_back(key);
}

// The keys listed, in one query of the source that answers each as the keyed
// statement would. Where the source refuses such a list, the keys are asked one
// by one as before, and no list is made again for the rest of the run.
void SourceLookups::askListed(const Lookup& lookup, Answers& a)
{
    std::vector<QByteArray> keys;
    keys.swap(a.listed);
    std::sort(keys.begin(), keys.end());
    keys.erase(std::unique(keys.begin(), keys.end()), keys.end());
    if (keys.empty())
        return;
    const QString text = m_source.forms().lookupsStatement(lookup.field, lookup.table, lookup.key, int(keys.size()));
    if (text.isEmpty())
        return;
    try {
        db::Query& q = a.together.open(m_source, text, keys);
        while (q.next()) {
            const qint64 k = db::variantInteger(q.valueAt(0));
            if (k >= 0 && k < qint64(keys.size()))
                a.answers.insert(keys[size_t(k)], gbk::trim(db::variantText(q.valueAt(1))));
        }
        q.close();
    } catch (const db::RefusedStatement&) {
        m_source.forms().refuse(db::Form::KeyLists);
    } catch (const belmire::Error&) {
    }
}

QByteArray SourceLookups::value(const Lookup& lookup, const QByteArray& key)
{
    Answers& a = answersOf(lookup);
    if (!a.listed.empty())
        askListed(lookup, a);
    if (a.hasLast && a.lastKey == key)
        return a.lastAnswer;
    a.lastKey = key;
    a.hasLast = false;
    if (auto answer = a.keys ? a.loaded(key) : a.answers.value(key)) {
        a.lastAnswer = std::move(*answer);
        a.hasLast = true;
        return a.lastAnswer;
    }
    if (!a.tried) {
        a.tried = true;
        if (preload(lookup, a)) {
            a.lastAnswer = a.loaded(key).value_or(QByteArray());
            a.hasLast = true;
            return a.lastAnswer;
        }
    }
    if (a.complete) {
        a.lastAnswer.clear();
        a.hasLast = true;
        return {};
    }
    if (!a.query) {
        a.query = std::make_unique<db::Query>(m_source);
        a.query->setText(lookup.statement);
        a.query->prepare();
    }
    db::Query& q = *a.query;
    q.close();
    q.bindText(QStringLiteral("p1"), key);
    q.open();
    QByteArray answer;
    if (q.next() && q.fieldCount() > 0)
        answer = gbk::trim(db::variantText(q.valueAt(0)));
    q.close();
    a.answers.insert(key, answer);
    a.lastAnswer = answer;
    a.hasLast = true;
    return answer;
}

bool SourceLookups::preload(const Lookup& lookup, Answers& a)
{
    // On SQLite or PostgreSQL one scan of the table answers every key, first
    // row first, as the keyed query would (both compare text exactly). Where
    // the server's collation decides what is equal (SQL Server), the query per
    // key stays.
    if (!m_source.capabilities().comparesKeysExactly)
        return false;
    // The fields asked together by the same key, not loaded yet, come in the same scan.
    QStringList fields{lookup.field};
    std::vector<Answers*> into{&a};
    for (const QString& field : lookup.together) {
        if (fields.contains(field))
            continue;
        Answers& other = answersOf(Lookup(lookup.table, lookup.key, field, lookup.firstOnly));
        if (other.tried)
            continue;
        other.tried = true;
        fields << field;
        into.push_back(&other);
    }
    if (into.size() > 1) {
        try {
            scan(lookup, fields, into);
            return true;
        } catch (const belmire::Error&) {
            // A field the scan could not read: each field is loaded on its own, as when asked alone.
            for (Answers* other : into)
                other->unload();
            for (std::size_t k = 1; k < into.size(); ++k)
                into[k]->tried = false;
        }
    }
    scan(lookup, {lookup.field}, {&a});
    return true;
}

// One scan of the key and the fields, each field's answers into its own.
void SourceLookups::scan(const Lookup& lookup, const QStringList& fields, const std::vector<Answers*>& into)
{
    db::Query all(m_source);
    all.setText(
        QStringLiteral("select %1, %2 from %3").arg(lookup.key, fields.join(QStringLiteral(", ")), lookup.table));
    all.open();
    auto& keys = m_keys[(lookup.table + u'.' + lookup.key).toLower()];
    if (!keys)
        keys = std::make_unique<textutil::KeyNumbers>();
    for (Answers* a : into)
        a->keys = keys.get();
    while (all.next()) {
        if (all.isNull(lookup.key))
            continue;
        const std::uint32_t id = keys->number(all.text(lookup.key));
        for (std::size_t f = 0; f < into.size(); ++f) {
            Answers& a = *into[f];
            if (a.answerAt.size() <= id)
                a.answerAt.resize(size_t(id) + 1, 0);
            if (a.answerAt[id] != 0) // the first row of a key answers
                continue;
            a.answerAt[id] = a.texts.append({gbk::trim(all.text(fields[qsizetype(f)]))}) + 1;
        }
    }
    for (Answers* a : into) {
        a->answerAt.shrink_to_fit();
        a->texts.shrink();
        a->complete = true;
    }
}

std::optional<QByteArray> SourceLookups::Answers::loaded(const QByteArray& key) const
{
    const auto id = keys->find(key);
    if (!id || *id >= answerAt.size() || answerAt[*id] == 0) // a key only another field's scan met
        return std::nullopt;
    return texts.field(answerAt[*id] - 1, 0).toByteArray();
}

} // namespace shell

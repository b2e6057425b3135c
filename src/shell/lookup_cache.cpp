#include "shell/lookup_cache.h"

#include "textutil/error.h"
#include "textutil/gbk.h"

#include <algorithm>

#include <QRegularExpression>

namespace shell {

namespace {

// "select [top 1] F from T where K=:p1": F, T and K.
struct KeyedSelect {
    QString field, table, key;
};

std::optional<KeyedSelect> keyedSelect(const QString& statement)
{
    static const QRegularExpression re(
        QStringLiteral(R"(^\s*select\s+(?:top\s+1\s+)?(\w+)\s+from\s+(\w+)\s+where\s+(\w+)\s*=\s*:p1\s*$)"),
        QRegularExpression::CaseInsensitiveOption);
    const auto m = re.match(statement);
    if (!m.hasMatch())
        return std::nullopt;
    return KeyedSelect{m.captured(1), m.captured(2), m.captured(3)};
}

} // namespace

LookupCache::Lookup& LookupCache::lookupOf(const QString& statement)
{
    int slot = m_lookupIndex.find(statement);
    if (slot == db::NameIndex::kUnknown) {
        slot = int(m_lookups.size());
        m_lookups.emplace_back();
        m_lookupIndex.add(statement, slot);
    }
    return m_lookups[size_t(slot)];
}

void LookupCache::list(const QString& statement, const QByteArray& value)
{
    if (m_source.capabilities().comparesKeysExactly) // one scan of the table answers them all
        return;
    if (!m_source.accepts(db::Form::KeyLists)) // asked one by one
        return;
    Lookup& l = lookupOf(statement);
    if (l.listed.size() < size_t(kListedKeys) && !l.answers.value(value))
        l.listed.push_back(value);
}

// The keys listed, in one query of the source that answers each as the keyed
// statement would. Where the source refuses such a list, the keys are asked one
// by one as before, and no list is made again for the rest of the run.
void LookupCache::askListed(const QString& statement, Lookup& l)
{
    std::vector<QByteArray> keys;
    keys.swap(l.listed);
    std::sort(keys.begin(), keys.end());
    keys.erase(std::unique(keys.begin(), keys.end()), keys.end());
    const auto parts = keyedSelect(statement);
    if (!parts || keys.empty())
        return;
    const QString text = m_source.lookupsStatement(parts->field, parts->table, parts->key, int(keys.size()));
    if (text.isEmpty())
        return;
    try {
        std::unique_ptr<db::Query>& q = l.together[int(keys.size())];
        if (!q) {
            q = std::make_unique<db::Query>(m_source);
            q->setText(text);
        }
        q->close();
        for (size_t k = 0; k < keys.size(); ++k)
            q->bindText(QStringLiteral("k%1").arg(k), keys[k]);
        q->open();
        while (q->next()) {
            const qint64 k = db::variantInteger(q->valueAt(0));
            if (k >= 0 && k < qint64(keys.size()))
                l.answers.insert(keys[size_t(k)], gbk::trim(db::variantText(q->valueAt(1))));
        }
        q->close();
    } catch (const db::RefusedStatement&) {
        m_source.refuse(db::Form::KeyLists);
    } catch (const belmire::Error&) {
    }
}

QByteArray LookupCache::answer(const QString& statement, std::initializer_list<QByteArray> values)
{
    Lookup& l = lookupOf(statement);
    if (!l.listed.empty())
        askListed(statement, l);
    // One value is its own key; several are joined by a byte no code holds.
    QByteArray key;
    if (values.size() == 1) {
        key = *values.begin();
    } else {
        for (const QByteArray& v : values) {
            key += v;
            key += '\x1f';
        }
    }
    if (l.hasLast && l.lastKey == key)
        return l.lastAnswer;
    l.lastKey = key;
    l.hasLast = false;
    if (auto answer = l.keys ? l.loaded(key) : l.answers.value(key)) {
        l.lastAnswer = std::move(*answer);
        l.hasLast = true;
        return l.lastAnswer;
    }
    if (!l.tried) {
        l.tried = true;
        if (values.size() == 1 && preload(statement, l)) {
            l.lastAnswer = l.loaded(key).value_or(QByteArray());
            l.hasLast = true;
            return l.lastAnswer;
        }
    }
    if (l.complete) {
        l.lastAnswer.clear();
        l.hasLast = true;
        return {};
    }
    if (!l.query) {
        l.query = std::make_unique<db::Query>(m_source);
        l.query->setText(statement);
        l.query->prepare();
    }
    db::Query& q = *l.query;
    q.close();
    int n = 0;
    for (const QByteArray& v : values)
        q.bindText(QStringLiteral("p%1").arg(++n), v);
    q.open();
    QByteArray answer;
    if (q.next() && q.fieldCount() > 0)
        answer = gbk::trim(db::variantText(q.valueAt(0)));
    q.close();
    l.answers.insert(key, answer);
    l.lastAnswer = answer;
    l.hasLast = true;
    return answer;
}

bool LookupCache::preload(const QString& statement, Lookup& l)
{
    // "select [top 1] F from T where K=:p1" on SQLite or PostgreSQL: one scan of
    // T answers every key, first row first, as the keyed query would (both
    // compare text exactly). Where the server's collation decides what is equal
    // (SQL Server), the query per key stays.
    if (!m_source.capabilities().comparesKeysExactly)
        return false;
    const auto parts = keyedSelect(statement);
    if (!parts)
        return false;
    db::Query all(m_source);
    all.setText(QStringLiteral("select %1, %2 from %3").arg(parts->key, parts->field, parts->table));
    all.open();
    const QString keyField = parts->key, valueField = parts->field;
    auto& keys = m_keys[(parts->table + u'.' + keyField).toLower()];
    if (!keys)
        keys = std::make_unique<textutil::KeyNumbers>();
    l.keys = keys.get();
    while (all.next()) {
        if (all.isNull(keyField))
            continue;
        const std::uint32_t id = keys->number(all.text(keyField));
        if (l.answerAt.size() <= id)
            l.answerAt.resize(size_t(id) + 1, 0);
        if (l.answerAt[id] != 0) // the first row of a key answers
            continue;
        l.answerAt[id] = l.texts.append({gbk::trim(all.text(valueField))}) + 1;
    }
    l.answerAt.shrink_to_fit();
    l.texts.shrink();
    l.complete = true;
    return true;
}

std::optional<QByteArray> LookupCache::Lookup::loaded(const QByteArray& key) const
{
    const auto id = keys->find(key);
    if (!id || *id >= answerAt.size() || answerAt[*id] == 0) // a key only another field's scan met
        return std::nullopt;
    return texts.field(answerAt[*id] - 1, 0).toByteArray();
}

} // namespace shell

#include "shell/lookup_cache.h"

#include "textutil/gbk.h"

#include <QRegularExpression>

namespace shell {

QByteArray LookupCache::answer(const QString& statement, std::initializer_list<QByteArray> values)
{
    int slot = m_lookupIndex.find(statement);
    if (slot == db::NameIndex::kUnknown) {
        slot = int(m_lookups.size());
        m_lookups.emplace_back();
        m_lookupIndex.add(statement, slot);
    }
    Lookup& l = m_lookups[size_t(slot)];
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
    if (!m_source.comparesKeysExactly())
        return false;
    static const QRegularExpression re(
        QStringLiteral(R"(^\s*select\s+(?:top\s+1\s+)?(\w+)\s+from\s+(\w+)\s+where\s+(\w+)\s*=\s*:p1\s*$)"),
        QRegularExpression::CaseInsensitiveOption);
    const auto m = re.match(statement);
    if (!m.hasMatch())
        return false;
    db::Query all(m_source);
    all.setText(QStringLiteral("select %1, %2 from %3").arg(m.captured(3), m.captured(1), m.captured(2)));
    all.open();
    const QString keyField = m.captured(3), valueField = m.captured(1);
    auto& keys = m_keys[(m.captured(2) + u'.' + keyField).toLower()];
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

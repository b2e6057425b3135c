#include "shell/keyed_access.h"
#include "shell/runframe.h"
#include "textutil/error.h"

#include <algorithm>

// KeyedRows: the rows of a source table by key.
namespace shell {

KeyedRows::KeyedRows(Run& run, QString table, QString key, QStringList fields)
    : m_run(run), m_table(std::move(table)), m_key(std::move(key)), m_fields(std::move(fields)),
      m_perKey{QStringLiteral("select * from %1 where %2 =:%3").arg(m_table, m_key, m_key.toLower())}
{
}

// On SQLite and PostgreSQL one scan serves every key, in the order the keyed
// query returns the rows; where the collation decides, the rows come from the
// batch read ahead or else from the keyed query.
KeyedRows::Rows KeyedRows::of(const QByteArray& key)
{
    if (m_run.sourceConnection().capabilities().comparesKeysExactly) {
        if (!m_loaded)
            loadAll();
        Rows rows;
        for (const auto r : m_rows.rowsOf(key)) {
            QByteArrayList row;
            for (int f = 0; f < m_fields.size(); ++f)
                row << m_rows.field(r, f + 1).toByteArray();
            rows << row;
        }
        return rows;
    }
    if (const auto ahead = m_ahead.constFind(key); ahead != m_ahead.constEnd()) {
        Rows rows = *ahead;
        m_ahead.erase(ahead);
        return rows;
    }
    return keyed(key);
}

// The keys in one query; once that fails, each key is asked on its own for the rest of the run.
void KeyedRows::ask(db::Query& rows, const KeyOf& keyOf)
{
    m_ahead.clear();
    db::Connection& source = m_run.sourceConnection();
    if (source.capabilities().comparesKeysExactly)
        return;
    std::vector<QByteArray> keys;
    rows.forEachReadAhead([&](int) {
        try {
            if (std::optional<QByteArray> key = keyOf(rows))
                if (std::find(keys.begin(), keys.end(), *key) == keys.end())
                    keys.push_back(std::move(*key));
        } catch (const belmire::Error&) {
        }
    });
    if (keys.empty() || m_listsFailed)
        return;
    const QString text = source.forms().rowsOfKeysStatement(m_fields, m_table, m_key, int(keys.size()));
    if (text.isEmpty()) { // a server without such a query
        m_listsFailed = true;
        return;
    }
    QHash<QByteArray, Rows> found;
    try {
        db::Query& q = m_lists.open(source, text, keys);
        for (const QByteArray& key : keys)
            found.insert(key, {});
        while (q.next()) {
            const qint64 k = db::variantInteger(q.valueAt(0));
            if (k < 0 || k >= qint64(keys.size()))
                continue;
            QByteArrayList row;
            for (int f = 0; f < m_fields.size(); ++f)
                row << db::variantText(q.valueAt(f + 1));
            found[keys[size_t(k)]].append(row);
        }
        q.close();
    } catch (const belmire::Error&) {
        m_listsFailed = true;
        return;
    }
    m_ahead = std::move(found);
}

KeyedRows::Rows KeyedRows::ahead(const QByteArray& key)
{
    if (m_run.sourceConnection().capabilities().comparesKeysExactly)
        return of(key);
    if (const auto it = m_ahead.constFind(key); it != m_ahead.constEnd())
        return *it;
    return *m_ahead.insert(key, keyed(key));
}

KeyedRows::Rows KeyedRows::keyed(const QByteArray& key)
{
    db::Query& q = m_run.source(m_perKey);
    q.close();
    q.bindText(m_key.toLower(), key);
    q.open();
    Rows rows;
    while (q.next()) {
        QByteArrayList row;
        for (const QString& field : m_fields)
            row << q.text(field);
        rows << row;
    }
    q.close();
    return rows;
}

void KeyedRows::loadAll()
{
    db::Query all(m_run.sourceConnection());
    all.setLines({QStringLiteral("select * from ") + m_table});
    all.open();
    std::vector<QByteArray> texts(size_t(m_fields.size()) + 1);
    std::vector<QByteArrayView> views(texts.size());
    while (all.next()) {
        if (all.isNull(m_key))
            continue;
        texts[0] = all.text(m_key);
        for (int f = 0; f < m_fields.size(); ++f)
            texts[size_t(f) + 1] = all.text(m_fields[f]);
        std::copy(texts.begin(), texts.end(), views.begin());
        m_rows.append(views);
    }
    m_rows.group();
    m_loaded = true;
}

} // namespace shell

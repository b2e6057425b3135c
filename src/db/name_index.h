#pragma once

#include <QList>
#include <QString>

#include <climits>

namespace db {

// Indexes looked up by name (fields, parameters), kept in the order first asked.
// A conversion asks for the same names in the same order on every row, so the
// name after the last one found is tried first: no hashing per value.
class NameIndex {
public:
    static constexpr int kUnknown = INT_MIN;
    // The index kept for the name, or kUnknown when it was never added.
    int find(const QString& name) const
    {
        const qsizetype n = m_entries.size();
        for (qsizetype k = 0, j = m_next; k < n; ++k, j = j + 1 == n ? 0 : j + 1)
            if (m_entries[j].name == name) {
                m_next = j + 1 == n ? 0 : j + 1;
                return m_entries[j].index;
            }
        return kUnknown;
    }
    void add(const QString& name, int index) { m_entries.append({name, index}); }
    void clear()
    {
        m_entries.clear();
        m_next = 0;
    }

private:
    struct Entry {
        QString name;
        int index;
    };
    QList<Entry> m_entries;
    mutable qsizetype m_next = 0;
};

} // namespace db

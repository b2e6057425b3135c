#pragma once

#include "db/connection.h"
#include "db/name_index.h"
#include "db/query.h"
#include "textutil/byte_table.h"

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <deque>
#include <initializer_list>
#include <map>
#include <memory>
#include <optional>
#include <vector>

namespace shell {

// The answers of a run's source lookups ("select F from T where K=:p1"), kept
// for the run. Where the source compares text exactly, the first lookup of a
// statement with one value reads the whole table once and answers every key
// from memory; otherwise each new key is asked once.
class LookupCache {
public:
    explicit LookupCache(db::Connection& source) : m_source(source) {}

    // First field of the first row, trimmed; empty when there is none. The
    // values are bound to :p1, :p2, ... in order.
    QByteArray answer(const QString& statement, std::initializer_list<QByteArray> values);

private:
    // The keys of one source table's key field, numbered in the order first
    // read: the lookups of one table (stock asks spxx for four fields) share them.
    struct KeyIndex {
        textutil::ByteTable ids; // key -> its number, 4 bytes
        std::uint32_t count = 0;
    };
    struct Lookup {
        std::unique_ptr<db::Query> query;
        textutil::ByteTable answers; // key -> answer, for answers asked one by one
        // A whole table loaded: the answer of each key number.
        KeyIndex* index = nullptr;
        std::vector<std::uint32_t> answerAt; // key number -> offset + 1 into texts
        std::vector<char> texts;             // the answers, each a 4-byte length and its bytes
        std::optional<QByteArray> loaded(const QByteArray& key) const;
        // The last key asked and its answer: rows often come grouped by the key.
        QByteArray lastKey;
        QByteArray lastAnswer;
        bool hasLast = false;
        bool tried = false;    // whether loading the whole table was considered
        bool complete = false; // answers holds every key of the table
    };
    bool preload(const QString& statement, Lookup& lookup);

    db::Connection& m_source;
    std::deque<Lookup> m_lookups;
    std::map<QString, std::unique_ptr<KeyIndex>> m_keyIndexes; // "table.key" in lower case
    db::NameIndex m_lookupIndex; // statement -> position in m_lookups
};

} // namespace shell

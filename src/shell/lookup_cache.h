#pragma once

#include "db/connection.h"
#include "db/name_index.h"
#include "db/query.h"
#include "textutil/byte_table.h"
#include "textutil/packed_rows.h"

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
// from memory; otherwise each new key is asked once, and the keys listed in
// advance for rows read ahead are asked together, in one query.
class LookupCache {
public:
    explicit LookupCache(db::Connection& source) : m_source(source) {}

    // First field of the first row, trimmed; empty when there is none. The
    // values are bound to :p1, :p2, ... in order.
    QByteArray answer(const QString& statement, std::initializer_list<QByteArray> values);
    // A key a row read ahead will look up with a one-value statement; asked,
    // with the others listed, when the statement is next answered.
    void list(const QString& statement, const QByteArray& value);
    // Keys per query: under SQLite's 999 parameters and SQL Server's 2,100.
    static constexpr int kListedKeys = 900;

private:
    struct Lookup {
        std::unique_ptr<db::Query> query;
        textutil::ByteTable answers; // key -> answer, for answers asked one by one
        // A whole table loaded: its keys numbered (the lookups of one table
        // share them: stock asks spxx for four fields) and the answer of each.
        textutil::KeyNumbers* keys = nullptr;
        std::vector<std::uint32_t> answerAt; // key number -> answer row + 1, 0 when none
        textutil::PackedRows texts;
        std::optional<QByteArray> loaded(const QByteArray& key) const;
        // The last key asked and its answer: rows often come grouped by the key.
        QByteArray lastKey;
        QByteArray lastAnswer;
        bool hasLast = false;
        bool tried = false;                                 // whether loading the whole table was considered
        bool complete = false;                              // answers holds every key of the table
        std::vector<QByteArray> listed;                     // keys to ask together
        std::map<int, std::unique_ptr<db::Query>> together; // by key count
    };
    Lookup& lookupOf(const QString& statement);
    bool preload(const QString& statement, Lookup& lookup);
    void askListed(const QString& statement, Lookup& lookup);

    db::Connection& m_source;
    std::deque<Lookup> m_lookups;
    std::map<QString, std::unique_ptr<textutil::KeyNumbers>> m_keys; // "table.key" in lower case
    db::NameIndex m_lookupIndex;                                     // statement -> position in m_lookups
};

} // namespace shell

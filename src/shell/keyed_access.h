#pragma once

#include "db/connection.h"
#include "db/name_index.h"
#include "db/query.h"
#include "textutil/byte_table.h"
#include "textutil/key_hashes.h"
#include "textutil/packed_rows.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <vector>

// Keyed access to the source and the target, for the questions a conversion
// asks of every row: the name a key has, whether a key is held, the rows of a
// key. Each is answered one of three ways, chosen by how the database compares
// keys and which statement forms it takes:
// - a preloaded scan: where the database compares text exactly (SQLite,
//   PostgreSQL), the table is read once and every key answered from memory;
// - batched lists: where its collation decides what is equal (SQL Server), the
//   keys of the rows read ahead are asked together, in the form the server
//   takes (db::Connection's keysHeldStatement, lookupsStatement,
//   rowsOfKeysStatement);
// - one query per key: for a key not listed, and for every key once the server
//   refused each form of a list.
namespace shell {

class Run;

// A source lookup: the first `field` of `table` where `key` equals the value
// asked, trimmed; empty when there is none. firstOnly asks for the first row
// only ("select top 1"), for a key that is not unique in its table. together
// names the other fields of the table its caller looks up by the same key: a
// preloaded scan reads them all at once.
struct Lookup {
    Lookup(QString table, QString key, QString field, bool firstOnly = false, QStringList together = {});

    const QString table, key, field;
    const bool firstOnly;
    const QStringList together;
    const QString statement; // the query per key: "select [top 1] F from T where K=:p1"
};

// The queries of one batched form, one per key count, binding :k0, :k1, ...
class KeyLists {
public:
    // Keys per query: under SQLite's 999 parameters and SQL Server's 2,100.
    static constexpr int kMaxKeys = 900;
    // The query of this text for keys.size() keys, opened with them bound.
    db::Query& open(db::Connection& connection, const QString& text, const std::vector<QByteArray>& keys);
    void clear() { m_queries.clear(); }

private:
    std::map<int, std::unique_ptr<db::Query>> m_queries;
};

// The source lookups of a run, answers kept for the run.
class SourceLookups {
public:
    explicit SourceLookups(db::Connection& source) : m_source(source) {}

    QByteArray value(const Lookup& lookup, const QByteArray& key);
    // A key a row read ahead will look up; asked, with the others listed, when
    // the lookup is next answered.
    void list(const Lookup& lookup, const QByteArray& key);

private:
    struct Answers {
        std::unique_ptr<db::Query> query;
        textutil::ByteTable answers; // key -> answer, for answers asked one by one
        // A whole table loaded: its keys numbered (the lookups of one table
        // share them: stock asks spxx for four fields) and the answer of each.
        textutil::KeyNumbers* keys = nullptr;
        std::vector<std::uint32_t> answerAt; // key number -> answer row + 1, 0 when none
        textutil::PackedRows texts;
        std::optional<QByteArray> loaded(const QByteArray& key) const;
        void unload()
        {
            keys = nullptr;
            answerAt.clear();
            texts = {};
            complete = false;
        }
        // The last key asked and its answer: rows often come grouped by the key.
        QByteArray lastKey;
        QByteArray lastAnswer;
        bool hasLast = false;
        bool tried = false;             // whether loading the whole table was considered
        bool complete = false;          // answers holds every key of the table
        std::vector<QByteArray> listed; // keys to ask together
        KeyLists together;
    };
    Answers& answersOf(const Lookup& lookup);
    bool preload(const Lookup& lookup, Answers& answers);
    void scan(const Lookup& lookup, const QStringList& fields, const std::vector<Answers*>& into);
    void askListed(const Lookup& lookup, Answers& answers);

    db::Connection& m_source;
    std::deque<Answers> m_answers;
    std::map<QString, std::unique_ptr<textutil::KeyNumbers>> m_keys; // "table.key" in lower case
    db::NameIndex m_index;                                           // statement -> position in m_answers
};

// Whether a target column holds a key, for the duplicate checks of a run: the
// rows of this run count, added as they are written. A failing row ends the
// run, so a key of a row undone later is never asked for again.
//
// Where the target compares exactly, the column's values are read in one scan
// when first asked and kept as 64-bit hashes of the text as the database holds
// it (UTF-8 of the bound text); only a key whose hash is there is asked of the
// database. Where the collation decides, the walk reads rows ahead and the keys
// they check or write are listed; one query answers all of them by the column's
// own comparison: whether the column holds each, and which of them are equal to
// each other, so a key written earlier in the window is found as the server
// would find it. Any other key is asked on its own, as is every key once a key
// not listed has been written, and every key of a run whose server refused
// each form of that query.
class TargetKeys {
public:
    // findOne: the statement asking the target for one key, bound to the parameter named as the column.
    TargetKeys(Run& run, QString table, QString column, const QStringList& findOne);
    ~TargetKeys();

    bool contains(const QByteArray& gbkKey);
    void add(const QByteArray& gbkKey); // a key just written to the column, as bound

    // The rows read ahead: begin() at the first of each batch, then the keys
    // they check or write, as bound. Nothing to do where the target compares exactly.
    void begin();
    void list(const QByteArray& gbkKey);

private:
    bool scanned(const QByteArray& gbkKey);
    void load();
    void answer(); // asks for the listed keys, once per window
    bool windowed(const QByteArray& gbkKey);
    bool findOne(const QByteArray& gbkKey);

    Run& m_run;
    const bool m_exact;
    QString m_table;
    QString m_column;
    const QStringList& m_findOne;
    // Compared exactly: the hashes of the column's values.
    bool m_loaded = false;
    textutil::HashSet m_hashes;
    std::unique_ptr<db::Query> m_confirm; // a key whose hash is there
    // Compared by collation: the window of listed keys.
    QHash<QByteArray, int> m_slot; // listed key -> its number
    std::vector<QByteArray> m_keys;
    std::vector<int> m_class;    // the smallest number of the keys equal to it
    std::vector<char> m_held;    // the column held it when asked
    std::vector<char> m_written; // by class: a key of it was written since
    bool m_answered = false;
    bool m_trusted = true;
    KeyLists m_lists;
};

// The rows of a source table that carry a key (a product's bar codes), each
// with the fields named, in the order the keyed query returns them. Read when
// first asked (a source without the table converts as long as none is asked).
class KeyedRows {
public:
    using Rows = QList<QByteArrayList>;
    KeyedRows(Run& run, QString table, QString key, QStringList fields);

    // The rows of a key at its row's turn.
    Rows of(const QByteArray& key);
    // A batch read ahead begins (rows at its first row): the keys its rows
    // give, asked together where the collation decides. A row that gives none
    // or fails to give one is left out; it fails, if at all, at its own turn.
    using KeyOf = std::function<std::optional<QByteArray>(const db::Query& row)>;
    void ask(db::Query& rows, const KeyOf& keyOf);
    // The rows of a key read ahead, kept for its turn.
    Rows ahead(const QByteArray& key);

private:
    void loadAll();
    Rows keyed(const QByteArray& key);

    Run& m_run;
    QString m_table;
    QString m_key;
    QStringList m_fields;
    QStringList m_perKey; // the query per key
    bool m_loaded = false;
    textutil::GroupedRows m_rows; // key, then the fields
    QHash<QByteArray, Rows> m_ahead;
    KeyLists m_lists;
    bool m_listsFailed = false;
};

} // namespace shell

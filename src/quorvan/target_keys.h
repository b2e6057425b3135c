#pragma once

#include "db/query.h"
#include "textutil/key_hashes.h"

#include <QByteArray>
#include <QHash>
#include <QString>
#include <QStringList>

#include <map>
#include <memory>
#include <vector>

namespace shell {
class Run;
}

namespace quorvan {

// The values of one text column of a target table, for the duplicate checks of
// a run: read in one scan when first asked, then kept current by adding every
// value the run writes. Kept as 64-bit hashes of the text as the database holds
// it (UTF-8 of the bound text): a value whose hash is not there is not in the
// column; one whose hash is there is asked of the database, which compares
// exactly (SQLite and PostgreSQL compare varchar byte by byte). Nearly every
// check is of a new value, so nearly none reaches the database. SQL Server
// compares by its collation, so there the checks keep querying the target.
class TargetKeys {
public:
    TargetKeys(shell::Run& run, QString table, QString column);
    ~TargetKeys();

    // Whether the target column holds this GBK text.
    bool contains(const QByteArray& gbkText);
    // A value just written to the column. A failing row ends the run, so a
    // value of a row undone later is never asked for again.
    void add(const QByteArray& gbkText);

    // Whether the target's comparison allows keeping the keys in memory.
    static bool usable(shell::Run& run);

private:
    void load();

    shell::Run& m_run;
    QString m_table;
    QString m_column;
    bool m_loaded = false;
    textutil::HashSet m_hashes;
    std::unique_ptr<db::Query> m_confirm;
};

// The checks of one target column where the server's collation decides what
// is equal (SQL Server). The walk reads rows ahead and the conversion lists the
// keys they will check or write; one query then answers all of them by the
// column's own comparison: whether the column holds each, and which of them are
// equal to each other, so a key written earlier in the window is found as the
// server would find it. Any other key is asked of the target on its own, as is
// every key once a key not listed has been written, and every key of a run
// whose server refused each form of that query.
class KeyWindow {
public:
    // findOne: the statement asking for one key, bound to parameter.
    KeyWindow(shell::Run& run, QString table, QString column, const QStringList& findOne, QString parameter);
    ~KeyWindow();

    void begin();                        // the rows read ahead from here on
    void list(const QByteArray& gbkKey); // a key one of them checks or writes, as bound
    bool contains(const QByteArray& gbkKey);
    void add(const QByteArray& gbkKey); // a value just written to the column

    // Keys per query: under SQLite's 999 parameters and SQL Server's 2,100.
    static constexpr int kMaxKeys = 900;

private:
    void answer(); // asks for the listed keys, once per window
    bool findOne(const QByteArray& gbkKey);

    shell::Run& m_run;
    QString m_table;
    QString m_column;
    const QStringList& m_findOne;
    QString m_parameter;
    QHash<QByteArray, int> m_slot; // listed key -> its number
    std::vector<QByteArray> m_keys;
    std::vector<int> m_class;    // the smallest number of the keys equal to it
    std::vector<char> m_held;    // the column held it when asked
    std::vector<char> m_written; // by class: a key of it was written since
    bool m_answered = false;
    bool m_trusted = true;
    std::map<int, std::unique_ptr<db::Query>> m_queries; // by key count
};

} // namespace quorvan

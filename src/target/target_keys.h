#pragma once

#include "db/query.h"
#include "textutil/key_hashes.h"

#include <QByteArray>
#include <QString>

#include <memory>

namespace shell {
class Run;
}

namespace target {

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

} // namespace target

#pragma once

#include <QByteArray>
#include "textutil/byte_table.h"

#include <QString>

namespace shell {
class Run;
}

namespace convert_v67 {

// The values of one text column of a target table, for the duplicate checks of
// a run: read in one scan when first asked, then kept current by adding every
// value the run writes. Holds the text as the database compares it (UTF-8 of
// the bound text; SQLite and PostgreSQL compare varchar exactly). SQL Server
// compares by its collation, so there the checks keep querying the target.
class TargetKeys {
public:
    TargetKeys(shell::Run& run, QString table, QString column);

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
    textutil::ByteTable m_keys;
};

} // namespace convert_v67

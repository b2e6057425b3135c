#pragma once

#include <QString>

namespace db {

// What a connection's callers may rely on, known once it is open. Callers ask
// these, never which engine answers.
struct Capabilities {
    // Keys compare as the stored bytes (SQLite, PostgreSQL), so a scan of a
    // table read once can answer keyed lookups; false where the server's
    // collation decides what is equal (SQL Server).
    bool comparesKeysExactly = true;
    // Writes wait in a queue and go to the server in batches (PostgreSQL, ODBC).
    bool defersWrites = false;
    // Several statements separated by ";" run as one text (PostgreSQL).
    bool runsStatementLists = false;
    // The server passes over the first rows of a row set itself (OFFSET)
    // without making them into rows (StatementForms::skippingRows).
    bool skipsRows = true;
    // A text may hold NUL characters (PostgreSQL keeps none).
    bool keepsNul = true;
    // A text may hold bytes a program stored as they were, UTF-8 or not
    // (SQLite read through its own library): reading may refuse them.
    bool keepsAnyTextBytes = false;
    // Another session's lock holds the whole database, not one table (SQLite).
    bool locksWholeDatabase = true;
    // The database refuses a text longer than its column's declared width (SQLite does not).
    bool enforcesTextWidths = false;
    // Rows a walk writes between commits. A SQLite commit copies every page the
    // rows changed to its journal, writes them and waits for the disk twice, so
    // a file database commits less often than a server.
    int rowsPerCommit = 1000;
};

// Statement forms a SQL Server may not take. Each is chosen by the server's
// version and the database's compatibility level; one the server refuses all
// the same is not tried again on the link.
enum class Form {
    RowValues,    // INSERT ... VALUES (...),(...): 2008
    SelectRows,   // INSERT ... SELECT ... UNION ALL SELECT ...
    Windowed,     // an aggregate OVER (PARTITION BY ...): 2005 at level 90
    Apply,        // CROSS APPLY: 2005 at level 90
    CatalogViews, // sys.columns: 2005
    KeyLists,     // keys as a derived table, "select 0 as i, ? as k union all ..."
};

// A table's enabled trigger (SQL Server): its name and the statements it
// fires on ("INSERT, DELETE").
struct Trigger {
    QString name;
    QString events;
    bool onInsert = false;
};

} // namespace db

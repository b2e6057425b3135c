#pragma once

#include <QString>

namespace db {

// How long a statement waits for a lock another session holds before it gives
// up: 30 s. BELMIRE_LOCK_WAIT_MS sets a shorter wait (for tests).
int lockWaitMs();

// The text of a statement that gave up waiting for another session's lock;
// where names the database, driverText is the driver's own message (without
// PostgreSQL's statement excerpt and caret).
QString lockWaitText(const QString& where, const QString& driverText);

// Whether a message is, or ends with, such a text.
bool isLockWait(const QString& message);

// One wait per table in a run: while a LockWaitMemory lives, a table whose
// lock wait ran out is remembered, and a later statement naming it fails at
// once (lockWaitGivenUp) instead of waiting again. Nested ones share the
// outermost's memory, which is forgotten when it ends; without one every
// statement waits. Safe to use from several threads.
class LockWaitMemory {
public:
    LockWaitMemory();
    ~LockWaitMemory();
    LockWaitMemory(const LockWaitMemory&) = delete;
    LockWaitMemory& operator=(const LockWaitMemory&) = delete;
};

// A lock wait on a table of the database named by where ran out: remembered.
// The table is the one the driver's excerpt points at, else fallbackTable;
// "*" where the lock holds the whole database (SQLite).
void noteLockWaitGivenUp(const QString& where, const QString& driverText, const QString& fallbackTable);
// Whether any lock wait ran out in this run: only then can a statement be
// refused below (one test of a flag, before a caller words where it runs).
bool anyLockWaitGivenUp();
// The text a statement naming a table already given up on fails with, and in
// *table that table (left as it is where the whole database is held); empty
// when it names none.
QString lockWaitGivenUp(const QString& where, const QString& statement, QString* table);
// Lock waits that ran out since the process started (for tests).
int lockWaitsGivenUp();

// A driver's message without PostgreSQL's "LINE n: ..." excerpt and its caret line.
QString withoutExcerpt(const QString& driverText);

} // namespace db

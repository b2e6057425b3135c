#pragma once

#include <QString>

namespace db {

// How long a statement waits for a lock another session holds before it gives
// up: 30 s. BELMIRE_LOCK_WAIT_MS sets a shorter wait (for tests).
int lockWaitMs();

// The text of a statement that gave up waiting for another session's lock;
// where names the database, driverText is the driver's own message.
QString lockWaitText(const QString& where, const QString& driverText);

// Whether a message is, or ends with, such a text.
bool isLockWait(const QString& message);

} // namespace db

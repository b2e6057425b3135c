#pragma once

#include <QString>

namespace db {

// An error as a client library reports it: its own text and its code (SQLite's
// result code in decimal, PostgreSQL's SQLSTATE; empty where the library itself
// failed, as when the server went away).
struct DriverError {
    QString text;
    QString code;
};

} // namespace db

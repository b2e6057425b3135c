#pragma once

#include "textutil/error.h"

#include <QString>

namespace db {

// An error as a client library reports it: its own text and its code (SQLite's
// result code in decimal, PostgreSQL's SQLSTATE; empty where the library itself
// failed, as when the server went away).
struct DriverError {
    QString text;
    QString code;
};

// SQL Server refused a statement's form (odbc::Failure::refusedForm): the same
// statement fails whatever its values, and another form may be taken.
class RefusedStatement : public belmire::Error {
public:
    using belmire::Error::Error;
};

} // namespace db

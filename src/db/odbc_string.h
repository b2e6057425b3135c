#pragma once

#include <QLatin1String>
#include <QList>
#include <QPair>
#include <QString>

// ODBC connection strings as the driver manager reads them.
namespace db {

using OdbcAttributes = QList<QPair<QString, QString>>; // keyword as written (trimmed), value unquoted

// Parses an ODBC connection string the way the driver manager does ({...} with "}}" for "}"). False when malformed.
bool parseOdbcAttributes(const QString& s, OdbcAttributes* out);

// The first attribute whose keyword is key, without regard to case; nullptr when there is none.
const QPair<QString, QString>* findAttribute(const OdbcAttributes& attrs, QLatin1String key);

} // namespace db

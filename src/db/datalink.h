#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

namespace db {

// What a data-link (.udl) file describes.
struct LinkSettings {
    QString driver;       // "SQLite", "PostgreSQL" or "ODBC": the client library that reaches it
    QString databaseName; // SQLite: absolute file path; PostgreSQL: database name; ODBC: the full connection string
    QString host;         // PostgreSQL only
    int port = -1;        // PostgreSQL only; -1 = default
    QString user;
    QString password;       // never put this into any message
    QString connectOptions; // PostgreSQL: libpq connection keywords, "key=value" separated by ";"
    QString description;    // for messages, never holds the password
    // SQL Server through one of Microsoft's drivers chosen by default: the same link through FreeTDS, tried when
    // that driver cannot load or fails the handshake (a server older than it supports). Empty otherwise.
    QString fallback;
};

// The bytes of a data-link file, and their text (UTF-16LE with BOM, or UTF-8). Throw belmire::Error naming the path.
QByteArray readDataLinkBytes(const QString& udlPath);
QString decodeDataLinkText(const QByteArray& bytes, const QString& pathForMessages);

// Reads a data-link file. Throws belmire::Error on a missing, unreadable or malformed file (message holds the path).
LinkSettings readDataLink(const QString& udlPath);

// Same from the file's bytes; baseDir resolves relative SQLite paths. The SQL Server ODBC driver is chosen from the
// drivers installed on this machine (installedOdbcDrivers()).
LinkSettings parseDataLink(const QByteArray& bytes, const QString& baseDir, const QString& pathForMessages);

// Same with the list of installed ODBC drivers given instead of read from the system.
LinkSettings parseDataLink(const QByteArray& bytes, const QString& baseDir, const QString& pathForMessages,
                           const QStringList& installedOdbcDrivers);

// The ODBC drivers registered with the driver manager (SQLDrivers).
QStringList installedOdbcDrivers();

// An ODBC connection string attribute value, in {...} quoting ("}" doubled) where it holds ";", braces or
// outer blanks, so a value can never add attributes.
QString odbcQuote(const QString& value);

} // namespace db

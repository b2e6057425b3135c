#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace db {

// What a data-link (.udl) file describes, in the terms of Qt SQL.
struct ConnectionSpec {
    QString driver;         // "QSQLITE", "QPSQL" or "QODBC"
    QString databaseName;   // SQLite: absolute file path; PostgreSQL: database name; ODBC: the full connection string
    QString host;           // PostgreSQL only
    int port = -1;          // PostgreSQL only; -1 = default
    QString user;
    QString password;       // never put this into any message
    QString connectOptions; // for QSqlDatabase::setConnectOptions, may be empty
    QString description;    // for messages, never holds the password
};

// Reads a data-link file. Throws belmire::Error on a missing, unreadable or malformed file (message holds the path).
ConnectionSpec readDataLink(const QString& udlPath);

// Same from the file's bytes; baseDir resolves relative SQLite paths. The SQL Server ODBC driver is chosen from the
// drivers installed on this machine (installedOdbcDrivers()).
ConnectionSpec parseDataLink(const QByteArray& bytes, const QString& baseDir, const QString& pathForMessages);

// Same with the list of installed ODBC drivers given instead of read from the system.
ConnectionSpec parseDataLink(const QByteArray& bytes, const QString& baseDir, const QString& pathForMessages,
                             const QStringList& installedOdbcDrivers);

// The ODBC drivers registered with the driver manager (SQLDrivers).
QStringList installedOdbcDrivers();

// An ODBC connection string attribute value in {...} quoting ("}" doubled), so a value can never add attributes.
QString odbcQuote(const QString& value);

// Removes the password from any text (replaces it with "***"), for error texts from drivers.
QString maskSecret(const QString& text, const QString& secret);

// The text to give QSqlDatabase::setDatabaseName for a QODBC link. Qt's ODBC driver rewrites that text: one containing
// ".dsn" gets "FILEDSN=" put in front, one containing neither "DRIVER=" nor "SERVER=" gets "DSN=" put in front, and a
// user name or password set on the QSqlDatabase is appended unquoted. So open a QODBC connection with this text and
// without setUserName/setPassword (the credentials are inside already). Throws belmire::Error when the connection
// string cannot pass through that rewriting unchanged.
QString qtOdbcDatabaseName(const ConnectionSpec& link);

} // namespace db

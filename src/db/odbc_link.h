#pragma once

#include "db/capabilities.h"
#include "db/dialect.h"
#include "db/odbc_connection.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <map>
#include <memory>
#include <optional>

namespace db {

// The dialect of the database an ODBC link reaches, by its SQL_DBMS_NAME
// (Microsoft's drivers and FreeTDS: "Microsoft SQL Server"; psqlODBC:
// "PostgreSQL"; the SQLite driver: "SQLite"). Any other is an error naming it;
// where names the link in that message.
Dialect odbcDialect(const QString& dbmsName, const QString& where);

// The session behind an ODBC data link: the database it reaches decides the
// dialect (asked with SQL_DBMS_NAME), the transaction statements and how long
// a statement waits for another session's locks.
class OdbcLink {
public:
    // Connects with the link's connection string. where names the database in
    // messages ("源数据库 SQL Server srv/shop (user sa)"). Where the driver
    // cannot be loaded or fails the handshake, connects with fallback instead
    // (when there is one). Throws belmire::Error.
    void open(const QString& connectionString, const QString& where, const QString& fallback = QString());
    void close();
    bool isOpen() const { return m_main.isOpen(); }
    Dialect dialect() const { return m_dialect; }
    const QString& dbmsName() const { return m_dbms; }
    // What answered a SQL Server link: driver and its version, TDS version,
    // server product and version, and the driver given up for it, if any
    // ("FreeTDS 01.03.0017，TDS 7.1，SQL Server 2000（08.00.2039）"). Empty for
    // other databases.
    const QString& answeredBy() const { return m_answered; }

    // A table's enabled triggers (SQL Server): name and the statements they
    // fire on ("INSERT, DELETE"), read once per table. Empty elsewhere;
    // nullopt when the server would not say.
    using Trigger = db::Trigger;
    std::optional<QList<Trigger>> triggers(const QString& table);
    // Whether an INSERT into the table must write one row: a trigger written
    // for one row per statement then sees every row. True where it cannot be
    // told.
    bool oneRowPerInsert(const QString& table);

    // SQL Server's major version (8 for 2000, 9 for 2005, 10 for 2008) and the
    // database's compatibility level (80, 90, ...); 0 where not known.
    int serverMajor() const { return m_major; }
    int compatibilityLevel() const { return m_level; }
    // Whether the server takes a form (always true off SQL Server), and that it refused it.
    bool accepts(Form form) const;
    void refuse(Form form) { m_refused |= 1u << unsigned(form); }

    odbc::Connection& main() { return m_main; }
    // The connection for a statement about to read rows. SQL Server without
    // multiple active result sets serves one row set at a time, so while one
    // is open on the main connection the others go to a second connection
    // of their own (opened when first needed; the source is only read).
    odbc::Connection& reader();

    // Explicit transaction statements: Microsoft's drivers run manual commit
    // as SET IMPLICIT_TRANSACTIONS ON, under which SAVE TRANSACTION opens no
    // transaction, so SQL Server gets BEGIN TRANSACTION / COMMIT itself.
    // Through psqlODBC BEGIN is held back (see holdBack()).
    void begin();
    void commit();
    void rollback();

    // Runs a statement already in the link's dialect. Throws belmire::Error.
    void execute(const QString& statement);
    // Runs a statement without parameters, after what is held back. Throws odbc::Failure.
    void send(const QString& statement);

    // Where a text of several statements without parameters goes to the
    // server in one round trip, each ending only itself on failure (psqlODBC
    // without its own savepoint per statement, Protocol=7.4-0), a statement
    // whose outcome nothing waits for (BEGIN, a batch's release) is held back
    // and goes in front of the next one sent with send() or execute(), or on
    // its own before any other statement (sendHeld()). Elsewhere it runs now.
    void holdBack(const QString& statement);
    void sendHeld();
    // Whether the link is psqlODBC on PostgreSQL, whose statement forms
    // OdbcBatch uses: values all rows share written into the text as quoted
    // literals (it sends parameters as text of no type, as the server reads
    // such a literal, and converts each one it binds), up to 7,000 parameters
    // to a statement, and a remainder that comes in every batch run prepared.
    bool psqlodbc() const { return m_psqlodbc; }

    // The driver's text of a failure; a lost link, a lock wait given up and a
    // deadlock say so and name the database.
    QString errorText(const odbc::Failure& failure) const;
    // The text of a failure after which the server holds no transaction of
    // this session any more (a conversion error, XACT_ABORT in a trigger).
    QString transactionEndedText(const odbc::Failure& failure) const;
    // Whether the session is inside a transaction (SQL Server's @@TRANCOUNT;
    // true elsewhere, where a failed statement leaves the transaction open).
    bool inTransaction();

private:
    void setUp(odbc::Connection& connection);
    void readServer();

    void describeAnswer(const QString& givenUp);

    QString m_connectionString;
    QString m_answered;
    std::map<QString, std::optional<QList<Trigger>>> m_triggers; // by lower-case table
    QString m_where;
    QString m_dbms;
    Dialect m_dialect = Dialect::SqlServer;
    int m_major = 0;
    int m_level = 0;
    unsigned m_refused = 0;
    bool m_holds = false;           // statements may be held back
    bool m_psqlodbc = false;        // see psqlodbc()
    bool m_lockWaitAtLogin = false; // the lock wait was set with the login (psqlODBC's pqopt)
    QStringList m_held;             // held back, in order
    odbc::Connection m_main;
    std::unique_ptr<odbc::Connection> m_reader;
};

} // namespace db

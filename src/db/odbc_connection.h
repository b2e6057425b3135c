#pragma once

#include "textutil/error.h"

#include <QString>
#include <QStringList>

namespace db::odbc {

// A call refused by the driver manager or the driver: the first diagnostic
// record's SQLSTATE and native error code, and every record's own text.
class Failure : public belmire::Error {
public:
    Failure(QString text, QString state, int native)
        : belmire::Error(std::move(text)), m_state(std::move(state)), m_native(native)
    {
    }
    const QString& state() const { return m_state; }
    int native() const { return m_native; }
    // The link to the server is gone (SQLSTATE class 08, or a communication
    // failure the driver reports as such).
    bool lostConnection() const;
    // A lock wait ran out: SQL Server's LOCK_TIMEOUT (1222), a query timeout
    // (HYT00), PostgreSQL's lock_timeout (55P03), SQLite busy.
    bool lockTimeout() const;
    // SQL Server chose this session as a deadlock victim (1205); the server has
    // rolled the transaction back.
    bool deadlock() const;
    // SQL Server refused the statement's own form, whatever its values: a
    // syntax it does not know (VALUES lists before 2008, APPLY and OVER before
    // 2005), a catalog view or function it lacks, a list longer than it takes.
    bool refusedForm() const;

private:
    QString m_state;
    int m_native;
};

// The drivers registered with the driver manager (SQLDrivers), by name.
QStringList drivers();

// One ODBC connection (SQLDriverConnectW), text passed as UTF-16 throughout.
class Connection {
public:
    Connection() = default;
    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    // Connects with a full connection string, without prompting. Throws Failure.
    void open(const QString& connectionString);
    void close();
    bool isOpen() const { return m_dbc != nullptr; }
    void* handle() const { return m_dbc; }

    // SQL_DBMS_NAME of the connected database.
    QString dbmsName() const;
    // SQL_DBMS_VER: "09.00.5000" and the like.
    QString dbmsVersion() const;
    QString driverName() const;
    // SQL_DRIVER_VER.
    QString driverVersion() const;
    // The TDS version FreeTDS speaks on this connection ("7.1"); empty from any other driver.
    QString freeTdsProtocol() const;

    // Row sets open on this connection. Without multiple active result sets a
    // SQL Server session serves nothing else while one is open.
    int openCursors() const { return m_cursors; }

    // Runs one statement without parameters, discarding any result. Throws Failure.
    void execute(const QString& statement);

private:
    friend class Statement;
    QString info(unsigned short type) const;
    void* m_dbc = nullptr;
    int m_cursors = 0;
};

} // namespace db::odbc

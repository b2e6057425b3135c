#pragma once

#include <QString>

namespace db {

class Connection;

// A transaction on a connection, begun when made. commit() or rollback() ends
// it; one that goes unended (an exception on the way) is rolled back.
class Transaction {
public:
    explicit Transaction(Connection& connection);
    ~Transaction();
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;

    // Throws belmire::Error when the commit fails; the transaction is rolled back then.
    void commit();
    void rollback();

private:
    Connection& m_connection;
    bool m_open = true;
};

// A savepoint inside the connection's transaction, set when made. release()
// keeps what was done since (and releases it where the database has a
// release); rollback() undoes it. One that goes unended is rolled back to,
// unless it was left to the transaction (leave()).
class Savepoint {
public:
    // Throws belmire::Error when the savepoint cannot be set.
    Savepoint(Connection& connection, QString name);
    ~Savepoint();
    Savepoint(const Savepoint&) = delete;
    Savepoint& operator=(const Savepoint&) = delete;

    void release();
    // Throws belmire::Error when the database refuses it.
    void rollback();
    // An error that ends the whole transaction: nothing is sent for the savepoint.
    void leave() { m_open = false; }

private:
    Connection& m_connection;
    QString m_name;
    bool m_open = true;
};

} // namespace db

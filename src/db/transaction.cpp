#include "db/transaction.h"

#include "db/connection.h"
#include "textutil/error.h"

namespace db {

Transaction::Transaction(Connection& connection) : m_connection(connection) { m_connection.begin(); }

Transaction::~Transaction()
{
    if (!m_open)
        return;
    try {
        m_connection.rollback();
    } catch (const belmire::Error&) {
        // A lost connection has no transaction left to end.
    }
}

void Transaction::commit()
{
    m_open = false;
    m_connection.commit();
}

void Transaction::rollback()
{
    m_open = false;
    m_connection.rollback();
}

Savepoint::Savepoint(Connection& connection, QString name) : m_connection(connection), m_name(std::move(name))
{
    m_connection.exec(m_connection.forms().savepointSql(m_name));
}

Savepoint::~Savepoint()
{
    if (!m_open)
        return;
    try {
        m_connection.exec(m_connection.forms().rollbackToSql(m_name));
    } catch (const belmire::Error&) {
        // The error on the way out is the one to report; the transaction's rollback takes the rest.
    }
}

void Savepoint::release()
{
    m_open = false;
    if (const QString release = m_connection.forms().releaseSql(m_name); !release.isEmpty())
        m_connection.exec(release);
}

void Savepoint::rollback()
{
    m_open = false;
    m_connection.exec(m_connection.forms().rollbackToSql(m_name));
}

} // namespace db

#include "db/connection.h"
#include "db/engine_query.h"
#include "db/name_index.h"
#include "db/odbc_backend.h"
#include "db/odbc_statement.h"
#include "db/query.h"

namespace db {
namespace {

// A statement on an ODBC link. A write is held back while the link defers
// writes; a read moves off a connection whose row set is in use.
class OdbcQuery final : public EngineQuery {
public:
    OdbcQuery(Connection& connection, const QString& table, OdbcBackend& backend)
        : EngineQuery(connection, table), m_backend(backend)
    {
    }

    void prepare(const QString& text) override
    {
        try {
            // A write is prepared on the server now, so a bad statement fails
            // before any row; a read is often run once, and runs directly then.
            auto statement = std::make_unique<odbc::Statement>(link().main());
            m_write = isWrite(text);
            statement->prepare(text, m_write ? odbc::Statement::Prepare::Now : odbc::Statement::Prepare::Later);
            m_statement = std::move(statement);
            m_parameters.clear();
            const QList<QString>& names = m_statement->prepared().names;
            for (int k = 0; k < int(names.size()); ++k)
                m_parameters.add(names[k], k);
        } catch (const odbc::Failure& f) {
            fail(f);
        }
    }
    void bindText(const QString& name, const QByteArray& gbkText) override
    {
        if (const int k = parameter(name); k >= 0)
            m_statement->bindText(k, gbkText);
    }
    void bindAmount(const QString& name, Amount value) override
    {
        if (const int k = parameter(name); k >= 0)
            m_statement->bindAmount(k, value);
    }
    void bindInteger(const QString& name, qint64 value) override
    {
        if (const int k = parameter(name); k >= 0)
            m_statement->bindInteger(k, value);
    }
    void bindNumber(const QString& name, double value) override
    {
        if (const int k = parameter(name); k >= 0)
            m_statement->bindNumber(k, value);
    }
    void exec() override
    {
        if (m_write && m_backend.deferral().deferring) {
            m_backend.queueWrite(m_statement->prepared(), m_statement->values(), m_table);
            return;
        }
        m_backend.flush();
        try {
            link().sendHeld();
            moveReader();
            m_statement->execute();
        } catch (const odbc::Failure& f) {
            fail(f);
        }
    }
    bool execDirect(const QString& text) override
    {
        m_backend.flush();
        try {
            link().sendHeld();
            if (!m_statement)
                m_statement = std::make_unique<odbc::Statement>(link().main());
            m_parameters.clear();
            m_statement->executeDirect(text);
        } catch (const odbc::Failure& f) {
            fail(f);
        }
        return true;
    }
    int rowsAffected() const override
    {
        if (m_write && m_backend.deferral().deferring)
            return -1;
        return m_statement ? int(m_statement->rowsAffected()) : -1;
    }
    int countRows(const QString& count) override
    {
        try {
            link().sendHeld();
            odbc::Statement q(m_connection.inTransaction() ? link().main() : link().reader());
            q.executeDirect(count);
            return q.next() ? int(variantInteger(q.value(0))) : 0;
        } catch (const odbc::Failure& f) {
            fail(f);
        }
    }
    bool fetch() override
    {
        try {
            return m_statement && m_statement->next();
        } catch (const odbc::Failure& f) {
            fail(f);
        }
    }
    void close() override
    {
        if (m_statement)
            m_statement->closeCursor();
    }

    QStringList fieldNames() const override { return columnNames(m_statement.get()); }
    QVariant value(int column) const override { return m_statement ? m_statement->value(column) : QVariant(); }

private:
    [[noreturn]] void fail(const odbc::Failure& failure) const
    {
        failStatement(m_connection, m_backend.link(), m_table, failure);
    }
    OdbcLink& link() const { return m_backend.link(); }
    // The parameter's index; -1 when the statement has no such parameter.
    int parameter(const QString& name) const
    {
        const int k = m_parameters.find(name);
        return k == NameIndex::kUnknown ? -1 : k;
    }
    // A statement about to read rows moves off a connection whose row set is in use.
    void moveReader()
    {
        // Only a connection outside a transaction reads elsewhere: the target's
        // statements must all see its own uncommitted rows.
        if (m_connection.inTransaction() || &m_statement->connection() != &link().main())
            return;
        m_statement->closeCursor();
        odbc::Connection& reader = link().reader();
        if (&reader != &link().main())
            m_statement->moveTo(reader);
    }

    OdbcBackend& m_backend;
    std::unique_ptr<odbc::Statement> m_statement;
    NameIndex m_parameters; // the prepared statement's, by name
    bool m_write = false;   // an INSERT, UPDATE or DELETE, held back while deferring
};

} // namespace

std::unique_ptr<EngineQuery> odbcQuery(Connection& connection, const QString& table, OdbcBackend& backend)
{
    return std::make_unique<OdbcQuery>(connection, table, backend);
}

} // namespace db

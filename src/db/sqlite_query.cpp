#include "db/connection.h"
#include "db/engine_query.h"
#include "db/query.h"
#include "db/sqlite_backend.h"
#include "db/sqlite_statement.h"
#include "textutil/error.h"

namespace db {
namespace {

// A statement on an SQLite handle, through the C library.
class SqliteQuery final : public EngineQuery {
public:
    SqliteQuery(Connection& connection, const QString& table, const SqliteBackend& backend)
        : EngineQuery(connection, table), m_backend(backend)
    {
    }

    void prepare(const QString& text) override
    {
        auto statement = std::make_unique<SqliteStatement>(m_backend.handle(), text, m_backend.recording());
        if (!statement->ok())
            fail(statement->error());
        m_statement = std::move(statement);
    }
    void bindText(const QString& name, const QByteArray& gbkText) override
    {
        m_statement->bindText(m_statement->parameterIndex(name), gbkText);
    }
    void bindAmount(const QString& name, Amount value) override
    {
        m_statement->bindAmount(m_statement->parameterIndex(name), value);
    }
    void bindInteger(const QString& name, qint64 value) override
    {
        m_statement->bindInteger(m_statement->parameterIndex(name), value);
    }
    void bindNumber(const QString& name, double value) override
    {
        m_statement->bindNumber(m_statement->parameterIndex(name), value);
    }
    void exec() override
    {
        if (!m_statement->execute())
            fail(m_statement->error());
    }
    bool preparesDirect() const override { return true; }
    bool execDirect(const QString&) override { return m_statement != nullptr; }
    int rowsAffected() const override { return m_statement ? m_statement->changes() : -1; }
    int countRows(const QString& count) override
    {
        SqliteStatement q(m_backend.handle(), count, m_backend.recording());
        if (!q.ok() || !q.execute() || q.step() <= 0)
            fail(q.error());
        return int(variantInteger(q.value(0)));
    }
    bool fetch() override
    {
        if (!m_statement)
            return false;
        const int rc = m_statement->step();
        if (rc < 0)
            fail(m_statement->error());
        return rc > 0;
    }
    void close() override
    {
        if (m_statement)
            m_statement->reset();
    }

    QStringList fieldNames() const override { return columnNames(m_statement.get()); }
    QVariant value(int column) const override { return m_statement ? m_statement->value(column) : QVariant(); }
    bool isNull(int column) const override { return !m_statement || m_statement->isNull(column); }
    QByteArray text(int column) const override { return m_statement ? m_statement->text(column) : QByteArray(); }
    std::optional<Amount> amount(int column) const override
    {
        return m_statement ? m_statement->amount(column) : std::nullopt;
    }
    std::optional<bool> truth(int column) const override
    {
        return m_statement ? m_statement->truth(column) : std::nullopt;
    }

private:
    [[noreturn]] void fail(const DriverError& error) const { failStatement(m_connection, m_table, error); }

    const SqliteBackend& m_backend;
    std::unique_ptr<SqliteStatement> m_statement;
};

} // namespace

std::unique_ptr<EngineQuery> sqliteQuery(Connection& connection, const QString& table, SqliteBackend& backend)
{
    return std::make_unique<SqliteQuery>(connection, table, backend);
}

} // namespace db

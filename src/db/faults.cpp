#include "db/faults.h"

#include "db/backend.h"
#include "db/engine_query.h"
#include "db/sqlite_statement.h"

namespace db::faults {
namespace {

const char* kindName(Kind kind)
{
    switch (kind) {
    case Kind::Prepare:
        return "prepare";
    case Kind::Execute:
        return "execute";
    case Kind::Fetch:
        return "fetch";
    case Kind::Commit:
        return "commit";
    }
    return "?";
}

// A statement of the real engine whose prepares, executions and fetches go
// through the plan first.
class FaultyQuery final : public EngineQuery {
public:
    FaultyQuery(Connection& connection, const QString& table, std::unique_ptr<EngineQuery> real,
                std::shared_ptr<Plan> plan)
        : EngineQuery(connection, table), m_real(std::move(real)), m_plan(std::move(plan))
    {
    }

    void prepare(const QString& text) override
    {
        check(Kind::Prepare);
        m_real->prepare(text);
    }
    void bindText(const QString& name, const QByteArray& gbkText) override { m_real->bindText(name, gbkText); }
    void bindAmount(const QString& name, Amount value) override { m_real->bindAmount(name, value); }
    void bindInteger(const QString& name, qint64 value) override { m_real->bindInteger(name, value); }
    void bindNumber(const QString& name, double value) override { m_real->bindNumber(name, value); }
    void exec() override
    {
        check(Kind::Execute);
        m_real->exec();
    }
    void open() override
    {
        check(Kind::Execute);
        m_real->open();
    }
    bool preparesDirect() const override { return m_real->preparesDirect(); }
    bool execDirect(const QString& text) override
    {
        check(Kind::Execute);
        return m_real->execDirect(text);
    }
    int rowsAffected() const override { return m_real->rowsAffected(); }
    bool countsWithValues() const override { return m_real->countsWithValues(); }
    int countRows(const QString& count) override
    {
        check(Kind::Execute);
        return m_real->countRows(count);
    }
    bool fetch() override
    {
        check(Kind::Fetch);
        return m_real->fetch();
    }
    void close() override { m_real->close(); }

    QStringList fieldNames() const override { return m_real->fieldNames(); }
    QVariant value(int column) const override { return m_real->value(column); }
    bool isNull(int column) const override { return m_real->isNull(column); }
    QByteArray text(int column) const override { return m_real->text(column); }
    std::optional<Amount> amount(int column) const override { return m_real->amount(column); }
    std::optional<bool> truth(int column) const override { return m_real->truth(column); }

private:
    void check(Kind kind)
    {
        if (m_plan->trip(kind))
            failStatement(m_connection, m_table, Plan::error(kind));
    }

    std::unique_ptr<EngineQuery> m_real;
    std::shared_ptr<Plan> m_plan;
};

// The real engine's backend, its statements, executions and commits going
// through the plan first.
class FaultyBackend final : public Backend {
public:
    FaultyBackend(std::unique_ptr<Backend> real, std::shared_ptr<Plan> plan)
        : m_real(std::move(real)), m_plan(std::move(plan))
    {
    }

    Dialect dialect() const override { return m_real->dialect(); }
    bool isOpen() const override { return m_real->isOpen(); }
    std::unique_ptr<EngineQuery> query(Connection& connection, const QString& table) override
    {
        return std::make_unique<FaultyQuery>(connection, table, m_real->query(connection, table), m_plan);
    }
    std::optional<Failure> exec(const QString& text) override
    {
        if (m_plan->trip(Kind::Execute)) {
            const DriverError error = Plan::error(Kind::Execute);
            return Failure{m_real->errorText(error), error.text};
        }
        return m_real->exec(text);
    }
    std::optional<QString> begin() override { return m_real->begin(); }
    std::optional<QString> commit() override
    {
        if (m_plan->trip(Kind::Commit))
            return m_real->errorText(Plan::error(Kind::Commit));
        return m_real->commit();
    }
    void rollback() override { m_real->rollback(); }
    bool transactionEnded() override { return m_real->transactionEnded(); }
    QString errorText(const DriverError& error) const override { return m_real->errorText(error); }

    bool accepts(Form form) const override { return m_real->accepts(form); }
    void refuse(Form form) override { m_real->refuse(form); }
    QString answeredBy() const override { return m_real->answeredBy(); }
    std::optional<QList<Trigger>> triggers(const QString& table) override { return m_real->triggers(table); }
    void settle(Capabilities& capabilities) const override { m_real->settle(capabilities); }
    std::unique_ptr<SqliteWriteLog> writeLog() override { return m_real->writeLog(); }

    Deferral& deferral() override { return m_real->deferral(); }
    qsizetype deferredWrites() const override { return m_real->deferredWrites(); }
    size_t rowsPerFlush() const override { return m_real->rowsPerFlush(); }
    qsizetype writesPerFlush() const override { return m_real->writesPerFlush(); }
    void queueControl(const QString& statement) override { m_real->queueControl(statement); }
    void dropRowWrites(int tag) override { m_real->dropRowWrites(tag); }
    void flush() override { m_real->flush(); }
    void discard() override { m_real->discard(); }

private:
    std::unique_ptr<Backend> m_real;
    std::shared_ptr<Plan> m_plan;
};

} // namespace

bool Plan::trip(Kind kind)
{
    const int n = ++m_calls[size_t(kind)];
    if (m_at <= 0 || kind != m_kind)
        return false;
    const bool hit = m_fromThenOn ? n >= m_at : n == m_at;
    if (hit)
        ++m_failures;
    return hit;
}

DriverError Plan::error(Kind kind)
{
    return {QStringLiteral("injected %1 fault").arg(QLatin1String(kindName(kind))), QString()};
}

void inject(Connection& connection, std::shared_ptr<Plan> plan)
{
    wrapBackend(connection, [plan = std::move(plan)](std::unique_ptr<Backend> real) -> std::unique_ptr<Backend> {
        return std::make_unique<FaultyBackend>(std::move(real), plan);
    });
}

} // namespace db::faults

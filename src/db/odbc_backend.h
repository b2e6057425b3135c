#pragma once

#include "db/backend.h"
#include "db/odbc_batch.h"
#include "db/odbc_link.h"

namespace db {

// A database behind an ODBC link; while the row writer defers writes they
// wait in a batch.
class OdbcBackend final : public Backend {
public:
    OdbcBackend();
    ~OdbcBackend() override;

    OdbcLink& link() { return m_link; }
    const OdbcLink& link() const { return m_link; }
    // Queues a write of the current row; sent at once unless writes are deferred.
    void queueWrite(const odbc::Markers& statement, const std::vector<odbc::Parameter>& values, const QString& table);

    Dialect dialect() const override { return m_link.dialect(); }
    bool isOpen() const override { return m_link.isOpen(); }
    std::unique_ptr<EngineQuery> query(Connection& connection, const QString& table) override;
    std::optional<Failure> exec(const QString& text) override;
    std::optional<QString> begin() override;
    std::optional<QString> commit() override;
    void rollback() override;
    bool transactionEnded() override { return !m_link.inTransaction(); }

    bool accepts(Form form) const override { return m_link.accepts(form); }
    void refuse(Form form) override { m_link.refuse(form); }
    QString answeredBy() const override { return m_link.answeredBy(); }
    std::optional<QList<Trigger>> triggers(const QString& table) override { return m_link.triggers(table); }
    void settle(Capabilities& capabilities) const override;

    Deferral& deferral() override { return m_deferral; }
    qsizetype deferredWrites() const override { return m_batch->size(); }
    size_t rowsPerFlush() const override { return 1000; }
    qsizetype writesPerFlush() const override { return 5000; }
    void queueControl(const QString& statement) override;
    void dropRowWrites(int rowTag) override { m_batch->dropTag(rowTag); }
    void flush() override;
    void discard() override { m_batch->discard(); }

private:
    OdbcLink m_link;
    std::unique_ptr<OdbcBatch> m_batch;
    Deferral m_deferral;
};

} // namespace db

#include "db/connection.h"
#include "db/engine_query.h"
#include "db/name_index.h"
#include "db/pg_backend.h"
#include "db/pg_session.h"
#include "db/query.h"
#include "textutil/error.h"
#include "textutil/gbk.h"

#include <QLocale>

#include <libpq-fe.h>

#include <utility>

namespace db {
namespace {

// Rows fetched from a cursor at a time: the program holds one chunk.
constexpr int kPgChunk = 2000;

// A statement on a PostgreSQL session ($1, ... for the names) and its values:
// writes go through the pipeline, everything else runs at once.
class PgQuery final : public EngineQuery {
public:
    PgQuery(Connection& connection, const QString& table, PgBackend& backend)
        : EngineQuery(connection, table), m_backend(backend)
    {
    }
    ~PgQuery() override { closeRows(); } // a cursor left open would hold its rows until the session ends

    void prepare(const QString& text) override
    {
        auto statement = std::make_unique<PgStatement>(pgStatement(text));
        m_write = isWrite(text);
        if (m_write) {
            // Prepared on the server now, so a bad statement fails before any row.
            m_backend.flush();
            if (const auto error = session().pipeline().prepare(*statement))
                fail(*error);
        }
        m_statement = std::move(statement);
        m_values.assign(size_t(m_statement->names.size()), std::nullopt);
        m_index.clear();
    }
    void bindText(const QString& name, const QByteArray& gbkText) override
    {
        // PostgreSQL keeps no NUL in a text; the value would end there unseen.
        if (gbkText.contains('\0'))
            throw belmire::Error(
                QStringLiteral("表 %1 参数 %2：文本中有 NUL 字符（0x00），PostgreSQL 不能保存").arg(m_table, name));
        bind(name, gbk::toUtf8(gbkText));
    }
    void bindAmount(const QString& name, Amount value) override { bind(name, value.toLatin1()); }
    void bindInteger(const QString& name, qint64 value) override { bind(name, QByteArray::number(value)); }
    void bindNumber(const QString& name, double value) override
    {
        bind(name, QString::number(value, 'g', QLocale::FloatingPointShortest).toLatin1());
    }
    void exec() override
    {
        if (m_write)
            m_backend.queueWrite(*m_statement, m_values, m_table);
        else
            run(false);
    }
    void open() override { run(true); }
    bool execDirect(const QString& text) override
    {
        m_backend.flush();
        DriverError error;
        if (!session().execText(text.toUtf8(), &error))
            fail(error);
        return false;
    }
    // Writes are answered by the server later, with their batch.
    int rowsAffected() const override { return !m_statement || m_write ? -1 : m_affected; }
    // The same parameters in the same order as the statement's own.
    bool countsWithValues() const override { return true; }
    int countRows(const QString& count) override
    {
        DriverError error;
        const PgResult r = session().exec(pgStatement(count).text, m_values, &error);
        if (!r)
            fail(error);
        return PQntuples(r.get()) > 0 ? QByteArray(PQgetvalue(r.get(), 0, 0)).toInt() : 0;
    }
    bool fetch() override;
    void close() override { closeRows(); }

    QStringList fieldNames() const override
    {
        QStringList names;
        if (m_result)
            for (int i = 0; i < PQnfields(m_result.get()); ++i)
                names << QString::fromUtf8(PQfname(m_result.get(), i));
        return names;
    }
    QVariant value(int column) const override
    {
        if (onRow() && column < PQnfields(m_result.get()))
            return pgValue(m_result.get(), m_row, column);
        return {};
    }
    QByteArray text(int column) const override
    {
        return onRow() ? pgText(m_result.get(), m_row, column) : variantText(value(column));
    }

private:
    [[noreturn]] void fail(const DriverError& error) const { failStatement(m_connection, m_table, error); }
    PgSession& session() const { return m_backend.session(); }
    bool onRow() const { return m_result && m_row >= 0 && m_row < PQntuples(m_result.get()); }
    void bind(const QString& name, QByteArray value);
    // Runs the statement with its whole result, or opens its row set.
    void run(bool rows);
    void closeRows();

    PgBackend& m_backend;
    std::unique_ptr<PgStatement> m_statement;
    bool m_write = false;
    PgValues m_values;
    NameIndex m_index;
    PgResult m_result;   // the last result, or the chunk of rows being read
    int m_row = -1;      // the current row in it
    QByteArray m_cursor; // the cursor with rows still to fetch, empty when none
    int m_affected = -1;
};

void PgQuery::bind(const QString& name, QByteArray value)
{
    int k = m_index.find(name);
    if (k == NameIndex::kUnknown) {
        k = m_statement->parameter(name);
        m_index.add(name, k);
    }
    if (k >= 0)
        m_values[size_t(k)] = std::move(value);
}

void PgQuery::closeRows()
{
    if (!m_cursor.isEmpty())
        session().closeLater(m_cursor);
    m_cursor.clear();
    m_result.reset();
    m_row = -1;
}

void PgQuery::run(bool rows)
{
    closeRows();
    m_backend.flush();
    PgSession& pg = session();
    DriverError error;
    // Outside a transaction a row set is read through a cursor the server holds;
    // inside one (the target's own reads during a run) the result comes whole.
    if (rows && !pg.inTransactionBlock() && pgReturnsRows(m_statement->text)) {
        const QByteArray cursor = pg.newCursorName();
        m_result = pg.declare(cursor, m_statement->text, m_values, kPgChunk, &error);
        if (!m_result)
            fail(error);
        if (PQntuples(m_result.get()) < kPgChunk)
            pg.closeLater(cursor); // every row is here
        else
            m_cursor = cursor;
    } else {
        m_result = pg.exec(m_statement->text, m_values, &error);
        if (!m_result)
            fail(error);
        m_affected = QByteArray(PQcmdTuples(m_result.get())).toInt();
    }
    m_row = -1;
}

bool PgQuery::fetch()
{
    if (!m_result)
        return false;
    if (++m_row < PQntuples(m_result.get()))
        return true;
    if (m_cursor.isEmpty())
        return false;
    DriverError error;
    PgResult chunk = session().fetch(m_cursor, kPgChunk, &error);
    if (!chunk)
        fail(error);
    if (PQntuples(chunk.get()) < kPgChunk)
        closeRows();
    m_result = std::move(chunk);
    m_row = 0;
    return m_row < PQntuples(m_result.get());
}

} // namespace

std::unique_ptr<EngineQuery> pgQuery(Connection& connection, const QString& table, PgBackend& backend)
{
    return std::make_unique<PgQuery>(connection, table, backend);
}

} // namespace db

#include "db/pg_pipeline.h"

#include "db/dialect.h"

#include <libpq-fe.h>

#include <QSet>

namespace db {

DriverError pgResultError(const pg_result* result)
{
    // The server's message with its SQLSTATE after it.
    const char* state = PQresultErrorField(result, PG_DIAG_SQLSTATE);
    DriverError e{QString::fromUtf8(PQresultErrorMessage(result)), QString::fromLatin1(state ? state : "")};
    if (!e.code.isEmpty())
        e.text += QStringLiteral("(%1)").arg(e.code);
    return e;
}

DriverError pgConnectionError(const pg_conn* connection)
{
    return {QString::fromUtf8(PQerrorMessage(connection)), QString()};
}

int PgStatement::parameter(const QString& name) const
{
    for (qsizetype k = 0; k < names.size(); ++k)
        if (names[k] == name)
            return int(k);
    return -1;
}

PgStatement pgStatement(const QString& text)
{
    PgStatement s;
    s.text = replaceParameters(text, s.names, [](int k) { return u'$' + QString::number(k + 1); }).toUtf8();
    return s;
}

PgPipeline::PgPipeline(pg_conn* connection, ErrorText errorText) : m_conn(connection), m_errorText(std::move(errorText))
{
}

void PgPipeline::queue(const PgStatement& statement, std::vector<std::optional<QByteArray>> values,
                       const QString& table, int tag, int position)
{
    Entry e;
    auto it = m_prepared.find(statement.text);
    if (it == m_prepared.end()) {
        it = m_prepared.insert(statement.text, "belmire_" + QByteArray::number(++m_named));
        e.prepareFirst = true;
    }
    e.name = *it;
    e.text = statement.text;
    e.parameterCount = int(statement.names.size());
    e.values = std::move(values);
    e.values.resize(size_t(e.parameterCount));
    e.table = table;
    e.tag = tag;
    e.position = position;
    m_entries.push_back(std::move(e));
}

std::optional<DriverError> PgPipeline::prepare(const PgStatement& statement)
{
    if (m_prepared.contains(statement.text))
        return std::nullopt;
    if (PQtransactionStatus(m_conn) == PQTRANS_ACTIVE)
        while (PGresult* r = PQgetResult(m_conn))
            PQclear(r);
    const QByteArray name = "belmire_" + QByteArray::number(++m_named);
    PGresult* r = PQprepare(m_conn, name.constData(), statement.text.constData(), int(statement.names.size()), nullptr);
    if (!r)
        return connectionError();
    std::optional<DriverError> error;
    if (PQresultStatus(r) != PGRES_COMMAND_OK)
        error = resultError(r);
    else
        m_prepared.insert(statement.text, name);
    PQclear(r);
    return error;
}

void PgPipeline::queueSimple(const QByteArray& sql, int tag, int position)
{
    Entry e;
    e.text = sql;
    e.tag = tag;
    e.position = position;
    m_entries.push_back(std::move(e));
}

void PgPipeline::dropTag(int tag)
{
    while (!m_entries.empty() && m_entries.back().tag == tag) {
        // A statement first prepared by a dropped write is not prepared yet.
        if (m_entries.back().prepareFirst)
            m_prepared.remove(m_entries.back().text);
        m_entries.pop_back();
    }
}

DriverError PgPipeline::resultError(PGresult* result) const { return pgResultError(result); }

DriverError PgPipeline::connectionError() const { return pgConnectionError(m_conn); }

void PgPipeline::fail(const Entry* entry, const DriverError& error)
{
    const QString text = m_errorText(error);
    const int tag = entry ? entry->tag : 0;
    const int position = entry ? entry->position : 0;
    const QString table = entry ? entry->table : QString();
    m_entries.clear();
    throw DeferredError(table.isEmpty() ? text : QStringLiteral("表 %1：%2").arg(table, text), tag, position);
}

namespace {

const QByteArray kBatchSavepoint = "belmire_batch";

} // namespace

PgPipeline::Outcome PgPipeline::send(std::vector<Entry>& entries, size_t from, size_t to)
{
    Outcome out;
    // Pipeline mode needs an idle connection: anything still arriving is of no use.
    if (PQtransactionStatus(m_conn) == PQTRANS_ACTIVE)
        while (PGresult* r = PQgetResult(m_conn))
            PQclear(r);
    if (PQenterPipelineMode(m_conn) != 1) {
        out.failed = from;
        out.error = connectionError();
        return out;
    }
    // Send everything; a send that fails means the connection broke.
    size_t sent = from;
    for (; sent < to; ++sent) {
        const Entry& e = entries[sent];
        if (e.prepareFirst &&
            PQsendPrepare(m_conn, e.name.constData(), e.text.constData(), e.parameterCount, nullptr) != 1)
            break;
        int ok;
        if (e.name.isEmpty()) {
            ok = PQsendQueryParams(m_conn, e.text.constData(), 0, nullptr, nullptr, nullptr, nullptr, 0);
        } else {
            m_values.resize(size_t(e.parameterCount));
            for (size_t k = 0; k < m_values.size(); ++k)
                m_values[k] = e.values[k] ? e.values[k]->constData() : nullptr;
            ok =
                PQsendQueryPrepared(m_conn, e.name.constData(), e.parameterCount, m_values.data(), nullptr, nullptr, 0);
        }
        if (ok != 1)
            break;
    }
    const bool synced = PQpipelineSync(m_conn) == 1;

    // Read the answers in order: the first failure is the one to report.
    bool failed = false;
    auto readCommand = [&](size_t i) {
        PGresult* r = PQgetResult(m_conn);
        if (!r) {
            if (!failed) {
                failed = true;
                out.failed = i;
                out.error = connectionError();
            }
            return false;
        }
        const ExecStatusType status = PQresultStatus(r);
        if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK && status != PGRES_PIPELINE_ABORTED && !failed) {
            failed = true;
            out.failed = i;
            out.error = resultError(r);
        }
        PQclear(r);
        while ((r = PQgetResult(m_conn)) != nullptr) // the end of this command's results
            PQclear(r);
        return true;
    };
    bool reading = synced;
    for (size_t i = from; i < to; ++i) {
        Entry& e = entries[i];
        if (!reading || i >= sent) {
            if (!failed) {
                failed = true;
                out.failed = i;
                out.error = connectionError();
            }
            break;
        }
        if (e.prepareFirst) {
            reading = readCommand(i);
            // Prepared now (a prepare before any failure): not to be prepared again.
            if (reading && !failed)
                e.prepareFirst = false;
        }
        if (reading)
            reading = readCommand(i);
    }
    if (reading) {
        // The sync point.
        if (PGresult* r = PQgetResult(m_conn))
            PQclear(r);
    }
    PQexitPipelineMode(m_conn);
    return out;
}

void PgPipeline::run(std::vector<Entry>& entries, size_t from, size_t to)
{
    if (from >= to)
        return;
    Outcome out = send(entries, from, to);
    if (out.failed == kNone)
        return;
    // Statements first prepared from the failure on were not prepared.
    for (size_t i = out.failed; i < entries.size(); ++i)
        if (entries[i].prepareFirst)
            m_prepared.remove(entries[i].text);
    const Entry copy = entries[out.failed];
    fail(&copy, out.error);
}

bool PgPipeline::grouped(std::vector<Entry>& entries, size_t from, size_t to)
{
    // The writes alone, without the rows' own savepoints: one savepoint for them all.
    std::vector<Entry> writes;
    writes.reserve(to - from + 2);
    Entry mark;
    mark.text = "SAVEPOINT " + kBatchSavepoint;
    mark.tag = entries[from].tag;
    writes.push_back(mark);
    for (size_t i = from; i < to; ++i)
        if (!entries[i].name.isEmpty())
            writes.push_back(entries[i]);
    mark.text = "RELEASE SAVEPOINT " + kBatchSavepoint;
    writes.push_back(mark);
    if (writes.size() < 4) // fewer than two writes: nothing gained
        return false;
    const Outcome out = send(writes, 0, writes.size());
    // What the attempt prepared stays prepared: the rows sent again do not prepare it twice.
    QSet<QByteArray> prepared;
    for (const Entry& e : writes)
        if (!e.name.isEmpty() && !e.prepareFirst)
            prepared.insert(e.text);
    for (size_t i = from; i < to; ++i)
        if (entries[i].prepareFirst && prepared.contains(entries[i].text))
            entries[i].prepareFirst = false;
    if (out.failed == kNone)
        return true;
    // Undone to the savepoint, the rows go again one by one, each under its
    // own savepoint, so the failing write and those before it end as they
    // would have without the attempt.
    for (const QByteArray& sql : {"ROLLBACK TO SAVEPOINT " + kBatchSavepoint, "RELEASE SAVEPOINT " + kBatchSavepoint})
        PQclear(PQexec(m_conn, sql.constData()));
    return false;
}

void PgPipeline::flush()
{
    if (m_entries.empty())
        return;
    std::vector<Entry> entries;
    std::swap(entries, m_entries);
    // The whole rows go together under one savepoint, and one by one only
    // when one of them fails; a row begun or not finished goes on its own.
    const auto [from, to] = wholeRows(
        entries, [](const Entry& e) { return e.name.isEmpty() && e.position == 0; },
        [](const Entry& e) { return e.name.isEmpty() && e.position > 0; });
    run(entries, 0, from);
    if (from >= to || !grouped(entries, from, to))
        run(entries, from, to);
    run(entries, to, entries.size());
}

} // namespace db

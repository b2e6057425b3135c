#include "db/pg_pipeline.h"

#include <libpq-fe.h>

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
    QString out;
    out.reserve(text.size() + 16);
    QChar quote;
    const qsizetype n = text.size();
    for (qsizetype i = 0; i < n; ++i) {
        const QChar c = text[i];
        if (!quote.isNull()) {
            if (c == quote)
                quote = QChar();
            out += c;
            continue;
        }
        if (c == u'\'' || c == u'"') {
            quote = c;
            out += c;
            continue;
        }
        if (c == u':' && i + 1 < n && text[i + 1] == u':') { // a cast
            out += QStringLiteral("::");
            ++i;
            continue;
        }
        const auto isNameChar = [](QChar ch) { return ch.isLetterOrNumber() || ch == u'_'; };
        if (c == u':' && i + 1 < n && isNameChar(text[i + 1])) {
            qsizetype end = i + 1;
            while (end < n && isNameChar(text[end]))
                ++end;
            const QString name = text.mid(i + 1, end - i - 1);
            int k = s.parameter(name);
            if (k < 0) {
                k = int(s.names.size());
                s.names.append(name);
            }
            out += u'$' + QString::number(k + 1);
            i = end - 1;
            continue;
        }
        out += c;
    }
    s.text = out.toUtf8();
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

void PgPipeline::flush()
{
    if (m_entries.empty())
        return;
    // Pipeline mode needs an idle connection: anything still arriving is of no use.
    if (PQtransactionStatus(m_conn) == PQTRANS_ACTIVE)
        while (PGresult* r = PQgetResult(m_conn))
            PQclear(r);
    if (PQenterPipelineMode(m_conn) != 1) {
        for (const Entry& e : m_entries)
            if (e.prepareFirst)
                m_prepared.remove(e.text);
        fail(&m_entries.front(), connectionError());
    }
    // Send everything; a send that fails means the connection broke.
    size_t sent = 0;
    for (; sent < m_entries.size(); ++sent) {
        const Entry& e = m_entries[sent];
        if (e.prepareFirst &&
            PQsendPrepare(m_conn, e.name.constData(), e.text.constData(), e.parameterCount, nullptr) != 1)
            break;
        int ok;
        if (e.name.isEmpty()) {
            ok = PQsendQueryParams(m_conn, e.text.constData(), 0, nullptr, nullptr, nullptr, nullptr, 0);
        } else {
            std::vector<const char*> values(size_t(e.parameterCount));
            for (size_t k = 0; k < values.size(); ++k)
                values[k] = e.values[k] ? e.values[k]->constData() : nullptr;
            ok = PQsendQueryPrepared(m_conn, e.name.constData(), e.parameterCount, values.data(), nullptr, nullptr, 0);
        }
        if (ok != 1)
            break;
    }
    const bool synced = PQpipelineSync(m_conn) == 1;

    // Read the answers in order: the first failure is the one to report.
    const Entry* failed = nullptr;
    DriverError error;
    auto readCommand = [&](const Entry& e) {
        PGresult* r = PQgetResult(m_conn);
        if (!r) {
            if (!failed) {
                failed = &e;
                error = connectionError();
            }
            return false;
        }
        const ExecStatusType status = PQresultStatus(r);
        if (status == PGRES_FATAL_ERROR && !failed) {
            failed = &e;
            error = resultError(r);
        } else if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK && status != PGRES_PIPELINE_ABORTED &&
                   status != PGRES_FATAL_ERROR && !failed) {
            failed = &e;
            error = resultError(r);
        }
        PQclear(r);
        while ((r = PQgetResult(m_conn)) != nullptr) // the end of this command's results
            PQclear(r);
        return true;
    };
    bool reading = synced;
    for (size_t i = 0; i < m_entries.size(); ++i) {
        const Entry& e = m_entries[i];
        if (!reading || i >= sent) {
            if (!failed) {
                failed = &e;
                error = connectionError();
            }
            break;
        }
        if (e.prepareFirst)
            reading = readCommand(e);
        if (reading)
            reading = readCommand(e);
    }
    if (reading) {
        // The sync point.
        if (PGresult* r = PQgetResult(m_conn))
            PQclear(r);
    }
    PQexitPipelineMode(m_conn);
    if (failed) {
        // Statements first prepared in this batch after the failure were not prepared.
        bool after = false;
        for (const Entry& e : m_entries) {
            if (&e == failed)
                after = true;
            if (after && e.prepareFirst)
                m_prepared.remove(e.text);
        }
        const Entry copy = *failed;
        fail(&copy, error);
    }
    m_entries.clear();
}

} // namespace db

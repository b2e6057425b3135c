#include "db/odbc_batch.h"

#include "db/dialect.h"
#include "db/odbc_link.h"

#include <algorithm>

namespace db {
namespace {

// Parameters a statement may take: SQL Server at most 2,100, SQLite 999 before
// 3.32; PostgreSQL 65,535, but psqlODBC 13 loses its way ("lost
// synchronization with server") in the server's description of 8,000 (32,006
// bytes; 7,000 work). SQL Server takes at most 1,000 rows in a VALUES list.
int parametersPerStatement(Dialect dialect)
{
    switch (dialect) {
    case Dialect::SqlServer:
        return 2000;
    case Dialect::SQLite:
        return 999;
    case Dialect::PostgreSQL:
        break;
    }
    return 6000;
}
constexpr int kRowsPerStatement = 1000;
const QString kBatchSavepoint = QStringLiteral("belmire_batch");

} // namespace

OdbcBatch::OdbcBatch(OdbcLink& link) : m_link(link) {}

OdbcBatch::~OdbcBatch() = default;

void OdbcBatch::queue(const odbc::Markers& statement, const std::vector<odbc::Parameter>& values, const QString& table,
                      int tag, int position)
{
    if (!m_last || m_last->marked.text != statement.text) {
        auto [it, added] = m_statements.try_emplace(statement.text);
        Statements& s = it->second;
        if (added) {
            s.marked = statement;
            const int markers = int(statement.markers.size());
            s.groupable = !odbc::insertRows(statement, 2).text.isEmpty();
            s.rowsPerStatement =
                qBound(1, parametersPerStatement(m_link.dialect()) / qMax(1, markers), kRowsPerStatement);
        }
        m_last = &s;
    }
    m_entries.push_back(Entry{m_last, QString(), values, table, tag, position});
}

void OdbcBatch::queueControl(const QString& text, int tag, int position)
{
    m_entries.push_back(Entry{nullptr, text, {}, QString(), tag, position});
}

void OdbcBatch::dropTag(int tag)
{
    while (!m_entries.empty() && m_entries.back().tag == tag)
        m_entries.pop_back();
}

odbc::Statement& OdbcBatch::statement(Statements& s, int rows)
{
    // One row, a full statement and the last remainder are kept: every
    // remainder kept would hold its values' buffers for the whole run.
    for (auto it = s.rows.begin(); it != s.rows.end();)
        it = it->first == 1 || it->first == s.rowsPerStatement || it->first == rows ? std::next(it) : s.rows.erase(it);
    auto& slot = s.rows[rows];
    if (!slot) {
        auto statement = std::make_unique<odbc::Statement>(m_link.main());
        statement->prepare(rows == 1 ? s.marked : odbc::insertRows(s.marked, rows));
        slot = std::move(statement);
    }
    return *slot;
}

void OdbcBatch::fail(const Entry& e, const odbc::Failure& f)
{
    const QString text = m_link.errorText(f);
    throw DeferredError(e.table.isEmpty() ? text : QStringLiteral("表 %1：%2").arg(e.table, text), e.tag, e.position);
}

void OdbcBatch::control(const QString& text)
{
    if (!text.isEmpty())
        m_link.main().execute(text);
}

void OdbcBatch::run(const Entry& e)
{
    if (!e.write) {
        control(e.text);
        return;
    }
    odbc::Statement& s = statement(*e.write, 1);
    for (size_t k = 0; k < e.values.size(); ++k)
        s.bindValue(int(k), e.values[k]);
    s.execute();
}

void OdbcBatch::replay(const std::vector<Entry>& entries, size_t from, size_t to)
{
    for (size_t i = from; i < to; ++i) {
        try {
            run(entries[i]);
        } catch (const odbc::Failure& f) {
            fail(entries[i], f);
        }
    }
}

bool OdbcBatch::grouped(const std::vector<Entry>& entries, size_t from, size_t to)
{
    // The writes by statement, in the order each statement first came; a
    // statement's rows keep their order.
    std::vector<std::pair<Statements*, std::vector<const Entry*>>> groups;
    for (size_t i = from; i < to; ++i) {
        const Entry& e = entries[i];
        if (!e.write)
            continue;
        auto it = std::find_if(groups.begin(), groups.end(), [&](const auto& g) { return g.first == e.write; });
        if (it == groups.end()) {
            groups.emplace_back(e.write, std::vector<const Entry*>());
            it = groups.end() - 1;
        }
        it->second.push_back(&e);
    }
    const Dialect dialect = m_link.dialect();
    // A failure that leaves no transaction to go back into ends the batch at its first row, whose mark counts as unset.
    Entry first = entries[from];
    try {
        control(savepointSql(dialect, kBatchSavepoint));
    } catch (const odbc::Failure& f) {
        fail(first, f);
    }
    try {
        for (const auto& [s, rows] : groups) {
            first.table = rows.front()->table;
            const int names = int(s->marked.names.size());
            for (size_t at = 0; at < rows.size();) {
                const int n = int(qMin(size_t(s->rowsPerStatement), rows.size() - at));
                odbc::Statement& q = statement(*s, n);
                for (int r = 0; r < n; ++r) {
                    const std::vector<odbc::Parameter>& values = rows[at + size_t(r)]->values;
                    for (int k = 0; k < names; ++k)
                        q.bindValue(r * names + k, values[size_t(k)]);
                }
                q.execute();
                at += size_t(n);
            }
        }
    } catch (const odbc::Failure& f) {
        if (f.deadlock() || f.lostConnection())
            fail(first, f);
        try {
            control(rollbackToSql(dialect, kBatchSavepoint));
            control(releaseSql(dialect, kBatchSavepoint));
        } catch (const odbc::Failure&) {
            fail(first, f);
        }
        return false;
    }
    try {
        control(releaseSql(dialect, kBatchSavepoint));
    } catch (const odbc::Failure& f) {
        fail(first, f);
    }
    return true;
}

void OdbcBatch::flush()
{
    if (m_entries.empty())
        return;
    std::vector<Entry> entries;
    entries.swap(m_entries);
    const size_t n = entries.size();
    const auto opens = [](const Entry& e) { return !e.write && e.position == 0; };
    const auto closes = [](const Entry& e) { return !e.write && e.position > 0; };
    // A row whose mark went with an earlier flush goes on in order, as does a
    // row not finished yet; the whole rows between go grouped.
    size_t from = 0;
    if (!opens(entries.front()))
        while (from < n && entries[from].tag == entries.front().tag)
            ++from;
    size_t to = n;
    if (!closes(entries.back()))
        while (to > from && entries[to - 1].tag == entries.back().tag)
            --to;
    replay(entries, 0, from);
    // Grouping reorders writes of different statements; only INSERTs of one
    // VALUES row each may go so.
    bool together = true;
    size_t writes = 0;
    for (size_t i = from; i < to; ++i)
        if (entries[i].write) {
            ++writes;
            together = together && entries[i].write->groupable;
        }
    if (!(together && writes >= 2 && grouped(entries, from, to)))
        replay(entries, from, to);
    replay(entries, to, n);
}

} // namespace db

#include "db/odbc_batch.h"

#include "db/dialect.h"
#include "db/odbc_calls.h"
#include "db/odbc_link.h"

#include <QScopeGuard>

#include <algorithm>
#include <cstring>
#include <utility>

namespace db {
namespace {

// Parameters a statement may take: SQL Server at most 2,100, SQLite 999 before
// 3.32; PostgreSQL 65,535, but psqlODBC 13 has libpq describe the statement,
// and libpq up to 16 takes no description longer than 30,000 bytes ("lost
// synchronization with server"): 7,498 parameters (8,000 fail, 7,000 give
// 28,006 bytes). Other drivers for PostgreSQL get 6,000. SQL Server takes at
// most 1,000 rows in a VALUES list.
int parametersPerStatement(const OdbcLink& link)
{
    switch (link.dialect()) {
    case Dialect::SqlServer:
        return 2000;
    case Dialect::SQLite:
        return 999;
    case Dialect::PostgreSQL:
        break;
    }
    return link.psqlodbc() ? 7000 : 6000;
}
constexpr int kRowsPerStatement = 1000;
const QString kBatchSavepoint = QStringLiteral("belmire_batch");
// The rows of a piece (see OdbcBatch::piece()) are a multiple of an eighth of a full statement's.
int pieceRows(int rowsPerStatement) { return qMax(1, rowsPerStatement / 8); }
} // namespace

OdbcBatch::OdbcBatch(OdbcLink& link) : m_link(link) {}

OdbcBatch::~OdbcBatch() = default;

int OdbcBatch::rowsFor(int markers) const
{
    return qBound(1, parametersPerStatement(m_link) / qMax(1, markers), kRowsPerStatement);
}

void OdbcBatch::queue(const odbc::Markers& statement, const std::vector<odbc::Parameter>& values, const QString& table,
                      int tag, int position)
{
    if (!m_last || m_last->marked.text != statement.text) {
        auto [it, added] = m_statements.try_emplace(statement.text);
        Statements& s = it->second;
        if (added) {
            s.marked = statement;
            const int markers = int(statement.markers.size());
            // A table with an INSERT trigger gets one row per statement: such triggers are often written for one.
            s.groupable = !odbc::insertRows(statement, 2).text.isEmpty() && !m_link.oneRowPerInsert(table);
            s.rowsPerStatement = rowsFor(markers);
            for (int k = 0; k < int(statement.names.size()); ++k)
                s.bound.push_back(k);
        }
        m_last = &s;
    }
    const size_t first = m_held.values.size();
    for (const odbc::Parameter& p : values) {
        m_held.values.push_back(Value{p, m_held.bytes.size(), p.data.size()});
        m_held.bytes.append(p.data);
    }
    m_held.entries.push_back(Entry{m_last, QString(), first, values.size(), table, tag, position});
}

void OdbcBatch::queueControl(const QString& text, int tag, int position)
{
    m_held.entries.push_back(Entry{nullptr, text, m_held.values.size(), 0, QString(), tag, position});
}

void OdbcBatch::dropTag(int tag)
{
    while (!m_held.entries.empty() && m_held.entries.back().tag == tag) {
        const Entry& e = m_held.entries.back();
        m_held.values.resize(e.firstValue);
        m_held.bytes.truncate(m_held.values.empty() ? 0 : m_held.values.back().at + m_held.values.back().size);
        m_held.entries.pop_back();
    }
}

void OdbcBatch::bind(odbc::Statement& s, int first, const Held& held, const Entry& e)
{
    for (size_t k = 0; k < e.valueCount; ++k) {
        const Value& v = held.values[e.firstValue + k];
        s.bindValue(first + int(k), v.shape, held.bytes.constData() + v.at, v.size);
    }
}

void OdbcBatch::bind(odbc::Statement& s, int first, const Held& held, const Entry& e, const std::vector<int>& names)
{
    for (size_t j = 0; j < names.size(); ++j) {
        const Value& v = held.values[e.firstValue + size_t(names[j])];
        s.bindValue(first + int(j), v.shape, held.bytes.constData() + v.at, v.size);
    }
}

odbc::Statement& OdbcBatch::statement(Statements& s, int rows, odbc::RowsForm form)
{
    // One row, a full statement and the last remainder are kept: every
    // remainder kept would hold its values' buffers for the whole run. On
    // psqlODBC the statements the last flush used stay as well, so a
    // remainder that comes again (the same rows in every batch, or the same
    // piece, see piece()) runs prepared. Statements of many rows in another
    // form than asked are of no more use.
    const bool otherForm = rows > 1 && form != s.form;
    if (rows > 1)
        s.form = form;
    const bool psqlodbc = m_link.psqlodbc();
    // The few rows left after a piece come in other numbers each time: they are not kept.
    const int eighth = pieceRows(s.rowsPerStatement);
    const auto recent = [&](int n) {
        const auto it = s.used.find(n);
        return psqlodbc && it != s.used.end() && it->second + 1 >= m_flushes &&
               (n % eighth == 0 || n == s.lastRemainder);
    };
    for (auto it = s.rows.begin(); it != s.rows.end();)
        if (it->first == 1 ||
            (!otherForm && (it->first == s.rowsPerStatement || it->first == rows || recent(it->first))))
            ++it;
        else {
            s.used.erase(it->first);
            it = s.rows.erase(it);
        }
    if (psqlodbc && rows > 1)
        s.used[rows] = m_flushes;
    auto& slot = s.rows[rows];
    if (!slot) {
        auto statement = std::make_unique<odbc::Statement>(m_link.main());
        // psqlODBC takes a buffer bound anew as just that: the values of many
        // rows need no room set aside beyond their own size.
        if (psqlodbc && rows > 1)
            statement->setValueRoom(0);
        // A remainder runs once: directly, with no server-side statement to set up and drop.
        statement->prepare(rows == 1 ? s.marked : odbc::insertRows(s.marked, rows, form, s.written),
                           odbc::Statement::Prepare::Later);
        slot = std::move(statement);
    }
    return *slot;
}

int OdbcBatch::piece(const Statements& s, int n) const
{
    // Where the batches leave over other rows each time (the units of their
    // products), a new statement would cost psqlODBC the parse of its whole
    // text, at every batch. They go as a statement of a multiple of an eighth
    // of a full one, which batches before have most likely prepared, and the
    // few left over: a round trip more for the parse of most of them.
    const bool varying = s.remainderBefore >= 0 && s.lastRemainder != s.remainderBefore && n != s.lastRemainder;
    if (!m_link.psqlodbc() || n >= s.rowsPerStatement || !varying)
        return n;
    const int eighth = pieceRows(s.rowsPerStatement);
    return n >= eighth ? n / eighth * eighth : n;
}

std::optional<odbc::RowsForm> OdbcBatch::rowsForm() const
{
    if (m_link.accepts(Form::RowValues))
        return odbc::RowsForm::Values;
    if (m_link.accepts(Form::SelectRows))
        return odbc::RowsForm::Select;
    return std::nullopt;
}

void OdbcBatch::fail(const Entry& e, const odbc::Failure& f)
{
    const QString text = m_link.errorText(f);
    throw DeferredError(e.table.isEmpty() ? text : QStringLiteral("表 %1：%2").arg(e.table, text), e.tag, e.position);
}

void OdbcBatch::control(const QString& text)
{
    if (!text.isEmpty())
        m_link.send(text);
}

void OdbcBatch::run(const Held& held, const Entry& e)
{
    if (!e.write) {
        // A row's release waits for the next statement, where the link holds statements back.
        if (e.position > 0 && !e.text.isEmpty())
            m_link.holdBack(e.text);
        else
            control(e.text);
        return;
    }
    m_link.sendHeld();
    odbc::Statement& s = statement(*e.write, 1);
    bind(s, 0, held, e);
    s.execute();
}

void OdbcBatch::replay(const Held& held, size_t from, size_t to)
{
    for (size_t i = from; i < to; ++i) {
        const Entry& e = held.entries[i];
        try {
            run(held, e);
        } catch (const odbc::Failure& f) {
            // A write whose error ended the server's transaction (SQL Server: a
            // conversion error, XACT_ABORT in a trigger) took every write since
            // the last commit, its row's mark too.
            if (e.write && !f.lostConnection() && !f.deadlock() && !m_link.inTransaction()) {
                const QString text = m_link.transactionEndedText(f);
                throw DeferredError::transactionEnded(
                    e.table.isEmpty() ? text : QStringLiteral("表 %1：%2").arg(e.table, text), e.tag, e.position);
            }
            fail(e, f);
        }
    }
}

bool OdbcBatch::grouped(const Held& held, size_t from, size_t to)
{
    for (;;) {
        const auto form = rowsForm();
        if (!form)
            return false;
        switch (groupedAs(*form, held, from, to)) {
        case Outcome::Sent:
            return true;
        case Outcome::Refused:
            return false;
        case Outcome::FormRefused:
            m_link.refuse(*form == odbc::RowsForm::Values ? Form::RowValues : Form::SelectRows);
            break;
        }
    }
}

OdbcBatch::Outcome OdbcBatch::groupedAs(odbc::RowsForm form, const Held& held, size_t from, size_t to)
{
    const std::vector<Entry>& entries = held.entries;
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
    Entry first = entries[from];
    // A failure that leaves no transaction to go back into takes the rows of
    // the whole batch; which of them failed is not known unless it holds one.
    const int lastTag = entries[to - 1].tag;
    const auto ended = [&](const odbc::Failure& f) {
        const QString text = m_link.transactionEndedText(f);
        throw DeferredError::transactionEnded(
            first.table.isEmpty() ? text : QStringLiteral("表 %1：%2").arg(first.table, text), first.tag, 0,
            lastTag == first.tag ? -1 : lastTag);
    };
    try {
        control(savepointSql(dialect, kBatchSavepoint));
    } catch (const odbc::Failure& f) {
        fail(first, f);
    }
    try {
        for (const auto& [s, rows] : groups) {
            first.table = rows.front()->table;
            if (m_link.psqlodbc())
                share(*s, held, rows);
            const int names = int(s->bound.size());
            for (size_t at = 0; at < rows.size();) {
                const int n = piece(*s, int(qMin(size_t(s->rowsPerStatement), rows.size() - at)));
                odbc::Statement& q = statement(*s, n, form);
                for (int r = 0; r < n; ++r)
                    if (n == 1)
                        bind(q, 0, held, *rows[at]);
                    else
                        bind(q, r * names, held, *rows[at + size_t(r)], s->bound);
                q.execute();
                at += size_t(n);
            }
            s->remainderBefore = std::exchange(s->lastRemainder, int(rows.size() % size_t(s->rowsPerStatement)));
        }
    } catch (const odbc::Failure& f) {
        if (f.deadlock() || f.lostConnection() || !m_link.inTransaction())
            ended(f);
        try {
            control(rollbackToSql(dialect, kBatchSavepoint));
            control(releaseSql(dialect, kBatchSavepoint));
        } catch (const odbc::Failure&) {
            ended(f);
        }
        return dialect == Dialect::SqlServer && f.refusedForm() ? Outcome::FormRefused : Outcome::Refused;
    }
    try {
        if (const QString release = releaseSql(dialect, kBatchSavepoint); !release.isEmpty())
            m_link.holdBack(release);
    } catch (const odbc::Failure& f) {
        fail(first, f);
    }
    return Outcome::Sent;
}

void OdbcBatch::flush()
{
    if (m_held.entries.empty())
        return;
    ++m_flushes;
    Held held;
    std::swap(held, m_held);
    // The arrays go back empty with their room, for the next batch.
    const auto keepRoom = qScopeGuard([&] {
        if (m_held.entries.empty()) {
            held.entries.clear();
            held.values.clear();
            held.bytes.resize(0);
            std::swap(held, m_held);
        }
    });
    const std::vector<Entry>& entries = held.entries;
    const size_t n = entries.size();
    // A row whose mark went with an earlier flush goes on in order, as does a
    // row not finished yet; the whole rows between go grouped.
    const auto [from, to] = wholeRows(
        entries, [](const Entry& e) { return !e.write && e.position == 0; },
        [](const Entry& e) { return !e.write && e.position > 0; });
    replay(held, 0, from);
    // Grouping reorders writes of different statements; only INSERTs of one
    // VALUES row each may go so.
    bool together = true;
    size_t writes = 0;
    for (size_t i = from; i < to; ++i)
        if (entries[i].write) {
            ++writes;
            together = together && entries[i].write->groupable;
        }
    if (!(together && writes >= 2 && grouped(held, from, to)))
        replay(held, from, to);
    replay(held, to, n);
}

} // namespace db

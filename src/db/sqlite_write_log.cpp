// The log of a batch's writes on SQLite, to write the rows before a failing one again.
#include "db/sqlite_statement.h"

#include "textutil/error.h"

#include <sqlite3.h>

#include <cstring>

namespace db {

// While a log records, the handle keeps the page copies of its savepoints (the
// sub-journal) in memory: past 64 KiB the library would write them to a
// temporary file, and a walk's savepoints then made most of its file writes.
// They hold the pages of the rows since the mark, and go at each release. The
// library takes the setting only outside a transaction; the handle's default
// comes back when the log goes (this layer sets it nowhere else).
SqliteWriteLog::SqliteWriteLog(sqlite3* handle, std::shared_ptr<SqliteWriteLog*> recording)
    : m_handle(handle), m_recording(std::move(recording))
{
    restart();
    *m_recording = this;
    m_tempInMemory = sqlite3_get_autocommit(m_handle) &&
                     sqlite3_exec(m_handle, "PRAGMA temp_store=MEMORY", nullptr, nullptr, nullptr) == SQLITE_OK;
}

SqliteWriteLog::~SqliteWriteLog()
{
    if (*m_recording == this)
        *m_recording = nullptr;
    // Sorts and temporary tables may spill to files again (the store stock's sums).
    if (m_tempInMemory && sqlite3_get_autocommit(m_handle))
        sqlite3_exec(m_handle, "PRAGMA temp_store=DEFAULT", nullptr, nullptr, nullptr);
}

qint64 SqliteWriteLog::changes() const { return sqlite3_total_changes64(m_handle); }

void SqliteWriteLog::restart()
{
    // The arrays keep their room for the next batch.
    m_writes.clear();
    for (std::string& chunk : m_chunks)
        chunk.clear();
    m_chunk = 0;
    m_atMark = changes();
    m_recorded = 0;
    m_lost = false;
}

int SqliteWriteLog::textIndex(const QByteArray& sql)
{
    for (qsizetype i = m_texts.size() - 1; i >= 0; --i)
        if (m_texts[i].constData() == sql.constData() || m_texts[i] == sql)
            return int(i);
    m_texts.append(sql);
    return int(m_texts.size() - 1);
}

void SqliteWriteLog::record(const QByteArray& sql, const std::vector<SqliteStatement::Bound>& values, qint64 changed)
{
    using Kind = SqliteStatement::Bound::Kind;
    const int text = m_writes.empty() || m_texts[m_writes.back().text].constData() != sql.constData()
                         ? textIndex(sql)
                         : m_writes.back().text;
    size_t size = values.size();
    for (const SqliteStatement::Bound& b : values)
        size += b.kind == Kind::Null ? 0 : b.kind == Kind::Text ? sizeof(qint64) + size_t(b.text.size()) : 8;
    constexpr size_t kChunk = 64 * 1024;
    if (m_chunks.empty())
        m_chunks.emplace_back().reserve(kChunk);
    if (!m_chunks[m_chunk].empty() && m_chunks[m_chunk].size() + size > kChunk) {
        if (++m_chunk == m_chunks.size())
            m_chunks.emplace_back().reserve(kChunk);
    }
    std::string& bytes = m_chunks[m_chunk];
    const size_t at = bytes.size();
    m_writes.push_back({text, m_chunk, at, values.size(), changed});
    bytes.resize(at + size);
    char* p = bytes.data() + at;
    for (const SqliteStatement::Bound& b : values) {
        *p++ = char(b.kind);
        if (b.kind == Kind::Text) {
            const qint64 n = b.text.size();
            memcpy(p, &n, sizeof n);
            p += sizeof n;
            memcpy(p, b.text.constData(), size_t(n));
            p += n;
        } else if (b.kind == Kind::Integer) {
            memcpy(p, &b.integer, 8);
            p += 8;
        } else if (b.kind == Kind::Number) {
            memcpy(p, &b.number, 8);
            p += 8;
        }
    }
    m_recorded += changed;
}

bool SqliteWriteLog::replay(size_t count)
{
    using Kind = SqliteStatement::Bound::Kind;
    // Every change since the mark must be one the log holds; any other would be lost unseen.
    const bool whole = !m_lost && count <= m_writes.size() && changes() - m_atMark == m_recorded;
    if (!whole) {
        restart();
        return false;
    }
    std::vector<sqlite3_stmt*> statements(size_t(m_texts.size()), nullptr);
    bool ok = true;
    for (size_t i = 0; ok && i < count; ++i) {
        const Write& w = m_writes[i];
        const QByteArray& sql = m_texts[w.text];
        sqlite3_stmt*& stmt = statements[size_t(w.text)];
        if (!stmt && sqlite3_prepare_v2(m_handle, sql.constData(), int(sql.size()), &stmt, nullptr) != SQLITE_OK) {
            ok = false;
            break;
        }
        const char* p = m_chunks[w.chunk].data() + w.at;
        for (size_t k = 0; k < w.values; ++k) {
            const int index = int(k) + 1;
            const Kind kind = Kind(*p++);
            if (kind == Kind::Text) {
                qint64 size;
                memcpy(&size, p, sizeof size);
                p += sizeof size;
                sqlite3_bind_text(stmt, index, p, int(size), SQLITE_STATIC);
                p += size;
            } else if (kind == Kind::Integer) {
                qint64 v;
                memcpy(&v, p, sizeof v);
                p += sizeof v;
                sqlite3_bind_int64(stmt, index, v);
            } else if (kind == Kind::Number) {
                double v;
                memcpy(&v, p, sizeof v);
                p += sizeof v;
                sqlite3_bind_double(stmt, index, v);
            } else {
                sqlite3_bind_null(stmt, index);
            }
        }
        ok = sqlite3_step(stmt) == SQLITE_DONE;
        sqlite3_reset(stmt);
    }
    for (sqlite3_stmt* stmt : statements)
        sqlite3_finalize(stmt);
    if (!ok) {
        restart();
        return false;
    }
    // What was written again stays recorded from the mark; the rest is gone.
    if (count < m_writes.size()) {
        const Write& end = m_writes[count];
        m_chunks[end.chunk].resize(end.at);
        for (size_t k = end.chunk + 1; k < m_chunks.size(); ++k)
            m_chunks[k].clear();
        m_chunk = end.chunk;
        m_writes.resize(count);
    }
    m_recorded = changes() - m_atMark;
    return true;
}

} // namespace db

#include "convert_v67/target_keys.h"

#include "db/query.h"
#include "shell/runframe.h"
#include "textutil/gbk.h"

#include <functional>
#include <string_view>

namespace convert_v67 {
namespace {

// The UTF-8 text the database holds for a bound GBK text; ASCII is the same bytes.
QByteArray keyOf(const QByteArray& gbkText)
{
    for (const char c : gbkText)
        if (static_cast<unsigned char>(c) >= 0x80)
            return gbk::toUnicode(gbkText).toUtf8();
    return gbkText;
}

std::uint64_t hashOf(const QByteArray& utf8)
{
    const std::uint64_t h = std::hash<std::string_view>{}(std::string_view(utf8.constData(), size_t(utf8.size())));
    return h == 0 ? 1 : h; // 0 marks an empty slot
}

} // namespace

TargetKeys::TargetKeys(shell::Run& run, QString table, QString column)
    : m_run(run), m_table(std::move(table)), m_column(std::move(column))
{
}

TargetKeys::~TargetKeys() = default;

bool TargetKeys::usable(shell::Run& run) { return run.targetConnection().comparesKeysExactly(); }

bool TargetKeys::mayHold(std::uint64_t hash) const
{
    if (m_slots.empty())
        return false;
    const size_t mask = m_slots.size() - 1;
    for (size_t i = size_t(hash) & mask; m_slots[i] != 0; i = (i + 1) & mask)
        if (m_slots[i] == hash)
            return true;
    return false;
}

void TargetKeys::insert(std::uint64_t hash)
{
    if (mayHold(hash))
        return;
    if ((m_count + 1) * 4 > m_slots.size() * 3) { // at most three quarters full
        std::vector<std::uint64_t> wider(m_slots.empty() ? 1024 : m_slots.size() * 2, 0);
        const size_t mask = wider.size() - 1;
        for (const std::uint64_t h : m_slots)
            if (h != 0) {
                size_t i = size_t(h) & mask;
                while (wider[i] != 0)
                    i = (i + 1) & mask;
                wider[i] = h;
            }
        m_slots.swap(wider);
    }
    const size_t mask = m_slots.size() - 1;
    size_t i = size_t(hash) & mask;
    while (m_slots[i] != 0)
        i = (i + 1) & mask;
    m_slots[i] = hash;
    ++m_count;
}

bool TargetKeys::contains(const QByteArray& gbkText)
{
    if (!m_loaded)
        load();
    if (!mayHold(hashOf(keyOf(gbkText))))
        return false;
    // Same connection and transaction as the run's writes: rows written so far count.
    if (!m_confirm) {
        m_confirm = std::make_unique<db::Query>(m_run.targetConnection());
        m_confirm->setText(QStringLiteral("select 1 from %1 where %2=:v").arg(m_table, m_column));
    }
    m_confirm->close();
    m_confirm->bindText(QStringLiteral("v"), gbkText);
    m_confirm->open();
    const bool found = m_confirm->next();
    while (m_confirm->next()) // read to the end: the connection is idle again for the writes
        ;
    m_confirm->close();
    return found;
}

void TargetKeys::add(const QByteArray& gbkText)
{
    // Before the first check the scan will read the row from the target.
    if (m_loaded)
        insert(hashOf(keyOf(gbkText)));
}

void TargetKeys::load()
{
    // Same connection and transaction as the run's writes, so rows written
    // before the first check are read too.
    db::Query all(m_run.targetConnection());
    all.setText(QStringLiteral("select %1 from %2").arg(m_column, m_table));
    all.open();
    while (all.next()) {
        const QVariant v = all.value(m_column);
        // NULL equals nothing; a blob (SQLite keeps one in any column) never equals a bound text.
        if (v.isNull() || v.typeId() == QMetaType::QByteArray)
            continue;
        insert(hashOf(v.toString().toUtf8()));
    }
    m_loaded = true;
}

} // namespace convert_v67

#include "convert_v67/target_keys.h"

#include "db/query.h"
#include "shell/runframe.h"
#include "textutil/gbk.h"

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

} // namespace

TargetKeys::TargetKeys(shell::Run& run, QString table, QString column)
    : m_run(run), m_table(std::move(table)), m_column(std::move(column))
{
}

bool TargetKeys::usable(shell::Run& run) { return run.targetConnection().dialect() != db::Dialect::SqlServer; }

bool TargetKeys::contains(const QByteArray& gbkText)
{
    if (!m_loaded)
        load();
    return m_keys.contains(keyOf(gbkText));
}

void TargetKeys::add(const QByteArray& gbkText)
{
    // Before the first check the scan will read the row from the target.
    if (m_loaded)
        m_keys.insert(keyOf(gbkText));
}

void TargetKeys::load()
{
    // Same connection and transaction as the run's writes, so rows written
    // before the first check are read too.
    db::Query all(m_run.targetConnection());
    all.setText(QStringLiteral("select %1 from %2").arg(m_column, m_table));
    all.open();
    const bool sqlite = m_run.targetConnection().dialect() == db::Dialect::SQLite;
    while (all.next()) {
        const QVariant v = all.value(m_column);
        // NULL equals nothing; an SQLite blob never equals a bound text.
        if (v.isNull() || (sqlite && v.typeId() == QMetaType::QByteArray))
            continue;
        m_keys.insert(v.toString().toUtf8());
    }
    m_loaded = true;
}

} // namespace convert_v67

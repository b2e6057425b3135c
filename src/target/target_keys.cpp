#include "target/target_keys.h"

#include "db/query.h"
#include "shell/runframe.h"
#include "textutil/gbk.h"

namespace target {
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

TargetKeys::~TargetKeys() = default;

bool TargetKeys::usable(shell::Run& run) { return run.targetConnection().comparesKeysExactly(); }

bool TargetKeys::contains(const QByteArray& gbkText)
{
    if (!m_loaded)
        load();
    if (!m_hashes.contains(textutil::keyHash(keyOf(gbkText))))
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
        m_hashes.insert(textutil::keyHash(keyOf(gbkText)));
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
        m_hashes.insert(textutil::keyHash(v.toString().toUtf8()));
    }
    m_loaded = true;
}

} // namespace target

#include "shell/keyed_access.h"
#include "shell/runframe.h"
#include "textutil/gbk.h"

// TargetKeys: the duplicate checks of one target column.
namespace shell {
namespace {

// The UTF-8 text the database holds for a bound GBK text; ASCII is the same bytes.
QByteArray storedText(const QByteArray& gbkText)
{
    for (const char c : gbkText)
        if (static_cast<unsigned char>(c) >= 0x80)
            return gbk::toUnicode(gbkText).toUtf8();
    return gbkText;
}

// Reads a check's rows to the end, so the connection is idle again for the writes.
bool anyRow(db::Query& q)
{
    const bool found = q.next();
    while (q.next())
        ;
    q.close();
    return found;
}

} // namespace

TargetKeys::TargetKeys(Run& run, QString table, QString column, const QStringList& findOne)
    : m_run(run), m_exact(run.targetConnection().capabilities().comparesKeysExactly), m_table(std::move(table)),
      m_column(std::move(column)), m_findOne(findOne)
{
}

TargetKeys::~TargetKeys() = default;

bool TargetKeys::contains(const QByteArray& gbkKey) { return m_exact ? scanned(gbkKey) : windowed(gbkKey); }

void TargetKeys::add(const QByteArray& gbkKey)
{
    if (m_exact) {
        // Before the first check the scan will read the row from the target.
        if (m_loaded)
            m_hashes.insert(textutil::keyHash(storedText(gbkKey)));
        return;
    }
    answer();
    if (const auto it = m_slot.constFind(gbkKey); it != m_slot.constEnd())
        m_written[size_t(m_class[size_t(*it)])] = 1;
    else
        m_trusted = false; // it may equal any listed key
}

bool TargetKeys::scanned(const QByteArray& gbkKey)
{
    if (!m_loaded)
        load();
    if (!m_hashes.contains(textutil::keyHash(storedText(gbkKey))))
        return false;
    // A hash met: the database, which compares exactly, decides. Same
    // connection and transaction as the run's writes: rows written so far count.
    if (!m_confirm) {
        m_confirm = std::make_unique<db::Query>(m_run.targetConnection());
        m_confirm->setText(QStringLiteral("select 1 from %1 where %2=:v").arg(m_table, m_column));
    }
    db::Query& q = *m_confirm;
    q.close();
    q.bindText(QStringLiteral("v"), gbkKey);
    q.open();
    return anyRow(q);
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

void TargetKeys::begin()
{
    if (m_exact)
        return;
    m_slot.clear();
    m_keys.clear();
    m_class.clear();
    m_held.clear();
    m_written.clear();
    m_answered = false;
    m_trusted = true;
}

void TargetKeys::list(const QByteArray& gbkKey)
{
    if (m_exact || m_answered || m_keys.size() >= size_t(KeyLists::kMaxKeys) || m_slot.contains(gbkKey))
        return;
    m_slot.insert(gbkKey, int(m_keys.size()));
    m_keys.push_back(gbkKey);
}

void TargetKeys::answer()
{
    if (m_answered)
        return;
    m_answered = true;
    const int n = int(m_keys.size());
    if (n == 0)
        return;
    m_class.resize(size_t(n));
    m_held.assign(size_t(n), 0);
    m_written.assign(size_t(n), 0);
    for (int k = 0; k < n; ++k)
        m_class[size_t(k)] = k;
    db::Connection& target = m_run.targetConnection();
    // A form the server refuses gives way to the next once, for the whole run;
    // with none left every key is asked on its own.
    db::Query* found = nullptr;
    while (!found) {
        const QString text = target.forms().keysHeldStatement(m_table, m_column, n);
        if (text.isEmpty()) {
            m_trusted = false;
            return;
        }
        // Same connection and transaction as the writes: the rows written so far are sent first and count.
        try {
            found = &m_lists.open(target, text, m_keys);
        } catch (const db::RefusedStatement&) {
            // A refused form leaves the run's transaction as it was; should the
            // server have ended it all the same, the row fails with the error.
            if (target.transactionEnded())
                throw;
            m_lists.clear();
            target.forms().keysHeldFallBack();
        }
    }
    db::Query& q = *found;
    while (q.next()) {
        const qint64 k = db::variantInteger(q.valueAt(0));
        const qint64 c = db::variantInteger(q.valueAt(2));
        if (k < 0 || k >= n || c < 0 || c >= n)
            continue;
        m_held[size_t(k)] = db::variantInteger(q.valueAt(1)) != 0;
        m_class[size_t(k)] = int(c);
    }
    q.close();
}

bool TargetKeys::windowed(const QByteArray& gbkKey)
{
    answer();
    if (m_trusted)
        if (const auto it = m_slot.constFind(gbkKey); it != m_slot.constEnd())
            return m_held[size_t(*it)] || m_written[size_t(m_class[size_t(*it)])];
    return findOne(gbkKey);
}

bool TargetKeys::findOne(const QByteArray& gbkKey)
{
    db::Query& q = m_run.target(m_findOne);
    q.close();
    q.bindText(m_column, gbkKey);
    q.open();
    return anyRow(q);
}

} // namespace shell

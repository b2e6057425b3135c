#include "db/lock_wait.h"

#include <QRegularExpression>
#include <QSet>
#include <QStringList>
#include <QtGlobal>

#include <atomic>
#include <mutex>

namespace db {

int lockWaitMs()
{
    constexpr int kDefaultMs = 30000;
    bool ok = false;
    const int ms = qEnvironmentVariableIntValue("BELMIRE_LOCK_WAIT_MS", &ok);
    return ok && ms > 0 && ms < kDefaultMs ? ms : kDefaultMs;
}

namespace {

const QString kLocked = QStringLiteral("被另一个会话锁定，等待 ");

int waitSeconds() { return (lockWaitMs() + 999) / 1000; }

bool isExcerpt(const QString& line)
{
    static const QRegularExpression re(QStringLiteral(R"(^LINE \d+: )"));
    return re.match(line).hasMatch();
}

bool isCaret(const QString& line) { return line.trimmed() == u"^"; }

// The table an excerpt's caret points at: PostgreSQL marks the name whose lock it was waiting for.
QString tableAtCaret(const QString& driverText)
{
    const QStringList lines = driverText.split(u'\n');
    for (qsizetype i = 0; i + 1 < lines.size(); ++i) {
        if (!isExcerpt(lines[i]) || !isCaret(lines[i + 1]))
            continue;
        static const QRegularExpression name(QStringLiteral(R"re(\G"?([A-Za-z_]\w*)"?(?:\."?([A-Za-z_]\w*)"?)?)re"));
        const auto m = name.match(lines[i], lines[i + 1].indexOf(u'^'));
        if (m.hasMatch())
            return (m.captured(2).isEmpty() ? m.captured(1) : m.captured(2)).toLower();
    }
    return {};
}

struct Memory {
    std::mutex mutex;
    int depth = 0;
    QSet<QString> tables; // where + '\n' + lower-case table name
};

Memory& memory()
{
    static Memory m;
    return m;
}

std::atomic<bool> g_anyGivenUp{false};
std::atomic<int> g_givenUp{0};

} // namespace

QString lockWaitText(const QString& where, const QString& driverText)
{
    return kLocked + QStringLiteral("%1 秒后放弃（%2）：%3")
                         .arg(waitSeconds())
                         .arg(where, withoutExcerpt(driverText).simplified());
}

bool isLockWait(const QString& message) { return message.contains(kLocked); }

LockWaitMemory::LockWaitMemory()
{
    std::lock_guard lock(memory().mutex);
    ++memory().depth;
}

LockWaitMemory::~LockWaitMemory()
{
    std::lock_guard lock(memory().mutex);
    if (--memory().depth == 0) {
        memory().tables.clear();
        g_anyGivenUp = false;
    }
}

void noteLockWaitGivenUp(const QString& where, const QString& driverText, const QString& fallbackTable)
{
    ++g_givenUp;
    QString table = tableAtCaret(driverText);
    if (table.isEmpty())
        table = fallbackTable.toLower();
    std::lock_guard lock(memory().mutex);
    if (memory().depth == 0 || table.isEmpty())
        return;
    memory().tables.insert(where + u'\n' + table);
    g_anyGivenUp = true;
}

bool anyLockWaitGivenUp() { return g_anyGivenUp; }

QString lockWaitGivenUp(const QString& where, const QString& statement, QString* table)
{
    if (!g_anyGivenUp)
        return {};
    // Every name outside quoted texts; a table seldom shares its name with a column.
    static const QRegularExpression quoted(QStringLiteral("'[^']*'"));
    static const QRegularExpression word(QStringLiteral(R"([A-Za-z_]\w*)"));
    const QString bare = QString(statement).remove(quoted);
    std::lock_guard lock(memory().mutex);
    const QString given =
        kLocked + QStringLiteral("%1 秒后已放弃，本次运行不再等待（%2）").arg(waitSeconds()).arg(where);
    if (memory().tables.contains(where + QStringLiteral("\n*")))
        return given;
    for (auto it = word.globalMatch(bare); it.hasNext();) {
        const QString name = it.next().captured();
        if (memory().tables.contains(where + u'\n' + name.toLower())) {
            *table = name;
            return given;
        }
    }
    return {};
}

int lockWaitsGivenUp() { return g_givenUp; }

QString withoutExcerpt(const QString& driverText)
{
    QStringList kept;
    const QStringList lines = driverText.split(u'\n');
    for (qsizetype i = 0; i < lines.size(); ++i) {
        if (isExcerpt(lines[i]) && i + 1 < lines.size() && isCaret(lines[i + 1])) {
            ++i;
            continue;
        }
        kept << lines[i];
    }
    return kept.join(u'\n');
}

} // namespace db

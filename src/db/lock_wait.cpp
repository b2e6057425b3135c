#include "db/lock_wait.h"

#include <QtGlobal>

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
}

QString lockWaitText(const QString& where, const QString& driverText)
{
    const int seconds = (lockWaitMs() + 999) / 1000;
    return kLocked + QStringLiteral("%1 秒后放弃（%2）：%3").arg(seconds).arg(where, driverText);
}

bool isLockWait(const QString& message) { return message.contains(kLocked); }

} // namespace db

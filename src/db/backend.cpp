#include "db/backend.h"

#include "db/connection.h"
#include "db/lock_wait.h"
#include "db/sqlite_statement.h"

namespace db {

std::unique_ptr<Backend> openBackend(Connection& connection, const LinkSettings& link, const QString& udlPath)
{
    if (link.driver == QLatin1String("SQLite"))
        return openSqlite(connection, link, udlPath);
    if (link.driver == QLatin1String("PostgreSQL"))
        return openPostgres(connection, link);
    return openOdbc(connection, link); // every other provider
}

std::unique_ptr<SqliteWriteLog> Backend::writeLog() { return nullptr; }

QString classifiedErrorText(const Connection& connection, const DriverError& error, bool diskFull, bool locked,
                            bool lost)
{
    QString text = error.text.trimmed();
    if (locked)
        return lockWaitText(connection.where(), text);
    if (diskFull || lost) {
        text = text.simplified();
        text = diskFull ? QStringLiteral("磁盘已满（%1）：%2").arg(connection.where(), text)
                        : QStringLiteral("与%1 的连接已断开：%2").arg(connection.where(), text);
    }
    return text;
}

} // namespace db

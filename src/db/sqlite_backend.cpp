#include "db/sqlite_backend.h"

#include "db/connection.h"
#include "db/engine_query.h"
#include "db/lock_wait.h"
#include "db/sqlite_statement.h"
#include "textutil/error.h"

#include <QFile>
#include <QFileInfo>

#include <sqlite3.h>

namespace db {
namespace {

// Byte 18 of a SQLite file's header is 2 in WAL mode.
bool inWalMode(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return false;
    const QByteArray header = f.read(20);
    return header.size() == 20 && header.startsWith("SQLite format 3") && header[18] == 2;
}

// After a read-only open: reads the schema, and says what a WAL-mode file needs when that fails.
void checkReadable(const Connection& connection, sqlite3* handle)
{
    // Reading the schema is the first read; a WAL-mode file needs its -wal and -shm files for it.
    const int rc = sqlite3_exec(handle, "select count(*) from sqlite_master", nullptr, nullptr, nullptr);
    if (rc == SQLITE_OK)
        return;
    const LinkSettings& link = connection.settings();
    QString text = sqliteErrorText(connection, sqliteError(handle, rc));
    const int code = sqlite3_extended_errcode(handle);
    if (inWalMode(link.databaseName) && (code == SQLITE_READONLY_DIRECTORY || code == SQLITE_READONLY_CANTINIT ||
                                         code == SQLITE_READONLY_RECOVERY || (code & 0xFF) == SQLITE_CANTOPEN)) {
        const QFileInfo file(link.databaseName);
        text = QStringLiteral("它是 WAL 模式的 SQLite 数据库，读它也要在它的文件夹 %1 中建立（或已有）%2-wal 和 %2-shm "
                              "两个文件，而这个文件夹不可写：请让当前用户可以写这个文件夹，或把数据库复制到可写的文件夹"
                              "并改数据连接文件的 Data Source，或先在能写的地方把它改回 DELETE 日志模式"
                              "（PRAGMA journal_mode=DELETE）")
                   .arg(file.absolutePath(), file.fileName());
    }
    sqlite3_close_v2(handle);
    throw belmire::Error(QStringLiteral("无法读取%1数据库 %2：%3").arg(connection.role(), link.description, text));
}

} // namespace

QString sqliteErrorText(const Connection& connection, const DriverError& error)
{
    const bool diskFull = error.code == u"13" || error.text.contains(u"database or disk is full");
    const bool locked = (error.code.toInt() & 0xff) == SQLITE_BUSY;
    return classifiedErrorText(connection, error, diskFull, locked, false);
}

std::unique_ptr<Backend> openSqlite(Connection& connection, const LinkSettings& link, const QString& udlPath)
{
    const QString& role = connection.role();
    // SQLite would create a missing file; a missing database is an error here.
    const QFileInfo file(link.databaseName);
    if (file.isDir())
        throw belmire::Error(QStringLiteral("%1数据库 %2 是一个文件夹，不是数据库文件（数据连接文件 %3 的 Data "
                                            "Source 要指向数据库文件本身）")
                                 .arg(role, link.databaseName, udlPath));
    if (!file.isFile())
        throw belmire::Error(
            QStringLiteral("%1数据库文件 %2 不存在（数据连接文件 %3）").arg(role, link.databaseName, udlPath));
    // The source is only read: it is opened so that nothing can write to it.
    const bool readOnly = role == QString::fromUtf8(Connection::kSourceRole);
    sqlite3* handle = nullptr;
    const int rc =
        sqlite3_open_v2(link.databaseName.toUtf8().constData(), &handle,
                        (readOnly ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE) | SQLITE_OPEN_NOMUTEX, nullptr);
    if (rc != SQLITE_OK) {
        const QString text = sqliteErrorText(connection, handle ? sqliteError(handle, rc)
                                                                : DriverError{QStringLiteral("out of memory"), {}});
        sqlite3_close_v2(handle);
        throw belmire::Error(QStringLiteral("无法连接%1数据库 %2：%3").arg(role, link.description, text));
    }
    if (readOnly)
        checkReadable(connection, handle);
    sqlite3_busy_timeout(handle, lockWaitMs());
    sqlite3_exec(handle, "PRAGMA foreign_keys=OFF", nullptr, nullptr, nullptr);
    return std::make_unique<SqliteBackend>(connection, handle);
}

SqliteBackend::SqliteBackend(const Connection& connection, sqlite3* handle) : m_connection(connection), m_handle(handle)
{
}

SqliteBackend::~SqliteBackend() { sqlite3_close_v2(m_handle); }

std::unique_ptr<EngineQuery> SqliteBackend::query(Connection& connection, const QString& table)
{
    return sqliteQuery(connection, table, *this);
}

std::optional<Backend::Failure> SqliteBackend::exec(const QString& text)
{
    SqliteStatement s(m_handle, text, recording());
    if (s.ok() && s.execute())
        return std::nullopt;
    return Failure{errorText(s.error()), s.error().text};
}

std::optional<DriverError> SqliteBackend::run(const char* sql)
{
    const int rc = sqlite3_exec(m_handle, sql, nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK)
        return sqliteError(m_handle, rc);
    return std::nullopt;
}

QString SqliteBackend::errorText(const DriverError& error) const { return sqliteErrorText(m_connection, error); }

void SqliteBackend::settle(Capabilities& capabilities) const { capabilities.keepsAnyTextBytes = true; }

std::unique_ptr<SqliteWriteLog> SqliteBackend::writeLog()
{
    return std::make_unique<SqliteWriteLog>(m_handle, m_recording);
}

} // namespace db

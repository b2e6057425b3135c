#pragma once

#include <QList>
#include <QString>

#include <functional>

namespace db {

enum class Dialect { SqlServer, SQLite, PostgreSQL };

// Statements are written in Transact-SQL and go to SQL Server unchanged. For
// SQLite and PostgreSQL this translates the few forms the conversions use:
// "TRUNCATE TABLE t" (SQLite), "select top N ...", "UPDATE t SET ... FROM t a, x b
// WHERE ..." with the target aliased in FROM, and + between two column
// references in a SET clause as text concatenation. Nothing else is touched.
QString rewrite(const QString& statement, Dialect dialect);
// The text with each :name parameter outside quotes ("::" is a cast) replaced by
// marker(k), k the parameter's place in names, which gets each name once, in the
// order first met.
QString replaceParameters(const QString& text, QList<QString>& names, const std::function<QString(int)>& marker);

// SQL to open, release and roll back to a savepoint named name.
QString savepointSql(Dialect dialect, const QString& name);
QString releaseSql(Dialect dialect, const QString& name); // empty where the database has none
QString rollbackToSql(Dialect dialect, const QString& name);

} // namespace db

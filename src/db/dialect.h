#pragma once

#include <QString>

namespace db {

enum class Dialect { SqlServer, SQLite, PostgreSQL };

// Statements are written in Transact-SQL and go to SQL Server unchanged. For
// SQLite and PostgreSQL this translates the few forms the conversions use:
// "TRUNCATE TABLE t" (SQLite), "select top N ...", "UPDATE t SET ... FROM t a, x b
// WHERE ..." with the target aliased in FROM, and + between two column
// references in a SET clause as text concatenation. Nothing else is touched.
QString rewrite(const QString& statement, Dialect dialect);

// SQL to open, release and roll back to a savepoint named name.
QString savepointSql(Dialect dialect, const QString& name);
QString releaseSql(Dialect dialect, const QString& name); // empty where the database has none
QString rollbackToSql(Dialect dialect, const QString& name);

} // namespace db

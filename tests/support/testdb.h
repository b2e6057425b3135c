#pragma once

#include "shell/frontend.h"
#include "shell/operation.h"
#include "shell/runframe.h"

#include <QSqlDatabase>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <functional>
#include <memory>
#include <ostream>

// Readable QString values in test failures.
inline void PrintTo(const QString& s, std::ostream* os) { *os << '"' << s.toStdString() << '"'; }

namespace testing_support {

QString sourceRoot(); // the project folder

// Runs every statement of a ";"-separated SQL file, or of a text.
void applySqlFile(QSqlDatabase db, const QString& path);
void applySql(QSqlDatabase db, const QString& sql);

// Writes a data-link file in the Windows form (UTF-16LE with BOM) or as UTF-8.
void writeUdl(const QString& path, const QString& initString, bool utf16 = true);

// Registers the Debian ODBC drivers "SQLite3" (libsqliteodbc), "PostgreSQL
// Unicode" (odbc-postgresql) and "FreeTDS" (tdsodbc) in an odbcinst.ini of the test's own (ODBCSYSINI),
// so nothing depends on /etc. Call before the first ODBC call of the process.
void registerOdbcDrivers();
// Data-link texts that reach a database through MSDASQL and those drivers.
QString odbcSqliteLink(const QString& path);
QString odbcPostgresLink(const QString& database);

// A database for one test: SQLite file in a temporary folder, or a fresh
// PostgreSQL database on the test server. Each has its data-link file.
class TestDb {
public:
    virtual ~TestDb();
    QSqlDatabase db() const;
    const QString& udl() const { return m_udl; }
    bool isPostgres() const { return m_postgres; }

    // Rows of a query as texts, NULL as "<NULL>", fields joined by "|".
    QStringList rows(const QString& sql) const;
    QString scalar(const QString& sql) const;
    void exec(const QString& sql) const;
    // Runs the statements of tests/fixtures/<name>.sql.
    void load(const QString& fixture) const;

protected:
    QString m_connection;
    QString m_udl;
    bool m_postgres = false;
};

class SqliteDb : public TestDb {
public:
    // schemaFile is relative to schema/ ("" for an empty database).
    SqliteDb(const QString& folder, const QString& fileName, const QString& schemaFile);
    ~SqliteDb() override;
    QString path() const { return m_path; }

private:
    QString m_path;
};

class PostgresDb : public TestDb {
public:
    // Creates a new database on the test server; its data-link file goes to udlPath.
    PostgresDb(const QString& udlPath, const QString& schemaFile);
    ~PostgresDb() override;
    static bool available();
    // Skips (or fails under CI) when no test server is running.
    static QString unavailableReason();
    const QString& name() const { return m_name; }

private:
    QString m_name;
};

enum class Backend { SQLite, PostgreSQL };
QString backendName(Backend b);

// A program folder: source (SQLite), target (SQLite or PostgreSQL), both data-link files.
class Shop {
public:
    Shop(const QString& sourceSchema, Backend target);
    const QString& folder() const { return m_folder; }
    TestDb& source() { return *m_source; }
    TestDb& target() { return *m_target; }
    QString sourceUdl() const;
    QString targetUdl() const;

private:
    QTemporaryDir m_dir;
    QString m_folder;
    std::unique_ptr<TestDb> m_source;
    std::unique_ptr<TestDb> m_target;
};

// Records everything a run shows.
class RecordingFrontend : public shell::Frontend {
public:
    void clearLog() override { log.clear(); }
    void appendLog(const QString& line) override { log << line; }
    void showProgress(const QString& line) override
    {
        progress = line;
        ++progressCalls;
    }
    void processEvents() override {}
    bool abortTicked() override { return abort; }
    void completed(const QString& caption, const QString& text) override { completions << caption + u'/' + text; }
    void failed(const QString& message) override { errors << message; }

    QStringList log;
    QString progress;
    int progressCalls = 0;
    bool abort = false;
    QStringList completions;
    QStringList errors;
};

// Runs one operation by id in a fresh frame over the shop; setUp, when given,
// prepares the frame first (its connections, before they open).
shell::RunResult runOperation(Shop& shop, shell::Family family, const QString& id, RecordingFrontend& fe,
                              const std::function<void(shell::RunFrame&)>& setUp = {});

} // namespace testing_support

// Skips a PostgreSQL case when no test server runs; fails instead under CI.
#define REQUIRE_BACKEND(backend)                                                                                       \
    do {                                                                                                               \
        if ((backend) == testing_support::Backend::PostgreSQL && !testing_support::PostgresDb::available()) {          \
            if (qEnvironmentVariableIsSet("CI"))                                                                       \
                FAIL() << "PostgreSQL test server not running under CI";                                               \
            GTEST_SKIP() << testing_support::PostgresDb::unavailableReason().toStdString();                            \
        }                                                                                                              \
    } while (0)

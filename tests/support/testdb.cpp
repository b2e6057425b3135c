#include "support/testdb.h"

#include "programs/programs.h"
#include "shell/linkfolder.h"

#include <gtest/gtest.h>

#include <QAtomicInt>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QUuid>

#include <clocale>

namespace testing_support {
namespace {

QAtomicInt g_counter;

QString nextName(const QString& prefix)
{
    return QStringLiteral("%1_%2_%3")
        .arg(prefix)
        .arg(QCoreApplication::applicationPid())
        .arg(g_counter.fetchAndAddRelaxed(1));
}

void check(bool ok, const QSqlQuery& q, const QString& sql)
{
    if (!ok)
        throw std::runtime_error(("SQL failed: " + sql + " : " + q.lastError().text()).toStdString());
}

QSqlDatabase pgAdmin()
{
    const QString name = QStringLiteral("pg-admin");
    if (QSqlDatabase::contains(name))
        return QSqlDatabase::database(name);
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), name);
    db.setHostName(qEnvironmentVariable("BELMIRE_PG_HOST"));
    db.setPort(qEnvironmentVariable("BELMIRE_PG_PORT").toInt());
    db.setUserName(qEnvironmentVariable("BELMIRE_PG_USER"));
    db.setPassword(qEnvironmentVariable("BELMIRE_PG_PASSWORD"));
    db.setDatabaseName(QStringLiteral("postgres"));
    if (!db.open())
        throw std::runtime_error(("cannot reach the PostgreSQL test server: " + db.lastError().text()).toStdString());
    return db;
}

} // namespace

QString sourceRoot() { return QStringLiteral(BELMIRE_SOURCE_DIR); }

void applySql(QSqlDatabase db, const QString& sql)
{
    QString statement;
    for (const QString& line : sql.split(u'\n')) {
        if (line.trimmed().startsWith(QStringLiteral("--")))
            continue;
        statement += line + u'\n';
        if (line.trimmed().endsWith(u';')) {
            QSqlQuery q(db);
            check(q.exec(statement), q, statement);
            statement.clear();
        }
    }
    if (!statement.trimmed().isEmpty()) {
        QSqlQuery q(db);
        check(q.exec(statement), q, statement);
    }
}

void applySqlFile(QSqlDatabase db, const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        throw std::runtime_error(("cannot read " + path).toStdString());
    applySql(db, QString::fromUtf8(f.readAll()));
}

void writeUdl(const QString& path, const QString& initString, bool utf16)
{
    const QString text = QStringLiteral("[oledb]\r\n; Everything after this line is an OLE DB initstring\r\n") +
                         initString + QStringLiteral("\r\n");
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        throw std::runtime_error(("cannot write " + path).toStdString());
    if (utf16) {
        QByteArray bytes("\xFF\xFE", 2);
        for (QChar c : text) {
            bytes += char(c.unicode() & 0xFF);
            bytes += char(c.unicode() >> 8);
        }
        f.write(bytes);
    } else {
        f.write(text.toUtf8());
    }
}

void registerOdbcDrivers()
{
    static QTemporaryDir dir;
    static const bool done = [] {
        const QString lib = QStringLiteral(BELMIRE_ODBC_DRIVER_DIR);
        QFile ini(dir.filePath(QStringLiteral("odbcinst.ini")));
        if (!ini.open(QIODevice::WriteOnly))
            throw std::runtime_error("cannot write odbcinst.ini");
        ini.write(
            QStringLiteral("[SQLite3]\nDriver=%1/libsqlite3odbc.so\n\n[PostgreSQL Unicode]\nDriver=%1/psqlodbcw.so\n\n"
                           "[FreeTDS]\nDriver=%1/libtdsodbc.so\n")
                .arg(lib)
                .toUtf8());
        ini.close();
        qputenv("ODBCSYSINI", dir.path().toUtf8());
        qunsetenv("ODBCINSTINI");
        // The programs' QCoreApplication gives the process a UTF-8 locale, in which unixODBC passes texts to a
        // driver without wide entry points (the SQLite driver); a test has no application object.
        std::setlocale(LC_ALL, "C.UTF-8");
        return true;
    }();
    (void)done;
}

QString odbcSqliteLink(const QString& path)
{
    return QStringLiteral("Provider=MSDASQL.1;Extended Properties=\"DRIVER={SQLite3};Database=%1\"").arg(path);
}

QString odbcPostgresLink(const QString& database)
{
    return QStringLiteral("Provider=MSDASQL;User ID=%4;Password=%5;Extended Properties=\"DRIVER={PostgreSQL Unicode};"
                          "SERVER=%1;PORT=%2;DATABASE=%3\"")
        .arg(qEnvironmentVariable("BELMIRE_PG_HOST"), qEnvironmentVariable("BELMIRE_PG_PORT"), database,
             qEnvironmentVariable("BELMIRE_PG_USER"), qEnvironmentVariable("BELMIRE_PG_PASSWORD"));
}

TestDb::~TestDb()
{
    if (!m_connection.isEmpty()) {
        QSqlDatabase::database(m_connection, false).close();
        QSqlDatabase::removeDatabase(m_connection);
    }
}

QSqlDatabase TestDb::db() const { return QSqlDatabase::database(m_connection); }

QStringList TestDb::rows(const QString& sql) const
{
    QSqlQuery q(db());
    q.setNumericalPrecisionPolicy(QSql::HighPrecision);
    check(q.exec(sql), q, sql);
    QStringList out;
    while (q.next()) {
        QStringList fields;
        for (int i = 0; i < q.record().count(); ++i)
            fields << (q.value(i).isNull() ? QStringLiteral("<NULL>") : q.value(i).toString());
        out << fields.join(u'|');
    }
    return out;
}

QString TestDb::scalar(const QString& sql) const
{
    const QStringList r = rows(sql);
    return r.isEmpty() ? QString() : r.first();
}

void TestDb::exec(const QString& sql) const { applySql(db(), sql); }

void TestDb::load(const QString& fixture) const
{
    applySqlFile(db(), sourceRoot() + QStringLiteral("/tests/fixtures/") + fixture + QStringLiteral(".sql"));
}

SqliteDb::SqliteDb(const QString& folder, const QString& fileName, const QString& schemaFile)
{
    m_path = QDir(folder).filePath(fileName);
    QFile::remove(m_path);
    m_connection = nextName(QStringLiteral("sqlite"));
    QSqlDatabase d = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_connection);
    d.setDatabaseName(m_path);
    if (!d.open())
        throw std::runtime_error("cannot create sqlite file");
    if (!schemaFile.isEmpty())
        applySqlFile(d, sourceRoot() + QStringLiteral("/schema/") + schemaFile);
}

SqliteDb::~SqliteDb() = default;

bool PostgresDb::available() { return !qEnvironmentVariable("BELMIRE_PG_PORT").isEmpty(); }

QString PostgresDb::unavailableReason()
{
    return QStringLiteral("no PostgreSQL test server (BELMIRE_PG_PORT unset; run scripts/test)");
}

PostgresDb::PostgresDb(const QString& udlPath, const QString& schemaFile)
{
    m_postgres = true;
    m_name = nextName(QStringLiteral("t")).toLower();
    QSqlDatabase admin = pgAdmin();
    {
        QSqlQuery q(admin);
        const QString sql = QStringLiteral("CREATE DATABASE %1 ENCODING 'UTF8' TEMPLATE template0").arg(m_name);
        check(q.exec(sql), q, sql);
    }
    m_connection = nextName(QStringLiteral("pg"));
    QSqlDatabase d = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), m_connection);
    d.setHostName(admin.hostName());
    d.setPort(admin.port());
    d.setUserName(admin.userName());
    d.setPassword(admin.password());
    d.setDatabaseName(m_name);
    if (!d.open())
        throw std::runtime_error(("cannot open test database: " + d.lastError().text()).toStdString());
    if (!schemaFile.isEmpty())
        applySqlFile(d, sourceRoot() + QStringLiteral("/schema/") + schemaFile);
    m_udl = udlPath;
    writeUdl(udlPath, QStringLiteral("Provider=PostgreSQL;Data Source=%1:%2;Initial Catalog=%3;User ID=%4;Password=%5")
                          .arg(admin.hostName())
                          .arg(admin.port())
                          .arg(m_name, admin.userName(), admin.password()));
}

PostgresDb::~PostgresDb()
{
    QSqlDatabase::database(m_connection, false).close();
    QSqlDatabase::removeDatabase(m_connection);
    m_connection.clear();
    try {
        QSqlQuery q(pgAdmin());
        q.exec(QStringLiteral("DROP DATABASE IF EXISTS %1 WITH (FORCE)").arg(m_name));
    } catch (...) {
    }
}

QString backendName(Backend b)
{
    return b == Backend::SQLite ? QStringLiteral("SQLite") : QStringLiteral("PostgreSQL");
}

Shop::Shop(const QString& sourceSchema, Backend target)
{
    m_folder = m_dir.path();
    auto* src = new SqliteDb(m_folder, QStringLiteral("source.db"), sourceSchema);
    m_source.reset(src);
    writeUdl(sourceUdl(), QStringLiteral("Provider=SQLite;Data Source=source.db"));
    if (target == Backend::SQLite) {
        m_target =
            std::make_unique<SqliteDb>(m_folder, QStringLiteral("target.db"), QStringLiteral("target_sqlite.sql"));
        writeUdl(targetUdl(), QStringLiteral("Provider=SQLite;Data Source=target.db"), false);
    } else {
        m_target = std::make_unique<PostgresDb>(targetUdl(), QStringLiteral("target_postgresql.sql"));
    }
}

QString Shop::sourceUdl() const { return QDir(m_folder).filePath(shell::kSourceLinkName); }
QString Shop::targetUdl() const { return QDir(m_folder).filePath(shell::kTargetLinkName); }

shell::RunResult runOperation(Shop& shop, shell::Family family, const QString& id, RecordingFrontend& fe,
                              const std::function<void(shell::RunFrame&)>& setUp)
{
    const shell::Operation* op = programs::catalog().find(family, id);
    if (!op)
        throw std::runtime_error(("no operation " + id).toStdString());
    shell::RunFrame frame(fe, shop.sourceUdl(), shop.targetUdl());
    frame.setClock([] { return QDateTime(QDate(2026, 12, 8), QTime(9, 5, 7)); });
    if (setUp)
        setUp(frame);
    return frame.run(*op);
}

} // namespace testing_support

#include "db/query.h"

#include "db/faults.h"
#include "db/lock_wait.h"
#include "textutil/error.h"
#include "textutil/gbk.h"

#include <QLocale>
#include <QRegularExpression>

#include <libpq-fe.h>

#include <cstdint>
#include <utility>

namespace db {
namespace {

bool isWrite(const QString& statement)
{
    static const QRegularExpression re(QStringLiteral(R"(^\s*(insert|update|delete)\b)"),
                                       QRegularExpression::CaseInsensitiveOption);
    return re.match(statement).hasMatch();
}

} // namespace

Query::Query(Connection& connection) : m_connection(connection) {}

Query::~Query()
{
    if (m_pg)
        pgClose(); // a cursor left open would hold its rows on the server until the session ends
    if (m_native || m_odbc || m_pg)
        m_connection.detach(this);
}

void Query::setLines(const QStringList& lines)
{
    QString text;
    for (const QString& line : lines)
        text += line + QStringLiteral("\r\n");
    setText(text);
}

void Query::setText(const QString& text)
{
    close();
    dropStatement();
    m_text = text;
    m_table = statementTable(text);
    m_prepared = false;
    m_fields.clear();
    m_fieldsRead = false;
    m_fieldIndex.clear();
}

void Query::dropStatement()
{
    const bool held = m_native || m_odbc || m_pg;
    if (m_pg)
        pgClose();
    m_pg.reset();
    m_odbc.reset();
    m_native.reset();
    if (held) {
        m_connection.detach(this);
        m_prepared = false;
        m_open = false;
    }
}

void Query::fail(const DriverError& error) const
{
    const QString text = m_connection.errorText(error);
    if (isLockWait(text))
        noteLockWaitGivenUp(m_connection.where(), error.text,
                            m_connection.capabilities().locksWholeDatabase ? QStringLiteral("*") : m_table);
    throw belmire::Error(m_table.isEmpty() ? text : QStringLiteral("表 %1：%2").arg(m_table, text));
}

void Query::fail(const odbc::Failure& failure) const
{
    const QString text = m_connection.errorText(failure);
    if (isLockWait(text))
        noteLockWaitGivenUp(m_connection.where(), failure.message(),
                            m_connection.capabilities().locksWholeDatabase ? QStringLiteral("*") : m_table);
    const QString message = m_table.isEmpty() ? text : QStringLiteral("表 %1：%2").arg(m_table, text);
    if (m_connection.odbc()->dialect() == Dialect::SqlServer && failure.refusedForm())
        throw RefusedStatement(message);
    throw belmire::Error(message);
}

void Query::refuseWhereGivenUp() const
{
    QString table = m_table;
    const QString text = lockWaitGivenUp(m_connection.where(), m_text, &table);
    if (!text.isEmpty())
        throw belmire::Error(QStringLiteral("表 %1：%2").arg(table, text));
}

void Query::odbcReader()
{
    OdbcLink* link = m_connection.odbc();
    // Only a connection outside a transaction reads elsewhere: the target's
    // statements must all see its own uncommitted rows.
    if (m_connection.inTransaction() || &m_odbc->connection() != &link->main())
        return;
    m_odbc->closeCursor();
    odbc::Connection& reader = link->reader();
    if (&reader != &link->main())
        m_odbc->moveTo(reader);
}

void Query::prepare()
{
    if (m_prepared)
        return;
    refuseWhereGivenUp();
    if (faults::fail(faults::Kind::Prepare))
        fail(faults::error(faults::Kind::Prepare));
    const QString text = m_connection.dialectText(m_text);
    if (OdbcLink* link = m_connection.odbc()) {
        try {
            // A write is prepared on the server now, so a bad statement fails
            // before any row; a read is often run once, and runs directly then.
            auto statement = std::make_unique<odbc::Statement>(link->main());
            m_odbcWrite = isWrite(text);
            statement->prepare(text, m_odbcWrite ? odbc::Statement::Prepare::Now : odbc::Statement::Prepare::Later);
            m_odbc = std::move(statement);
        } catch (const odbc::Failure& f) {
            fail(f);
        }
    } else if (PgSession* pg = m_connection.pg()) {
        auto statement = std::make_unique<PgStatement>(pgStatement(text));
        m_pgWrite = isWrite(text);
        if (m_pgWrite) {
            // Prepared on the server now, so a bad statement fails before any row.
            m_connection.flushDeferred();
            if (const auto error = pg->pipeline().prepare(*statement))
                fail(*error);
        }
        m_pg = std::move(statement);
        m_pgValues.assign(size_t(m_pg->names.size()), std::nullopt);
        m_pgIndex.clear();
    } else {
        auto statement = std::make_unique<SqliteStatement>(m_connection.sqliteHandle(), text);
        if (!statement->ok())
            fail(statement->error());
        m_native = std::move(statement);
    }
    m_connection.attach(this);
    m_prepared = true;
}

void Query::bindText(const QString& name, const QByteArray& gbkText)
{
    if (!m_prepared)
        prepare();
    if (m_native) {
        m_native->bindText(m_native->parameterIndex(name), gbkText);
    } else if (m_pg) {
        // PostgreSQL keeps no NUL in a text; the value would end there unseen.
        if (gbkText.contains('\0'))
            throw belmire::Error(
                QStringLiteral("表 %1 参数 %2：文本中有 NUL 字符（0x00），PostgreSQL 不能保存").arg(m_table, name));
        bindPg(name, gbk::toUtf8(gbkText));
    } else if (const int k = m_odbc->parameter(name); k >= 0) {
        m_odbc->bindText(k, gbkText);
    }
}

void Query::bindText(const QString& name, const QByteArray& gbkText, qsizetype cut)
{
    bindText(name, gbk::cut(gbkText, cut));
}

void Query::bindAmount(const QString& name, Amount value)
{
    if (!m_prepared)
        prepare();
    if (m_native)
        m_native->bindLatin1(m_native->parameterIndex(name), value.toLatin1());
    else if (m_pg)
        bindPg(name, value.toLatin1());
    else if (const int k = m_odbc->parameter(name); k >= 0)
        m_odbc->bindAmount(k, value);
}

void Query::bindInteger(const QString& name, qint64 value)
{
    if (!m_prepared)
        prepare();
    if (m_native)
        m_native->bindInteger(m_native->parameterIndex(name), value);
    else if (m_pg)
        bindPg(name, QByteArray::number(value));
    else if (const int k = m_odbc->parameter(name); k >= 0)
        m_odbc->bindInteger(k, value);
}

void Query::bindNumber(const QString& name, double value)
{
    if (!m_prepared)
        prepare();
    if (m_native)
        m_native->bindNumber(m_native->parameterIndex(name), value);
    else if (m_pg)
        bindPg(name, QString::number(value, 'g', QLocale::FloatingPointShortest).toLatin1());
    else if (const int k = m_odbc->parameter(name); k >= 0)
        m_odbc->bindNumber(k, value);
}

void Query::exec()
{
    if (!m_prepared)
        prepare();
    refuseWhereGivenUp();
    if (faults::fail(faults::Kind::Execute))
        fail(faults::error(faults::Kind::Execute));
    if (m_native) {
        if (!m_native->execute())
            fail(m_native->error());
    } else if (m_pg) {
        if (m_pgWrite)
            m_connection.queueWrite(*m_pg, m_pgValues, m_table);
        else
            pgRun(false);
    } else if (m_odbcWrite && m_connection.deferring()) {
        m_connection.queueWrite(m_odbc->prepared(), m_odbc->values(), m_table);
    } else {
        m_connection.flushDeferred();
        try {
            odbcReader();
            m_odbc->execute();
        } catch (const odbc::Failure& f) {
            fail(f);
        }
    }
}

void Query::execDirect()
{
    if (m_connection.sqliteHandle()) {
        exec();
        return;
    }
    refuseWhereGivenUp();
    if (faults::fail(faults::Kind::Execute))
        fail(faults::error(faults::Kind::Execute));
    const QString text = m_connection.dialectText(m_text);
    if (PgSession* pg = m_connection.pg()) {
        m_connection.flushDeferred();
        DriverError error;
        if (!pg->execText(text.toUtf8(), &error))
            fail(error);
        return;
    }
    m_connection.flushDeferred();
    try {
        if (!m_odbc) {
            m_odbc = std::make_unique<odbc::Statement>(m_connection.odbc()->main());
            m_connection.attach(this);
            m_prepared = true;
        }
        m_odbc->executeDirect(text);
    } catch (const odbc::Failure& f) {
        fail(f);
    }
}

int Query::rowsAffected() const
{
    if (m_pg) // writes are answered by the server later, with their batch
        return m_pgWrite ? -1 : m_pgAffected;
    if (m_odbcWrite && m_connection.deferring())
        return -1;
    if (m_odbc)
        return int(m_odbc->rowsAffected());
    return m_native ? m_native->changes() : -1;
}

void Query::open()
{
    close();
    prepare();
    refuseWhereGivenUp();
    if (m_pg) {
        if (faults::fail(faults::Kind::Execute))
            fail(faults::error(faults::Kind::Execute));
        pgRun(true);
    } else {
        exec();
    }
    m_open = true;
    m_fieldsRead = false;
}

int Query::countRows()
{
    QString inner = m_connection.dialectText(m_text).trimmed();
    while (inner.endsWith(u';'))
        inner.chop(1);
    m_connection.flushDeferred();
    if (faults::fail(faults::Kind::Execute))
        fail(faults::error(faults::Kind::Execute));
    const QString count = QStringLiteral("select count(*) from (") + inner + QStringLiteral(") belmire_count");
    if (OdbcLink* link = m_connection.odbc()) {
        try {
            odbc::Statement q(m_connection.inTransaction() ? link->main() : link->reader());
            q.executeDirect(count);
            return q.next() ? int(variantInteger(q.value(0))) : 0;
        } catch (const odbc::Failure& f) {
            fail(f);
        }
    }
    if (PgSession* pg = m_connection.pg()) {
        // The same parameters in the same order as the statement's own.
        if (!m_prepared)
            prepare();
        DriverError error;
        const PgResult r = pg->exec(pgStatement(count).text, m_pgValues, &error);
        if (!r)
            fail(error);
        return PQntuples(r.get()) > 0 ? QByteArray(PQgetvalue(r.get(), 0, 0)).toInt() : 0;
    }
    SqliteStatement q(m_connection.sqliteHandle(), count);
    if (!q.ok() || !q.execute() || q.step() <= 0)
        fail(q.error());
    return int(variantInteger(q.value(0)));
}

bool Query::next()
{
    if (m_aheadRows <= 0)
        return fetch();
    if (m_aheadActive && m_aheadPos + 1 < m_ahead.size()) {
        ++m_aheadPos;
        return true;
    }
    m_ahead.clear();
    m_aheadPos = 0;
    m_aheadActive = false;
    if (m_aheadError)
        std::rethrow_exception(std::exchange(m_aheadError, nullptr));
    if (m_aheadEnd)
        return false;
    try {
        while (int(m_ahead.size()) < m_aheadRows) {
            if (!fetch()) {
                m_aheadEnd = true; // a finished SQLite statement would start again
                break;
            }
            std::vector<QVariant> row(static_cast<size_t>(fieldCount()));
            for (size_t i = 0; i < row.size(); ++i)
                row[i] = valueAt(int(i));
            m_ahead.push_back(std::move(row));
        }
    } catch (...) {
        if (m_ahead.empty())
            throw;
        m_aheadError = std::current_exception(); // reported at the row it was to read
    }
    m_aheadActive = !m_ahead.empty();
    return m_aheadActive;
}

void Query::forEachReadAhead(const std::function<void(int)>& visit)
{
    if (!m_aheadActive)
        return;
    const size_t current = m_aheadPos;
    struct Restore {
        size_t& pos;
        size_t value;
        ~Restore() { pos = value; }
    } restore{m_aheadPos, current};
    for (size_t k = current; k < m_ahead.size(); ++k) {
        m_aheadPos = k;
        visit(int(k - current));
    }
}

bool Query::fetch()
{
    if (!m_open)
        return false;
    if (faults::fail(faults::Kind::Fetch))
        fail(faults::error(faults::Kind::Fetch));
    if (m_native) {
        const int rc = m_native->step();
        if (rc < 0)
            fail(m_native->error());
        return rc > 0;
    }
    if (m_pg)
        return pgNext();
    try {
        return m_odbc && m_odbc->next();
    } catch (const odbc::Failure& f) {
        fail(f);
    }
}

void Query::close()
{
    m_ahead.clear();
    m_aheadPos = 0;
    m_aheadActive = false;
    m_aheadEnd = false;
    m_aheadError = nullptr;
    if (m_native)
        m_native->reset();
    else if (m_odbc)
        m_odbc->closeCursor();
    else if (m_pg)
        pgClose();
    m_open = false;
}

} // namespace db

#include "db/query.h"

#include "db/backend.h"
#include "db/engine_query.h"
#include "db/lock_wait.h"
#include "db/odbc_link.h"
#include "textutil/error.h"
#include "textutil/gbk.h"

#include <QLocale>
#include <QRegularExpression>

#include <utility>

namespace db {

bool isWrite(const QString& statement)
{
    static const QRegularExpression re(QStringLiteral(R"(^\s*(insert|update|delete)\b)"),
                                       QRegularExpression::CaseInsensitiveOption);
    return re.match(statement).hasMatch();
}

QByteArray EngineQuery::text(int column) const { return variantText(value(column)); }

void failStatement(const Connection& connection, const QString& table, const DriverError& error)
{
    const QString text = backendOf(connection).errorText(error);
    if (isLockWait(text))
        noteLockWaitGivenUp(connection.where(), error.text,
                            connection.capabilities().locksWholeDatabase ? QStringLiteral("*") : table);
    throw belmire::Error(table.isEmpty() ? text : QStringLiteral("表 %1：%2").arg(table, text));
}

void failStatement(const Connection& connection, const OdbcLink& link, const QString& table,
                   const odbc::Failure& failure)
{
    const QString text = link.errorText(failure);
    if (isLockWait(text))
        noteLockWaitGivenUp(connection.where(), failure.message(),
                            connection.capabilities().locksWholeDatabase ? QStringLiteral("*") : table);
    const QString message = table.isEmpty() ? text : QStringLiteral("表 %1：%2").arg(table, text);
    if (link.dialect() == Dialect::SqlServer && failure.refusedForm())
        throw RefusedStatement(message);
    throw belmire::Error(message);
}

Query::Query(Connection& connection) : m_connection(connection) {}

Query::~Query()
{
    if (m_engine)
        m_connection.m_queries.remove(this);
}

EngineQuery& Query::engine()
{
    if (!m_engine) {
        m_engine = backendOf(m_connection).query(m_connection, m_table);
        m_connection.m_queries.insert(this);
    }
    return *m_engine;
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
    if (!m_engine)
        return;
    m_engine.reset(); // a PostgreSQL cursor left open is closed with the next round trip
    m_connection.m_queries.remove(this);
    m_prepared = false;
    m_open = false;
}

void Query::refuseWhereGivenUp() const
{
    if (!anyLockWaitGivenUp()) // every execution asks
        return;
    QString table = m_table;
    const QString text = lockWaitGivenUp(m_connection.where(), m_text, &table);
    if (!text.isEmpty())
        throw belmire::Error(QStringLiteral("表 %1：%2").arg(table, text));
}

void Query::prepare()
{
    if (m_prepared)
        return;
    refuseWhereGivenUp();
    engine().prepare(m_connection.dialectText(m_text));
    m_prepared = true;
}

void Query::bindText(const QString& name, const QByteArray& gbkText)
{
    if (!m_prepared)
        prepare();
    m_engine->bindText(name, gbkText);
}

void Query::bindText(const QString& name, const QByteArray& gbkText, qsizetype cut)
{
    bindText(name, gbk::cut(gbkText, cut));
}

void Query::bindAmount(const QString& name, Amount value)
{
    if (!m_prepared)
        prepare();
    m_engine->bindAmount(name, value);
}

void Query::bindInteger(const QString& name, qint64 value)
{
    if (!m_prepared)
        prepare();
    m_engine->bindInteger(name, value);
}

void Query::bindNumber(const QString& name, double value)
{
    if (!m_prepared)
        prepare();
    m_engine->bindNumber(name, value);
}

void Query::exec()
{
    if (!m_prepared)
        prepare();
    refuseWhereGivenUp();
    m_engine->exec();
}

void Query::execDirect()
{
    if (engine().preparesDirect()) {
        exec();
        return;
    }
    refuseWhereGivenUp();
    if (m_engine->execDirect(m_connection.dialectText(m_text)))
        m_prepared = true;
}

int Query::rowsAffected() const { return m_engine ? m_engine->rowsAffected() : -1; }

void Query::open()
{
    close();
    prepare();
    refuseWhereGivenUp();
    m_engine->open();
    m_open = true;
    m_fieldsRead = false;
}

int Query::countRows()
{
    QString inner = m_connection.dialectText(m_text).trimmed();
    while (inner.endsWith(u';'))
        inner.chop(1);
    backendOf(m_connection).flush();
    const QString count = QStringLiteral("select count(*) from (") + inner + QStringLiteral(") belmire_count");
    if (engine().countsWithValues() && !m_prepared)
        prepare();
    return m_engine->countRows(count);
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
    return m_engine->fetch();
}

void Query::close()
{
    m_ahead.clear();
    m_aheadPos = 0;
    m_aheadActive = false;
    m_aheadEnd = false;
    m_aheadError = nullptr;
    if (m_engine)
        m_engine->close();
    m_open = false;
}

} // namespace db

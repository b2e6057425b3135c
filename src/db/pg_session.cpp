#include "db/pg_session.h"

#include "db/datalink.h"
#include "db/lock_wait.h"
#include "db/query.h"
#include "textutil/gbk.h"

#include <QDateTime>

#include <libpq-fe.h>

namespace db {
namespace {

void ignoreNotice(void*, const char*) {}

bool succeeded(const PGresult* r)
{
    const ExecStatusType s = PQresultStatus(r);
    return s == PGRES_COMMAND_OK || s == PGRES_TUPLES_OK;
}

// The result of one command sent in pipeline mode; the rest of its results are read past.
PgResult readCommand(PGconn* conn)
{
    PgResult first(PQgetResult(conn));
    if (first)
        while (PGresult* more = PQgetResult(conn))
            PQclear(more);
    return first;
}

} // namespace

void PgResultFree::operator()(pg_result* result) const { PQclear(result); }

std::unique_ptr<PgSession> PgSession::connect(const LinkSettings& link, PgPipeline::ErrorText errorText,
                                              DriverError* error)
{
    QList<QByteArray> keys, values;
    const auto add = [&](const char* key, const QString& value) {
        if (!value.isEmpty()) {
            keys << key;
            values << value.toUtf8();
        }
    };
    add("host", link.host);
    if (link.port > 0)
        add("port", QString::number(link.port));
    add("dbname", link.databaseName);
    add("user", link.user);
    add("password", link.password);
    add("client_encoding", QStringLiteral("UTF8"));
    for (const QString& option : link.connectOptions.split(u';', Qt::SkipEmptyParts)) {
        const qsizetype eq = option.indexOf(u'=');
        if (eq > 0) {
            keys << option.left(eq).trimmed().toUtf8();
            values << option.mid(eq + 1).trimmed().toUtf8();
        }
    }
    std::vector<const char*> k, v;
    for (qsizetype i = 0; i < keys.size(); ++i) {
        k.push_back(keys[i].constData());
        v.push_back(values[i].constData());
    }
    k.push_back(nullptr);
    v.push_back(nullptr);
    PGconn* conn = PQconnectdbParams(k.data(), v.data(), 0);
    if (!conn || PQstatus(conn) != CONNECTION_OK) {
        *error = conn ? pgConnectionError(conn) : DriverError{QStringLiteral("out of memory"), QString()};
        PQfinish(conn);
        return nullptr;
    }
    PQsetNoticeProcessor(conn, ignoreNotice, nullptr);
    std::unique_ptr<PgSession> session(new PgSession(conn, std::move(errorText)));
    // A statement blocked by another session's lock gives up instead of waiting for ever.
    const QByteArray setup = "SET DateStyle TO 'ISO'; SET lock_timeout = " + QByteArray::number(lockWaitMs());
    if (!session->execText(setup, error))
        return nullptr;
    return session;
}

PgSession::PgSession(pg_conn* connection, PgPipeline::ErrorText errorText)
    : m_conn(connection), m_pipeline(connection, std::move(errorText))
{
}

PgSession::~PgSession() { PQfinish(m_conn); }

bool PgSession::inTransactionBlock() const { return PQtransactionStatus(m_conn) != PQTRANS_IDLE; }

PgResult PgSession::exec(const QByteArray& sql, const PgValues& values, DriverError* error)
{
    sendClosings();
    std::vector<const char*> v(values.size());
    for (size_t i = 0; i < values.size(); ++i)
        v[i] = values[i] ? values[i]->constData() : nullptr;
    PgResult r(PQexecParams(m_conn, sql.constData(), int(v.size()), nullptr, v.data(), nullptr, nullptr, 0));
    if (!r) {
        *error = pgConnectionError(m_conn);
        return nullptr;
    }
    if (!succeeded(r.get())) {
        *error = pgResultError(r.get());
        return nullptr;
    }
    return r;
}

PgResult PgSession::execText(const QByteArray& sql, DriverError* error)
{
    sendClosings();
    PgResult r(PQexec(m_conn, sql.constData()));
    if (!r) {
        *error = pgConnectionError(m_conn);
        return nullptr;
    }
    if (!succeeded(r.get())) {
        *error = pgResultError(r.get());
        return nullptr;
    }
    return r;
}

QByteArray PgSession::newCursorName() { return "belmire_rows_" + QByteArray::number(++m_cursors); }

void PgSession::sendClosings()
{
    if (m_closing.isEmpty())
        return;
    QByteArray sql;
    for (const QByteArray& c : std::as_const(m_closing))
        sql += "CLOSE " + c + ';';
    m_closing.clear();
    // Cursors held outside a transaction live until closed: closing them cannot fail.
    PQclear(PQexec(m_conn, sql.constData()));
}

PgResult PgSession::declare(const QByteArray& cursor, const QByteArray& select, const PgValues& values, int chunk,
                            DriverError* error)
{
    if (PQenterPipelineMode(m_conn) != 1) {
        *error = pgConnectionError(m_conn);
        return nullptr;
    }
    // Cursors closed since the last round trip go first, in a part of their own.
    const QList<QByteArray> closing = std::exchange(m_closing, {});
    bool sent = true;
    for (const QByteArray& c : closing)
        sent = sent && PQsendQueryParams(m_conn, ("CLOSE " + c).constData(), 0, nullptr, nullptr, nullptr, nullptr, 0);
    if (!closing.isEmpty())
        sent = sent && PQpipelineSync(m_conn) == 1;
    std::vector<const char*> v(values.size());
    for (size_t i = 0; i < values.size(); ++i)
        v[i] = values[i] ? values[i]->constData() : nullptr;
    const QByteArray declareSql = "DECLARE " + cursor + " NO SCROLL CURSOR WITH HOLD FOR " + select;
    const QByteArray fetchSql = "FETCH " + QByteArray::number(chunk) + " FROM " + cursor;
    sent = sent &&
           PQsendQueryParams(m_conn, declareSql.constData(), int(v.size()), nullptr, v.data(), nullptr, nullptr, 0) &&
           PQsendQueryParams(m_conn, fetchSql.constData(), 0, nullptr, nullptr, nullptr, nullptr, 0) &&
           PQpipelineSync(m_conn) == 1;
    PgResult rows;
    if (sent) {
        for (qsizetype i = 0; i < closing.size(); ++i)
            readCommand(m_conn);
        if (!closing.isEmpty())
            PgResult(PQgetResult(m_conn)); // the sync point
        PgResult declared = readCommand(m_conn);
        PgResult fetched = readCommand(m_conn);
        PgResult sync(PQgetResult(m_conn));
        if (!declared || !fetched || !sync)
            *error = pgConnectionError(m_conn);
        else if (!succeeded(declared.get()))
            *error = pgResultError(declared.get());
        else if (!succeeded(fetched.get()))
            *error = pgResultError(fetched.get());
        else
            rows = std::move(fetched);
    } else {
        *error = pgConnectionError(m_conn);
    }
    PQexitPipelineMode(m_conn);
    return rows;
}

PgResult PgSession::fetch(const QByteArray& cursor, int chunk, DriverError* error)
{
    return execText("FETCH " + QByteArray::number(chunk) + " FROM " + cursor, error);
}

bool pgReturnsRows(const QByteArray& sql)
{
    const QByteArray head = sql.trimmed().left(7).toLower();
    return head.startsWith("select") || head.startsWith("with") || head.startsWith("values") || head.startsWith('(');
}

QVariant pgValue(const pg_result* result, int row, int column)
{
    if (PQgetisnull(result, row, column))
        return QVariant(QMetaType::fromType<QString>());
    const char* data = PQgetvalue(result, row, column);
    const int size = PQgetlength(result, row, column);
    switch (PQftype(result, column)) {
    case 16: // bool
        return QVariant(data[0] == 't');
    case 20: // int8
        return QVariant(QByteArray(data, size).toLongLong());
    case 21: // int2
    case 23: // int4
        return QVariant(QByteArray(data, size).toInt());
    case 26: // oid
        return QVariant(QByteArray(data, size).toUInt());
    case 700: // float4
    case 701: // float8
        return QVariant(QByteArray(data, size).toDouble());
    case 1082: // date
        return QVariant(QDate::fromString(QString::fromLatin1(data, size), Qt::ISODate));
    case 1114: // timestamp
    case 1184: // timestamptz
        return QVariant(
            QDateTime::fromString(QString::fromLatin1(data, size).left(19).replace(u' ', u'T'), Qt::ISODate));
    case 17: { // bytea
        size_t length = 0;
        unsigned char* bytes = PQunescapeBytea(reinterpret_cast<const unsigned char*>(data), &length);
        QByteArray out(reinterpret_cast<const char*>(bytes), qsizetype(length));
        PQfreemem(bytes);
        return out;
    }
    default: // texts, numeric (as its exact text) and everything else
        return QString::fromUtf8(data, size);
    }
}

QByteArray pgText(const pg_result* result, int row, int column)
{
    switch (PQftype(result, column)) {
    case 18:     // char
    case 19:     // name
    case 25:     // text
    case 1042:   // bpchar
    case 1043: { // varchar
        if (PQgetisnull(result, row, column))
            return {};
        const char* data = PQgetvalue(result, row, column);
        const int size = PQgetlength(result, row, column);
        int i = 0;
        while (i < size && static_cast<unsigned char>(data[i]) < 0x80)
            ++i;
        return i == size ? QByteArray(data, size) : gbk::fromUtf8(data, size);
    }
    default:
        return variantText(pgValue(result, row, column));
    }
}

} // namespace db

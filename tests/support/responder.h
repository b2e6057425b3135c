#pragma once

#include <QJsonArray>
#include <QJsonObject>
#include <QList>
#include <QProcess>
#include <QString>
#include <QStringList>

namespace testing_support {

// tests/tds_responder.py on a free loopback port: a stand-in for SQL Server's
// side of TDS that answers from a script of results or, with --sqlite FILE
// among the options, runs what it receives on that SQLite database.
class Responder {
public:
    Responder(const QString& dir, const QJsonArray& results, const QStringList& options = {});
    ~Responder();
    int port() const { return m_port; }

    // Waits for the responder to end (it does once every connection has
    // closed) and returns its record, one object per event.
    QList<QJsonObject> events();
    // The record so far, the responder left running.
    QList<QJsonObject> recorded() const;

private:
    QString m_record;
    QProcess m_process;
    int m_port = 0;
};

QList<QJsonObject> ofKind(const QList<QJsonObject>& events, const QString& kind);

// A data-link file's text for a SQL Server on the responder's port: instance
// SHOP, database 门店库, user 店长, then the extra keys.
QString responderUdl(int port, const QString& extra);

} // namespace testing_support

#include "support/responder.h"

#include "support/testdb.h"

#include <QFile>
#include <QJsonDocument>

#include <stdexcept>

namespace testing_support {

Responder::Responder(const QString& dir, const QJsonArray& results, const QStringList& options)
    : m_record(dir + QStringLiteral("/record.jsonl"))
{
    const QString script = dir + QStringLiteral("/script.json");
    QFile f(script);
    if (!f.open(QIODevice::WriteOnly))
        throw std::runtime_error("cannot write the script");
    f.write(QJsonDocument(QJsonObject{{QStringLiteral("results"), results}}).toJson());
    f.close();
    m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    const QStringList arguments{sourceRoot() + QStringLiteral("/tests/tds_responder.py"),
                                QStringLiteral("--script"),
                                script,
                                QStringLiteral("--record"),
                                m_record,
                                QStringLiteral("--timeout"),
                                QStringLiteral("120")};
    m_process.start(QStringLiteral("python3"), arguments + options);
    if (!m_process.waitForStarted() || !m_process.waitForReadyRead(30000))
        throw std::runtime_error("the TDS responder did not start");
    m_port = m_process.readLine().trimmed().toInt();
}

Responder::~Responder()
{
    if (m_process.state() != QProcess::NotRunning) {
        m_process.kill();
        m_process.waitForFinished();
    }
}

QList<QJsonObject> Responder::events()
{
    m_process.waitForFinished(150000);
    return recorded();
}

QList<QJsonObject> Responder::recorded() const
{
    QList<QJsonObject> out;
    QFile f(m_record);
    if (f.open(QIODevice::ReadOnly))
        for (const QByteArray& line : f.readAll().split('\n'))
            if (!line.isEmpty())
                out.append(QJsonDocument::fromJson(line).object());
    return out;
}

QList<QJsonObject> ofKind(const QList<QJsonObject>& events, const QString& kind)
{
    QList<QJsonObject> out;
    for (const QJsonObject& e : events)
        if (e.value(QStringLiteral("event")).toString() == kind)
            out.append(e);
    return out;
}

QString responderUdl(int port, const QString& extra)
{
    return QStringLiteral("Provider=SQLOLEDB.1;Data Source=127.0.0.1\\SHOP,%1;Initial Catalog=门店库;User ID=店长;"
                          "Password=s3cret;Persist Security Info=True;%2")
        .arg(port)
        .arg(extra);
}

} // namespace testing_support

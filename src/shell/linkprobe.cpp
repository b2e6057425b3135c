#include "shell/linkprobe.h"

#include "db/connection.h"
#include "db/query.h"
#include "textutil/error.h"
#include "textutil/gbk.h"

#include <QStringList>

namespace shell {
namespace {

bool hasTable(db::Connection& connection, const QString& table)
{
    try {
        db::Query q(connection);
        q.setText(QStringLiteral("select * from %1 where 1=0").arg(table));
        q.open();
        q.close();
        return true;
    } catch (const belmire::Error&) {
        return false;
    }
}

} // namespace

LinkProbe probeLink(const QString& udlPath, const QList<DatabaseKind>& kinds)
{
    db::Connection connection(QStringLiteral("测试"));
    connection.open(udlPath);
    LinkProbe probe;
    const db::Connection::Description described = connection.describe();
    probe.server = described.server;
    probe.database = described.database;
    probe.answered = connection.answeredBy();
    for (const DatabaseKind& k : kinds) {
        bool all = !k.tables.isEmpty();
        for (const QString& t : k.tables)
            all = all && hasTable(connection, t);
        if (all) {
            probe.kind = k.name;
            break;
        }
    }
    connection.close();
    return probe;
}

QString describe(const LinkProbe& probe)
{
    return QStringLiteral("连接成功：%1，数据库 %2\n%3%4")
        .arg(probe.server, probe.database,
             probe.answered.isEmpty() ? QString() : QStringLiteral("驱动：%1\n").arg(probe.answered),
             probe.kind.isEmpty() ? QStringLiteral("看起来不是 Belmire 源数据库，也不是 Quorvan V9 目标数据库")
                                  : QStringLiteral("看起来是 ") + probe.kind);
}

} // namespace shell

#include "shell/linkprobe.h"

#include "db/connection.h"
#include "db/query.h"
#include "textutil/error.h"
#include "textutil/gbk.h"

#include <QStringList>

namespace shell {
namespace {

// Tables that only one kind of database has together.
struct Kind {
    const char16_t* name;
    QStringList tables;
};

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

LinkProbe probeLink(const QString& udlPath)
{
    db::Connection connection(QStringLiteral("测试"));
    connection.open(udlPath);
    LinkProbe probe;
    const db::Connection::Description described = connection.describe();
    probe.server = described.server;
    probe.database = described.database;
    probe.answered = connection.answeredBy();
    static const Kind kinds[] = {
        {u"Belmire V6/V7 源数据库", {QStringLiteral("spxx"), QStringLiteral("ck"), QStringLiteral("xx")}},
        {u"Belmire V1 源数据库", {QStringLiteral("Goods"), QStringLiteral("Store"), QStringLiteral("card")}},
        {u"Quorvan V9 目标数据库", {QStringLiteral("spda"), QStringLiteral("ckda"), QStringLiteral("mdda")}},
    };
    for (const Kind& k : kinds) {
        bool all = true;
        for (const QString& t : k.tables)
            all = all && hasTable(connection, t);
        if (all) {
            probe.kind = QString::fromUtf16(k.name);
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

#include "shell/guard.h"

#include "db/connection.h"
#include "db/lock_wait.h"
#include "db/query.h"
#include "shell/check.h"
#include "shell/server_check.h"
#include "textutil/error.h"

#include <QFileInfo>

#include <map>

namespace shell {
namespace {

QString links(const QString& sourceUdl, const QString& targetUdl)
{
    return QStringLiteral("源数据连接文件 %1，目标数据连接文件 %2").arg(sourceUdl, targetUdl);
}

} // namespace

QString databaseIdentity(db::Connection& connection) { return connection.identity(); }

void guardWrites(const QList<const Operation*>& operations, db::Connection& source, db::Connection& target,
                 const QString& sourceUdl, const QString& targetUdl)
{
    bool opened = false;
    if (!source.isOpen() && QFileInfo::exists(sourceUdl)) {
        source.open(sourceUdl);
        opened = true;
    }
    struct Close {
        db::Connection& c;
        bool opened;
        ~Close()
        {
            if (opened)
                c.close();
        }
    } close{source, opened};
    if (source.isOpen() && databaseIdentity(source) == databaseIdentity(target))
        throw belmire::Error(QStringLiteral("目标数据库就是源数据库（%1），没有写入任何数据；请检查两个数据连接文件")
                                 .arg(links(sourceUdl, targetUdl)));

    // Each target table once, with every column the operations name.
    std::map<QString, std::pair<QString, QStringList>> tables;
    QStringList order;
    for (const Operation* op : operations)
        for (const TableUse& use : op->uses) {
            if (use.side != Side::Target)
                continue;
            const QString key = use.table.toLower();
            auto [it, added] = tables.try_emplace(key, use.table, QStringList());
            if (added)
                order << key;
            for (const QString& c : use.columns)
                if (!it->second.second.contains(c, Qt::CaseInsensitive))
                    it->second.second << c;
        }
    // A failed probe refuses even when the column-by-column look finds nothing missing.
    CheckReport report;
    for (const QString& key : std::as_const(order)) {
        const auto& [table, columns] = tables.at(key);
        try {
            probe(target, table, columns);
        } catch (const belmire::Error& e) {
            const qsizetype known = report.problems.size();
            checkTable(target, Side::Target, table, columns, report, &e);
            if (report.problems.size() == known)
                report.problems << e.message();
        }
    }
    // A SQL Server column of another code page than GBK would store Chinese as "?" without an error.
    if (report.ok())
        checkServerTarget(operations, target, report);
    if (report.ok())
        return;
    QString first = report.problems.first().simplified();
    if (report.problems.size() > 1)
        first += QStringLiteral("（另有 %1 个问题）").arg(report.problems.size() - 1);
    // A table held by another session has the right shape; only the wait ran out.
    if (db::isLockWait(first))
        throw belmire::Error(QStringLiteral("%1；没有写入任何数据（%2）").arg(first, links(sourceUdl, targetUdl)));
    throw belmire::Error(QStringLiteral("目标数据库与转换的目标不符（%1），没有写入任何数据：%2")
                             .arg(links(sourceUdl, targetUdl), first));
}

void guardWrites(const QList<const Operation*>& operations, const QString& sourceUdl, const QString& targetUdl)
{
    db::Connection source(QStringLiteral("源"));
    db::Connection target(QStringLiteral("目标"));
    bool sourceNeeded = false;
    for (const Operation* op : operations)
        sourceNeeded = sourceNeeded || op->needsSource;
    if (sourceNeeded)
        source.open(sourceUdl);
    target.open(targetUdl);
    guardWrites(operations, source, target, sourceUdl, targetUdl);
}

} // namespace shell

#include "shell/server_check.h"

#include "db/connection.h"
#include "db/query.h"
#include "shell/runframe.h"
#include "textutil/error.h"

#include <map>

namespace shell {
namespace {

constexpr int kGbk = 936;
constexpr int kUtf8 = 65001;
const QString kFix = QStringLiteral("请把它改为 Chinese_PRC_CI_AS 这样代码页 936 的排序规则，或在排序规则为 "
                                    "Chinese_PRC_CI_AS 的数据库中按 schema/target_sqlserver.sql 重建目标表");

// The code page of each char, varchar and text column of a table (syscolumns
// types 175, 167, 35): SQL Server stores their bytes in it. nchar, nvarchar and
// ntext hold UTF-16 whatever the collation. syscolumns and COLLATIONPROPERTY
// answer on SQL Server 2000 as on every later server.
void checkCodePages(db::Connection& target, const QString& table, const QStringList& columns, CheckReport& report)
{
    db::Query q(target);
    q.setText(QStringLiteral("select c.name, c.collation, cast(collationproperty(c.collation, 'CodePage') as int) "
                             "from syscolumns c where c.id = object_id('%1') and c.xtype in (35, 167, 175)")
                  .arg(table));
    try {
        q.open();
        while (q.next()) {
            const QString column = q.valueAt(0).toString();
            if (!columns.contains(column, Qt::CaseInsensitive))
                continue;
            const QString collation = q.valueAt(1).toString();
            const int codePage = q.valueAt(2).toInt();
            if (codePage == kGbk || collation.isEmpty())
                continue;
            if (codePage == kUtf8)
                report.problems << QStringLiteral(
                                       "目标表 %1 的字段 %2 用 UTF-8 排序规则 %3：一个汉字占 3 个字节，按 GBK "
                                       "字节截短的值会超出字段宽度；%4")
                                       .arg(table, column, collation, kFix);
            else
                report.problems << QStringLiteral("目标表 %1 的字段 %2 的排序规则 %3 使用代码页 %4，不是 GBK（936）："
                                                  "中文会被存成“?”；%5")
                                       .arg(table, column, collation)
                                       .arg(codePage)
                                       .arg(kFix);
        }
        q.close();
    } catch (const belmire::Error& e) {
        report.notes << QStringLiteral("无法读出目标表 %1 各字段的排序规则：%2").arg(table, oneLine(e.message()));
    }
}

void listTriggers(db::Connection& target, const QString& table, CheckReport& report)
{
    const auto triggers = target.triggers(table);
    if (!triggers) {
        report.notes << QStringLiteral("无法读出目标表 %1 的触发器：转换时这个表每条 INSERT 只写一行").arg(table);
        return;
    }
    bool onInsert = false;
    QStringList names;
    for (const auto& t : *triggers) {
        names << QStringLiteral("%1（%2）").arg(t.name, t.events);
        onInsert = onInsert || t.onInsert;
    }
    if (names.isEmpty())
        return;
    report.notes << QStringLiteral("目标表 %1 有触发器 %2%3")
                        .arg(table, names.join(QStringLiteral("、")),
                             onInsert ? QStringLiteral("：转换时这个表每条 INSERT 只写一行，触发器逐行执行")
                                      : QString());
}

} // namespace

void checkServerTarget(const QList<const Operation*>& operations, db::Connection& target, CheckReport& report)
{
    // Only a SQL Server link says what answered it.
    if (!target.isOpen() || target.answeredBy().isEmpty())
        return;
    std::map<QString, std::pair<QString, QStringList>> tables; // lower-case name -> name, columns
    QStringList order;
    for (const Operation* op : operations)
        for (const TableUse& use : op->uses) {
            if (use.side != Side::Target)
                continue;
            auto [it, added] = tables.try_emplace(use.table.toLower(), use.table, QStringList());
            if (added)
                order << use.table.toLower();
            // A clear operation names the columns the conversions write, but writes none of them.
            for (const QString& c : use.columns)
                if (op->needsSource && !it->second.second.contains(c, Qt::CaseInsensitive))
                    it->second.second << c;
        }
    for (const QString& key : std::as_const(order)) {
        const auto& [table, columns] = tables.at(key);
        if (!columns.isEmpty())
            checkCodePages(target, table, columns, report);
        listTriggers(target, table, report);
    }
}

} // namespace shell

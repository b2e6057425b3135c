#include "shell/check.h"

#include "db/connection.h"
#include "db/lock_wait.h"
#include "db/query.h"
#include "db/transaction.h"
#include "shell/check_private.h"
#include "shell/guard.h"
#include "shell/runframe.h"
#include "shell/server_check.h"
#include "shell/verify.h"
#include "textutil/error.h"

#include <QRegularExpression>

#include <map>

namespace shell {

TableUse sourceUse(const QString& table, const QString& fields)
{
    return {Side::Source, table, fields.split(u',', Qt::SkipEmptyParts)};
}

TableUse targetUse(const QString& table, const QString& columns)
{
    return {Side::Target, table, columns.split(u',', Qt::SkipEmptyParts)};
}

TableUse insertUse(const QStringList& statementLines)
{
    static const QRegularExpression re(QStringLiteral(R"(insert\s+into\s+(\w+)\s*\(([^)]*)\))"),
                                       QRegularExpression::CaseInsensitiveOption);
    const auto m = re.match(statementLines.join(u' '));
    TableUse use{Side::Target, QString(), {}};
    if (!m.hasMatch())
        return use;
    use.table = m.captured(1);
    for (const QString& c : m.captured(2).split(u','))
        if (const QString name = c.trimmed(); !name.isEmpty())
            use.columns << name;
    return use;
}

QStringList CheckReport::lines() const
{
    QStringList out = notes + problems;
    if (ok())
        out << QStringLiteral("检查完毕：%1 个表、%2 个字段都可以使用").arg(tables).arg(columns);
    else
        out << QStringLiteral("检查完毕：发现 %1 个问题").arg(problems.size());
    return out;
}

void probe(db::Connection& connection, const QString& table, const QStringList& columns)
{
    db::Query q(connection);
    q.setText(QStringLiteral("select %1 from %2 where 1=0")
                  .arg(columns.isEmpty() ? QStringLiteral("*") : columns.join(u','), table));
    q.open();
    q.close();
}

QString databaseText(const belmire::Error& e)
{
    const QString m = oneLine(e.message());
    const qsizetype colon = m.indexOf(u'：');
    return m.startsWith(u'表') && colon > 0 ? m.mid(colon + 1) : m;
}

std::optional<qint64> firstNumber(db::Connection& connection, const QString& select)
{
    try {
        db::Query q(connection);
        q.setText(select);
        q.open();
        const qint64 n = q.next() ? q.valueAt(0).toLongLong() : 0;
        q.close();
        return n;
    } catch (const belmire::Error&) {
        return std::nullopt;
    }
}

qint64 countOf(db::Connection& connection, const QString& select)
{
    return firstNumber(connection, select).value_or(0);
}

namespace {

QString sideName(Side side) { return side == Side::Source ? QStringLiteral("源") : QStringLiteral("目标"); }

struct TableKey {
    Side side;
    QString table; // lower case: the databases compare unquoted names without case
    bool operator<(const TableKey& o) const { return side != o.side ? side < o.side : table < o.table; }
};

struct Probe {
    QString table; // as first named
    QStringList columns;
};

} // namespace

void checkTable(db::Connection& connection, Side side, const QString& table, const QStringList& columns,
                CheckReport& report, const belmire::Error* probed)
{
    const Probe p{table, columns};
    ++report.tables;
    report.columns += int(p.columns.size());
    // A table another session holds is there: say so, not that it may be missing,
    // and do not wait for it again column by column.
    const auto held = [&](const belmire::Error& e) {
        const QString text = databaseText(e);
        if (!db::isLockWait(text))
            return false;
        report.problems << QStringLiteral("%1表 %2 %3").arg(sideName(side), p.table, text);
        return true;
    };
    if (probed) {
        if (held(*probed))
            return;
    } else {
        try {
            probe(connection, p.table, p.columns);
            return;
        } catch (const belmire::Error& e) {
            if (held(e))
                return;
        }
    }
    // Tell a missing table from a missing column, one column at a time.
    try {
        probe(connection, p.table, {});
    } catch (const belmire::Error& e) {
        if (!held(e))
            report.problems
                << QStringLiteral("%1表 %2 不存在或无法读取：%3").arg(sideName(side), p.table, databaseText(e));
        return;
    }
    int missing = 0;
    for (const QString& column : p.columns) {
        try {
            probe(connection, p.table, {column});
        } catch (const belmire::Error& e) {
            report.problems
                << QStringLiteral("%1表 %2 缺少字段 %3：%4").arg(sideName(side), p.table, column, databaseText(e));
            ++missing;
        }
    }
    if (missing == 0) {
        try {
            probe(connection, p.table, p.columns);
        } catch (const belmire::Error& e) {
            report.problems << QStringLiteral("%1表 %2 无法读取：%3").arg(sideName(side), p.table, databaseText(e));
        }
    }
}

namespace {

// Each table the operations write takes a write: an insert of no row (a delete
// of none for a clear operation), rolled back. A read-only database file, a
// user without the right to write, say so here rather than at the first row.
void probeWrites(const QList<const Operation*>& operations, const QStringList& written, db::Connection& target,
                 CheckReport& report)
{
    std::map<QString, QStringList> refused; // the database's text -> the tables
    QStringList order;
    for (const QString& table : written) {
        QStringList columns;
        for (const Operation* op : operations)
            if (op->needsSource)
                for (const TableUse& use : op->uses)
                    if (use.side == Side::Target && use.table.compare(table, Qt::CaseInsensitive) == 0)
                        for (const QString& c : use.columns)
                            if (!columns.contains(c, Qt::CaseInsensitive))
                                columns << c;
        try {
            probe(target, table, columns);
        } catch (const belmire::Error&) {
            continue; // the table probe says what is wrong with it
        }
        const QString write =
            columns.isEmpty()
                ? QStringLiteral("delete from %1 where 1=0").arg(table)
                : QStringLiteral("insert into %1 (%2) select %2 from %1 where 1=0").arg(table, columns.join(u','));
        try {
            db::Transaction probe(target); // rolled back however the write ends
            target.exec(write);
        } catch (const belmire::Error& e) {
            const QString text = databaseText(e);
            // Another session may let the table be read but not written.
            if (db::isLockWait(text)) {
                report.problems << QStringLiteral("目标表 %1 %2").arg(table, text);
                continue;
            }
            if (!refused.count(text))
                order << text;
            refused[text] << table;
        }
    }
    for (const QString& text : std::as_const(order))
        report.problems << QStringLiteral("目标表 %1 不能写入：%2；转换会在第一次写入时停下：请让目标数据库可以写入"
                                          "（数据库文件和它所在的文件夹要可写，数据库用户要有写入的权限）")
                               .arg(refused[text].join(QStringLiteral("、")), text);
}

// What else can be known before anything is written: rows the target holds
// already (and keys of the source among them, where a conversion cannot skip
// them), codes a cut would merge, whether the target takes a write, source
// tables without rows, and a stock conversion that would build its store
// stock before the warehouses or products it needs are there.
void dryRun(const QList<const Operation*>& operations, db::Connection& source, db::Connection& target,
            CheckReport& report)
{
    QStringList written;
    for (const Operation* op : operations) {
        QStringList tables;
        for (const RowMatch& m : op->reconciliation.rows)
            tables << m.targetTable;
        if (!op->needsSource)
            for (const TableUse& use : op->uses)
                tables << use.table;
        for (const QString& t : std::as_const(tables))
            if (!written.contains(t, Qt::CaseInsensitive))
                written << t;
        for (const RowMatch& m : op->reconciliation.rows) {
            try {
                report.problems << mergedByCut(m, source);
            } catch (const belmire::Error&) {
            }
        }
    }
    for (const QString& t : std::as_const(written))
        if (const qint64 n = countOf(target, QStringLiteral("select count(*) from %1").arg(t)); n > 0)
            report.notes << QStringLiteral("目标表 %1 已有 %2 行").arg(t).arg(n);
    for (qsizetype k = 0; k < operations.size(); ++k)
        for (const RowMatch& m : operations[k]->reconciliation.rows) {
            // A clear operation named before the conversion empties the table first.
            bool cleared = false;
            for (qsizetype j = 0; j < k; ++j)
                for (const TableUse& use : operations[j]->uses)
                    cleared = cleared || (!operations[j]->needsSource &&
                                          use.table.compare(m.targetTable, Qt::CaseInsensitive) == 0);
            const ClearedBy* clear = operations[k]->clearing(m.targetTable);
            // The source keys are read only where the target holds rows.
            if (m.skipsPresent || cleared || !clear ||
                countOf(target, QStringLiteral("select count(*) from %1").arg(m.targetTable)) == 0)
                continue;
            try {
                if (const HeldKeys held = keysHeld(m, source, target); held.count > 0)
                    report.problems << QStringLiteral("目标 %1 已有源 %2 的 %3 个编号（%4）：%5不能跳过已有的行，"
                                                      "会在第一个这样的行停下；请先运行%6（%7）")
                                           .arg(m.targetTable, m.sourceTable)
                                           .arg(held.count)
                                           .arg(held.shown, operations[k]->title, clear->title, clear->id);
            } catch (const belmire::Error&) {
            }
        }
    for (const Operation* op : operations)
        try {
            if (const QString cut = stockCodesCut(*op, source); !cut.isEmpty())
                report.problems << cut;
        } catch (const belmire::Error&) {
        }
    probeWrites(operations, written, target, report);
    checkSourceRows(operations, source, report);

    const auto position = [&](const QStringList& ids) {
        for (qsizetype i = 0; i < operations.size(); ++i)
            if (ids.contains(operations[i]->id))
                return i;
        return qsizetype(-1);
    };
    for (qsizetype k = 0; k < operations.size(); ++k)
        for (const Prerequisite& p : operations[k]->prerequisites) {
            const qsizetype filler = position(p.ids);
            if (filler > k)
                report.problems << p.late.arg(operations[filler]->title);
            else if (filler < 0 && countOf(target, QStringLiteral("select count(*) from %1").arg(p.table)) == 0)
                report.notes << p.missing;
        }
}

} // namespace

CheckReport checkOperations(const QList<const Operation*>& operations, const QString& sourceUdl,
                            const QString& targetUdl)
{
    // Each table once, with the union of the columns of every operation, in the order first named.
    std::map<TableKey, Probe> tables;
    QList<TableKey> order;
    for (const Operation* op : operations)
        for (const TableUse& use : op->uses) {
            const TableKey key{use.side, use.table.toLower()};
            auto [it, added] = tables.try_emplace(key, Probe{use.table, {}});
            if (added)
                order << key;
            for (const QString& c : use.columns)
                if (!it->second.columns.contains(c, Qt::CaseInsensitive))
                    it->second.columns << c;
        }

    const db::LockWaitMemory oneWaitPerTable;
    CheckReport report;
    db::Connection source(QStringLiteral("源"));
    db::Connection target(QStringLiteral("目标"));
    for (const Side side : {Side::Source, Side::Target}) {
        bool used = false;
        for (const TableKey& k : std::as_const(order))
            used = used || k.side == side;
        if (!used)
            continue;
        db::Connection& connection = side == Side::Source ? source : target;
        try {
            connection.open(side == Side::Source ? sourceUdl : targetUdl);
        } catch (const belmire::Error& e) {
            report.problems << e.message();
            continue;
        }
        for (const TableKey& k : std::as_const(order))
            if (k.side == side)
                checkTable(connection, side, tables.at(k).table, tables.at(k).columns, report);
    }
    if (source.isOpen() && target.isOpen()) {
        try {
            if (databaseIdentity(source) == databaseIdentity(target))
                report.problems << QStringLiteral("目标数据库就是源数据库（源数据连接文件 %1，目标数据连接文件 %2）")
                                       .arg(sourceUdl, targetUdl);
        } catch (const belmire::Error& e) {
            report.problems << e.message();
        }
    }
    checkSettings(operations, source, target, report);
    if (source.isOpen() && target.isOpen())
        checkWidths(operations, source, target, report);
    if (source.isOpen() && target.isOpen())
        checkSourceTexts(operations, source, target, report);
    if (source.isOpen() && target.isOpen())
        dryRun(operations, source, target, report);
    checkServerTarget(operations, target, report);
    source.close();
    target.close();
    return report;
}

} // namespace shell
#include "shell/check.h"

#include "db/connection.h"
#include "db/lock_wait.h"
#include "db/query.h"
#include "shell/guard.h"
#include "shell/runframe.h"
#include "shell/server_check.h"
#include "shell/verify.h"
#include "textutil/error.h"
#include "textutil/gbk.h"

#include <QRegularExpression>

#include <algorithm>
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

namespace {

QString sideName(Side side) { return side == Side::Source ? QStringLiteral("源") : QStringLiteral("目标"); }

// The database's own text of a failed probe: the Query message without its "表 x：" lead.
QString databaseText(const belmire::Error& e)
{
    const QString m = oneLine(e.message());
    const qsizetype colon = m.indexOf(u'：');
    return m.startsWith(u'表') && colon > 0 ? m.mid(colon + 1) : m;
}

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

// First field of the first row, nothing when the statement fails (the probes report why).
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

// The rows each conversion walks. A source whose tables are all empty gives a
// run that writes nothing and says it is done; one empty table among others is
// an ordinary shop.
void checkSourceRows(const QList<const Operation*>& operations, db::Connection& source, CheckReport& report)
{
    QStringList empty, walked;
    for (const Operation* op : operations) {
        if (!op->needsSource)
            continue;
        QString table, filter;
        if (!op->reconciliation.rows.isEmpty()) {
            table = op->reconciliation.rows.first().sourceTable;
            filter = op->reconciliation.rows.first().sourceFilter;
        } else if (op->reconciliation.stock) {
            table = op->reconciliation.stock->stockTable;
        } else {
            for (const TableUse& use : op->uses)
                if (table.isEmpty() && use.side == Side::Source)
                    table = use.table;
        }
        if (table.isEmpty() || walked.contains(table, Qt::CaseInsensitive))
            continue;
        walked << table;
        const std::optional<qint64> n =
            firstNumber(source, QStringLiteral("select count(*) from %1").arg(table) +
                                    (filter.isEmpty() ? QString() : QStringLiteral(" where ") + filter));
        if (!n)
            return; // a table the probes report: the run stops there anyway
        if (*n == 0)
            empty << table;
    }
    if (!walked.isEmpty() && empty.size() == walked.size())
        report.problems << QStringLiteral("源的表都没有要转换的行（%1）：转换不会写入任何数据；请确认源数据连接文件指向"
                                          "有数据的数据库")
                               .arg(empty.join(QStringLiteral("、")));
}

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
            target.begin();
            target.exec(write);
            target.rollback();
        } catch (const belmire::Error& e) {
            try {
                target.rollback();
            } catch (const belmire::Error&) {
            }
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

// The deepest level of a table's rows, 0 when it has none or cannot be read.
qint64 deepestLevel(db::Connection& connection, const SettingRow& setting)
{
    return countOf(connection, QStringLiteral("select max(%1) from %2").arg(setting.levelField, setting.levelTable));
}

// The settings rows the operations read or update. A target row missing is a
// problem: the update that should fill it changes nothing. A source row
// missing, or too short, is a problem where the walk needs its digits (the run
// would stop at the first row that does), else information.
void checkSettings(const QList<const Operation*>& operations, db::Connection& source, db::Connection& target,
                   CheckReport& report)
{
    for (const Operation* op : operations)
        for (const SettingRow& setting : op->settings) {
            db::Connection& connection = setting.side == Side::Source ? source : target;
            if (!connection.isOpen())
                continue;
            std::optional<QByteArray> value;
            try {
                value = readSetting(connection, setting);
            } catch (const belmire::Error&) {
                continue; // the table probe reports it
            }
            if (setting.side == Side::Target) {
                if (!value)
                    report.problems
                        << QStringLiteral(
                               "目标 %1 没有 %2 行（%3）：%4只更新这一行，不会新建，%3会丢失；请先在目标 %1 中加上 %5 为 %2 的行")
                               .arg(setting.table, setting.key, setting.name, op->title, setting.keyColumn);
                continue;
            }
            const QString row = QStringLiteral("源 %1 的 %2 行（%3）").arg(setting.table, setting.key, setting.name);
            const qint64 level = setting.levelField.isEmpty() ? 0 : deepestLevel(connection, setting);
            const int digits = int(std::clamp<qint64>(level - 1, 0, 6));
            const QByteArray v = value.value_or(QByteArray());
            bool enough = v.size() >= digits;
            for (int i = 0; enough && i < digits; ++i)
                enough = v[i] >= '0' && v[i] <= '9';
            if (!enough)
                report.problems
                    << QStringLiteral(
                           "%1%2；%3 有第 %4 级的行，要用它的前 %5 位数字：%6会在第一个用到它的行停下；请先在源 %7 中补上或改正这一行")
                           .arg(row, value ? QStringLiteral("是“%1”").arg(gbk::toUnicode(v)) : QStringLiteral("不存在"),
                                setting.levelTable)
                           .arg(level)
                           .arg(digits)
                           .arg(op->title, setting.table);
            else if (!value &&
                     countOf(connection, QStringLiteral("select count(*) from %1").arg(setting.levelTable)) > 0)
                report.notes << QStringLiteral("%1不存在，%2按空设置转换").arg(row, op->title);
        }
}

using Width = db::Connection::TextWidth;

std::map<QString, Width> declaredWidths(db::Connection& target, const QString& table)
{
    return target.declaredTextWidths(table);
}

qint64 lengthIn(const QByteArray& gbkText, const Width& width)
{
    switch (width.unit) {
    case Width::Unit::Bytes:
        return gbkText.size();
    case Width::Unit::Utf16:
        return gbk::toUnicode(gbkText).size();
    case Width::Unit::Characters:
        break;
    }
    return gbk::toUnicode(gbkText).toUcs4().size();
}

// Source values longer than the target column where the target enforces its
// widths (SQLite does not): the row would end the run, so the check names it.
// Each source table is read once for all its fields.
void checkWidths(const QList<const Operation*>& operations, db::Connection& source, db::Connection& target,
                 CheckReport& report)
{
    if (!target.enforcesTextWidths())
        return;
    struct Field {
        const FieldInto* into;
        const Operation* op;
        Width width;
        int cut;
        qint64 rows = 0, longest = 0;
        QStringList shown;
    };
    std::map<QString, std::map<QString, Width>> widths; // lower-case table name -> its columns
    std::map<QString, std::vector<Field>> bySource;     // the select's FROM and WHERE -> its fields
    QStringList seen;
    for (const Operation* op : operations)
        for (const FieldInto& f : op->fields) {
            const QString id = QStringLiteral("%1.%2>%3.%4")
                                   .arg(f.sourceTable, f.sourceField, f.targetTable, f.targetColumn)
                                   .toLower();
            if (seen.contains(id))
                continue;
            seen << id;
            auto table = widths.find(f.targetTable.toLower());
            if (table == widths.end()) {
                std::map<QString, Width> columns;
                try {
                    columns = declaredWidths(target, f.targetTable);
                } catch (const belmire::Error& e) {
                    report.notes << QStringLiteral("目标表 %1 的字段宽度读不出来（%2）：没有检查源值是否长于目标字段")
                                        .arg(f.targetTable, databaseText(e));
                }
                table = widths.emplace(f.targetTable.toLower(), std::move(columns)).first;
            }
            const auto width = table->second.find(f.targetColumn.toLower());
            if (width == table->second.end())
                continue;
            const int cut = f.cut;
            if (cut > 0 && cut <= width->second.length)
                continue; // a cut value always fits
            bySource[f.sourceTable + (f.filter.isEmpty() ? QString() : QStringLiteral(" where ") + f.filter)].push_back(
                {&f, op, width->second, cut, 0, 0, {}});
        }
    for (auto& [from, fields] : bySource) {
        QStringList names;
        for (const Field& f : fields)
            names << f.into->sourceField;
        // The rows are named by the code the conversion shows, where it has one for this table.
        QString key;
        for (const RowMatch& m : fields.front().op->reconciliation.rows)
            if (key.isEmpty() && m.sourceTable.compare(fields.front().into->sourceTable, Qt::CaseInsensitive) == 0)
                key = m.key.value(0).sourceField;
        if (!key.isEmpty())
            names << key;
        try {
            db::Query q(source);
            q.setText(QStringLiteral("select %1 from %2").arg(names.join(u','), from));
            q.open();
            while (q.next())
                for (int i = 0; i < int(fields.size()); ++i) {
                    Field& f = fields[size_t(i)];
                    QByteArray value = db::variantText(q.valueAt(i));
                    if (f.into->trimmed)
                        value = gbk::trim(value);
                    if (f.cut > 0)
                        value = gbk::cut(value, f.cut);
                    const qint64 length = lengthIn(value, f.width);
                    if (length <= f.width.length)
                        continue;
                    ++f.rows;
                    f.longest = std::max(f.longest, length);
                    if (f.shown.size() < 3)
                        f.shown << (key.isEmpty() ? gbk::toUnicode(gbk::cut(value, 40)) + QStringLiteral("…")
                                                  : QStringLiteral("编号 ") + gbk::toUnicode(gbk::trim(q.text(key))));
                }
            q.close();
        } catch (const belmire::Error&) {
            continue; // the table probes report it
        }
        for (const Field& f : fields)
            if (f.rows > 0)
                report.problems << QStringLiteral("源 %1 有 %2 行的 %3 长于目标 %4 的 %5 宽 %6 %7（最长 %8）：%9%10；"
                                                  "%11会在第一行停下；请先在源中改短，或加宽目标字段")
                                       .arg(f.into->sourceTable)
                                       .arg(f.rows)
                                       .arg(f.into->sourceField, f.into->targetTable, f.into->targetColumn)
                                       .arg(f.width.length)
                                       .arg(f.width.unit == Width::Unit::Bytes ? QStringLiteral("字节")
                                                                               : QStringLiteral("个字符"))
                                       .arg(f.longest)
                                       .arg(f.shown.join(QStringLiteral("、")),
                                            f.rows > f.shown.size() ? QStringLiteral("…") : QString(), f.op->title);
    }
}

// Source texts a run would stop at: NUL characters where the target keeps none,
// and bytes that are neither UTF-8 nor GBK. Each source table is read once for
// every field the operations read from it.
void checkSourceTexts(const QList<const Operation*>& operations, db::Connection& source, db::Connection& target,
                      CheckReport& report)
{
    const bool nul = !target.keepsNul();
    if (!nul && !source.keepsAnyTextBytes())
        return;
    struct Table {
        QString name;
        QStringList fields;
        const Operation* op = nullptr;
    };
    std::map<QString, Table> tables; // lower-case name -> the table
    QStringList order;
    for (const Operation* op : operations)
        for (const TableUse& use : op->uses) {
            if (use.side != Side::Source || use.columns.isEmpty())
                continue;
            auto [it, added] = tables.try_emplace(use.table.toLower(), Table{use.table, {}, op});
            if (added)
                order << use.table.toLower();
            for (const QString& c : use.columns)
                if (!it->second.fields.contains(c, Qt::CaseInsensitive))
                    it->second.fields << c;
        }
    struct Found {
        qint64 rows = 0;
        QStringList shown;
    };
    for (const QString& t : std::as_const(order)) {
        const Table& table = tables.at(t);
        // The rows are named by the code the conversion shows, where it has one for this table.
        QString key;
        for (const RowMatch& m : table.op->reconciliation.rows)
            if (key.isEmpty() && m.sourceTable.compare(table.name, Qt::CaseInsensitive) == 0)
                key = m.key.value(0).sourceField;
        std::map<QString, Found> withNul, broken; // field -> rows
        try {
            db::Query q(source);
            q.setText(QStringLiteral("select %1 from %2")
                          .arg((key.isEmpty() || table.fields.contains(key, Qt::CaseInsensitive)
                                    ? table.fields
                                    : table.fields + QStringList{key})
                                   .join(u','),
                               table.name));
            q.open();
            for (qint64 row = 1; q.next(); ++row) {
                const auto name = [&] {
                    try {
                        if (!key.isEmpty())
                            return QStringLiteral("编号 ") + gbk::toUnicode(gbk::trim(q.text(key)));
                    } catch (const belmire::Error&) {
                    }
                    return QStringLiteral("第 %1 行").arg(row);
                };
                const auto note = [&](Found& f) {
                    if (++f.rows <= 3)
                        f.shown << name();
                };
                for (const QString& field : table.fields) {
                    try {
                        const QByteArray text = q.text(field);
                        if (nul && text.contains('\0'))
                            note(withNul[field]);
                    } catch (const belmire::Error&) {
                        note(broken[field]);
                    }
                }
            }
            q.close();
        } catch (const belmire::Error&) {
            continue; // the table probes report it
        }
        // pattern: table, rows, field, the rows named, the operation.
        const auto list = [&](const std::map<QString, Found>& found, const QString& pattern) {
            for (const auto& [field, f] : found)
                report.problems << pattern.arg(table.name)
                                       .arg(f.rows)
                                       .arg(field,
                                            f.shown.join(QStringLiteral("、")) +
                                                (f.rows > f.shown.size() ? QStringLiteral("…") : QString()),
                                            table.op->title);
        };
        list(withNul, QStringLiteral("源 %1 有 %2 行的 %3 含 NUL 字符（0x00）：%4；目标数据库不能保存，"
                                     "%5会在第一行停下；请先在源中去掉"));
        list(broken, QStringLiteral("源 %1 有 %2 行的 %3 既不是有效的 UTF-8，也不是有效的 GBK：%4；"
                                    "%5会在第一行停下；请先在源中改正"));
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

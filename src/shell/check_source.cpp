#include "db/connection.h"
#include "db/query.h"
#include "shell/check_private.h"
#include "shell/verify.h"
#include "textutil/error.h"
#include "textutil/gbk.h"

#include <algorithm>
#include <map>
#include <optional>
#include <vector>

namespace shell {

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

namespace {

// The deepest level of a table's rows, 0 when it has none or cannot be read.
qint64 deepestLevel(db::Connection& connection, const SettingRow& setting)
{
    return countOf(connection, QStringLiteral("select max(%1) from %2").arg(setting.levelField, setting.levelTable));
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

} // namespace

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

// Source values longer than the target column where the target enforces its
// widths (SQLite does not): the row would end the run, so the check names it.
// Each source table is read once for all its fields.
void checkWidths(const QList<const Operation*>& operations, db::Connection& source, db::Connection& target,
                 CheckReport& report)
{
    if (!target.capabilities().enforcesTextWidths)
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
    const bool nul = !target.capabilities().keepsNul;
    if (!nul && !source.capabilities().keepsAnyTextBytes)
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

} // namespace shell

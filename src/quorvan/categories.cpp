#include "quorvan/categories.h"

#include "quorvan/row.h"
#include "shell/runframe.h"
#include "textutil/gbk.h"
#include "textutil/plib.h"

#include <memory>

namespace quorvan {

QByteArray parentByLevel(const QByteArray& code, qint64 level, const QByteArray& levelSetting)
{
    // Levels above 7 count like level 7; the clamp also keeps huge levels from wrapping.
    const int above = level <= 1 ? 0 : int(qMin<qint64>(level - 1, 6));
    return gbk::cut(code, textutil::DigitSum(above, levelSetting));
}

QString quoted(const QByteArray& gbkText)
{
    // A GBK trail byte is never 0x27, so every quote byte is a real quote.
    QString text = gbk::toUnicode(gbkText);
    text.replace(u'\'', QStringLiteral("''"));
    return u'\'' + text + u'\'';
}

void copyLevelSetting(shell::Run& run, const QByteArray& levelSetting)
{
    const QByteArray converted = textutil::ReplaceAll(levelSetting, "0", "2");
    run.execute(QStringLiteral("update xx set fvalue=") + quoted(converted) + QStringLiteral(" where objid=") +
                quoted("01splbjc"));
}

shell::SettingRow targetLevelSetting()
{
    return {shell::Side::Target,      QStringLiteral("xx"),
            QStringLiteral("objid"),  QStringLiteral("01splbjc"),
            QStringLiteral("fvalue"), QStringLiteral("商品类别级别设置"),
            QStringLiteral("splbda"), QString()};
}

shell::SettingRow sourceSetting(const QString& table, const QString& keyColumn, const char* key,
                                const QString& valueColumn, const QString& name, const QString& levelTable,
                                const QString& levelField)
{
    return {shell::Side::Source, table, keyColumn, QString::fromLatin1(key), valueColumn, name, levelTable, levelField};
}

shell::Operation categories(const QString& sourceTable, std::initializer_list<Rule> list,
                            const shell::SettingRow& levels)
{
    const auto rules = std::make_shared<const Rules>(kSplbdaTable, sourceTable, list);
    const Asking setting(levels.table, levels.keyColumn, levels.valueColumn);
    shell::Operation op;
    op.id = QStringLiteral("categories");
    op.title = QStringLiteral("商品类别转换");
    op.completion = QStringLiteral("档案转换完毕！");
    op.body = [rules, setting, key = levels.key.toLatin1()](shell::Run& run) {
        const Rules& r = *rules;
        run.target(kInsertSplbda);
        const QByteArray levelSetting = r.readsLevels() ? setting.answer(run, key) : QByteArray();
        walkRows(run, r, QStringLiteral("  "), levelSetting);
        copyLevelSetting(run, setting.answer(run, key));
    };
    op.uses = {
        shell::sourceUse(sourceTable, rules->fieldList()),
        shell::sourceUse(levels.table, levels.valueColumn + u',' + levels.keyColumn),
        shell::insertUse(kInsertSplbda),
        shell::targetUse(QStringLiteral("xx"), QStringLiteral("fvalue,objid")),
    };
    op.settings = {levels, targetLevelSetting()};
    op.fields = rules->widthChecked();
    op.reconciliation.setting = shell::SettingCopy{levels, targetLevelSetting()};
    op.reconciliation.rows = {{sourceTable, QString(), rules->key(), QStringLiteral("splbda")}};
    return op;
}

} // namespace quorvan

#include "quorvan/categories.h"

#include "quorvan/row.h"
#include "shell/runframe.h"
#include "textutil/gbk.h"
#include "textutil/plib.h"

namespace quorvan {

void writeCategory(db::Query& insert, const QByteArray& code, const QByteArray& name, const QByteArray& parent,
                   const QByteArray& stamp)
{
    Row<kSplbdaTable> row;
    row.text<"objid">(code);
    row.text<"splbmc">(name);
    row.text<"fbbh">(parent);
    row.text<"xgrq">(stamp);
    row.insert(insert);
}

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

} // namespace quorvan

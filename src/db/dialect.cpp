#include "db/dialect.h"

#include <QRegularExpression>

namespace db {
namespace {

const QRegularExpression& truncateRe()
{
    static const QRegularExpression re(QStringLiteral(R"(^(\s*)truncate\s+table\s+)"),
                                       QRegularExpression::CaseInsensitiveOption);
    return re;
}

const QRegularExpression& topRe()
{
    static const QRegularExpression re(QStringLiteral(R"(^(\s*select\s+)top\s+(\d+)\s+(.*?)[\s;]*$)"),
                                       QRegularExpression::CaseInsensitiveOption |
                                           QRegularExpression::DotMatchesEverythingOption);
    return re;
}

// update T set ... from T A [, X B ...] [where ...]
const QRegularExpression& updateFromRe()
{
    static const QRegularExpression re(
        QStringLiteral(R"(^(\s*update\s+)(\w+)(\s+set\s+)(.*?)(\s+from\s+)(\w+)(?:\s+(?:as\s+)?(?!where\b)(\w+))?)"
                       R"(\s*(,\s*.*?)?(\s+where\s+.*)?$)"),
        QRegularExpression::CaseInsensitiveOption | QRegularExpression::DotMatchesEverythingOption);
    return re;
}

const QRegularExpression& concatRe()
{
    static const QRegularExpression re(QStringLiteral(R"(\b(\w+\.\w+)\s*\+\s*(\w+\.\w+)\b)"));
    return re;
}

QString rewriteUpdateFrom(const QString& statement)
{
    const auto m = updateFromRe().match(statement);
    if (!m.hasMatch() || m.captured(2).compare(m.captured(6), Qt::CaseInsensitive) != 0)
        return statement;
    QString setClause = m.captured(4);
    setClause.replace(concatRe(), QStringLiteral("\\1||\\2"));
    QString out = m.captured(1) + m.captured(2);
    if (!m.captured(7).isEmpty())
        out += QStringLiteral(" as ") + m.captured(7);
    out += m.captured(3) + setClause;
    QString others = m.captured(8).trimmed();
    if (others.startsWith(u','))
        out += QStringLiteral(" from ") + others.mid(1).trimmed();
    out += m.captured(9);
    return out;
}

} // namespace

QString replaceParameters(const QString& text, QList<QString>& names, const std::function<QString(int)>& marker)
{
    const auto isNameChar = [](QChar ch) { return ch.isLetterOrNumber() || ch == u'_'; };
    QString out;
    out.reserve(text.size() + 16);
    QChar quote;
    const qsizetype n = text.size();
    for (qsizetype i = 0; i < n; ++i) {
        const QChar c = text[i];
        if (!quote.isNull()) {
            if (c == quote)
                quote = QChar();
            out += c;
            continue;
        }
        if (c == u'\'' || c == u'"') {
            quote = c;
            out += c;
            continue;
        }
        if (c == u':' && i + 1 < n && text[i + 1] == u':') { // a PostgreSQL cast
            out += QStringLiteral("::");
            ++i;
            continue;
        }
        if (c == u':' && i + 1 < n && isNameChar(text[i + 1])) {
            qsizetype end = i + 1;
            while (end < n && isNameChar(text[end]))
                ++end;
            const QString name = text.mid(i + 1, end - i - 1);
            qsizetype k = names.indexOf(name);
            if (k < 0) {
                k = names.size();
                names.append(name);
            }
            out += marker(int(k));
            i = end - 1;
            continue;
        }
        out += c;
    }
    return out;
}

QString rewrite(const QString& statement, Dialect dialect)
{
    if (dialect == Dialect::SqlServer)
        return statement;
    QString out = statement;
    if (dialect == Dialect::SQLite)
        out.replace(truncateRe(), QStringLiteral("\\1DELETE FROM "));
    if (const auto m = topRe().match(out); m.hasMatch())
        out = m.captured(1) + m.captured(3) + QStringLiteral(" limit ") + m.captured(2);
    return rewriteUpdateFrom(out);
}

QString savepointSql(Dialect dialect, const QString& name)
{
    return dialect == Dialect::SqlServer ? QStringLiteral("SAVE TRANSACTION ") + name
                                         : QStringLiteral("SAVEPOINT ") + name;
}

QString releaseSql(Dialect dialect, const QString& name)
{
    return dialect == Dialect::SqlServer ? QString() : QStringLiteral("RELEASE SAVEPOINT ") + name;
}

QString rollbackToSql(Dialect dialect, const QString& name)
{
    return dialect == Dialect::SqlServer ? QStringLiteral("ROLLBACK TRANSACTION ") + name
                                         : QStringLiteral("ROLLBACK TO SAVEPOINT ") + name;
}

} // namespace db

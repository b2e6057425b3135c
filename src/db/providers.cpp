#include "db/providers.h"

#include <QStringList>

namespace db {

const QList<LinkProvider>& linkProviders()
{
    static const QList<LinkProvider> list = {
        {QStringLiteral("SQLite"), LinkEngine::SQLite},        {QStringLiteral("SQLite3"), LinkEngine::SQLite},
        {QStringLiteral("SQLOLEDB"), LinkEngine::SqlServer},   {QStringLiteral("SQLNCLI"), LinkEngine::SqlServer},
        {QStringLiteral("SQLNCLI10"), LinkEngine::SqlServer},  {QStringLiteral("SQLNCLI11"), LinkEngine::SqlServer},
        {QStringLiteral("MSOLEDBSQL"), LinkEngine::SqlServer}, {QStringLiteral("MSOLEDBSQL19"), LinkEngine::SqlServer},
        {QStringLiteral("MSDASQL"), LinkEngine::Odbc},         {QStringLiteral("PostgreSQL"), LinkEngine::PostgreSQL},
    };
    return list;
}

const QList<LinkEngineChoice>& linkEngineChoices()
{
    static const QList<LinkEngineChoice> list = {
        {LinkEngine::SQLite, QStringLiteral("SQLite 文件"), QStringLiteral("SQLite")},
        {LinkEngine::SqlServer, QStringLiteral("SQL Server"), QStringLiteral("MSOLEDBSQL")},
        {LinkEngine::PostgreSQL, QStringLiteral("PostgreSQL"), QStringLiteral("PostgreSQL")},
        {LinkEngine::Odbc, QStringLiteral("ODBC"), QStringLiteral("MSDASQL.1")},
    };
    return list;
}

std::optional<LinkEngine> providerEngine(const QString& name)
{
    const auto known = [](const QString& n) -> std::optional<LinkEngine> {
        for (const LinkProvider& p : linkProviders())
            if (p.name.compare(n, Qt::CaseInsensitive) == 0)
                return p.engine;
        return std::nullopt;
    };
    const QString trimmed = name.trimmed();
    if (const auto engine = known(trimmed))
        return engine;
    // Windows writes versioned names ("SQLOLEDB.1", "MSDASQL.1"); one trailing ".<digits>" names the same provider.
    const qsizetype dot = trimmed.lastIndexOf(QLatin1Char('.'));
    if (dot > 0 && dot + 1 < trimmed.size()) {
        bool digits = true;
        for (qsizetype i = dot + 1; i < trimmed.size(); ++i)
            digits = digits && trimmed[i].isDigit() && trimmed[i].unicode() < 0x80;
        if (digits)
            return known(trimmed.left(dot));
    }
    return std::nullopt;
}

QString unsupportedProvider(const QString& path, const QString& provider)
{
    const QString shown = provider.size() > 80 ? provider.left(80) + QStringLiteral("…") : provider;
    QStringList names;
    for (const LinkProvider& p : linkProviders())
        names << p.name;
    return QStringLiteral("数据连接文件 %1 中的提供程序 \"%2\" 不受支持（支持：%3）")
        .arg(path, shown, names.join(QStringLiteral(", ")));
}

} // namespace db

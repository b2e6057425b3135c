#pragma once

#include <QList>
#include <QString>

#include <optional>

namespace db {

// The engines a data-link file reaches, in the order the connection editor offers them.
enum class LinkEngine { SQLite, SqlServer, PostgreSQL, Odbc };

// A provider name a data-link file may give, and the engine it reaches.
struct LinkProvider {
    QString name;
    LinkEngine engine;
};

// What the connection editor shows for an engine, and the provider name it writes for a new link.
struct LinkEngineChoice {
    LinkEngine engine;
    QString caption;
    QString written;
};

// Every provider name this tool reads, and the editor's engines in their order.
const QList<LinkProvider>& linkProviders();
const QList<LinkEngineChoice>& linkEngineChoices();

// The engine of a provider name, case aside and with a version suffix (".1") or not;
// nothing for a provider this tool does not support.
std::optional<LinkEngine> providerEngine(const QString& name);

// The message for a data-link file whose provider is not supported.
QString unsupportedProvider(const QString& path, const QString& provider);

} // namespace db

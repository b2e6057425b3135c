#pragma once

#include "shell/catalog.h"

#include <QString>

namespace shell {

// What answered a data-link file: the database product and version, the
// database's name, and which kind of shop database it looks like.
struct LinkProbe {
    QString server;   // "SQLite 3.40.1", "PostgreSQL 15.5 ...", "Microsoft SQL Server 2019 ..."
    QString database; // file path or database name
    QString kind;     // "Belmire V6/V7 源数据库", "Belmire V1 源数据库", "Quorvan V9 目标数据库" or empty
    QString answered; // SQL Server: the driver, TDS and server versions that answered
};

// Connects with the file, asks, and disconnects; reads only. The kind is the
// first of kinds whose tables are all there. Throws belmire::Error with the
// connection's own text (which never holds the password).
LinkProbe probeLink(const QString& udlPath, const QList<DatabaseKind>& kinds);

// "连接成功：<server>，数据库 <database>", what answered a SQL Server link, and
// the kind, or that it looks like none.
QString describe(const LinkProbe& probe);

} // namespace shell

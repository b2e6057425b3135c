#pragma once

// Helpers shared by the files of the pre-flight check (check.cpp, check_source.cpp).

#include "shell/check.h"

#include <QList>
#include <QString>

#include <optional>

namespace shell {

// The database's own text of a failed probe: the Query message without its "表 x：" lead.
QString databaseText(const belmire::Error& e);

// First field of the first row, nothing when the statement fails (the probes report why).
std::optional<qint64> firstNumber(db::Connection& connection, const QString& select);

// firstNumber, 0 when the statement fails.
qint64 countOf(db::Connection& connection, const QString& select);

// Source tables that give no row to convert at all.
void checkSourceRows(const QList<const Operation*>& operations, db::Connection& source, CheckReport& report);

// The settings rows the operations read or update.
void checkSettings(const QList<const Operation*>& operations, db::Connection& source, db::Connection& target,
                   CheckReport& report);

// Source values longer than the target column where the target enforces its widths.
void checkWidths(const QList<const Operation*>& operations, db::Connection& source, db::Connection& target,
                 CheckReport& report);

// Source texts a run would stop at: NUL characters, bytes neither UTF-8 nor GBK.
void checkSourceTexts(const QList<const Operation*>& operations, db::Connection& source, db::Connection& target,
                      CheckReport& report);

} // namespace shell

#pragma once

#include "db/connection.h"
#include "shell/operation.h"

#include <QStringList>

#include <memory>
#include <optional>

namespace shell {

// The reconciliation of a finished conversion: what was compared, and each
// difference the conversion's rules do not explain.
struct VerifyReport {
    QStringList lines;
    QStringList problems;
    bool ok() const { return problems.isEmpty(); }
};

// Compares the source with the target as the operation's reconciliation
// describes, on two open connections. It only reads. Throws belmire::Error
// when a table cannot be read.
VerifyReport verify(const Operation& operation, db::Connection& source, db::Connection& target);

// The same in two parts. The conversions only read the source, so its part may
// be read on another connection while the conversion runs.
struct SourceFacts;
std::shared_ptr<const SourceFacts> readSourceFacts(const Operation& operation, db::Connection& source);
// Source codes a key cut merges: one problem line per group of different
// trimmed codes that keep the same bytes, the first few groups.
QStringList mergedByCut(const RowMatch& match, db::Connection& source);

// The source keys of a match that the target already holds, as the conversion
// writes them: their number and the first few. A conversion that cannot skip
// them stops at the first.
struct HeldKeys {
    qint64 count = 0;
    QString shown;
};
HeldKeys keysHeld(const RowMatch& match, db::Connection& source, db::Connection& target);

// The product codes of a stock conversion's source longer than spckkc keeps
// them: spckkc and mdspkc then name a product spda does not hold. One problem
// line, empty when there are none.
QString stockCodesCut(const Operation& operation, db::Connection& source);

// The value of a settings row as a lookup reads it (first row, trimmed);
// nothing when the table has no such row.
std::optional<QByteArray> readSetting(db::Connection& connection, const SettingRow& setting);
// A setting as written where it is copied: every "0" as "2".
QByteArray copiedSetting(const QByteArray& value);

// The keys the target held before a run, so that the rows the run did not
// write are told apart; read before the run writes.
struct TargetBefore;
std::shared_ptr<const TargetBefore> readTargetBefore(const Operation& operation, db::Connection& target);
// source is read again only to name codes missing from the target. Without
// before (a reconciliation on its own), target keys the source does not have
// are information, not a problem.
VerifyReport verify(const Operation& operation, const SourceFacts& facts, db::Connection& source,
                    db::Connection& target, const TargetBefore* before);

} // namespace shell

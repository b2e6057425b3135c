#pragma once

#include <QList>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

namespace shell {

class Run;

enum class Family { V67, V1 };

enum class Side { Source, Target };

// A table an operation reads or writes, with every field or column it names.
struct TableUse {
    Side side = Side::Source;
    QString table;
    QStringList columns;
};

// One part of the key that carries a source row into its target row.
struct KeyPart {
    QString sourceField;
    QString targetColumn;
    int cut = 0; // bytes the trimmed source value keeps in the target, 0 for all
};

// A source table converted row by row into one target table.
struct RowMatch {
    QString sourceTable;
    QString sourceFilter; // the walk's WHERE condition, empty for every row
    QList<KeyPart> key;
    QString targetTable;
    // A row whose key is already in the target is skipped, so a key repeated
    // in the source is written once; otherwise a repeated key is a fault.
    bool skipsPresent = false;
};

// The stock quantity of the source, valued at the product prices the
// conversion looks up, against the sums of spckkc and mdspkc.
struct StockSums {
    QString stockTable;
    QString productField;
    QString quantityField;
    QString priceTable;
    QString priceKey;
    QString purchasePrice;
    QString retailPrice;
};

// A row of a settings table that an operation reads (source) or updates
// (target): the row of table whose keyColumn holds key, its value in valueColumn.
struct SettingRow {
    Side side = Side::Source;
    QString table;
    QString keyColumn;
    QString key;
    QString valueColumn;
    QString name; // what the row holds, for messages
    // The table the setting serves. For a level setting read while walking it,
    // levelField too: a row of level L needs the first min(L-1, 6) digits.
    QString levelTable;
    QString levelField;
};

// A source field whose value goes into a target column, trimmed or as read,
// then cut as the target column's description says.
struct FieldInto {
    QString sourceTable;
    QString sourceField;
    QString targetTable;
    QString targetColumn;
    bool trimmed = false;
    QString filter; // the walk's WHERE condition, empty for every row
    int cut = 0;    // bytes the target column keeps, 0 for the whole value
};

// A source setting the operation writes into a target setting, every "0" as "2".
struct SettingCopy {
    SettingRow from;
    SettingRow to;
};

// What a finished conversion is checked against.
struct Reconciliation {
    QList<RowMatch> rows;
    std::optional<StockSums> stock;
    std::optional<SettingCopy> setting;
    bool isEmpty() const { return rows.isEmpty() && !stock && !setting; }
};

// A target table another operation fills, which this one reads: the check
// says when that operation comes later or is missing and the table is empty.
struct Prerequisite {
    QStringList ids; // the operations that fill the table, any one of them
    QString table;
    QString late;    // the problem when one of them comes later, %1 its title
    QString missing; // the note when none of them is run and the table is empty
};

// The clear operation that empties a target table.
struct ClearedBy {
    QString table;
    QString id;
    QString title;
};

// One button of the window, one operation of the command line.
struct Operation {
    QString id;         // command-line name: "warehouses", "clear-stock", ...
    QString title;      // button caption, names the operation in messages
    QString completion; // text of the completion box
    bool needsSource = true;
    std::function<void(Run&)> body;
    QList<TableUse> uses;       // what the pre-flight check probes
    QList<SettingRow> settings; // settings rows read or updated, which the check looks for
    QList<FieldInto> fields;    // source values that go into target columns, for the width check
    Reconciliation reconciliation;
    // What a run stopped in the middle of its walk leaves in the target and
    // what to do, where the tables it writes row by row do not say it all.
    QString interruptedNote;
    QList<Prerequisite> prerequisites;
    // The clear operations that empty the target tables it matches rows in, named by the catalog.
    QList<ClearedBy> clears;
    // The clear operation that empties table, null when none does.
    const ClearedBy* clearing(const QString& table) const
    {
        for (const ClearedBy& c : clears)
            if (c.table.compare(table, Qt::CaseInsensitive) == 0)
                return &c;
        return nullptr;
    }
};

// Helpers for declaring uses: a source table with the fields read, a target
// table with the columns named (both as "a,b,c"; empty for the table alone),
// and the target table and columns of an INSERT statement's lines.
TableUse sourceUse(const QString& table, const QString& fields);
TableUse targetUse(const QString& table, const QString& columns);
TableUse insertUse(const QStringList& statementLines);

} // namespace shell

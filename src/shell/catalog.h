#pragma once

#include "shell/operation.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

namespace shell {

// A kind of database, known by tables only it has together.
struct DatabaseKind {
    QString name; // "Belmire V6/V7 源数据库", ...
    QStringList tables;
};

// What a program hands the catalog.
struct Program {
    QList<Operation> conversions; // in button order
    QList<Operation> clears;      // the clear operations, in button order
    DatabaseKind source;          // the databases it converts from
    // Conversions of which a source fits one only (V6 and V7 products), and
    // the one a source fits; empty where one conversion fits every source.
    QStringList alternatives;
    std::function<QString(const QString& sourceUdl)> fitting;
};

// Every operation of both programs: each family's conversions in button order,
// then the seven clear operations. Built once above the families and handed to
// the window and the command line, which know no family of their own.
class Catalog {
public:
    Catalog(Program v67, Program v1, DatabaseKind target);

    // A program's operations in button order, built or not.
    const QList<Operation>& operations(Family family) const;
    // A built operation by its command-line name, null when there is none.
    const Operation* find(Family family, const QString& id) const;
    // Every built operation of a program.
    QList<const Operation*> built(Family family) const;
    // The same with one of a program's alternatives, the one that fits the source.
    QList<const Operation*> built(Family family, const QString& sourceUdl) const;
    // The product conversion a source fits: "products" where one fits every source.
    QString products(Family family, const QString& sourceUdl) const;
    // The source kinds of both programs, then the target's, for the link probe.
    QList<DatabaseKind> kinds() const;
    // The operations of `all`, in their order: warehouses, goods areas,
    // categories, suppliers, products (the conversion named by products), stock, members.
    QList<const Operation*> all(Family family, const QString& products) const;
    // The program whose source tables the source holds, when only one
    // program's are there; nothing when the source cannot be opened.
    std::optional<Family> familyOf(const QString& sourceUdl) const;

private:
    const Program& program(Family family) const { return family == Family::V67 ? m_v67 : m_v1; }

    Program m_v67;
    Program m_v1;
    DatabaseKind m_target;
    QList<Operation> m_v67Operations;
    QList<Operation> m_v1Operations;
};

} // namespace shell

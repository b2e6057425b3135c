#pragma once

#include "shell/operation.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

namespace shell {

// Every operation of both programs: each family's conversions in button order,
// then the seven clear operations. Built once above the families and handed to
// the window and the command line, which know no family of their own.
class Catalog {
public:
    Catalog(QList<Operation> v67Conversions, QList<Operation> v1Conversions);

    // A program's operations in button order, built or not.
    const QList<Operation>& operations(Family family) const;
    // A built operation by its command-line name, null when there is none.
    const Operation* find(Family family, const QString& id) const;
    // Every built operation of a program.
    QList<const Operation*> built(Family family) const;
    // The same with one product conversion of v67convert, the one that fits the source.
    QList<const Operation*> built(Family family, const QString& sourceUdl) const;
    // The operations of `all`, in their order: warehouses, goods areas,
    // categories, suppliers, products (the conversion named by products), stock, members.
    QList<const Operation*> all(Family family, const QString& products) const;
    // The program whose source tables the source holds, when only one
    // program's are there; nothing when the source cannot be opened.
    std::optional<Family> familyOf(const QString& sourceUdl) const;

private:
    QList<Operation> m_v67;
    QList<Operation> m_v1;
};

} // namespace shell

#pragma once

#include <QList>
#include <QString>

#include <functional>

namespace shell {

class Run;

enum class Family { V67, V1 };

// One button of the window, one operation of the command line.
struct Operation {
    QString id;            // command-line name: "warehouses", "clear-stock", ...
    QString title;         // button caption, names the operation in messages
    QString completion;    // text of the completion box
    bool needsSource = true;
    std::function<void(Run&)> body;
};

// The operations built so far for a program, in button order.
const QList<Operation>& operations(Family family);
const Operation* findOperation(Family family, const QString& id);

} // namespace shell

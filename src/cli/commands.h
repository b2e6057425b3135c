#pragma once

#include "shell/catalog.h"

#include <QList>
#include <QString>

#include <cstdio>
#include <functional>

namespace shell {
class RunFrame;
}

namespace cli {

// What every command is given: the options and the operations named, resolved.
struct Invocation {
    shell::Family family = shell::Family::V67;
    QString source;
    QString target;
    bool quiet = false;
    QString reportPath;
    QList<const shell::Operation*> operations;
    std::FILE* out = nullptr;
    std::FILE* err = nullptr;
};

// One command of the command line: convert (no command word), check or verify.
class Command {
public:
    virtual ~Command() = default;
    // The word that selects the command, empty for convert.
    virtual QString word() const = 0;
    // Whether at least one operation must be named.
    virtual bool needsOperations() const { return true; }
    // Why an operation named on the command line cannot be given to this command, empty when it can.
    virtual QString refusal(const shell::Operation&, const QString&) const { return {}; }
    virtual int run(const shell::Catalog& catalog, const Invocation& call) const = 0;
};

// Runs the operations in the order given through one run frame, each reconciled after it.
class ConvertCommand : public Command {
public:
    QString word() const override { return {}; }
    int run(const shell::Catalog& catalog, const Invocation& call) const override;

private:
    static int convertAll(const shell::Catalog& catalog, const Invocation& call, shell::RunFrame& frame,
                          const std::function<bool()>& reportFailed);
};

// Probes the tables and columns the operations use, every built one when none is named; writes nothing.
class CheckCommand : public Command {
public:
    QString word() const override { return QStringLiteral("check"); }
    bool needsOperations() const override { return false; }
    int run(const shell::Catalog& catalog, const Invocation& call) const override;
};

// Reconciles the target with the source for the operations named.
class VerifyCommand : public Command {
public:
    QString word() const override { return QStringLiteral("verify"); }
    QString refusal(const shell::Operation& op, const QString& name) const override
    {
        return op.reconciliation.isEmpty() ? QStringLiteral("operation '%1' has nothing to verify").arg(name)
                                           : QString();
    }
    int run(const shell::Catalog& catalog, const Invocation& call) const override;
};

} // namespace cli

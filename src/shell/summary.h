#pragma once

#include "shell/operation.h"
#include "shell/runframe.h"
#include "shell/verify.h"

#include <QStringList>

#include <functional>
#include <future>
#include <memory>

namespace shell {

// What both front ends show after a run: the summary line, the abort line and
// the reconciliation ("核对") lines, each naming the operation.

// "<title>：读取 R 行，写入 W 行，跳过 S 行，T 秒"; a clear operation's "<title>：删除 D 行，T 秒"
QString summaryLine(const Operation& operation, const RunResult& result);
// "<title>：已中断（写入 N 行）", for a walk the abort box ended.
QString abortedLine(const Operation& operation, const RunResult& result);

// A reconciliation's lines, each led by the title and lead ("核对：" after a
// run); problems also carry "问题：". A table that cannot be read is a problem.
struct Reconciled {
    QStringList lines;
    QStringList problems;
};
Reconciled reconciled(const Operation& operation, const std::function<VerifyReport()>& check, const QString& lead);

// The reconciliation of one conversion run: its source side is read on a
// connection of its own while the conversion runs (the conversion only reads
// the source), the target side once the run has ended.
class RunReconciliation {
public:
    // Starts reading at once when the operation has a reconciliation; the
    // target's keys are read before this returns, so before the run writes.
    RunReconciliation(const Operation& operation, const QString& sourceUdl, const QString& targetUdl);
    ~RunReconciliation();
    bool wanted() const { return m_facts.valid(); }
    // After a completed, not aborted run, on the frame's connections.
    Reconciled finish(RunFrame& frame);

private:
    const Operation& m_operation;
    std::future<std::shared_ptr<const SourceFacts>> m_facts;
    std::shared_ptr<const TargetBefore> m_before;
};

} // namespace shell

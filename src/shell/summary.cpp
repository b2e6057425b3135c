#include "shell/summary.h"

#include "textutil/error.h"

#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace shell {

QString summaryLine(const Operation& operation, const RunResult& result)
{
    if (!operation.needsSource) // a clear operation
        return QStringLiteral("%1：删除 %2 行，%3 秒")
            .arg(operation.title)
            .arg(result.rowsDeleted)
            .arg(result.seconds, 0, 'f', 2);
    return QStringLiteral("%1：读取 %2 行，写入 %3 行，跳过 %4 行，%5 秒")
        .arg(operation.title)
        .arg(result.rowsRead)
        .arg(result.rowsWritten)
        .arg(result.rowsSkipped)
        .arg(result.seconds, 0, 'f', 2);
}

QString abortedLine(const Operation& operation, const RunResult& result)
{
    return QStringLiteral("%1：已中断（写入 %2 行）").arg(operation.title).arg(result.rowsWritten);
}

Reconciled reconciled(const Operation& operation, const std::function<VerifyReport()>& check, const QString& lead)
{
    Reconciled out;
    const QString head = operation.title + lead;
    try {
        const VerifyReport report = check();
        for (const QString& line : report.lines)
            out.lines << head + line;
        for (const QString& problem : report.problems)
            out.problems << head + QStringLiteral("问题：") + problem;
    } catch (const belmire::Error& e) {
        out.problems << head + QStringLiteral("问题：") + e.message();
    }
    return out;
}

RunReconciliation::RunReconciliation(const Operation& operation, const QString& sourceUdl, const QString& targetUdl)
    : m_operation(operation)
{
    if (operation.reconciliation.isEmpty())
        return;
    // A target that cannot be read now fails the run itself; then nothing is reconciled.
    try {
        db::Connection target(QStringLiteral("目标"));
        target.open(targetUdl);
        m_before = readTargetBefore(operation, target);
    } catch (const belmire::Error&) {
    }
    m_facts = std::async(std::launch::async, [sourceUdl, &operation] {
        std::shared_ptr<const SourceFacts> facts;
        {
            db::Connection reader(QStringLiteral("源"));
            reader.open(sourceUdl);
            facts = readSourceFacts(operation, reader);
        }
        // The reader's page cache and price table are freed by now, but glibc keeps a thread's freed heap
        // mapped while a later allocation sits above it; handed back here, the run does not carry the
        // megabytes to its end.
#if defined(__GLIBC__)
        malloc_trim(0);
#endif
        return facts;
    });
}

RunReconciliation::~RunReconciliation()
{
    // The reader may still be going when the run failed: wait for it, and drop what it found or threw.
    if (m_facts.valid())
        m_facts.wait();
}

Reconciled RunReconciliation::finish(RunFrame& frame)
{
    if (!m_facts.valid())
        return {};
    return reconciled(
        m_operation,
        [&] { return verify(m_operation, *m_facts.get(), frame.source(), frame.target(), m_before.get()); },
        QStringLiteral("核对："));
}

} // namespace shell

#include "shell/clear.h"

#include "shell/runframe.h"

namespace shell {

Operation clearOperation(const QString& id, const QString& title, const QStringList& tables, const QString& completion)
{
    Operation op;
    op.id = id;
    op.title = title;
    op.completion = completion;
    op.needsSource = false;
    for (const QString& t : tables)
        op.uses << targetUse(t, QString());
    op.body = [tables](Run& run) {
        QStringList statements;
        for (const QString& t : tables) {
            // The rows about to go, for the summary.
            db::Query count(run.targetConnection());
            count.setText(QStringLiteral("select count(*) from %1").arg(t));
            count.open();
            if (count.next())
                run.result().rowsDeleted += count.valueAt(0).toLongLong();
            count.close();
            statements << QStringLiteral("TRUNCATE TABLE %1 ").arg(t);
        }
        run.once(statements);
    };
    return op;
}

} // namespace shell

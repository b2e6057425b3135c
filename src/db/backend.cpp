#include "db/backend.h"

namespace db {

qsizetype Backend::deferredWrites() const { return batch ? batch->size() : pg ? pg->pipeline().size() : 0; }

void Backend::queueWrite(const PgStatement& statement, PgValues values, const QString& table)
{
    pg->pipeline().queue(statement, std::move(values), table, tag, position++);
    if (!deferring)
        flush();
}

void Backend::queueWrite(const odbc::Markers& statement, const std::vector<odbc::Parameter>& values,
                         const QString& table)
{
    batch->queue(statement, values, table, tag, position++);
    if (!deferring)
        flush();
}

void Backend::queueControl(const QString& statement)
{
    if (batch)
        batch->queueControl(statement, tag, position++);
    else
        pg->pipeline().queueSimple(statement.toUtf8(), tag, position++);
}

void Backend::dropRowWrites(int rowTag)
{
    if (batch)
        batch->dropTag(rowTag);
    if (pg)
        pg->pipeline().dropTag(rowTag);
}

void Backend::flush()
{
    // The sent tag is set also when the flush fails: part of that row may have been applied.
    if (batch && !batch->empty()) {
        sentTag = batch->lastTag();
        batch->flush();
    }
    if (!pg || pg->pipeline().empty())
        return;
    sentTag = pg->pipeline().lastTag();
    pg->pipeline().flush();
}

void Backend::discard()
{
    if (pg)
        pg->pipeline().discard();
    if (batch)
        batch->discard();
}

} // namespace db

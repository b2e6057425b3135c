#include "db/deferred_writer.h"

#include "db/backend.h"

namespace db {

size_t DeferredWriter::rowsPerFlush() const { return backendOf(m_connection).rowsPerFlush(); }

qsizetype DeferredWriter::writesPerFlush() const { return backendOf(m_connection).writesPerFlush(); }

void DeferredWriter::setDeferring(bool on)
{
    // A closed connection defers nothing; it opens with writes sent at once.
    if (Backend* backend = backendIfOpen(m_connection))
        backend->deferral().deferring = on;
}

bool DeferredWriter::deferring() const
{
    Backend* backend = backendIfOpen(m_connection);
    return backend && backend->deferral().deferring;
}

void DeferredWriter::setRowTag(int tag)
{
    Deferral& deferral = backendOf(m_connection).deferral();
    deferral.tag = tag;
    deferral.position = 0;
}

int DeferredWriter::positionInRow() const { return backendOf(m_connection).deferral().position; }

qsizetype DeferredWriter::deferredWrites() const
{
    const Backend* backend = backendIfOpen(m_connection);
    return backend ? backend->deferredWrites() : 0;
}

void DeferredWriter::queueControl(const QString& statement) { backendOf(m_connection).queueControl(statement); }

void DeferredWriter::dropRowWrites(int tag)
{
    if (Backend* backend = backendIfOpen(m_connection))
        backend->dropRowWrites(tag);
}

void DeferredWriter::flushDeferred() { backendOf(m_connection).flush(); }

bool DeferredWriter::sentTag(int tag) const
{
    Backend* backend = backendIfOpen(m_connection);
    return backend && backend->deferral().sentTag == tag;
}

} // namespace db

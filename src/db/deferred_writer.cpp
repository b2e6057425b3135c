#include "db/deferred_writer.h"

#include "db/backend.h"

namespace db {

size_t DeferredWriter::rowsPerFlush() const { return backendOf(m_connection).batch ? 1000 : 250; }

qsizetype DeferredWriter::writesPerFlush() const { return backendOf(m_connection).batch ? 5000 : 1000; }

void DeferredWriter::setDeferring(bool on) { backendOf(m_connection).deferring = on; }

bool DeferredWriter::deferring() const { return backendOf(m_connection).deferring; }

void DeferredWriter::setRowTag(int tag)
{
    Backend& backend = backendOf(m_connection);
    backend.tag = tag;
    backend.position = 0;
}

int DeferredWriter::positionInRow() const { return backendOf(m_connection).position; }

qsizetype DeferredWriter::deferredWrites() const { return backendOf(m_connection).deferredWrites(); }

void DeferredWriter::queueControl(const QString& statement) { backendOf(m_connection).queueControl(statement); }

void DeferredWriter::dropRowWrites(int tag) { backendOf(m_connection).dropRowWrites(tag); }

void DeferredWriter::flushDeferred() { backendOf(m_connection).flush(); }

bool DeferredWriter::sentTag(int tag) const { return backendOf(m_connection).sentTag == tag; }

} // namespace db

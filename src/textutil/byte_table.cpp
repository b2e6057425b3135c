#include "textutil/byte_table.h"

#include "textutil/key_hashes.h"

#include <cstdint>
#include <cstring>
#include <stdexcept>

namespace textutil {
namespace {

size_t hashOf(QByteArrayView key) { return size_t(keyHash(key)); }

// Lengths are stored as 4 bytes: a code or an answer is far shorter than 4 GB.
void putLength(std::vector<char>& bytes, qsizetype n)
{
    const auto v = std::uint32_t(n);
    const char* p = reinterpret_cast<const char*>(&v);
    bytes.insert(bytes.end(), p, p + sizeof v);
}

std::uint32_t lengthAt(const char* p)
{
    std::uint32_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

} // namespace

QByteArrayView ByteTable::keyAt(std::uint64_t offset) const
{
    const char* p = m_bytes.data() + offset;
    return QByteArrayView(p + 4, lengthAt(p));
}

size_t ByteTable::find(QByteArrayView key) const
{
    if (m_slots.empty())
        return kNone;
    const size_t mask = m_slots.size() - 1;
    for (size_t i = hashOf(key) & mask;; i = (i + 1) & mask) {
        const std::uint32_t at = m_slots[i];
        if (at == kEmpty)
            return kNone;
        if (keyAt(at - 1) == key)
            return i;
    }
}

std::optional<QByteArrayView> ByteTable::view(QByteArrayView key) const
{
    const size_t slot = find(key);
    if (slot == kNone)
        return std::nullopt;
    const char* p = m_bytes.data() + (m_slots[slot] - 1);
    p += 4 + lengthAt(p);
    return QByteArrayView(p + 4, lengthAt(p));
}

std::optional<QByteArray> ByteTable::value(QByteArrayView key) const
{
    const auto v = view(key);
    return v ? std::optional<QByteArray>(v->toByteArray()) : std::nullopt;
}

void ByteTable::grow()
{
    std::vector<std::uint32_t> wider(m_slots.empty() ? 64 : m_slots.size() * 2, kEmpty);
    const size_t mask = wider.size() - 1;
    for (const std::uint32_t at : m_slots) {
        if (at == kEmpty)
            continue;
        size_t i = hashOf(keyAt(at - 1)) & mask;
        while (wider[i] != kEmpty)
            i = (i + 1) & mask;
        wider[i] = at;
    }
    m_slots.swap(wider);
}

bool ByteTable::insert(QByteArrayView key, QByteArrayView value)
{
    if (find(key) != kNone)
        return false;
    if ((m_count + 1) * 2 > m_slots.size()) // at most half full
        grow();
    const std::uint64_t at = m_bytes.size();
    if (at + 8 + std::uint64_t(key.size()) + std::uint64_t(value.size()) >= std::uint64_t(UINT32_MAX))
        throw std::length_error("ByteTable over 4 GB");
    putLength(m_bytes, key.size());
    m_bytes.insert(m_bytes.end(), key.data(), key.data() + key.size());
    putLength(m_bytes, value.size());
    m_bytes.insert(m_bytes.end(), value.data(), value.data() + value.size());
    const size_t mask = m_slots.size() - 1;
    size_t i = hashOf(key) & mask;
    while (m_slots[i] != kEmpty)
        i = (i + 1) & mask;
    m_slots[i] = std::uint32_t(at + 1);
    ++m_count;
    return true;
}

} // namespace textutil

#include "textutil/key_hashes.h"

#include <functional>
#include <iterator>
#include <string_view>

namespace textutil {

std::uint64_t keyHash(QByteArrayView key)
{
    return std::hash<std::string_view>{}(std::string_view(key.data(), size_t(key.size())));
}

bool HashSet::contains(std::uint64_t hash) const
{
    if (m_slots.empty())
        return false;
    if (hash == 0)
        hash = 1;
    const size_t mask = m_slots.size() - 1;
    for (size_t i = size_t(hash) & mask; m_slots[i] != 0; i = (i + 1) & mask)
        if (m_slots[i] == hash)
            return true;
    return false;
}

void HashSet::insert(std::uint64_t hash)
{
    if (hash == 0)
        hash = 1;
    if (contains(hash))
        return;
    if ((m_count + 1) * 4 > m_slots.size() * 3) {
        std::vector<std::uint64_t> wider(m_slots.empty() ? 1024 : m_slots.size() * 2, 0);
        const size_t mask = wider.size() - 1;
        for (const std::uint64_t h : m_slots)
            if (h != 0) {
                size_t i = size_t(h) & mask;
                while (wider[i] != 0)
                    i = (i + 1) & mask;
                wider[i] = h;
            }
        m_slots.swap(wider);
    }
    const size_t mask = m_slots.size() - 1;
    size_t i = size_t(hash) & mask;
    while (m_slots[i] != 0)
        i = (i + 1) & mask;
    m_slots[i] = hash;
    ++m_count;
}

void SortedHashes::seal()
{
    std::sort(m_hashes.begin(), m_hashes.end());
    m_hashes.erase(std::unique(m_hashes.begin(), m_hashes.end()), m_hashes.end());
    m_hashes.shrink_to_fit();
}

SortedHashes SortedHashes::minus(const SortedHashes& other) const
{
    SortedHashes out;
    std::set_difference(m_hashes.begin(), m_hashes.end(), other.m_hashes.begin(), other.m_hashes.end(),
                        std::back_inserter(out.m_hashes));
    return out;
}

} // namespace textutil

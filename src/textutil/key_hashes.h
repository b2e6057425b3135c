#pragma once

#include <QByteArrayView>

#include <algorithm>
#include <cstdint>
#include <vector>

namespace textutil {

// A 64-bit hash of a byte string. Two different keys share one with odds of
// about one in 10^19 per pair, so a set of hashes stands for a set of keys
// where a rare false "present" is checked or harmless.
std::uint64_t keyHash(QByteArrayView key);

// A set of 64-bit hashes by open addressing: 8 bytes a key, at most three
// quarters full. Hashes are never removed.
class HashSet {
public:
    bool contains(std::uint64_t hash) const;
    void insert(std::uint64_t hash);
    size_t size() const { return m_count; }

private:
    std::vector<std::uint64_t> m_slots; // 0 empty; a hash of 0 is kept as 1
    size_t m_count = 0;
};

// Hashes collected in any order, then sorted, each once: a million keys take
// 8 MB, and two sets are compared in one pass.
class SortedHashes {
public:
    using const_iterator = std::vector<std::uint64_t>::const_iterator;

    void add(std::uint64_t hash) { m_hashes.push_back(hash); }
    // Sorts and drops repeats; add() is not called after.
    void seal();
    bool contains(std::uint64_t hash) const { return std::binary_search(m_hashes.begin(), m_hashes.end(), hash); }
    // The hashes of this set that other lacks.
    SortedHashes minus(const SortedHashes& other) const;
    size_t size() const { return m_hashes.size(); }
    bool empty() const { return m_hashes.empty(); }
    const_iterator begin() const { return m_hashes.begin(); }
    const_iterator end() const { return m_hashes.end(); }

private:
    std::vector<std::uint64_t> m_hashes;
};

} // namespace textutil

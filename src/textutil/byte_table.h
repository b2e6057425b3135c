#pragma once

#include <QByteArray>
#include <QByteArrayView>

#include <cstdint>
#include <optional>
#include <vector>

namespace textutil {

// A set of byte strings, each with an optional byte-string value, packed in one
// buffer: a run keeps hundreds of thousands of codes (duplicate checks, lookup
// answers, reconciliation keys), and a hash node per code would cost several
// times the bytes of the code itself. Entries are never removed.
class ByteTable {
public:
    bool contains(QByteArrayView key) const { return find(key) != kNone; }
    // The value kept with the key, or nothing when the key is not there.
    std::optional<QByteArray> value(QByteArrayView key) const;
    // The same without a copy; valid until the next insert.
    std::optional<QByteArrayView> view(QByteArrayView key) const;
    // Adds the key with its value; false (and nothing changes) when it is there already.
    bool insert(QByteArrayView key, QByteArrayView value = {});
    qsizetype size() const { return qsizetype(m_count); }
    // Every key, in no particular order.
    template <typename Fn>
    void forEachKey(Fn fn) const
    {
        for (const std::uint32_t at : m_slots)
            if (at != kEmpty)
                fn(keyAt(at - 1));
    }

private:
    static constexpr std::uint32_t kEmpty = 0;
    static constexpr size_t kNone = size_t(-1);
    size_t find(QByteArrayView key) const; // slot index or kNone
    QByteArrayView keyAt(std::uint64_t offset) const;
    void grow();

    std::vector<char> m_bytes;         // per entry: key length, key, value length, value
    std::vector<std::uint32_t> m_slots; // offset + 1 into m_bytes, or kEmpty
    size_t m_count = 0;
};

} // namespace textutil

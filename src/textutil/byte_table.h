#pragma once

#include <QByteArray>
#include <QByteArrayView>

#include <cstdint>
#include <cstring>
#include <optional>
#include <type_traits>
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
    // The same for a value of fixed size (numbers, offsets), kept as its bytes.
    template <typename T>
    bool insertAs(QByteArrayView key, const T& value)
    {
        static_assert(std::is_trivially_copyable_v<T>);
        return insert(key, QByteArrayView(reinterpret_cast<const char*>(&value), sizeof value));
    }
    template <typename T>
    std::optional<T> valueAs(QByteArrayView key) const
    {
        static_assert(std::is_trivially_copyable_v<T>);
        const auto v = view(key);
        if (!v || size_t(v->size()) != sizeof(T))
            return std::nullopt;
        T out;
        std::memcpy(&out, v->data(), sizeof out);
        return out;
    }
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

    std::vector<char> m_bytes;          // per entry: key length, key, value length, value
    std::vector<std::uint32_t> m_slots; // offset + 1 into m_bytes, or kEmpty
    size_t m_count = 0;
};

} // namespace textutil

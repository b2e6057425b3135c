#pragma once

#include <QByteArray>

#include <functional>
#include <string_view>
#include <unordered_map>
#include <unordered_set>

// Sets and maps keyed by byte strings (codes, card numbers), hashed with the
// standard library's byte hash: the per-row duplicate checks and lookups hash
// every key, and Qt's seeded hash costs several times more.
namespace textutil {

struct BytesHash {
    size_t operator()(const QByteArray& b) const noexcept
    {
        return std::hash<std::string_view>{}(std::string_view(b.constData(), size_t(b.size())));
    }
};

using ByteSet = std::unordered_set<QByteArray, BytesHash>;
template <typename Value>
using ByteMap = std::unordered_map<QByteArray, Value, BytesHash>;

} // namespace textutil

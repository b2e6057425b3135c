#include "textutil/packed_rows.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

namespace textutil {

PackedRows::Row PackedRows::append(std::span<const QByteArrayView> fields)
{
    std::uint64_t size = m_bytes.size();
    for (const QByteArrayView f : fields)
        size += sizeof(std::uint32_t) + std::uint64_t(f.size());
    if (size >= std::uint64_t(UINT32_MAX))
        throw std::length_error("PackedRows over 4 GB");
    const auto row = Row(m_bytes.size());
    for (const QByteArrayView f : fields) {
        const auto n = std::uint32_t(f.size());
        const char* p = reinterpret_cast<const char*>(&n);
        m_bytes.insert(m_bytes.end(), p, p + sizeof n);
        m_bytes.insert(m_bytes.end(), f.data(), f.data() + f.size());
    }
    return row;
}

QByteArrayView PackedRows::field(Row row, int which) const
{
    const char* p = m_bytes.data() + row;
    std::uint32_t n;
    for (int k = 0;; ++k) {
        std::memcpy(&n, p, sizeof n);
        if (k == which)
            return QByteArrayView(p + sizeof n, n);
        p += sizeof n + n;
    }
}

std::uint32_t KeyNumbers::number(QByteArrayView key)
{
    if (const auto known = find(key))
        return *known;
    const std::uint32_t id = m_count++;
    m_numbers.insertAs(key, id);
    return id;
}

std::optional<std::uint32_t> KeyNumbers::find(QByteArrayView key) const
{
    return m_numbers.valueAs<std::uint32_t>(key);
}

void GroupedRows::group()
{
    // Rows of one key together, each key's in the order added.
    std::stable_sort(m_rows.begin(), m_rows.end(),
                     [this](PackedRows::Row a, PackedRows::Row b) { return field(a, 0) < field(b, 0); });
    for (size_t i = 0; i < m_rows.size();) {
        size_t j = i + 1;
        while (j < m_rows.size() && field(m_rows[j], 0) == field(m_rows[i], 0))
            ++j;
        m_spans.insertAs(field(m_rows[i], 0), Span{std::uint32_t(i), std::uint32_t(j - i)});
        i = j;
    }
}

std::span<const PackedRows::Row> GroupedRows::rowsOf(QByteArrayView key) const
{
    const auto span = m_spans.valueAs<Span>(key);
    if (!span)
        return {};
    return std::span<const PackedRows::Row>(m_rows.data() + span->first, span->count);
}

} // namespace textutil

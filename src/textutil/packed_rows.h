#pragma once

#include "textutil/byte_table.h"

#include <QByteArray>
#include <QByteArrayView>

#include <cstdint>
#include <initializer_list>
#include <optional>
#include <span>
#include <vector>

namespace textutil {

// Rows of byte-string fields in one buffer, each field a 4-byte length and its
// bytes: a whole source table read for the run takes little more than its text.
class PackedRows {
public:
    using Row = std::uint32_t; // where the row starts

    Row append(std::span<const QByteArrayView> fields);
    Row append(std::initializer_list<QByteArrayView> fields) { return append({fields.begin(), fields.size()}); }
    // The field (from 0) of a row; the row must have it.
    QByteArrayView field(Row row, int which) const;
    void shrink() { m_bytes.shrink_to_fit(); }

private:
    std::vector<char> m_bytes;
};

// Byte strings numbered from 0 in the order first added: tables read whole
// share one numbering of their keys, and each keeps its answers by number.
class KeyNumbers {
public:
    // The key's number, given the next one when it is new.
    std::uint32_t number(QByteArrayView key);
    std::optional<std::uint32_t> find(QByteArrayView key) const;

private:
    ByteTable m_numbers; // key -> its number, 4 bytes
    std::uint32_t m_count = 0;
};

// Rows whose first field is their key, collected in any order, then grouped
// once; then each key's rows come in the order they were added.
class GroupedRows {
public:
    void append(std::span<const QByteArrayView> fields) { m_rows.push_back(m_packed.append(fields)); }
    void append(std::initializer_list<QByteArrayView> fields) { m_rows.push_back(m_packed.append(fields)); }
    void group();
    // The rows of a key, read with field().
    std::span<const PackedRows::Row> rowsOf(QByteArrayView key) const;
    QByteArrayView field(PackedRows::Row row, int which) const { return m_packed.field(row, which); }

private:
    PackedRows m_packed;
    std::vector<PackedRows::Row> m_rows; // grouped by key once group() ran
    struct Span {
        std::uint32_t first, count; // in m_rows
    };
    ByteTable m_spans; // key -> its Span
};

} // namespace textutil

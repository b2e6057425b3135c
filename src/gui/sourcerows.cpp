#include "gui/sourcerows.h"

#include "db/connection.h"
#include "db/query.h"
#include "textutil/error.h"
#include "textutil/gbk.h"

#include <algorithm>

namespace gui {
namespace {

// Pages read on the way to the one asked for: rows just above the current row
// of a run, and the rows above a page reached by scrolling back.
constexpr int kPagesBehind = 1;

} // namespace

SourceRowsModel::SourceRowsModel(QString sourceUdl, QObject* parent)
    : QAbstractTableModel(parent), m_sourceUdl(std::move(sourceUdl))
{
}

SourceRowsModel::~SourceRowsModel() { closeCursor(); }

void SourceRowsModel::reset(const QString& select, const QStringList& fields, int total)
{
    beginResetModel();
    closeCursor();
    m_pages.clear();
    m_error.clear();
    m_select = select;
    m_fields = fields;
    m_total = qMax(0, total);
    endResetModel();
}

void SourceRowsModel::closeCursor() const
{
    m_cursor.reset();
    m_position = 0;
    // The connection goes with the cursor: each walk opens the source afresh, as the run does.
    if (m_connection)
        m_connection->close();
    m_connection.reset();
}

int SourceRowsModel::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : m_total; }

int SourceRowsModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : m_fields.size(); }

QVariant SourceRowsModel::data(const QModelIndex& index, int role) const
{
    if (role != Qt::DisplayRole || !index.isValid() || index.row() >= m_total || index.column() >= m_fields.size())
        return {};
    const Page* p = page(index.row() / kPageRows);
    if (!p)
        return {};
    const size_t at = size_t(index.row() % kPageRows);
    return at < p->size() ? (*p)[at].value(index.column()) : QVariant();
}

QVariant SourceRowsModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (role != Qt::DisplayRole)
        return {};
    if (orientation == Qt::Horizontal)
        return m_fields.value(section);
    return section >= 0 && section < m_total ? QVariant(section + 1) : QVariant();
}

const SourceRowsModel::Page* SourceRowsModel::page(int number) const
{
    auto it = m_pages.find(number);
    if (it == m_pages.end()) {
        // A source that cannot be read is not asked again for every cell; the next walk tries anew.
        if (!m_error.isEmpty())
            return nullptr;
        fetch(number);
        it = m_pages.find(number);
        if (it == m_pages.end())
            return nullptr;
    }
    it->second.lastUse = ++m_uses;
    return &it->second.rows;
}

void SourceRowsModel::fetch(int number) const
{
    const int start = number * kPageRows;
    try {
        if (!m_connection) {
            m_connection = std::make_unique<db::Connection>(QStringLiteral("源"));
            m_connection->open(m_sourceUdl);
        }
        const int firstKept = std::max(0, number - kPagesBehind) * kPageRows;
        // Where the server can pass over the rows before a page itself it does,
        // without making them into rows; elsewhere the cursor is read forward to the page.
        const bool offset = m_connection->capabilities().skipsRows;
        if (!m_cursor || m_position > firstKept || (offset && firstKept - m_position > kPageRows)) {
            const int from = offset ? firstKept : 0;
            QString select = m_select.trimmed();
            while (select.endsWith(u';'))
                select.chop(1);
            if (from > 0)
                select = m_connection->forms().skippingRows(select, from);
            m_cursor = std::make_unique<db::Query>(*m_connection);
            m_cursor->setLines({select});
            m_cursor->open();
            m_position = from;
        }
        const int fields = m_fields.size();
        Page rows;
        while (m_position < start + kPageRows) {
            const int pageNumber = m_position / kPageRows;
            const bool wanted = m_position >= firstKept && !m_pages.count(pageNumber);
            if (!m_cursor->next())
                break;
            ++m_position;
            if (!wanted)
                continue;
            QStringList values;
            values.reserve(fields);
            // Shown as the conversions read them: as GBK text, turned back into Unicode.
            for (int i = 0; i < fields; ++i)
                values << gbk::toUnicode(db::variantText(m_cursor->valueAt(i)));
            rows.push_back(std::move(values));
            if (m_position % kPageRows == 0) {
                keep(pageNumber, std::move(rows));
                rows = Page();
            }
        }
        // The source's last page is shorter; a page past the rows it has now stays empty.
        if (!rows.empty())
            keep(m_position / kPageRows, std::move(rows));
        if (!m_pages.count(number))
            keep(number, {});
    } catch (const belmire::Error& e) {
        m_error = e.message();
        m_cursor.reset();
        m_position = 0;
    }
}

void SourceRowsModel::keep(int number, Page rows) const
{
    m_pages[number] = HeldPage{std::move(rows), ++m_uses};
    while (m_pages.size() > size_t(kPagesKept)) {
        auto oldest = m_pages.begin();
        for (auto it = m_pages.begin(); it != m_pages.end(); ++it)
            if (it->second.lastUse < oldest->second.lastUse)
                oldest = it;
        m_pages.erase(oldest);
    }
}

} // namespace gui

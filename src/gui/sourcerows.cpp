#include "gui/sourcerows.h"

#include "db/query.h"
#include "textutil/gbk.h"

namespace gui {

SourceRowsModel::SourceRowsModel(QObject* parent) : QAbstractTableModel(parent) {}

void SourceRowsModel::reset(const QStringList& fields)
{
    beginResetModel();
    m_fields = fields;
    m_rows.clear();
    endResetModel();
}

int SourceRowsModel::append(int index, const QSqlRecord& record)
{
    if (m_rows.size() >= size_t(kMaxRows)) {
        beginRemoveRows({}, 0, 0);
        m_rows.pop_front();
        endRemoveRows();
    }
    Row row{index, {}};
    row.values.reserve(m_fields.size());
    // The record has the row set's fields in column order (names may repeat in a join). Values are shown as the
    // conversions read them: as GBK text, turned back into Unicode.
    for (int i = 0; i < m_fields.size(); ++i)
        row.values << (i < record.count() ? gbk::toUnicode(db::variantText(record.value(i))) : QString());
    const int at = int(m_rows.size());
    beginInsertRows({}, at, at);
    m_rows.push_back(std::move(row));
    endInsertRows();
    return at;
}

int SourceRowsModel::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : int(m_rows.size()); }

int SourceRowsModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : m_fields.size(); }

QVariant SourceRowsModel::data(const QModelIndex& index, int role) const
{
    if (role != Qt::DisplayRole || !index.isValid() || index.row() >= rowCount() || index.column() >= columnCount())
        return {};
    return m_rows[size_t(index.row())].values.value(index.column());
}

QVariant SourceRowsModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (role != Qt::DisplayRole)
        return {};
    if (orientation == Qt::Horizontal)
        return m_fields.value(section);
    if (section < 0 || section >= rowCount())
        return {};
    return m_rows[size_t(section)].index + 1;
}

} // namespace gui

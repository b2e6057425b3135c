#pragma once

#include <QAbstractTableModel>
#include <QSqlRecord>
#include <QStringList>

#include <deque>

namespace gui {

// The source rows of the running walk as the grid shows them: one column per
// source field, one row per row the run frame delivered. The frame delivers
// only the rows at its repaint points, so each row keeps its position in the
// source row set (shown as the row header). Only the newest rows are kept.
class SourceRowsModel : public QAbstractTableModel {
    Q_OBJECT
public:
    static constexpr int kMaxRows = 10000;

    explicit SourceRowsModel(QObject* parent = nullptr);

    // A new row set: its field names become the columns, the rows are dropped.
    void reset(const QStringList& fields);
    // Adds the source row at position index (0-based); returns its model row.
    int append(int index, const QSqlRecord& record);

    // Position in the source row set of a model row.
    int sourceIndex(int row) const { return m_rows.at(size_t(row)).index; }

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

private:
    struct Row {
        int index;
        QStringList values;
    };
    QStringList m_fields;
    std::deque<Row> m_rows;
};

} // namespace gui

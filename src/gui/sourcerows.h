#pragma once

#include <QAbstractTableModel>
#include <QStringList>

#include <map>
#include <memory>
#include <vector>

namespace db {
class Connection;
class Query;
} // namespace db

namespace gui {

// The source rows of a walk as the grid shows them: one column per source
// field, one row per row of the walk's SELECT, the row total known from the
// start. Rows are read from the source on a connection of the model's own, a
// page at a time as the grid asks for them, and only the pages used last are
// kept, so memory stays the same however many rows the walk has. The walk
// itself only reads the source, so the rows are there during and after a run.
class SourceRowsModel : public QAbstractTableModel {
    Q_OBJECT
public:
    static constexpr int kPageRows = 32;
    static constexpr int kPagesKept = 64;

    explicit SourceRowsModel(QString sourceUdl, QObject* parent = nullptr);
    ~SourceRowsModel() override;

    // A new walk: its SELECT, field names and row total. Drops every page.
    void reset(const QString& select, const QStringList& fields, int total);

    int pagesHeld() const { return int(m_pages.size()); }
    // The last failure to read the source, empty when none.
    const QString& readError() const { return m_error; }

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

private:
    using Page = std::vector<QStringList>;
    struct HeldPage {
        Page rows;
        quint64 lastUse = 0;
    };
    const Page* page(int number) const;
    void fetch(int number) const;
    void keep(int number, Page rows) const;
    void closeCursor() const;

    QString m_sourceUdl;
    QString m_select;
    QStringList m_fields;
    int m_total = 0;
    // Reading state: the cursor goes forward only and is opened again for a
    // page behind it.
    mutable std::unique_ptr<db::Connection> m_connection;
    mutable std::unique_ptr<db::Query> m_cursor;
    mutable int m_position = 0; // rows the cursor has passed
    mutable std::map<int, HeldPage> m_pages;
    mutable quint64 m_uses = 0;
    mutable QString m_error;
};

} // namespace gui

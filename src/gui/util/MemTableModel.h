#pragma once
// A data grid over an in-memory table: rows in the table's view order, the
// record being edited shown as it stands, cells edited through the table
// (edit, assign, post), the view's current row kept on the table's cursor.
#include <string>
#include <vector>

#include "util/KvGridModel.h"

class QTableView;

namespace kv {
class MemTable;
class Prompter;
}  // namespace kv

namespace kv::gui {

class MemTableModel : public KvGridModel {
    Q_OBJECT
public:
    // `columns`: the fields shown, in order; empty shows every field.
    MemTableModel(kv::MemTable& table, std::vector<std::string> columns, kv::Prompter* prompter,
                  QObject* parent = nullptr);
    ~MemTableModel() override;

    kv::MemTable& table() { return table_; }
    // The shown fields change (the answer table gets new columns per answer).
    void setColumns(std::vector<std::string> columns);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

    SortableDataset* sortable() override;
    QString fieldName(int column) const override;
    bool isOpen() const override;
    int currentRow() const override;
    void setCurrentRow(int row) override;

    // Keeps `view`'s current row and the table's cursor together both ways.
    void attach(QTableView* view);

signals:
    void cursorMoved(int row);

private:
    void onTableChange(int change);
    std::vector<std::string> shownColumns() const;

    kv::MemTable& table_;
    std::vector<std::string> columns_;
    kv::Prompter* prompter_;
    int listener_ = 0;
    bool moving_ = false;
};

}  // namespace kv::gui

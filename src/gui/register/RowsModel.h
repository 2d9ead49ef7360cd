#pragma once
// A read-only grid over rows already formatted by the window: each cell has
// its display text and a sort key (numbers sort as numbers). Title clicks
// sort it through the shared grid helpers; an empty order is the order the
// rows came in.
#include <QVariant>
#include <vector>

#include "util/KvGridModel.h"

namespace kv::gui {

struct RowsColumn {
    QString field;
    QString title;
    bool number = false;  // right-aligned
};

struct RowsCell {
    QString text;
    QVariant key;  // empty: the text
};

class RowsModel : public KvGridModel, public SortableDataset {
public:
    explicit RowsModel(std::vector<RowsColumn> columns, QObject* parent = nullptr);

    void setRows(std::vector<std::vector<RowsCell>> rows);
    const std::vector<RowsColumn>& columns() const { return columns_; }
    int column(const QString& field) const;
    QString text(int row, int column) const;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QString fieldName(int column) const override;
    QString columnTitle(int column) const override;
    SortableDataset* sortable() override { return this; }

    SortStyle sortStyle() const override { return SortStyle::ThreeStateSql; }
    bool canSort() const override { return true; }
    FieldKind fieldKind(const std::string& field) const override;
    std::string indexFieldNames() const override { return order_; }
    void setIndexFieldNames(const std::string& order) override;
    void first() override { setCurrentRow(0); }

private:
    void applyOrder();

    std::vector<RowsColumn> columns_;
    std::vector<std::vector<RowsCell>> arrived_, rows_;
    std::string order_;
};

}  // namespace kv::gui

#include "register/RowsModel.h"

#include <algorithm>

namespace kv::gui {

RowsModel::RowsModel(std::vector<RowsColumn> columns, QObject* parent)
    : KvGridModel(parent), columns_(std::move(columns)) {}

void RowsModel::setRows(std::vector<std::vector<RowsCell>> rows) {
    beginResetModel();
    arrived_ = std::move(rows);
    applyOrder();
    endResetModel();
    setCurrentRow(0);
}

int RowsModel::column(const QString& field) const {
    for (size_t i = 0; i < columns_.size(); ++i)
        if (columns_[i].field == field) return static_cast<int>(i);
    return -1;
}

QString RowsModel::text(int row, int column) const {
    if (row < 0 || row >= static_cast<int>(rows_.size()) || column < 0 ||
        column >= static_cast<int>(rows_[row].size()))
        return {};
    return rows_[row][column].text;
}

int RowsModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int RowsModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(columns_.size());
}

QVariant RowsModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid()) return {};
    if (role == Qt::DisplayRole) return text(index.row(), index.column());
    if (role == Qt::TextAlignmentRole && columns_[index.column()].number)
        return QVariant::fromValue(Qt::AlignRight | Qt::AlignVCenter);
    return {};
}

QString RowsModel::fieldName(int column) const {
    return column >= 0 && column < static_cast<int>(columns_.size()) ? columns_[column].field : QString();
}

QString RowsModel::columnTitle(int column) const {
    if (column < 0 || column >= static_cast<int>(columns_.size())) return {};
    return columns_[column].title.isEmpty() ? columns_[column].field : columns_[column].title;
}

FieldKind RowsModel::fieldKind(const std::string& field) const {
    return column(QString::fromStdString(field)) >= 0 ? FieldKind::Data : FieldKind::Calculated;
}

void RowsModel::setIndexFieldNames(const std::string& order) {
    beginResetModel();
    order_ = order;
    applyOrder();
    endResetModel();
}

void RowsModel::applyOrder() {
    rows_ = arrived_;
    if (order_.empty()) return;
    QString name = QString::fromStdString(order_);
    const bool desc = name.endsWith(":D");
    if (desc) name.chop(2);
    const int c = column(name);
    if (c < 0) return;
    auto key = [c](const std::vector<RowsCell>& r) {
        const RowsCell& cell = r[c];
        return cell.key.isValid() ? cell.key : QVariant(cell.text);
    };
    std::stable_sort(rows_.begin(), rows_.end(), [&](const auto& a, const auto& b) {
        const auto ka = key(a), kb = key(b);
        const auto cmp = QVariant::compare(desc ? kb : ka, desc ? ka : kb);
        return cmp == QPartialOrdering::Less;
    });
}

}  // namespace kv::gui

#include "util/MemTableModel.h"

#include <QItemSelectionModel>
#include <QTableView>

#include "util/MemTable.h"
#include "util/Prompter.h"

namespace kv::gui {

MemTableModel::MemTableModel(kv::MemTable& table, std::vector<std::string> columns, kv::Prompter* prompter,
                             QObject* parent)
    : KvGridModel(parent), table_(table), columns_(std::move(columns)), prompter_(prompter) {
    listener_ = table_.addChangeListener(
        [this](kv::MemTable&, kv::TableChange c) { onTableChange(static_cast<int>(c)); });
}

MemTableModel::~MemTableModel() { table_.removeChangeListener(listener_); }

void MemTableModel::setColumns(std::vector<std::string> columns) {
    beginResetModel();
    columns_ = std::move(columns);
    resetTitleLooks();
    endResetModel();
}

std::vector<std::string> MemTableModel::shownColumns() const {
    if (!columns_.empty()) return columns_;
    std::vector<std::string> all;
    for (const auto& d : table_.fieldDefs()) all.push_back(d.name);
    return all;
}

int MemTableModel::rowCount(const QModelIndex& parent) const {
    if (parent.isValid() || !table_.active()) return 0;
    int n = static_cast<int>(table_.recordCount());
    return table_.state() == kv::DatasetState::Insert ? n + 1 : n;
}

int MemTableModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(shownColumns().size());
}

QString MemTableModel::fieldName(int column) const {
    auto cols = shownColumns();
    return column >= 0 && column < static_cast<int>(cols.size()) ? QString::fromStdString(cols[column]) : QString();
}

QVariant MemTableModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || (role != Qt::DisplayRole && role != Qt::EditRole) || !table_.active()) return {};
    std::string name = fieldName(index.column()).toStdString();
    auto fi = table_.fieldIndex(name);
    if (!fi) return {};
    int row = index.row();
    bool inserting = table_.state() == kv::DatasetState::Insert;
    // The record being edited or inserted shows its pending values.
    bool pending = (inserting && row == static_cast<int>(table_.recordCount())) ||
                   (table_.state() == kv::DatasetState::Edit && row == static_cast<int>(table_.recordIndex()));
    if (pending) return QString::fromStdString(table_.field(*fi).asString());
    if (row >= static_cast<int>(table_.recordCount())) return {};
    return QString::fromStdString(kv::FieldText(table_.fieldDefs()[*fi], table_.valueAt(row, *fi)));
}

Qt::ItemFlags MemTableModel::flags(const QModelIndex& index) const {
    Qt::ItemFlags f = KvGridModel::flags(index);
    if (!index.isValid()) return f;
    auto fi = table_.fieldIndex(fieldName(index.column()).toStdString());
    if (fi && table_.fieldDefs()[*fi].kind == kv::FieldKind::Data) f |= Qt::ItemIsEditable;
    return f;
}

bool MemTableModel::setData(const QModelIndex& index, const QVariant& value, int role) {
    if (!index.isValid() || role != Qt::EditRole) return false;
    try {
        bool inserting = table_.state() == kv::DatasetState::Insert &&
                         index.row() == static_cast<int>(table_.recordCount());
        if (!inserting && index.row() != static_cast<int>(table_.recordIndex())) table_.moveTo(index.row());
        table_.edit();
        table_.field(fieldName(index.column()).toStdString()).setValue(kv::Value(value.toString().toStdString()));
        table_.post();
        return true;
    } catch (const std::exception& e) {
        table_.cancel();
        if (prompter_) prompter_->message(e.what(), kv::MsgKind::Error);
        return false;
    }
}

kv::SortableDataset* MemTableModel::sortable() { return &table_; }
bool MemTableModel::isOpen() const { return table_.active(); }
int MemTableModel::currentRow() const { return static_cast<int>(table_.recordIndex()); }

void MemTableModel::setCurrentRow(int row) {
    if (!table_.active() || row < 0 || row >= static_cast<int>(table_.recordCount())) return;
    if (row == static_cast<int>(table_.recordIndex()) && !table_.isEditing()) return;
    try {
        table_.moveTo(static_cast<std::size_t>(row));  // posts a pending edit first
    } catch (const std::exception& e) {
        if (prompter_) prompter_->message(e.what(), kv::MsgKind::Error);
    }
}

void MemTableModel::onTableChange(int change) {
    switch (static_cast<kv::TableChange>(change)) {
        case kv::TableChange::Rows:
            beginResetModel();
            endResetModel();
            emit cursorMoved(currentRow());
            break;
        case kv::TableChange::Cursor:
            emit cursorMoved(currentRow());
            break;
        case kv::TableChange::Field: {
            int row = table_.state() == kv::DatasetState::Insert ? static_cast<int>(table_.recordCount()) : currentRow();
            if (row < rowCount()) emit dataChanged(index(row, 0), index(row, columnCount() - 1));
            break;
        }
    }
}

void MemTableModel::attach(QTableView* view) {
    view->setModel(this);
    connect(view->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            [this](const QModelIndex& current) {
                if (moving_ || !current.isValid()) return;
                moving_ = true;
                setCurrentRow(current.row());
                moving_ = false;
            });
    connect(this, &MemTableModel::cursorMoved, view, [this, view](int row) {
        if (moving_ || row < 0 || row >= rowCount()) return;
        moving_ = true;
        int col = std::max(0, view->currentIndex().column());
        view->setCurrentIndex(index(row, col));
        moving_ = false;
    });
}

}  // namespace kv::gui

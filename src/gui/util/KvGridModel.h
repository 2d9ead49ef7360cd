#pragma once
// Base of the models behind Kovira's data grids. The shared grid helpers
// (title-click sort, column auto-fit, the grid tool window) only talk to this
// interface: which field a column shows, whether the data is there, where the
// dataset cursor stands, and how each column title looks.
#include <QAbstractTableModel>
#include <QString>
#include <vector>

#include "util/GridSort.h"

namespace kv::gui {

struct TitleLook {
    TitleColour colour = TitleColour::Plain;
    bool bold = false;

    friend bool operator==(const TitleLook&, const TitleLook&) = default;
};

class KvGridModel : public QAbstractTableModel {
    Q_OBJECT
public:
    using QAbstractTableModel::QAbstractTableModel;

    // The dataset that title clicks sort; nullptr when the grid cannot sort.
    virtual SortableDataset* sortable() { return nullptr; }

    // Name of the field a column is bound to; empty for an unbound column.
    virtual QString fieldName(int column) const = 0;

    // Closed datasets are neither sorted nor measured.
    virtual bool isOpen() const { return true; }

    // The dataset cursor. Models that read through their cursor may move it
    // while the helpers walk the rows; the helpers put it back afterwards.
    virtual int currentRow() const { return currentRow_; }
    virtual void setCurrentRow(int row) { currentRow_ = row; }

    TitleLook titleLook(int column) const;
    void setTitleLook(int column, TitleLook look);
    // Every title back to plain (window-text colour, regular weight).
    void resetTitleLooks();

    // Tells attached views that rows changed order or content.
    void refresh();

    // Horizontal titles: DisplayRole from columnTitle(), ForegroundRole and
    // FontRole from the title look. Derived models that override headerData
    // should fall back to this one.
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

    // Title text of a column; the field name unless a model says otherwise.
    // A title may span lines separated by '\n'.
    virtual QString columnTitle(int column) const { return fieldName(column); }

private:
    std::vector<TitleLook> looks_;
    int currentRow_ = 0;
};

// The colour a title is drawn in.
QColor TitleColourValue(TitleColour colour);

}  // namespace kv::gui

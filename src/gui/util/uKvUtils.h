#pragma once
// Window side of the shared grid utilities: the title-click sort and the
// column auto-fit of the data grids. Both work on grids whose model derives
// from KvGridModel.
class QTableView;

namespace kv::gui {

// Sorts the grid's dataset by the clicked column, cycling its sort states, and
// marks the title: green and bold ascending, red and bold descending, plain
// otherwise. Every other title goes back to plain. Calculated columns, unbound
// columns and closed datasets leave the grid untouched.
void SortByTitle(QTableView* grid, int column);

// Makes a click on a column title call SortByTitle. Safe to call twice.
void InstallTitleSort(QTableView* grid);

// Sets every visible column to the width of its widest title line or display
// text, measured in bold, plus 2 pixels. Large datasets are sampled at both
// ends (see FitSampleRows). Hidden columns and the current row are left as
// they were. Works on plain models too, which then count as open.
void FitGridColumns(QTableView* grid);

}  // namespace kv::gui

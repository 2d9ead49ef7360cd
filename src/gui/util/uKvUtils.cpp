#include "util/uKvUtils.h"

#include <QApplication>
#include <QFontMetrics>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QTableView>
#include <algorithm>
#include <vector>

#include "util/GridFit.h"
#include "util/GridSort.h"
#include "util/KvGridModel.h"

namespace kv::gui {

namespace {

// The view follows the dataset cursor, as a data-aware grid does.
void ShowCursorRow(QTableView* grid, KvGridModel* model)
{
    const int row = model->currentRow();
    if (row < 0 || row >= model->rowCount() || model->columnCount() == 0)
        return;
    int column = grid->currentIndex().isValid() ? grid->currentIndex().column() : 0;
    column = std::clamp(column, 0, model->columnCount() - 1);
    grid->setCurrentIndex(model->index(row, column));
}

// Restores the cursor and the painting of a widget on every way out.
class WaitCursor {
public:
    WaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~WaitCursor() { QApplication::restoreOverrideCursor(); }
    WaitCursor(const WaitCursor&) = delete;
    WaitCursor& operator=(const WaitCursor&) = delete;
};

class UpdatesOff {
public:
    explicit UpdatesOff(QWidget* w) : w_(w), was_(w->updatesEnabled()) { w_->setUpdatesEnabled(false); }
    ~UpdatesOff() { w_->setUpdatesEnabled(was_); }
    UpdatesOff(const UpdatesOff&) = delete;
    UpdatesOff& operator=(const UpdatesOff&) = delete;

private:
    QWidget* w_;
    bool was_;
};

int WidestLine(const QFontMetrics& fm, const QString& text)
{
    int widest = 0;
    const auto lines = QString(text).replace(QLatin1String("\r\n"), QLatin1String("\n")).split(QLatin1Char('\n'));
    for (const auto& line : lines)
        widest = std::max(widest, fm.horizontalAdvance(line));
    return widest;
}

}  // namespace

void SortByTitle(QTableView* grid, int column)
{
    if (!grid)
        return;
    auto* model = qobject_cast<KvGridModel*>(grid->model());
    if (!model || column < 0 || column >= model->columnCount())
        return;
    SortableDataset* ds = model->sortable();
    if (!ds)
        return;

    const SortDecision d = DecideSortByTitle(*ds, model->fieldName(column).toStdString());
    if (!d.act)
        return;

    model->resetTitleLooks();
    ds->setIndexFieldNames(d.order);
    if (d.moveFirst)
        ds->first();
    model->setTitleLook(column, {d.look, d.look != TitleColour::Plain});
    model->refresh();
    ShowCursorRow(grid, model);
}

void InstallTitleSort(QTableView* grid)
{
    if (!grid)
        return;
    static const char* const kInstalled = "kvTitleSortInstalled";
    if (grid->property(kInstalled).toBool())
        return;
    grid->setProperty(kInstalled, true);
    // The dataset does the ordering; the view's own sorting would fight it.
    grid->setSortingEnabled(false);
    QHeaderView* header = grid->horizontalHeader();
    header->setSectionsClickable(true);
    // A title click sorts; it must not also select the column and so move
    // the current record, least of all when the column cannot sort.
    QObject::disconnect(header, SIGNAL(sectionPressed(int)), grid, nullptr);
    QObject::disconnect(header, SIGNAL(sectionEntered(int)), grid, nullptr);
    header->setSortIndicatorShown(false);
    // Bold titles mean "sorted by this column"; the header must not also
    // embolden the title of the column holding the current cell.
    header->setHighlightSections(false);
    QObject::connect(header, &QHeaderView::sectionClicked, grid,
                     [grid](int logical) { SortByTitle(grid, logical); });
}

void FitGridColumns(QTableView* grid)
{
    if (!grid)
        return;
    QAbstractItemModel* model = grid->model();
    if (!model)
        return;
    auto* kvModel = qobject_cast<KvGridModel*>(model);
    if (kvModel && !kvModel->isOpen())
        return;

    WaitCursor wait;
    const int bookmark = kvModel ? kvModel->currentRow() : 0;

    const int columns = model->columnCount();
    std::vector<int> widths(static_cast<std::size_t>(std::max(columns, 0)), 0);
    {
        // Walking the rows may move the cursor; the grid must not repaint for
        // every row it passes.
        UpdatesOff quiet(grid);
        QFont bold = grid->font();
        bold.setBold(true);
        const QFontMetrics fm(bold);
        const std::vector<int> rows = FitSampleRows(model->rowCount());

        for (int c = 0; c < columns; ++c) {
            if (grid->isColumnHidden(c))
                continue;
            int w = WidestLine(fm, model->headerData(c, Qt::Horizontal, Qt::DisplayRole).toString());
            const bool bound = !kvModel || !kvModel->fieldName(c).isEmpty();
            if (bound) {
                for (int r : rows)
                    w = std::max(w, fm.horizontalAdvance(
                                        model->data(model->index(r, c), Qt::DisplayRole).toString()));
            }
            widths[static_cast<std::size_t>(c)] = w;
        }
    }

    {
        UpdatesOff quiet(grid->horizontalHeader());
        for (int c = 0; c < columns; ++c) {
            const int w = widths[static_cast<std::size_t>(c)];
            // The header does not go below its minimum section size, which
            // keeps a title of one or two letters readable.
            if (w != 0)
                grid->setColumnWidth(c, w + 2);
        }
    }

    if (kvModel)
        kvModel->setCurrentRow(bookmark);
}

}  // namespace kv::gui

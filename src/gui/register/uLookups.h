#pragma once
// The invoice page's two lookup windows: "SpisakRacuna" (F11) and
// "Partneri" (F5). Both are made once, then only shown and hidden, and act
// on whatever invoice is current when a button is pressed.
#include <QWidget>
#include <vector>

#include "register/Lookups.h"

class QLineEdit;
class QTableView;
class QAbstractTableModel;

namespace kv {
class AppContext;
}
namespace kv::reg {
class InvoiceEntry;
}

namespace kv::gui {

class RecordGridModel;

class TSpisakRacuna : public QWidget {
    Q_OBJECT
public:
    TSpisakRacuna(kv::AppContext& ctx, kv::reg::InvoiceEntry& entry, QWidget* parent);
    // Reads the work year's invoices again and shows the window.
    void Open();
    void SBLocirajClick();        // F2
    void SBPoveziClick();         // F3
    void SBSpisakRacunaClick();   // F11
    const std::vector<kv::reg::SpisakRow>& rows() const { return rows_; }
    int currentRow() const;

private:
    void showLines();
    kv::AppContext& ctx_;
    kv::reg::InvoiceEntry& entry_;
    std::vector<kv::reg::SpisakRow> rows_;
    std::vector<kv::reg::Record> lineRows_;  // of the selected invoice
    QTableView *grid_ = nullptr, *lines_ = nullptr;
    RecordGridModel *model_ = nullptr, *linesModel_ = nullptr;
};

class TPartneri : public QWidget {
    Q_OBJECT
public:
    TPartneri(kv::AppContext& ctx, kv::reg::InvoiceEntry& entry, QWidget* parent);
    // Empties the filter (all partners) and shows the window, the filter focused.
    void Open();
    void SBPoveziClick();        // F3, Enter in the filter
    void SBSpisakRacunaClick();  // F11
    // Partners shown, in order.
    const std::vector<kv::reg::Record>& shown() const { return shownRows_; }
    const kv::reg::Record* current() const;

protected:
    bool eventFilter(QObject* obj, QEvent* e) override;

private:
    void applyFilter(const QString& text);
    void show(const std::vector<kv::reg::Record>& rows, const std::string& keepCode);
    kv::AppContext& ctx_;
    kv::reg::InvoiceEntry& entry_;
    std::vector<kv::reg::Record> all_, shownRows_;
    QLineEdit* filter_ = nullptr;
    QTableView* grid_ = nullptr;
    RecordGridModel* model_ = nullptr;
    bool preskociFilter_ = false;  // PreskociFilter: the next text change belongs to an arrow key
};

}  // namespace kv::gui

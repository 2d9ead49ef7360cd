#pragma once
// The cash desk tab "Blagajna" and the report tab "Izvještaj" of the main
// window: one record of dates and amount (cdsReport) behind both, the
// device operations through CashDesk, the summary grids and the device's
// invoice list with its recapitulation.
#include <QObject>
#include <memory>

#include "device/CashDesk.h"

class QCheckBox;
class QDateEdit;
class QLabel;
class QLineEdit;
class QTabWidget;
class QTableView;
class QTableWidget;
class QWidget;

namespace kv {
class AppContext;
}

namespace kv::gui {

class TBlagajna : public QObject {
    Q_OBJECT
public:
    // Builds the two pages into `blagajnaPage` and `reportPage`.
    TBlagajna(kv::AppContext& ctx, QWidget* blagajnaPage, QWidget* reportPage, QObject* parent = nullptr);
    ~TBlagajna() override;

    // The record as the controls hold it.
    kv::device::CashDeskForm form() const;
    kv::device::SummaryGrids& grids() { return grids_; }

    // Handlers.
    void BtUlazDepozitaClick();
    void BtIzlazDepozitaClick();
    void BtStanjeBlagajneClick();
    void BtNuliranjeClick();
    void BtPrintPresjekaClick();
    void BtPrintDetaljaClick();
    void BtObradiClick();

private:
    void buildBlagajna(QWidget* page);
    void buildReport(QWidget* page);
    QDateEdit* dateEdit(QWidget* parent, const char* name);
    // Shows the verdict ("Ok" / "Error" and the device's words).
    void tell(const kv::device::CashOutcome& o);
    void showSearch(const kv::device::SearchOutcome& o);
    void fitSummaryGrids();

    kv::AppContext& ctx_;
    kv::device::CashDesk desk_;
    kv::device::SummaryGrids grids_;

    QLineEdit* DBDepozit_ = nullptr;
    QDateEdit *DBOdDatuma_ = nullptr, *DBDoDatuma_ = nullptr;    // on "Blagajna"
    QDateEdit *DBOdDatuma2_ = nullptr, *DBDoDatuma2_ = nullptr;  // on "Izvještaj", the same record
    QCheckBox* CBOdZadnjegPresjeka_ = nullptr;
    QTableView* DBGridBlagajna_ = nullptr;
    QTabWidget* PgPresjekDetalji_ = nullptr;
    QTableView* detailGrids_[5] = {};
    QLabel* LblBlagajna_ = nullptr;
    QTableWidget* DBGPodaci_ = nullptr;
    QTableWidget* DBGRekapitulacija_ = nullptr;
    QLabel* LblObradi_ = nullptr;
};

}  // namespace kv::gui

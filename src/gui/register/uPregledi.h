#pragma once
// The "Pregledi" page of the cash register: a date range, "Prikaži račune",
// and five sub-pages (payment types, cashiers, stock list, merchandise book,
// detailed turnover), each over one overview query of the core. "Obradi"
// runs only the query of the sub-page in view; the others keep what they
// showed last.
#include <QWidget>

#include "register/Overviews.h"

class QButtonGroup;
class QDateEdit;
class QLabel;
class QPushButton;
class QTabWidget;
class QTableView;

namespace kv {
class Prompter;
}

namespace kv::gui {

class RowsModel;

class TPregledi : public QWidget {
    Q_OBJECT
public:
    TPregledi(kv::reg::TDMGlavni& dm, kv::Prompter& prompter, QWidget* parent = nullptr);

    // "Obradi".
    void BtObradiClick();
    kv::reg::DateRange range() const;
    kv::reg::PrikaziRacune selection() const;

private:
    QTableView* addGrid(QWidget* page, const char* name, RowsModel* model, QLabel** footer, const char* caption);
    void showRekNacPl();
    void showRekRadnik();
    void showStanjeZaliha();
    void showTK();
    void showPrometDetaljni();

    kv::reg::TDMGlavni& dm_;
    kv::Prompter& prompter_;
    QDateEdit *OdDatuma_ = nullptr, *DoDatuma_ = nullptr;
    QButtonGroup* RGPrikaziRacune_ = nullptr;
    QPushButton* BtObradi_ = nullptr;
    QTabWidget* PgCtrPregledi_ = nullptr;
    QWidget *TabNacinPlacanja_ = nullptr, *TabPrometRadnika_ = nullptr, *TabStanjeZaliha_ = nullptr, *TabTK_ = nullptr,
            *TabPrometDetaljni_ = nullptr;
    RowsModel *nacPl_ = nullptr, *radnik_ = nullptr, *zalihe_ = nullptr, *tk_ = nullptr, *detaljni_ = nullptr;
    QLabel *LblUkupnoNacPl_ = nullptr, *LblUkupnoRadnik_ = nullptr, *LblUkupnaVrijednost_ = nullptr;
};

}  // namespace kv::gui

#pragma once
// The "Ulazi" page of the cash register: the receipts of the work year
// (newest first, edited in place, with the levelling mark), the line panel
// with its Enter flow and two article pickers, the lines and "Ukupno ulaz".
// Every rule lives in register/GoodsReceipts; this page only shows and routes.
#include <QWidget>
#include <functional>
#include <optional>
#include <vector>

#include "register/GoodsReceipts.h"
#include "util/DateTime.h"

class QComboBox;
class QLabel;
class QLineEdit;
class QTableView;
class QToolBar;

namespace kv {
class Prompter;
}

namespace kv::gui {

class UlaziModel;
class RowsModel;
class ArtiklListModel;

class TUlazi : public QWidget {
    Q_OBJECT
public:
    // `workDate` gives the register's work date (its year is the work year).
    TUlazi(kv::reg::TDMGlavni& dm, kv::Prompter& prompter, std::function<kv::DateTime()> workDate,
           QWidget* parent = nullptr);
    ~TUlazi() override;

    // Reopens the receipts of the work year on the newest one, and the article list.
    void Reload();

    // The tool bar: each acts on the receipts grid or on the line panel,
    // whichever had the focus last.
    void First();
    void Prior();
    void Next();
    void Last();
    void Insert();
    void Post();
    void Cancel();
    void Delete();

    // State, for the tests.
    bool lineEditing() const { return line_.has_value(); }
    int currentReceipt() const;

protected:
    bool eventFilter(QObject* obj, QEvent* e) override;

private:
    enum class Area { Receipts, Lines };
    void receiptChanged();
    void showLines();
    void showLine();
    void lineFromEdits();
    bool levelling() const;
    const kv::reg::Record* receipt() const;
    void beginLine();  // insert on the line panel
    bool postLine();
    void enterPressed(QWidget* w);
    void focusField(QWidget* w);
    void pick(QComboBox* combo, int row);
    void pickerEntered(QComboBox* combo);
    void pickerLeft(QComboBox* combo);
    void insertReceipt();
    void deleteReceipt();
    void report(const std::exception& e);

    kv::reg::TDMGlavni& dm_;
    kv::Prompter& prompter_;
    std::function<kv::DateTime()> workDate_;
    Area area_ = Area::Receipts;

    kv::reg::ArtiklPicker picker_;
    std::vector<kv::reg::Record> lines_;
    std::optional<kv::reg::Record> line_;  // the line being inserted or edited

    QToolBar* TbUlazi_ = nullptr;
    QTableView* DBGridUlazi_ = nullptr;
    QTableView* DBGridStavkeUlaz_ = nullptr;
    UlaziModel* ulazi_ = nullptr;
    RowsModel* stavke_ = nullptr;
    ArtiklListModel *byCode_ = nullptr, *byName_ = nullptr;
    QLineEdit *StavkeUlazBroj_ = nullptr, *StavkeUlazOpis_ = nullptr, *StavkeUlazKol_ = nullptr,
              *StavkeUlazCijena_ = nullptr, *StavkeUlazStaraCijena_ = nullptr, *StavkeUlazIznos_ = nullptr;
    QComboBox *StavkeUlazSifra_ = nullptr, *StavkeUlazNaziv_ = nullptr;
    QLabel *LblStaraCijena_ = nullptr, *LblUkupnoUlaz_ = nullptr;
    bool loadingPicker_ = false;
};

}  // namespace kv::gui

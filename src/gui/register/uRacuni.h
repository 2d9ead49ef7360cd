#pragma once
// The invoice page "Računi" of the cash register: the work date and cashier,
// the invoice header, the four article searches over the article list, the
// line fields and grid, and the command bar. A view over reg::InvoiceEntry;
// the keys F2 .. F11 and the numeric pad reach it through the main window,
// which presses the command bar's buttons.
#include <QPointer>
#include <cstdint>
#include <QWidget>
#include <memory>

class QButtonGroup;
class QComboBox;
class QDateEdit;
class QLabel;
class QLineEdit;
class QTableView;
class QToolButton;
class QDialog;

namespace kv {
class AppContext;
namespace reg {
class InvoiceEntry;
enum class Focus;
}  // namespace reg
}  // namespace kv

namespace kv::gui {

class RecordBinder;
class ArticleModel;
class LinesModel;
class TPopust;
class TSpisakRacuna;
class TPartneri;

class TRacuni : public QWidget {
    Q_OBJECT
public:
    TRacuni(kv::AppContext& ctx, RecordBinder& kasaBaf, QWidget* parent);
    ~TRacuni() override;

    // Once the settings and the cashier are in: the year's invoices and the
    // article list are read.
    void StartUp();
    kv::reg::InvoiceEntry* entry() { return entry_.get(); }

    // Controls the main window lays out and configures at start-up.
    QDateEdit* DatumRada = nullptr;
    QComboBox* DBKasir = nullptr;
    QWidget* searchPanel = nullptr;
    QLineEdit *LEBarkod = nullptr, *LESifra = nullptr, *LENaziv = nullptr, *LEOpis = nullptr;
    QLabel* LblOpis = nullptr;
    QLineEdit *DBOpis = nullptr, *DBKol = nullptr, *DBCijena = nullptr, *DBIznos = nullptr, *DBZalihe = nullptr;
    QLabel* LblNaStanju = nullptr;

    // Command bar.
    void SBNoviRacunClick();
    void SBStornoRacClick();
    void SBPotvrdiRacunClick();
    void SBBrisiRacunClick();
    void SBPlacanjeClick();
    void SBPlacenoClick();
    void SBPrintRacunClick();
    void SBRabatClick();
    void SBKupacClick();         // F5: the partner window
    void SBSpisakRacunaClick();  // F11: the invoice list
    TSpisakRacuna* spisakRacuna() const;
    TPartneri* partneri() const;
    void SBDodajStClick();
    void SBBrisiStClick();
    void SBPutaKolClick();
    void SBKolRucnoClick();
    // The hand-off with its waiting notice.
    void PrintFisk();

protected:
    bool eventFilter(QObject* obj, QEvent* e) override;

private:
    void build();
    void buildHeader(QWidget* box);
    void refresh();
    void refreshLineFields();
    void focus(kv::reg::Focus f);
    QWidget* firstSearch() const;
    void headerEdited(int field, const QString& text);
    void postHeader();

    kv::AppContext& ctx_;
    RecordBinder& kasaBaf_;
    std::unique_ptr<kv::reg::InvoiceEntry> entry_;
    ArticleModel* articleModel_ = nullptr;
    LinesModel* linesModel_ = nullptr;
    QTableView *DBGridArtikli_ = nullptr, *DBGridStavkeRac_ = nullptr;
    QLineEdit *EdStatus_ = nullptr, *RacunBroj_ = nullptr, *RacunDatum_ = nullptr, *RacunStatus_ = nullptr,
              *RacunStorno_ = nullptr, *DBPFRBROJ_ = nullptr, *DBPFRTIME_ = nullptr, *DBRefDN_ = nullptr,
              *DBRefDT_ = nullptr, *DBPartnerNaziv_ = nullptr, *RacunKupac_ = nullptr, *RacunKupacOrgj_ = nullptr,
              *Popust_ = nullptr, *Operater_ = nullptr, *DBPlaceno_ = nullptr, *EdKusur_ = nullptr;
    QComboBox *RacunNcPLopis_ = nullptr, *DBLPartnerSifra_ = nullptr;
    QLabel *LblNacPlOpis_ = nullptr, *DBUkupnoRac_ = nullptr, *DBUkupnoRac1_ = nullptr;
    QButtonGroup* RGTipRacuna_ = nullptr;
    QPointer<TPopust> popust_;
    QPointer<TSpisakRacuna> spisak_;
    QPointer<TPartneri> partneri_;
    bool refreshing_ = false;
    std::uint64_t shownArticles_ = ~std::uint64_t(0);  // version of the article list on screen
    bool preskociFilter_ = false;  // PreskociFilter: the next filter change is an arrow key's
};

// "Popust": the discount cards and their discounts; "F3 obračunaj" applies
// the selected card to the current invoice.
class TPopust : public QWidget {
    Q_OBJECT
public:
    TPopust(kv::AppContext& ctx, kv::reg::InvoiceEntry& entry, QWidget* parent);
    void Reload();
    void SBPoveziClick();

private:
    void showDiscounts();
    kv::AppContext& ctx_;
    kv::reg::InvoiceEntry& entry_;
    QTableView *cards_ = nullptr, *discounts_ = nullptr;
};

}  // namespace kv::gui

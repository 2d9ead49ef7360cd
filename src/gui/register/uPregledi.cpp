#include "register/uPregledi.h"

#include <QApplication>
#include <QButtonGroup>
#include <QDateEdit>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTabWidget>
#include <QTableView>
#include <QVBoxLayout>

#include "platform/Platform.h"
#include "register/RowsModel.h"
#include "util/FormBuilders.h"
#include "util/Prompter.h"
#include "util/uKvUtils.h"

namespace kv::gui {

namespace reg = kv::reg;

namespace {
QString Q(const std::string& s) { return QString::fromStdString(s); }
char Sep() { return kv::platform::DecimalSeparator(); }
RowsCell Money(Currency v) { return {Q(reg::FormatIznos(v, Sep())), QVariant::fromValue<qlonglong>(v.raw())}; }
RowsCell Qty(Currency v) { return {Q(reg::FormatKolicina(v, Sep())), QVariant::fromValue<qlonglong>(v.raw())}; }
RowsCell Int(std::int64_t v) { return {QString::number(v), QVariant::fromValue<qlonglong>(v)}; }
RowsCell Date(const std::string& iso) { return {Q(reg::FormatDatum(iso)), Q(iso)}; }
RowsCell Text(const std::string& s) { return {Q(s)}; }

std::optional<kv::DateTime> FromQDate(const QDate& d) {
    if (!d.isValid()) return std::nullopt;
    return kv::DateTime::fromParts(d.year(), d.month(), d.day());
}

// The hourglass while a query runs, restored however it ends.
struct WaitCursor {
    WaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~WaitCursor() { QApplication::restoreOverrideCursor(); }
};
}  // namespace

TPregledi::TPregledi(kv::reg::TDMGlavni& dm, kv::Prompter& prompter, QWidget* parent)
    : QWidget(parent), dm_(dm), prompter_(prompter) {
    setObjectName("Pregledi");
    auto* v = new QVBoxLayout(this);
    v->setContentsMargins(2, 2, 2, 2);
    auto* head = new QHBoxLayout();
    v->addLayout(head);
    auto date = [&](const char* name, const char* caption) {
        head->addWidget(new QLabel(QString::fromUtf8(caption), this));
        auto* d = new QDateEdit(QDate::currentDate(), this);
        d->setObjectName(name);
        d->setDisplayFormat("dd.MM.yyyy");
        d->setCalendarPopup(true);
        head->addWidget(d);
        return d;
    };
    OdDatuma_ = date("OdDatuma", "Od datuma");
    DoDatuma_ = date("DoDatuma", "Do datuma");

    auto* rg = new QGroupBox(QString::fromUtf8("Prikaži račune"), this);
    rg->setObjectName("RGPrikaziRacune");
    RGPrikaziRacune_ = RadioGroup(rg, InOrder({"Sve", "Neprenesene"}), {.columns = 2, .nameButtons = true});
    RGPrikaziRacune_->button(0)->setChecked(true);
    head->addWidget(rg);
    BtObradi_ = new QPushButton("Obradi", this);
    BtObradi_->setObjectName("BtObradi");
    connect(BtObradi_, &QPushButton::clicked, this, [this] { BtObradiClick(); });
    head->addWidget(BtObradi_);
    head->addStretch(1);

    PgCtrPregledi_ = new QTabWidget(this);
    PgCtrPregledi_->setObjectName("PgCtrPregledi");
    v->addWidget(PgCtrPregledi_, 1);
    auto page = [&](const char* name, const char* caption) {
        auto* w = new QWidget(PgCtrPregledi_);
        w->setObjectName(name);
        PgCtrPregledi_->addTab(w, QString::fromUtf8(caption));
        return w;
    };
    TabNacinPlacanja_ = page("TabNacinPlacanja", "Način plaćanja");
    TabPrometRadnika_ = page("TabPrometRadnika", "Promet radnika");
    TabStanjeZaliha_ = page("TabStanjeZaliha", "Stanje zaliha");
    TabTK_ = page("TabTK", "Trgovačka knjiga");
    TabPrometDetaljni_ = page("TabPrometDetaljni", "Promet detaljni");

    nacPl_ = new RowsModel({{"NP", "NP"}, {"Opis", "Opis"}, {"Iznos", "Iznos", true}}, this);
    addGrid(TabNacinPlacanja_, "DBGridRekNacPl", nacPl_, &LblUkupnoNacPl_, "Ukupno");
    radnik_ = new RowsModel({{"Radnik", "Radnik"}, {"Iznos", "Iznos", true}}, this);
    addGrid(TabPrometRadnika_, "DBGridRekRadnik", radnik_, &LblUkupnoRadnik_, "Ukupno");
    zalihe_ = new RowsModel({{"Sifra", "Sifra"},
                             {"Naziv", "Naziv"},
                             {"Ulaz", "Ulaz", true},
                             {"Izlaz", "Izlaz", true},
                             {"Stanje", "Stanje", true},
                             {"Cijena", "Cijena", true},
                             {"Vrijednost", "Vrijednost", true}},
                            this);
    InstallTitleSort(addGrid(TabStanjeZaliha_, "DBGridStanjeZaliha", zalihe_, &LblUkupnaVrijednost_,
                             "Ukupna vrijednost"));
    tk_ = new RowsModel({{"RowNum", "R.Br.", true},
                         {"Datum", "Datum"},
                         {"Broj", "Broj", true},
                         {"Opis", "Opis"},
                         {"Zaduzenje", "Zaduzenje", true},
                         {"Razduzenje", "Razduzenje", true}},
                        this);
    addGrid(TabTK_, "DBGridTK", tk_, nullptr, nullptr);
    detaljni_ = new RowsModel({{"Datum", "Datum"},
                               {"Broj", "Broj", true},
                               {"Stavka", "Stavka", true},
                               {"Artikl", "Artikl"},
                               {"Opis", "Opis"},
                               {"KolIzlaz", "KolIzlaz", true},
                               {"Cijena", "Cijena", true},
                               {"Iznos", "Iznos", true},
                               {"PargBroj", "Server Rn", true},
                               {"Radnik", "Radnik"},
                               {"Kupac", "Kupac"},
                               {"KupacOrgj", "KupacOrgj"},
                               {"NP", "NP"},
                               {"PFRBROJ", "PFRBROJ"},
                               {"Barkod", "Barkod"}},
                              this);
    QTableView* det = addGrid(TabPrometDetaljni_, "DBGridPrometDetaljni", detaljni_, nullptr, nullptr);
    for (int c = 9; c < 15; ++c) det->setColumnHidden(c, true);
}

QTableView* TPregledi::addGrid(QWidget* page, const char* name, RowsModel* model, QLabel** footer,
                               const char* caption) {
    auto* v = new QVBoxLayout(page);
    v->setContentsMargins(0, 0, 0, 0);
    auto* g = new QTableView(page);
    g->setObjectName(name);
    g->setModel(model);
    g->setEditTriggers(QAbstractItemView::NoEditTriggers);
    g->setSelectionBehavior(QAbstractItemView::SelectRows);
    g->verticalHeader()->hide();
    v->addWidget(g, 1);
    if (footer) {
        auto* f = new QHBoxLayout();
        f->addStretch(1);
        f->addWidget(new QLabel(QString::fromUtf8(caption), page));
        *footer = new QLabel(page);
        (*footer)->setObjectName(QString("Lbl") + name + "Ukupno");
        (*footer)->setMinimumWidth(110);
        (*footer)->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        QFont b = (*footer)->font();
        b.setBold(true);
        (*footer)->setFont(b);
        f->addWidget(*footer);
        v->addLayout(f);
    }
    return g;
}

kv::reg::DateRange TPregledi::range() const { return {FromQDate(OdDatuma_->date()), FromQDate(DoDatuma_->date())}; }

kv::reg::PrikaziRacune TPregledi::selection() const {
    return RGPrikaziRacune_->checkedId() == 1 ? reg::PrikaziRacune::Neprenesene : reg::PrikaziRacune::Sve;
}

void TPregledi::BtObradiClick() {
    WaitCursor wait;
    QWidget* page = PgCtrPregledi_->currentWidget();
    try {
        if (page == TabNacinPlacanja_) showRekNacPl();
        else if (page == TabPrometRadnika_) showRekRadnik();
        else if (page == TabStanjeZaliha_) showStanjeZaliha();
        else if (page == TabTK_) showTK();
        else if (page == TabPrometDetaljni_) showPrometDetaljni();
    } catch (const std::exception& e) {
        prompter_.message(e.what(), kv::MsgKind::Error);
        return;
    }
    if (auto* g = page->findChild<QTableView*>()) g->resizeColumnsToContents();
}

void TPregledi::showRekNacPl() {
    auto r = reg::RekNacPl(dm_, range(), selection());
    std::vector<std::vector<RowsCell>> rows;
    for (const auto& x : r.rows) rows.push_back({Text(x.NP), Text(x.Opis), Money(x.Iznos)});
    nacPl_->setRows(std::move(rows));
    LblUkupnoNacPl_->setText(Q(reg::FormatIznos(r.Ukupno, Sep())));
}

void TPregledi::showRekRadnik() {
    auto r = reg::RekRadnik(dm_, range(), selection());
    std::vector<std::vector<RowsCell>> rows;
    for (const auto& x : r.rows) rows.push_back({Text(x.Radnik), Money(x.Iznos)});
    radnik_->setRows(std::move(rows));
    LblUkupnoRadnik_->setText(Q(reg::FormatIznos(r.Ukupno, Sep())));
}

void TPregledi::showStanjeZaliha() {
    auto r = reg::StanjeZaliha(dm_, range());
    std::vector<std::vector<RowsCell>> rows;
    rows.reserve(r.rows.size());
    for (const auto& x : r.rows)
        rows.push_back({Text(x.Sifra), Text(x.Naziv), Qty(x.Ulaz), Qty(x.Izlaz), Qty(x.Stanje), Money(x.Cijena),
                        Money(x.Vrijednost)});
    zalihe_->setRows(std::move(rows));
    LblUkupnaVrijednost_->setText(Q(reg::FormatIznos(r.Ukupno, Sep())));
}

void TPregledi::showTK() {
    auto r = reg::TK(dm_, range());
    std::vector<std::vector<RowsCell>> rows;
    for (const auto& x : r)
        rows.push_back({Int(x.RowNum), Date(x.Datum), x.Broj ? Int(*x.Broj) : RowsCell{}, Text(x.Opis.value_or("")),
                        Money(x.Zaduzenje), Money(x.Razduzenje)});
    tk_->setRows(std::move(rows));
}

void TPregledi::showPrometDetaljni() {
    auto r = reg::PrometDetaljni(dm_, range(), selection());
    std::vector<std::vector<RowsCell>> rows;
    rows.reserve(r.size());
    for (const auto& x : r)
        rows.push_back({Date(x.Datum), Int(x.Broj), Int(x.Stavka), Text(x.Artikl), Text(x.Opis), Qty(x.KolIzlaz),
                        Money(x.Cijena), Money(x.Iznos), x.PargBroj ? Int(*x.PargBroj) : RowsCell{}, Text(x.Radnik),
                        Text(x.Kupac), Text(x.KupacOrgj), Text(x.NP), Text(x.PFRBROJ), Text(x.Barkod)});
    detaljni_->setRows(std::move(rows));
}

}  // namespace kv::gui

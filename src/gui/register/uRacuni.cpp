#include "register/uRacuni.h"
#include "register/uLookups.h"

#include <QAbstractTableModel>
#include <QApplication>
#include <QButtonGroup>
#include <QComboBox>
#include <QDateEdit>
#include <QFont>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableView>
#include <QToolButton>
#include <QVBoxLayout>

#include "app/AppContext.h"
#include "app/ShellRules.h"
#include "app/RecordBinder.h"
#include "platform/Platform.h"
#include "register/HandOff.h"
#include "register/InvoiceEntry.h"
#include "register/RegisterTexts.h"
#include "register/uDMGlavni.h"
#include "register/uLogin.h"
#include "util/FormBuilders.h"
#include "util/Prompter.h"
#include "util/uProgress.h"

namespace kv::gui {

using kv::reg::Focus;
using kv::reg::HeaderField;

namespace {
QString Q(const std::string& s) { return QString::fromStdString(s); }
std::string S(const QString& s) { return s.toStdString(); }

QString Money(std::optional<Currency> v) {
    return v ? Q(FormatTotal(*v, platform::DecimalSeparator())) : QString();
}

// "###,##0.00##": two decimals at least, four at most.
QString Stock(std::optional<Currency> v) {
    if (!v) return QString();
    QString s = Money(RoundCurr(-2, *v));
    const std::int64_t rest = std::abs(v->raw() % 100);
    if (rest != 0) {
        s = Money(Currency::fromRaw(v->raw() - v->raw() % 100));
        s += rest % 10 ? QString("%1").arg(rest, 2, 10, QChar('0')) : QString::number(rest / 10);
    }
    return s;
}

QString Plain(std::optional<Currency> v) {
    return v ? Q(LocaleNumberText(*v, platform::DecimalSeparator())) : QString();
}

std::optional<Currency> Parse(const QString& t) {
    return ParseCurrencyWithRetry(S(t.trimmed()), platform::DecimalSeparator());
}

void Paint(QLineEdit* e, std::optional<unsigned> colour) {
    QPalette p = e->palette();
    p.setColor(QPalette::Base, colour ? QColor::fromRgb(*colour) : e->style()->standardPalette().color(QPalette::Base));
    e->setPalette(p);
}

QLineEdit* Edit(QWidget* parent, const char* name, bool readOnly = false, int width = 0) {
    auto* e = new QLineEdit(parent);
    e->setObjectName(name);
    e->setReadOnly(readOnly);
    if (readOnly) e->setFocusPolicy(Qt::ClickFocus);
    if (width) e->setFixedWidth(width);
    return e;
}

void Grey(QLineEdit* e) {
    e->setReadOnly(true);
    e->setBackgroundRole(QPalette::Button);
    QPalette p = e->palette();
    p.setColor(QPalette::Base, p.color(QPalette::Button));
    e->setPalette(p);
}
}  // namespace

// ---------------------------------------------------------------- models

class ArticleModel : public QAbstractTableModel {
public:
    ArticleModel(kv::reg::ArticleList& list, QObject* parent) : QAbstractTableModel(parent), list_(list) {}
    int rowCount(const QModelIndex& = {}) const override { return static_cast<int>(list_.size()); }
    int columnCount(const QModelIndex& = {}) const override { return 4; }
    QVariant data(const QModelIndex& i, int role) const override {
        if (role != Qt::DisplayRole || !i.isValid()) return {};
        const auto& r = list_.at(i.row());
        switch (i.column()) {
            case 0: return Q(r.Sifra);
            case 1: return Q(r.Barkod);
            case 2: return Q(r.Naziv);
            default: return Money(r.Cijena);
        }
    }
    QVariant headerData(int s, Qt::Orientation o, int role) const override {
        if (role != Qt::DisplayRole || o != Qt::Horizontal) return {};
        static const char* titles[] = {"Sifra", "Barkod", "Naziv", "Cijena"};
        return titles[s];
    }
    void reset() {
        beginResetModel();
        endResetModel();
    }

private:
    kv::reg::ArticleList& list_;
};

class LinesModel : public QAbstractTableModel {
public:
    LinesModel(kv::reg::InvoiceEntry& e, QObject* parent) : QAbstractTableModel(parent), e_(e) {}
    int rowCount(const QModelIndex& = {}) const override { return static_cast<int>(e_.lines().size()); }
    int columnCount(const QModelIndex& = {}) const override { return 8; }
    QVariant data(const QModelIndex& i, int role) const override {
        if (!i.isValid()) return {};
        if (role == Qt::FontRole && (i.column() == 3 || i.column() == 6)) {
            QFont f;
            f.setBold(true);
            return f;
        }
        if (role == Qt::TextAlignmentRole && i.column() >= 4 && i.column() <= 6)
            return int(Qt::AlignRight | Qt::AlignVCenter);
        if (role != Qt::DisplayRole) return {};
        const auto& l = e_.lines()[i.row()];
        switch (i.column()) {
            case 0: return l.integer("Stavka") ? QVariant(qlonglong(*l.integer("Stavka"))) : QVariant();
            case 1: return Q(l.text("Artikl"));
            case 2: return Q(l.text("BarKod"));
            case 3: return Q(l.text("Opis"));
            case 4: return Plain(l.decimal("KolIzlaz"));
            case 5: return Money(l.decimal("Cijena"));
            case 6: return Money(l.decimal("Iznos"));
            default: return Q(l.text("Tarifa"));
        }
    }
    QVariant headerData(int s, Qt::Orientation o, int role) const override {
        if (role != Qt::DisplayRole || o != Qt::Horizontal) return {};
        static const char* titles[] = {"Stavka", "Artikl", "BarKod", "Opis", "KolIzlaz", "Cijena", "Iznos", "Tarifa"};
        return titles[s];
    }
    void reset() {
        beginResetModel();
        endResetModel();
    }

private:
    kv::reg::InvoiceEntry& e_;
};

// ---------------------------------------------------------------- page

TRacuni::TRacuni(kv::AppContext& ctx, RecordBinder& kasaBaf, QWidget* parent)
    : QWidget(parent), ctx_(ctx), kasaBaf_(kasaBaf) {
    setObjectName("PanelRacuni");
    if (ctx_.db()) {
        entry_ = std::make_unique<kv::reg::InvoiceEntry>(*ctx_.db(), ctx_.settings.KasaBaf, ctx_.prompter);
        entry_->onBeep = [] { QApplication::beep(); };
        entry_->showLogin = [this] { return ShowLogin(ctx_, window()); };
        entry_->onChanged = [this] { refresh(); };
    }
    build();
    QPointer<TRacuni> self(this);
    ctx_.hooks.cancelLinesEdit.push_back([self] {
        if (self && self->entry_) self->entry_->CancelLine();
    });
    // A new work year reopens its invoices.
    auto previous = ctx_.settings.onWorkYearChanged;
    ctx_.settings.onWorkYearChanged = [self, previous](int y) {
        if (previous) previous(y);
        if (self && self->entry_) self->entry_->OpenYear();
    };
}

TRacuni::~TRacuni() = default;

void TRacuni::StartUp() {
    if (!entry_) return;
    entry_->articles().Load(*ctx_.db());
    articleModel_->reset();
    RacunNcPLopis_->clear();
    for (const auto& p : ctx_.db()->NacPl())
        RacunNcPLopis_->addItem(Q(p.text("Opis") + "  " + p.text("Sifra")), Q(p.text("Sifra")));
    DBLPartnerSifra_->clear();
    DBLPartnerSifra_->addItem(QString(), QString());
    for (const auto& p : ctx_.db()->Partner())
        DBLPartnerSifra_->addItem(Q(p.text("PARTNERSIFRA") + "  " + p.text("PARTNERNAZIV")), Q(p.text("PARTNERSIFRA")));
    if (ctx_.settings.KasaBaf.integer("Server") == 1) Grey(DBOpis), Grey(DBCijena);
    entry_->OpenYear();
}

void TRacuni::build() {
    auto* v = new QVBoxLayout(this);
    v->setContentsMargins(2, 2, 2, 2);
    v->setSpacing(3);

    auto* head = new QHBoxLayout();
    head->addWidget(new QLabel("Datum rada", this));
    DatumRada = new QDateEdit(this);
    DatumRada->setObjectName("DatumRada");
    DatumRada->setDisplayFormat("dd.MM.yyyy");
    kasaBaf_.bindDateEdit(DatumRada, "Datum");
    head->addWidget(DatumRada);
    head->addWidget(new QLabel("Kasir", this));
    DBKasir = new QComboBox(this);
    DBKasir->setObjectName("DBKasir");
    DBKasir->setMinimumWidth(160);
    head->addWidget(DBKasir);
    EdStatus_ = Edit(this, "EdStatus", true, 60);
    head->addWidget(EdStatus_);
    head->addStretch();
    v->addLayout(head);

    auto* headerBox = new QGroupBox(this);
    headerBox->setObjectName("PanelZaglavlje");
    buildHeader(headerBox);
    v->addWidget(headerBox);

    // Search edits are placed by hand: their positions follow which are shown.
    searchPanel = new QWidget(this);
    searchPanel->setObjectName("PanelPretraga");
    searchPanel->setMinimumHeight(26);
    LEBarkod = Edit(searchPanel, "LEBarkod");
    LEBarkod->setPlaceholderText("Barkod");
    LESifra = Edit(searchPanel, "LESifra");
    LESifra->setPlaceholderText(QString::fromUtf8("Šifra"));
    LENaziv = Edit(searchPanel, "LENaziv");
    LENaziv->setPlaceholderText("Naziv");
    LEOpis = Edit(searchPanel, "LEOpis");
    LEOpis->setPlaceholderText(QString::fromUtf8("Filter šifra + naziv"));
    LblOpis = new QLabel("Opis", searchPanel);
    DBOpis = Edit(searchPanel, "DBOpis");
    int x = 4;
    for (auto [e, w] : {std::pair{LEBarkod, 120}, std::pair{LESifra, 80}, std::pair{LENaziv, 200},
                        std::pair{LEOpis, 160}, std::pair{DBOpis, 260}}) {
        e->setGeometry(x, 2, w, 22);
        x += w + 1;
    }
    v->addWidget(searchPanel);

    auto* line = new QHBoxLayout();
    line->addWidget(new QLabel(QString::fromUtf8("Količina"), this));
    DBKol = Edit(this, "DBKol", false, 90);
    line->addWidget(DBKol);
    line->addWidget(new QLabel("Cijena", this));
    DBCijena = Edit(this, "DBCijena", false, 90);
    line->addWidget(DBCijena);
    line->addWidget(new QLabel("Iznos", this));
    DBIznos = Edit(this, "DBIznos", true, 100);
    DBIznos->setFocusPolicy(Qt::StrongFocus);
    line->addWidget(DBIznos);
    LblNaStanju = new QLabel("Na stanju", this);
    LblNaStanju->setObjectName("LblNaStanju");
    line->addWidget(LblNaStanju);
    DBZalihe = Edit(this, "DBZalihe", true, 100);
    line->addWidget(DBZalihe);
    line->addStretch();
    line->addWidget(new QLabel("Ukupno", this));
    DBUkupnoRac_ = new QLabel(this);
    DBUkupnoRac_->setObjectName("DBUkupnoRac");
    QFont bold = font();
    bold.setBold(true);
    bold.setPointSizeF(bold.pointSizeF() * 1.6);
    DBUkupnoRac_->setFont(bold);
    DBUkupnoRac_->setMinimumWidth(120);
    DBUkupnoRac_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    line->addWidget(DBUkupnoRac_);
    v->addLayout(line);

    auto* grids = new QHBoxLayout();
    DBGridStavkeRac_ = new QTableView(this);
    DBGridStavkeRac_->setObjectName("DBGridStavkeRac");
    DBGridArtikli_ = new QTableView(this);
    DBGridArtikli_->setObjectName("DBGridArtikli");
    for (auto* g : {DBGridStavkeRac_, DBGridArtikli_}) {
        g->setSelectionBehavior(QAbstractItemView::SelectRows);
        g->setSelectionMode(QAbstractItemView::SingleSelection);
        g->setEditTriggers(QAbstractItemView::NoEditTriggers);
        g->setFocusPolicy(Qt::NoFocus);
        g->verticalHeader()->hide();
        g->verticalHeader()->setDefaultSectionSize(20);
        g->horizontalHeader()->setStretchLastSection(true);
    }
    grids->addWidget(DBGridStavkeRac_, 3);
    grids->addWidget(DBGridArtikli_, 2);
    v->addLayout(grids, 1);

    auto* panel = new QWidget(this);
    panel->setObjectName("PanelKasaKom");
    auto* grid = new QGridLayout(panel);
    grid->setContentsMargins(0, 0, 0, 0);
    struct B {
        const char* name;
        const char* caption;
        void (TRacuni::*click)();
    } buttons[] = {{"SBNoviRacun", "F2 Novi_račun", &TRacuni::SBNoviRacunClick},
                   {"SBStornoRac", "Shift+F2 Storno_račun", &TRacuni::SBStornoRacClick},
                   {"SBPotvrdiRacun", "F3 Potvrda", &TRacuni::SBPotvrdiRacunClick},
                   {"SBBrisiRacun", "F4 Briši_račun", &TRacuni::SBBrisiRacunClick},
                   {"SBKupac", "F5 Kupac", &TRacuni::SBKupacClick},
                   {"SBPlacanje", "F6 Plaćanje", &TRacuni::SBPlacanjeClick},
                   {"SBKasir", "F7 Kasir", nullptr},
                   {"SBPlaceno", "F8 Plaćeno", &TRacuni::SBPlacenoClick},
                   {"SBPrintRacun", "F9 Print", &TRacuni::SBPrintRacunClick},
                   {"SBRabat", "F10 Rabat", &TRacuni::SBRabatClick},
                   {"SBSpisakRacuna", "F11 Računi", &TRacuni::SBSpisakRacunaClick},
                   {"SBDodajSt", "+ Dodaj", &TRacuni::SBDodajStClick},
                   {"SBBrisiSt", "- Briši", &TRacuni::SBBrisiStClick},
                   {"SBPutaKol", "* kom", &TRacuni::SBPutaKolClick},
                   {"SBKolRucno", "/ količina", &TRacuni::SBKolRucnoClick}};
    int i = 0;
    for (const auto& b : buttons) {
        auto* sb = new QToolButton(panel);
        sb->setObjectName(b.name);
        sb->setText(Q(SpeedButtonCaption(b.caption)));
        sb->setFocusPolicy(Qt::NoFocus);
        sb->setMinimumSize(96, 44);
        grid->addWidget(sb, i / 8, i % 8);
        if (b.click) connect(sb, &QToolButton::clicked, this, b.click);
        ++i;
    }
    DBUkupnoRac1_ = new QLabel(panel);
    DBUkupnoRac1_->setObjectName("DBUkupnoRac1");
    DBUkupnoRac1_->setFont(bold);
    DBUkupnoRac1_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    grid->addWidget(DBUkupnoRac1_, 1, 7);
    v->addWidget(panel);

    if (entry_) {
        articleModel_ = new ArticleModel(entry_->articles(), this);
        DBGridArtikli_->setModel(articleModel_);
        linesModel_ = new LinesModel(*entry_, this);
        DBGridStavkeRac_->setModel(linesModel_);
        DBGridStavkeRac_->setColumnHidden(7, true);
        DBGridStavkeRac_->horizontalHeader()->setStretchLastSection(false);
        DBGridStavkeRac_->horizontalHeader()->setSectionResizeMode(3, QHeaderView::Stretch);
        for (int c : {0, 4}) DBGridStavkeRac_->setColumnWidth(c, 60);
        DBGridArtikli_->horizontalHeader()->setStretchLastSection(false);
        DBGridArtikli_->horizontalHeader()->setSectionResizeMode(2, QHeaderView::Stretch);
    }

    // Keys of the fields: Enter, arrows, and the command characters kept out.
    for (QWidget* w : std::initializer_list<QWidget*>{LEBarkod, LESifra, LENaziv, LEOpis, DBOpis, DBKol, DBCijena,
                                                      DBIznos, DBPlaceno_, DatumRada, DBKasir})
        w->installEventFilter(this);
    connect(LEOpis, &QLineEdit::textChanged, this, [this](const QString& t) {
        if (!entry_) return;
        if (preskociFilter_) {
            preskociFilter_ = false;
            return;
        }
        entry_->FilterChanged(S(t));
    });
    connect(DBOpis, &QLineEdit::textEdited, this, [this](const QString& t) {
        if (entry_ && !entry_->SetDescription(S(t))) refresh();
    });
    connect(DBKol, &QLineEdit::textEdited, this, [this](const QString& t) {
        if (!entry_) return;
        if (auto q = Parse(t); q && !entry_->SetQuantity(*q)) refresh();
    });
    connect(DBCijena, &QLineEdit::textEdited, this, [this](const QString& t) {
        if (!entry_) return;
        if (auto p = Parse(t); p && !entry_->SetPrice(*p)) refresh();
    });
    connect(DBGridArtikli_->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            [this](const QModelIndex& i) {
                if (entry_ && !refreshing_ && i.isValid()) entry_->articles().setCurrent(i.row());
            });
    connect(DBGridStavkeRac_->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            [this](const QModelIndex& i) {
                if (entry_ && !refreshing_ && i.isValid()) entry_->setCurrentLine(i.row());
            });
    refresh();
}

void TRacuni::buildHeader(QWidget* box) {
    auto* g = new QGridLayout(box);
    g->setContentsMargins(4, 4, 4, 4);
    g->setHorizontalSpacing(4);
    g->setVerticalSpacing(2);
    auto label = [&](const char* text, int r, int c) { g->addWidget(new QLabel(QString::fromUtf8(text), box), r, c); };

    label("Broj Rn", 0, 0);
    RacunBroj_ = Edit(box, "RacunBroj", true, 70);
    g->addWidget(RacunBroj_, 0, 1);
    label("Datum računa", 0, 2);
    RacunDatum_ = Edit(box, "RacunDatum", true, 90);
    g->addWidget(RacunDatum_, 0, 3);
    RacunStatus_ = Edit(box, "RacunStatus", true, 80);
    RacunStorno_ = Edit(box, "RacunStorno", true, 80);
    g->addWidget(RacunStatus_, 0, 4);
    g->addWidget(RacunStorno_, 0, 5);

    label("Način plaćanja F6", 1, 0);
    RacunNcPLopis_ = new QComboBox(box);
    RacunNcPLopis_->setObjectName("RacunNcPLopis");
    RacunNcPLopis_->setMinimumWidth(150);
    g->addWidget(RacunNcPLopis_, 1, 1, 1, 2);
    LblNacPlOpis_ = new QLabel(box);
    LblNacPlOpis_->setObjectName("LblNacPlOpis");
    g->addWidget(LblNacPlOpis_, 1, 3);

    auto* tip = new QGroupBox("Fiskalizacija", box);
    tip->setObjectName("RGTipRacuna");
    std::vector<RadioChoice> types;
    for (const auto& t : kv::reg::kInvoiceTypes) types.push_back({t.type, t.caption});
    // Out of the tab order: Tab and Enter keep to the invoice fields.
    RGTipRacuna_ = RadioGroup(tip, types, {.columns = 2, .margins = QMargins(4, 2, 4, 2), .focusable = false});
    RGTipRacuna_->button(0)->setChecked(true);
    connect(RGTipRacuna_, &QButtonGroup::idClicked, this, [this](int id) {
        if (entry_) entry_->tipRacuna = id;
    });
    g->addWidget(tip, 0, 8, 4, 1);

    label("PFR broj i vrijeme", 2, 0);
    DBPFRBROJ_ = Edit(box, "DBPFRBROJ");
    DBPFRTIME_ = Edit(box, "DBPFRTIME");
    Grey(DBPFRBROJ_);
    Grey(DBPFRTIME_);
    g->addWidget(DBPFRBROJ_, 2, 1, 1, 2);
    g->addWidget(DBPFRTIME_, 2, 3, 1, 2);

    label("Ref. broj i vrijeme F11", 3, 0);
    DBRefDN_ = Edit(box, "DBRefDN");
    DBRefDT_ = Edit(box, "DBRefDT");
    g->addWidget(DBRefDN_, 3, 1, 1, 2);
    g->addWidget(DBRefDT_, 3, 3, 1, 2);

    label("Kupac F5", 1, 5);
    DBLPartnerSifra_ = new QComboBox(box);
    DBLPartnerSifra_->setObjectName("DBLPartnerSifra");
    g->addWidget(DBLPartnerSifra_, 1, 6);
    DBPartnerNaziv_ = Edit(box, "DBPartnerNaziv");
    Grey(DBPartnerNaziv_);
    g->addWidget(DBPartnerNaziv_, 1, 7);
    RacunKupac_ = Edit(box, "RacunKupac");
    RacunKupacOrgj_ = Edit(box, "RacunKupacOrgj");
    g->addWidget(RacunKupac_, 2, 6);
    g->addWidget(RacunKupacOrgj_, 2, 7);

    label("Popust F10", 3, 5);
    Popust_ = Edit(box, "Popust");
    Grey(Popust_);
    g->addWidget(Popust_, 3, 6);
    label("Operater", 0, 6);
    Operater_ = Edit(box, "Operater", false, 120);
    Grey(Operater_);
    g->addWidget(Operater_, 0, 7);

    label("Plaćeno F8", 0, 9);
    DBPlaceno_ = Edit(box, "DBPlaceno", false, 100);
    DBPlaceno_->setAlignment(Qt::AlignRight);
    g->addWidget(DBPlaceno_, 0, 10);
    label("Povrat", 1, 9);
    EdKusur_ = Edit(box, "EdKusur", true, 100);
    EdKusur_->setAlignment(Qt::AlignRight);
    g->addWidget(EdKusur_, 1, 10);
    g->setColumnStretch(11, 1);

    struct F {
        QLineEdit* e;
        HeaderField f;
    } fields[] = {{DBRefDN_, HeaderField::RefDN},
                  {DBRefDT_, HeaderField::RefDT},
                  {RacunKupac_, HeaderField::Kupac},
                  {RacunKupacOrgj_, HeaderField::KupacOrgj},
                  {DBPlaceno_, HeaderField::Placeno}};
    for (const auto& fd : fields) {
        const int field = static_cast<int>(fd.f);
        connect(fd.e, &QLineEdit::textEdited, this, [this, field](const QString& t) { headerEdited(field, t); });
        // Leaving a header field saves the header (PostRacun); Enter in the paid amount too.
        connect(fd.e, &QLineEdit::editingFinished, this, [this] { postHeader(); });
    }
    connect(RacunNcPLopis_, &QComboBox::activated, this, [this](int i) {
        headerEdited(static_cast<int>(HeaderField::NacinPL), RacunNcPLopis_->itemData(i).toString());
        postHeader();
    });
    connect(DBLPartnerSifra_, &QComboBox::activated, this, [this](int i) {
        headerEdited(static_cast<int>(HeaderField::PartnerSifra), DBLPartnerSifra_->itemData(i).toString());
        postHeader();
    });
}

void TRacuni::headerEdited(int field, const QString& text) {
    if (!entry_) return;
    if (!entry_->SetHeader(static_cast<HeaderField>(field), S(text))) {
        entry_->CancelHeader();
        refresh();
    }
}

void TRacuni::postHeader() {
    if (entry_ && !refreshing_) entry_->PostHeader();
}

// ---------------------------------------------------------------- showing

void TRacuni::refresh() {
    if (!entry_ || refreshing_) return;
    refreshing_ = true;
    auto& e = *entry_;
    const auto* h = e.header();
    auto setText = [](QLineEdit* w, const QString& t) {
        if (w->text() != t) w->setText(t);
    };
    auto look = [&](QLineEdit* w, const kv::reg::Look& l) {
        setText(w, Q(l.text));
        Paint(w, l.colour);
    };
    look(EdStatus_, e.StateLook());
    look(RacunStatus_, e.StatusLook());
    look(RacunStorno_, e.KindLook());
    setText(RacunBroj_, h ? Q(h->text("Broj")) : QString());
    setText(RacunDatum_, h && h->date("Datum") ? QDate::fromString(Q(h->date("Datum")->toIsoDate()), Qt::ISODate)
                                                     .toString("dd.MM.yyyy")
                                               : QString());
    setText(DBPFRBROJ_, h ? Q(h->text("PFRBROJ")) : QString());
    setText(DBPFRTIME_, h ? Q(h->text("PFRTIME")) : QString());
    for (auto [w, col] : {std::pair{DBRefDN_, "RefDN"}, std::pair{DBRefDT_, "RefDT"}, std::pair{RacunKupac_, "Kupac"},
                          std::pair{RacunKupacOrgj_, "KupacOrgj"}})
        if (!w->hasFocus()) setText(w, h ? Q(h->text(col)) : QString());
    if (!DBPlaceno_->hasFocus()) setText(DBPlaceno_, h ? Plain(h->decimal("Placeno")) : QString());
    setText(Operater_, h ? Q(h->text("Cashier")) : QString());
    setText(Popust_, Q(e.CardName()));
    setText(DBPartnerNaziv_, Q(e.PartnerName()));
    RacunNcPLopis_->setCurrentIndex(h ? RacunNcPLopis_->findData(Q(h->text("NacinPL"))) : -1);
    LblNacPlOpis_->setText(Q(e.PaymentTypeName()));
    DBLPartnerSifra_->setCurrentIndex(h ? std::max(0, DBLPartnerSifra_->findData(Q(h->text("PartnerSifra")))) : 0);
    setText(EdKusur_, Q(e.KusurText()));
    if (RGTipRacuna_->checkedId() != e.tipRacuna)
        if (auto* b = RGTipRacuna_->button(e.tipRacuna)) b->setChecked(true);
    DBUkupnoRac_->setText(Money(e.total().value_or(Currency())));
    DBUkupnoRac1_->setText(DBUkupnoRac_->text());

    linesModel_->reset();
    if (e.currentLine() >= 0) DBGridStavkeRac_->setCurrentIndex(linesModel_->index(e.currentLine(), 0));
    if (shownArticles_ != e.articles().version()) {
        shownArticles_ = e.articles().version();
        articleModel_->reset();
    }
    if (e.articles().current() >= 0) {
        const QModelIndex ai = articleModel_->index(e.articles().current(), 0);
        if (DBGridArtikli_->currentIndex() != ai) {
            DBGridArtikli_->setCurrentIndex(ai);
            DBGridArtikli_->scrollTo(ai);
        }
    }
    refreshLineFields();
    refreshing_ = false;
}

void TRacuni::refreshLineFields() {
    auto& e = *entry_;
    const auto* l = e.line();
    auto set = [](QLineEdit* w, const QString& t, bool keepTyped) {
        if (keepTyped && w->hasFocus()) return;
        if (w->text() != t) w->setText(t);
    };
    set(DBOpis, l ? Q(l->text("Opis")) : QString(), true);
    // A number being typed stays as typed while it means the same value.
    auto number = [&](QLineEdit* w, std::optional<Currency> v, bool money) {
        if (w->hasFocus() && Parse(w->text()) == v) return;
        set(w, money ? Money(v) : Plain(v), false);
    };
    number(DBKol, l ? l->decimal("KolIzlaz") : std::nullopt, false);
    number(DBCijena, l ? l->decimal("Cijena") : std::nullopt, false);
    set(DBIznos, l ? Money(l->decimal("Iznos")) : QString(), false);
    const bool stockShown = e.stockMode() != 0;
    DBZalihe->setVisible(stockShown);
    LblNaStanju->setVisible(stockShown);
    set(DBZalihe, Stock(e.stock()), false);
    Paint(DBZalihe, e.stockRed() ? std::optional<unsigned>(kv::reg::kRed) : std::nullopt);
}

QWidget* TRacuni::firstSearch() const {
    for (QWidget* w : {static_cast<QWidget*>(LEBarkod), static_cast<QWidget*>(LESifra),
                       static_cast<QWidget*>(LENaziv), static_cast<QWidget*>(LEOpis)})
        if (!w->isHidden()) return w;
    return DBOpis;
}

void TRacuni::focus(Focus f) {
    QLineEdit* to = nullptr;
    switch (f) {
        case Focus::Stay: return;
        case Focus::Quantity: to = DBKol; break;
        case Focus::Description: to = DBOpis; break;
        case Focus::Price: to = DBCijena; break;
        case Focus::Amount: to = DBIznos; break;
        case Focus::Paid: to = DBPlaceno_; break;
        case Focus::FirstSearch:
            firstSearch()->setFocus();
            if (auto* le = qobject_cast<QLineEdit*>(firstSearch())) le->selectAll();
            return;
    }
    to->setFocus();
    to->selectAll();
}

// ---------------------------------------------------------------- keys

bool TRacuni::eventFilter(QObject* obj, QEvent* ev) {
    if (ev->type() == QEvent::FocusIn && obj == LENaziv && entry_) {
        entry_->NameFieldEntered();
        QMetaObject::invokeMethod(LENaziv, &QLineEdit::selectAll, Qt::QueuedConnection);
    }
    if (ev->type() == QEvent::FocusOut && obj == LEOpis && entry_) {
        entry_->FilterLeft();
        // Leaving the field switches the filter off and clears it.
        QSignalBlocker block(LEOpis);
        LEOpis->clear();
        articleModel_->reset();
        refresh();
    }
    if (ev->type() != QEvent::KeyPress || !entry_) return false;
    auto* k = static_cast<QKeyEvent*>(ev);
    const bool searchOrLine = obj == LEBarkod || obj == LESifra || obj == LENaziv || obj == LEOpis || obj == DBOpis ||
                              obj == DBKol || obj == DBCijena || obj == DBIznos;
    // On a confirmed invoice these fields take no keys (moving on with Tab stays possible).
    if (searchOrLine && entry_->Confirmed() && k->key() != Qt::Key_Tab && k->key() != Qt::Key_Backtab) return true;
    const QString t = k->text();
    if (t == "+" || t == "-") return true;
    if (obj == LEBarkod && (t == "*" || t == "/")) return true;
    const bool enter = k->key() == Qt::Key_Return || k->key() == Qt::Key_Enter;
    auto* le = qobject_cast<QLineEdit*>(obj);
    if (enter && le) le->selectAll();
    using LF = kv::reg::InvoiceEntry::LineField;
    if (enter) {
        if (obj == LEBarkod) focus(entry_->BarcodeEnter(S(LEBarkod->text())));
        else if (obj == LESifra) focus(entry_->CodeEnter(S(LESifra->text())));
        else if (obj == LENaziv) focus(entry_->NameEnter(S(LENaziv->text())));
        else if (obj == LEOpis) focus(entry_->FilterEnter());
        else if (obj == DBOpis) focus(entry_->LineFieldEnter(LF::Description));
        else if (obj == DBKol) focus(entry_->LineFieldEnter(LF::Quantity));
        else if (obj == DBCijena) focus(entry_->LineFieldEnter(LF::Price));
        else if (obj == DBIznos) focus(entry_->LineFieldEnter(LF::Amount));
        else if (obj == DBPlaceno_) postHeader();
        else if (obj == DatumRada) DBKasir->setFocus();
        else if (obj == DBKasir) RacunBroj_->setFocus();  // on to the invoice header
        else return false;
        return true;
    }
    const bool search = obj == LEBarkod || obj == LESifra || obj == LENaziv || obj == LEOpis;
    if (search && (k->key() == Qt::Key_Up || k->key() == Qt::Key_Down)) {
        if (obj == LEOpis) preskociFilter_ = true;
        entry_->ListMove(k->key() == Qt::Key_Up ? -1 : 1);
        preskociFilter_ = false;
        return true;
    }
    if (search && k->key() == Qt::Key_Right && obj != LEOpis) {
        focusNextChild();
        return true;
    }
    if (search && k->key() == Qt::Key_Left && obj != LEBarkod) {
        focusPreviousChild();
        return true;
    }
    return false;
}

// ---------------------------------------------------------------- commands

void TRacuni::SBNoviRacunClick() {
    if (entry_) focus(entry_->NewInvoice(false));
}

void TRacuni::SBStornoRacClick() {
    if (entry_) focus(entry_->NewInvoice(true));
}

void TRacuni::SBPotvrdiRacunClick() {
    if (entry_ && entry_->ConfirmInvoice()) SBPrintRacunClick();
}

void TRacuni::SBBrisiRacunClick() {
    if (entry_) entry_->DeleteInvoice();
}

void TRacuni::SBPlacanjeClick() { RacunNcPLopis_->setFocus(); }

void TRacuni::SBPlacenoClick() {
    if (!entry_) return;
    entry_->CancelLine();
    focus(Focus::Paid);
}

void TRacuni::SBPrintRacunClick() {
    if (entry_ && entry_->PrintAllowed()) PrintFisk();
}

void TRacuni::SBDodajStClick() {
    if (entry_) focus(entry_->DodajSt());
}

void TRacuni::SBBrisiStClick() {
    if (entry_) focus(entry_->BrisiSt());
}

void TRacuni::SBPutaKolClick() {
    if (entry_) focus(entry_->PutaKol());
}

void TRacuni::SBKolRucnoClick() {
    if (entry_) focus(entry_->KolRucno());
}

void TRacuni::SBRabatClick() {
    if (!entry_) return;
    if (!popust_) popust_ = new TPopust(ctx_, *entry_, window());
    popust_->Reload();
    popust_->show();
    popust_->raise();
}

TSpisakRacuna* TRacuni::spisakRacuna() const { return spisak_.data(); }
TPartneri* TRacuni::partneri() const { return partneri_.data(); }

void TRacuni::SBKupacClick() {
    if (!entry_) return;
    if (!partneri_) partneri_ = new TPartneri(ctx_, *entry_, window());
    partneri_->Open();
}

void TRacuni::SBSpisakRacunaClick() {
    if (!entry_) return;
    if (!spisak_) spisak_ = new TSpisakRacuna(ctx_, *entry_, window());
    spisak_->Open();
}

void TRacuni::PrintFisk() {
    const kv::reg::Record header = *entry_->header();
    QWidget* owner = window();
    ShowProgress(owner, QString::fromUtf8(kv::reg::texts::kPrintCaption), QString::fromUtf8(kv::reg::texts::kWaiting),
                 QString(), false, false, 0, 0);
    QApplication::processEvents();
    // The one place this page reaches the device.
    kv::reg::HandOffContext hc{*ctx_.db(), ctx_.invoice, ctx_.fisk(), &ctx_.ledger(), &ctx_.watcher().FiskIzKase,
                               ctx_.settings.KasaBaf.text("Cashier")};
    std::string error;
    try {
        auto d = ctx_.settings.KasaBaf.date("Datum");
        const DateTime work = d.ok() ? DateTime::fromParts(static_cast<int>(d.year()), static_cast<unsigned>(d.month()),
                                                           static_cast<unsigned>(d.day()))
                                     : DateTime::fromMs(std::time(nullptr) * 1000).date();
        error = kv::reg::PrintFisk(hc, header, entry_->tipRacuna, work, std::time(nullptr));
    } catch (const std::exception& ex) {
        error = ex.what();
    }
    if (!error.empty()) {
        QApplication::processEvents();
        EndProgress(owner, true, Q(error));
        return;
    }
    entry_->Reload();
    EndProgress(owner, false);
}

// ---------------------------------------------------------------- discount window

namespace {
class RecordsModel : public QAbstractTableModel {
public:
    RecordsModel(std::vector<kv::reg::Record> rows, std::vector<std::pair<const char*, const char*>> cols, QObject* p)
        : QAbstractTableModel(p), rows_(std::move(rows)), cols_(std::move(cols)) {}
    int rowCount(const QModelIndex& = {}) const override { return static_cast<int>(rows_.size()); }
    int columnCount(const QModelIndex& = {}) const override { return static_cast<int>(cols_.size()); }
    QVariant data(const QModelIndex& i, int role) const override {
        if (role != Qt::DisplayRole || !i.isValid()) return {};
        const auto& r = rows_[i.row()];
        const char* c = cols_[i.column()].first;
        if (auto d = r.decimal(c); d && r.table->columns[r.table->index(c)].type == kv::reg::ColType::Quantity)
            return Plain(d);
        return Q(r.text(c));
    }
    QVariant headerData(int s, Qt::Orientation o, int role) const override {
        if (role != Qt::DisplayRole || o != Qt::Horizontal) return {};
        return QString::fromUtf8(cols_[s].second);
    }
    const kv::reg::Record* row(int i) const { return i >= 0 && i < rowCount() ? &rows_[i] : nullptr; }

private:
    std::vector<kv::reg::Record> rows_;
    std::vector<std::pair<const char*, const char*>> cols_;
};
}  // namespace

TPopust::TPopust(kv::AppContext& ctx, kv::reg::InvoiceEntry& entry, QWidget* parent)
    : QWidget(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint), ctx_(ctx), entry_(entry) {
    setObjectName("Popust");
    setWindowTitle("Popust");
    auto* v = new QVBoxLayout(this);
    auto* h = new QHBoxLayout();
    cards_ = new QTableView(this);
    cards_->setObjectName("DBGridKart");
    discounts_ = new QTableView(this);
    discounts_->setObjectName("DBGridRabat");
    for (auto* g : {cards_, discounts_}) {
        g->setSelectionBehavior(QAbstractItemView::SelectRows);
        g->setSelectionMode(QAbstractItemView::SingleSelection);
        g->setEditTriggers(QAbstractItemView::NoEditTriggers);
        g->verticalHeader()->hide();
        h->addWidget(g);
    }
    v->addLayout(h);
    auto* buttons = new QHBoxLayout();
    auto* apply = new QPushButton(QString::fromUtf8("F3 obračunaj"), this);
    apply->setObjectName("SBPovezi");
    auto* close = new QPushButton("F11 Zatvori", this);
    close->setObjectName("SBZatvori");
    connect(apply, &QPushButton::clicked, this, &TPopust::SBPoveziClick);
    connect(close, &QPushButton::clicked, this, &QWidget::hide);
    buttons->addWidget(apply);
    buttons->addWidget(close);
    buttons->addStretch();
    v->addLayout(buttons);
    resize(620, 360);
}

void TPopust::Reload() {
    auto* old = cards_->model();
    cards_->setModel(new RecordsModel(ctx_.db()->Kart(), {{"KARTSIFRA", "Kartica"}, {"KARTNAZIV", "Naziv"}}, cards_));
    delete old;
    connect(cards_->selectionModel(), &QItemSelectionModel::currentRowChanged, this, [this] { showDiscounts(); });
    if (cards_->model()->rowCount() > 0) cards_->setCurrentIndex(cards_->model()->index(0, 0));
    showDiscounts();
    if (parentWidget()) move(parentWidget()->geometry().center() - rect().center());
}

void TPopust::showDiscounts() {
    auto* m = static_cast<RecordsModel*>(cards_->model());
    const auto* card = m ? m->row(cards_->currentIndex().row()) : nullptr;
    auto* old = discounts_->model();
    discounts_->setModel(new RecordsModel(card ? ctx_.db()->Rabat(card->text("KARTSIFRA")) : std::vector<kv::reg::Record>{},
                                          {{"RABATTIP", "G/A"}, {"RABATSIFRA", "Šifra"}, {"RABATPROC", "Rabat %"}},
                                          discounts_));
    delete old;
}

void TPopust::SBPoveziClick() {
    auto* m = static_cast<RecordsModel*>(cards_->model());
    const auto* card = m ? m->row(cards_->currentIndex().row()) : nullptr;
    if (card) entry_.ApplyCard(card->text("KARTSIFRA"));
}

}  // namespace kv::gui

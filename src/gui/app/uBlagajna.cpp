// The cash desk ("Blagajna") and the device report ("Izvještaj") tabs.
#include "app/uBlagajna.h"

#include <QApplication>
#include <QCheckBox>
#include <QDate>
#include <QDateEdit>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QRegularExpressionValidator>
#include <QSplitter>
#include <QTabWidget>
#include <QTableView>
#include <QTableWidget>
#include <QVBoxLayout>

#include "app/AppContext.h"
#include "platform/Platform.h"
#include "register/uDMGlavni.h"
#include "util/MemTableModel.h"
#include "util/Prompter.h"
#include "util/uKvUtils.h"

namespace kv::gui {

namespace {

using kv::device::DetailTab;

QString Q(const std::string& s) { return QString::fromStdString(s); }

constexpr DetailTab kTabs[] = {DetailTab::Tax, DetailTab::Cashier, DetailTab::Payment, DetailTab::Article,
                               DetailTab::Advance};

kv::DateTime FromQDate(const QDate& d) { return kv::DateTime::fromParts(d.year(), d.month(), d.day()); }

QTableView* SummaryGrid(QWidget* parent, const char* name, kv::MemTable& table, kv::Prompter* prompter,
                        QObject* owner) {
    auto* g = new QTableView(parent);
    g->setObjectName(name);
    g->verticalHeader()->setDefaultSectionSize(20);
    g->verticalHeader()->hide();
    g->setEditTriggers(QAbstractItemView::NoEditTriggers);
    auto* model = new MemTableModel(table, {}, prompter, owner);
    model->attach(g);
    InstallTitleSort(g);
    return g;
}

QTableWidget* ListGrid(QWidget* parent, const char* name, const QStringList& titles) {
    auto* g = new QTableWidget(0, static_cast<int>(titles.size()), parent);
    g->setObjectName(name);
    g->setHorizontalHeaderLabels(titles);
    g->verticalHeader()->setDefaultSectionSize(20);
    g->verticalHeader()->hide();
    g->setEditTriggers(QAbstractItemView::NoEditTriggers);
    g->horizontalHeader()->setStretchLastSection(true);
    return g;
}

QTableWidgetItem* Cell(const QString& text, bool number = false) {
    auto* item = new QTableWidgetItem(text);
    if (number) item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
    return item;
}

// "dd.mm.yyyy" of an ISO date text; other text as it is ("Ukupno").
QString ShownDate(const std::string& iso) {
    QDate d = QDate::fromString(Q(iso.substr(0, 10)), Qt::ISODate);
    return d.isValid() ? d.toString("dd.MM.yyyy") : Q(iso);
}

}  // namespace

TBlagajna::TBlagajna(kv::AppContext& ctx, QWidget* blagajnaPage, QWidget* reportPage, QObject* parent)
    : QObject(parent), ctx_(ctx), desk_(ctx.client1(), ctx.client2()) {
    setObjectName("Blagajna");
    buildBlagajna(blagajnaPage);
    buildReport(reportPage);
    // One record behind both tabs: the dates stay together.
    auto pair = [](QDateEdit* a, QDateEdit* b) {
        QObject::connect(a, &QDateEdit::dateChanged, b, [b](const QDate& d) {
            if (b->date() != d) b->setDate(d);
        });
        QObject::connect(b, &QDateEdit::dateChanged, a, [a](const QDate& d) {
            if (a->date() != d) a->setDate(d);
        });
    };
    pair(DBOdDatuma_, DBOdDatuma2_);
    pair(DBDoDatuma_, DBDoDatuma2_);
}

TBlagajna::~TBlagajna() = default;

QDateEdit* TBlagajna::dateEdit(QWidget* parent, const char* name) {
    auto* e = new QDateEdit(QDate::currentDate(), parent);
    e->setObjectName(name);
    e->setDisplayFormat("dd.MM.yyyy");
    e->setCalendarPopup(true);
    return e;
}

void TBlagajna::buildBlagajna(QWidget* page) {
    auto* v = new QVBoxLayout(page);

    auto* top = new QHBoxLayout();
    auto* depozit = new QGroupBox("Depozit", page);
    depozit->setObjectName("GBDepozit");
    auto* dg = new QGridLayout(depozit);
    dg->addWidget(new QLabel("Iznos za depozit", depozit), 0, 0);
    DBDepozit_ = new QLineEdit(depozit);
    DBDepozit_->setObjectName("DBDepozit");
    DBDepozit_->setAlignment(Qt::AlignRight);
    DBDepozit_->setMaximumWidth(140);
    // A fixed-point amount with two decimals; either separator may be typed.
    DBDepozit_->setValidator(
        new QRegularExpressionValidator(QRegularExpression(R"(^\d{0,12}([.,]\d{0,2})?$)"), DBDepozit_));
    // Shown as "########0.00" once typed.
    connect(DBDepozit_, &QLineEdit::editingFinished, this, [this] {
        const char sep = kv::platform::DecimalSeparator();
        const auto v = kv::ParseCurrencyWithRetry(DBDepozit_->text().toStdString(), sep);
        if (!v) return;
        std::string text = kv::device::AmountText(v);
        if (sep != '.') std::replace(text.begin(), text.end(), '.', sep);
        DBDepozit_->setText(Q(text));
    });
    dg->addWidget(DBDepozit_, 0, 1);
    auto* in = new QPushButton("Ulaz depozita", depozit);
    in->setObjectName("BtUlazDepozita");
    connect(in, &QPushButton::clicked, this, &TBlagajna::BtUlazDepozitaClick);
    auto* out = new QPushButton("Izlaz depozita", depozit);
    out->setObjectName("BtIzlazDepozita");
    connect(out, &QPushButton::clicked, this, &TBlagajna::BtIzlazDepozitaClick);
    dg->addWidget(in, 0, 2);
    dg->addWidget(out, 0, 3);
    top->addWidget(depozit);

    auto* period = new QGroupBox("Presjek", page);
    period->setObjectName("GBPresjek");
    auto* pg = new QGridLayout(period);
    pg->addWidget(new QLabel("Od datuma", period), 0, 0);
    DBOdDatuma_ = dateEdit(period, "DBOdDatuma");
    pg->addWidget(DBOdDatuma_, 0, 1);
    pg->addWidget(new QLabel("Do datuma", period), 0, 2);
    DBDoDatuma_ = dateEdit(period, "DBDoDatuma");
    pg->addWidget(DBDoDatuma_, 0, 3);
    CBOdZadnjegPresjeka_ = new QCheckBox("Od zadnjeg presjeka", period);
    CBOdZadnjegPresjeka_->setObjectName("CBOdZadnjegPresjeka");
    pg->addWidget(CBOdZadnjegPresjeka_, 0, 4);
    struct B {
        const char* name;
        const char* caption;
        void (TBlagajna::*click)();
    } buttons[] = {{"BtStanjeBlagajne", "Stanje blagajne", &TBlagajna::BtStanjeBlagajneClick},
                   {"BtNuliranje", "Nuliranje", &TBlagajna::BtNuliranjeClick},
                   {"BtPrintPresjeka", "Print presjeka", &TBlagajna::BtPrintPresjekaClick},
                   {"BtPrintDetalja", "Print detalja", &TBlagajna::BtPrintDetaljaClick}};
    int col = 0;
    for (const auto& b : buttons) {
        auto* bt = new QPushButton(b.caption, period);
        bt->setObjectName(b.name);
        connect(bt, &QPushButton::clicked, this, b.click);
        pg->addWidget(bt, 1, col++);
    }
    top->addWidget(period);
    top->addStretch();
    v->addLayout(top);

    LblBlagajna_ = new QLabel(page);
    LblBlagajna_->setObjectName("LblBlagajna");
    LblBlagajna_->setWordWrap(true);
    v->addWidget(LblBlagajna_);

    auto* split = new QSplitter(Qt::Vertical, page);
    DBGridBlagajna_ = SummaryGrid(split, "DBGridBlagajna", grids_.summary, &ctx_.prompter, this);
    PgPresjekDetalji_ = new QTabWidget(split);
    PgPresjekDetalji_->setObjectName("PgPresjekDetalji");
    for (int i = 0; i < 5; ++i) {
        const DetailTab tab = kTabs[i];
        const std::string name = std::string("DBGrid") + kv::device::DetailTabCaption(tab);
        detailGrids_[i] = SummaryGrid(PgPresjekDetalji_, name.c_str(), grids_.detail(tab), &ctx_.prompter, this);
        PgPresjekDetalji_->addTab(detailGrids_[i], kv::device::DetailTabCaption(tab));
    }
    split->addWidget(DBGridBlagajna_);
    split->addWidget(PgPresjekDetalji_);
    split->setStretchFactor(0, 1);
    split->setStretchFactor(1, 3);
    v->addWidget(split, 1);
}

void TBlagajna::buildReport(QWidget* page) {
    auto* v = new QVBoxLayout(page);
    auto* top = new QHBoxLayout();
    top->addWidget(new QLabel("Od datuma", page));
    DBOdDatuma2_ = dateEdit(page, "DBOdDatumaIzvjestaj");
    top->addWidget(DBOdDatuma2_);
    top->addWidget(new QLabel("Do datuma", page));
    DBDoDatuma2_ = dateEdit(page, "DBDoDatumaIzvjestaj");
    top->addWidget(DBDoDatuma2_);
    auto* obradi = new QPushButton("Obradi", page);
    obradi->setObjectName("BtObradiIzvjestaj");
    connect(obradi, &QPushButton::clicked, this, &TBlagajna::BtObradiClick);
    top->addWidget(obradi);
    LblObradi_ = new QLabel(page);
    LblObradi_->setObjectName("LblObradi");
    top->addWidget(LblObradi_, 1);
    v->addLayout(top);

    auto* split = new QSplitter(Qt::Horizontal, page);
    DBGPodaci_ = ListGrid(split, "DBGPodaci", {"Broj", "TipTrans", "TipRacuna", "Vrijeme", "Datum", "Iznos"});
    DBGRekapitulacija_ = ListGrid(split, "DBGRekapitulacija", {"Datum", "Vrsta", "Ukupno"});
    split->addWidget(DBGPodaci_);
    split->addWidget(DBGRekapitulacija_);
    split->setStretchFactor(0, 3);
    split->setStretchFactor(1, 2);
    v->addWidget(split, 1);
}

kv::device::CashDeskForm TBlagajna::form() const {
    kv::device::CashDeskForm f;
    f.odDatuma = FromQDate(DBOdDatuma_->date());
    f.doDatuma = FromQDate(DBDoDatuma_->date());
    const std::string text = DBDepozit_->text().trimmed().toStdString();
    if (!text.empty()) f.depozit = kv::ParseCurrencyWithRetry(text, kv::platform::DecimalSeparator());
    f.odZadnjegPresjeka = CBOdZadnjegPresjeka_->isChecked();
    return f;
}

void TBlagajna::tell(const kv::device::CashOutcome& o) {
    if (!o.sent) return;
    const std::string text = o.message();
    LblBlagajna_->setText(Q(text));
    if (!o.ok) ctx_.log(text);
    ctx_.prompter.message(text, o.ok ? kv::MsgKind::Information : kv::MsgKind::Error);
}

namespace {
// The hour-glass for the time of one request.
struct Wait {
    Wait() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~Wait() { QApplication::restoreOverrideCursor(); }
};
}  // namespace

void TBlagajna::BtUlazDepozitaClick() {
    kv::device::CashOutcome o;
    {
        Wait w;
        o = desk_.Deposit(form());
    }
    tell(o);
}

void TBlagajna::BtIzlazDepozitaClick() {
    kv::device::CashOutcome o;
    {
        Wait w;
        o = desk_.Withdraw(form());
    }
    tell(o);
}

void TBlagajna::BtStanjeBlagajneClick() {
    kv::device::CashOutcome o;
    {
        Wait w;
        o = desk_.Summary(form(), grids_);
    }
    if (o.ok) fitSummaryGrids();
    tell(o);
}

void TBlagajna::fitSummaryGrids() {
    for (QTableView* g : detailGrids_) FitGridColumns(g);
    FitGridColumns(DBGridBlagajna_);
}

void TBlagajna::BtNuliranjeClick() { tell(desk_.Zero(ctx_.prompter)); }

void TBlagajna::BtPrintPresjekaClick() {
    kv::device::CashOutcome o;
    {
        Wait w;
        o = desk_.PrintSummary(form());
    }
    tell(o);
}

void TBlagajna::BtPrintDetaljaClick() {
    const int i = std::clamp(PgPresjekDetalji_->currentIndex(), 0, 4);
    kv::device::CashOutcome o;
    {
        Wait w;
        o = desk_.PrintDetail(form(), kTabs[i]);
    }
    tell(o);
}

void TBlagajna::BtObradiClick() {
    kv::reg::TDMGlavni* db = ctx_.db();
    if (!db) {
        ctx_.prompter.message("Lokalna baza nije otvorena!", kv::MsgKind::Error);
        return;
    }
    kv::device::SearchOutcome o;
    try {
        Wait w;
        o = desk_.Search(form(), *db, kv::platform::DecimalSeparator());
    } catch (const std::exception& e) {
        ctx_.prompter.message(e.what(), kv::MsgKind::Error);
        return;
    }
    showSearch(o);
}

void TBlagajna::showSearch(const kv::device::SearchOutcome& o) {
    std::string note = o.message();
    if (o.answered) {
        note += " - " + std::to_string(o.rows) + " računa";
        if (o.skipped > 0) note += ", nepročitanih redova: " + std::to_string(o.skipped);
        if (o.skipped > 0) ctx_.log("invoice list: " + std::to_string(o.skipped) + " unreadable line(s) skipped");
    }
    LblObradi_->setText(Q(note));
    if (!o.answered) {
        ctx_.prompter.message(note, kv::MsgKind::Error);
        return;
    }
    const char sep = kv::platform::DecimalSeparator();
    const auto rows = ctx_.db()->Podaci();
    DBGPodaci_->setRowCount(static_cast<int>(rows.size()));
    for (int r = 0; r < static_cast<int>(rows.size()); ++r) {
        const auto& row = rows[static_cast<std::size_t>(r)];
        DBGPodaci_->setItem(r, 0, Cell(Q(row.text("Broj"))));
        DBGPodaci_->setItem(r, 1, Cell(Q(row.text("TipTrans"))));
        DBGPodaci_->setItem(r, 2, Cell(Q(row.text("TipRacuna"))));
        DBGPodaci_->setItem(r, 3, Cell(Q(row.text("Vrijeme"))));
        auto d = row.date("Datum");
        DBGPodaci_->setItem(r, 4, Cell(d ? ShownDate(d->toIsoDate()) : QString()));
        auto amount = row.decimal("IZNOS");
        DBGPodaci_->setItem(r, 5, Cell(amount ? Q(kv::FormatTotal(*amount, sep)) : QString(), true));
    }
    DBGRekapitulacija_->setRowCount(static_cast<int>(o.recap.size()));
    for (int r = 0; r < static_cast<int>(o.recap.size()); ++r) {
        const auto& row = o.recap[static_cast<std::size_t>(r)];
        DBGRekapitulacija_->setItem(r, 0, Cell(ShownDate(row.Datum)));
        DBGRekapitulacija_->setItem(r, 1, Cell(Q(row.Vrsta)));
        DBGRekapitulacija_->setItem(r, 2, Cell(Q(kv::FormatTotal(row.Ukupno, sep)), true));
    }
    DBGPodaci_->resizeColumnsToContents();
    DBGRekapitulacija_->resizeColumnsToContents();
    if (!o.ok) ctx_.prompter.message(o.message(), kv::MsgKind::Error);
}

}  // namespace kv::gui

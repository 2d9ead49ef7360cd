#include "register/uLookups.h"

#include <QAbstractTableModel>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QShortcut>
#include <QTableView>
#include <QVBoxLayout>
#include <functional>

#include "app/AppContext.h"
#include "platform/Platform.h"
#include "register/InvoiceEntry.h"
#include "register/uDMGlavni.h"

namespace kv::gui {

namespace {
QString Q(const std::string& s) { return QString::fromStdString(s); }

QString Cell(const kv::reg::Record& r, const char* field) {
    const auto& c = r.table->columns[r.table->index(field)];
    if (c.type == kv::reg::ColType::Money || c.type == kv::reg::ColType::Quantity || c.type == kv::reg::ColType::Real) {
        auto v = r.decimal(field);
        return v ? Q(kv::LocaleNumberText(*v, kv::platform::DecimalSeparator())) : QString();
    }
    return Q(r.text(field));
}

void Centre(QWidget* w) {
    if (QScreen* s = w->screen()) w->move(s->availableGeometry().center() - w->rect().center());
}
}  // namespace

// A read-only grid over records: each column a caption and how its cell reads.
class RecordGridModel : public QAbstractTableModel {
public:
    struct Col {
        QString caption;
        std::function<QString(int row)> text;
        bool number = false;
    };
    explicit RecordGridModel(QObject* parent) : QAbstractTableModel(parent) {}
    void set(std::vector<Col> cols, int rows) {
        beginResetModel();
        cols_ = std::move(cols);
        rows_ = rows;
        endResetModel();
    }
    int rowCount(const QModelIndex& = {}) const override { return rows_; }
    int columnCount(const QModelIndex& = {}) const override { return static_cast<int>(cols_.size()); }
    QVariant data(const QModelIndex& i, int role) const override {
        if (!i.isValid()) return {};
        if (role == Qt::DisplayRole) return cols_[i.column()].text(i.row());
        if (role == Qt::TextAlignmentRole && cols_[i.column()].number)
            return QVariant(Qt::AlignRight | Qt::AlignVCenter);
        return {};
    }
    QVariant headerData(int s, Qt::Orientation o, int role) const override {
        if (role != Qt::DisplayRole || o != Qt::Horizontal) return {};
        return cols_[s].caption;
    }

private:
    std::vector<Col> cols_;
    int rows_ = 0;
};

namespace {
QTableView* Grid(QWidget* parent, const char* name, QAbstractItemModel* model) {
    auto* g = new QTableView(parent);
    g->setObjectName(name);
    g->setModel(model);
    g->setEditTriggers(QAbstractItemView::NoEditTriggers);
    g->setSelectionBehavior(QAbstractItemView::SelectRows);
    g->setSelectionMode(QAbstractItemView::SingleSelection);
    g->verticalHeader()->setDefaultSectionSize(20);
    g->verticalHeader()->hide();
    return g;
}
QPushButton* Button(QWidget* parent, const char* name, const char* caption) {
    auto* b = new QPushButton(QString::fromUtf8(caption), parent);
    b->setObjectName(name);
    b->setFocusPolicy(Qt::NoFocus);
    return b;
}
void Select(QTableView* g, int row) {
    if (row < 0 || row >= g->model()->rowCount()) return;
    g->setCurrentIndex(g->model()->index(row, 0));
    g->selectRow(row);
}
}  // namespace

// ---------------------------------------------------------------- invoice list

TSpisakRacuna::TSpisakRacuna(kv::AppContext& ctx, kv::reg::InvoiceEntry& entry, QWidget* parent)
    : QWidget(parent, Qt::Dialog), ctx_(ctx), entry_(entry) {
    setObjectName("SpisakRacuna");
    setWindowTitle("SpisakRacuna");
    resize(980, 560);
    auto* v = new QVBoxLayout(this);
    auto* bar = new QHBoxLayout();
    struct B {
        const char* name;
        const char* caption;
        Qt::Key key;
        void (TSpisakRacuna::*click)();
    } buttons[] = {{"SBLociraj", "F2 lociraj", Qt::Key_F2, &TSpisakRacuna::SBLocirajClick},
                   {"SBPovezi", "F3 poveži", Qt::Key_F3, &TSpisakRacuna::SBPoveziClick},
                   {"SBSpisakRacuna", "F11 Zatvori", Qt::Key_F11, &TSpisakRacuna::SBSpisakRacunaClick}};
    for (const auto& b : buttons) {
        auto* btn = Button(this, b.name, b.caption);
        connect(btn, &QPushButton::clicked, this, b.click);
        auto* sc = new QShortcut(QKeySequence(b.key), this);
        connect(sc, &QShortcut::activated, this, b.click);
        bar->addWidget(btn);
    }
    bar->addStretch(1);
    v->addLayout(bar);
    model_ = new RecordGridModel(this);
    linesModel_ = new RecordGridModel(this);
    grid_ = Grid(this, "DBGridRacuni", model_);
    lines_ = Grid(this, "DBGridStavke", linesModel_);
    v->addWidget(grid_, 3);
    v->addWidget(lines_, 2);
    connect(grid_->selectionModel(), &QItemSelectionModel::currentRowChanged, this, [this] { showLines(); });
}

int TSpisakRacuna::currentRow() const {
    const int r = grid_->currentIndex().row();
    return r >= 0 && r < static_cast<int>(rows_.size()) ? r : -1;
}

void TSpisakRacuna::Open() {
    // Read again at every showing, for the work year of now.
    rows_ = ctx_.db() ? kv::reg::SpisakRacuna(*ctx_.db(), entry_.year()) : std::vector<kv::reg::SpisakRow>{};
    auto h = [this](const char* f) { return [this, f](int r) { return Cell(rows_[r].header, f); }; };
    std::vector<RecordGridModel::Col> cols;
    for (const char* f : {"Godina", "Broj", "Storno", "Status", "Datum", "SysTime", "Cashier"})
        cols.push_back({f, h(f), f == std::string("Broj")});
    cols.push_back({"Iznos", [this](int r) { return Q(kv::FormatTotal(rows_[r].iznos, kv::platform::DecimalSeparator())); },
                    true});
    for (const char* f : {"PartnerSifra", "PFRBROJ", "NacinPL", "PargBroj"}) cols.push_back({f, h(f)});
    model_->set(std::move(cols), static_cast<int>(rows_.size()));
    grid_->resizeColumnsToContents();
    Select(grid_, 0);
    showLines();
    Centre(this);
    show();
    raise();
    activateWindow();
    grid_->setFocus();
}

void TSpisakRacuna::showLines() {
    const int r = currentRow();
    auto& lines = lineRows_;
    lines.clear();
    if (r >= 0 && ctx_.db()) {
        const auto& h = rows_[r].header;
        lines = ctx_.db()->StavkeRac(static_cast<int>(h.integer("Godina").value_or(0)), kv::reg::kRacun,
                                     h.integer("Broj").value_or(0));
    }
    std::vector<RecordGridModel::Col> cols;
    for (const char* f : {"Stavka", "Artikl", "BarKod", "Opis", "Rabat", "KolIzlaz", "Cijena", "Iznos"}) {
        const bool num = std::string("Stavka Rabat KolIzlaz Cijena Iznos").find(f) != std::string::npos;
        cols.push_back({f, [this, f](int i) { return Cell(lineRows_[i], f); }, num});
    }
    linesModel_->set(std::move(cols), static_cast<int>(lines.size()));
    lines_->resizeColumnsToContents();
}

void TSpisakRacuna::SBLocirajClick() {
    const int r = currentRow();
    if (r >= 0) {
        entry_.OpenYear();  // invoices made meanwhile (another till, an input file) are found too
        entry_.GoToNumber(rows_[r].header.integer("Broj").value_or(0));
    }
    hide();
}

void TSpisakRacuna::SBPoveziClick() {
    const int r = currentRow();
    if (r >= 0) kv::reg::LinkReferent(entry_, rows_[r].header);
    hide();
}

void TSpisakRacuna::SBSpisakRacunaClick() { hide(); }

// ---------------------------------------------------------------- partners

TPartneri::TPartneri(kv::AppContext& ctx, kv::reg::InvoiceEntry& entry, QWidget* parent)
    : QWidget(parent, Qt::Dialog), ctx_(ctx), entry_(entry) {
    setObjectName("Partneri");
    setWindowTitle("Partneri");
    resize(820, 460);
    auto* v = new QVBoxLayout(this);
    auto* top = new QHBoxLayout();
    auto* label = new QLabel("Filter naziva", this);
    filter_ = new QLineEdit(this);
    filter_->setObjectName("EdFilter");
    label->setBuddy(filter_);
    top->addWidget(label);
    top->addWidget(filter_, 1);
    auto* link = Button(this, "SBPovezi", "F3 poveži");
    auto* close = Button(this, "SBSpisakRacuna", "F11 Zatvori");
    top->addWidget(link);
    top->addWidget(close);
    v->addLayout(top);
    model_ = new RecordGridModel(this);
    grid_ = Grid(this, "DBGridPartneri", model_);
    v->addWidget(grid_, 1);
    connect(link, &QPushButton::clicked, this, &TPartneri::SBPoveziClick);
    connect(close, &QPushButton::clicked, this, &TPartneri::SBSpisakRacunaClick);
    connect(new QShortcut(QKeySequence(Qt::Key_F3), this), &QShortcut::activated, this, &TPartneri::SBPoveziClick);
    connect(new QShortcut(QKeySequence(Qt::Key_F11), this), &QShortcut::activated, this,
            &TPartneri::SBSpisakRacunaClick);
    connect(filter_, &QLineEdit::textChanged, this, &TPartneri::applyFilter);
    filter_->installEventFilter(this);
}

const kv::reg::Record* TPartneri::current() const {
    const int r = grid_->currentIndex().row();
    return r >= 0 && r < static_cast<int>(shownRows_.size()) ? &shownRows_[r] : nullptr;
}

void TPartneri::show(const std::vector<kv::reg::Record>& rows, const std::string& keepCode) {
    shownRows_ = rows;
    std::vector<RecordGridModel::Col> cols;
    const std::pair<const char*, const char*> fields[] = {{"PARTNERSIFRA", "PARTNERSIFRA"}, {"PARTNERNAZIV", "PARTNERNAZIV"},
                                                          {"PARTNERADRESA", "PARTNERADRESA"}, {"PARTNERMJESTO", "PARTNERMJESTO"},
                                                          {"PARTNERIJIB", "PARTNERIJIB"}, {"PARTNERPIB", "PARTNERPIB"}};
    for (auto [f, caption] : fields) cols.push_back({caption, [this, f = f](int i) { return Cell(shownRows_[i], f); }});
    model_->set(std::move(cols), static_cast<int>(shownRows_.size()));
    int at = 0;
    for (std::size_t i = 0; i < shownRows_.size(); ++i)
        if (shownRows_[i].text("PARTNERSIFRA") == keepCode) at = static_cast<int>(i);
    Select(grid_, at);
}

void TPartneri::Open() {
    all_ = ctx_.db() ? ctx_.db()->Partner() : std::vector<kv::reg::Record>{};
    preskociFilter_ = false;
    filter_->blockSignals(true);
    filter_->clear();
    filter_->blockSignals(false);
    show(all_, {});
    grid_->resizeColumnsToContents();
    Centre(this);
    QWidget::show();
    raise();
    activateWindow();
    filter_->setFocus();
}

void TPartneri::applyFilter(const QString& text) {
    if (preskociFilter_) {
        preskociFilter_ = false;
        return;
    }
    const std::string t = text.toStdString();
    std::vector<kv::reg::Record> rows;
    for (const auto& p : all_)
        if (kv::reg::PartnerMatches(p, t)) rows.push_back(p);
    show(rows, current() ? current()->text("PARTNERSIFRA") : std::string());
}

bool TPartneri::eventFilter(QObject* obj, QEvent* e) {
    if (obj == filter_ && e->type() == QEvent::KeyPress) {
        auto* k = static_cast<QKeyEvent*>(e);
        if (k->key() == Qt::Key_Up || k->key() == Qt::Key_Down) {
            preskociFilter_ = true;
            Select(grid_, grid_->currentIndex().row() + (k->key() == Qt::Key_Up ? -1 : 1));
            return true;
        }
        if (k->key() == Qt::Key_Return || k->key() == Qt::Key_Enter) {
            SBPoveziClick();
            return true;
        }
    }
    if (obj == filter_ && e->type() == QEvent::FocusOut) {
        // Leaving the field: every partner again, the chosen one kept.
        const std::string keep = current() ? current()->text("PARTNERSIFRA") : std::string();
        filter_->blockSignals(true);
        filter_->clear();
        filter_->blockSignals(false);
        show(all_, keep);
    }
    return QWidget::eventFilter(obj, e);
}

void TPartneri::SBPoveziClick() {
    if (const kv::reg::Record* p = current()) {
        const kv::reg::Record partner = *p;
        kv::reg::LinkPartner(entry_, partner);
    }
    filter_->blockSignals(true);
    filter_->clear();
    filter_->blockSignals(false);
    show(all_, {});
    hide();
}

void TPartneri::SBSpisakRacunaClick() { hide(); }

}  // namespace kv::gui

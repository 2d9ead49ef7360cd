#include "register/uUlazi.h"

#include <QAbstractListModel>
#include <QApplication>
#include <QComboBox>
#include <QDateTime>
#include <QGridLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QSplitter>
#include <QTableView>
#include <QToolBar>
#include <QVBoxLayout>

#include "platform/Platform.h"
#include "register/Overviews.h"
#include "register/RowsModel.h"
#include "util/uKvUtils.h"
#include "util/KvGridModel.h"
#include "util/Prompter.h"

namespace kv::gui {

using kv::reg::Record;

namespace {
QString Q(const std::string& s) { return QString::fromStdString(s); }
char Sep() { return kv::platform::DecimalSeparator(); }
QString Money(std::optional<Currency> v) { return v ? Q(kv::reg::FormatIznos(*v, Sep())) : QString(); }

kv::DateTime Now() {
    const QDateTime n = QDateTime::currentDateTime();
    const QDate d = n.date();
    const QTime t = n.time();
    return kv::DateTime::fromParts(d.year(), d.month(), d.day(), t.hour(), t.minute(), t.second());
}
}  // namespace

// ---------------------------------------------------------------- receipts grid

// The year's receipts, newest first; text columns and the levelling mark are
// edited in place and stored at once through the receipt rules.
class UlaziModel : public KvGridModel, public SortableDataset {
public:
    struct Col {
        const char* field;
        const char* title;
    };
    static constexpr Col kCols[] = {{"Broj", "Broj"},           {"Datum", "Datum"},
                                    {"Opis", "Opis"},           {"Kupac", "Dobavljač"},
                                    {"KupacOrgj", "Račun/Otpremnica"}, {"Nivelacija", "Nivelacija"}};
    static constexpr int kNivelacija = 5;

    std::function<bool(Record&)> save;
    std::vector<Record> rows;

    using KvGridModel::KvGridModel;
    void reset(std::vector<Record> r) {
        beginResetModel();
        arrived_ = std::move(r);
        applyOrder();
        endResetModel();
    }
    // The row of the receipt with this number, -1 when there is none.
    int rowOf(std::int64_t broj) const {
        for (size_t i = 0; i < rows.size(); ++i)
            if (rows[i].integer("Broj") == broj) return static_cast<int>(i);
        return -1;
    }

    // A title click sorts by that column (newest first when none is chosen).
    SortableDataset* sortable() override { return this; }
    SortStyle sortStyle() const override { return SortStyle::ThreeStateSql; }
    bool canSort() const override { return true; }
    FieldKind fieldKind(const std::string& field) const override {
        for (const auto& c : kCols)
            if (field == c.field) return FieldKind::Data;
        return FieldKind::Calculated;
    }
    std::string indexFieldNames() const override { return order_; }
    void setIndexFieldNames(const std::string& order) override {
        beginResetModel();
        order_ = order;
        applyOrder();
        endResetModel();
    }
    void first() override { setCurrentRow(0); }
    int rowCount(const QModelIndex& p = {}) const override { return p.isValid() ? 0 : static_cast<int>(rows.size()); }
    int columnCount(const QModelIndex& p = {}) const override { return p.isValid() ? 0 : 6; }
    QString fieldName(int c) const override { return c >= 0 && c < 6 ? kCols[c].field : QString(); }
    QString columnTitle(int c) const override { return c >= 0 && c < 6 ? QString::fromUtf8(kCols[c].title) : QString(); }

    QVariant data(const QModelIndex& i, int role) const override {
        if (!i.isValid()) return {};
        const Record& r = rows[i.row()];
        const char* f = kCols[i.column()].field;
        if (i.column() == kNivelacija) {
            if (role == Qt::CheckStateRole) return r.integer(f) == 1 ? Qt::Checked : Qt::Unchecked;
            return {};
        }
        if (role == Qt::DisplayRole || role == Qt::EditRole) {
            if (i.column() == 1) {
                auto d = r.date(f);
                return d ? Q(kv::reg::FormatDatum(d->toIsoDate())) : QString();
            }
            return Q(r.text(f));
        }
        if (role == Qt::TextAlignmentRole && i.column() == 0) return QVariant::fromValue(Qt::AlignRight | Qt::AlignVCenter);
        return {};
    }
    Qt::ItemFlags flags(const QModelIndex& i) const override {
        Qt::ItemFlags f = Qt::ItemIsSelectable | Qt::ItemIsEnabled;
        if (i.column() == kNivelacija) return f | Qt::ItemIsUserCheckable;
        if (i.column() > 0) f |= Qt::ItemIsEditable;
        return f;
    }
    bool setData(const QModelIndex& i, const QVariant& v, int role) override {
        if (!i.isValid() || !save) return false;
        Record r = rows[i.row()];
        try {
            if (i.column() == kNivelacija && role == Qt::CheckStateRole)
                r.set("Nivelacija", std::int64_t(v.toInt() == Qt::Checked ? 1 : 0));
            else if (role == Qt::EditRole && i.column() > 0)
                r.set(kCols[i.column()].field, v.toString().toStdString());
            else
                return false;
        } catch (const std::invalid_argument&) {
            return false;  // no date: the cell keeps its value
        }
        if (!save(r)) return false;
        for (auto& a : arrived_)
            if (a.integer("Broj") == r.integer("Broj")) a = r;
        rows[i.row()] = r;
        emit dataChanged(index(i.row(), 0), index(i.row(), 5));
        return true;
    }

private:
    void applyOrder() {
        rows = arrived_;
        std::string field = order_;
        const bool desc = field.size() > 2 && field.compare(field.size() - 2, 2, ":D") == 0;
        if (desc) field.resize(field.size() - 2);
        if (fieldKind(field) != FieldKind::Data) return;
        const bool number = field == "Broj" || field == "Nivelacija";
        auto less = [&](const Record& a, const Record& b) {
            if (number) return a.integer(field).value_or(0) < b.integer(field).value_or(0);
            return QString::fromStdString(a.text(field)).localeAwareCompare(QString::fromStdString(b.text(field))) < 0;
        };
        std::stable_sort(rows.begin(), rows.end(),
                         [&](const Record& a, const Record& b) { return desc ? less(b, a) : less(a, b); });
    }

    std::vector<Record> arrived_;  // newest first, as read
    std::string order_;
};

// ---------------------------------------------------------------- article pickers

// One list of articles seen by the two pickers, each in its own words.
class ArtiklListModel : public QAbstractListModel {
public:
    ArtiklListModel(const kv::reg::ArtiklPicker& p, bool byName, QObject* parent)
        : QAbstractListModel(parent), picker_(p), byName_(byName) {}
    void reorder() {
        beginResetModel();
        endResetModel();
    }
    int rowCount(const QModelIndex& p = {}) const override {
        return p.isValid() ? 0 : static_cast<int>(picker_.rows().size());
    }
    QVariant data(const QModelIndex& i, int role) const override {
        if (!i.isValid() || role != Qt::DisplayRole) return {};
        const Record& r = picker_.rows()[i.row()];
        if (!byName_) return Q(r.text("Sifra") + "   " + r.text("Naziv"));
        return Q(r.text("Naziv") + "   " + r.text("Sifra") + "   " +
                 kv::reg::FormatIznos(r.decimal("Cijena").value_or(Currency()), Sep()));
    }

private:
    const kv::reg::ArtiklPicker& picker_;
    bool byName_;
};

// ---------------------------------------------------------------- page

TUlazi::TUlazi(kv::reg::TDMGlavni& dm, kv::Prompter& prompter, std::function<kv::DateTime()> workDate,
               QWidget* parent)
    : QWidget(parent), dm_(dm), prompter_(prompter), workDate_(std::move(workDate)) {
    setObjectName("Ulazi");
    auto* v = new QVBoxLayout(this);
    v->setContentsMargins(2, 2, 2, 2);

    TbUlazi_ = new QToolBar(this);
    TbUlazi_->setObjectName("TbUlazi");
    struct Btn {
        const char* name;
        const char* text;
        void (TUlazi::*fn)();
    } buttons[] = {{"TbFirst", "|<", &TUlazi::First},     {"TbPrior", "<", &TUlazi::Prior},
                   {"TbNext", ">", &TUlazi::Next},        {"TbLast", ">|", &TUlazi::Last},
                   {"TbInsert", "+", &TUlazi::Insert},    {"TbPost", "✓", &TUlazi::Post},
                   {"TbCancel", "✗", &TUlazi::Cancel},    {"TbDelete", "−", &TUlazi::Delete}};
    for (const auto& b : buttons) {
        QAction* a = TbUlazi_->addAction(QString::fromUtf8(b.text));
        a->setObjectName(b.name);
        auto fn = b.fn;
        connect(a, &QAction::triggered, this, [this, fn] { (this->*fn)(); });
    }
    // The buttons must not take the focus that tells them what to act on.
    for (QWidget* w : TbUlazi_->findChildren<QWidget*>()) w->setFocusPolicy(Qt::NoFocus);
    v->addWidget(TbUlazi_);

    auto* split = new QSplitter(Qt::Vertical, this);
    v->addWidget(split, 1);

    DBGridUlazi_ = new QTableView(split);
    DBGridUlazi_->setObjectName("DBGridUlazi");
    ulazi_ = new UlaziModel(this);
    ulazi_->save = [this](Record& r) {
        try {
            return kv::reg::SaveUlaz(dm_, r, prompter_);
        } catch (const std::exception& e) {
            report(e);
            return false;
        }
    };
    DBGridUlazi_->setModel(ulazi_);
    DBGridUlazi_->setSelectionBehavior(QAbstractItemView::SelectRows);
    DBGridUlazi_->setSelectionMode(QAbstractItemView::SingleSelection);
    DBGridUlazi_->setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed |
                                  QAbstractItemView::AnyKeyPressed);
    DBGridUlazi_->verticalHeader()->hide();
    connect(DBGridUlazi_->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            [this] { receiptChanged(); });
    // A stored header may have changed kind (the levelling mark): the panel follows.
    connect(ulazi_, &QAbstractItemModel::dataChanged, this, [this](const QModelIndex& i) {
        if (i.row() == currentReceipt()) receiptChanged();
    });

    auto* bottom = new QWidget(split);
    auto* bv = new QVBoxLayout(bottom);
    bv->setContentsMargins(0, 0, 0, 0);
    auto* panel = new QGridLayout();
    bv->addLayout(panel);
    auto edit = [&](const char* name, bool readOnly) {
        auto* e = new QLineEdit(bottom);
        e->setObjectName(name);
        e->setReadOnly(readOnly);
        e->installEventFilter(this);
        return e;
    };
    auto combo = [&](const char* name, int popupWidth) {
        auto* c = new QComboBox(bottom);
        c->setObjectName(name);
        c->view()->setMinimumWidth(popupWidth);
        c->installEventFilter(this);
        c->setMinimumContentsLength(12);
        return c;
    };
    StavkeUlazBroj_ = edit("StavkeUlazBroj", false);
    StavkeUlazSifra_ = combo("StavkeUlazSifra", 400);
    StavkeUlazNaziv_ = combo("StavkeUlazNaziv", 300);
    StavkeUlazOpis_ = edit("StavkeUlazOpis", true);
    StavkeUlazKol_ = edit("StavkeUlazKol", false);
    StavkeUlazStaraCijena_ = edit("StavkeUlazStaraCijena", true);
    StavkeUlazCijena_ = edit("StavkeUlazCijena", true);
    StavkeUlazIznos_ = edit("StavkeUlazIznos", true);
    for (QLineEdit* e : {StavkeUlazKol_, StavkeUlazCijena_, StavkeUlazStaraCijena_, StavkeUlazIznos_})
        e->setAlignment(Qt::AlignRight);
    byCode_ = new ArtiklListModel(picker_, false, this);
    byName_ = new ArtiklListModel(picker_, true, this);
    StavkeUlazSifra_->setModel(byCode_);
    StavkeUlazNaziv_->setModel(byName_);
    LblStaraCijena_ = new QLabel("Stara cijena", bottom);
    struct Field {
        const char* caption;
        QWidget* w;
        QLabel* label = nullptr;
    } fields[] = {{"R.Br.", StavkeUlazBroj_},        {"Šifra", StavkeUlazSifra_},   {"Naziv", StavkeUlazNaziv_},
                  {"Opis", StavkeUlazOpis_},         {"Količina", StavkeUlazKol_},  {"", StavkeUlazStaraCijena_, LblStaraCijena_},
                  {"Cijena", StavkeUlazCijena_},     {"Iznos", StavkeUlazIznos_}};
    int col = 0;
    for (auto& f : fields) {
        panel->addWidget(f.label ? f.label : new QLabel(QString::fromUtf8(f.caption), bottom), 0, col);
        panel->addWidget(f.w, 1, col);
        panel->setColumnStretch(col, f.w == StavkeUlazNaziv_ || f.w == StavkeUlazOpis_ ? 3 : 1);
        ++col;
    }
    for (QComboBox* c : {StavkeUlazSifra_, StavkeUlazNaziv_})
        connect(c, &QComboBox::activated, this, [this, c](int row) { pick(c, row); });
    connect(StavkeUlazKol_, &QLineEdit::textEdited, this, [this] { lineFromEdits(); });
    connect(StavkeUlazCijena_, &QLineEdit::textEdited, this, [this] { lineFromEdits(); });
    connect(StavkeUlazBroj_, &QLineEdit::textEdited, this, [this] { lineFromEdits(); });

    DBGridStavkeUlaz_ = new QTableView(bottom);
    DBGridStavkeUlaz_->setObjectName("DBGridStavkeUlaz");
    stavke_ = new RowsModel({{"Stavka", "R.Br.", true},
                             {"Artikl", "Šifra"},
                             {"Opis", "Opis"},
                             {"KolUlaz", "Količina", true},
                             {"Cijena", "Cijena", true},
                             {"Iznos", "Iznos", true}},
                            this);
    DBGridStavkeUlaz_->setModel(stavke_);
    DBGridStavkeUlaz_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    DBGridStavkeUlaz_->setSelectionBehavior(QAbstractItemView::SelectRows);
    DBGridStavkeUlaz_->setSelectionMode(QAbstractItemView::SingleSelection);
    DBGridStavkeUlaz_->verticalHeader()->hide();
    InstallTitleSort(DBGridStavkeUlaz_);
    InstallTitleSort(DBGridUlazi_);
    connect(DBGridStavkeUlaz_->selectionModel(), &QItemSelectionModel::currentRowChanged, this, [this] {
        if (!line_) showLine();
    });
    bv->addWidget(DBGridStavkeUlaz_, 1);

    auto* foot = new QHBoxLayout();
    foot->addStretch(1);
    foot->addWidget(new QLabel(kv::reg::ulaz_texts::kUkupnoUlaz, bottom));
    LblUkupnoUlaz_ = new QLabel(bottom);
    LblUkupnoUlaz_->setObjectName("LblUkupnoUlaz");
    LblUkupnoUlaz_->setMinimumWidth(100);
    LblUkupnoUlaz_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    QFont bold = LblUkupnoUlaz_->font();
    bold.setBold(true);
    LblUkupnoUlaz_->setFont(bold);
    foot->addWidget(LblUkupnoUlaz_);
    bv->addLayout(foot);
    split->setStretchFactor(0, 1);
    split->setStretchFactor(1, 2);

    connect(qApp, &QApplication::focusChanged, this, [this](QWidget*, QWidget* now) {
        if (!now || !isAncestorOf(now)) return;
        area_ = now == DBGridUlazi_ || DBGridUlazi_->isAncestorOf(now) ? Area::Receipts : Area::Lines;
    });
}

TUlazi::~TUlazi() = default;

void TUlazi::report(const std::exception& e) { prompter_.message(e.what(), kv::MsgKind::Error); }

int TUlazi::currentReceipt() const { return DBGridUlazi_->currentIndex().row(); }

const Record* TUlazi::receipt() const {
    const int r = currentReceipt();
    return r >= 0 && r < static_cast<int>(ulazi_->rows.size()) ? &ulazi_->rows[r] : nullptr;
}

bool TUlazi::levelling() const {
    const Record* r = receipt();
    return r && r->integer("Nivelacija") == 1;
}

void TUlazi::Reload() {
    try {
        const int godina = workDate_().parts().year;
        ulazi_->reset(dm_.Ulazi(godina));
        picker_.Load(dm_.Artikl());
        byCode_->reorder();
        byName_->reorder();
    } catch (const std::exception& e) {
        report(e);
    }
    DBGridUlazi_->resizeColumnsToContents();
    if (!ulazi_->rows.empty())
        DBGridUlazi_->setCurrentIndex(ulazi_->index(0, 0));
    else
        receiptChanged();
}

void TUlazi::receiptChanged() {
    line_.reset();
    const bool niv = levelling();
    StavkeUlazStaraCijena_->setVisible(niv);
    LblStaraCijena_->setVisible(niv);
    StavkeUlazCijena_->setReadOnly(!niv);
    showLines();
}

void TUlazi::showLines() {
    const Record* h = receipt();
    lines_.clear();
    std::optional<Currency> total;
    try {
        if (h) {
            const int godina = static_cast<int>(h->integer("Godina").value_or(0));
            const auto broj = h->integer("Broj").value_or(0);
            lines_ = dm_.StavkeUlaz(godina, kv::reg::kUlaz, broj);
            total = dm_.ZbirUlaz(godina, kv::reg::kUlaz, broj);
        }
    } catch (const std::exception& e) {
        report(e);
    }
    std::vector<std::vector<RowsCell>> rows;
    for (const auto& l : lines_) {
        auto num = [&](const char* c) {
            const Currency v = l.decimal(c).value_or(Currency());
            return RowsCell{Money(v), QVariant::fromValue<qlonglong>(v.raw())};
        };
        rows.push_back({{QString::number(l.integer("Stavka").value_or(0)), QVariant::fromValue<qlonglong>(l.integer("Stavka").value_or(0))},
                        {Q(l.text("Artikl"))},
                        {Q(l.text("Opis"))},
                        num("KolUlaz"),
                        num("Cijena"),
                        num("Iznos")});
    }
    stavke_->setRows(std::move(rows));
    DBGridStavkeUlaz_->resizeColumnsToContents();
    if (!lines_.empty()) DBGridStavkeUlaz_->setCurrentIndex(stavke_->index(static_cast<int>(lines_.size()) - 1, 0));
    LblUkupnoUlaz_->setText(Money(total));
    showLine();
}

void TUlazi::showLine() {
    const Record* l = nullptr;
    if (line_) {
        l = &*line_;
    } else {
        const int r = DBGridStavkeUlaz_->currentIndex().row();
        // The grid may be sorted by a title: find the line by its number.
        if (r >= 0) {
            const QString stavka = stavke_->text(r, 0);
            for (const auto& x : lines_)
                if (QString::number(x.integer("Stavka").value_or(0)) == stavka) l = &x;
        }
    }
    auto money = [&](const char* c) { return l ? Money(l->decimal(c)) : QString(); };
    StavkeUlazBroj_->setText(l && !l->isNull("Stavka") ? QString::number(*l->integer("Stavka")) : QString());
    StavkeUlazOpis_->setText(l ? Q(l->text("Opis")) : QString());
    StavkeUlazKol_->setText(l ? Q(kv::reg::FormatKolicina(l->decimal("KolUlaz").value_or(Currency()), Sep()))
                              : QString());
    StavkeUlazCijena_->setText(money("Cijena"));
    StavkeUlazStaraCijena_->setText(money("Stopa"));
    StavkeUlazIznos_->setText(money("Iznos"));
    loadingPicker_ = true;
    const std::string sifra = l ? l->text("Artikl") : std::string();
    int row = -1;
    for (size_t i = 0; i < picker_.rows().size(); ++i)
        if (!sifra.empty() && picker_.rows()[i].text("Sifra") == sifra) row = static_cast<int>(i);
    StavkeUlazSifra_->setCurrentIndex(row);
    StavkeUlazNaziv_->setCurrentIndex(row);
    loadingPicker_ = false;
}

void TUlazi::lineFromEdits() {
    if (!line_) {
        // Typing into the panel edits the line it shows, or starts one.
        const int r = DBGridStavkeUlaz_->currentIndex().row();
        const QString stavka = r >= 0 ? stavke_->text(r, 0) : QString();
        for (const auto& x : lines_)
            if (QString::number(x.integer("Stavka").value_or(0)) == stavka) line_ = x;
        if (!line_) {
            if (!receipt()) return;
            line_ = kv::reg::NewStavkaUlaz(dm_, *receipt());
        }
    }
    const bool niv = levelling();
    if (auto n = StavkeUlazBroj_->text().trimmed().toLongLong(); n > 0) line_->set("Stavka", std::int64_t(n));
    if (niv)
        if (auto c = kv::ParseCurrencyWithRetry(StavkeUlazCijena_->text().toStdString(), Sep()))
            line_->set("Cijena", RoundCurr(-2, *c));
    auto q = kv::ParseCurrencyWithRetry(StavkeUlazKol_->text().toStdString(), Sep());
    kv::reg::SetKolicina(*line_, q.value_or(Currency()), niv);
    StavkeUlazIznos_->setText(Money(line_->decimal("Iznos")));
}

void TUlazi::beginLine() {
    const Record* h = receipt();
    if (!h) return;
    try {
        line_ = kv::reg::NewStavkaUlaz(dm_, *h);
    } catch (const std::exception& e) {
        report(e);
        return;
    }
    showLine();
    focusField(StavkeUlazBroj_);
}

bool TUlazi::postLine() {
    if (!line_) return true;
    try {
        if (!kv::reg::SaveStavkaUlaz(dm_, *line_, levelling(), prompter_, [] { QApplication::beep(); }))
            return false;
    } catch (const std::exception& e) {
        report(e);
        return false;
    }
    const auto stavka = line_->integer("Stavka");
    line_.reset();
    if (levelling()) {
        // The article's price changed: the pickers show the new one.
        const std::optional<std::string> at =
            picker_.currentRecord() ? std::optional(picker_.currentRecord()->text("Sifra")) : std::nullopt;
        picker_.Load(dm_.Artikl());
        if (at) picker_.locate(*at);
        byCode_->reorder();
        byName_->reorder();
    }
    showLines();
    for (size_t i = 0; i < lines_.size(); ++i)
        if (lines_[i].integer("Stavka") == stavka)
            DBGridStavkeUlaz_->setCurrentIndex(stavke_->index(static_cast<int>(i), 0));
    return true;
}

void TUlazi::focusField(QWidget* w) {
    // Focusing may fail while the page is hidden; that is fine.
    if (w && w->isEnabled()) w->setFocus();
}

void TUlazi::pickerEntered(QComboBox* combo) {
    if (combo == StavkeUlazSifra_)
        picker_.EnterCodePicker();
    else
        picker_.EnterNamePicker();
    byCode_->reorder();
    byName_->reorder();
    loadingPicker_ = true;
    combo->setCurrentIndex(picker_.current());
    QComboBox* other = combo == StavkeUlazSifra_ ? StavkeUlazNaziv_ : StavkeUlazSifra_;
    other->setCurrentIndex(picker_.current());
    loadingPicker_ = false;
}

void TUlazi::pickerLeft(QComboBox* combo) {
    picker_.setCurrent(combo->currentIndex());
    picker_.Leave();
}

void TUlazi::pick(QComboBox* combo, int row) {
    if (loadingPicker_) return;
    picker_.setCurrent(row);
    const Record* a = picker_.currentRecord();
    if (!a) return;
    if (!line_) lineFromEdits();
    if (!line_) return;
    kv::reg::SetArtikl(*line_, *a, levelling());
    kv::reg::RecalcIznos(*line_, levelling());
    showLine();
    loadingPicker_ = true;
    (combo == StavkeUlazSifra_ ? StavkeUlazNaziv_ : StavkeUlazSifra_)->setCurrentIndex(row);
    loadingPicker_ = false;
}

void TUlazi::enterPressed(QWidget* w) {
    if (w == StavkeUlazBroj_)
        focusField(StavkeUlazSifra_);
    else if (w == StavkeUlazSifra_)
        focusField(StavkeUlazNaziv_);
    else if (w == StavkeUlazNaziv_)
        focusField(StavkeUlazKol_);
    else if (w == StavkeUlazKol_)
        focusField(levelling() ? StavkeUlazCijena_ : StavkeUlazIznos_);
    else if (w == StavkeUlazCijena_)
        focusField(StavkeUlazIznos_);
    else if (w == StavkeUlazIznos_ && line_) {
        if (postLine()) beginLine();
    }
}

bool TUlazi::eventFilter(QObject* obj, QEvent* e) {
    auto* w = qobject_cast<QWidget*>(obj);
    if (e->type() == QEvent::KeyPress) {
        auto* k = static_cast<QKeyEvent*>(e);
        if (k->key() == Qt::Key_Return || k->key() == Qt::Key_Enter) {
            auto* c = qobject_cast<QComboBox*>(obj);
            if (!(c && c->view()->isVisible())) {
                enterPressed(w);
                return true;
            }
        }
    } else if (auto* c = qobject_cast<QComboBox*>(obj)) {
        if (e->type() == QEvent::FocusIn)
            pickerEntered(c);
        else if (e->type() == QEvent::FocusOut && !c->view()->isVisible())
            pickerLeft(c);
    }
    return QWidget::eventFilter(obj, e);
}

// ---------------------------------------------------------------- tool bar

void TUlazi::First() {
    QTableView* g = area_ == Area::Receipts ? DBGridUlazi_ : DBGridStavkeUlaz_;
    if (g->model()->rowCount() > 0) g->setCurrentIndex(g->model()->index(0, 0));
}
void TUlazi::Last() {
    QTableView* g = area_ == Area::Receipts ? DBGridUlazi_ : DBGridStavkeUlaz_;
    if (int n = g->model()->rowCount(); n > 0) g->setCurrentIndex(g->model()->index(n - 1, 0));
}
void TUlazi::Prior() {
    QTableView* g = area_ == Area::Receipts ? DBGridUlazi_ : DBGridStavkeUlaz_;
    if (int r = g->currentIndex().row(); r > 0) g->setCurrentIndex(g->model()->index(r - 1, 0));
}
void TUlazi::Next() {
    QTableView* g = area_ == Area::Receipts ? DBGridUlazi_ : DBGridStavkeUlaz_;
    if (int r = g->currentIndex().row(); r + 1 < g->model()->rowCount())
        g->setCurrentIndex(g->model()->index(r + 1, 0));
}

void TUlazi::Insert() {
    if (area_ == Area::Receipts)
        insertReceipt();
    else
        beginLine();
}

void TUlazi::Post() {
    if (area_ == Area::Lines) postLine();
    // Receipt cells are stored as soon as they are edited.
}

void TUlazi::Cancel() {
    if (area_ == Area::Lines) {
        line_.reset();
        showLine();
    }
}

void TUlazi::Delete() {
    if (area_ == Area::Receipts) {
        deleteReceipt();
        return;
    }
    if (line_ && line_->isNew()) {
        line_.reset();
        showLine();
        return;
    }
    const int r = DBGridStavkeUlaz_->currentIndex().row();
    if (r < 0) return;
    const QString stavka = stavke_->text(r, 0);
    for (const auto& l : lines_)
        if (QString::number(l.integer("Stavka").value_or(0)) == stavka) {
            if (!prompter_.confirm("Obrisati stavku " + stavka.toStdString() + "?")) return;
            try {
                kv::reg::DeleteStavkaUlaz(dm_, l, levelling());
            } catch (const std::exception& e) {
                report(e);
            }
            line_.reset();
            showLines();
            return;
        }
}

void TUlazi::insertReceipt() {
    const kv::DateTime work = workDate_();
    Record h = kv::reg::NewUlaz(work.parts().year, work, Now());
    try {
        if (!kv::reg::SaveUlaz(dm_, h, prompter_)) return;
    } catch (const std::exception& e) {
        report(e);
        return;
    }
    Reload();
    DBGridUlazi_->setFocus();
    // The newest receipt comes first unless a title click ordered the grid otherwise.
    const int row = std::max(0, ulazi_->rowOf(h.integer("Broj").value_or(0)));
    DBGridUlazi_->setCurrentIndex(ulazi_->index(row, 3));  // the supplier is typed next
}

void TUlazi::deleteReceipt() {
    const Record* h = receipt();
    if (!h) return;
    const int row = currentReceipt();
    if (!prompter_.confirm("Obrisati ulaz broj " + std::to_string(h->integer("Broj").value_or(0)) +
                           " sa svim stavkama?"))
        return;
    try {
        kv::reg::DeleteUlaz(dm_, *h);
    } catch (const std::exception& e) {
        report(e);
    }
    Reload();
    if (int n = ulazi_->rowCount(); n > 0) DBGridUlazi_->setCurrentIndex(ulazi_->index(std::min(row, n - 1), 0));
}

}  // namespace kv::gui

#include "register/uSifarnici.h"

#include "util/Prompter.h"

#include <QAbstractTableModel>
#include <QApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QSplitter>
#include <QTabWidget>
#include <QInputDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QTableView>
#include <QToolButton>
#include <QVBoxLayout>
#include <functional>

#include "app/AppContext.h"
#include "platform/Platform.h"
#include "register/CodeLists.h"
#include "register/uDMGlavni.h"
#include "util/KvGridModel.h"
#include "util/uKvUtils.h"

namespace kv::gui {

namespace {
QString Q(const std::string& s) { return QString::fromStdString(s); }
}  // namespace

// An editable grid over one code list: stored columns edit the current row,
// looked-up columns only show.
class CodeListModel : public KvGridModel, public SortableDataset {
public:
    struct Col {
        std::string field;
        QString caption;
        std::function<QString(const kv::reg::Record&)> lookup;  // set: read-only
    };
    CodeListModel(kv::reg::CodeList& list, std::vector<Col> cols, bool sortable, QObject* parent)
        : KvGridModel(parent), list_(list), cols_(std::move(cols)), sortable_(sortable) {}

    // Title clicks: three states over the list's own rows.
    SortableDataset* sortable() override { return sortable_ ? this : nullptr; }
    QString fieldName(int column) const override { return QString::fromStdString(cols_[column].field); }
    QString columnTitle(int column) const override { return cols_[column].caption; }
    SortStyle sortStyle() const override { return SortStyle::ThreeStateSql; }
    bool canSort() const override { return true; }
    FieldKind fieldKind(const std::string& field) const override {
        for (const auto& c : cols_)
            if (c.field == field && c.lookup) return FieldKind::Lookup;
        return FieldKind::Data;
    }
    std::string indexFieldNames() const override { return list_.order(); }
    void setIndexFieldNames(const std::string& order) override { list_.SetOrder(order); }
    void first() override { list_.First(); }
    int currentRow() const override { return list_.current(); }
    // Shows the list again: a reset only when rows came or went, so an
    // edit in progress and the grid's current cell survive a change.
    void show() {
        const int n = static_cast<int>(list_.rows().size());
        if (n != shownRows_) {
            beginResetModel();
            shownRows_ = n;
            endResetModel();
        } else if (n > 0) {
            emit dataChanged(index(0, 0), index(n - 1, columnCount() - 1));
        }
    }
    int rowCount(const QModelIndex& = {}) const override { return static_cast<int>(list_.rows().size()); }
    int columnCount(const QModelIndex& = {}) const override { return static_cast<int>(cols_.size()); }
    Qt::ItemFlags flags(const QModelIndex& i) const override {
        auto f = QAbstractTableModel::flags(i);
        return cols_[i.column()].lookup ? f : f | Qt::ItemIsEditable;
    }
    QVariant data(const QModelIndex& i, int role) const override {
        if (!i.isValid() || (role != Qt::DisplayRole && role != Qt::EditRole)) return {};
        const auto& r = list_.rows()[i.row()];
        const Col& c = cols_[i.column()];
        if (c.lookup) return c.lookup(r);
        const auto& col = r.table->columns[r.table->index(c.field)];
        if (auto d = r.decimal(c.field); d && col.type == kv::reg::ColType::Money && role == Qt::DisplayRole)
            return Q(kv::FormatTotal(*d, kv::platform::DecimalSeparator()));
        if (auto d = r.decimal(c.field))
            return Q(kv::LocaleNumberText(*d, kv::platform::DecimalSeparator()));
        return Q(r.text(c.field));
    }
    bool setData(const QModelIndex& i, const QVariant& v, int role) override {
        if (role != Qt::EditRole || cols_[i.column()].lookup) return false;
        if (i.row() != list_.current() && !list_.GoTo(i.row())) return false;
        return list_.SetField(cols_[i.column()].field, v.toString().toStdString());
    }

private:
    kv::reg::CodeList& list_;
    std::vector<Col> cols_;
    bool sortable_;
    int shownRows_ = 0;
};

TSifarnici::TSifarnici(kv::AppContext& ctx, QTabWidget* pages, QObject* parent)
    : QObject(parent), ctx_(ctx), pages_(pages) {
    setObjectName("Sifarnici");
    // The toolbar above the sub-pages.
    QWidget* page = pages->parentWidget();
    auto* bar = new QHBoxLayout();
    const std::pair<const char*, const char*> buttons[] = {{"First", "|<"}, {"Prior", "<"}, {"Next", ">"},
                                                           {"Last", ">|"},  {"Insert", "+"}, {"Post", "✓"},
                                                           {"Cancel", "✗"}, {"Delete", "−"}};
    for (auto [name, text] : buttons) {
        auto* b = new QToolButton(page);
        b->setObjectName(QString("DBNavigator") + name);
        b->setText(QString::fromUtf8(text));
        b->setToolTip(name);
        // Taking the focus on a click ends an edit open in a cell, so its text is in the row.
        b->setFocusPolicy(Qt::ClickFocus);
        b->setMinimumSize(32, 28);
        connect(b, &QToolButton::clicked, this, [this, n = QString(name)] { Command(n); });
        bar->addWidget(b);
    }
    bar->addStretch(1);
    if (auto* v = qobject_cast<QVBoxLayout*>(page->layout())) v->insertLayout(0, bar);
    connect(qApp, &QApplication::focusChanged, this, [this](QWidget*, QWidget* now) {
        for (auto& e : entries_)
            if (now && (now == e->grid || e->grid->isAncestorOf(now))) active_ = e.get();
    });
}

TSifarnici::~TSifarnici() = default;

TSifarnici::Entry* TSifarnici::byName(const char* gridName) {
    for (auto& e : entries_)
        if (e->grid->objectName() == gridName) return e.get();
    return nullptr;
}
kv::reg::CodeList* TSifarnici::list(const char* gridName) {
    auto* e = byName(gridName);
    return e ? e->list.get() : nullptr;
}
QTableView* TSifarnici::grid(const char* gridName) {
    auto* e = byName(gridName);
    return e ? e->grid : nullptr;
}

void TSifarnici::select(Entry& e) {
    const int r = e.list->current();
    if (r >= 0 && e.grid->currentIndex().row() != r) {
        const int col = std::max(0, e.grid->currentIndex().column());
        e.grid->setCurrentIndex(e.model->index(r, col));
    }
}

void TSifarnici::StartUp() {
    kv::reg::TDMGlavni* db = ctx_.db();
    if (!db || !entries_.empty()) return;
    auto tab = [&](const char* name) { return pages_->findChild<QWidget*>(name); };
    using Col = CodeListModel::Col;
    auto make = [&](QWidget* parent, const char* gridName, const char* table, std::vector<Col> cols,
                    bool sortable = false) {
        auto e = std::make_unique<Entry>();
        e->list = std::make_unique<kv::reg::CodeList>(*db, table, ctx_.prompter);
        e->model = new CodeListModel(*e->list, std::move(cols), sortable, parent);
        e->grid = new QTableView(parent);
        e->grid->setObjectName(gridName);
        e->grid->setModel(e->model);
        e->grid->verticalHeader()->setDefaultSectionSize(20);
        e->grid->setSelectionMode(QAbstractItemView::SingleSelection);
        e->grid->setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed |
                                 QAbstractItemView::AnyKeyPressed);
        Entry* raw = e.get();
        e->list->onChanged = [this, raw] {
            syncing_ = true;
            raw->model->show();
            select(*raw);
            syncing_ = false;
        };
        connect(e->grid->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
                [this, raw](const QModelIndex& now) {
                    if (syncing_ || !now.isValid() || now.row() == raw->list->current()) return;
                    if (!raw->list->GoTo(now.row())) {
                        syncing_ = true;
                        select(*raw);
                        syncing_ = false;
                    }
                });
        if (sortable) InstallTitleSort(e->grid);
        entries_.push_back(std::move(e));
        return raw;
    };
    auto page = [&](const char* name) {
        QWidget* p = tab(name);
        auto* v = new QVBoxLayout(p);
        v->setContentsMargins(2, 2, 2, 2);
        return std::make_pair(p, v);
    };
    auto lists = [this](const char* g) { return list(g); };
    auto find = [](kv::reg::CodeList* l, const char* key, const std::string& value) -> const kv::reg::Record* {
        if (!l) return nullptr;
        for (const auto& r : l->rows())
            if (r.text(key) == value) return &r;
        return nullptr;
    };

    {
        auto [p, v] = page("TabGrupe");
        v->addWidget(make(p, "GridGrupe", "Grupa", {{"Sifra", "Šifra"}, {"Naziv", "Naziv"}}, true)->grid);
    }
    {
        auto [p, v] = page("TabRadnici");
        Entry* radnici = make(p, "GridRadnici", "Radnik", {{"Username", "Username"}, {"PrezimeIme", "Prezime i ime"}}, true);
        v->addWidget(radnici->grid);
        // Passwords never show in the grid: they are set here and kept as hashes.
        auto* setPassword = new QPushButton(QString::fromUtf8("Postavi lozinku..."), p);
        setPassword->setObjectName("BtLozinka");
        setPassword->setEnabled(ctx_.settings.KasaBaf.integer("Server") != 1);
        v->addWidget(setPassword, 0, Qt::AlignLeft);
        connect(setPassword, &QPushButton::clicked, this, [this, radnici] {
            const int row = radnici->list->current();
            if (row < 0 || row >= static_cast<int>(radnici->list->rows().size())) return;
            const std::string user = radnici->list->rows()[static_cast<size_t>(row)].text("Username");
            if (user.empty()) return;
            bool ok = false;
            const QString pass = QInputDialog::getText(radnici->grid->window(), QString::fromUtf8("Lozinka"),
                                                       QString::fromUtf8("Nova lozinka za ") + Q(user) + ":",
                                                       QLineEdit::Password, QString(), &ok);
            if (!ok || pass.isEmpty()) return;
            if (ctx_.db()->SetPassword(user, pass.toStdString()))
                ctx_.prompter.message("Lozinka je postavljena.", kv::MsgKind::Information);
        });
    }
    {
        auto [p, v] = page("TabTarife");
        v->addWidget(make(p, "GridTarife", "Tarifa", {{"SIFRA", "Šifra"}, {"STOPA", "Stopa"}, {"FiskTax", "FiskTax"}})->grid);
    }
    {
        auto [p, v] = page("TabPaymentType");
        v->addWidget(
            make(p, "GridNacPL", "PaymentType", {{"Sifra", "Sifra"}, {"Opis", "Opis"}, {"FiskPayType", "FiskPayType"}})->grid);
    }
    {
        auto [p, v] = page("TabPartner");
        v->addWidget(make(p, "GridPartneri", "Partner",
                          {{"PARTNERSIFRA", "Šifra"}, {"PARTNERNAZIV", "Naziv"}, {"PARTNERADRESA", "Adresa"},
                           {"PARTNERMJESTO", "Mjesto"}, {"PARTNERIJIB", "JIB"}, {"PARTNERPIB", "PIB"}},
                          true)
                         ->grid);
    }
    {
        auto [p, v] = page("TabArtikli");
        auto* split = new QSplitter(p);
        v->addWidget(split);
        auto lk = [=](const char* g, const char* key, const char* ownField, const char* field) {
            return [=](const kv::reg::Record& r) {
                const kv::reg::Record* m = find(lists(g), key, r.text(ownField));
                if (!m) return QString();
                if (auto d = m->decimal(field)) return Q(kv::LocaleNumberText(*d, kv::platform::DecimalSeparator()));
                return Q(m->text(field));
            };
        };
        Entry* art = make(split, "GridArtikli", "Artikl",
                          {{"Sifra", "Šifra"},
                           {"Naziv", "Naziv"},
                           {"Grupa", "Grupa"},
                           {"LkGrupa", "Grupa naziv", lk("GridGrupe", "Sifra", "Grupa", "Naziv")},
                           {"Tarifa", "Tarifa"},
                           {"LkStopa", "Stopa%", lk("GridTarife", "SIFRA", "Tarifa", "STOPA")},
                           {"LkFiskTax", "Fisk Tax", lk("GridTarife", "SIFRA", "Tarifa", "FiskTax")},
                           {"Cijena", "Cijena"}},
                          true);
        Entry* bar = make(split, "GridBarKod", "Barkod", {{"Sifra", "Barkod"}});
        split->addWidget(art->grid);
        split->addWidget(bar->grid);
        split->setStretchFactor(0, 4);
        split->setStretchFactor(1, 1);
        art->list->currentGrupa = [this]() -> std::optional<std::string> {
            auto* g = list("GridGrupe");
            return g && g->currentRow() ? std::optional<std::string>(g->currentRow()->text("Sifra")) : std::nullopt;
        };
        art->list->currentTarifa = [this]() -> std::optional<std::string> {
            auto* t = list("GridTarife");
            return t && t->currentRow() ? std::optional<std::string>(t->currentRow()->text("SIFRA")) : std::nullopt;
        };
        auto follow = art->list->onChanged;
        art->list->onChanged = [this, follow, art, bar] {
            follow();
            const auto* r = art->list->currentRow();
            const std::string key = r && !r->isNew() ? r->text("Sifra") : std::string();
            if (bar->list->rows().empty() || bar->list->rows().front().text("Artikl") != key) bar->list->SetMaster(key);
        };
    }
    {
        auto [p, v] = page("TabKartice");
        auto* split = new QSplitter(Qt::Vertical, p);
        v->addWidget(split);
        Entry* kart = make(split, "GridKartice", "Kart", {{"KARTSIFRA", "Šifra"}, {"KARTNAZIV", "Naziv"}}, true);
        Entry* rab = make(split, "GridRabati", "Rabat",
                          {{"RABATTIP", "Tip (G/A)"}, {"RABATSIFRA", "Šifra (grupa/artikl)"}, {"RABATPROC", "Rabat %"}});
        split->addWidget(kart->grid);
        split->addWidget(rab->grid);
        auto follow = kart->list->onChanged;
        kart->list->onChanged = [follow, kart, rab] {
            follow();
            const auto* r = kart->list->currentRow();
            rab->list->SetMaster(r && !r->isNew() ? r->text("KARTSIFRA") : std::string());
        };
    }
    for (const char* g : {"GridGrupe", "GridRadnici", "GridTarife", "GridNacPL", "GridPartneri", "GridArtikli", "GridKartice"})
        list(g)->Load();
    for (auto& e : entries_) e->grid->resizeColumnsToContents();
    // The central server owns the lists while the link is on.
    if (ctx_.settings.KasaBaf.integer("Server") == 1)
        for (auto& e : entries_) e->grid->setEnabled(false);
}

void TSifarnici::Command(const QString& name) {
    // The grid that last had the focus, if it is on the sub-page shown; else
    // the first grid of that sub-page.
    Entry* e = active_ && active_->grid->isVisible() ? active_ : nullptr;
    for (auto it = entries_.begin(); !e && it != entries_.end(); ++it)
        if ((*it)->grid->isVisible()) e = it->get();
    if (!e || !e->grid->isEnabled()) return;
    auto& l = *e->list;
    if (name == "First") l.First();
    else if (name == "Prior") l.Prior();
    else if (name == "Next") l.Next();
    else if (name == "Last") l.Last();
    else if (name == "Insert") l.Insert();
    else if (name == "Post") l.Post();
    else if (name == "Cancel") l.Cancel();
    else if (name == "Delete") l.Delete();
    e->grid->setFocus();
}

}  // namespace kv::gui

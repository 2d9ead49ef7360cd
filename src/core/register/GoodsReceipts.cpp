#include "register/GoodsReceipts.h"

#include <algorithm>

#include "platform/Platform.h"

namespace kv::reg {

namespace {

std::int64_t Int(const Record& r, const char* column) { return r.integer(column).value_or(0); }

Currency Dec(const Record& r, const char* column) { return r.decimal(column).value_or(Currency()); }

// Whole hundredths, as the price comparisons below read the stored price.
std::int64_t Cents(Currency c) { return RoundCurr(-2, c).raw() / 100; }

void SetArticlePrice(TDMGlavni& dm, const std::string& sifra, Currency price,
                     std::optional<Currency> onlyWhile = std::nullopt) {
    std::string sql = "UPDATE Artikl SET Cijena = ? WHERE Sifra = ?";
    if (onlyWhile) sql += " AND CAST(ROUND(Cijena * 100) AS INTEGER) = ?";
    auto st = dm.Baza().prepare(sql);
    Bind(st, 1, TableDef("Artikl").columns[4], Value(RoundCurr(-2, price)));
    st.bind(2, sifra);
    if (onlyWhile) st.bind(3, static_cast<int64_t>(Cents(*onlyWhile)));
    st.exec();
}

// A levelling line taken back: its article returns to the old price, unless
// the price was changed again after the line set it.
void TakeBackLevelling(TDMGlavni& dm, const Record& line) {
    if (line.text("Artikl").empty() || line.isNull("Stopa")) return;
    SetArticlePrice(dm, line.text("Artikl"), Dec(line, "Stopa"), Dec(line, "Cijena"));
}

}  // namespace

Record NewUlaz(int godina, DateTime workDate, DateTime now) {
    Record r(TableDef("Doku"));
    r.set("Godina", std::int64_t(godina)).set("UI", std::int64_t(kUlaz)).set("Opis", std::string());
    r.set("Storno", std::int64_t(0)).set("Status", std::int64_t(0));
    r.set("Datum", workDate.date()).set("SysTime", now).set("Nivelacija", std::int64_t(0));
    // A header without a request id is still a receipt; the id is only ever
    // sent for invoices.
    try {
        r.set("ID", platform::NewGuid());
    } catch (const std::exception&) {
    }
    return r;
}

bool SaveUlaz(TDMGlavni& dm, Record& header, Prompter& prompter) {
    if (!header.isNew()) {
        const int col = header.table->index("Nivelacija");
        const Value& before = header.stored[col];
        auto level = [](const Value& v) {
            auto* i = std::get_if<std::int64_t>(&v);
            return i && *i == 1;
        };
        if (level(before) != level(header.values[col]) &&
            !dm.StavkeUlaz(static_cast<int>(Int(header, "Godina")), kUlaz, Int(header, "Broj")).empty()) {
            prompter.message(ulaz_texts::kNivelacijaSaStavkama, MsgKind::Warning);
            return false;
        }
    }
    header.set("UI", std::int64_t(kUlaz));
    return dm.Save(header);
}

void DeleteUlaz(TDMGlavni& dm, const Record& header) {
    if (header.isNew()) return;
    auto key = [&](int i) {
        auto* v = std::get_if<std::int64_t>(&header.stored[i]);
        return v ? *v : 0;
    };
    const int godina = static_cast<int>(key(0));
    const std::int64_t broj = key(2);
    const bool nivelacija = [&] {
        auto* v = std::get_if<std::int64_t>(&header.stored[header.table->index("Nivelacija")]);
        return v && *v == 1;
    }();
    dm.Baza().immediate([&] {
        if (nivelacija) {
            auto lines = dm.StavkeUlaz(godina, kUlaz, broj);
            for (auto it = lines.rbegin(); it != lines.rend(); ++it) TakeBackLevelling(dm, *it);
        }
        dm.DeleteDocument(godina, kUlaz, broj);
    });
}

Record NewStavkaUlaz(TDMGlavni& dm, const Record& header) {
    const int godina = static_cast<int>(Int(header, "Godina"));
    const std::int64_t broj = Int(header, "Broj");
    auto lines = dm.StavkeUlaz(godina, kUlaz, broj);
    dm.vStavka = lines.empty() ? 1 : static_cast<std::int32_t>(Int(lines.back(), "Stavka") + 1);
    Record l(TableDef("Prom"));
    l.set("DokuGodina", std::int64_t(godina)).set("DokuUI", std::int64_t(kUlaz)).set("DokuBroj", broj);
    l.set("Stavka", std::int64_t(dm.vStavka));
    for (const char* c : {"KolUlaz", "KolIzlaz", "Cijena", "Iznos"}) l.set(c, Currency());
    return l;
}

void SetArtikl(Record& line, const Record& artikl, bool nivelacija) {
    line.set("Artikl", artikl.text("Sifra"));
    line.set("Opis", artikl.text("Naziv"));
    const Currency price = Dec(artikl, "Cijena");
    line.set("Cijena", price);
    if (nivelacija) line.set("Stopa", price);
    RecalcIznos(line, nivelacija);
}

void RecalcIznos(Record& line, bool nivelacija) {
    // Price (2 decimals) times quantity (4 decimals) is formed at four
    // decimals first; whichever way a tie at the fourth decimal goes, the
    // amount rounded to hundredths comes out the same.
    Currency product;
    if (nivelacija)
        product = Dec(line, "KolUlaz") * (Dec(line, "Cijena") - Dec(line, "Stopa"));
    else
        product = Dec(line, "Cijena") * (Dec(line, "KolUlaz") + Dec(line, "KolIzlaz"));
    line.set("Iznos", RoundCurr(-2, product));
}

void SetKolicina(Record& line, Currency kolicina, bool nivelacija) {
    line.set("KolUlaz", kolicina);
    line.set("KolIzlaz", nivelacija ? kolicina : Currency());
    RecalcIznos(line, nivelacija);
}

bool SaveStavkaUlaz(TDMGlavni& dm, Record& line, bool nivelacija, Prompter& prompter,
                    const std::function<void()>& beep) {
    if (line.isNull("Iznos") || Dec(line, "Iznos") == Currency()) {
        if (beep) beep();
        prompter.message(ulaz_texts::kNemaIznosa, MsgKind::Warning);
        return false;
    }
    // New prices belong to the central server while the link is on.
    if (nivelacija && dm.ServerLinkOn()) return false;
    line.set("DokuUI", std::int64_t(kUlaz));
    if (!nivelacija) line.set("KolIzlaz", Currency());
    bool saved = false;
    dm.Baza().immediate([&] {
        saved = dm.Save(line);
        if (saved && nivelacija && !line.text("Artikl").empty())
            SetArticlePrice(dm, line.text("Artikl"), Dec(line, "Cijena"));
    });
    return saved;
}

void DeleteStavkaUlaz(TDMGlavni& dm, const Record& line, bool nivelacija) {
    if (line.isNew()) return;
    dm.Baza().immediate([&] {
        dm.Delete(line);
        if (nivelacija) TakeBackLevelling(dm, line);
    });
}

// ---------------------------------------------------------------- ArtiklPicker

void ArtiklPicker::Load(std::vector<Record> artikli) {
    rows_ = std::move(artikli);
    current_ = rows_.empty() ? -1 : 0;
    Sort(order_);
}

const Record* ArtiklPicker::currentRecord() const {
    return current_ >= 0 && current_ < static_cast<int>(rows_.size()) ? &rows_[current_] : nullptr;
}

void ArtiklPicker::setCurrent(int row) {
    if (row >= 0 && row < static_cast<int>(rows_.size())) current_ = row;
}

bool ArtiklPicker::locate(const std::string& sifra) {
    for (size_t i = 0; i < rows_.size(); ++i)
        if (rows_[i].text("Sifra") == sifra) {
            current_ = static_cast<int>(i);
            return true;
        }
    return false;
}

void ArtiklPicker::Sort(Order o) {
    order_ = o;
    const char* by = o == Order::Sifra ? "Sifra" : "Naziv";
    std::stable_sort(rows_.begin(), rows_.end(), [&](const Record& a, const Record& b) {
        const std::string x = a.text(by), y = b.text(by);
        if (x != y) return x < y;
        return a.text("Sifra") < b.text("Sifra");
    });
    // A newly ordered query stands on its first row.
    current_ = rows_.empty() ? -1 : 0;
}

void ArtiklPicker::Enter(Order o) {
    Sort(o);
    if (pozicija_) {
        locate(*pozicija_);  // an article deleted meanwhile: stay on the first row
        pozicija_.reset();
    }
}

void ArtiklPicker::Leave() {
    if (const Record* r = currentRecord()) pozicija_ = r->text("Sifra");
}

}  // namespace kv::reg

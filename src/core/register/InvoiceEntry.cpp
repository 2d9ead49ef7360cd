#include "register/InvoiceEntry.h"

#include <algorithm>

#include "app/Settings.h"
#include "platform/Platform.h"
#include "register/Login.h"
#include "register/RegisterTexts.h"
#include "util/Prompter.h"

namespace kv::reg {

// ---------------------------------------------------------------- article list

void ArticleList::Load(TDMGlavni& db) {
    rows_ = db.ArtiklBarKod();
    foldedOpis_.clear();
    foldedNaziv_.clear();
    byBarcode_.clear();
    byCode_.clear();
    foldedOpis_.reserve(rows_.size());
    foldedNaziv_.reserve(rows_.size());
    for (std::size_t i = 0; i < rows_.size(); ++i) {
        foldedNaziv_.push_back(FoldCase(rows_[i].Naziv));
        foldedOpis_.push_back(FoldCase(rows_[i].Sifra) + ' ' + foldedNaziv_.back());
        byBarcode_.try_emplace(rows_[i].Barkod, i);
        byCode_.try_emplace(rows_[i].Sifra, i);
    }
    filtered_ = false;
    shown_.clear();
    current_ = rows_.empty() ? -1 : 0;
    ++version_;
}

void ArticleList::SetFilter(const std::string& text) {
    filtered_ = true;
    shown_.clear();
    const std::string needle = FoldCase(text);
    for (std::size_t i = 0; i < rows_.size(); ++i)
        if (needle.empty() || foldedOpis_[i].find(needle) != std::string::npos) shown_.push_back(i);
    current_ = shown_.empty() ? -1 : 0;
    ++version_;
}

void ArticleList::ClearFilter() {
    if (!filtered_) return;
    // The list stays on the row it showed.
    std::size_t row = current_ >= 0 ? rowIndex(current_) : 0;
    filtered_ = false;
    shown_.clear();
    current_ = rows_.empty() ? -1 : static_cast<int>(row);
    ++version_;
}

void ArticleList::setCurrent(int shownIndex) {
    if (shownIndex >= 0 && static_cast<std::size_t>(shownIndex) < size()) current_ = shownIndex;
}

bool ArticleList::Move(int delta) {
    if (current_ < 0) return false;
    const int to = current_ + delta;
    if (to < 0 || static_cast<std::size_t>(to) >= size()) return false;
    current_ = to;
    return true;
}

std::optional<int> ArticleList::shownIndexOf(std::size_t row) const {
    if (!filtered_) return static_cast<int>(row);
    auto it = std::lower_bound(shown_.begin(), shown_.end(), row);
    if (it == shown_.end() || *it != row) return std::nullopt;
    return static_cast<int>(it - shown_.begin());
}

std::optional<int> ArticleList::Locate(const std::unordered_map<std::string, std::size_t>& index,
                                       const std::string& key, const std::string ArtiklBarKodRow::*field) {
    std::optional<int> found;
    if (!filtered_) {
        if (auto it = index.find(key); it != index.end()) found = static_cast<int>(it->second);
    } else {
        for (std::size_t i = 0; i < shown_.size(); ++i)
            if (rows_[shown_[i]].*field == key) {
                found = static_cast<int>(i);
                break;
            }
    }
    if (found) current_ = *found;
    return found;
}

std::optional<int> ArticleList::LocateBarcode(const std::string& barcode) {
    if (barcode.empty()) return std::nullopt;  // an article without barcodes is no match for nothing
    return Locate(byBarcode_, barcode, &ArtiklBarKodRow::Barkod);
}

std::optional<int> ArticleList::LocateCode(const std::string& code) {
    return Locate(byCode_, code, &ArtiklBarKodRow::Sifra);
}

std::optional<int> ArticleList::LocateNameStart(const std::string& text) {
    const std::string needle = FoldCase(text);
    for (std::size_t i = 0; i < size(); ++i)
        if (foldedNaziv_[rowIndex(i)].compare(0, needle.size(), needle) == 0) {
            current_ = static_cast<int>(i);
            return current_;
        }
    return std::nullopt;
}

// ---------------------------------------------------------------- rules

namespace {
const Currency kLimit = Currency(9'999'999);

std::string Trim(const std::string& s) {
    const auto b = s.find_first_not_of(" \t\r\n");
    if (b == std::string::npos) return {};
    return s.substr(b, s.find_last_not_of(" \t\r\n") - b + 1);
}
}  // namespace

bool FreeOnConfirmed(HeaderField f) {
    switch (f) {
        case HeaderField::Kupac:
        case HeaderField::KupacOrgj:
        case HeaderField::RefDN:
        case HeaderField::RefDT:
        case HeaderField::NacinPL:
        case HeaderField::PartnerSifra: return true;
        default: return false;
    }
}

LineCheck CheckLine(const Record& line, int stockMode, Currency available) {
    const Currency iznos = line.decimal("Iznos").value_or(Currency());
    const Currency kol = line.decimal("KolIzlaz").value_or(Currency());
    if (iznos == Currency()) return LineCheck::NoAmount;
    if (kol > kLimit) return LineCheck::QuantityTooBig;
    if (line.decimal("Cijena").value_or(Currency()) > kLimit) return LineCheck::PriceTooBig;
    if (stockMode == 2 && kol > available) return LineCheck::NoStock;
    return LineCheck::Ok;
}

Currency LineAmount(Currency price, Currency quantity) { return RoundCurr(-2, price * quantity); }

std::optional<Currency> WeighedQuantity(const std::string& code) {
    if (code.size() != 13) return std::nullopt;
    std::int64_t grams = 0;
    for (std::size_t i = 7; i < 12; ++i) {
        if (code[i] < '0' || code[i] > '9') return std::nullopt;
        grams = grams * 10 + (code[i] - '0');
    }
    return Currency(grams) / 1000;
}

std::string ChangeText(std::optional<Currency> paid, std::optional<Currency> total, char decimalSep) {
    try {
        return LocaleNumberText(paid.value_or(Currency()) - total.value_or(Currency()), decimalSep);
    } catch (const std::exception&) {
        return "0";
    }
}

// ---------------------------------------------------------------- the session

InvoiceEntry::InvoiceEntry(TDMGlavni& db, SettingsRecord& kasaBaf, Prompter& prompter)
    : db_(db), kasaBaf_(kasaBaf), prompter_(prompter) {}

int InvoiceEntry::year() const { return static_cast<int>(kasaBaf_.integer("Godina")); }
int InvoiceEntry::stockMode() const { return static_cast<int>(kasaBaf_.integer("Zalihe")); }
bool InvoiceEntry::serverLink() const { return kasaBaf_.integer("Server") == 1; }

void InvoiceEntry::message(const std::string& text) { prompter_.message(text, MsgKind::Warning); }
void InvoiceEntry::beep() {
    if (onBeep) onBeep();
}
void InvoiceEntry::changed() {
    if (onChanged) onChanged();
}

bool InvoiceEntry::cashierOk() { return KasirPrijavljen(kasaBaf_, showLogin ? showLogin : [] { return false; }); }

DateTime InvoiceEntry::nowLocal() const {
    std::time_t t = clock ? clock() : std::time(nullptr);
    std::tm tm{};
    localtime_r(&t, &tm);
    return DateTime::fromParts(tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec);
}

DateTime InvoiceEntry::workDate() const {
    auto d = kasaBaf_.date("Datum");
    if (!d.ok()) return nowLocal().date();
    return DateTime::fromParts(static_cast<int>(d.year()), static_cast<int>(static_cast<unsigned>(d.month())),
                               static_cast<int>(static_cast<unsigned>(d.day())));
}

void InvoiceEntry::OpenYear() {
    CancelLine();
    CancelHeader();
    invoices_ = db_.Racuni(year());
    cur_ = invoices_.empty() ? -1 : static_cast<int>(invoices_.size()) - 1;
    loadLines();
    changed();
}

void InvoiceEntry::GoTo(int index) {
    if (index < 0 || index >= static_cast<int>(invoices_.size())) return;
    CancelLine();
    CancelHeader();
    cur_ = index;
    loadLines();
    changed();
}

bool InvoiceEntry::GoToNumber(std::int64_t broj) {
    for (std::size_t i = 0; i < invoices_.size(); ++i)
        if (invoices_[i].integer("Broj") == broj) {
            GoTo(static_cast<int>(i));
            return true;
        }
    return false;
}

void InvoiceEntry::Reload() {
    const auto broj = header() ? header()->integer("Broj") : std::nullopt;
    const int keepLine = line_;
    CancelLine();
    CancelHeader();
    invoices_ = db_.Racuni(year());
    cur_ = invoices_.empty() ? -1 : static_cast<int>(invoices_.size()) - 1;
    if (broj)
        for (std::size_t i = 0; i < invoices_.size(); ++i)
            if (invoices_[i].integer("Broj") == broj) cur_ = static_cast<int>(i);
    loadLines();
    if (keepLine >= 0 && keepLine < static_cast<int>(lines_.size())) line_ = keepLine;
    changed();
}

bool InvoiceEntry::Confirmed() const { return header() && header()->integer("Status").value_or(0) == 1; }

bool InvoiceEntry::CanEnterLines() const { return header() && !Confirmed(); }

void InvoiceEntry::loadLines() {
    lines_.clear();
    line_ = -1;
    lineState_ = RowState::Browse;
    lineBackup_.reset();
    if (const Record* h = header()) {
        lines_ = db_.StavkeRac(year(), kRacun, h->integer("Broj").value_or(0));
        if (!lines_.empty()) line_ = 0;
    }
    refreshTotal();
    refreshStock();
}

void InvoiceEntry::setCurrentLine(int index) {
    if (index == line_ || index < 0 || index >= static_cast<int>(lines_.size())) return;
    if (lineState_ != RowState::Browse && !SaveLine()) return;  // leaving a line saves it
    line_ = index;
    refreshStock();
    changed();
}

void InvoiceEntry::refreshTotal() {
    const Record* h = header();
    total_ = h ? db_.ZbirRac(year(), kRacun, h->integer("Broj").value_or(0)) : std::nullopt;
}

void InvoiceEntry::refreshStock() {
    stock_.reset();
    stockRed_ = false;
    const Record* l = line();
    if (!l || (stockMode() != 1 && stockMode() != 2) || l->text("Artikl").empty()) return;
    stock_ = db_.Zalihe(static_cast<int>(l->integer("DokuGodina").value_or(year())), l->text("Artikl"));
    updateStockColour();
}

// The stock a line may take: what the file says is left, plus what this line
// took already when it was saved with the same article (it is counted there).
Currency InvoiceEntry::available() const {
    Currency left = stock_.value_or(Currency());
    const Record* l = line();
    if (l && !l->isNew()) {
        const Table& t = *l->table;
        const Value& storedArtikl = l->stored[t.index("Artikl")];
        const auto* a = std::get_if<std::string>(&storedArtikl);
        const auto* q = std::get_if<Currency>(&l->stored[t.index("KolIzlaz")]);
        if (a && *a == l->text("Artikl") && q) left += *q;
    }
    return left;
}

void InvoiceEntry::updateStockColour() {
    const Record* l = line();
    stockRed_ = l && (stockMode() == 1 || stockMode() == 2) &&
                l->decimal("KolIzlaz").value_or(Currency()) > available();
}

// ---- line events

bool InvoiceEntry::AppendLine() {
    const Record* h = header();
    if (!h || lineState_ != RowState::Browse) return false;
    if (!cashierOk()) return false;
    db_.vStavka = lines_.empty() ? 1 : static_cast<std::int32_t>(lines_.back().integer("Stavka").value_or(0) + 1);
    Record l = TDMGlavni::NewRecord("Prom");
    l.set("DokuGodina", *h->integer("Godina")).set("DokuUI", *h->integer("UI")).set("DokuBroj", *h->integer("Broj"));
    l.set("Stavka", std::int64_t(db_.vStavka));
    l.set("KolUlaz", Currency()).set("KolIzlaz", Currency(1)).set("Cijena", Currency()).set("Iznos", Currency());
    lines_.push_back(std::move(l));
    line_ = static_cast<int>(lines_.size()) - 1;
    lineState_ = RowState::Insert;
    stock_.reset();
    stockRed_ = false;
    changed();
    return true;
}

bool InvoiceEntry::EditLine() {
    if (lineState_ != RowState::Browse) return true;
    if (!line()) return false;
    if (!cashierOk()) return false;
    lineBackup_ = lines_[line_];
    lineState_ = RowState::Edit;
    changed();
    return true;
}

bool InvoiceEntry::ensureLineEdit() {
    if (!CanEnterLines()) return false;
    if (lineState_ != RowState::Browse) return true;
    return lines_.empty() || line_ < 0 ? AppendLine() : EditLine();
}

void InvoiceEntry::recomputeAmount() {
    Record& l = lines_[line_];
    try {
        l.set("Iznos", LineAmount(l.decimal("Cijena").value_or(Currency()), l.decimal("KolIzlaz").value_or(Currency())));
    } catch (const std::exception&) {
        // Beyond the money range: the save checks name the figure that is too big.
        l.set("Iznos", Currency(1));
    }
}

void InvoiceEntry::setLine(const char* column, const Value& v) {
    Record& l = lines_[line_];
    l.set(column, v);
    const std::string c = column;
    if (c == "Artikl") refreshStock();
    if (c == "Cijena" || c == "KolIzlaz") recomputeAmount();
    if (c == "KolIzlaz") updateStockColour();
}

bool InvoiceEntry::SaveLine() {
    if (lineState_ == RowState::Browse || line_ < 0) return true;
    Record& l = lines_[line_];
    switch (CheckLine(l, stockMode(), available())) {
        case LineCheck::Ok: break;
        case LineCheck::NoAmount:
            beep();
            message(texts::kNoAmount);
            return false;
        case LineCheck::QuantityTooBig: message(texts::kQuantityTooBig); return false;
        case LineCheck::PriceTooBig: message(texts::kPriceTooBig); return false;
        case LineCheck::NoStock:
            beep();
            stockRed_ = true;
            changed();
            message(texts::kNoStock);
            stockRed_ = false;
            changed();
            return false;
    }
    try {
        db_.Save(l);
    } catch (const std::exception& e) {
        message(e.what());
        return false;
    }
    lineState_ = RowState::Browse;
    lineBackup_.reset();
    refreshTotal();
    refreshStock();
    changed();
    return true;
}

void InvoiceEntry::CancelLine() {
    if (lineState_ == RowState::Insert) {
        lines_.erase(lines_.begin() + line_);
        line_ = lines_.empty() ? -1 : static_cast<int>(lines_.size()) - 1;
    } else if (lineState_ == RowState::Edit && lineBackup_) {
        lines_[line_] = *lineBackup_;
    } else {
        return;
    }
    lineState_ = RowState::Browse;
    lineBackup_.reset();
    refreshStock();
    changed();
}

bool InvoiceEntry::DeleteCurrentLine() {
    if (!line()) return false;
    if (lineState_ == RowState::Insert) {
        CancelLine();
        return true;
    }
    if (!cashierOk()) return false;
    CancelLine();
    try {
        db_.Delete(lines_[line_]);
    } catch (const std::exception& e) {
        message(e.what());
        return false;
    }
    lines_.erase(lines_.begin() + line_);
    if (line_ >= static_cast<int>(lines_.size())) line_ = static_cast<int>(lines_.size()) - 1;
    refreshTotal();
    refreshStock();
    changed();
    return true;
}

// ---- searches

bool InvoiceEntry::TakeArticle() {
    const ArtiklBarKodRow* a = articles_.currentRow();
    if (!a || !ensureLineEdit()) return false;
    const ArtiklBarKodRow row = *a;
    setLine("Artikl", row.Sifra);
    setLine("BarKod", row.Barkod);
    setLine("Opis", row.Naziv);
    setLine("Cijena", row.Cijena);
    setLine("Tarifa", row.Tarifa);
    setLine("Stopa", row.STOPA ? Value(*row.STOPA) : Value());
    changed();
    return true;
}

Focus InvoiceEntry::BarcodeEnter(const std::string& text) {
    if (!CanEnterLines()) return Focus::Stay;
    if (articles_.LocateBarcode(text)) return TakeArticle() ? Focus::Quantity : Focus::Stay;
    if (text.size() >= 7 && articles_.LocateBarcode(text.substr(0, 7))) {
        if (!TakeArticle()) return Focus::Stay;
        if (auto q = WeighedQuantity(text)) setLine("KolIzlaz", *q);
        changed();
        return Focus::Quantity;
    }
    beep();
    message(texts::kNoBarcode);
    return Focus::Stay;
}

Focus InvoiceEntry::CodeEnter(const std::string& text) {
    if (!CanEnterLines()) return Focus::Stay;
    if (articles_.LocateCode(text)) return TakeArticle() ? Focus::Description : Focus::Stay;
    beep();
    message(texts::kNoCode);
    return Focus::Stay;
}

Focus InvoiceEntry::NameEnter(const std::string& text) {
    if (!CanEnterLines()) return Focus::Stay;
    Focus f = Focus::Stay;
    if (nazivPronadjen_ && TakeArticle()) f = Focus::Description;
    if (articles_.LocateNameStart(text)) {
        nazivPronadjen_ = true;
    } else {
        nazivPronadjen_ = false;
        beep();
        message(texts::kNoName);
    }
    changed();
    return f;
}

void InvoiceEntry::FilterChanged(const std::string& text) {
    articles_.SetFilter(text);
    changed();
}

void InvoiceEntry::FilterLeft() {
    articles_.ClearFilter();
    changed();
}

Focus InvoiceEntry::FilterEnter() {
    if (!CanEnterLines()) return Focus::Stay;
    return TakeArticle() ? Focus::Description : Focus::Stay;
}

bool InvoiceEntry::ListMove(int delta) {
    if (!CanEnterLines()) return false;
    bool moved = articles_.Move(delta);
    if (moved) changed();
    return moved;
}

// ---- line fields

bool InvoiceEntry::SetDescription(const std::string& text) {
    if (serverLink() || !ensureLineEdit()) return false;
    setLine("Opis", text);
    changed();
    return true;
}

bool InvoiceEntry::SetQuantity(Currency q) {
    if (!ensureLineEdit()) return false;
    setLine("KolIzlaz", q);
    changed();
    return true;
}

bool InvoiceEntry::SetPrice(Currency p) {
    if (serverLink() || !ensureLineEdit()) return false;
    setLine("Cijena", p);
    changed();
    return true;
}

Focus InvoiceEntry::LineFieldEnter(LineField f) {
    if (!CanEnterLines()) return Focus::Stay;
    auto saveAndGoOn = [&] {
        if (!line() || lineState_ == RowState::Browse) return Focus::Stay;
        if (!SaveLine()) return Focus::Stay;
        return DodajSt();
    };
    switch (f) {
        case LineField::Description: return Focus::Quantity;
        case LineField::Quantity: return serverLink() ? saveAndGoOn() : Focus::Price;
        case LineField::Price: return Focus::Amount;
        case LineField::Amount: return saveAndGoOn();
    }
    return Focus::Stay;
}

// ---- line commands

Focus InvoiceEntry::DodajSt() {
    if (!CanEnterLines() || lineState_ != RowState::Browse) return Focus::Stay;
    return AppendLine() ? Focus::FirstSearch : Focus::Stay;
}

Focus InvoiceEntry::BrisiSt() {
    if (!CanEnterLines() || !line()) return Focus::Stay;
    DeleteCurrentLine();
    return Focus::FirstSearch;
}

Focus InvoiceEntry::PutaKol() {
    if (!CanEnterLines()) return Focus::Stay;
    for (;;) {
        auto answer = prompter_.input(texts::kTimesCaption, texts::kTimesPrompt, "");
        if (!answer || Trim(*answer).empty()) return Focus::Stay;
        const std::string t = Trim(*answer);
        const bool digits = std::all_of(t.begin() + (t[0] == '-' || t[0] == '+' ? 1 : 0), t.end(),
                                        [](char c) { return c >= '0' && c <= '9'; }) &&
                            t.size() <= 12 && t != "-" && t != "+";
        if (!digits) continue;  // asked again until a whole number or nothing
        const std::int64_t n = std::stoll(t);
        if (!ensureLineEdit()) return Focus::Stay;
        try {
            setLine("KolIzlaz", lines_[line_].decimal("KolIzlaz").value_or(Currency()) * n);
        } catch (const std::overflow_error&) {
            message(texts::kQuantityTooBig);
            return Focus::Quantity;
        }
        changed();
        return Focus::Quantity;
    }
}

Focus InvoiceEntry::KolRucno() { return CanEnterLines() ? Focus::Quantity : Focus::Stay; }

// ---- header

Focus InvoiceEntry::NewInvoice(bool storno) {
    if (!storno) tipRacuna = 0;
    if (!cashierOk()) return Focus::Stay;
    CancelLine();
    CancelHeader();
    if (auto open = db_.Otvoren(year())) {
        message(texts::kOpenInvoiceExists + std::to_string(*open));
        invoices_ = db_.Racuni(year());
        GoToNumber(*open);
        changed();
        return Focus::FirstSearch;
    }
    Record h = TDMGlavni::NewRecord("Doku");
    h.set("Godina", std::int64_t(year())).set("UI", std::int64_t(kRacun)).set("Opis", std::string());
    h.set("Storno", std::int64_t(storno ? 1 : 0)).set("Status", std::int64_t(0)).set("Datum", workDate());
    h.set("NacinPL", kasaBaf_.text("NacPl"));
    if (!storno) h.set("Placeno", Currency());
    h.set("ID", platform::NewGuid());
    h.set("Cashier", kasaBaf_.text("Cashier")).set("SysTime", nowLocal());
    try {
        db_.NewDocument(h);
    } catch (const std::exception& e) {
        message(e.what());
        return Focus::Stay;
    }
    invoices_ = db_.Racuni(year());
    GoToNumber(*h.integer("Broj"));
    changed();
    return Focus::FirstSearch;
}

bool InvoiceEntry::EditHeader(HeaderField f) {
    if (!header()) return false;
    if (headerState_ != RowState::Browse) return true;
    if (!cashierOk()) return false;
    if (FreeOnConfirmed(f)) vOdgovor_ = true;
    if (!vOdgovor_ && Confirmed()) {
        message(texts::kConfirmed);
        return false;
    }
    headerBackup_ = invoices_[cur_];
    headerState_ = RowState::Edit;
    changed();
    return true;
}

bool InvoiceEntry::SetHeader(HeaderField f, const std::string& value) {
    if (!EditHeader(f)) return false;
    Record& h = invoices_[cur_];
    try {
        switch (f) {
            case HeaderField::Kupac: h.set("Kupac", value); break;
            case HeaderField::KupacOrgj: h.set("KupacOrgj", value); break;
            case HeaderField::RefDN: h.set("RefDN", value); break;
            case HeaderField::RefDT: h.set("RefDT", value); break;
            case HeaderField::NacinPL: h.set("NacinPL", value); break;
            case HeaderField::Opis: h.set("Opis", value); break;
            case HeaderField::Placeno: {
                if (Trim(value).empty()) {
                    h.set("Placeno", Value());
                    break;
                }
                auto v = ParseCurrencyWithRetry(Trim(value), platform::DecimalSeparator());
                if (!v) return false;
                h.set("Placeno", *v);
                break;
            }
            case HeaderField::PartnerSifra:
                h.set("PartnerSifra", value);
                // The buyer becomes the partner's identification number.
                try {
                    for (const auto& p : db_.Partner())
                        if (p.text("PARTNERSIFRA") == value) h.set("Kupac", p.text("PARTNERIJIB"));
                } catch (const std::exception&) {
                }
                break;
        }
    } catch (const std::invalid_argument&) {
        return false;
    }
    changed();
    return true;
}

bool InvoiceEntry::PostHeader() {
    if (headerState_ == RowState::Browse || !header()) return true;
    Record& h = invoices_[cur_];
    h.set("Cashier", kasaBaf_.text("Cashier"));
    h.set("SysTime", nowLocal());
    try {
        db_.Save(h);
    } catch (const std::exception& e) {
        message(e.what());
        return false;
    }
    headerState_ = RowState::Browse;
    headerBackup_.reset();
    vOdgovor_ = false;
    changed();
    return true;
}

void InvoiceEntry::CancelHeader() {
    if (headerState_ == RowState::Browse) return;
    if (headerBackup_ && cur_ >= 0) invoices_[cur_] = *headerBackup_;
    headerState_ = RowState::Browse;
    headerBackup_.reset();
    vOdgovor_ = false;
    changed();
}

std::string InvoiceEntry::KusurText() const {
    if (!header()) return "0";
    return ChangeText(header()->decimal("Placeno"), total_, platform::DecimalSeparator());
}

Look InvoiceEntry::StatusLook() const {
    if (!header()) return {};
    return Confirmed() || header()->integer("Status").value_or(0) != 0 ? Look{texts::kStatusConfirmed, kRed}
                                                                        : Look{texts::kStatusOpen, kGreen};
}

Look InvoiceEntry::KindLook() const {
    if (!header()) return {};
    return header()->integer("Storno").value_or(0) != 0 ? Look{texts::kKindRefund, kRed} : Look{texts::kKindSale, kWhite};
}

Look InvoiceEntry::StateLook() const {
    switch (headerState_) {
        case RowState::Insert: return {texts::kStateInsert, kYellow};
        case RowState::Edit: return {texts::kStateEdit, kYellow};
        default: return {};
    }
}

std::string InvoiceEntry::PaymentTypeName() const {
    if (!header()) return {};
    const std::string code = header()->text("NacinPL");
    for (const auto& p : db_.NacPl())
        if (p.text("Sifra") == code) return p.text("Opis");
    return {};
}

std::string InvoiceEntry::CardName() const {
    if (!header() || header()->text("KarticaKupca").empty()) return {};
    for (const auto& k : db_.Kart())
        if (k.text("KARTSIFRA") == header()->text("KarticaKupca")) return k.text("KARTNAZIV");
    return {};
}

std::string InvoiceEntry::PartnerName() const {
    if (!header() || header()->text("PartnerSifra").empty()) return {};
    for (const auto& p : db_.Partner())
        if (p.text("PARTNERSIFRA") == header()->text("PartnerSifra")) return p.text("PARTNERNAZIV");
    return {};
}

bool InvoiceEntry::ConfirmInvoice() {
    if (!header()) return false;
    if (headerState_ != RowState::Browse && !PostHeader()) return false;
    if (lineState_ != RowState::Browse) CancelLine();
    if (lines_.empty()) {
        message(texts::kNoLines);
        return false;
    }
    const Record& h = *header();
    if (h.integer("Storno").value_or(0) == 1 && (Trim(h.text("RefDN")).empty() || Trim(h.text("RefDT")).empty())) {
        message(texts::kRefundNeedsReferent);
        return false;
    }
    if (h.integer("Status").value_or(0) != 0) return false;
    if (!prompter_.confirm(texts::kAskConfirm, MsgKind::Information)) return false;
    if (!EditHeader(HeaderField::Opis)) return false;
    invoices_[cur_].set("Datum", workDate()).set("Status", std::int64_t(1));
    return PostHeader();
}

bool InvoiceEntry::DeleteInvoice() {
    if (!header()) return false;
    if (header()->integer("Status").value_or(0) != 0) {
        message(texts::kConfirmedNoDelete);
        return false;
    }
    if (!prompter_.confirm(texts::kAskDelete, MsgKind::Warning)) return false;
    if (!cashierOk()) return false;
    CancelLine();
    CancelHeader();
    const Record h = *header();
    try {
        db_.DeleteDocument(year(), kRacun, h.integer("Broj").value_or(0));
    } catch (const std::exception& e) {
        message(e.what());
        return false;
    }
    const int at = cur_;
    invoices_ = db_.Racuni(year());
    cur_ = invoices_.empty() ? -1 : std::min(at, static_cast<int>(invoices_.size()) - 1);
    loadLines();
    changed();
    return true;
}

bool InvoiceEntry::PrintAllowed() {
    if (!header()) return false;
    if (headerState_ != RowState::Browse && !PostHeader()) return false;
    if (header()->integer("Status").value_or(0) == 0) {
        message(texts::kNotConfirmed);
        return false;
    }
    if (header()->text("PFRBROJ").empty() || tipRacuna != 0)
        return prompter_.confirm(texts::kAskPrint, MsgKind::Information);
    message(texts::kAlreadyFiscalised);
    return false;
}

}  // namespace kv::reg

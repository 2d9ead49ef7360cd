#pragma once
// Selling at the cash register: the invoices of the work year, the lines of
// the current one, the four article searches over the article list, the
// line commands, the header rules (new sale, refund, payment, paid amount,
// confirm, delete, print) and the discount card. The "Računi" page is a view
// over one InvoiceEntry; everything it decides lives here.
#include <cstdint>
#include <ctime>
#include <functional>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "register/Record.h"
#include "register/uDMGlavni.h"
#include "util/Currency.h"

namespace kv {
class Prompter;
class SettingsRecord;
}  // namespace kv

namespace kv::reg {

// The article search list in memory: every article with each of its
// barcodes, the filter over code and name, and the list's current row.
class ArticleList {
public:
    void Load(TDMGlavni& db);
    const std::vector<ArtiklBarKodRow>& rows() const { return rows_; }
    // Rows shown, as indexes into rows(): all of them without a filter.
    std::size_t size() const { return filtered_ ? shown_.size() : rows_.size(); }
    const ArtiklBarKodRow& at(std::size_t shownIndex) const { return rows_[rowIndex(shownIndex)]; }

    // The typed text matched literally as a part of code + " " + name,
    // ignoring case (Latin with č ć ž š đ, Cyrillic); empty shows every row.
    void SetFilter(const std::string& text);
    void ClearFilter();
    bool filtered() const { return filtered_; }
    // Changes whenever the rows shown change (load, filter on or off).
    std::uint64_t version() const { return version_; }

    // The current row (-1 when the list is empty).
    int current() const { return current_; }
    void setCurrent(int shownIndex);
    const ArtiklBarKodRow* currentRow() const { return current_ >= 0 ? &at(current_) : nullptr; }
    // Up/Down: false at the ends and in an empty list.
    bool Move(int delta);

    // First shown row whose field equals the text exactly (case-sensitive),
    // or whose name begins with it ignoring case; the list goes there.
    std::optional<int> LocateBarcode(const std::string& barcode);
    std::optional<int> LocateCode(const std::string& code);
    std::optional<int> LocateNameStart(const std::string& text);

private:
    std::size_t rowIndex(std::size_t shownIndex) const { return filtered_ ? shown_[shownIndex] : shownIndex; }
    std::optional<int> shownIndexOf(std::size_t row) const;
    std::optional<int> Locate(const std::unordered_map<std::string, std::size_t>& index,
                              const std::string& key, const std::string ArtiklBarKodRow::*field);

    std::vector<ArtiklBarKodRow> rows_;
    std::vector<std::string> foldedOpis_;   // code + " " + name, case-folded
    std::vector<std::string> foldedNaziv_;  // name, case-folded
    std::unordered_map<std::string, std::size_t> byBarcode_, byCode_;  // first row of each
    std::vector<std::size_t> shown_;
    bool filtered_ = false;
    int current_ = -1;
    std::uint64_t version_ = 0;
};

enum class RowState { Browse, Insert, Edit };

// Where the cursor goes after an action.
enum class Focus { Stay, Quantity, Description, Price, Amount, FirstSearch, Paid };

// The fiscal invoice type chosen on "Fiskalizacija" for the next hand-off.
struct InvoiceTypeItem {
    const char* caption;
    int type;
};
inline constexpr InvoiceTypeItem kInvoiceTypes[] = {
    {"&Račun", 0}, {"Pro&forma", 1}, {"&Kopija", 2}, {"&Obuka", 3}, {"&Provjera", 9}};

// Header fields that stay editable on a confirmed invoice.
enum class HeaderField { Kupac, KupacOrgj, RefDN, RefDT, NacinPL, PartnerSifra, Placeno, Opis };
bool FreeOnConfirmed(HeaderField f);

// Colours the page paints with, as 0xRRGGBB; nullopt is the window colour.
struct Look {
    std::string text;
    std::optional<unsigned> colour;
};
inline constexpr unsigned kRed = 0xFF0000, kGreen = 0x008000, kWhite = 0xFFFFFF, kYellow = 0xFFFF00;

// Which save check refused a line.
enum class LineCheck { Ok, NoAmount, QuantityTooBig, PriceTooBig, NoStock };
// The checks before a line is saved, in order. `available` is the stock the
// line may take (only looked at in stock mode 2).
LineCheck CheckLine(const Record& line, int stockMode, Currency available);
// Amount of a line: price x quantity to four decimals, then to hundredths.
Currency LineAmount(Currency price, Currency quantity);
// A weighed-article code: 7 characters of registered barcode, then the
// weight in grams in characters 8 to 12 ("2100001012503" weighs 1.25).
// nullopt when the text is not 13 characters or the weight is no number.
std::optional<Currency> WeighedQuantity(const std::string& code);
// Paid minus total in the locale's general number form ("2,7"); an empty
// paid amount counts as 0.
std::string ChangeText(std::optional<Currency> paid, std::optional<Currency> total, char decimalSep);

class InvoiceEntry {
public:
    InvoiceEntry(TDMGlavni& db, SettingsRecord& kasaBaf, Prompter& prompter);

    // The system beep before some messages; the login dialog for the cashier
    // check (true for OK); the clock for SysTime (seconds since 1970).
    std::function<void()> onBeep;
    std::function<bool()> showLogin;
    std::function<std::time_t()> clock;
    // Told whenever what the page shows may have changed.
    std::function<void()> onChanged;

    TDMGlavni& db() { return db_; }
    SettingsRecord& kasaBaf() { return kasaBaf_; }
    ArticleList& articles() { return articles_; }

    // ---- Invoices of the work year.
    // Reads the year's invoices (the work year) and goes to the last one.
    void OpenYear();
    int year() const;
    const std::vector<Record>& invoices() const { return invoices_; }
    int currentIndex() const { return cur_; }
    // The current header (the edit buffer while editing); null when none.
    const Record* header() const { return cur_ >= 0 ? &invoices_[cur_] : nullptr; }
    bool GoToNumber(std::int64_t broj);
    void GoTo(int index);
    bool Confirmed() const;  // the current invoice's Status is 1

    // ---- Lines of the current invoice (a line being inserted is the last).
    const std::vector<Record>& lines() const { return lines_; }
    int currentLine() const { return line_; }
    const Record* line() const { return line_ >= 0 ? &lines_[line_] : nullptr; }
    void setCurrentLine(int index);
    RowState lineState() const { return lineState_; }
    std::optional<Currency> total() const { return total_; }
    // Stock of the line's article and whether it shows red.
    std::optional<Currency> stock() const { return stock_; }
    bool stockRed() const { return stockRed_; }
    int stockMode() const;
    bool serverLink() const;

    // Entry guard of every search and line action: a current invoice that
    // is not confirmed.
    bool CanEnterLines() const;

    // ---- Searches. Each returns where the cursor goes (Stay when nothing
    // was taken).
    Focus BarcodeEnter(const std::string& text);
    Focus CodeEnter(const std::string& text);
    void NameFieldEntered() { nazivPronadjen_ = false; }
    Focus NameEnter(const std::string& text);
    bool nazivPronadjen() const { return nazivPronadjen_; }
    void FilterChanged(const std::string& text);
    void FilterLeft();
    Focus FilterEnter();
    // Up/Down in a search field.
    bool ListMove(int delta);
    // Copies the list's current row into the line (starting an edit, or the
    // first line of an empty invoice). False when the line cannot be edited.
    bool TakeArticle();

    // ---- Line fields, typed by the cashier. Each starts an edit when needed.
    bool SetDescription(const std::string& text);
    bool SetQuantity(Currency q);
    bool SetPrice(Currency p);
    enum class LineField { Description, Quantity, Price, Amount };
    Focus LineFieldEnter(LineField f);

    // ---- Line events.
    bool AppendLine();
    bool EditLine();
    // Saves the line being edited or inserted after the checks; false (with
    // the check's message shown) when refused, the line stays in edit.
    bool SaveLine();
    void CancelLine();
    bool DeleteCurrentLine();

    // ---- Line commands.
    Focus DodajSt();     // "+ Dodaj"
    Focus BrisiSt();     // "- Briši"
    Focus PutaKol();     // "* kom"
    Focus KolRucno();    // "/ količina"

    // ---- Header.
    // The type chosen on "Fiskalizacija" (0, 1, 2, 3 or 9).
    int tipRacuna = 0;
    Focus NewInvoice(bool storno);
    RowState headerState() const { return headerState_; }
    // Puts the header into edit for a change of `f`; refused with "Račun je
    // potvrđen!" on a confirmed invoice outside the free fields.
    bool EditHeader(HeaderField f);
    // Sets a header field (text form for dates and numbers), starting the
    // edit when needed. False when the edit was refused or the text is no
    // value of the field.
    bool SetHeader(HeaderField f, const std::string& value);
    // Saves the header if it is being edited (Cashier and SysTime set).
    bool PostHeader();
    void CancelHeader();
    std::string KusurText() const;
    Look StatusLook() const;
    Look KindLook() const;
    Look StateLook() const;
    // The payment type's description and the discount card's name.
    std::string PaymentTypeName() const;
    std::string CardName() const;
    std::string PartnerName() const;

    // F3: true when the invoice was confirmed now (the page then prints it).
    bool ConfirmInvoice();
    // F4.
    bool DeleteInvoice();
    // F9 before the hand-off: true when the hand-off is to run.
    bool PrintAllowed();
    // After the hand-off: reads the current invoice again from the file.
    void Reload();

    // F10 "F3 obračunaj": applies card `kart` to the current invoice, all or
    // nothing. True when at least one line got a discount.
    bool ApplyCard(const std::string& kart);

private:
    bool cashierOk();
    void loadLines();
    void refreshTotal();
    void refreshStock();
    void updateStockColour();
    Currency available() const;
    void recomputeAmount();
    bool ensureLineEdit();
    void setLine(const char* column, const Value& v);
    void message(const std::string& text);
    void beep();
    void changed();
    DateTime nowLocal() const;
    DateTime workDate() const;

    TDMGlavni& db_;
    SettingsRecord& kasaBaf_;
    Prompter& prompter_;
    ArticleList articles_;

    std::vector<Record> invoices_;
    int cur_ = -1;
    RowState headerState_ = RowState::Browse;
    std::optional<Record> headerBackup_;
    bool vOdgovor_ = false;

    std::vector<Record> lines_;
    int line_ = -1;
    RowState lineState_ = RowState::Browse;
    std::optional<Record> lineBackup_;
    std::optional<Currency> total_;
    std::optional<Currency> stock_;
    bool stockRed_ = false;
    bool nazivPronadjen_ = false;
};

}  // namespace kv::reg

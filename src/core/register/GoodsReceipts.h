#pragma once
// Goods receipts: headers (`Doku` rows of kind 0), their lines and the rules
// bound to them, including price levelling documents.
//
// A levelling document (`Nivelacija` = 1) changes the selling price of the
// articles on its lines. Each line records:
//   `KolUlaz`  the quantity the new price applies to (the stock on hand),
//   `KolIzlaz` the same quantity again, so every reader of quantity in minus
//              quantity out (the per-article stock while selling) sees no
//              movement, and the stock list leaves the line out by its kind,
//   `Stopa`    the old selling price (receipt lines carry no tax rate),
//   `Cijena`   the new selling price,
//   `Iznos`    the quantity times the price difference, rounded to hundredths,
//              which the merchandise book counts as the document's value.
// Saving such a line makes the article's selling price the new price in the
// same transaction.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "register/uDMGlavni.h"
#include "util/Currency.h"
#include "util/DateTime.h"
#include "util/Prompter.h"

namespace kv::reg {

// Texts of the receipts page.
namespace ulaz_texts {
inline constexpr const char* kNemaIznosa = "Nema iznosa";
inline constexpr const char* kNivelacijaSaStavkama =
    "Dokument ima stavke: nivelacija se ne može uključiti ni isključiti.";
inline constexpr const char* kUkupnoUlaz = "Ukupno ulaz";
}  // namespace ulaz_texts

// A new receipt header, not yet stored: the work year, kind 0, an empty
// description, sale, open, the work date, `now` as its save time, not a
// levelling, a new request id. Its number is taken when it is saved.
Record NewUlaz(int godina, DateTime workDate, DateTime now);

// Stores a receipt header (new ones are numbered in one immediate
// transaction). Switching `Nivelacija` on a receipt that already has lines
// is refused with a message: its lines were valued by the other rule.
// Returns false when refused.
bool SaveUlaz(TDMGlavni& dm, Record& header, Prompter& prompter);

// Deletes a receipt with its lines in one transaction. The lines of a
// levelling document give their article its old price back, unless the
// price has been changed since.
void DeleteUlaz(TDMGlavni& dm, const Record& header);

// A new line of `header`: its key, the next line number (`vStavka`, the
// last line's + 1 or 1), quantities, price and amount 0.
Record NewStavkaUlaz(TDMGlavni& dm, const Record& header);

// The article picked on the line: its name as the text and its selling price
// as the price (on a levelling line as both the old and the new price).
void SetArtikl(Record& line, const Record& artikl, bool nivelacija);

// The line's amount from its price and quantity: price x (quantity in +
// quantity out), or on a levelling line quantity x (new - old price);
// formed at four decimals, then rounded to hundredths.
void RecalcIznos(Record& line, bool nivelacija);
// Setting the quantity keeps a levelling line's mirrored quantity out.
void SetKolicina(Record& line, Currency kolicina, bool nivelacija);

// Stores a receipt line. An amount of 0 is refused: `beep`, then "Nema
// iznosa"; the line stays as typed. A levelling line also sets its article's
// selling price, in the same transaction. Returns false when refused.
bool SaveStavkaUlaz(TDMGlavni& dm, Record& line, bool nivelacija, Prompter& prompter,
                    const std::function<void()>& beep = {});

// Deletes one line; a levelling line gives the price back as DeleteUlaz does.
void DeleteStavkaUlaz(TDMGlavni& dm, const Record& line, bool nivelacija);

// The article lists of the line panel: one `Artikl` list that the code
// picker orders by code and the name picker by name. Leaving a picker
// remembers the article it stood on (`ArtiklPozicija`); entering the other
// goes back to that article in the new order, so a pick in one picker stays
// current in the other.
class ArtiklPicker {
public:
    enum class Order { Sifra, Naziv };

    void Load(std::vector<Record> artikli);
    const std::vector<Record>& rows() const { return rows_; }
    Order order() const { return order_; }
    // Current row, -1 when the list is empty.
    int current() const { return current_; }
    const Record* currentRecord() const;
    void setCurrent(int row);
    // Current row by code; false (nothing moves) when there is no such code.
    bool locate(const std::string& sifra);

    void EnterCodePicker() { Enter(Order::Sifra); }
    void EnterNamePicker() { Enter(Order::Naziv); }
    void Leave();
    const std::optional<std::string>& ArtiklPozicija() const { return pozicija_; }

private:
    void Enter(Order o);
    void Sort(Order o);

    std::vector<Record> rows_;
    Order order_ = Order::Sifra;
    int current_ = -1;
    std::optional<std::string> pozicija_;
};

}  // namespace kv::reg

#pragma once
// The register's overviews of a date range: the stock list, the merchandise
// book and the three turnover views. Quantities and amounts are summed in
// SQL as whole ten-thousandths / hundredths and come out as Currency, so a
// footer is exactly the sum of the rows above it.
//
// Every document of the range counts, open or confirmed; a refund counts
// against its kind (factor 1 - 2 x Storno). Both ends of the range are
// included; a range without both dates, or ending before it starts, is empty.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "register/uDMGlavni.h"
#include "util/Currency.h"
#include "util/DateTime.h"

namespace kv::reg {

struct DateRange {
    std::optional<DateTime> OdDatuma, DoDatuma;
};

// "Prikaži račune": all invoices, or only those not yet uploaded to the
// central server (no server number). The stock list and the merchandise
// book always take every document.
enum class PrikaziRacune { Sve = 0, Neprenesene = 1 };

// ---- `StanjeZaliha`: per article, movement within the range (there is no
// opening balance). Levelling documents move no quantity.
struct StanjeZalihaRow {
    std::string Sifra, Naziv;              // at most 20 / 50 characters
    Currency Ulaz, Izlaz, Stanje;          // quantities, four decimals
    Currency Cijena;                       // the article's current price
    Currency Vrijednost;                   // Stanje x Cijena, to hundredths
};
struct StanjeZalihaResult {
    std::vector<StanjeZalihaRow> rows;     // by article code
    Currency Ukupno;                       // "Ukupna vrijednost": sum of Vrijednost
};
StanjeZalihaResult StanjeZaliha(TDMGlavni& dm, const DateRange& range);

// ---- `TK` ("Trgovačka knjiga"): one row per receipt (its value at the
// selling prices of its lines; levelling documents with their value), one
// row per day of sales, and the total row "Ukupno" last.
struct TKRow {
    std::int64_t RowNum = 0;
    std::string Datum;                     // ISO date; empty on the total row
    std::optional<int> UI;                 // 0 receipt, 1 the day's sales; null on the total row
    std::optional<std::int64_t> Broj;      // receipts only
    std::optional<std::string> Opis;       // receipt: Opis || Kupac || KupacOrgj (null when one is null)
    Currency Zaduzenje, Razduzenje;
    bool isTotal() const { return !UI.has_value(); }
};
std::vector<TKRow> TK(TDMGlavni& dm, const DateRange& range);

// ---- Turnover of sales invoices.
struct RekNacPlRow {
    std::string NP;                        // payment code, whole
    std::string Opis;                      // payment type, at most 20 characters
    Currency Iznos;
};
struct RekNacPlResult {
    std::vector<RekNacPlRow> rows;         // by payment code; codes without a payment type are left out
    Currency Ukupno;
};
RekNacPlResult RekNacPl(TDMGlavni& dm, const DateRange& range, PrikaziRacune svi);

struct RekRadnikRow {
    std::string Radnik;                    // cashier, at most 20 characters
    Currency Iznos;
};
struct RekRadnikResult {
    std::vector<RekRadnikRow> rows;        // by cashier
    Currency Ukupno;
};
RekRadnikResult RekRadnik(TDMGlavni& dm, const DateRange& range, PrikaziRacune svi);

struct PrometDetaljniRow {
    std::string Datum;                     // ISO date
    std::int64_t Broj = 0, Stavka = 0;
    std::string Radnik, Kupac, KupacOrgj, NP, PFRBROJ, Artikl, Barkod, Opis;
    Currency KolIzlaz, Cijena, Iznos;      // a refund's quantity and amount negative
    std::optional<std::int64_t> PargBroj;  // "Server Rn"; null until uploaded
};
// One row per invoice line, by date, number and line.
std::vector<PrometDetaljniRow> PrometDetaljni(TDMGlavni& dm, const DateRange& range, PrikaziRacune svi);

// ---- Display forms of the overviews.
// "###,###,##0.00"
std::string FormatIznos(Currency v, char decimalSep);
// "###,###,##0.###": at most three decimals, none when whole.
std::string FormatKolicina(Currency v, char decimalSep);
// "dd.mm.yyyy" of an ISO date; the text as it is when it is no date.
std::string FormatDatum(const std::string& iso);

}  // namespace kv::reg

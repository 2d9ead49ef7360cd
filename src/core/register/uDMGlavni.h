#pragma once
// The cash register's data module: the connection `Baza` to "Kovira.sdb" and
// every query the register, the input-file road, the reports and the server
// link work through. Reads and writes bind their values; no SQL is ever put
// together from what a user typed, a file held or a server sent.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "register/Connection.h"
#include "register/Record.h"
#include "util/Currency.h"
#include "util/DateTime.h"

namespace kv::reg {

inline constexpr const char* kDatabaseName = "Kovira.sdb";
// Document kinds (`Doku.UI`).
inline constexpr int kUlaz = 0;   // goods receipt: stock in
inline constexpr int kRacun = 1;  // sales invoice: stock out

// A save refused by the data layer: a key column, or for an article its
// group, tariff or price, has no value. The row stays as it was typed.
class RequiredFieldError : public std::runtime_error {
public:
    explicit RequiredFieldError(const std::string& field)
        : std::runtime_error("Polje '" + field + "' mora imati vrijednost."), field_(field) {}
    const std::string& field() const { return field_; }

private:
    std::string field_;
};

// One row of the article search list: an article with one of its barcodes
// (empty when it has none) and the rate of its tariff.
struct ArtiklBarKodRow {
    std::string Sifra, Naziv, Grupa, Tarifa, Barkod;
    Currency Cijena;
    std::optional<Currency> STOPA;
    std::string Opis() const { return Sifra + ' ' + Naziv; }
};

// A line of the device-list recapitulation: per date and kind, then one
// "Ukupno" line per kind.
struct RekapitulacijaRow {
    std::string Datum;  // ISO date, or "Ukupno"
    std::string Vrsta;  // "Promet" or "Avans"
    Currency Ukupno;
};

class TDMGlavni {
public:
    // Opens (creating) the file and runs the schema script; DatabaseError when
    // the file cannot serve (see Connection).
    explicit TDMGlavni(const std::string& path);

    Connection& Baza() { return baza_; }
    const std::string& path() const { return baza_.path(); }

    // The line number the next inserted document line receives.
    std::int32_t vStavka = 0;
    // When true the next edit of a confirmed invoice header is allowed.
    bool vOdgovor = false;

    // "Veza sa serverom": while it answers true the code lists belong to the
    // central server and edits and deletes of their rows do nothing.
    std::function<bool()> serverLink;
    bool ServerLinkOn() const { return serverLink && serverLink(); }

    // ---- Code lists (rows in the order they were stored).
    std::vector<Record> Grupa();
    std::vector<Record> Radnik();
    std::vector<Record> Tarifa();
    std::vector<Record> Artikl();
    std::vector<Record> NacPl();
    std::vector<Record> Partner();
    std::vector<Record> Kart();
    std::vector<Record> Barkod(const std::string& artiklSifra);   // barcodes of one article
    std::vector<Record> Rabat(const std::string& kartSifra);       // discounts of one card

    // New rows with their defaults: an article takes the current group and
    // tariff (when there is a current row) and price 0; a barcode takes the
    // current article and an empty code.
    static Record NewRecord(const std::string& table);
    static Record NewArtikl(const std::optional<std::string>& currentGrupa,
                            const std::optional<std::string>& currentTarifa);
    static Record NewBarkod(const std::optional<std::string>& currentArtikl);

    // Saves a row in one transaction: inserts a new one, updates a stored one
    // by its key as read and its rowid. A document header without `Broj` is
    // numbered (see NewDocument), a line without `Stavka` gets `vStavka`.
    // Returns false, changing nothing, when the code-list guard forbids it.
    // Throws RequiredFieldError, or DatabaseError (a duplicate key, a row
    // changed or deleted meanwhile).
    bool Save(Record& row);
    // Deletes a stored row; a document header takes its lines with it, in
    // the same transaction. False when the code-list guard forbids it.
    bool Delete(const Record& row);

    // ---- Documents.
    std::vector<Record> Racuni(int godina);      // invoices of the year by number
    std::vector<Record> Ulazi(int godina);       // goods receipts, newest first
    // One document header by its key.
    std::optional<Record> Dokument(int godina, int ui, std::int64_t broj);
    std::vector<Record> StavkeRac(int godina, int ui, std::int64_t broj);
    std::vector<Record> StavkeUlaz(int godina, int ui, std::int64_t broj) { return StavkeRac(godina, ui, broj); }
    // Sum of the lines' amounts, exact; null for a document without lines.
    std::optional<Currency> ZbirRac(int godina, int ui, std::int64_t broj);
    std::optional<Currency> ZbirUlaz(int godina, int ui, std::int64_t broj) { return ZbirRac(godina, ui, broj); }
    // Largest number of the year and kind + 1, or 1. Only a hint for a
    // window: the number a document really gets is taken by NewDocument.
    std::int64_t NoviDoku(int godina, int ui);
    // Numbers and inserts a header (Godina and UI set) in one immediate
    // transaction, so two instances sharing the file never take the same
    // number; lines left behind under that number are removed with it.
    // `ID` gets a new GUID when empty. Returns the number.
    std::int64_t NewDocument(Record& header);
    // Lowest number of an open invoice (Status 0) of the year.
    std::optional<std::int64_t> Otvoren(int godina);
    // Quantity in minus quantity out of one article over the year's
    // documents; null when it never moved that year.
    std::optional<Currency> Zalihe(int godina, const std::string& sifra);
    // Deletes a header and its lines in one transaction.
    void DeleteDocument(int godina, int ui, std::int64_t broj);

    // ---- The article search list and lookups.
    std::vector<ArtiklBarKodRow> ArtiklBarKod();
    // The article that has this barcode (the lowest article code when several
    // share it); the row carries the barcode.
    std::optional<ArtiklBarKodRow> FindBarcode(const std::string& barkod);
    // The article of this code, with an empty barcode.
    std::optional<ArtiklBarKodRow> FindArticle(const std::string& sifra);

    // ---- Cashiers.
    // The cashier with this user name and password, compared exactly (null
    // when none). A password still stored as typed is accepted once and
    // replaced by its hash.
    std::optional<Record> LoginCheck(const std::string& username, const std::string& pass);
    // Stores the hash of `pass` for the cashier; false when there is no such
    // cashier or the code-list guard forbids it.
    bool SetPassword(const std::string& username, const std::string& pass);

    // ---- The device's invoice list of a period.
    std::vector<Record> Podaci();
    void DelPodaci();
    // Replaces the list with `rows` in one transaction.
    void FillPodaci(const std::vector<Record>& rows);
    std::vector<RekapitulacijaRow> Rekapitulacija();

private:
    // Rows of `t` with their rowid; `tail` is constant SQL (WHERE / ORDER BY)
    // whose "?" take `params` in order.
    std::vector<Record> Select(const Table& t, const std::string& tail, const std::vector<Value>& params = {});
    void Insert(Record& row);
    void Update(Record& row);
    std::optional<ArtiklBarKodRow> FindOne(const std::string& sql, const std::string& param);

    Connection baza_;
};

// Case-insensitive match of `filter` inside the row's `Opis` (code and name):
// ASCII and the letters of the Latin and Cyrillic alphabets the shop uses.
bool OpisMatches(const ArtiklBarKodRow& row, const std::string& filter);
std::string FoldCase(const std::string& utf8);

}  // namespace kv::reg

#include "register/Overviews.h"

#include "util/Utf8.h"

namespace kv::reg {

namespace {

// Half-open bounds over the stored ISO dates: the first day, and the day
// after the last, so a date stored with a time of day still falls in.
struct Bounds {
    std::string from, until;
};

std::optional<Bounds> BoundsOf(const DateRange& r) {
    if (!r.OdDatuma || !r.DoDatuma) return std::nullopt;
    const DateTime od = r.OdDatuma->date(), doD = r.DoDatuma->date();
    if (doD < od) return std::nullopt;
    return Bounds{od.toIsoDate(), DateTime::fromMs(doD.ms + DateTime::kMsPerDay).toIsoDate()};
}

// Lines joined to their header (aliases d and p), limited to the range.
constexpr const char* kLinesOfRange =
    " FROM Doku d JOIN Prom p ON p.DokuGodina = d.Godina AND p.DokuUI = d.UI AND p.DokuBroj = d.Broj"
    " WHERE d.Datum >= ?1 AND d.Datum < ?2";
// Invoices only, and with "Neprenesene" those without a server number.
constexpr const char* kInvoicesOfRange = " AND d.UI = 1 AND (?3 = 0 OR IFNULL(d.PargBroj, '') = '')";
// Sign of a refund.
constexpr const char* kSign = "(1 - 2 * IFNULL(d.Storno, 0))";

std::string Amount(const char* column) {
    return std::string("CAST(ROUND(IFNULL(") + column + ", 0) * 100) AS INTEGER) * " + kSign;
}
std::string Quantity(const char* column) {
    return std::string("CAST(ROUND(IFNULL(") + column + ", 0) * 10000) AS INTEGER) * " + kSign;
}

Currency Cents(std::int64_t c) { return Currency::fromRaw(c * 100); }

std::string Text(SQLite::Statement& st, int i) {
    const SQLite::Column c = st.getColumn(i);
    if (c.isNull()) return {};
    return std::string(c.getText(), c.getBytes());
}

template <class Fn>
void Run(TDMGlavni& dm, const char* what, const std::string& sql, const Bounds& b, std::optional<int> svi, Fn&& row) {
    try {
        auto st = dm.Baza().prepare(sql);
        st.bind(1, b.from);
        st.bind(2, b.until);
        if (svi) st.bind(3, *svi);
        while (st.executeStep()) row(st);
    } catch (const DatabaseError&) {
        throw;
    } catch (const std::exception& e) {
        dm.Baza().fail(e, what);
    }
}

}  // namespace

StanjeZalihaResult StanjeZaliha(TDMGlavni& dm, const DateRange& range) {
    StanjeZalihaResult out;
    auto b = BoundsOf(range);
    if (!b) return out;
    const std::string level = " * (1 - IFNULL(d.Nivelacija, 0))";
    const std::string sql =
        "SELECT a.Sifra, a.Naziv, a.Cijena, m.Ulaz, m.Izlaz FROM (SELECT p.Artikl AS Artikl, SUM(" +
        Quantity("p.KolUlaz") + level + ") AS Ulaz, SUM(" + Quantity("p.KolIzlaz") + level + ") AS Izlaz" +
        kLinesOfRange + " GROUP BY p.Artikl) m JOIN Artikl a ON a.Sifra = m.Artikl ORDER BY a.Sifra";
    Run(dm, "StanjeZaliha", sql, *b, std::nullopt, [&](SQLite::Statement& st) {
        StanjeZalihaRow r;
        r.Sifra = FirstChars(Text(st, 0), 20);
        r.Naziv = FirstChars(Text(st, 1), 50);
        r.Cijena = ReadDecimal(st, 2, 2).value_or(Currency());
        r.Ulaz = Currency::fromRaw(st.getColumn(3).getInt64());
        r.Izlaz = Currency::fromRaw(st.getColumn(4).getInt64());
        r.Stanje = r.Ulaz - r.Izlaz;
        r.Vrijednost = RoundCurr(-2, r.Stanje * r.Cijena);
        out.Ukupno += r.Vrijednost;
        out.rows.push_back(std::move(r));
    });
    return out;
}

std::vector<TKRow> TK(TDMGlavni& dm, const DateRange& range) {
    std::vector<TKRow> out;
    auto b = BoundsOf(range);
    if (!b) return out;
    const std::string sql =
        "WITH L AS (SELECT substr(d.Datum, 1, 10) AS Datum, d.UI AS UI, d.Broj AS Broj, "
        "d.Opis || d.Kupac || d.KupacOrgj AS Tekst, " +
        Amount("p.Iznos") + " AS Iznos" + kLinesOfRange +
        ") "
        "SELECT 0, Datum, 0, Broj, Tekst, SUM(Iznos), 0 FROM L WHERE UI = 0 GROUP BY Datum, UI, Broj, Tekst "
        "UNION ALL SELECT 0, Datum, 1, NULL, NULL, 0, SUM(Iznos) FROM L WHERE UI = 1 GROUP BY Datum "
        "UNION ALL SELECT 1, NULL, NULL, NULL, 'Ukupno', "
        "IFNULL(SUM(CASE WHEN UI = 0 THEN Iznos END), 0), IFNULL(SUM(CASE WHEN UI = 1 THEN Iznos END), 0) FROM L "
        "ORDER BY 1, 2, 3, 4";
    Run(dm, "TK", sql, *b, std::nullopt, [&](SQLite::Statement& st) {
        TKRow r;
        r.RowNum = static_cast<std::int64_t>(out.size()) + 1;
        const bool total = st.getColumn(0).getInt() == 1;
        if (!total) {
            r.Datum = Text(st, 1);
            r.UI = st.getColumn(2).getInt();
        }
        if (!st.getColumn(3).isNull()) r.Broj = st.getColumn(3).getInt64();
        if (!st.getColumn(4).isNull()) r.Opis = FirstChars(Text(st, 4), 250);
        r.Zaduzenje = Cents(st.getColumn(5).getInt64());
        r.Razduzenje = Cents(st.getColumn(6).getInt64());
        out.push_back(std::move(r));
    });
    return out;
}

RekNacPlResult RekNacPl(TDMGlavni& dm, const DateRange& range, PrikaziRacune svi) {
    RekNacPlResult out;
    auto b = BoundsOf(range);
    if (!b) return out;
    // Grouped by code first; the join then leaves out invoices whose code
    // has no payment type.
    const std::string q =
        "SELECT g.NacinPL, t.Opis, g.Iznos FROM (SELECT d.NacinPL AS NacinPL, SUM(" + Amount("p.Iznos") +
        ") AS Iznos" + kLinesOfRange + kInvoicesOfRange +
        " GROUP BY d.NacinPL) g JOIN PaymentType t ON t.Sifra = g.NacinPL ORDER BY g.NacinPL, t.Opis";
    Run(dm, "RekNacPl", q, *b, static_cast<int>(svi), [&](SQLite::Statement& st) {
        RekNacPlRow r;
        r.NP = Text(st, 0);
        r.Opis = FirstChars(Text(st, 1), 20);
        r.Iznos = Cents(st.getColumn(2).getInt64());
        out.Ukupno += r.Iznos;
        out.rows.push_back(std::move(r));
    });
    return out;
}

RekRadnikResult RekRadnik(TDMGlavni& dm, const DateRange& range, PrikaziRacune svi) {
    RekRadnikResult out;
    auto b = BoundsOf(range);
    if (!b) return out;
    const std::string sql = "SELECT d.Cashier, SUM(" + Amount("p.Iznos") + ")" + kLinesOfRange + kInvoicesOfRange +
                            " GROUP BY d.Cashier ORDER BY d.Cashier";
    Run(dm, "RekRadnik", sql, *b, static_cast<int>(svi), [&](SQLite::Statement& st) {
        RekRadnikRow r;
        r.Radnik = FirstChars(Text(st, 0), 20);
        r.Iznos = Cents(st.getColumn(1).getInt64());
        out.Ukupno += r.Iznos;
        out.rows.push_back(std::move(r));
    });
    return out;
}

std::vector<PrometDetaljniRow> PrometDetaljni(TDMGlavni& dm, const DateRange& range, PrikaziRacune svi) {
    std::vector<PrometDetaljniRow> out;
    auto b = BoundsOf(range);
    if (!b) return out;
    const std::string sql =
        "SELECT substr(d.Datum, 1, 10), d.Broj, p.Stavka, d.Cashier, d.Kupac, d.KupacOrgj, d.NacinPL, d.PFRBROJ, "
        "p.Artikl, p.BarKod, p.Opis, " +
        Quantity("p.KolIzlaz") + ", p.Cijena, " + Amount("p.Iznos") + ", d.PargBroj" + kLinesOfRange +
        kInvoicesOfRange + " ORDER BY d.Datum, d.Broj, p.Stavka";
    Run(dm, "PrometDetaljni", sql, *b, static_cast<int>(svi), [&](SQLite::Statement& st) {
        PrometDetaljniRow r;
        r.Datum = Text(st, 0);
        r.Broj = st.getColumn(1).getInt64();
        r.Stavka = st.getColumn(2).getInt64();
        r.Radnik = FirstChars(Text(st, 3), 20);
        r.Kupac = FirstChars(Text(st, 4), 30);
        r.KupacOrgj = FirstChars(Text(st, 5), 30);
        r.NP = Text(st, 6);
        r.PFRBROJ = FirstChars(Text(st, 7), 20);
        r.Artikl = FirstChars(Text(st, 8), 20);
        r.Barkod = FirstChars(Text(st, 9), 13);
        r.Opis = FirstChars(Text(st, 10), 50);
        r.KolIzlaz = Currency::fromRaw(st.getColumn(11).getInt64());
        r.Cijena = ReadDecimal(st, 12, 2).value_or(Currency());
        r.Iznos = Cents(st.getColumn(13).getInt64());
        if (!st.getColumn(14).isNull()) r.PargBroj = st.getColumn(14).getInt64();
        out.push_back(std::move(r));
    });
    return out;
}

// ---------------------------------------------------------------- display

std::string FormatIznos(Currency v, char decimalSep) { return FormatTotal(v, decimalSep); }

std::string FormatKolicina(Currency v, char decimalSep) {
    const Currency r = RoundCurr(-3, v);
    const bool negative = r.raw() < 0;
    const std::int64_t raw = negative ? -r.raw() : r.raw();
    const std::string whole = std::to_string(raw / Currency::kScale);
    const char group = decimalSep == ',' ? '.' : ',';
    std::string out;
    for (size_t i = 0; i < whole.size(); ++i) {
        if (i > 0 && (whole.size() - i) % 3 == 0) out += group;
        out += whole[i];
    }
    std::string frac = std::to_string(1000 + (raw % Currency::kScale) / 10).substr(1);
    while (!frac.empty() && frac.back() == '0') frac.pop_back();
    if (!frac.empty()) out += decimalSep + frac;
    return negative ? "-" + out : out;
}

std::string FormatDatum(const std::string& iso) {
    if (iso.size() < 10 || iso[4] != '-' || iso[7] != '-') return iso;
    return iso.substr(8, 2) + "." + iso.substr(5, 2) + "." + iso.substr(0, 4);
}

}  // namespace kv::reg

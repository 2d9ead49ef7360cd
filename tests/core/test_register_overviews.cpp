// Overviews of a date range: stock list, merchandise book and turnover views,
// exact to the last digit, refunds against their kind, "Neprenesene".
#include <gtest/gtest.h>

#include "../core/money_literal.h"
#include "register/Overviews.h"
#include "register_fixture.h"

using kv::Currency;
using kv::DateTime;
namespace reg = kv::reg;

namespace {

class Overviews : public kv::test::RegisterTest {
protected:
    void SetUp() override {
        RegisterTest::SetUp();
        Raw("INSERT INTO PaymentType (Sifra, Opis, FiskPayType) VALUES ('0', 'Gotovina', 1), ('10', 'Kartica Visa', 2)");
        Raw("INSERT INTO Artikl (Sifra, Naziv, Grupa, Tarifa, Cijena) VALUES "
            "('100', 'Mlijeko', '01', 'E', 1.35), ('200', 'Hljeb', '01', 'E', 2)");
    }
    struct D {
        int ui = 1;
        std::int64_t broj;
        const char* datum;
        int storno = 0, status = 1, nivelacija = 0;
        const char* np = "0";
        const char* cashier = "ana";
        const char* parg = "NULL";
        const char* opis = "''";
        const char* kupac = "NULL";
        const char* orgj = "NULL";
    };
    void Doc(const D& d) {
        Raw("INSERT INTO Doku (Godina, UI, Broj, Opis, Storno, Status, Datum, Cashier, NacinPL, Nivelacija, PargBroj, "
            "Kupac, KupacOrgj) VALUES (2024, " +
            std::to_string(d.ui) + ", " + std::to_string(d.broj) + ", " + d.opis + ", " + std::to_string(d.storno) +
            ", " + std::to_string(d.status) + ", '" + d.datum + "', '" + d.cashier + "', '" + d.np + "', " +
            std::to_string(d.nivelacija) + ", " + d.parg + ", " + d.kupac + ", " + d.orgj + ")");
    }
    void Ln(int ui, std::int64_t broj, int stavka, const char* artikl, const char* kol, const char* cijena,
            const char* iznos) {
        const std::string q = ui == 0 ? "KolUlaz" : "KolIzlaz";
        Raw("INSERT INTO Prom (DokuGodina, DokuUI, DokuBroj, Stavka, Artikl, Opis, " + q +
            ", Cijena, Iznos) VALUES (2024, " + std::to_string(ui) + ", " + std::to_string(broj) + ", " +
            std::to_string(stavka) + ", '" + artikl + "', 'x', " + kol + ", " + cijena + ", " + iznos + ")");
    }
    static reg::DateRange Range(int d1, int d2) {
        return {DateTime::fromParts(2024, 5, d1), DateTime::fromParts(2024, 5, d2)};
    }
};

TEST_F(Overviews, StockListCountsRefundsAgainstTheirKindAndLevellingWithoutQuantity) {
    Doc({.ui = 0, .broj = 1, .datum = "2024-05-02"});
    Ln(0, 1, 1, "100", "10", "1.35", "13.5");
    Doc({.ui = 0, .broj = 2, .datum = "2024-05-02", .nivelacija = 1});
    Ln(0, 2, 1, "100", "10", "1.35", "2");
    Doc({.broj = 1, .datum = "2024-05-03"});
    Ln(1, 1, 1, "100", "3", "1.35", "4.05");
    Doc({.broj = 2, .datum = "2024-05-03", .storno = 1});
    Ln(1, 2, 1, "100", "1", "1.35", "1.35");
    Doc({.broj = 3, .datum = "2024-05-04", .status = 0});  // open invoices count alike
    Ln(1, 3, 1, "200", "0.333", "2", "0.67");
    Doc({.broj = 4, .datum = "2024-06-01"});  // outside the range
    Ln(1, 4, 1, "200", "5", "2", "10");

    auto s = reg::StanjeZaliha(*dm, Range(1, 31));
    ASSERT_EQ(s.rows.size(), 2u);
    const auto& a = s.rows[0];
    EXPECT_EQ(a.Sifra, "100");
    EXPECT_EQ(a.Ulaz, 10_cur);
    EXPECT_EQ(a.Izlaz, 2_cur);  // sale 3, refund 1
    EXPECT_EQ(a.Stanje, 8_cur);
    EXPECT_EQ(a.Vrijednost, 10.80_cur);
    const auto& b = s.rows[1];
    EXPECT_EQ(b.Stanje, -0.333_cur);
    EXPECT_EQ(b.Vrijednost, -0.67_cur);  // -0.666 to the hundredth
    EXPECT_EQ(s.Ukupno, 10.13_cur);
    // No opening balance: the movement of the range only; nothing moved, nothing listed.
    EXPECT_EQ(reg::StanjeZaliha(*dm, Range(3, 3)).rows.at(0).Stanje, -2_cur);
    EXPECT_TRUE(reg::StanjeZaliha(*dm, Range(10, 20)).rows.empty());
}

TEST_F(Overviews, FootersAreTheSumsOfTheirRowsToTheLastDigit) {
    // 300 articles at prices and quantities whose products carry more digits
    // than are shown; each row's value is rounded, the footer sums the rows.
    dm->Baza().immediate([&] {
        Doc({.ui = 0, .broj = 1, .datum = "2024-05-02"});
        Doc({.broj = 1, .datum = "2024-05-02"});
        for (int i = 1; i <= 300; ++i) {
            const std::string code = "A" + std::to_string(i);
            Raw("INSERT INTO Artikl (Sifra, Naziv, Grupa, Tarifa, Cijena) VALUES ('" + code + "', 'n', '01', 'E', 0." +
                std::to_string(10 + i % 89) + ")");
            Ln(0, 1, i, code.c_str(), "1.3335", "0", "0.1");
            Ln(1, 1, i, code.c_str(), "0.001", "0", "0.07");
        }
    });
    auto s = reg::StanjeZaliha(*dm, Range(1, 31));
    ASSERT_EQ(s.rows.size(), 300u);
    Currency sum;
    for (const auto& r : s.rows) {
        EXPECT_EQ(r.Vrijednost, kv::RoundCurr(-2, r.Vrijednost));
        sum += r.Vrijednost;
    }
    EXPECT_EQ(s.Ukupno, sum);
    auto tk = reg::TK(*dm, Range(1, 31));
    EXPECT_EQ(tk.back().Zaduzenje, 30.00_cur);
    EXPECT_EQ(tk.back().Razduzenje, 21.00_cur);
    auto np = reg::RekNacPl(*dm, Range(1, 31), reg::PrikaziRacune::Sve);
    EXPECT_EQ(np.Ukupno, 21.00_cur);
}

TEST_F(Overviews, MerchandiseBookListsReceiptsThenTheDaysSalesAndTheTotalLast) {
    Doc({.ui = 0, .broj = 2, .datum = "2024-05-02", .opis = "'Ulaz '", .kupac = "'Dobavljač '", .orgj = "'R-15'"});
    Ln(0, 2, 1, "100", "10", "1.35", "13.5");
    Doc({.ui = 0, .broj = 1, .datum = "2024-05-02", .kupac = "'Bez broja'"});  // no document number
    Ln(0, 1, 1, "200", "3", "2", "6");
    Ln(0, 1, 2, "200", "1", "2", "2");
    Doc({.broj = 1, .datum = "2024-05-02"});
    Ln(1, 1, 1, "100", "2", "1.35", "2.7");
    Doc({.broj = 2, .datum = "2024-05-02", .storno = 1});
    Ln(1, 2, 1, "100", "1", "1.35", "1.35");
    Doc({.broj = 3, .datum = "2024-05-01", .parg = "77"});
    Ln(1, 3, 1, "200", "1", "2", "2");
    Doc({.ui = 0, .broj = 3, .datum = "2024-05-03", .nivelacija = 1, .kupac = "''", .orgj = "''"});
    Ln(0, 3, 1, "100", "10", "1.40", "0.5");

    auto tk = reg::TK(*dm, Range(1, 31));
    ASSERT_EQ(tk.size(), 6u);
    struct Want {
        const char* datum;
        std::optional<int> ui;
        std::optional<std::int64_t> broj;
        std::optional<std::string> opis;
        Currency zad, raz;
    } want[] = {
        {"2024-05-01", 1, {}, {}, {}, 2.00_cur},
        {"2024-05-02", 0, 1, {}, 8.00_cur, {}},  // a missing text empties the whole text
        {"2024-05-02", 0, 2, "Ulaz Dobavljač R-15", 13.50_cur, {}},
        {"2024-05-02", 1, {}, {}, {}, 1.35_cur},  // sale 2.70, refund 1.35
        {"2024-05-03", 0, 3, "", 0.50_cur, {}},   // levelling with its value
        {"", {}, {}, "Ukupno", 22.00_cur, 3.35_cur},
    };
    for (size_t i = 0; i < tk.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(tk[i].RowNum, static_cast<std::int64_t>(i) + 1);
        EXPECT_EQ(tk[i].Datum, want[i].datum);
        EXPECT_EQ(tk[i].UI, want[i].ui);
        EXPECT_EQ(tk[i].Broj, want[i].broj);
        EXPECT_EQ(tk[i].Opis, want[i].opis);
        EXPECT_EQ(tk[i].Zaduzenje, want[i].zad);
        EXPECT_EQ(tk[i].Razduzenje, want[i].raz);
    }
    EXPECT_TRUE(tk.back().isTotal());
    // An empty range still closes with its total row.
    auto empty = reg::TK(*dm, Range(20, 21));
    ASSERT_EQ(empty.size(), 1u);
    EXPECT_EQ(empty[0].Zaduzenje, Currency());
}

TEST_F(Overviews, TurnoverViewsNettRefundsAndNeprenesenHidesUploadedInvoicesFromThemOnly) {
    Doc({.broj = 1, .datum = "2024-05-05", .np = "10", .cashier = "ana"});
    Ln(1, 1, 1, "100", "10", "10", "100");
    Doc({.broj = 2, .datum = "2024-05-05", .storno = 1, .np = "10", .cashier = "marko"});
    Ln(1, 2, 1, "100", "3", "10", "30");
    Doc({.broj = 3, .datum = "2024-05-05", .status = 0, .np = "0", .cashier = "ana", .parg = "501"});
    Ln(1, 3, 1, "200", "1", "2", "2");
    Doc({.broj = 4, .datum = "2024-05-05", .np = "X"});  // no such payment type
    Ln(1, 4, 1, "200", "1", "2", "2");
    Doc({.ui = 0, .broj = 1, .datum = "2024-05-05"});  // receipts are no turnover
    Ln(0, 1, 1, "200", "5", "2", "10");

    const auto day = Range(5, 5);
    {
        auto np = reg::RekNacPl(*dm, day, reg::PrikaziRacune::Sve);
        ASSERT_EQ(np.rows.size(), 2u);
        EXPECT_EQ(np.rows[0].NP, "0");
        EXPECT_EQ(np.rows[1].NP, "10");  // the whole code
        EXPECT_EQ(np.rows[1].Opis, "Kartica Visa");
        EXPECT_EQ(np.rows[1].Iznos, 70.00_cur);
        EXPECT_EQ(np.Ukupno, 72.00_cur);
        auto rad = reg::RekRadnik(*dm, day, reg::PrikaziRacune::Sve);
        ASSERT_EQ(rad.rows.size(), 2u);
        EXPECT_EQ(rad.rows[0].Radnik, "ana");
        EXPECT_EQ(rad.rows[0].Iznos, 104.00_cur);
        EXPECT_EQ(rad.rows[1].Iznos, -30.00_cur);
        EXPECT_EQ(rad.Ukupno, 74.00_cur);
        auto det = reg::PrometDetaljni(*dm, day, reg::PrikaziRacune::Sve);
        ASSERT_EQ(det.size(), 4u);
        EXPECT_EQ(det[1].Broj, 2);
        EXPECT_EQ(det[1].KolIzlaz, -3_cur);
        EXPECT_EQ(det[1].Iznos, -30.00_cur);
        EXPECT_EQ(det[1].Cijena, 10.00_cur);
        EXPECT_FALSE(det[1].PargBroj.has_value());
        EXPECT_EQ(det[2].PargBroj, 501);
    }
    {
        auto np = reg::RekNacPl(*dm, day, reg::PrikaziRacune::Neprenesene);
        ASSERT_EQ(np.rows.size(), 1u);
        EXPECT_EQ(np.Ukupno, 70.00_cur);
        EXPECT_EQ(reg::RekRadnik(*dm, day, reg::PrikaziRacune::Neprenesene).Ukupno, 72.00_cur);
        auto det = reg::PrometDetaljni(*dm, day, reg::PrikaziRacune::Neprenesene);
        EXPECT_EQ(det.size(), 3u);
        for (const auto& r : det) EXPECT_NE(r.Broj, 3);
        // The stock list and the merchandise book still count the uploaded invoice.
        auto s = reg::StanjeZaliha(*dm, day);
        EXPECT_EQ(s.rows.at(1).Izlaz, 2_cur);
        EXPECT_EQ(reg::TK(*dm, day).back().Razduzenje, 74.00_cur);
    }
}

TEST_F(Overviews, RangesIncludeBothEndsAndAnInvalidRangeIsEmpty) {
    Doc({.broj = 1, .datum = "2024-05-05"});
    Ln(1, 1, 1, "100", "1", "1", "1");
    Doc({.broj = 2, .datum = "2024-05-06 00:00:00"});  // written with a time by another program
    Ln(1, 2, 1, "100", "1", "1", "2");
    struct Case {
        const char* what;
        reg::DateRange range;
        Currency ukupno;
        size_t rows;
    } cases[] = {
        {"one day", Range(5, 5), 1.00_cur, 1},
        {"stored with a time", Range(6, 6), 2.00_cur, 1},
        {"both", Range(5, 6), 3.00_cur, 1},
        {"reversed", Range(6, 5), {}, 0},
        {"no start", {std::nullopt, DateTime::fromParts(2024, 5, 6)}, {}, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        auto np = reg::RekNacPl(*dm, c.range, reg::PrikaziRacune::Sve);
        EXPECT_EQ(np.rows.size(), c.rows);
        EXPECT_EQ(np.Ukupno, c.ukupno);
    }
}

TEST_F(Overviews, DisplayForms) {
    struct Case {
        Currency v;
        const char* kol;
        const char* iznos;
    } cases[] = {
        {1234567.5_cur, "1.234.567,5", "1.234.567,50"},
        {-0.333_cur, "-0,333", "-0,33"},
        {0.0005_cur, "0,001", "0,00"},
        {12_cur, "12", "12,00"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(reg::FormatKolicina(c.v, ','), c.kol);
        EXPECT_EQ(reg::FormatIznos(c.v, ','), c.iznos);
    }
    EXPECT_EQ(reg::FormatDatum("2024-05-06"), "06.05.2024");
}

}  // namespace

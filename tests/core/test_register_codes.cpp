// Code lists of the register: the article search list and lookups, the
// guard of the server link, new-row defaults and texts kept exactly.
#include <gtest/gtest.h>

#include "../core/money_literal.h"
#include "register/DemoData.h"
#include "register_fixture.h"

using kv::Currency;
using kv::reg::ArtiklBarKodRow;
using kv::reg::Record;
using kv::reg::RequiredFieldError;
using kv::reg::TDMGlavni;

namespace {

class RegisterCodes : public kv::test::RegisterTest {
protected:
    void SetUp() override {
        RegisterTest::SetUp();
        Raw("INSERT INTO Tarifa VALUES ('E', 17, 'E'), ('A', 0, 'A')");
        Raw("INSERT INTO Grupa VALUES ('01', 'Pića')");
    }
    Record Article(const std::string& sifra, const std::string& naziv, const std::string& tarifa, const char* cijena) {
        auto a = TDMGlavni::NewArtikl(std::string("01"), tarifa);
        a.set("Sifra", sifra).set("Naziv", naziv).set("Cijena", cijena);
        EXPECT_TRUE(dm->Save(a));
        return a;
    }
    void Barcode(const std::string& code, const std::string& artikl) {
        auto b = TDMGlavni::NewBarkod(artikl);
        b.set("Sifra", code);
        ASSERT_TRUE(dm->Save(b));
    }
};

TEST_F(RegisterCodes, TheSearchListHasOneRowPerBarcodeAndLeavesOutArticlesWithoutTariff) {
    Article("1", "Tri koda", "E", "1.5");
    for (auto code : {"111", "112", "113"}) Barcode(code, "1");
    Article("2", "Bez koda", "A", "2");
    Article("3", "Bez tarife", "X", "3");
    Barcode("333", "3");
    auto rows = dm->ArtiklBarKod();
    std::multiset<std::string> seen;
    for (auto& r : rows) seen.insert(r.Sifra + "/" + r.Barkod);
    EXPECT_EQ(seen, (std::multiset<std::string>{"1/111", "1/112", "1/113", "2/"}));
    for (auto& r : rows)
        if (r.Sifra == "1") {
            EXPECT_EQ(r.Cijena, 1.50_cur);
            EXPECT_EQ(r.STOPA, 17.00_cur);
            EXPECT_EQ(r.Opis(), "1 Tri koda");
        }
    EXPECT_EQ(dm->FindBarcode("112")->Sifra, "1");
    EXPECT_EQ(dm->FindBarcode("112")->Barkod, "112");
    EXPECT_FALSE(dm->FindBarcode("333"));  // its article has no known tariff
    EXPECT_EQ(dm->FindArticle("2")->Naziv, "Bez koda");
    EXPECT_FALSE(dm->FindArticle("9"));
}

TEST_F(RegisterCodes, QuotesPercentSignsAndUnderscoresAreStoredAndFoundExactly) {
    const std::string tricky[] = {"O'Brien", "50%", "A_1", "x\"; DROP TABLE Artikl; --", "%", "_"};
    int n = 0;
    for (const auto& s : tricky) Article(s, "Naziv " + s, "E", "1"), Barcode("b" + s, s), ++n;
    Article("A11", "Slično", "E", "1");
    Article("5000", "Pet hiljada", "E", "1");
    for (const auto& s : tricky) {
        SCOPED_TRACE(s);
        ASSERT_TRUE(dm->FindArticle(s));
        EXPECT_EQ(dm->FindArticle(s)->Naziv, "Naziv " + s);
        EXPECT_EQ(dm->FindBarcode("b" + s)->Sifra, s);
        EXPECT_EQ(dm->Barkod(s).size(), 1u);
    }
    EXPECT_FALSE(dm->FindArticle("A%"));
    EXPECT_FALSE(dm->FindArticle("50_"));
    EXPECT_EQ(dm->Artikl().size(), static_cast<size_t>(n + 2));
    // The search filter is a plain, case-insensitive text match.
    ArtiklBarKodRow r{"A_1", "Čokolada ŽUTA", "01", "E", "", Currency(1), {}};
    EXPECT_TRUE(kv::reg::OpisMatches(r, "čokolada žuta"));
    EXPECT_TRUE(kv::reg::OpisMatches(r, "a_1"));
    EXPECT_FALSE(kv::reg::OpisMatches(r, "a%1"));
    ArtiklBarKodRow c{"7", "МЛИЈЕКО", "01", "E", "", Currency(1), {}};
    EXPECT_TRUE(kv::reg::OpisMatches(c, "млијеко"));
}

TEST_F(RegisterCodes, WithTheServerLinkOnEditsAndDeletesOfCodeListsDoNothing) {
    bool server = false;
    dm->serverLink = [&] { return server; };
    Article("1", "Voda", "E", "1");
    Barcode("111", "1");
    Raw("INSERT INTO PaymentType VALUES ('0', 'Gotovina', 1)");
    Raw("INSERT INTO Radnik VALUES ('ana', 'Ana', 'x')");
    Raw("INSERT INTO Partner (PARTNERSIFRA) VALUES ('P1')");
    Raw("INSERT INTO Kart VALUES ('K1', 'Kartica')");
    Raw("INSERT INTO Rabat VALUES ('K1', 'G', '01', 5)");
    server = true;
    const std::vector<std::pair<const char*, std::vector<Record>>> lists = {
        {"Artikl", dm->Artikl()},   {"Barkod", dm->Barkod("1")}, {"Grupa", dm->Grupa()},
        {"Tarifa", dm->Tarifa()},   {"PaymentType", dm->NacPl()}, {"Radnik", dm->Radnik()},
        {"Partner", dm->Partner()}, {"Kart", dm->Kart()},         {"Rabat", dm->Rabat("K1")}};
    for (auto [table, rows] : lists) {
        SCOPED_TRACE(table);
        ASSERT_FALSE(rows.empty());
        Record r = rows.front();
        const char* col = r.table->columns.back().name;
        r.set(col, r.table->columns.back().type == kv::reg::ColType::Text ? kv::Value(std::string("changed"))
                                                                          : kv::Value(std::int64_t(42)));
        EXPECT_FALSE(dm->Save(r));
        EXPECT_FALSE(dm->Delete(rows.front()));
    }
    for (auto [table, rows] : lists) {
        auto st = dm->Baza().prepare(std::string("SELECT count(*) FROM ") + table + " WHERE rowid = ?");
        st.bind(1, static_cast<int64_t>(rows.front().rowid));
        st.executeStep();
        EXPECT_EQ(st.getColumn(0).getInt(), 1) << table;
    }
    EXPECT_EQ(dm->Artikl().front().text("Cijena"), "1");
    EXPECT_FALSE(dm->SetPassword("ana", "nova"));
    // Inserting is left to the screens (they disable their grids).
    auto g = TDMGlavni::NewRecord("Grupa");
    g.set("Sifra", "02");
    EXPECT_TRUE(dm->Save(g));
}

TEST_F(RegisterCodes, NewRowsTakeTheirDefaultsAndRequiredFieldsAreEnforced) {
    auto a = TDMGlavni::NewArtikl(std::string("01"), std::string("E"));
    EXPECT_EQ(a.text("Grupa"), "01");
    EXPECT_EQ(a.text("Tarifa"), "E");
    EXPECT_EQ(a.decimal("Cijena"), Currency(0));
    auto none = TDMGlavni::NewArtikl(std::nullopt, std::nullopt);
    EXPECT_TRUE(none.isNull("Grupa"));
    EXPECT_TRUE(none.isNull("Tarifa"));
    auto b = TDMGlavni::NewBarkod(std::string("1"));
    EXPECT_EQ(b.text("Artikl"), "1");
    EXPECT_EQ(b.text("Sifra"), "");

    struct Case {
        const char* column;
        kv::Value value;
    } missing[] = {{"Sifra", std::string()}, {"Grupa", std::monostate{}}, {"Tarifa", std::string()},
                   {"Cijena", std::monostate{}}};
    for (const auto& c : missing) {
        auto r = TDMGlavni::NewArtikl(std::string("01"), std::string("E"));
        r.set("Sifra", "9");
        r.values[r.table->index(c.column)] = c.value;
        try {
            dm->Save(r);
            ADD_FAILURE() << c.column << " accepted";
        } catch (const RequiredFieldError& e) {
            EXPECT_EQ(e.field(), c.column);
        }
        EXPECT_TRUE(r.isNew());
    }
    EXPECT_THROW(dm->Save(b), RequiredFieldError);  // a barcode needs its code
    EXPECT_TRUE(dm->Artikl().empty());
}

TEST_F(RegisterCodes, ASavedRowIsAddressedByTheKeyItWasReadUnder) {
    auto a = Article("1", "Voda", "E", "1");
    Article("2", "Sok", "E", "2");
    a.set("Sifra", "1A").set("Cijena", "1.255");
    ASSERT_TRUE(dm->Save(a));
    auto rows = dm->Artikl();
    EXPECT_EQ(rows[0].text("Sifra"), "1A");
    EXPECT_EQ(rows[0].decimal("Cijena"), 1.26_cur);
    EXPECT_EQ(rows[1].text("Sifra"), "2");
    // A duplicate key is refused by the file; a row deleted meanwhile is reported.
    auto dup = rows[1];
    dup.set("Sifra", "1A");
    EXPECT_THROW(dm->Save(dup), kv::reg::DatabaseError);
    Raw("DELETE FROM Artikl WHERE Sifra = '2'");
    rows[1].set("Naziv", "Sok 2");
    EXPECT_THROW(dm->Save(rows[1]), kv::reg::DatabaseError);
}

TEST_F(RegisterCodes, TheDeviceListRecapitulatesSalesAndAdvancesWithRefundsNegative) {
    std::vector<Record> rows;
    auto add = [&](const char* tip, const char* racun, const char* datum, const char* iznos) {
        auto r = TDMGlavni::NewRecord("Podaci");
        r.set("TipTrans", tip).set("TipRacuna", racun).set("Datum", datum).set("IZNOS", iznos);
        rows.push_back(r);
    };
    add("0", "0", "2024-05-01", "10.10");
    add("0", "0", "2024-05-01", "0.20");
    add("0", "1", "2024-05-01", "0.10");
    add("4", "0", "2024-05-02", "5");
    add("1", "0", "2024-05-02", "99");  // neither sale nor advance
    dm->FillPodaci(rows);
    dm->FillPodaci(rows);  // replaces, does not add
    EXPECT_EQ(dm->Podaci().size(), 5u);
    auto rek = dm->Rekapitulacija();
    ASSERT_EQ(rek.size(), 4u);
    EXPECT_EQ(rek[0].Datum, "2024-05-01");
    EXPECT_EQ(rek[0].Vrsta, "Promet");
    EXPECT_EQ(rek[0].Ukupno, 10.20_cur);
    EXPECT_EQ(rek[1].Vrsta, "Avans");
    EXPECT_EQ(rek[2].Datum, "Ukupno");
    EXPECT_EQ(rek[2].Ukupno, 10.20_cur);
    EXPECT_EQ(rek[3].Ukupno, 5.00_cur);
    dm->DelPodaci();
    EXPECT_TRUE(dm->Podaci().empty());
}

TEST_F(RegisterCodes, TheDemoSetFillsAnEmptyRegisterOnce) {
    Raw("DELETE FROM Tarifa; DELETE FROM Grupa");
    ASSERT_TRUE(kv::reg::LoadDemoData(*dm));
    EXPECT_FALSE(kv::reg::LoadDemoData(*dm));
    EXPECT_EQ(dm->Tarifa().size(), 3u);
    EXPECT_EQ(dm->Radnik().size(), 2u);
    EXPECT_EQ(dm->FindBarcode("2100001")->Naziv, "Jabuke (vaga)");
    EXPECT_TRUE(dm->LoginCheck("ana", "1111"));
}

}  // namespace

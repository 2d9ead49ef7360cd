// Goods receipts: numbering and order, line rules, price levelling and the
// article pickers of the line panel.
#include <gtest/gtest.h>

#include "../core/money_literal.h"
#include "register/GoodsReceipts.h"
#include "register/Overviews.h"
#include "register_fixture.h"
#include "util/ScriptedPrompter.h"

using kv::Currency;
using kv::DateTime;
using kv::reg::kRacun;
using kv::reg::kUlaz;
using kv::reg::Record;
using kv::reg::TDMGlavni;
namespace reg = kv::reg;

namespace {

class Goods : public kv::test::RegisterTest {
protected:
    void SetUp() override {
        RegisterTest::SetUp();
        Raw("INSERT INTO Tarifa (SIFRA, STOPA, FiskTax) VALUES ('E', 17, 'E')");
        Raw("INSERT INTO Grupa (Sifra, Naziv) VALUES ('01', 'Hrana')");
        Raw("INSERT INTO Artikl (Sifra, Naziv, Grupa, Tarifa, Cijena) VALUES "
            "('100', 'Mlijeko', '01', 'E', 1.35), ('200', 'Hljeb', '01', 'E', 2), ('300', 'Brašno', '01', 'E', 0.01)");
    }
    Record Artikl(const std::string& sifra) {
        for (auto& a : dm->Artikl())
            if (a.text("Sifra") == sifra) return a;
        throw std::runtime_error("no article " + sifra);
    }
    Record Receipt(bool nivelacija = false) {
        auto h = reg::NewUlaz(2024, DateTime::fromParts(2024, 3, 5), DateTime::fromParts(2024, 3, 5, 9, 30));
        if (nivelacija) h.set("Nivelacija", std::int64_t(1));
        EXPECT_TRUE(reg::SaveUlaz(*dm, h, prompter));
        return h;
    }
    // A saved line of `artikl`; on a levelling receipt `price` is the new price.
    Record AddLine(const Record& h, const std::string& artikl, Currency qty, std::optional<Currency> price = {}) {
        const bool niv = h.integer("Nivelacija") == 1;
        auto l = reg::NewStavkaUlaz(*dm, h);
        reg::SetArtikl(l, Artikl(artikl), niv);
        if (price) l.set("Cijena", *price);
        reg::SetKolicina(l, qty, niv);
        EXPECT_TRUE(reg::SaveStavkaUlaz(*dm, l, niv, prompter));
        return l;
    }
    Currency Price(const std::string& sifra) { return *Artikl(sifra).decimal("Cijena"); }

    kv::ScriptedPrompter prompter;
};

TEST_F(Goods, TheFirstReceiptOfAYearIsNumberOneAndTheGridListsTheNewestFirst) {
    for (int i = 0; i < 3; ++i) NewDoc(2024, kRacun);
    auto h = Receipt();
    EXPECT_EQ(h.integer("Broj"), 1);
    EXPECT_EQ(Receipt().integer("Broj"), 2);
    EXPECT_EQ(Receipt().integer("Broj"), 3);
    auto list = dm->Ulazi(2024);
    ASSERT_EQ(list.size(), 3u);
    EXPECT_EQ(list.front().integer("Broj"), 3);
    // Defaults of a new receipt.
    EXPECT_EQ(list.back().text("Datum"), "2024-03-05");
    EXPECT_EQ(list.back().text("SysTime"), "2024-03-05 09:30:00");
    for (const char* c : {"Storno", "Status", "Nivelacija"}) EXPECT_EQ(list.back().integer(c), 0) << c;
    EXPECT_EQ(list.back().text("Opis"), "");
    EXPECT_EQ(list.back().text("ID").size(), 38u);
    EXPECT_TRUE(list.back().isNull("Cashier"));
}

TEST_F(Goods, APickedArticleFillsTextAndPriceAndTheAmountIsPriceTimesQuantity) {
    auto h = Receipt();
    struct Case {
        const char* artikl;
        Currency qty, iznos;
    } cases[] = {
        {"100", 12_cur, 16.20_cur},
        {"100", 0.333_cur, 0.45_cur},   // 0.44955 to the hundredth
        {"300", 2.5_cur, 0.03_cur},     // 0.025: half away from zero
        {"200", 0.0001_cur, 0.00_cur},  // too small to count: refused below
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.artikl);
        auto l = reg::NewStavkaUlaz(*dm, h);
        reg::SetArtikl(l, Artikl(c.artikl), false);
        EXPECT_EQ(l.text("Opis"), Artikl(c.artikl).text("Naziv"));
        EXPECT_EQ(l.decimal("Cijena"), Price(c.artikl));
        reg::SetKolicina(l, c.qty, false);
        EXPECT_EQ(l.decimal("Iznos"), c.iznos);
    }
    AddLine(h, "100", 12_cur);
    AddLine(h, "300", 2.5_cur);
    auto lines = dm->StavkeUlaz(2024, kUlaz, 1);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[1].integer("Stavka"), 2);
    EXPECT_EQ(lines[1].decimal("KolIzlaz"), Currency());
    EXPECT_TRUE(lines[1].isNull("Tarifa"));
    EXPECT_EQ(dm->ZbirUlaz(2024, kUlaz, 1), 16.23_cur);
    EXPECT_EQ(reg::NewStavkaUlaz(*dm, h).integer("Stavka"), 3);
}

TEST_F(Goods, ALineWithoutAmountIsRefusedAfterABeepAndNothingIsStored) {
    auto h = Receipt();
    for (Currency qty : {Currency(), 0.0001_cur}) {
        auto l = reg::NewStavkaUlaz(*dm, h);
        reg::SetArtikl(l, Artikl("100"), false);
        reg::SetKolicina(l, qty, false);
        int beeps = 0;
        prompter.clearLog();
        EXPECT_FALSE(reg::SaveStavkaUlaz(*dm, l, false, prompter, [&] { ++beeps; }));
        EXPECT_EQ(beeps, 1);
        EXPECT_EQ(prompter.texts(), std::vector<std::string>{"Nema iznosa"});
        EXPECT_TRUE(l.isNew());
    }
    EXPECT_TRUE(dm->StavkeUlaz(2024, kUlaz, 1).empty());
    EXPECT_EQ(dm->ZbirUlaz(2024, kUlaz, 1), std::nullopt);
}

TEST_F(Goods, DeletingAReceiptTakesItsLinesAndTheNextReceiptStartsEmpty) {
    auto h = Receipt();
    AddLine(h, "100", 12_cur);
    AddLine(h, "200", 1_cur);
    reg::DeleteUlaz(*dm, dm->Ulazi(2024).front());
    EXPECT_TRUE(dm->Ulazi(2024).empty());
    EXPECT_TRUE(dm->StavkeUlaz(2024, kUlaz, 1).empty());
    auto again = Receipt();
    EXPECT_EQ(again.integer("Broj"), 1);
    EXPECT_EQ(reg::NewStavkaUlaz(*dm, again).integer("Stavka"), 1);
}

TEST_F(Goods, LevellingSetsTheNewPriceCountsItsValueAndMovesNoStock) {
    auto in = Receipt();
    AddLine(in, "200", 10_cur);  // 10 in at 2.00
    auto lev = Receipt(true);
    auto l = AddLine(lev, "200", 10_cur, 2.50_cur);
    // The line keeps quantity, old and new price; its value is 10 x 0.50.
    EXPECT_EQ(l.decimal("Stopa"), 2.00_cur);
    EXPECT_EQ(l.decimal("Cijena"), 2.50_cur);
    EXPECT_EQ(l.decimal("Iznos"), 5.00_cur);
    EXPECT_EQ(Price("200"), 2.50_cur);

    const reg::DateRange march{DateTime::fromParts(2024, 3, 1), DateTime::fromParts(2024, 3, 31)};
    auto stock = reg::StanjeZaliha(*dm, march);
    ASSERT_EQ(stock.rows.size(), 1u);
    EXPECT_EQ(stock.rows[0].Ulaz, 10_cur);
    EXPECT_EQ(stock.rows[0].Stanje, 10_cur);
    EXPECT_EQ(stock.rows[0].Vrijednost, 25.00_cur);  // at the new price
    EXPECT_EQ(dm->Zalihe(2024, "200"), 10_cur);       // the selling screen's stock is not moved either
    auto tk = reg::TK(*dm, march);
    ASSERT_EQ(tk.size(), 3u);
    EXPECT_EQ(tk[1].Broj, 2);
    EXPECT_EQ(tk[1].Zaduzenje, 5.00_cur);
    EXPECT_EQ(tk.back().Zaduzenje, 25.00_cur);

    // A price cut counts negative; no difference at all is no amount.
    auto cut = reg::NewStavkaUlaz(*dm, lev);
    reg::SetArtikl(cut, Artikl("100"), true);
    cut.set("Cijena", 1.20_cur);
    reg::SetKolicina(cut, 3_cur, true);
    EXPECT_EQ(cut.decimal("Iznos"), -0.45_cur);
    cut.set("Cijena", 1.35_cur);
    reg::RecalcIznos(cut, true);
    EXPECT_FALSE(reg::SaveStavkaUlaz(*dm, cut, true, prompter));
    EXPECT_EQ(prompter.texts().back(), "Nema iznosa");

    // Taking the document back restores the old price.
    reg::DeleteUlaz(*dm, dm->Ulazi(2024).front());
    EXPECT_EQ(Price("200"), 2.00_cur);
}

TEST_F(Goods, TakingBackALevellingLeavesAPriceChangedSinceAlone) {
    auto lev = Receipt(true);
    AddLine(lev, "200", 4_cur, 3.00_cur);
    Raw("UPDATE Artikl SET Cijena = 3.10 WHERE Sifra = '200'");
    reg::DeleteStavkaUlaz(*dm, dm->StavkeUlaz(2024, kUlaz, 1).at(0), true);
    EXPECT_EQ(Price("200"), 3.10_cur);
    EXPECT_TRUE(dm->StavkeUlaz(2024, kUlaz, 1).empty());
    // With the server link on, prices belong to the server.
    dm->serverLink = [] { return true; };
    auto l2 = reg::NewStavkaUlaz(*dm, lev);
    reg::SetArtikl(l2, Artikl("200"), true);
    l2.set("Cijena", 4.00_cur);
    reg::SetKolicina(l2, 1_cur, true);
    EXPECT_FALSE(reg::SaveStavkaUlaz(*dm, l2, true, prompter));
    EXPECT_EQ(Price("200"), 3.10_cur);
}

TEST_F(Goods, TheLevellingMarkCannotChangeOnceTheReceiptHasLines) {
    auto h = Receipt();
    h.set("Nivelacija", std::int64_t(1));
    EXPECT_TRUE(reg::SaveUlaz(*dm, h, prompter));  // no lines yet
    h.set("Nivelacija", std::int64_t(0));
    EXPECT_TRUE(reg::SaveUlaz(*dm, h, prompter));
    AddLine(h, "100", 1_cur);
    h.set("Nivelacija", std::int64_t(1)).set("Kupac", "Dobavljač d.o.o.");
    EXPECT_FALSE(reg::SaveUlaz(*dm, h, prompter));
    EXPECT_EQ(prompter.texts().back(), reg::ulaz_texts::kNivelacijaSaStavkama);
    EXPECT_EQ(dm->Ulazi(2024).at(0).integer("Nivelacija"), 0);
    h.set("Nivelacija", std::int64_t(0));
    EXPECT_TRUE(reg::SaveUlaz(*dm, h, prompter));
    EXPECT_EQ(dm->Ulazi(2024).at(0).text("Kupac"), "Dobavljač d.o.o.");
}

TEST_F(Goods, AnArticlePickedInOnePickerStaysCurrentInTheOther) {
    reg::ArtiklPicker p;
    p.Load(dm->Artikl());
    p.EnterCodePicker();
    EXPECT_EQ(p.currentRecord()->text("Sifra"), "100");
    ASSERT_TRUE(p.locate("300"));
    p.Leave();
    EXPECT_EQ(p.ArtiklPozicija(), "300");
    p.EnterNamePicker();  // Brašno, Hljeb, Mlijeko
    EXPECT_EQ(p.current(), 0);
    EXPECT_EQ(p.currentRecord()->text("Sifra"), "300");
    EXPECT_FALSE(p.ArtiklPozicija().has_value());
    p.setCurrent(2);  // Mlijeko
    p.Leave();
    p.EnterCodePicker();
    EXPECT_EQ(p.current(), 0);
    EXPECT_EQ(p.currentRecord()->text("Sifra"), "100");
    // Entering without a remembered position stays on the first row.
    p.setCurrent(1);
    p.EnterNamePicker();
    EXPECT_EQ(p.current(), 0);
}

}  // namespace

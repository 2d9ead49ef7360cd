// Selling at the cash register without a window: line rules, header rules,
// the hand-off mapping and discount cards, over a real register file.
#include <gtest/gtest.h>

#include <cstdlib>

#include "app/Settings.h"
#include "device/InvoiceModel.h"
#include "money_literal.h"
#include "platform/Platform.h"
#include "register/DemoData.h"
#include "register/Discounts.h"
#include "register/HandOff.h"
#include "register/InvoiceEntry.h"
#include "register/RegisterTexts.h"
#include "selling_fixture.h"
#include "util/ScriptedPrompter.h"

using namespace kv;
using namespace kv::reg;
namespace tx = kv::reg::texts;

namespace {

class SellingTest : public test::SellingDayTest {
protected:
    void SetUp() override {
        SellingDayTest::SetUp();
        if (HasFatalFailure()) return;
        kasa.setInt("Zalihe", 0);
        entry = std::make_unique<InvoiceEntry>(*dm, kasa, prompter);
        entry->onBeep = [this] { ++beeps; };
        entry->clock = [] { return std::time_t(1709640000); };
        entry->articles().Load(*dm);
        entry->OpenYear();
    }
    // A new invoice with one line per (barcode, quantity) scanned and saved.
    void Sell(std::initializer_list<std::pair<const char*, const char*>> scans) {
        entry->NewInvoice(false);
        for (auto [code, qty] : scans) {
            entry->DodajSt();
            ASSERT_EQ(entry->BarcodeEnter(code), Focus::Quantity) << code;
            if (qty) ASSERT_TRUE(entry->SetQuantity(*ParseCurrency(qty, '.')));
            ASSERT_TRUE(entry->SaveLine()) << code;
        }
    }
    void Confirm() {
        prompter.answerConfirm(true);
        ASSERT_TRUE(entry->ConfirmInvoice());
    }
    // Stock received for an article (a goods receipt).
    void Receive(const std::string& artikl, const char* qty) {
        auto n = NewDoc(2024, kUlaz);
        Line(2024, kUlaz, n, artikl, qty, "0", "1");
    }

    int beeps = 0;
};

}  // namespace

// ---------------------------------------------------------------- lines

TEST(SellingRules, LineAmountRoundsToHundredthsHalvesAwayFromZero) {
    struct Case {
        Currency price, qty, amount;
    } cases[] = {{1.99_cur, 3_cur, 5.97_cur},
                 {0.33_cur, 0.5_cur, 0.17_cur},    // 0.165
                 {2.30_cur, 1.25_cur, 2.88_cur},   // 2.875
                 {1.99_cur, -3_cur, -5.97_cur},
                 {0.01_cur, 0.4999_cur, 0.01_cur},  // 0.004999 is 0.0050 as money, then 0.01
                 {0.01_cur, 0.4949_cur, 0_cur}};    // 0.004949 is 0.0049, then 0.00
    for (const auto& c : cases) EXPECT_EQ(LineAmount(c.price, c.qty), c.amount) << c.price << " x " << c.qty;
}

TEST(SellingRules, WeighedCodesAndChangeText) {
    EXPECT_EQ(WeighedQuantity("2100001012503"), 1.25_cur);
    EXPECT_EQ(WeighedQuantity("2100001000013"), 0.001_cur);
    EXPECT_EQ(WeighedQuantity("210000101250"), std::nullopt);   // 12 characters
    EXPECT_EQ(WeighedQuantity("2100001O12503"), std::nullopt);  // a letter in the weight

    EXPECT_EQ(ChangeText(50_cur, 47.30_cur, ','), "2,7");
    EXPECT_EQ(ChangeText(std::nullopt, 47.30_cur, ','), "-47,3");
    EXPECT_EQ(ChangeText(50_cur, 50_cur, ','), "0");
    EXPECT_EQ(ChangeText(100_cur, 47.25_cur, '.'), "52.75");
}

TEST(SellingRules, SaveChecksComeInOrder) {
    auto line = [](const char* qty, const char* price, const char* iznos) {
        Record r(TableDef("Prom"));
        r.set("KolIzlaz", std::string(qty)).set("Cijena", std::string(price)).set("Iznos", std::string(iznos));
        return r;
    };
    struct Case {
        Record r;
        int mode;
        Currency stock;
        LineCheck expected;
    } cases[] = {
        {line("10000000", "0", "0"), 0, {}, LineCheck::NoAmount},          // amount first
        {line("10000000", "10000000", "1"), 2, {}, LineCheck::QuantityTooBig},
        {line("1", "10000000", "1"), 2, {}, LineCheck::PriceTooBig},
        {line("3", "1", "3"), 2, 2_cur, LineCheck::NoStock},
        {line("3", "1", "3"), 1, 2_cur, LineCheck::Ok},                    // informative only
        {line("2", "1", "2"), 2, 2_cur, LineCheck::Ok},
        {line("-3", "1", "-3"), 2, 0_cur, LineCheck::Ok},                  // refunds pass
        {line("9999999", "9999999", "1"), 0, {}, LineCheck::Ok},
    };
    for (const auto& c : cases)
        EXPECT_EQ(CheckLine(c.r, c.mode, c.stock), c.expected) << c.r.text("KolIzlaz") << " " << c.r.text("Cijena");
}

TEST_F(SellingTest, BarcodesCodesAndNamesTakeArticlesIntoLines) {
    entry->NewInvoice(false);
    ASSERT_NE(entry->header(), nullptr);
    // A weighed article: 7 registered characters, then the weight.
    EXPECT_EQ(entry->BarcodeEnter("2100001012503"), Focus::Quantity);
    const Record* l = entry->line();
    EXPECT_EQ(l->text("Artikl"), "2000");
    EXPECT_EQ(l->text("BarKod"), "2100001");
    EXPECT_EQ(l->decimal("KolIzlaz"), 1.25_cur);
    EXPECT_EQ(l->decimal("Iznos"), 2.88_cur);
    ASSERT_TRUE(entry->SaveLine());
    EXPECT_EQ(entry->total(), 2.88_cur);

    // 12 characters: the article is taken, the quantity stays 1. Scanning
    // into a saved line without "+ Dodaj" replaces its article.
    EXPECT_EQ(entry->BarcodeEnter("210000201250"), Focus::Quantity);
    EXPECT_EQ(entry->lines().size(), 1u);
    EXPECT_EQ(entry->line()->text("Artikl"), "2001");
    EXPECT_EQ(entry->line()->decimal("KolIzlaz"), 1.25_cur);  // the line's own quantity stays
    entry->CancelLine();

    EXPECT_EQ(entry->DodajSt(), Focus::FirstSearch);
    EXPECT_EQ(entry->BarcodeEnter("9999999999"), Focus::Stay);
    EXPECT_EQ(prompter.texts().back(), tx::kNoBarcode);
    EXPECT_EQ(beeps, 1);
    EXPECT_EQ(entry->CodeEnter("nema"), Focus::Stay);
    EXPECT_EQ(prompter.texts().back(), tx::kNoCode);
    EXPECT_EQ(entry->CodeEnter("1003"), Focus::Description);
    EXPECT_EQ(entry->line()->text("Opis"), "Kafa mljevena 200 g");
    EXPECT_EQ(entry->line()->text("BarKod"), "3870000000042");  // the list row's barcode comes along

    // Name: the first Enter finds, the second takes the highlighted row.
    entry->NameFieldEntered();
    EXPECT_EQ(entry->NameEnter("MLI"), Focus::Stay);
    EXPECT_TRUE(entry->nazivPronadjen());
    EXPECT_TRUE(entry->ListMove(1));
    const std::string highlighted = entry->articles().currentRow()->Sifra;
    EXPECT_EQ(entry->NameEnter("MLI"), Focus::Description);
    EXPECT_EQ(entry->line()->text("Artikl"), highlighted);
    entry->NameFieldEntered();
    EXPECT_EQ(entry->NameEnter("xyz"), Focus::Stay);
    EXPECT_FALSE(entry->nazivPronadjen());
    EXPECT_EQ(prompter.texts().back(), tx::kNoName);
}

TEST_F(SellingTest, FilterMatchesTypedTextLiterallyIgnoringCase) {
    Raw("INSERT INTO Artikl (Sifra, Naziv, Grupa, Tarifa, Cijena) VALUES "
        "('9001', 'Čokolada 100%', '02', 'E', 2), ('9002', 'ŠLAG_SPREJ', '02', 'E', 3), "
        "('9003', 'Кафа ''Злата''', '02', 'E', 4), ('9004', 'Čokolada 1000 g', '02', 'E', 5), "
        "('9012', 'Đumbir', '04', 'E', 1)");
    ArticleList list;
    list.Load(*dm);
    auto codes = [&](const std::string& filter) {
        list.SetFilter(filter);
        std::string out;
        for (std::size_t i = 0; i < list.size(); ++i) out += list.at(i).Sifra + " ";
        return out;
    };
    EXPECT_EQ(codes("100%"), "9001 ");            // % is a character, not a wildcard
    EXPECT_EQ(codes("g_s"), "9002 ");             // so is _
    EXPECT_EQ(codes("lag_"), "9002 ");
    EXPECT_EQ(codes("čokolada"), "9001 9004 ");    // č folds to Č
    EXPECT_EQ(codes("ЗЛАТА'"), "9003 ");           // Cyrillic folds, the quote is text
    EXPECT_EQ(codes("đUM"), "9012 ");
    EXPECT_EQ(codes("12"), "9012 ");               // the code is part of the text
    EXPECT_EQ(codes("%"), "1005 1005 1005 9001 ");  // "Mlijeko 2,8 % 1 l" (three barcodes) and 100%
    list.SetFilter("");
    EXPECT_EQ(list.size(), list.rows().size());
    list.SetFilter("nothing like it");
    EXPECT_EQ(list.size(), 0u);
    EXPECT_FALSE(list.Move(1));
    list.ClearFilter();
    EXPECT_EQ(list.size(), list.rows().size());
}

TEST_F(SellingTest, StockModesShowAndEnforce) {
    Receive("1001", "2");
    kasa.setInt("Zalihe", 2);
    entry->NewInvoice(false);
    entry->BarcodeEnter("3870000000011");
    EXPECT_EQ(entry->stock(), 2_cur);
    entry->SetQuantity(3_cur);
    EXPECT_TRUE(entry->stockRed());
    EXPECT_FALSE(entry->SaveLine());
    EXPECT_EQ(prompter.texts().back(), tx::kNoStock);
    EXPECT_EQ(entry->lineState(), RowState::Insert);

    // Exactly the stock: saved; a later change of that line is not refused
    // because of its own quantity.
    entry->SetQuantity(2_cur);
    ASSERT_TRUE(entry->SaveLine());
    EXPECT_EQ(entry->stock(), 0_cur);
    ASSERT_TRUE(entry->SetDescription("Voda"));
    EXPECT_TRUE(entry->SaveLine());

    kasa.setInt("Zalihe", 1);
    entry->DodajSt();
    entry->BarcodeEnter("3870000000011");
    EXPECT_TRUE(entry->stockRed());
    EXPECT_TRUE(entry->SaveLine());  // informative: red, but saved
}

TEST_F(SellingTest, LineCommandsAndSaveRefusals) {
    entry->NewInvoice(false);
    entry->BarcodeEnter("3870000000042");  // 4.90
    entry->SetPrice(0_cur);
    EXPECT_FALSE(entry->SaveLine());
    EXPECT_EQ(prompter.texts().back(), tx::kNoAmount);
    entry->SetPrice(4.90_cur);
    entry->SetQuantity(1.5_cur);
    // "* kom": letters ask again, a whole number multiplies.
    prompter.answerInput("dva").answerInput("4");
    EXPECT_EQ(entry->PutaKol(), Focus::Quantity);
    EXPECT_EQ(entry->line()->decimal("KolIzlaz"), 6_cur);
    EXPECT_EQ(entry->line()->decimal("Iznos"), 29.40_cur);
    prompter.answerInput("");
    entry->PutaKol();
    EXPECT_EQ(entry->line()->decimal("KolIzlaz"), 6_cur);

    // Enter on the amount saves and starts the next line.
    EXPECT_EQ(entry->LineFieldEnter(InvoiceEntry::LineField::Amount), Focus::FirstSearch);
    EXPECT_EQ(entry->lineState(), RowState::Insert);
    EXPECT_EQ(entry->lines().size(), 2u);
    EXPECT_EQ(entry->line()->integer("Stavka"), 2);
    entry->CancelLine();
    EXPECT_EQ(entry->lines().size(), 1u);
    EXPECT_EQ(entry->BrisiSt(), Focus::FirstSearch);
    EXPECT_TRUE(entry->lines().empty());
    EXPECT_EQ(entry->total(), std::nullopt);
    EXPECT_TRUE(dm->StavkeRac(2024, kRacun, 1).empty());
}

// ---------------------------------------------------------------- header

TEST_F(SellingTest, NewInvoiceAndOpenInvoiceRule) {
    entry->NewInvoice(false);
    const Record* h = entry->header();
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(h->integer("Broj"), 1);
    EXPECT_EQ(h->text("NacinPL"), "0");
    EXPECT_EQ(h->decimal("Placeno"), 0_cur);
    EXPECT_EQ(h->text("ID").size(), 38u);
    EXPECT_EQ(h->text("Cashier"), "ana");
    EXPECT_EQ(entry->StatusLook().text, tx::kStatusOpen);
    EXPECT_EQ(entry->StatusLook().colour, kGreen);
    EXPECT_EQ(entry->KindLook().text, tx::kKindSale);

    entry->tipRacuna = 2;
    entry->NewInvoice(true);  // invoice 1 is open: no new refund
    EXPECT_EQ(prompter.texts().back(), std::string(tx::kOpenInvoiceExists) + "1");
    EXPECT_EQ(entry->tipRacuna, 2);  // a refund keeps the type selector
    entry->NewInvoice(false);
    EXPECT_EQ(entry->tipRacuna, 0);
    EXPECT_EQ(dm->Racuni(2024).size(), 1u);
}

TEST_F(SellingTest, ConfirmDeleteAndPrintRefusals) {
    entry->NewInvoice(false);
    EXPECT_FALSE(entry->ConfirmInvoice());
    EXPECT_EQ(prompter.texts().back(), tx::kNoLines);
    EXPECT_FALSE(entry->PrintAllowed());
    EXPECT_EQ(prompter.texts().back(), tx::kNotConfirmed);

    // F3 with a line half typed drops that line and confirms the rest.
    entry->BarcodeEnter("3870000000011");
    entry->SaveLine();
    entry->DodajSt();
    entry->BarcodeEnter("3870000000042");
    prompter.answerConfirm(true);
    ASSERT_TRUE(entry->ConfirmInvoice());
    EXPECT_EQ(entry->lines().size(), 1u);
    EXPECT_EQ(entry->StatusLook().text, tx::kStatusConfirmed);
    EXPECT_EQ(entry->StatusLook().colour, kRed);
    EXPECT_EQ(dm->Racuni(2024)[0].integer("Status"), 1);

    // Free fields stay editable, the rest is refused.
    EXPECT_TRUE(entry->SetHeader(HeaderField::Kupac, "4400000000001"));
    EXPECT_TRUE(entry->PostHeader());
    EXPECT_EQ(dm->Racuni(2024)[0].text("Kupac"), "4400000000001");
    EXPECT_FALSE(entry->SetHeader(HeaderField::Placeno, "10"));
    EXPECT_EQ(prompter.texts().back(), tx::kConfirmed);
    EXPECT_FALSE(entry->DeleteInvoice());
    EXPECT_EQ(prompter.texts().back(), tx::kConfirmedNoDelete);
    // Typing into a confirmed invoice does nothing.
    EXPECT_EQ(entry->BarcodeEnter("3870000000011"), Focus::Stay);
    EXPECT_EQ(entry->DodajSt(), Focus::Stay);

    prompter.answerConfirm(false);
    EXPECT_FALSE(entry->PrintAllowed());
    EXPECT_EQ(prompter.texts().back(), tx::kAskPrint);
    Raw("UPDATE Doku SET PFRBROJ = 'X-1' WHERE Broj = 1");
    entry->Reload();
    EXPECT_FALSE(entry->PrintAllowed());
    EXPECT_EQ(prompter.texts().back(), tx::kAlreadyFiscalised);
    entry->tipRacuna = 2;  // a copy may always go
    prompter.answerConfirm(true);
    EXPECT_TRUE(entry->PrintAllowed());
}

TEST_F(SellingTest, RefundNeedsItsReferentAndDeleteTakesTheLines) {
    entry->NewInvoice(true);
    EXPECT_EQ(entry->KindLook().text, tx::kKindRefund);
    EXPECT_EQ(entry->KindLook().colour, kRed);
    EXPECT_TRUE(entry->header()->isNull("Placeno"));
    entry->BarcodeEnter("3870000000011");
    entry->SetQuantity(-1_cur);
    ASSERT_TRUE(entry->SaveLine());
    entry->SetHeader(HeaderField::RefDN, "ABCD1234-ABCD1234-7");
    entry->SetHeader(HeaderField::RefDT, "  ");
    EXPECT_FALSE(entry->ConfirmInvoice());
    EXPECT_EQ(prompter.texts().back(), tx::kRefundNeedsReferent);
    EXPECT_EQ(entry->KusurText(), "1,2");  // nothing paid on a refund of -1.20

    prompter.answerConfirm(true);
    EXPECT_TRUE(entry->DeleteInvoice());
    EXPECT_TRUE(dm->Racuni(2024).empty());
    EXPECT_TRUE(dm->StavkeRac(2024, kRacun, 1).empty());
}

TEST_F(SellingTest, PaidAmountGivesTheChange) {
    Sell({{"3870000000097", nullptr}, {"2100002", "12.3214"}});  // 12.99 + 34.50
    EXPECT_EQ(entry->total(), 47.49_cur);
    ASSERT_TRUE(entry->SetHeader(HeaderField::Placeno, "50"));
    EXPECT_EQ(entry->KusurText(), "2,51");
    EXPECT_EQ(entry->StateLook().text, tx::kStateEdit);
    ASSERT_TRUE(entry->PostHeader());
    EXPECT_EQ(entry->StateLook().text, "");
    EXPECT_EQ(dm->Racuni(2024)[0].decimal("Placeno"), 50_cur);
    ASSERT_TRUE(entry->SetHeader(HeaderField::Placeno, ""));
    EXPECT_EQ(entry->KusurText(), "-47,49");
}

// ---------------------------------------------------------------- hand-off

TEST(HandOffMapping, GtinAndIssueTime) {
    EXPECT_EQ(Gtin("", "123"), "00000123");
    EXPECT_EQ(Gtin("   ", "123"), "00000123");
    EXPECT_EQ(Gtin("3870000000011", "1001"), "3870000000011");
    EXPECT_EQ(Gtin("2100001", "2000"), "02100001");
    EXPECT_EQ(Gtin("", "12345678"), "12345678");

    const char* oldTz = std::getenv("TZ");
    std::string saved = oldTz ? oldTz : "";
    setenv("TZ", "Europe/Sarajevo", 1);
    tzset();
    // 2024-06-10 14:30:15 local (summer, UTC+2) as "now"; the work date wins
    // over the date of now, its time of day is kept.
    std::tm tm{};
    tm.tm_year = 124, tm.tm_mon = 5, tm.tm_mday = 10, tm.tm_hour = 14, tm.tm_min = 30, tm.tm_sec = 15, tm.tm_isdst = -1;
    const std::time_t now = std::mktime(&tm);
    EXPECT_EQ(IssueTime(DateTime::fromParts(2024, 3, 5), now), "2024-03-05T13:30:15Z");  // winter, UTC+1
    EXPECT_EQ(IssueTime(DateTime::fromParts(2024, 6, 10), now), "2024-06-10T12:30:15Z");
    tm = {};
    tm.tm_year = 124, tm.tm_mon = 0, tm.tm_mday = 1, tm.tm_hour = 0, tm.tm_min = 20, tm.tm_sec = 0, tm.tm_isdst = -1;
    EXPECT_EQ(IssueTime(DateTime::fromParts(2024, 1, 1), std::mktime(&tm)), "2023-12-31T23:20:00Z");
    if (oldTz) setenv("TZ", saved.c_str(), 1); else unsetenv("TZ");
    tzset();
}

TEST(HandOffMapping, InvoiceItemsAndPaymentFromTheDocument) {
    Record h(TableDef("Doku"));
    h.set("Godina", std::int64_t(2024)).set("UI", std::int64_t(1)).set("Broj", std::int64_t(15));
    h.set("Storno", std::int64_t(1)).set("Cashier", "ana").set("Kupac", "4400000000001").set("KupacOrgj", "OJ-7");
    h.set("RefDN", "REF-1").set("RefDT", "2024-03-01T10:00:00").set("PFRBROJ", "PFR-9").set("PFRTIME", "2024-03-05T12:00:00");
    h.set("ID", "{0F8FAD5B-D9CB-469F-A165-70867728950E}");
    std::vector<Record> lines;
    auto add = [&](const char* artikl, const char* bar, const char* qty, const char* price, const char* iznos,
                   const char* tarifa) {
        Record l(TableDef("Prom"));
        l.set("Artikl", artikl).set("BarKod", bar).set("Opis", std::string("Art ") + artikl);
        l.set("KolIzlaz", std::string(qty)).set("Cijena", std::string(price)).set("Iznos", std::string(iznos));
        l.set("Tarifa", tarifa);
        lines.push_back(l);
    };
    add("123", "", "1", "0.10", "0.10", "E");
    add("1001", "3870000000011", "3", "0.10", "0.30", "K");
    for (int i = 0; i < 7; ++i) add("1005", "3870000000066", "1", "0.10", "0.10", "X");  // an unknown tariff

    device::InvoiceModel model;
    HandOffSource src;
    src.header = &h;
    src.lines = &lines;
    src.fiskTax = {{"E", "E"}, {"K", "K"}};
    src.fiskPayType = 2;
    src.workDate = DateTime::fromParts(2024, 3, 5);
    src.now = 0;
    src.requestId = h.text("ID");
    for (int type : {0, 2}) {
        src.invoiceType = type;
        FillInvoiceModel(model, src);
        const MemTable& inv = model.Invoice;
        ASSERT_EQ(inv.recordCount(), 1u);
        EXPECT_EQ(inv.field("invoiceNumber").asString(), "15/2024");
        EXPECT_EQ(inv.field("invoiceType").asInteger(), type);
        EXPECT_EQ(inv.field("transactionType").asInteger(), 1);
        EXPECT_EQ(inv.field("cashier").asString(), "ana");
        EXPECT_EQ(inv.field("buyerId").asString(), "4400000000001");
        EXPECT_EQ(inv.field("buyerCostCenterId").asString(), "OJ-7");
        EXPECT_EQ(inv.field("RequestId").asString(), h.text("ID"));
        EXPECT_EQ(inv.field("referentDocumentNumber").asString(), type == 2 ? "PFR-9" : "REF-1");
        EXPECT_EQ(inv.field("referentDocumentDT").asString(), type == 2 ? "2024-03-05T12:00:00" : "2024-03-01T10:00:00");
        EXPECT_EQ(inv.field("PFRnumber").asString(), "");
    }
    const MemTable& items = model.Items;
    ASSERT_EQ(items.recordCount(), 9u);
    auto item = [&](std::size_t r, const char* f) { return items.valueAt(r, *items.fieldIndex(f)); };
    EXPECT_EQ(std::get<std::string>(item(0, "gtin")), "00000123");
    EXPECT_EQ(std::get<std::string>(item(1, "gtin")), "3870000000011");
    EXPECT_EQ(std::get<std::string>(item(1, "labels")), "K");
    EXPECT_EQ(std::get<std::string>(item(2, "labels")), "");
    EXPECT_EQ(std::get<std::string>(item(0, "name")), "Art 123");
    // Nine lines of 0.10 and 0.30: exactly 1.10, no floating-point residue.
    EXPECT_EQ(model.PaymentTotal(), 1.10_cur);
    EXPECT_EQ(model.Payment.field("paymentType").asInteger(), 2);
}

// ---------------------------------------------------------------- discounts

TEST(DiscountRules, ArticleBeforeGroupAndRounding) {
    auto rabat = [](std::initializer_list<std::tuple<const char*, const char*, const char*>> rows) {
        std::vector<Record> out;
        for (auto [tip, sifra, proc] : rows) {
            Record r(TableDef("Rabat"));
            r.set("RABATKART", "K1").set("RABATTIP", tip).set("RABATSIFRA", sifra);
            if (*proc) r.set("RABATPROC", std::string(proc));
            out.push_back(r);
        }
        return out;
    };
    auto card = rabat({{"A", "X", "10"}, {"G", "01", "5"}, {"A", "Z", "0"}, {"A", "E", ""}});
    EXPECT_EQ(DiscountFor(card, "X", "01")->percent, 10_cur);
    EXPECT_EQ(DiscountFor(card, "Y", "01")->percent, 5_cur);
    EXPECT_EQ(DiscountFor(card, "Z", "01")->percent, 5_cur);  // 0 % falls back to the group
    EXPECT_EQ(DiscountFor(card, "E", "01")->percent, 5_cur);  // empty counts as 0
    EXPECT_EQ(DiscountFor(card, "Z", "02"), std::nullopt);
    EXPECT_EQ(DiscountFor(card, "x", "1"), std::nullopt);     // exact match only

    EXPECT_EQ(DiscountedPrice(10_cur, 10_cur), 9_cur);
    EXPECT_EQ(DiscountedPrice(9.99_cur, 15_cur), 8.49_cur);  // 8.4915
    EXPECT_EQ(DiscountedPrice(0.05_cur, 10_cur), 0.05_cur);  // 0.045
    EXPECT_EQ(DiscountedPrice(2.45_cur, 12.5_cur), 2.14_cur);  // 2.14375
}

TEST_F(SellingTest, CardAppliedOnceToEveryCoveredLine) {
    // K001: group 01 5 %, article 1003 10 %.
    Sell({{"3870000000042", nullptr}, {"3870000000011", "2"}, {"3870000000059", nullptr}});
    EXPECT_FALSE(entry->ApplyCard("K002-none"));  // no discount matches: nothing changes
    prompter.clearLog();
    prompter.answerConfirm(true);
    ASSERT_TRUE(entry->ApplyCard("K001"));
    auto lines = dm->StavkeRac(2024, kRacun, 1);
    EXPECT_EQ(lines[0].decimal("Cijena"), 4.41_cur);  // 4.90 - 10 %
    EXPECT_EQ(lines[0].decimal("Rabat"), 10_cur);
    EXPECT_EQ(lines[1].decimal("Cijena"), 1.14_cur);  // 1.20 - 5 %
    EXPECT_EQ(lines[1].decimal("Iznos"), 2.28_cur);
    EXPECT_EQ(lines[2].decimal("Cijena"), 1.10_cur);  // group 02 has no discount on K001
    EXPECT_TRUE(lines[2].isNull("Rabat"));
    EXPECT_EQ(entry->total(), 7.79_cur);
    EXPECT_EQ(dm->Racuni(2024)[0].text("KarticaKupca"), "K001");
    EXPECT_EQ(entry->CardName(), "Kartica lojalnosti");

    EXPECT_FALSE(entry->ApplyCard("K001"));
    EXPECT_EQ(prompter.texts().back(), tx::kDiscountDone);
    Confirm();
    EXPECT_FALSE(entry->ApplyCard("K002"));
    EXPECT_EQ(prompter.texts().back(), tx::kConfirmed);
}

TEST_F(SellingTest, CardIsAllOrNothing) {
    Raw("INSERT INTO Rabat VALUES ('K002', 'A', '1001', 150)");
    Raw("INSERT INTO Kart VALUES ('K003', 'Stock')");
    Raw("INSERT INTO Rabat VALUES ('K003', 'G', '01', 50)");
    Receive("1001", "10");
    Receive("1002", "1");
    Sell({{"3870000000011", nullptr}, {"3870000000028", nullptr}});
    const auto before = dm->StavkeRac(2024, kRacun, 1);
    auto unchanged = [&] {
        auto now = dm->StavkeRac(2024, kRacun, 1);
        ASSERT_EQ(now.size(), before.size());
        for (std::size_t i = 0; i < now.size(); ++i) EXPECT_EQ(now[i].values, before[i].values);
        EXPECT_EQ(dm->Racuni(2024)[0].text("KarticaKupca"), "");
    };

    prompter.answerConfirm(false);
    EXPECT_FALSE(entry->ApplyCard("K001"));  // No leaves everything
    unchanged();

    prompter.answerConfirm(true);
    EXPECT_FALSE(entry->ApplyCard("K002"));  // 150 %
    EXPECT_EQ(prompter.texts().back(), tx::kDiscountOutOfRange);
    unchanged();

    // The second line fails the stock check after the first was worked out:
    // neither line nor the header changes.
    Raw("UPDATE Prom SET KolUlaz = 0 WHERE Artikl = '1002' AND DokuUI = 0");
    kasa.setInt("Zalihe", 2);
    prompter.answerConfirm(true);
    EXPECT_FALSE(entry->ApplyCard("K003"));
    EXPECT_EQ(prompter.texts().back(), tx::kNoStock);
    unchanged();
}

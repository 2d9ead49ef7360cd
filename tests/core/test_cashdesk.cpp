// The cash desk and the device's invoice list: requests as the device gets
// them, the verdicts, the summary grids and the list read into Podaci.
#include <gtest/gtest.h>

#include "device/CashDesk.h"
#include "device/DeviceClient.h"
#include "fake_transport.h"
#include "money_literal.h"
#include "register_fixture.h"
#include "util/ScriptedPrompter.h"

using namespace kv;
using namespace kv::device;

namespace {

using FT = FakeTransport;

CashDeskForm Form(std::optional<Currency> amount = std::nullopt, bool sinceCut = false) {
    CashDeskForm f;
    f.odDatuma = DateTime::fromParts(2024, 3, 1);
    f.doDatuma = DateTime::fromParts(2024, 3, 31);
    f.depozit = amount;
    f.odZadnjegPresjeka = sinceCut;
    return f;
}

struct Rig {
    FT t1, t2;
    DeviceSettings settings{"http://127.0.0.1", "7000", "tok", "1234", false};
    DeviceClient set1{t1, [this] { return settings; }};
    DeviceClient set2{t2, [this] { return settings; }};
    CashDesk desk{set1, set2};
};

}  // namespace

TEST(CashDesk, RequestsAsTheDeviceGetsThem) {
    const std::string range = R"("fromDate":"2024-03-01","toDate":"2024-03-31")";
    struct Case {
        const char* what;
        CashRequest r;
        const char* method;
        std::string path;
        std::string body;
        int success;
        int set;
    } cases[] = {
        {"deposit", DepositRequest(Form(150.0_cur)), "POST", "/api/financial/deposit", R"({"amount":"150.00"})", 204, 1},
        {"deposit of an empty amount", DepositRequest(Form()), "POST", "/api/financial/deposit", R"({"amount":""})",
         204, 1},
        {"withdrawal keeps two decimals", WithdrawRequest(Form(0.5_cur)), "POST", "/api/financial/withdraw",
         R"({"amount":"0.50"})", 204, 1},
        {"summary with its range as a query", SummaryRequest(Form()), "GET",
         "/api/financial/summary?fromDate=2024-03-01&toDate=2024-03-31", "", 200, 2},
        {"summary since the last cut", SummaryRequest(Form(std::nullopt, true)), "GET", "/api/financial/summary", "",
         200, 2},
        {"zeroing", ZeroRequest(), "DELETE", "/api/financial/summary", "", 200, 1},
        {"summary print", PrintSummaryRequest(Form()), "POST", "/api/financial/report/summary",
         R"({"print":"true",)" + range + "}", 200, 1},
        {"summary print since the last cut", PrintSummaryRequest(Form(std::nullopt, true)), "POST",
         "/api/financial/report/summary", R"({"print":"true"})", 200, 1},
        {"detail: Tax", PrintDetailRequest(Form(), DetailTab::Tax), "POST", "/api/financial/report/summaryByTax",
         R"({"print":"true",)" + range + "}", 200, 1},
        {"detail: Cashier", PrintDetailRequest(Form(std::nullopt, true), DetailTab::Cashier), "POST",
         "/api/financial/report/summaryByCashiers", R"({"print":"true"})", 200, 1},
        {"detail: Payment", PrintDetailRequest(Form(std::nullopt, true), DetailTab::Payment), "POST",
         "/api/financial/report/summaryByPaymentTypes", R"({"print":"true"})", 200, 1},
        {"detail: Article", PrintDetailRequest(Form(std::nullopt, true), DetailTab::Article), "POST",
         "/api/financial/report/summaryByArticles", R"({"print":"true"})", 200, 1},
        {"detail: Advance carries the status", PrintDetailRequest(Form(), DetailTab::Advance), "POST",
         "/api/financial/report/advance-receipts", R"({"print":"true",)" + range + R"(,"status":"Open"})", 200, 1},
        {"detail: Advance since the last cut", PrintDetailRequest(Form(std::nullopt, true), DetailTab::Advance),
         "POST", "/api/financial/report/advance-receipts", R"({"print":"true","status":"Open"})", 200, 1},
        {"invoice list: always the range", SearchRequest(Form(std::nullopt, true)), "POST", "/api/invoices/search",
         "{" + range + "}", 200, 1},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.r.method, c.method) << c.what;
        EXPECT_EQ(c.r.path, c.path) << c.what;
        EXPECT_EQ(c.r.body, c.body) << c.what;
        EXPECT_EQ(c.r.successStatus, c.success) << c.what;
        EXPECT_EQ(c.r.requestSet, c.set) << c.what;
    }
    // The summary's parameters are shown although the GET carries no body.
    EXPECT_EQ(SummaryRequest(Form()).shownBody, R"({"print":"false",)" + range + "}");
    EXPECT_EQ(SummaryRequest(Form(std::nullopt, true)).shownBody, R"({"print":"false"})");
    EXPECT_EQ(ZeroRequest().shownBody, "");
}

TEST(CashDesk, AmountsAreExactDecimalText) {
    EXPECT_EQ(AmountText(150.0_cur), "150.00");
    EXPECT_EQ(AmountText(0.005_cur), "0.01");  // halves away from zero
    EXPECT_EQ(AmountText(-3.0_cur), "-3.00");
    EXPECT_EQ(AmountText(Currency::fromRaw(90071992547409930)), "9007199254740.99");  // beyond a double's digits
    EXPECT_EQ(AmountText(std::nullopt), "");
}

TEST(CashDesk, VerdictsByTheSuccessStatusOfEachOperation) {
    struct Case {
        const char* what;
        std::function<CashOutcome(Rig&)> run;
        HttpResult answer;
        std::string message;
    } cases[] = {
        {"deposit 204", [](Rig& r) { return r.desk.Deposit(Form(150.0_cur)); }, FT::answer(204, ""), "Ok"},
        {"deposit 200 is an error", [](Rig& r) { return r.desk.Deposit(Form(150.0_cur)); }, FT::answer(200, "{}"),
         "Error"},
        {"withdrawal refused: the device's words follow",
         [](Rig& r) { return r.desk.Withdraw(Form(900.0_cur)); },
         FT::answer(400, R"({"message":"Нема довољно готовине у благајни"})"),
         "Error\nНема довољно готовине у благајни"},
        {"summary print 200", [](Rig& r) { return r.desk.PrintSummary(Form()); }, FT::answer(200, "{}"), "Ok"},
        {"detail print 204 is an error", [](Rig& r) { return r.desk.PrintDetail(Form(), DetailTab::Tax); },
         FT::answer(204, ""), "Error"},
        {"no answer at all", [](Rig& r) { return r.desk.PrintSummary(Form()); }, FT::broken("Connection refused"),
         "Error\nConnection refused"},
    };
    for (const auto& c : cases) {
        Rig rig;
        rig.t1.script.push_back(c.answer);
        EXPECT_EQ(c.run(rig).message(), c.message) << c.what;
        EXPECT_EQ(rig.t1.sent.size(), 1u) << c.what;
        EXPECT_TRUE(rig.t2.sent.empty()) << c.what;
    }
}

TEST(CashDesk, ZeroingAsksFirstAndNoSendsNothing) {
    Rig rig;
    ScriptedPrompter no;
    no.answerConfirm(false);
    CashOutcome o = rig.desk.Zero(no);
    EXPECT_FALSE(o.sent);
    EXPECT_TRUE(rig.t1.sent.empty());
    ASSERT_EQ(no.log().size(), 1u);
    EXPECT_EQ(no.log()[0].text, "Nulirati promet?");

    ScriptedPrompter yes;
    yes.answerConfirm(true);
    rig.t1.script.push_back(FT::answer(200, "{}"));
    EXPECT_EQ(rig.desk.Zero(yes).message(), "Ok");
    ASSERT_EQ(rig.t1.sent.size(), 1u);
    EXPECT_EQ(rig.t1.sent[0].method, "DELETE");
    EXPECT_EQ(rig.t1.sent[0].url, "http://127.0.0.1:7000/api/financial/summary");
    EXPECT_EQ(rig.t1.sent[0].body, "");
    EXPECT_EQ(rig.set1.log().lastRequestBody, "");  // the request box is emptied
}

TEST(CashDesk, CashStateFillsTheGridsThroughTheSecondSetOnly) {
    Rig rig;
    rig.t1.script.push_back(FT::answer(200, R"({"first":"set"})"));
    rig.set1.Execute("GET", "/api/status");
    const std::string answer =
        R"({"invoiceCount":2,"turnover":150.50,"cashBalance":"100.00",)"
        R"("totalByTax":[{"label":"Е","amount":120.00},{"label":"А","amount":30.50}],)"
        R"("totalByCashier":[{"cashier":"ana","amount":150.50}],"totalByPaymentType":[],)"
        R"("totalByArticle":[{"name":"Kafa","quantity":2}],"totalByArticleAdvance":[]})";
    rig.t2.script.push_back(FT::answer(200, answer));
    SummaryGrids grids;
    EXPECT_EQ(rig.desk.Summary(Form(), grids).message(), "Ok");

    ASSERT_EQ(rig.t2.sent.size(), 1u);
    EXPECT_EQ(rig.t2.sent[0].method, "GET");
    EXPECT_EQ(rig.t2.sent[0].body, "");
    EXPECT_EQ(rig.set1.log().rawText, R"({"first":"set"})");  // set 1's log is its own
    EXPECT_EQ(rig.set2.log().rawText, answer);

    ASSERT_EQ(grids.summary.recordCount(), 1u);
    EXPECT_EQ(grids.summary.fieldCount(), 3u);  // the plain values; the arrays have their grids
    EXPECT_EQ(grids.summary.field("turnover").asString(), "150.50");
    ASSERT_EQ(grids.byTax.recordCount(), 2u);
    grids.byTax.last();
    EXPECT_EQ(grids.byTax.field("amount").asString(), "30.50");
    EXPECT_EQ(grids.byCashier.recordCount(), 1u);
    EXPECT_EQ(grids.byPaymentType.recordCount(), 0u);
    EXPECT_EQ(grids.detail(DetailTab::Article).field("name").asString(), "Kafa");

    // A failed request leaves every grid as it was.
    rig.t2.script.push_back(FT::answer(500, R"({"message":"Грешка уређаја"})"));
    EXPECT_EQ(rig.desk.Summary(Form(), grids).message(), "Error\nГрешка уређаја");
    EXPECT_EQ(grids.byTax.recordCount(), 2u);
    EXPECT_EQ(grids.summary.field("turnover").asString(), "150.50");
}

TEST(InvoiceList, LinesAsDevicesWriteThem) {
    struct Case {
        const char* what;
        std::string line;
        bool read;
        std::string tipTrans, tipRacuna;
        std::optional<DateTime> datum;
        Currency iznos;
    } cases[] = {
        {"five fields", "12-34-56,0,0,2024-03-01T10:15:30.123+01:00,100.50", true, "0", "0",
         DateTime::fromParts(2024, 3, 1), 100.50_cur},
        {"four fields", "12-34-56,0,0,2024-03-01T10:15:30", false, "", "", std::nullopt, {}},
        {"six fields", "12-34-56,0,0,2024-03-01T10:15:30,100,50", false, "", "", std::nullopt, {}},
        {"a letter where a digit of the date belongs", "A-1,0,0,2024-0X-01T10:15:30,1.00", false, "", "", std::nullopt, {}},
        {"a date cut short", "A-1,0,0,2024-03-01,1.00", false, "", "", std::nullopt, {}},
        {"digits that form no date: kept without one", "A-2,0,1,2024-02-30T10:15:30,7.25", true, "0", "1",
         std::nullopt, 7.25_cur},
        {"unreadable amount", "A-3,0,0,2024-03-01T10:15:30,abc", false, "", "", std::nullopt, {}},
        {"words for both types", "A-4,Advance,Refund,2024-03-02T08:00:00,20", true, "4", "1",
         DateTime::fromParts(2024, 3, 2), 20.0_cur},
        {"words in any case", "A-5,normal,SALE,2024-03-02T08:00:00,1", true, "0", "0",
         DateTime::fromParts(2024, 3, 2), 1.0_cur},
        {"proforma, copy, training", "A-6,Training,Sale,2024-03-02T08:00:00,1", true, "3", "0",
         DateTime::fromParts(2024, 3, 2), 1.0_cur},
        {"an unknown word", "A-7,Storno,Sale,2024-03-02T08:00:00,1", false, "", "", std::nullopt, {}},
        {"a transaction word in the invoice type", "A-8,Refund,Sale,2024-03-02T08:00:00,1", false, "", "", std::nullopt, {}},
        {"a code outside the list", "A-9,7,0,2024-03-02T08:00:00,1", false, "", "", std::nullopt, {}},
        {"blanks after the commas", "A-10, 4, 0, 2024-03-03T09:00:00, 5.5", true, "4", "0",
         DateTime::fromParts(2024, 3, 3), 5.50_cur},
    };
    for (const auto& c : cases) {
        InvoiceList list = ParseInvoiceList(c.line, ',');
        ASSERT_EQ(list.rows.size(), c.read ? 1u : 0u) << c.what;
        EXPECT_EQ(list.skipped, c.read ? 0 : 1) << c.what;
        if (!c.read) continue;
        const auto& r = list.rows[0];
        EXPECT_EQ(r.tipTrans, c.tipTrans) << c.what;
        EXPECT_EQ(r.tipRacuna, c.tipRacuna) << c.what;
        EXPECT_EQ(r.datum, c.datum) << c.what;
        EXPECT_EQ(r.iznos, c.iznos) << c.what;
    }
    // The amount under a point separator, and with the comma tried second.
    EXPECT_EQ(ParseInvoiceList("A,0,0,2024-03-01T10:15:30,100.5", '.').rows.at(0).iznos, 100.50_cur);
    EXPECT_EQ(ParseInvoiceList("A,0,0,2024-03-01T10:15:30.123+01:00,100.50", ',').rows.at(0).vrijeme,
              "2024-03-01T10:15:30.123+01:00");
}

TEST(InvoiceList, RawBodyOrJsonStringAndBadLinesCounted) {
    const std::string lines =
        "N-1,0,0,2024-03-01T10:00:00,100.00\r\n"
        "garbage\r\n"
        "\r\n"
        "N-2,Normal,Refund,2024-03-01T11:00:00,30.00\r\n";
    for (const std::string& answer : {lines, std::string(R"(  ")") +
                                                 "N-1,0,0,2024-03-01T10:00:00,100.00\\r\\ngarbage\\r\\n\\r\\n"
                                                 "N-2,Normal,Refund,2024-03-01T11:00:00,30.00\\r\\n\""}) {
        InvoiceList list = ParseInvoiceList(answer, ',');
        ASSERT_EQ(list.rows.size(), 2u) << answer;
        EXPECT_EQ(list.skipped, 1) << answer;
        EXPECT_EQ(list.rows[1].broj, "N-2");
        EXPECT_EQ(list.rows[1].tipRacuna, "1");
    }
    EXPECT_EQ(ParseInvoiceList("", ',').skipped, 0);
    // A JSON object is no list: one unreadable line.
    EXPECT_EQ(ParseInvoiceList(R"({"message":"x"})", ',').skipped, 1);
}

class CashDeskSearch : public kv::test::RegisterTest {};

TEST_F(CashDeskSearch, ListIntoPodaciAndTheDailyRecapitulation) {
    Rig rig;
    rig.t1.script.push_back(FT::answer(200,
                                       "S-1,0,0,2024-03-01T10:00:00,100.00\r\n"
                                       "S-2,0,1,2024-03-01T12:00:00,30.00\r\n"
                                       "S-3,4,0,2024-03-02T09:00:00,50.00\r\n"
                                       "S-4,0,0,2024-03-02T09:30:00,oops\r\n"
                                       "S-5,1,0,2024-03-02T10:00:00,999.00\r\n",
                                       "OK"));
    SearchOutcome o = rig.desk.Search(Form(), *dm, ',');
    EXPECT_EQ(o.message(), "Ok");
    EXPECT_EQ(o.rows, 4);
    EXPECT_EQ(o.skipped, 1);
    ASSERT_EQ(rig.t1.sent.size(), 1u);
    EXPECT_EQ(rig.t1.sent[0].body, R"({"fromDate":"2024-03-01","toDate":"2024-03-31"})");

    auto podaci = dm->Podaci();
    ASSERT_EQ(podaci.size(), 4u);
    EXPECT_EQ(podaci[0].text("Broj"), "S-1");
    EXPECT_EQ(podaci[0].date("Datum"), DateTime::fromParts(2024, 3, 1));
    EXPECT_EQ(podaci[1].decimal("IZNOS"), 30.0_cur);

    ASSERT_EQ(o.recap.size(), 4u);
    EXPECT_EQ(o.recap[0].Datum, "2024-03-01");
    EXPECT_EQ(o.recap[0].Vrsta, "Promet");
    EXPECT_EQ(o.recap[0].Ukupno, 70.0_cur);  // sale 100, refund 30
    EXPECT_EQ(o.recap[1].Vrsta, "Avans");
    EXPECT_EQ(o.recap[1].Ukupno, 50.0_cur);
    EXPECT_EQ(o.recap[2].Datum, "Ukupno");

    // A request that got no answer leaves the list as it was; any answer replaces it.
    rig.t1.script.push_back(FT::broken("timeout"));
    EXPECT_EQ(rig.desk.Search(Form(), *dm, ',').message(), "Error\ntimeout");
    EXPECT_EQ(dm->Podaci().size(), 4u);
    rig.t1.script.push_back(FT::answer(404, R"({"message":"Нема рачуна"})"));
    SearchOutcome none = rig.desk.Search(Form(), *dm, ',');
    EXPECT_EQ(none.message(), "Error\nНема рачуна");
    EXPECT_TRUE(dm->Podaci().empty());
    EXPECT_TRUE(none.recap.empty());
}

#include <gtest/gtest.h>

#include <functional>

#include "device/DeviceClient.h"
#include "device/Fiscalizer.h"
#include "device/InvoiceModel.h"
#include "device/RequestLedger.h"
#include "fake_transport.h"
#include "money_literal.h"
#include "util/ScriptedPrompter.h"

using namespace kv;
using namespace kv::device;

namespace {

using FT = FakeTransport;

const char* kOk = R"({"messages":"Успешно","invoiceNumber":"RX4F7Y5L-RX4F7Y5L-139","sdcDateTime":"2024-03-12T07:47:38.530+01:00",)"
                  R"("taxItems":[{"categoryType":0,"label":"Е","amount":9.9099,"rate":17,"categoryName":"ECAL"}],)"
                  R"("journal":"ФИСКАЛНИ РАЧУН\r\nКРАЈ","verificationUrl":"https://v/x","invoiceImagePngBase64":"iVBOR"})";

struct Rig {
    FT transport;
    ScriptedPrompter prompter;
    DeviceSettings device{"http://127.0.0.1", "7000", "tok", "1234", false};
    RunSettings run;
    InvoiceModel model;
    RequestLedger ledger;  // kept in memory
    DeviceClient client{transport, [this] { return device; }, &prompter};
    Fiscalizer fisk{client, model,
                    [this] {
                        RunSettings r = run;
                        r.pin = device.pin;
                        return r;
                    },
                    &ledger};
    int resultSteps = 0;
    std::vector<int64_t> prints;

    explicit Rig(int64_t type = 0) {
        fisk.onResultStep = [this] { ++resultSteps; };
        fisk.onPrint = [this](int64_t form) { prints.push_back(form); };
        model.Invoice.append();
        model.Invoice.field("invoiceType").setValue(Value(type));
        model.Invoice.field("transactionType").setValue(Value(int64_t{0}));
        model.Invoice.field("RequestId").setValue(Value(std::string("{0A1B2C3D-4E5F-6071-8293-A4B5C6D7E8F9}")));
        model.Invoice.post();
        model.Items.append();
        model.Items.field("name").setValue(Value(std::string("Kafa")));
        model.Items.field("labels").setValue(Value(std::string("E")));
        model.Items.field("totalAmount").setValue(Value(2.0_cur));
        model.Items.post();
    }
    void script(std::initializer_list<HttpResult> answers) { transport.script.assign(answers); }
    std::vector<std::string> paths() const {
        std::vector<std::string> out;
        for (const auto& r : transport.sent) out.push_back(r.method + " " + r.url.substr(r.url.find("/api")));
        return out;
    }
};

HttpResult Ok(const std::string& body) { return FT::answer(200, body); }
const HttpResult kStatus = Ok(R"({"isPinRequired":false})");
const HttpResult kStatusPin = Ok(R"({"isPinRequired":true})");

}  // namespace

TEST(Fiscalizer, EveryFailureEndsWithItsOwnText) {
    struct Case {
        const char* what;
        int64_t type;
        bool testMode;
        std::vector<HttpResult> answers;
        std::string expected;
        size_t requests;
    } cases[] = {
        {"device does not answer", 0, false, {FT::broken("refused")}, "Uredjaj se ne odaziva!", 1},
        {"status fails", 0, false, {Ok("{}"), FT::answer(500, "{}")}, "Ne mogu pročitati status uredjaja!", 2},
        {"PIN request not sent: the status answer is still in the logs", 0, false,
         {Ok("{}"), kStatusPin, FT::broken("reset")}, "PIN nije korektan!", 3},
        {"PIN answered with an error status", 0, false, {Ok("{}"), kStatusPin, FT::answer(500, "\"0100\"")},
         "PIN nije prihvaćen!", 3},
        {"wrong PIN", 0, false, {Ok("{}"), kStatusPin, Ok("\"2100\"")}, "PIN nije korektan!", 3},
        {"PIN without quotes", 0, false, {Ok("{}"), kStatusPin, Ok("0100")}, "PIN nije korektan!", 3},
        {"last invoice unknown", 8, false, {Ok("{}"), kStatus, Ok(R"({"x":1})")}, "Zadnji račun nepoznat!", 3},
        {"reprint of an unknown id", 9, false, {Ok("{}"), kStatus, FT::answer(404, "not found")},
         "Račun nije fiskalizovan", 3},
        {"invoice refused by the device", 0, false, {Ok("{}"), kStatus, FT::answer(400, R"({"messages":"x"})")},
         "Desila se greška u fiskalizaciji!", 3},
        {"invoice lost and not signed", 0, false, {Ok("{}"), kStatus, FT::broken("timeout"), FT::answer(404, "{}")},
         "Greška u računu!", 4},
        // An answer without a verdict is no verdict: the device is asked, and says it signed nothing.
        {"answer without messages", 0, false,
         {Ok("{}"), kStatus, Ok(R"({"invoiceNumber":"1"})"), FT::answer(404, "{}")}, "Fiskalizacija nije uspješna!", 4},
        {"empty messages", 0, false, {Ok("{}"), kStatus, Ok(R"({"messages":""})"), FT::answer(404, "{}")},
         "Fiskalizacija nije uspješna!", 4},
        {"not JSON", 0, false, {Ok("{}"), kStatus, Ok("OK"), FT::answer(404, "{}")}, "Fiskalizacija nije uspješna!", 4},
        {"server error, signed nothing", 0, false, {Ok("{}"), kStatus, FT::answer(503, "{}"), FT::answer(404, "{}")},
         "Desila se greška u fiskalizaciji!", 4},
        {"Cyrillic success in test mode", 0, true, {Ok("{}"), kStatus, Ok(kOk)}, "Fiskalizacija nije uspješna!", 3},
        {"last invoice not a success carries the device's text", 8, false,
         {Ok("{}"), kStatus, Ok(R"({"invoiceResponse":{"messages":"Грешка 12"}})")},
         "Fiskalizacija nije uspješna!\rГрешка 12", 3},
    };
    for (const auto& c : cases) {
        Rig rig(c.type);
        rig.run.testMode = c.testMode;
        rig.run.printUredjaj = 2;
        rig.transport.script.assign(c.answers.begin(), c.answers.end());
        const auto outcome = rig.fisk.Fiscalize();
        EXPECT_EQ(outcome.kind, FiscalOutcome::Kind::Failed) << c.what;
        EXPECT_EQ(outcome.text, c.expected) << c.what;
        EXPECT_EQ(rig.fisk.FiskGreska, c.expected) << c.what;
        EXPECT_EQ(rig.transport.sent.size(), c.requests) << c.what;
        EXPECT_EQ(rig.resultSteps, 1) << c.what << ": the result step always runs";
        EXPECT_TRUE(rig.prints.empty()) << c.what;
        EXPECT_EQ(rig.model.Invoice.field("PFRnumber").asString(), "") << c.what;
    }
}

TEST(Fiscalizer, SuccessStoresTheAnswerAndPrintsAsSet) {
    Rig rig;
    rig.run.printUredjaj = 2;
    rig.run.renderPrint = 0;
    rig.script({Ok("{}"), kStatusPin, Ok("\"0100\""), Ok(kOk)});
    rig.fisk.Fiscalize();
    EXPECT_EQ(rig.fisk.FiskGreska, "");
    EXPECT_EQ(rig.paths(), (std::vector<std::string>{"GET /api/attention", "GET /api/status", "POST /api/pin",
                                                     "POST /api/invoices"}));
    EXPECT_EQ(rig.model.Invoice.field("PFRnumber").asString(), "RX4F7Y5L-RX4F7Y5L-139");
    EXPECT_EQ(rig.model.Invoice.field("PFRvrijeme").asString(), "2024-03-12T07:47:38.530+01:00");
    ASSERT_EQ(rig.model.TaxItems.recordCount(), 1u);
    EXPECT_EQ(rig.model.TaxItems.field("amount").asString(), "9.9099");
    EXPECT_EQ(rig.model.TaxItems.field("KIntAmount").asCurrency(), 9.9099_cur);
    EXPECT_EQ(rig.fisk.answer().journal, "ФИСКАЛНИ РАЧУН\r\nКРАЈ");
    EXPECT_EQ(rig.fisk.answer().verificationUrl, "https://v/x");
    EXPECT_EQ(rig.fisk.answer().receiptPngBase64, "iVBOR");
    EXPECT_EQ(rig.prints, (std::vector<int64_t>{0}));
    EXPECT_EQ(rig.resultSteps, 1);

    // The device prints itself: Kovira does not.
    Rig device;
    device.run.printUredjaj = 1;
    device.script({Ok("{}"), kStatus, Ok(R"({"messages":"Success"})")});
    device.fisk.Fiscalize();
    EXPECT_EQ(device.fisk.FiskGreska, "");
    EXPECT_TRUE(device.prints.empty());
}

TEST(Fiscalizer, LastInvoiceReadsUnderItsEnvelopeAndTheImageAtTheTop) {
    Rig rig(8);
    rig.script({Ok("{}"), kStatus,
                Ok(R"({"invoiceResponse":{"messages":"Success","invoiceNumber":"L-1","sdcDateTime":"2024-01-01T00:00:00",)"
                   R"("taxItems":[],"journal":"J","verificationUrl":"U"},"receiptImageBase64":"IMG"})")});
    rig.fisk.Fiscalize();
    EXPECT_EQ(rig.fisk.FiskGreska, "");
    EXPECT_EQ(rig.paths().back(), "GET /api/invoices/last?receiptLayout=Slip&imageFormat=Png");
    EXPECT_EQ(rig.model.Invoice.field("PFRnumber").asString(), "L-1");
    EXPECT_EQ(rig.fisk.answer().receiptPngBase64, "IMG");
    EXPECT_EQ(rig.fisk.answer().journal, "J");
}

// What the device returned belongs to the run that got it: a failed run
// leaves nothing of the sale before it to print or to answer with, and a
// sale answered from the ledger has the record's number, time and URL only.
TEST(Fiscalizer, TheAnswerKeptIsThatOfTheLastRun) {
    Rig rig;
    rig.script({Ok("{}"), kStatus, Ok(kOk)});
    rig.fisk.Fiscalize();
    ASSERT_EQ(rig.fisk.FiskGreska, "");
    const DeviceAnswer& a = rig.fisk.answer();
    EXPECT_EQ(a.invoiceNumber, "RX4F7Y5L-RX4F7Y5L-139");
    EXPECT_EQ(a.sdcDateTime, "2024-03-12T07:47:38.530+01:00");
    ASSERT_EQ(a.taxItems.size(), 1u);
    EXPECT_EQ(a.taxItems[0].amount, "9.9099");
    EXPECT_NE(a.json.find("RX4F7Y5L-RX4F7Y5L-139"), std::string::npos);

    auto requestId = [&rig](const char* id) {
        rig.model.Invoice.edit();
        rig.model.Invoice.field("RequestId").setValue(Value(std::string(id)));
        rig.model.Invoice.post();
    };
    requestId("{11111111-2222-3333-4444-555555555555}");
    rig.script({FT::broken("refused")});
    rig.fisk.Fiscalize();
    EXPECT_EQ(rig.fisk.FiskGreska, msg::kNoAttention);
    EXPECT_TRUE(rig.fisk.answer().empty());
    EXPECT_EQ(rig.fisk.answer().journal, "");

    // Asked again under its own id, the first sale is answered from the ledger.
    requestId("{0A1B2C3D-4E5F-6071-8293-A4B5C6D7E8F9}");
    rig.script({});
    rig.fisk.Fiscalize();
    EXPECT_EQ(rig.fisk.FiskGreska, "");
    EXPECT_EQ(rig.fisk.answer().invoiceNumber, "RX4F7Y5L-RX4F7Y5L-139");
    EXPECT_EQ(rig.fisk.answer().sdcDateTime, "2024-03-12T07:47:38.530+01:00");
    EXPECT_EQ(rig.fisk.answer().verificationUrl, "https://v/x");
    EXPECT_EQ(rig.fisk.answer().journal, "");
    EXPECT_EQ(rig.fisk.answer().receiptPngBase64, "") << "the picture of the first answer is not this one's";
}

TEST(Fiscalizer, AnInvoiceThatGotNoAnswerButWasSignedIsNotSignedAgain) {
    Rig rig;
    int recovered = 0;
    rig.fisk.onRecovered = [&] { ++recovered; };
    rig.script({Ok("{}"), kStatus, FT::broken("Operation timed out"), Ok(kOk)});
    rig.fisk.Fiscalize();
    EXPECT_EQ(rig.fisk.FiskGreska, "");
    EXPECT_EQ(recovered, 1);
    EXPECT_EQ(rig.paths().back(), "GET /api/invoices/request/0A1B2C3D4E5F60718293A4B5C6D7E8F9");
    EXPECT_EQ(rig.model.Invoice.field("PFRnumber").asString(), "RX4F7Y5L-RX4F7Y5L-139");
    EXPECT_EQ(rig.prompter.texts(), (std::vector<std::string>{"Operation timed out"}));
}

TEST(Fiscalizer, ARefusedPinIsNotSentAgainUntilItChanges) {
    Rig rig;
    rig.script({Ok("{}"), kStatusPin, Ok("\"2100\"")});
    rig.fisk.Fiscalize();
    EXPECT_EQ(rig.fisk.FiskGreska, "PIN nije korektan!");
    EXPECT_TRUE(rig.fisk.pinRefused());

    rig.transport.sent.clear();
    rig.script({Ok("{}"), kStatusPin});
    rig.fisk.Fiscalize();
    EXPECT_EQ(rig.fisk.FiskGreska, "PIN nije korektan!");
    EXPECT_EQ(rig.paths(), (std::vector<std::string>{"GET /api/attention", "GET /api/status"}));

    rig.device.pin = "4321";
    rig.transport.sent.clear();
    rig.script({Ok("{}"), kStatusPin, Ok("\"0100\""), Ok(kOk)});
    rig.fisk.Fiscalize();
    EXPECT_EQ(rig.fisk.FiskGreska, "");
    EXPECT_EQ(rig.transport.sent.size(), 4u);
}

TEST(Fiscalizer, NoRunStartsInsideAnother) {
    Rig rig;
    bool nested = true;
    rig.fisk.onResultStep = [&] { nested = rig.fisk.Fiscalize().started(); };
    rig.script({Ok("{}"), kStatus, Ok(kOk)});
    EXPECT_TRUE(rig.fisk.Fiscalize().started());
    EXPECT_FALSE(nested);
    EXPECT_EQ(rig.transport.sent.size(), 3u);
    EXPECT_FALSE(rig.fisk.busy());
}

TEST(Fiscalizer, ARequestIdStandsForOneSale) {
    const std::string reqId = "0A1B2C3D4E5F60718293A4B5C6D7E8F9";
    auto withTotal = [](const char* total) {
        std::string a = kOk;
        return a.substr(0, a.size() - 1) + R"(,"totalAmount":)" + total + "}";
    };
    struct Case {
        const char* what;
        std::function<void(Rig&)> arrange;
        std::vector<HttpResult> answers;
        std::string expected;
        std::vector<std::string> sent;
        std::string number;
    } cases[] = {
        {"an id that cannot be sent or name a result file",
         [](Rig& r) {
             r.model.Invoice.edit();
             r.model.Invoice.field("RequestId").setValue(Value(std::string("../../x")));
             r.model.Invoice.post();
         },
         {}, msg::kBadRequestId, {}, ""},
        {"an id already signed for another sale",
         [&](Rig& r) { r.ledger.recordSigned(reqId, std::string(64, 'f'), "OTHER-1", "t", "u"); }, {},
         msg::kRequestIdReused, {}, ""},
        {"an id sent for another sale whose fate is unknown",
         [&](Rig& r) { r.ledger.recordSent(reqId, std::string(64, 'f')); }, {}, msg::kRequestIdReused, {}, ""},
        {"an id another sale was refused under is free again",
         [&](Rig& r) { r.ledger.recordRefused(reqId, std::string(64, 'f')); }, {Ok("{}"), kStatus, Ok(kOk)}, "",
         {"GET /api/attention", "GET /api/status", "POST /api/invoices"}, "RX4F7Y5L-RX4F7Y5L-139"},
        {"the same sale again after it was signed: answered from the record",
         [&](Rig& r) { r.ledger.recordSigned(reqId, SaleDigest(r.model), "SAME-1", "2024-01-01T10:00:00", "U"); }, {},
         "", {}, "SAME-1"},
        {"the device answers with another sale signed under this id earlier",
         [](Rig&) {}, {Ok("{}"), kStatus, Ok(withTotal("99.00"))}, msg::kRequestIdReused,
         {"GET /api/attention", "GET /api/status", "POST /api/invoices"}, ""},
        {"the device's total is this sale's", [](Rig&) {}, {Ok("{}"), kStatus, Ok(withTotal("2.00"))}, "",
         {"GET /api/attention", "GET /api/status", "POST /api/invoices"}, "RX4F7Y5L-RX4F7Y5L-139"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Rig rig;
        rig.run.printUredjaj = 2;
        c.arrange(rig);
        rig.transport.script.assign(c.answers.begin(), c.answers.end());
        ASSERT_TRUE(rig.fisk.Fiscalize().started());
        EXPECT_EQ(rig.fisk.FiskGreska, c.expected);
        EXPECT_EQ(rig.paths(), c.sent);
        EXPECT_EQ(rig.resultSteps, 1) << "every outcome is answered";
        EXPECT_EQ(rig.model.Invoice.field("PFRnumber").asString(), c.number);
        EXPECT_EQ(rig.prints.size(), c.number.empty() || c.sent.empty() ? 0u : 1u) << "a record is not printed again";
    }
}

// The device may have signed it, and the question by request id gets no
// clear answer: nothing is answered, stored or printed, and the next run asks
// again before it sends anything.
TEST(Fiscalizer, WhenTheDeviceCannotSayWhetherItSignedNothingIsAnswered) {
    const std::string lookup = "GET /api/invoices/request/0A1B2C3D4E5F60718293A4B5C6D7E8F9";
    struct Case {
        const char* what;
        HttpResult invoice, ask;
    } cases[] = {
        {"lost answer, the question fails too", FT::broken("timeout"), FT::broken("timeout")},
        {"lost answer, the question gets 500", FT::broken("reset"), FT::answer(500, "{}")},
        {"lost answer, the question gets garbage", FT::broken("reset"), Ok("<html>")},
        {"lost answer, the question gets no invoice number", FT::broken("reset"), Ok(R"({"messages":"x"})")},
        {"a 200 cut short, the question fails", Ok(R"({"messages":"Усп)"), FT::broken("timeout")},
        {"a 503, the question fails", FT::answer(503, "{}"), FT::answer(502, "")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Rig rig;
        rig.run.printUredjaj = 2;
        rig.script({Ok("{}"), kStatus, c.invoice, c.ask});
        EXPECT_EQ(rig.fisk.Fiscalize().kind, FiscalOutcome::Kind::Pending);
        EXPECT_TRUE(rig.fisk.pending());
        EXPECT_EQ(rig.fisk.FiskGreska, msg::kStateUnknown);
        EXPECT_EQ(rig.resultSteps, 0);
        EXPECT_TRUE(rig.prints.empty());
        EXPECT_EQ(rig.model.Invoice.field("PFRnumber").asString(), "");
        EXPECT_EQ(rig.paths().back(), lookup);

        // Later the device answers the question: its answer is kept, the invoice is not sent again.
        rig.transport.sent.clear();
        rig.script({Ok("{}"), kStatus, Ok(kOk)});
        EXPECT_TRUE(rig.fisk.Fiscalize().done());
        EXPECT_FALSE(rig.fisk.pending());
        EXPECT_EQ(rig.fisk.FiskGreska, "");
        EXPECT_EQ(rig.paths(), (std::vector<std::string>{"GET /api/attention", "GET /api/status", lookup}));
        EXPECT_EQ(rig.model.Invoice.field("PFRnumber").asString(), "RX4F7Y5L-RX4F7Y5L-139");
        EXPECT_EQ(rig.resultSteps, 1);
    }

    // Only a clear "unknown" (404) frees the sale for a new attempt.
    Rig rig;
    rig.script({Ok("{}"), kStatus, FT::broken("timeout"), FT::broken("timeout")});
    rig.fisk.Fiscalize();
    ASSERT_TRUE(rig.fisk.pending());
    rig.transport.sent.clear();
    rig.script({Ok("{}"), kStatus, FT::answer(404, "{}"), Ok(kOk)});
    rig.fisk.Fiscalize();
    EXPECT_EQ(rig.fisk.FiskGreska, "");
    EXPECT_EQ(rig.paths(), (std::vector<std::string>{"GET /api/attention", "GET /api/status", lookup,
                                                     "POST /api/invoices"}));
}

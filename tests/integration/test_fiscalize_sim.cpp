// The fiscalisation run end to end: libcurl transport, device client,
// invoice model and run against the simulated device on 127.0.0.1. The
// device's own record (requests seen, invoices signed, card state) is the
// witness of what Kovira really sent.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "../core/money_literal.h"
#include "FiscalSimulator.h"
#include "device/CurlTransport.h"
#include "device/DeviceClient.h"
#include "device/Fiscalizer.h"
#include "device/InvoiceModel.h"
#include "util/ScriptedPrompter.h"

using namespace kv;
using namespace kv::device;
using namespace std::chrono_literals;
using kv::sim::Fault;

namespace {

const std::string kRequestId = "{0A1B2C3D-4E5F-6071-8293-A4B5C6D7E8F9}";
const std::string kReqID = "0A1B2C3D4E5F60718293A4B5C6D7E8F9";
constexpr const char* kRightPin = "1234";

sim::Config deviceConfig() {
    sim::Config cfg;
    cfg.token = "tok";
    cfg.pin = kRightPin;
    cfg.pinRequired = false;
    cfg.utcOffsetMinutes = 60;
    cfg.renderImages = false;  // a test that checks the picture turns it on
    return cfg;
}

// Device, transport, client, model and run wired as the main window wires them.
struct Rig {
    sim::FiscalSimulator sim;
    int port;
    CurlTransport transport;
    ScriptedPrompter prompter;
    DeviceSettings device;
    RunSettings run;
    InvoiceModel model;
    DeviceClient client{transport, [this] { return device; }, &prompter};
    Fiscalizer fisk{client, model, [this] {
                        RunSettings r = run;
                        r.pin = device.pin;
                        r.testMode = device.test;
                        r.latinLabels = r.latinLabels || device.test;
                        return r;
                    }};
    int recovered = 0;

    explicit Rig(sim::Config cfg = deviceConfig(), long timeoutMs = 2000)
        : sim(std::move(cfg)),
          port(sim.start(0)),
          transport(CurlTransportConfig{timeoutMs, timeoutMs}),
          device{"http://127.0.0.1", std::to_string(port), "tok", kRightPin, false} {
        run.printUredjaj = 0;
        run.renderPrint = 1;
        fisk.onRecovered = [this] { ++recovered; };
        fillSale();
    }

    // Two coffees and a juice under Е (17 %), three loaves under К (0 %), paid in cash.
    void fillSale(int64_t type = 0, const std::string& requestId = kRequestId, const char* breadLabel = "K") {
        model.Clear();
        model.Invoice.append();
        model.Invoice.field("dateAndTimeOfIssue").setValue("2024-03-12T06:47:30Z");
        model.Invoice.field("cashier").setValue("Marko");
        model.Invoice.field("invoiceType").setValue(Value(type));
        model.Invoice.field("transactionType").setValue(Value(int64_t{0}));
        model.Invoice.field("invoiceNumber").setValue("R-1");
        model.Invoice.field("RequestId").setValue(Value(requestId));
        model.Invoice.post();
        item("Kafa", "2", "E", "29.25", "58.5");
        item("Sok", "1", "E", "11.70", "11.7");
        item("Hljeb", "3", breadLabel, "1.20", "3.6");
        model.Payment.append();
        model.Payment.field("amount").setValue("73.80");
        model.Payment.field("paymentType").setValue(Value(int64_t{1}));
        model.Payment.post();
    }
    void item(const char* name, const char* qty, const char* label, const char* price, const char* total) {
        model.Items.append();
        model.Items.field("name").setValue(name);
        model.Items.field("quantity").setValue(qty);
        model.Items.field("labels").setValue(label);
        model.Items.field("unitPrice").setValue(price);
        model.Items.field("totalAmount").setValue(total);
        model.Items.post();
    }
    void setType(int64_t type) {
        model.Invoice.edit();
        model.Invoice.field("invoiceType").setValue(Value(type));
        model.Invoice.post();
    }

    std::string fiscalize() {
        EXPECT_TRUE(fisk.Fiscalize().started());
        return fisk.FiskGreska;
    }
    std::string pfrNumber() const { return model.Invoice.field("PFRnumber").asString(); }

    // "METHOD target" of every request the device received.
    std::vector<std::string> seen() const {
        std::vector<std::string> out;
        for (const auto& r : sim.requests()) out.push_back(r.method + " " + r.target);
        return out;
    }
    int count(const std::string& methodAndPath) const {
        int n = 0;
        for (const auto& r : sim.requests()) n += (r.method + " " + r.path) == methodAndPath;
        return n;
    }
};

}  // namespace

TEST(FiscalizeSim, SignsTheSaleAndKeepsWhatTheDeviceAnswered) {
    sim::Config cfg = deviceConfig();
    cfg.renderImages = true;
    Rig rig(cfg);

    EXPECT_EQ(rig.fiscalize(), "");
    EXPECT_EQ(rig.seen(), (std::vector<std::string>{"GET /api/attention", "GET /api/status", "POST /api/invoices"}));
    const auto sent = rig.sim.requests().back();
    EXPECT_EQ(sent.requestId, kReqID);
    EXPECT_EQ(sent.authorization, "Bearer tok");
    EXPECT_TRUE(rig.prompter.texts().empty());

    // The device signed exactly the sale that was typed.
    const auto signedInvoices = rig.sim.signedInvoices();
    ASSERT_EQ(signedInvoices.size(), 1u);
    const sim::SimInvoice& inv = signedInvoices[0];
    EXPECT_EQ(rig.sim.timesSigned(kReqID), 1);
    EXPECT_EQ(inv.totalAmount, rig.model.ItemsTotal()->raw());
    EXPECT_EQ(inv.totalAmount, (73.8_cur).raw());
    ASSERT_EQ(inv.items.size(), 3u);
    EXPECT_EQ(inv.items[0].label, "Е");  // Cyrillic outside test mode
    EXPECT_EQ(inv.items[2].label, "К");
    ASSERT_EQ(inv.payments.size(), 1u);
    EXPECT_EQ(inv.payments[0].amount, (73.8_cur).raw());

    // Number and time kept on the invoice header.
    EXPECT_EQ(rig.pfrNumber(), inv.invoiceNumber);
    EXPECT_EQ(rig.model.Invoice.field("PFRvrijeme").asString(), inv.sdcDateTime);
    EXPECT_FALSE(rig.model.Invoice.field("kPFRTime").isNull());

    // One tax row per label with the device's figures, amounts readable as money.
    struct Tax {
        std::string label, amount, rate;
        Currency value;
    };
    const std::vector<Tax> expected = {{"Е", "10.2", "17", 10.2_cur}, {"К", "0", "0", 0_cur}};
    ASSERT_EQ(rig.model.TaxItems.recordCount(), expected.size());
    ASSERT_EQ(inv.taxes.size(), expected.size());
    rig.model.TaxItems.first();
    for (std::size_t i = 0; i < expected.size(); ++i, rig.model.TaxItems.next()) {
        const auto& t = rig.model.TaxItems;
        EXPECT_EQ(t.field("label").asString(), expected[i].label) << i;
        EXPECT_EQ(t.field("amount").asString(), expected[i].amount) << i;
        EXPECT_EQ(t.field("rate").asString(), expected[i].rate) << i;
        EXPECT_EQ(t.field("KIntAmount").asCurrency(), expected[i].value) << i;
        EXPECT_EQ(t.field("KIntAmount").asCurrency().raw(), inv.taxes[i].amount) << i;
    }
    EXPECT_EQ(rig.model.TaxTotal(), 10.2_cur);

    // Receipt text with its CR LF line ends, verification address, picture.
    EXPECT_EQ(rig.fisk.answer().journal, inv.journal);
    EXPECT_NE(rig.fisk.answer().journal.find("ФИСКАЛНИ РАЧУН"), std::string::npos);
    EXPECT_NE(rig.fisk.answer().journal.find("КРАЈ ФИСКАЛНОГ РАЧУНА"), std::string::npos);
    EXPECT_NE(rig.fisk.answer().journal.find("\r\n"), std::string::npos);
    EXPECT_EQ(rig.fisk.answer().verificationUrl, inv.verificationUrl);
    EXPECT_EQ(rig.fisk.answer().receiptPngBase64.rfind("iVBORw0KGgo", 0), 0u) << "a base64 PNG";
}

TEST(FiscalizeSim, SuccessTestFollowsTheModeAndTheLanguageOfTheAnswer) {
    struct Case {
        bool testMode;
        bool latinAnswer;  // "Success" instead of "Успешно"
        std::string expected;
    } cases[] = {
        {false, false, ""},
        {false, true, ""},
        {true, false, msg::kNotSuccessful},
        {true, true, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.testMode ? "test mode, " : "normal mode, ") + (c.latinAnswer ? "Latin" : "Cyrillic"));
        Rig rig;
        rig.device.test = c.testMode;
        if (c.latinAnswer) rig.sim.injectFault("POST", "/api/invoices", Fault::latinSuccess());

        EXPECT_EQ(rig.fiscalize(), c.expected);
        const std::string prefix = c.testMode ? "/tok/api/v3/" : "/api/";
        EXPECT_EQ(rig.seen(), (std::vector<std::string>{"GET " + prefix + "attention", "GET " + prefix + "status",
                                                        "POST " + prefix + "invoices"}));
        const std::string body = rig.sim.requests().back().body;
        EXPECT_EQ(body.find("invoiceRequest") == std::string::npos, c.testMode) << "bare request only in test mode";
        // The device signs in either case; a rejected answer is not kept.
        ASSERT_EQ(rig.sim.signedInvoices().size(), 1u);
        const auto inv = rig.sim.signedInvoices()[0];
        EXPECT_EQ(inv.items[0].label, c.testMode ? "E" : "Е");
        EXPECT_EQ(rig.pfrNumber(), c.expected.empty() ? inv.invoiceNumber : "");
        if (c.expected.empty()) {
            rig.model.TaxItems.first();
            EXPECT_EQ(rig.model.TaxItems.field("label").asString(), c.testMode ? "E" : "Е");
        } else {
            EXPECT_EQ(rig.model.TaxItems.recordCount(), 0u);
        }
    }
}

TEST(FiscalizeSim, PinIsSentWhenTheDeviceAsksForIt) {
    sim::Config cfg = deviceConfig();
    cfg.pinRequired = true;
    Rig rig(cfg);

    EXPECT_EQ(rig.fiscalize(), "");
    EXPECT_EQ(rig.seen(), (std::vector<std::string>{"GET /api/attention", "GET /api/status", "POST /api/pin",
                                                    "POST /api/invoices"}));
    const auto pin = rig.sim.requests()[2];
    EXPECT_EQ(pin.body, kRightPin);
    EXPECT_EQ(pin.contentType, "text/plain");
    EXPECT_EQ(rig.sim.timesSigned(kReqID), 1);

    // Unlocked now: the next sale goes without a PIN.
    rig.sim.clearRequests();
    rig.fillSale(0, "{11111111-2222-3333-4444-555555555555}");
    EXPECT_EQ(rig.fiscalize(), "");
    EXPECT_EQ(rig.count("POST /api/pin"), 0);
    EXPECT_EQ(rig.sim.signedInvoices().size(), 2u);
}

TEST(FiscalizeSim, ARefusedPinIsNotRepeatedAndNeverLocksTheCard) {
    sim::Config cfg = deviceConfig();
    cfg.pinRequired = true;  // three wrong PINs in a row lock the card
    Rig rig(cfg);

    // An input folder full of files: every run ends at the PIN, one PIN request in all.
    rig.device.pin = "9999";
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(rig.fiscalize(), msg::kPinWrong) << "run " << i;
        EXPECT_FALSE(rig.sim.pinLocked()) << "run " << i;
    }
    EXPECT_EQ(rig.count("POST /api/pin"), 1);
    EXPECT_EQ(rig.count("GET /api/status"), 5);
    EXPECT_EQ(rig.count("POST /api/invoices"), 0);

    // A changed PIN is tried once; still wrong, it too is not repeated.
    rig.device.pin = "8888";
    for (int i = 0; i < 3; ++i) EXPECT_EQ(rig.fiscalize(), msg::kPinWrong);
    EXPECT_EQ(rig.count("POST /api/pin"), 2);
    EXPECT_FALSE(rig.sim.pinLocked());

    rig.device.pin = kRightPin;
    EXPECT_EQ(rig.fiscalize(), "");
    EXPECT_EQ(rig.count("POST /api/pin"), 3);
    EXPECT_FALSE(rig.sim.pinLocked());
    EXPECT_EQ(rig.sim.timesSigned(kReqID), 1);
}

TEST(FiscalizeSim, PinFaults) {
    struct Case {
        const char* what;
        Fault fault;
        std::string expected;
        // The following run, without a fault.
        bool pinSentAgain;
        std::string next;
    } cases[] = {
        // A PIN that never reached the device was not refused by it.
        {"connection reset", Fault::refuse(), msg::kPinWrong, true, ""},
        {"connection dropped", Fault::drop(), msg::kPinWrong, true, ""},
        {"error status with the accepted code", Fault::httpStatus(500, "\"0100\""), msg::kPinNotAccepted, true, ""},
        {"error status with an error object", Fault::httpStatus(500), msg::kPinWrong, false, msg::kPinWrong},
        // The device took the PIN but the answer was garbled: it no longer asks.
        {"answer not JSON", Fault::nonJson("0100"), msg::kPinWrong, false, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        sim::Config cfg = deviceConfig();
        cfg.pinRequired = true;
        Rig rig(cfg);
        rig.sim.injectFault("POST", "/api/pin", c.fault);

        EXPECT_EQ(rig.fiscalize(), c.expected);
        EXPECT_EQ(rig.count("POST /api/pin"), 1);
        EXPECT_EQ(rig.count("POST /api/invoices"), 0);

        EXPECT_EQ(rig.fiscalize(), c.next);
        EXPECT_EQ(rig.count("POST /api/pin"), c.pinSentAgain ? 2 : 1);
        EXPECT_FALSE(rig.sim.pinLocked());
    }
}

TEST(FiscalizeSim, EveryFailureOfTheRunEndsWithItsText) {
    const std::string attention = "GET /api/attention", status = "GET /api/status", invoice = "POST /api/invoices",
                      last = "GET /api/invoices/last?receiptLayout=Slip&imageFormat=Png",
                      byId = "GET /api/invoices/request/" + kReqID;
    struct Case {
        const char* what;
        int64_t type;
        std::string method, path;  // where the fault hits; empty: no fault
        Fault fault;
        // libcurl sends an idempotent request once more on a fresh connection
        // when the reused one dies without a byte; a broken device breaks both.
        int times;
        std::string expected;
        std::vector<std::string> seen;
        int signedOnDevice = 0;
        bool deviceDown = false;
        const char* breadLabel = "K";
    } cases[] = {
        {"device not running", 0, "", "", {}, 1, msg::kNoAttention, {}, 0, true},
        {"attention reset", 0, "GET", "/api/attention", Fault::refuse(), 1, msg::kNoAttention, {attention}},
        {"attention dropped", 0, "GET", "/api/attention", Fault::drop(), 1, msg::kNoAttention, {attention}},
        {"attention error status", 0, "GET", "/api/attention", Fault::httpStatus(503), 1, msg::kNoAttention,
         {attention}},
        {"status error", 0, "GET", "/api/status", Fault::httpStatus(500), 1, msg::kNoStatus, {attention, status}},
        {"status dropped", 0, "GET", "/api/status", Fault::drop(), 0, msg::kNoStatus, {attention, status, status}},
        {"invoice refused", 0, "POST", "/api/invoices", Fault::httpStatus(400), 1, msg::kFiscalError,
         {attention, status, invoice}},
        {"invoice the device cannot sign (unknown tax label)", 0, "", "", {}, 1, msg::kFiscalError,
         {attention, status, invoice}, 0, false, "X"},
        {"invoice answered 500, the device signed nothing", 0, "POST", "/api/invoices", Fault::httpStatus(500), 1,
         msg::kFiscalError, {attention, status, invoice, byId}},
        {"invoice lost before signing", 0, "POST", "/api/invoices", Fault::drop(), 1, msg::kInvoiceError,
         {attention, status, invoice, byId}},
        {"last invoice on a device that signed none", 8, "", "", {}, 1, msg::kLastUnknown, {attention, status, last}},
        {"last invoice dropped", 8, "GET", "/api/invoices/last", Fault::drop(), 0, msg::kLastUnknown,
         {attention, status, last, last}},
        {"invoice by request id dropped", 9, "GET", "/api/invoices/request/*", Fault::drop(), 0, msg::kNotFiscalised,
         {attention, status, byId, byId}},
        {"invoice by request id answered 404 as text", 9, "GET", "/api/invoices/request/*",
         Fault::httpStatus(404, "Not Found"), 1, msg::kNotFiscalised, {attention, status, byId}},
        {"invoice by request id the device does not know", 9, "", "", {}, 1, msg::kNotFiscalised,
         {attention, status, byId}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Rig rig;
        rig.fillSale(c.type, kRequestId, c.breadLabel);
        if (!c.path.empty()) rig.sim.injectFault(c.method, c.path, c.fault, c.times);
        if (c.deviceDown) rig.sim.stop();

        EXPECT_EQ(rig.fiscalize(), c.expected);
        EXPECT_EQ(rig.seen(), c.seen);
        EXPECT_EQ(rig.sim.timesSigned(kReqID), c.signedOnDevice);
        EXPECT_EQ(rig.pfrNumber(), "");
        EXPECT_EQ(rig.model.TaxItems.recordCount(), 0u);
        EXPECT_EQ(rig.fisk.answer().journal, "");
    }
}

TEST(FiscalizeSim, LastInvoiceIsReadUnderItsEnvelope) {
    sim::Config cfg = deviceConfig();
    cfg.renderImages = true;
    Rig rig(cfg);
    ASSERT_EQ(rig.fiscalize(), "");
    const auto inv = rig.sim.signedInvoices().back();

    rig.fillSale(8, "{99999999-2222-3333-4444-555555555555}");
    EXPECT_EQ(rig.fiscalize(), "");
    EXPECT_EQ(rig.pfrNumber(), inv.invoiceNumber);
    EXPECT_EQ(rig.model.Invoice.field("PFRvrijeme").asString(), inv.sdcDateTime);
    EXPECT_EQ(rig.fisk.answer().journal, inv.journal);
    EXPECT_EQ(rig.fisk.answer().verificationUrl, inv.verificationUrl);
    EXPECT_EQ(rig.fisk.answer().receiptPngBase64.rfind("iVBORw0KGgo", 0), 0u) << "from the top-level receipt picture";
    EXPECT_EQ(rig.model.TaxItems.recordCount(), 2u);
    EXPECT_EQ(rig.sim.signedInvoices().size(), 1u) << "asking for the last invoice signs nothing";

    // A device message that is not a success is handed on after a carriage return.
    struct Case {
        Fault fault;
        std::string expected;
    } cases[] = {
        {Fault::httpStatus(200, R"({"invoiceResponse":{"messages":"Грешка 12"}})"),
         std::string(msg::kNotSuccessful) + "\rГрешка 12"},
        {Fault::noMessages(), std::string(msg::kNotSuccessful) + "\r"},
    };
    for (const auto& c : cases) {
        rig.model.Invoice.edit();
        rig.model.Invoice.field("PFRnumber").clear();
        rig.model.Invoice.post();
        rig.sim.injectFault("GET", "/api/invoices/last", c.fault);
        EXPECT_EQ(rig.fiscalize(), c.expected);
        EXPECT_EQ(rig.pfrNumber(), "");
    }
}

TEST(FiscalizeSim, InvoiceByRequestIdInBothAddressForms) {
    for (bool test : {false, true}) {
        SCOPED_TRACE(test ? "test mode" : "normal mode");
        Rig rig;
        rig.device.test = test;
        // The test service answers in English, which is all test mode accepts.
        if (test) rig.sim.injectFault("GET", "/api/invoices/*", Fault::latinSuccess(), 0);
        if (test) rig.sim.injectFault("POST", "/api/invoices", Fault::latinSuccess(), 0);
        ASSERT_EQ(rig.fiscalize(), "");
        const auto inv = rig.sim.signedInvoices().back();

        rig.fillSale(9);
        rig.sim.clearRequests();
        EXPECT_EQ(rig.fiscalize(), "");
        EXPECT_EQ(rig.seen().back(), test ? "GET /tok/api/v3/invoices/" + kReqID : "GET /api/invoices/request/" + kReqID);
        EXPECT_EQ(rig.pfrNumber(), inv.invoiceNumber);
        EXPECT_EQ(rig.fisk.answer().journal, inv.journal);
        EXPECT_EQ(rig.model.TaxItems.recordCount(), 2u);
        EXPECT_EQ(rig.sim.timesSigned(kReqID), 1);
    }
}

// Whatever becomes of the invoice request, one sale is signed at most once,
// and pressing "Fiskalizuj" again after a failure signs it then.
TEST(FiscalizeSim, AnInvoiceWithoutAnswerIsLookedUpBeforeItCountsAsLost) {
    struct Case {
        const char* what;
        Fault fault;
        std::string expected;
        int signedAfterFirstRun;
        long timeoutMs = 2000;
        bool sendError = true;  // the transport's error text is shown
    } cases[] = {
        {"signed, then the connection dropped", Fault::signThenDrop(), "", 1},
        {"signed, answer later than the time-out", Fault::delayed(5s), "", 1, 300},
        {"dropped before signing", Fault::drop(), msg::kInvoiceError, 0},
        {"reset before signing", Fault::refuse(), msg::kInvoiceError, 0},
        // A 200 that cannot be read is no verdict: the device is asked.
        {"signed, answer not JSON", Fault::nonJson(), "", 1, 2000, false},
        {"signed, answer without messages", Fault::noMessages(), "", 1, 2000, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Rig rig(deviceConfig(), c.timeoutMs);
        rig.sim.injectFault("POST", "/api/invoices", c.fault);

        EXPECT_EQ(rig.fiscalize(), c.expected);
        EXPECT_EQ(rig.sim.timesSigned(kReqID), c.signedAfterFirstRun);
        EXPECT_EQ(rig.count("POST /api/invoices"), 1) << "the request itself is never repeated";
        EXPECT_EQ(rig.seen().back(), "GET /api/invoices/request/" + kReqID);
        EXPECT_EQ(rig.prompter.texts().size(), c.sendError ? 1u : 0u) << "the send error is shown";
        const bool recovered = c.expected.empty();
        EXPECT_EQ(rig.recovered, recovered ? 1 : 0);
        if (recovered) {
            EXPECT_EQ(rig.pfrNumber(), rig.sim.signedInvoices().back().invoiceNumber);
            EXPECT_EQ(rig.model.TaxItems.recordCount(), 2u);
        } else {
            EXPECT_EQ(rig.pfrNumber(), "");
        }

        // The operator presses "Fiskalizuj" again.
        EXPECT_EQ(rig.fiscalize(), "");
        EXPECT_EQ(rig.sim.timesSigned(kReqID), 1);
        EXPECT_EQ(rig.sim.signedInvoices().size(), 1u);
        EXPECT_EQ(rig.pfrNumber(), rig.sim.signedInvoices().back().invoiceNumber);
    }
}

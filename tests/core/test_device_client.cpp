#include <gtest/gtest.h>

#include <deque>
#include <string>
#include <utility>
#include <vector>

#include "device/DeviceClient.h"
#include "fake_transport.h"
#include "util/ScriptedPrompter.h"

using namespace kv;
using namespace kv::device;

namespace {

using Headers = std::vector<std::pair<std::string, std::string>>;

struct Rig {
    FakeTransport transport;
    DeviceSettings settings{"http://127.0.0.1", "7000", "abc", "1234", false};
    ScriptedPrompter prompter;
    DeviceClient client{transport, [this] { return settings; }, &prompter};

    const HttpRequest& last() const { return transport.sent.back(); }
};

const char* kGuid = "{0A1B2C3D-4E5F-6071-8293-A4B5C6D7E8F9}";
const char* kGuidHex = "0A1B2C3D4E5F60718293A4B5C6D7E8F9";

}  // namespace

TEST(DeviceClient, CommandsComposeTheirAddressInBothForms)
{
    struct Case {
        const char* name;
        std::function<bool(DeviceClient&)> run;
        const char* method;
        const char* normal;
        const char* test;
    };
    const std::vector<Case> cases{
        {"attention", [](DeviceClient& c) { return c.CmdAttention(); }, "GET", "http://127.0.0.1:7000/api/attention",
         "http://127.0.0.1:7000/abc/api/v3/attention"},
        {"status", [](DeviceClient& c) { return c.CmdStatus(); }, "GET", "http://127.0.0.1:7000/api/status",
         "http://127.0.0.1:7000/abc/api/v3/status"},
        {"pin", [](DeviceClient& c) { return c.CmdSendPin(); }, "POST", "http://127.0.0.1:7000/api/pin",
         "http://127.0.0.1:7000/abc/api/v3/pin"},
        {"last", [](DeviceClient& c) { return c.CmdLast(); }, "GET",
         "http://127.0.0.1:7000/api/invoices/last?receiptLayout=Slip&imageFormat=Png",
         "http://127.0.0.1:7000/abc/api/v3/invoices/last?receiptLayout=Slip&imageFormat=Png"},
        {"reprint", [](DeviceClient& c) { return c.CmdReprint(kGuid); }, "GET",
         "http://127.0.0.1:7000/api/invoices/request/0A1B2C3D4E5F60718293A4B5C6D7E8F9",
         "http://127.0.0.1:7000/abc/api/v3/invoices/0A1B2C3D4E5F60718293A4B5C6D7E8F9"},
        {"invoice", [](DeviceClient& c) { return c.CmdInvoice(kGuid, "{}"); }, "POST",
         "http://127.0.0.1:7000/api/invoices", "http://127.0.0.1:7000/abc/api/v3/invoices"},
    };
    for (const auto& c : cases) {
        for (bool test : {false, true}) {
            SCOPED_TRACE(std::string(c.name) + (test ? " test" : " normal"));
            Rig rig;
            rig.settings.test = test;
            std::string shown;
            rig.client.onBeforeSend = [&](const std::string& url) { shown = url; };
            c.run(rig.client);
            ASSERT_EQ(rig.transport.sent.size(), 1u);
            EXPECT_EQ(rig.last().method, c.method);
            EXPECT_EQ(rig.last().url, test ? c.test : c.normal);
            EXPECT_EQ(shown, rig.last().url);
            EXPECT_EQ(rig.client.log().url, rig.last().url);
        }
    }
}

TEST(DeviceClient, AddressPartsAreJoinedAsTheyAre)
{
    struct Case {
        const char* base;
        const char* port;
        const char* token;
        bool test;
        const char* url;
    };
    const Case cases[] = {
        {"http://127.0.0.1/", "7000", "abc", false, "http://127.0.0.1/:7000/api/attention"},
        {"http://127.0.0.1", "", "abc", false, "http://127.0.0.1:/api/attention"},
        {"http://127.0.0.1", "7000", "", true, "http://127.0.0.1:7000//api/v3/attention"},
        {" http://127.0.0.1 ", "7000 ", "abc", false, " http://127.0.0.1 :7000 /api/attention"},
    };
    for (const auto& c : cases) {
        Rig rig;
        rig.settings = {c.base, c.port, c.token, "", c.test};
        rig.client.CmdAttention();
        EXPECT_EQ(rig.last().url, c.url);
    }
}

TEST(DeviceClient, EachCommandSendsOnlyItsOwnHeadersAndBody)
{
    Rig rig;
    rig.client.CmdInvoice(kGuid, R"({"invoiceRequest":{}})");
    EXPECT_EQ(rig.last().headers, (Headers{{"Authorization", "Bearer abc"},
                                           {"RequestId", kGuidHex},
                                           {"Content-Type", "application/json"}}));
    EXPECT_EQ(rig.last().body, R"({"invoiceRequest":{}})");

    // Nothing of the invoice request travels with the next one.
    rig.client.CmdStatus();
    EXPECT_EQ(rig.last().headers, (Headers{{"Authorization", "Bearer abc"}}));
    EXPECT_EQ(rig.last().body, "");

    rig.client.CmdSendPin();
    EXPECT_EQ(rig.last().headers, (Headers{{"Authorization", "Bearer abc"}, {"Content-Type", "text/plain"}}));
    EXPECT_EQ(rig.last().body, "1234");

    rig.settings.token = "";
    rig.settings.pin = "";
    rig.client.CmdSendPin();
    EXPECT_EQ(rig.last().headers, (Headers{{"Authorization", "Bearer "}, {"Content-Type", "text/plain"}}));
    EXPECT_EQ(rig.last().body, "");
}

TEST(DeviceClient, ReqIdDropsBracesAndDashesOnly)
{
    const std::pair<std::string, std::string> cases[] = {
        {kGuid, kGuidHex},
        {"0A1B2C3D4E5F60718293A4B5C6D7E8F9", "0A1B2C3D4E5F60718293A4B5C6D7E8F9"},
        {"RQ-{7}-x y", "RQ7x y"},
        {"", ""},
    };
    for (const auto& [in, out] : cases)
        EXPECT_EQ(DeviceClient::ReqID(in), out) << in;
    EXPECT_EQ(DeviceClient::ReqID(kGuid).size(), 32u);
}

TEST(DeviceClient, SuccessRules)
{
    using Run = std::function<bool(DeviceClient&)>;
    const Run attention = [](DeviceClient& c) { return c.CmdAttention(); };
    const Run status = [](DeviceClient& c) { return c.CmdStatus(); };
    const Run pin = [](DeviceClient& c) { return c.CmdSendPin(); };
    const Run invoice = [](DeviceClient& c) { return c.CmdInvoice("id", "{}"); };
    const Run last = [](DeviceClient& c) { return c.CmdLast(); };
    const Run reprint = [](DeviceClient& c) { return c.CmdReprint("id"); };
    struct Case {
        const char* name;
        Run run;
        int status;
        const char* body;
        bool ok;
    };
    const Case cases[] = {
        {"attention 200", attention, 200, "", true},
        {"attention 500", attention, 500, "", false},
        {"attention 204", attention, 204, "", false},
        {"status 200", status, 200, R"({"isPinRequired":true})", true},
        {"status 401", status, 401, "", false},
        {"pin 200 with wrong code", pin, 200, R"("2100")", true},  // the code is the workflow's to judge
        {"pin 500", pin, 500, "", false},
        {"invoice 200", invoice, 200, R"({"invoiceNumber":"A-B-1"})", true},
        {"invoice 500", invoice, 500, R"({"invoiceNumber":"A-B-1"})", false},
        {"last with invoiceResponse", last, 200, R"({"invoiceResponse":{"invoiceNumber":"A-B-1"}})", true},
        {"last without invoiceResponse", last, 200, R"({"invoiceNumber":"A-B-1"})", false},
        {"last with null invoiceResponse", last, 200, R"({"invoiceResponse":null})", false},
        {"last not JSON", last, 200, "invoiceResponse", false},
        {"reprint known", reprint, 200, R"({"invoiceNumber":"A-B-1"})", true},
        {"reprint unknown, text", reprint, 404, "Not Found", false},
        {"reprint empty array", reprint, 200, "[]", false},
    };
    for (const auto& c : cases) {
        Rig rig;
        rig.transport.script.push_back(FakeTransport::answer(c.status, c.body));
        EXPECT_EQ(c.run(rig.client), c.ok) << c.name;
        EXPECT_EQ(rig.client.log().statusCode, c.status) << c.name;
        EXPECT_TRUE(rig.prompter.log().empty()) << c.name;
    }
}

TEST(DeviceClient, AnswerFillsLogAndResetsBrowser)
{
    Rig rig;
    int refreshed = 0;
    std::string seenRoot;  // the log and browser are updated before the window is told
    rig.client.onAfterExecute = [&](const DeviceClient& c) {
        ++refreshed;
        seenRoot = c.response().rootPath() + " " + std::to_string(c.log().statusCode);
    };
    const std::string body = R"({"invoiceResponse":{"invoiceNumber":"A-B-1","taxItems":[{"amount":9.9099}]},)"
                             R"("receiptImageBase64":"iVBO"})";
    rig.transport.script.push_back(FakeTransport::answer(200, body));
    rig.client.response().resetBrowser();
    ASSERT_TRUE(rig.client.CmdLast());

    const DeviceLog& log = rig.client.log();
    EXPECT_EQ(log.statusText, "OK");
    EXPECT_EQ(log.rawText, body);
    EXPECT_EQ(log.jsonIndented, "{\n"
                                "    \"invoiceResponse\": {\n"
                                "        \"invoiceNumber\": \"A-B-1\",\n"
                                "        \"taxItems\": [\n"
                                "            {\n"
                                "                \"amount\": 9.9099\n"
                                "            }\n"
                                "        ]\n"
                                "    },\n"
                                "    \"receiptImageBase64\": \"iVBO\"\n"
                                "}");
    EXPECT_EQ(refreshed, 1);
    EXPECT_EQ(seenRoot, "invoiceResponse 200");
    EXPECT_EQ(rig.client.response().rootPath(), "invoiceResponse");
    EXPECT_EQ(rig.client.response().prevRootPath(), "");
    EXPECT_EQ(rig.client.response().columnNames(), (std::vector<std::string>{"invoiceNumber", "taxItems"}));

    // Any other command puts the browser back on the top level.
    rig.client.response().descend("taxItems");
    rig.transport.script.push_back(FakeTransport::answer(500, "<html>oops</html>", "Internal Server Error"));
    EXPECT_FALSE(rig.client.CmdStatus());
    EXPECT_EQ(log.statusText, "Internal Server Error");
    EXPECT_EQ(log.jsonIndented, "");
    EXPECT_EQ(log.rawText, "<html>oops</html>");
    EXPECT_EQ(rig.client.response().rootPath(), "");
    EXPECT_EQ(rig.client.response().prevRootPath(), "");
    EXPECT_EQ(rig.client.response().rowCount(), 0u);
    EXPECT_EQ(refreshed, 2);
    EXPECT_EQ(seenRoot, " 500");
}

TEST(DeviceClient, TransportFailureKeepsTheLastAnswer)
{
    using Run = std::function<bool(DeviceClient&)>;
    const std::pair<const char*, Run> commands[] = {
        {"attention", [](DeviceClient& c) { return c.CmdAttention(); }},
        {"status", [](DeviceClient& c) { return c.CmdStatus(); }},
        {"pin", [](DeviceClient& c) { return c.CmdSendPin(); }},
        {"last", [](DeviceClient& c) { return c.CmdLast(); }},
        {"reprint", [](DeviceClient& c) { return c.CmdReprint("id"); }},
        {"invoice", [](DeviceClient& c) { return c.CmdInvoice("id", "{\"a\":1}"); }},
    };
    for (const auto& [name, run] : commands) {
        SCOPED_TRACE(name);
        Rig rig;
        int refreshed = 0;
        rig.client.onAfterExecute = [&](const DeviceClient&) { ++refreshed; };
        rig.transport.script.push_back(FakeTransport::answer(200, R"({"invoiceNumber":"A-B-1"})"));
        rig.transport.script.push_back(FakeTransport::broken("Connection refused"));
        ASSERT_TRUE(rig.client.CmdReprint("id"));
        const DeviceLog before = rig.client.log();

        EXPECT_FALSE(run(rig.client));
        const DeviceLog& after = rig.client.log();
        EXPECT_EQ(after.url, rig.last().url);  // the address is shown before sending
        EXPECT_EQ(after.statusText, before.statusText);
        EXPECT_EQ(after.statusCode, 200);
        EXPECT_EQ(after.rawText, before.rawText);
        EXPECT_EQ(after.jsonIndented, before.jsonIndented);
        EXPECT_EQ(rig.client.response().rowCount(), 1u);
        EXPECT_EQ(refreshed, 1);
        EXPECT_EQ(rig.client.lastError(), "Connection refused");

        if (std::string(name) == "invoice") {
            ASSERT_EQ(rig.prompter.log().size(), 1u);
            EXPECT_EQ(rig.prompter.log()[0].text, "Connection refused");
            EXPECT_EQ(rig.prompter.log()[0].kind, MsgKind::Error);
            EXPECT_EQ(after.lastRequestBody, "{\n    \"a\": 1\n}");
        } else {
            EXPECT_TRUE(rig.prompter.log().empty());
        }
    }
}

TEST(DeviceClient, InvoiceRequestLogKeepsBodyAsWritten)
{
    Rig rig;
    // The repeated member and the number texts must reach the log unchanged.
    rig.client.CmdInvoice(kGuid, R"({"receiptSlipFontSizeNormal":"23","receiptSlipFontSizeNormal":"27","x":1.50})");
    EXPECT_EQ(rig.client.log().lastRequestBody, "{\n"
                                                "    \"receiptSlipFontSizeNormal\": \"23\",\n"
                                                "    \"receiptSlipFontSizeNormal\": \"27\",\n"
                                                "    \"x\": 1.50\n"
                                                "}");
    // Other commands leave the request log alone; text that is not JSON is shown as it is.
    rig.client.CmdStatus();
    EXPECT_NE(rig.client.log().lastRequestBody, "");
    rig.client.ShowRequestBody("not json");
    EXPECT_EQ(rig.client.log().lastRequestBody, "not json");
}

TEST(DeviceClient, PinAcceptedOnlyForQuotedCode)
{
    const std::pair<const char*, bool> cases[] = {
        {"\"0100\"", true}, {"0100", false},       {"\"2100\"", false}, {"\"0100\"\n", false},
        {" \"0100\"", false}, {"\"0100", false}, {"", false},
    };
    for (const auto& [raw, ok] : cases)
        EXPECT_EQ(DeviceClient::PinAccepted(raw), ok) << raw;
}

TEST(DeviceClient, ConsoleAndExecute)
{
    Rig rig;
    rig.client.ConsoleCommand("status");
    EXPECT_EQ(rig.last().method, "GET");
    EXPECT_EQ(rig.last().url, "http://127.0.0.1:7000/api/status");
    EXPECT_EQ(rig.last().headers, (Headers{{"Authorization", "Bearer abc"}}));

    rig.client.ConsoleCommand("pin");
    EXPECT_EQ(rig.last().method, "POST");
    EXPECT_EQ(rig.last().url, "http://127.0.0.1:7000/api/pin");
    EXPECT_EQ(rig.last().headers, (Headers{{"Authorization", "Bearer abc"}, {"Content-Type", "text/plain"}}));
    EXPECT_EQ(rig.last().body, "1234");

    rig.settings.test = true;
    rig.client.ConsoleCommand("attention");
    EXPECT_EQ(rig.last().url, "http://127.0.0.1:7000/abc/api/v3/attention");

    const auto before = rig.transport.sent.size();
    EXPECT_FALSE(rig.client.ConsoleCommand("").executed);
    EXPECT_EQ(rig.transport.sent.size(), before);

    // A path always takes the plain form; a complete address is used as is.
    rig.client.Execute("POST", "/api/financial/deposit", R"({"amount":"150.00"})", "application/json");
    EXPECT_EQ(rig.last().url, "http://127.0.0.1:7000/api/financial/deposit");
    EXPECT_EQ(rig.last().headers, (Headers{{"Authorization", "Bearer abc"}, {"Content-Type", "application/json"}}));
    EXPECT_EQ(rig.last().body, R"({"amount":"150.00"})");
    rig.client.Execute("DELETE", "http://127.0.0.1:1/x");
    EXPECT_EQ(rig.last().method, "DELETE");
    EXPECT_EQ(rig.last().url, "http://127.0.0.1:1/x");
    EXPECT_EQ(rig.last().headers, (Headers{{"Authorization", "Bearer abc"}}));

    rig.transport.script.push_back(FakeTransport::broken("Timeout"));
    const auto outcome = rig.client.ConsoleCommand("status");
    EXPECT_FALSE(outcome.executed);
    EXPECT_EQ(outcome.error, "Timeout");
    EXPECT_TRUE(rig.prompter.log().empty());  // the console's caller shows it
}

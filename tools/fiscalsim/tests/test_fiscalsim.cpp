// The simulated fiscal device, driven over real HTTP on 127.0.0.1.
#include "FiscalSimulator.h"

#include <gtest/gtest.h>
#include <httplib.h>
#include <rapidjson/document.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <ctime>
#include <memory>
#include <set>
#include <string>
#include <vector>

using namespace kv::sim;
using namespace std::chrono_literals;

namespace {

// 2024-03-12 06:47:38.530 UTC; with the +01:00 offset used below the device
// writes 2024-03-12T07:47:38.530+01:00.
std::chrono::system_clock::time_point at(int day, int h, int m, int s, int ms) {
    std::tm t{};
    t.tm_year = 2024 - 1900;
    t.tm_mon = 2;
    t.tm_mday = day;
    t.tm_hour = h;
    t.tm_min = m;
    t.tm_sec = s;
    return std::chrono::system_clock::from_time_t(timegm(&t)) + std::chrono::milliseconds(ms);
}

const char* const kSale = R"({"print":"false","invoiceRequest":{
  "dateAndTimeOfIssue":"2024-03-12T06:47:30Z","cashier":"Марко","invoiceType":"0","transactionType":"0",
  "invoiceNumber":"R-1","options":{"omitQRCodeGen":"0","omitTextualRepresentation":"0"},
  "payment":[{"amount":"100","paymentType":"1"}],
  "items":[
    {"name":"Кафа","quantity":"2","labels":["Е"],"unitPrice":"29.25","totalAmount":"58.5"},
    {"name":"Сок","quantity":"1","labels":["Е"],"unitPrice":"11.7","totalAmount":"11.7"},
    {"name":"Хљеб","quantity":"3","labels":["К"],"unitPrice":"1.2","totalAmount":"3.6"}]}})";

// The bare request of the test service, Latin labels.
const char* const kSaleLatinBare = R"({
  "dateAndTimeOfIssue":"2024-03-12T06:47:30Z","invoiceType":"0","transactionType":"0","invoiceNumber":"R-2",
  "payment":[{"amount":"73.8","paymentType":"2"}],
  "items":[
    {"name":"Кафа","quantity":"2","labels":["E"],"unitPrice":"29.25","totalAmount":"58.5"},
    {"name":"Сок","quantity":"1","labels":["E"],"unitPrice":"11.7","totalAmount":"11.7"},
    {"name":"Хљеб","quantity":"3","labels":["K"],"unitPrice":"1.2","totalAmount":"3.6"}]})";

rapidjson::Document parse(const std::string& body) {
    rapidjson::Document d;
    d.Parse(body.c_str(), body.size());
    return d;
}

std::string base64Decode(const std::string& in) {
    static const std::string kAlphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    int bits = 0, buffer = 0;
    for (char c : in) {
        if (c == '=') break;
        const auto pos = kAlphabet.find(c);
        if (pos == std::string::npos) return {};
        buffer = (buffer << 6) | static_cast<int>(pos);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            out += static_cast<char>((buffer >> bits) & 0xFF);
        }
    }
    return out;
}

// Width of a PNG from its IHDR chunk; 0 when the bytes are not a PNG.
int pngWidth(const std::string& png) {
    if (png.size() < 24 || png.compare(0, 8, "\x89PNG\r\n\x1a\n") != 0) return 0;
    const auto b = [&](int i) { return static_cast<unsigned char>(png[static_cast<std::size_t>(i)]); };
    return (b(16) << 24) | (b(17) << 16) | (b(18) << 8) | b(19);
}

class SimTest : public ::testing::Test {
protected:
    void SetUp() override { startWith({}); }

    void startWith(Config cfg) {
        if (sim) sim->stop();
        cfg.token = "tok";
        cfg.pin = "4321";
        cfg.utcOffsetMinutes = 60;
        auto now = clockMs;
        cfg.clock = [now] {
            return std::chrono::system_clock::time_point(std::chrono::milliseconds(now->load()));
        };
        setClock(at(12, 6, 47, 38, 530));
        sim = std::make_unique<FiscalSimulator>(cfg);
        port = sim->start(0);
        cli = std::make_unique<httplib::Client>("127.0.0.1", port);
        cli->set_connection_timeout(2s);
        cli->set_read_timeout(5s);
        cli->set_default_headers({{"Authorization", "Bearer tok"}});
    }

    void setClock(std::chrono::system_clock::time_point tp) {
        clockMs->store(std::chrono::duration_cast<std::chrono::milliseconds>(tp.time_since_epoch()).count());
    }

    httplib::Result get(const std::string& path) { return cli->Get(path.c_str()); }
    httplib::Result post(const std::string& path, const std::string& body, const std::string& requestId = {},
                         const char* type = "application/json") {
        httplib::Headers h;
        if (!requestId.empty()) h.emplace("RequestId", requestId);
        return cli->Post(path.c_str(), h, body, type);
    }
    void unlock() {
        auto r = post("/api/pin", "4321", {}, "text/plain");
        ASSERT_TRUE(r);
        ASSERT_EQ(r->body, "\"0100\"");
    }
    rapidjson::Document sign(const std::string& body = kSale, const std::string& requestId = "A1") {
        auto r = post("/api/invoices", body, requestId);
        EXPECT_TRUE(r);
        if (!r) return {};
        EXPECT_EQ(r->status, 200) << r->body;
        return parse(r->body);
    }

    std::shared_ptr<std::atomic<long long>> clockMs = std::make_shared<std::atomic<long long>>(0);
    std::unique_ptr<FiscalSimulator> sim;
    std::unique_ptr<httplib::Client> cli;
    int port = 0;
};

// Sends one raw request and reports how the connection ended: "answer",
// "eof" (closed without an answer) or "reset".
std::string rawOutcome(int port, const std::string& request) {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    timeval tv{5, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        close(fd);
        return "no connection";
    }
    (void)!send(fd, request.data(), request.size(), MSG_NOSIGNAL);
    char buf[512];
    const ssize_t n = recv(fd, buf, sizeof buf, 0);
    const int err = errno;
    close(fd);
    if (n > 0) return "answer";
    if (n == 0) return "eof";
    return err == ECONNRESET ? "reset" : std::string("error ") + std::strerror(err);
}

std::string rawPost(const std::string& path, const std::string& body, const std::string& requestId) {
    return "POST " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\nAuthorization: Bearer tok\r\nRequestId: " + requestId +
           "\r\nContent-Type: application/json\r\nContent-Length: " + std::to_string(body.size()) +
           "\r\nConnection: close\r\n\r\n" + body;
}

}  // namespace

TEST_F(SimTest, ChecksTheBearerTokenInBothAddressForms) {
    struct Case {
        const char* path;
        const char* auth;  // nullptr: no header
        int status;
    } cases[] = {
        {"/api/attention", "Bearer tok", 200},
        {"/api/attention", nullptr, 401},
        {"/api/attention", "Bearer other", 401},
        {"/api/attention", "tok", 401},
        {"/tok/api/v3/attention", "Bearer tok", 200},
        {"/other/api/v3/attention", "Bearer tok", 401},  // path token must match too
        {"/tok/api/v3/status", "Bearer tok", 200},
        {"/api/nothing-here", "Bearer tok", 404},
        {"/somewhere/else", "Bearer tok", 404},
    };
    httplib::Client bare("127.0.0.1", port);
    for (const Case& c : cases) {
        httplib::Headers h;
        if (c.auth) h.emplace("Authorization", c.auth);
        auto r = bare.Get(c.path, h);
        ASSERT_TRUE(r) << c.path;
        EXPECT_EQ(r->status, c.status) << c.path << " with " << (c.auth ? c.auth : "no header");
    }
}

TEST_F(SimTest, EmptyTokenAcceptsBearerWithNothingAfterIt) {
    Config cfg = sim->config();
    cfg.token.clear();
    sim->setConfig(cfg);
    httplib::Client bare("127.0.0.1", port);
    auto ok = bare.Get("/api/attention", {{"Authorization", "Bearer "}});
    auto testForm = bare.Get("//api/v3/attention", {{"Authorization", "Bearer "}});
    auto none = bare.Get("/api/attention");
    ASSERT_TRUE(ok && testForm && none);
    EXPECT_EQ(ok->status, 200);
    EXPECT_EQ(testForm->status, 200);
    EXPECT_EQ(none->status, 401);
}

TEST_F(SimTest, PinIsRequiredUntilSentRight) {
    auto required = [&] {
        auto r = get("/api/status");
        EXPECT_TRUE(r && r->status == 200);
        auto d = parse(r->body);
        return d.IsObject() && d.HasMember("isPinRequired") && d["isPinRequired"].IsBool() &&
               d["isPinRequired"].GetBool();
    };
    EXPECT_TRUE(required());
    auto refused = post("/api/invoices", kSale, "P1");
    ASSERT_TRUE(refused);
    EXPECT_EQ(refused->status, 400);

    auto wrong = post("/api/pin", "1111", {}, "text/plain");
    ASSERT_TRUE(wrong);
    EXPECT_EQ(wrong->status, 200);
    EXPECT_EQ(wrong->body, "\"2100\"");
    EXPECT_TRUE(required());

    auto right = post("/tok/api/v3/pin", "4321", {}, "text/plain");
    ASSERT_TRUE(right);
    EXPECT_EQ(right->body, "\"0100\"");
    EXPECT_FALSE(required());
    sign(kSale, "P1");
    EXPECT_EQ(sim->timesSigned("P1"), 1);
}

TEST_F(SimTest, ThreeWrongPinsLockTheCard) {
    std::vector<std::string> answers;
    for (const char* pin : {"1", "2", "3", "4321"}) answers.push_back(post("/api/pin", pin, {}, "text/plain")->body);
    EXPECT_EQ(answers, (std::vector<std::string>{"\"2100\"", "\"2100\"", "\"2110\"", "\"2110\""}));
    EXPECT_TRUE(sim->pinLocked());
    auto refused = post("/api/invoices", kSale, "L1");
    ASSERT_TRUE(refused);
    EXPECT_EQ(refused->status, 400);
    EXPECT_EQ(sim->signedInvoices().size(), 0u);

    sim->resetPin();
    unlock();
    sign(kSale, "L1");
}

TEST_F(SimTest, InvoiceAnswerCarriesTheDeviceMembers) {
    unlock();
    auto d = sign();
    ASSERT_TRUE(d.IsObject());
    std::set<std::string> names;
    for (auto& m : d.GetObject()) names.insert(m.name.GetString());
    EXPECT_EQ(names, (std::set<std::string>{"address", "businessName", "district", "encryptedInternalData",
                                            "invoiceCounter", "invoiceCounterExtension", "invoiceImagePngBase64",
                                            "invoiceNumber", "journal", "locationName", "messages", "mrc",
                                            "requestedBy", "sdcDateTime", "signature", "signedBy",
                                            "taxGroupRevision", "taxItems", "tin", "totalAmount", "totalCounter",
                                            "transactionTypeCounter", "verificationUrl"}));
    EXPECT_STREQ(d["messages"].GetString(), "Успешно");
    EXPECT_STREQ(d["invoiceCounter"].GetString(), "1/1ПП");
    EXPECT_STREQ(d["invoiceCounterExtension"].GetString(), "ПП");
    EXPECT_STREQ(d["invoiceNumber"].GetString(), "KVSIM7Q2-KVSIM7Q2-1");
    EXPECT_STREQ(d["requestedBy"].GetString(), "KVSIM7Q2");
    EXPECT_STREQ(d["sdcDateTime"].GetString(), "2024-03-12T07:47:38.530+01:00");
    EXPECT_TRUE(d["invoiceImagePngBase64"].IsNull());
    EXPECT_DOUBLE_EQ(d["totalAmount"].GetDouble(), 73.8);
    EXPECT_EQ(d["totalCounter"].GetInt(), 1);
    EXPECT_EQ(d["transactionTypeCounter"].GetInt(), 1);
    EXPECT_EQ(std::string(d["verificationUrl"].GetString()).rfind("https://", 0), 0u);

    // A refund is counted apart from sales.
    setClock(at(12, 7, 0, 0, 5));
    std::string refund = kSale;
    refund.replace(refund.find(R"("transactionType":"0")"), 21, R"("transactionType":"1")");
    auto r = sign(refund, "A2");
    EXPECT_STREQ(r["invoiceCounter"].GetString(), "1/2ПР");
    EXPECT_STREQ(r["sdcDateTime"].GetString(), "2024-03-12T08:00:00.005+01:00");
}

TEST_F(SimTest, TaxPerLabelFromTheItemsInEitherAlphabet) {
    unlock();
    struct Case {
        const char* body;
        const char* rid;
        const char* labelE;
        const char* labelK;
    } cases[] = {
        {kSale, "T1", "Е", "К"},           // shop device: Cyrillic labels, outer object
        {kSaleLatinBare, "T2", "E", "K"},  // test service: Latin labels, bare request
    };
    for (const Case& c : cases) {
        auto d = sign(c.body, c.rid);
        ASSERT_TRUE(d.IsObject()) << c.rid;
        const auto& tax = d["taxItems"];
        ASSERT_EQ(tax.Size(), 2u) << "each label once";
        // 70.20 under Е at 17 % contains 70.20 * 17 / 117 = 10.20 tax.
        EXPECT_STREQ(tax[0]["label"].GetString(), c.labelE);
        EXPECT_TRUE(tax[0]["amount"].IsNumber());
        EXPECT_DOUBLE_EQ(tax[0]["amount"].GetDouble(), 10.2);
        EXPECT_TRUE(tax[0]["rate"].IsNumber());
        EXPECT_EQ(tax[0]["rate"].GetDouble(), 17);
        EXPECT_TRUE(tax[0]["categoryType"].IsInt());
        EXPECT_TRUE(tax[0]["categoryName"].IsString());
        EXPECT_STREQ(tax[1]["label"].GetString(), c.labelK);
        EXPECT_EQ(tax[1]["amount"].GetDouble(), 0);
        EXPECT_EQ(tax[1]["rate"].GetDouble(), 0);
    }

    // Rounded to four decimals: 10.00 at 17 % holds 1.452991... of tax.
    sign(R"({"invoiceType":"0","transactionType":"0","items":[
        {"name":"X","quantity":"1","labels":["Е"],"unitPrice":"10","totalAmount":"10"}]})",
         "T3");
    EXPECT_NE(get("/api/invoices/request/T3")->body.find(R"("amount":1.453,)"), std::string::npos);

    auto bad = post("/api/invoices", R"({"invoiceType":"0","transactionType":"0","items":[
        {"name":"X","quantity":"1","labels":["Б"],"unitPrice":"10","totalAmount":"10"}]})",
                    "T4");
    ASSERT_TRUE(bad);
    EXPECT_EQ(bad->status, 400);
    EXPECT_EQ(sim->timesSigned("T4"), 0);
}

TEST_F(SimTest, ARequestIdIsSignedOnceAndCanBeAskedFor) {
    unlock();
    auto first = sign(kSale, "R1");
    auto again = sign(kSale, "R1");
    EXPECT_STREQ(again["invoiceNumber"].GetString(), first["invoiceNumber"].GetString());
    EXPECT_STREQ(again["sdcDateTime"].GetString(), first["sdcDateTime"].GetString());
    EXPECT_EQ(sim->timesSigned("R1"), 1);
    EXPECT_STREQ(sign(kSale, "R2")["invoiceNumber"].GetString(), "KVSIM7Q2-KVSIM7Q2-2");
    EXPECT_EQ(sim->signedInvoices().size(), 2u);

    struct Case {
        const char* path;
        int status;
    } cases[] = {
        {"/api/invoices/request/R1", 200},
        {"/tok/api/v3/invoices/R1", 200},
        {"/api/invoices/request/R3", 404},
        {"/tok/api/v3/invoices/R3", 404},
    };
    for (const Case& c : cases) {
        auto r = get(c.path);
        ASSERT_TRUE(r) << c.path;
        EXPECT_EQ(r->status, c.status) << c.path;
        if (c.status == 200) {
            EXPECT_STREQ(parse(r->body)["invoiceNumber"].GetString(), "KVSIM7Q2-KVSIM7Q2-1");
        }
    }
}

TEST_F(SimTest, LastInvoiceAndReceiptPictures) {
    auto none = get("/api/invoices/last?receiptLayout=Slip&imageFormat=Png");
    ASSERT_TRUE(none);
    EXPECT_EQ(none->status, 404);

    unlock();
    std::string withImage = kSale;
    withImage.replace(withImage.find(R"("print":"false",)"), 16,
                      R"("print":"false","renderReceiptImage":"true","receiptImageFormat":"Png",)"
                      R"("receiptSlipWidth":"576","receiptSlipFontSizeNormal":"24","receiptSlipFontSizeNormal":"30",)"
                      R"("receiptLayout":"Slip",)");
    auto signedNow = sign(withImage, "I1");
    ASSERT_TRUE(signedNow["invoiceImagePngBase64"].IsString());
    EXPECT_EQ(pngWidth(base64Decode(signedNow["invoiceImagePngBase64"].GetString())), 576);

    auto last = get("/tok/api/v3/invoices/last?receiptLayout=Slip&imageFormat=Png");
    ASSERT_TRUE(last);
    ASSERT_EQ(last->status, 200);
    auto d = parse(last->body);
    ASSERT_TRUE(d.HasMember("invoiceResponse"));
    EXPECT_STREQ(d["invoiceResponse"]["invoiceNumber"].GetString(), signedNow["invoiceNumber"].GetString());
    EXPECT_STREQ(d["invoiceResponse"]["messages"].GetString(), "Успешно");
    EXPECT_EQ(d["invoiceResponse"]["taxItems"].Size(), 2u);
    ASSERT_TRUE(d["receiptImageBase64"].IsString());
    EXPECT_EQ(pngWidth(base64Decode(d["receiptImageBase64"].GetString())), 386);
}

namespace {

std::string sp(int n) { return std::string(static_cast<std::size_t>(n), ' '); }
std::string rule(char c) { return std::string(40, c); }

std::size_t codePoints(const std::string& s) {
    std::size_t n = 0;
    for (unsigned char c : s)
        if ((c & 0xC0) != 0x80) ++n;
    return n;
}

}  // namespace

TEST_F(SimTest, JournalLayoutAtFortyColumns) {
    unlock();
    auto d = sign(R"({"invoiceRequest":{"dateAndTimeOfIssue":"2024-03-12T06:47:30Z","cashier":"Марко",
        "invoiceType":"0","transactionType":"0","invoiceNumber":"R-1",
        "payment":[{"amount":"60","paymentType":"1"}],
        "items":[{"name":"Кафа","quantity":"2","labels":["Е"],"unitPrice":"29.25","totalAmount":"58.5"}]}})");
    const std::vector<std::string> expected = {
        "============ ФИСКАЛНИ РАЧУН ============",
        sp(13) + "4400000000000",
        sp(7) + "Ковира пробна радња д.о.о.",
        sp(14) + "Продавница 1",
        sp(12) + "Краља Петра I 1",
        sp(15) + "Бања Лука",
        "Касир:" + sp(29) + "Марко",
        "ЕСИР број:" + sp(27) + "R-1",
        "ЕСИР вријеме:" + sp(7) + "12.03.2024. 06:47:30",
        "------------ ПРОМЕТ ПРОДАЈА ------------",
        "=============== Артикли ================",
        "Назив" + sp(5) + "Цијена" + sp(6) + "Кол." + sp(8) + "Укупно",
        "Кафа (Е)",
        sp(11) + "29,25" + sp(9) + "2" + sp(9) + "58,50",
        rule('-'),
        "Укупан износ:" + sp(22) + "58,50",
        "Готовина:" + sp(26) + "60,00",
        "Повраћај:" + sp(27) + "1,50",
        rule('='),
        "Ознака" + sp(2) + "Име" + sp(10) + sp(4) + "Стопа" + sp(5) + "Порез",
        "Е" + sp(7) + "ПДВ" + sp(10) + sp(3) + "17,00%" + sp(6) + "8,50",
        rule('-'),
        "Укупан износ пореза:" + sp(16) + "8,50",
        rule('='),
        "ПФР вријеме:" + sp(8) + "12.03.2024. 07:47:38",
        "ПФР бр.рач:" + sp(10) + "KVSIM7Q2-KVSIM7Q2-1",
        "Бројач рачуна:" + sp(21) + "1/1ПП",
        rule('='),
        "======== КРАЈ ФИСКАЛНОГ РАЧУНА =========",
    };
    std::string joined;
    for (const auto& line : expected) joined += line + "\r\n";
    EXPECT_EQ(d["journal"].GetString(), joined);
}

TEST_F(SimTest, JournalKeepsItsWidthAtThirtyEightColumns) {
    Config cfg;
    cfg.journalWidth = 38;
    startWith(cfg);
    unlock();
    std::string refund = kSale;
    refund.replace(refund.find(R"("transactionType":"0")"), 21, R"("transactionType":"1")");
    // A name longer than a line must wrap, not widen the receipt.
    refund.replace(refund.find("Сок"), 6, "Сок од јабуке и шаргарепе, хладно цијеђени, 1 литар");
    const std::string journal = sign(refund)["journal"].GetString();

    EXPECT_EQ(journal.substr(journal.size() - 2), "\r\n");
    std::vector<std::string> lines;
    for (std::size_t pos = 0; pos < journal.size();) {
        const std::size_t end = journal.find("\r\n", pos);
        ASSERT_NE(end, std::string::npos);
        lines.push_back(journal.substr(pos, end - pos));
        pos = end + 2;
    }
    for (const auto& line : lines) {
        EXPECT_EQ(line.find('\n'), std::string::npos);
        EXPECT_LE(codePoints(line), 38u) << line;
    }
    auto lineWith = [&](const std::string& text) -> std::string {
        for (const auto& line : lines)
            if (line.find(text) != std::string::npos) return line;
        return {};
    };
    EXPECT_EQ(codePoints(lineWith("ПРОМЕТ РЕФУНДАЦИЈА")), 38u);
    EXPECT_EQ(codePoints(lineWith("Укупан износ:")), 38u);
    EXPECT_EQ(lineWith("Укупан износ:").substr(lineWith("Укупан износ:").size() - 5), "73,80");
    EXPECT_EQ(codePoints(lineWith("58,50")), 38u);
    EXPECT_FALSE(lineWith("КРАЈ ФИСКАЛНОГ РАЧУНА").empty());
    EXPECT_TRUE(lines.size() > 30u);
}

TEST_F(SimTest, FaultsThatStillAnswer) {
    unlock();
    struct Case {
        const char* name;
        Fault fault;
        int status;
        bool signs;
        std::function<void(const std::string& body)> check;
    } cases[] = {
        {"status", Fault::httpStatus(503), 503, false, [](const std::string& b) { EXPECT_TRUE(parse(b).IsObject()); }},
        {"status with body", Fault::httpStatus(400, "{\"x\":1}"), 400, false,
         [](const std::string& b) { EXPECT_EQ(b, "{\"x\":1}"); }},
        {"non-JSON", Fault::nonJson(), 200, true, [](const std::string& b) { EXPECT_TRUE(parse(b).HasParseError()); }},
        {"no messages", Fault::noMessages(), 200, true,
         [](const std::string& b) {
             auto d = parse(b);
             EXPECT_FALSE(d.HasMember("messages"));
             EXPECT_TRUE(d.HasMember("invoiceNumber"));
         }},
        {"Latin success", Fault::latinSuccess(), 200, true,
         [](const std::string& b) { EXPECT_STREQ(parse(b)["messages"].GetString(), "Success"); }},
        {"delay", Fault::delayed(150ms), 200, true,
         [](const std::string& b) { EXPECT_STREQ(parse(b)["messages"].GetString(), "Успешно"); }},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string rid = "F" + std::to_string(++n);
        sim->injectFault("POST", "/api/invoices", c.fault);
        const auto started = std::chrono::steady_clock::now();
        auto r = post("/api/invoices", kSale, rid);
        ASSERT_TRUE(r);
        EXPECT_GE(std::chrono::steady_clock::now() - started, c.fault.delay);
        EXPECT_EQ(r->status, c.status);
        c.check(r->body);
        EXPECT_EQ(sim->timesSigned(rid), c.signs ? 1 : 0);
        EXPECT_EQ(sim->armedFaults(), 0);
    }
}

TEST_F(SimTest, FaultsThatGiveNoAnswer) {
    unlock();
    struct Case {
        Fault fault;
        const char* outcome;
        bool signs;
    } cases[] = {
        {Fault::refuse(), "reset", false},
        {Fault::drop(), "eof", false},
        {Fault::signThenDrop(), "eof", true},
    };
    int n = 0;
    for (const Case& c : cases) {
        const std::string rid = "N" + std::to_string(++n);
        SCOPED_TRACE(c.outcome);
        sim->injectFault("/api/invoices", c.fault);
        EXPECT_EQ(rawOutcome(port, rawPost("/api/invoices", kSale, rid)), c.outcome);
        EXPECT_EQ(sim->timesSigned(rid), c.signs ? 1 : 0);
        // The device is fine afterwards; a signed invoice can be fetched.
        auto r = get("/api/invoices/request/" + rid);
        ASSERT_TRUE(r);
        EXPECT_EQ(r->status, c.signs ? 200 : 404);
    }
    // The client library sees the same: no answer at all.
    sim->injectFault("/api/attention", Fault::refuse());
    EXPECT_FALSE(get("/api/attention"));
    EXPECT_EQ(get("/api/attention")->status, 200);
}

TEST_F(SimTest, FaultRulesMatchMethodPathAndCount) {
    sim->injectFault("GET", "/api/status", Fault::httpStatus(500), 2);
    sim->injectFault("/api/invoices*", Fault::httpStatus(418), 0);  // until cleared
    struct Step {
        const char* method;
        const char* path;
        int status;
    } steps[] = {
        {"POST", "/api/pin", 200},                 // other path
        {"GET", "/tok/api/v3/status", 500},        // test form counts as the plain path
        {"GET", "/api/status", 500},
        {"GET", "/api/status", 200},               // used up
        {"GET", "/api/invoices/last", 418},        // prefix
        {"GET", "/api/invoices/request/x", 418},
        {"GET", "/tok/api/v3/invoices/last", 418},
    };
    for (const Step& s : steps) {
        auto r = std::string(s.method) == "GET" ? get(s.path) : post(s.path, "4321", {}, "text/plain");
        ASSERT_TRUE(r) << s.path;
        EXPECT_EQ(r->status, s.status) << s.method << " " << s.path;
    }
    EXPECT_EQ(sim->armedFaults(), 1);
    sim->clearFaults();
    EXPECT_EQ(get("/api/invoices/last")->status, 404);

    sim->injectFault("", Fault::httpStatus(502));  // the next request, whatever it is
    EXPECT_EQ(get("/api/attention")->status, 502);
    EXPECT_EQ(get("/api/attention")->status, 200);
}

TEST_F(SimTest, CashDeskBalanceAndSummary) {
    auto status = [&](const char* path, const char* body) {
        auto r = post(path, body);
        return r ? r->status : -1;
    };
    EXPECT_EQ(status("/api/financial/deposit", R"({"amount":"150.00"})"), 204);
    EXPECT_EQ(status("/api/financial/withdraw", R"({"amount":"50.00"})"), 204);
    EXPECT_EQ(sim->balance(), 100 * 10000);
    EXPECT_EQ(status("/api/financial/withdraw", R"({"amount":"100.01"})"), 400);  // more than in the drawer
    EXPECT_EQ(status("/api/financial/deposit", R"({"amount":""})"), 400);
    EXPECT_EQ(status("/api/financial/deposit", "not json"), 400);

    unlock();
    sign();  // 100 cash for 73.80: the drawer keeps 73.80
    sign(kSaleLatinBare, "C2");  // paid by card: not cash
    EXPECT_EQ(sim->balance(), 1738000);

    auto summary = get("/api/financial/summary");
    ASSERT_TRUE(summary);
    ASSERT_EQ(summary->status, 200);
    auto d = parse(summary->body);
    for (const char* array :
         {"totalByTax", "totalByCashier", "totalByPaymentType", "totalByArticle", "totalByArticleAdvance"})
        EXPECT_TRUE(d.HasMember(array) && d[array].IsArray()) << array;
    EXPECT_DOUBLE_EQ(d["cashBalance"].GetDouble(), 173.8);
    EXPECT_DOUBLE_EQ(d["sales"].GetDouble(), 147.6);
    EXPECT_EQ(d["totalByTax"].Size(), 2u);
    EXPECT_EQ(d["totalByPaymentType"].Size(), 2u);
    EXPECT_EQ(d["totalByArticle"].Size(), 3u);

    for (const char* report : {"summary", "summaryByTax", "summaryByCashiers", "summaryByPaymentTypes",
                               "summaryByArticles", "advance-receipts"})
        EXPECT_EQ(status(("/api/financial/report/" + std::string(report)).c_str(), R"({"print":"true"})"), 200)
            << report;

    auto zeroed = cli->Delete("/api/financial/summary");
    ASSERT_TRUE(zeroed);
    EXPECT_EQ(zeroed->status, 200);
    EXPECT_EQ(sim->balance(), 0);
    auto after = parse(get("/api/financial/summary")->body);
    EXPECT_EQ(after["totalByArticle"].Size(), 0u);
    EXPECT_EQ(after["invoiceCount"].GetInt(), 0);
}

TEST_F(SimTest, SearchListsTheInvoicesOfThePeriod) {
    unlock();
    sign(kSale, "S1");
    setClock(at(14, 9, 15, 30, 123));
    sign(kSale, "S2");
    struct Case {
        const char* body;
        std::string answer;
    } cases[] = {
        {R"({"fromDate":"2024-03-13","toDate":"2024-03-14"})",
         "KVSIM7Q2-KVSIM7Q2-2,0,0,2024-03-14T10:15:30.123+01:00,73.80\r\n"},
        {R"({"fromDate":"2024-03-12","toDate":"2024-03-12"})",
         "KVSIM7Q2-KVSIM7Q2-1,0,0,2024-03-12T07:47:38.530+01:00,73.80\r\n"},
        {R"({"fromDate":"2024-03-15","toDate":"2024-03-31"})", ""},
    };
    for (const Case& c : cases) {
        auto r = post("/api/invoices/search", c.body);
        ASSERT_TRUE(r);
        EXPECT_EQ(r->status, 200);
        EXPECT_EQ(r->body, c.answer) << c.body;
    }
    auto bad = post("/api/invoices/search", R"({"fromDate":"14.03.2024"})");
    ASSERT_TRUE(bad);
    EXPECT_EQ(bad->status, 400);
}

TEST_F(SimTest, AnswersAsDevicesInTheFieldDo) {
    Config cfg;
    cfg.successMessage = "Uspješno";
    cfg.listTypeWords = true;
    cfg.listAsJsonString = true;
    cfg.pinRequired = false;
    startWith(cfg);
    EXPECT_STREQ(sign()["messages"].GetString(), "Uspješno");
    auto refund = std::string(kSale);
    refund.replace(refund.find(R"("transactionType":"0")"), 21, R"("transactionType":"1")");
    sign(refund, "R1");
    auto r = post("/api/invoices/search", R"({"fromDate":"2024-03-12","toDate":"2024-03-12"})");
    ASSERT_TRUE(r);
    auto list = parse(r->body);
    ASSERT_TRUE(list.IsString()) << r->body;
    EXPECT_EQ(std::string(list.GetString()),
              "KVSIM7Q2-KVSIM7Q2-1,Normal,Sale,2024-03-12T07:47:38.530+01:00,73.80\r\n"
              "KVSIM7Q2-KVSIM7Q2-2,Normal,Refund,2024-03-12T07:47:38.530+01:00,73.80\r\n");
    auto report = post("/api/financial/report/summary", R"({"print":"true"})");
    ASSERT_TRUE(report);
    EXPECT_STREQ(parse(report->body)["messages"].GetString(), "Uspješno");
}

TEST(FiscalSimHost, ListensOnLoopbackAddressesOnly) {
    FiscalSimulator sim;
    EXPECT_THROW(sim.start(0, "192.168.1.20"), std::invalid_argument);
    EXPECT_THROW(sim.start(0, "localhost"), std::invalid_argument);
    EXPECT_FALSE(sim.running());
    const int port = sim.start(0, "127.0.0.37");
    httplib::Client cli("127.0.0.37", port);
    auto r = cli.Get("/api/attention", {{"Authorization", "Bearer "}});
    ASSERT_TRUE(r);
    EXPECT_EQ(r->status, 200);
    // Not on 127.0.0.1.
    httplib::Client other("127.0.0.1", port);
    other.set_connection_timeout(1s);
    EXPECT_FALSE(other.Get("/api/attention"));
}

#ifdef KOVIRA_FISCALSIM_EXE
TEST(FiscalSimProgram, PrintsItsPortAndServesUntilTerminated) {
    int out[2];
    ASSERT_EQ(pipe(out), 0);
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        dup2(out[1], STDOUT_FILENO);
        close(out[0]);
        close(out[1]);
        execl(KOVIRA_FISCALSIM_EXE, KOVIRA_FISCALSIM_EXE, "--port", "0", "--token", "t2", "--no-pin", "--quiet",
              static_cast<char*>(nullptr));
        _exit(127);
    }
    close(out[1]);
    std::string line;
    timeval tv{20, 0};
    fd_set set;
    char c;
    while (line.find('\n') == std::string::npos) {
        FD_ZERO(&set);
        FD_SET(out[0], &set);
        if (select(out[0] + 1, &set, nullptr, nullptr, &tv) <= 0 || read(out[0], &c, 1) != 1) break;
        line += c;
    }
    close(out[0]);
    const std::string prefix = "listening on 127.0.0.1:";
    ASSERT_EQ(line.rfind(prefix, 0), 0u) << line;
    const int port = std::stoi(line.substr(prefix.size()));

    httplib::Client cli("127.0.0.1", port);
    auto r = cli.Get("/t2/api/v3/status", {{"Authorization", "Bearer t2"}});
    ASSERT_TRUE(r);
    EXPECT_EQ(r->status, 200);
    EXPECT_FALSE(parse(r->body)["isPinRequired"].GetBool());

    kill(pid, SIGTERM);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}
#endif

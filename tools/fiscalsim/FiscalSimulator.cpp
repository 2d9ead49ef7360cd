#include "FiscalSimulator.h"

#include "ReceiptImage.h"

#include <httplib.h>
#include <rapidjson/document.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <condition_variable>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <map>
#include <mutex>
#include <random>
#include <stdexcept>
#include <strings.h>
#include <thread>

namespace kv::sim {

namespace {

using Writer = rapidjson::Writer<rapidjson::StringBuffer>;
using Clock = std::chrono::system_clock;

constexpr const char* kJson = "application/json; charset=utf-8";
constexpr const char* kText = "text/plain; charset=utf-8";
constexpr const char* kSuccessCyrillic = "Успешно";
constexpr std::size_t kMaxBody = 8u << 20;
constexpr std::size_t kMaxLog = 10000;

// ---- small helpers ---------------------------------------------------------

std::string rtrim(std::string s) {
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r' || s.back() == '\n')) s.pop_back();
    return s;
}

std::string trim(std::string s) {
    s = rtrim(std::move(s));
    std::size_t i = 0;
    while (i < s.size() && (s[i] == ' ' || s[i] == '\t' || s[i] == '\r' || s[i] == '\n')) ++i;
    return s.substr(i);
}

std::string base64(const std::string& bytes, bool urlSafe = false) {
    static const char* kStd = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    static const char* kUrl = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";
    const char* t = urlSafe ? kUrl : kStd;
    std::string out;
    std::size_t i = 0;
    for (; i + 2 < bytes.size(); i += 3) {
        const unsigned v = (static_cast<unsigned char>(bytes[i]) << 16) |
                           (static_cast<unsigned char>(bytes[i + 1]) << 8) | static_cast<unsigned char>(bytes[i + 2]);
        out += t[(v >> 18) & 63];
        out += t[(v >> 12) & 63];
        out += t[(v >> 6) & 63];
        out += t[v & 63];
    }
    if (i < bytes.size()) {
        unsigned v = static_cast<unsigned char>(bytes[i]) << 16;
        if (i + 1 < bytes.size()) v |= static_cast<unsigned char>(bytes[i + 1]) << 8;
        out += t[(v >> 18) & 63];
        out += t[(v >> 12) & 63];
        if (i + 1 < bytes.size()) out += t[(v >> 6) & 63];
        if (!urlSafe) out.append(i + 1 < bytes.size() ? "=" : "==");
    }
    return out;
}

int localOffsetMinutes(Clock::time_point tp) {
    const std::time_t t = Clock::to_time_t(tp);
    std::tm local{};
    localtime_r(&t, &local);
    return static_cast<int>(local.tm_gmtoff / 60);
}

// 2024-03-12T07:47:38.530+01:00 (milliseconds omitted when withMillis is false)
std::string isoTime(Clock::time_point tp, int offsetMinutes, bool withMillis = true) {
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(tp.time_since_epoch()).count();
    std::time_t secs = static_cast<std::time_t>(ms / 1000) + offsetMinutes * 60;
    const int millis = static_cast<int>(ms % 1000);
    std::tm t{};
    gmtime_r(&secs, &t);
    const int off = offsetMinutes < 0 ? -offsetMinutes : offsetMinutes;
    char buf[64];
    if (withMillis)
        std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02d.%03d%c%02d:%02d", t.tm_year + 1900, t.tm_mon + 1,
                      t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec, millis, offsetMinutes < 0 ? '-' : '+', off / 60,
                      off % 60);
    else
        std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02d%c%02d:%02d", t.tm_year + 1900, t.tm_mon + 1,
                      t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec, offsetMinutes < 0 ? '-' : '+', off / 60, off % 60);
    return buf;
}

bool isIsoDate(const std::string& s) {
    if (s.size() != 10 || s[4] != '-' || s[7] != '-') return false;
    for (std::size_t i : {0u, 1u, 2u, 3u, 5u, 6u, 8u, 9u})
        if (s[i] < '0' || s[i] > '9') return false;
    return true;
}

void str(Writer& w, const std::string& s) { w.String(s.c_str(), static_cast<rapidjson::SizeType>(s.size())); }
void key(Writer& w, const char* k) { w.Key(k); }
void number(Writer& w, Raw v) {
    const std::string s = formatDecimal(v, 0, 4, '.');
    w.RawValue(s.c_str(), s.size(), rapidjson::kNumberType);
}
void rateNumber(Writer& w, double rate) { number(w, static_cast<Raw>(std::llround(rate * 10000))); }

std::string messageBody(const std::string& message, const char* code = nullptr) {
    rapidjson::StringBuffer sb;
    Writer w(sb);
    w.StartObject();
    key(w, "message");
    str(w, message);
    if (code) {
        key(w, "code");
        str(w, code);
    }
    w.EndObject();
    return sb.GetString();
}

// ---- connections ----------------------------------------------------------

int socketPort(const sockaddr_storage& a) {
    if (a.ss_family == AF_INET) return ntohs(reinterpret_cast<const sockaddr_in&>(a).sin_port);
    if (a.ss_family == AF_INET6) return ntohs(reinterpret_cast<const sockaddr_in6&>(a).sin6_port);
    return -1;
}

// The HTTP library does not hand its sockets to request handlers, yet a
// device that breaks off a connection is exactly what the faults must show.
// The server side of a connection is the socket of this process whose local
// port is the device's and whose peer is the client's port; it is found among
// the open descriptors. With peerPort < 0 every accepted connection matches.
std::vector<int> serverSockets(int localPort, int peerPort) {
    std::vector<int> out;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd", ec)) {
        int fd = -1;
        try {
            fd = std::stoi(entry.path().filename().string());
        } catch (...) {
            continue;
        }
        sockaddr_storage local{}, peer{};
        socklen_t len = sizeof local;
        if (getsockname(fd, reinterpret_cast<sockaddr*>(&local), &len) != 0 || socketPort(local) != localPort) continue;
        len = sizeof peer;
        if (getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &len) != 0) continue;
        if (peerPort < 0 || socketPort(peer) == peerPort) out.push_back(fd);
    }
    return out;
}

// Ends the client's connection without an answer. The descriptor itself stays
// owned by the HTTP library: it is swapped for a fresh unconnected socket, so
// the library's late write fails and its close() closes that one.
void breakConnection(int fd, bool reset) {
    if (reset) {
        linger lg{1, 0};  // close with RST instead of FIN
        setsockopt(fd, SOL_SOCKET, SO_LINGER, &lg, sizeof lg);
    } else {
        shutdown(fd, SHUT_RDWR);
    }
    const int dead = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (dead >= 0) {
        dup2(dead, fd);
        close(dead);
    } else {
        shutdown(fd, SHUT_RDWR);
    }
}

// ---- addresses -------------------------------------------------------------

struct Route {
    bool known = false;     // one of the two address forms
    bool tokenOk = true;    // path token of the test form matches
    std::string rel;        // path after "/api/" (or "/api/v3/")
    std::string plain;      // "/api/" + rel
};

Route resolve(const std::string& path, const std::string& token) {
    Route r;
    auto underApi = [&](std::string_view rest) {
        // rest follows "/api"; "" or "/..." only
        if (rest.empty()) return true;
        if (rest[0] != '/') return false;
        r.rel = std::string(rest.substr(1));
        return true;
    };
    std::string_view p(path);
    if (p.rfind("/api", 0) == 0 && underApi(p.substr(4))) {
        if (r.rel.rfind("v3/", 0) == 0) r.rel.erase(0, 3);
        else if (r.rel == "v3") r.rel.clear();
        r.known = true;
    } else {
        const std::size_t slash = p.find('/', 1);
        if (!p.empty() && p[0] == '/' && slash != std::string_view::npos) {
            const std::string_view segment = p.substr(1, slash - 1);
            const std::string_view rest = p.substr(slash);
            if (rest.rfind("/api/v3", 0) == 0 && underApi(rest.substr(7))) {
                r.known = true;
                r.tokenOk = segment == token;
            }
        }
    }
    r.plain = r.known ? "/api/" + r.rel : path;
    return r;
}

bool pathMatches(const std::string& pattern, const std::string& path) {
    if (pattern.empty()) return true;
    if (pattern.back() == '*') return path.rfind(pattern.substr(0, pattern.size() - 1), 0) == 0;
    return pattern == path;
}

struct Reply {
    int status = 200;
    std::string body;
    std::string contentType = kJson;
};

// How an answer carrying "messages" is written.
struct AnswerStyle {
    bool omitMessages = false;
    std::string messages = kSuccessCyrillic;
};

const std::map<std::string, bool>& reportNames() {
    static const std::map<std::string, bool> names = {
        {"summary", true},           {"summaryByTax", true},      {"summaryByCashiers", true},
        {"summaryByPaymentTypes", true}, {"summaryByArticles", true}, {"advance-receipts", true},
    };
    return names;
}

}  // namespace

// ---- the device ------------------------------------------------------------

struct FiscalSimulator::Impl {
    std::atomic<std::int64_t> answerNs{0};  // time spent answering, summed

    mutable std::mutex mu;  // everything below; held while a request is served
    Config cfg;

    // Security card.
    bool pinVerified = false;
    int wrongTries = 0;
    bool locked = false;

    // Signed invoices.
    std::vector<SimInvoice> invoices;
    std::map<std::string, std::size_t> byRequestId;
    std::map<std::string, int> signings;
    int totalCounter = 0;
    std::map<std::pair<int, int>, int> typeCounters;

    // Cash desk, since the last zeroing.
    int cutEpoch = 0;
    Clock::time_point cutTime;
    Raw deposits = 0;
    Raw withdrawals = 0;

    struct Rule {
        std::string method, path;
        Fault fault;
        int left;  // <= 0: until cleared
        bool forever;
    };
    std::vector<Rule> rules;
    std::vector<RecordedRequest> log;
    std::mt19937_64 rng{std::random_device{}()};

    // Server.
    std::unique_ptr<httplib::Server> server;
    std::thread thread;
    int port = 0;
    std::mutex waitMu;
    std::condition_variable waitCv;
    bool stopping = false;

    Clock::time_point now() const { return cfg.clock ? cfg.clock() : Clock::now(); }
    int offsetAt(Clock::time_point tp) const {
        return cfg.utcOffsetMinutes ? *cfg.utcOffsetMinutes : localOffsetMinutes(tp);
    }
    std::string nowIso() const {
        const auto tp = now();
        return isoTime(tp, offsetAt(tp));
    }

    std::string randomBytes(std::size_t n) {
        std::string s(n, '\0');
        for (auto& c : s) c = static_cast<char>(rng() & 0xFF);
        return s;
    }

    bool takeFault(const std::string& method, const std::string& path, Fault& out) {
        for (auto it = rules.begin(); it != rules.end(); ++it) {
            if (!it->method.empty() && strcasecmp(it->method.c_str(), method.c_str()) != 0) continue;
            if (!pathMatches(it->path, path)) continue;
            out = it->fault;
            if (!it->forever && --it->left <= 0) rules.erase(it);
            return true;
        }
        return false;
    }

    bool waitFor(std::chrono::milliseconds d) {
        std::unique_lock lock(waitMu);
        return !waitCv.wait_for(lock, d, [&] { return stopping; });
    }

    void note(const std::string& line) {
        std::function<void(const std::string&)> sink;
        {
            std::lock_guard lock(mu);
            sink = cfg.log;
        }
        if (sink) sink(line);
    }

    // ---- answers -----------------------------------------------------------

    void writeInvoice(Writer& w, const SimInvoice& inv, const std::string* image, const AnswerStyle& style) const {
        const ShopIdentity& shop = cfg.shop;
        w.StartObject();
        key(w, "address");
        str(w, shop.address);
        key(w, "businessName");
        str(w, shop.businessName);
        key(w, "district");
        str(w, shop.district);
        key(w, "encryptedInternalData");
        str(w, inv.encryptedInternalData);
        key(w, "invoiceCounter");
        str(w, inv.invoiceCounter);
        key(w, "invoiceCounterExtension");
        str(w, inv.counterExtension);
        key(w, "invoiceImagePngBase64");
        if (image && !image->empty()) str(w, *image);
        else w.Null();
        key(w, "invoiceNumber");
        str(w, inv.invoiceNumber);
        key(w, "journal");
        if (inv.omitJournal) w.Null();
        else str(w, inv.journal);
        key(w, "locationName");
        str(w, shop.locationName);
        if (!style.omitMessages) {
            key(w, "messages");
            str(w, style.messages);
        }
        key(w, "mrc");
        str(w, inv.mrc);
        key(w, "requestedBy");
        str(w, inv.requestedBy);
        key(w, "sdcDateTime");
        str(w, inv.sdcDateTime);
        key(w, "signature");
        str(w, inv.signature);
        key(w, "signedBy");
        str(w, inv.signedBy);
        key(w, "taxGroupRevision");
        w.Int(1);
        key(w, "taxItems");
        w.StartArray();
        for (const TaxLine& t : inv.taxes) {
            w.StartObject();
            key(w, "categoryType");
            w.Int(t.categoryType);
            key(w, "label");
            str(w, t.label);
            key(w, "amount");
            number(w, t.amount);
            key(w, "rate");
            rateNumber(w, t.rate);
            key(w, "categoryName");
            str(w, t.categoryName);
            w.EndObject();
        }
        w.EndArray();
        key(w, "tin");
        str(w, shop.tin);
        key(w, "totalAmount");
        number(w, inv.totalAmount);
        key(w, "totalCounter");
        w.Int(inv.totalCounter);
        key(w, "transactionTypeCounter");
        w.Int(inv.transactionTypeCounter);
        key(w, "verificationUrl");
        str(w, inv.verificationUrl);
        w.EndObject();
    }

    Reply invoiceReply(const SimInvoice& inv, const ImageRequest& image, const AnswerStyle& style) const {
        std::string png;
        if (image.wanted && cfg.renderImages) png = renderJournalPng(inv.journal, image.width, cfg.journalWidth);
        rapidjson::StringBuffer sb;
        Writer w(sb);
        writeInvoice(w, inv, &png, style);
        return {200, sb.GetString()};
    }

    void sign(SimInvoice& inv) {
        const Clock::time_point tp = now();
        inv.cutEpoch = cutEpoch;
        inv.totalCounter = ++totalCounter;
        inv.transactionTypeCounter = ++typeCounters[{inv.invoiceType, inv.transactionType}];
        inv.counterExtension = counterExtension(inv.invoiceType, inv.transactionType);
        inv.invoiceCounter =
            std::to_string(inv.transactionTypeCounter) + "/" + std::to_string(inv.totalCounter) + inv.counterExtension;
        inv.requestedBy = cfg.signerId;
        inv.signedBy = cfg.signerId;
        inv.invoiceNumber = inv.requestedBy + "-" + inv.signedBy + "-" + std::to_string(inv.totalCounter);
        inv.sdcTime = tp;
        inv.utcOffsetMinutes = offsetAt(tp);
        inv.sdcDateTime = isoTime(tp, inv.utcOffsetMinutes);
        inv.mrc = "00-1001-" + cfg.signerId;
        inv.signature = base64(randomBytes(64));
        inv.encryptedInternalData = base64(randomBytes(48));
        inv.verificationUrl = cfg.verificationUrlBase +
                              base64(inv.invoiceNumber + "|" + formatDecimal(inv.totalAmount, 2, 2, '.') + "|" +
                                         inv.sdcDateTime + "|" + base64(randomBytes(12)),
                                     true);
        inv.journal = layoutJournal(inv, cfg.shop, cfg.journalWidth);
        if (!inv.requestId.empty()) {
            ++signings[inv.requestId];
            byRequestId[inv.requestId] = invoices.size();
        }
        invoices.push_back(inv);
    }

    Reply postInvoice(const httplib::Request& req, const AnswerStyle& style) {
        if (cfg.pinRequired && !pinVerified) {
            if (locked) return {400, messageBody("Безбједносни елемент је закључан", "2110")};
            return {400, messageBody("Потребно је унијети PIN", "1500")};
        }
        const std::string requestId = req.get_header_value("RequestId");
        ParsedRequest parsed = parseInvoiceRequest(req.body, cfg.taxRates);
        if (!requestId.empty()) {
            // The same request again (typically after a lost answer) gets the
            // invoice already signed for it, never a second one.
            auto found = byRequestId.find(requestId);
            if (found != byRequestId.end()) return invoiceReply(invoices[found->second], parsed.image, style);
        }
        if (!parsed.error.empty()) return {400, messageBody(parsed.error)};
        parsed.invoice.requestId = requestId;
        sign(parsed.invoice);
        return invoiceReply(invoices.back(), parsed.image, style);
    }

    Reply lastInvoice(const httplib::Request& req, const AnswerStyle& style) const {
        if (invoices.empty()) return {404, messageBody("Нема издатих рачуна")};
        const SimInvoice& inv = invoices.back();
        std::string png;
        if (cfg.renderImages && strcasecmp(req.get_param_value("imageFormat").c_str(), "png") == 0)
            png = renderJournalPng(inv.journal, 386, cfg.journalWidth);
        rapidjson::StringBuffer sb;
        Writer w(sb);
        w.StartObject();
        key(w, "invoiceResponse");
        writeInvoice(w, inv, nullptr, style);
        key(w, "receiptImageBase64");
        if (png.empty()) w.Null();
        else str(w, png);
        w.EndObject();
        return {200, sb.GetString()};
    }

    Reply invoiceById(const std::string& id, const httplib::Request& req, const AnswerStyle& style) const {
        auto found = byRequestId.find(id);
        if (id.empty() || found == byRequestId.end()) return {404, messageBody("Рачун није пронађен")};
        ImageRequest image;
        image.wanted = strcasecmp(req.get_param_value("imageFormat").c_str(), "png") == 0;
        return invoiceReply(invoices[found->second], image, style);
    }

    Reply pin(const httplib::Request& req) {
        std::string sent = trim(req.body);
        if (sent.size() >= 2 && sent.front() == '"' && sent.back() == '"') sent = sent.substr(1, sent.size() - 2);
        std::string code;
        if (locked) {
            code = "2110";
        } else if (sent == cfg.pin) {
            pinVerified = true;
            wrongTries = 0;
            code = "0100";
        } else if (++wrongTries >= cfg.maxPinTries) {
            locked = true;
            pinVerified = false;
            code = "2110";
        } else {
            code = "2100";
        }
        return {200, "\"" + code + "\""};
    }

    Reply status() const {
        rapidjson::StringBuffer sb;
        Writer w(sb);
        w.StartObject();
        key(w, "isPinRequired");
        w.Bool(cfg.pinRequired && !pinVerified);
        key(w, "uid");
        str(w, cfg.signerId);
        key(w, "deviceSerialNumber");
        str(w, "KV-SIM-" + cfg.signerId);
        key(w, "softwareVersion");
        str(w, "kovira-fiscalsim 1.0");
        key(w, "sdcDateTime");
        str(w, nowIso());
        key(w, "lastInvoiceNumber");
        str(w, invoices.empty() ? std::string() : invoices.back().invoiceNumber);
        key(w, "supportedLanguages");
        w.StartArray();
        str(w, "sr-Cyrl-BA");
        str(w, "en-US");
        w.EndArray();
        key(w, "taxRates");
        w.StartArray();
        for (const TaxRate& t : cfg.taxRates) {
            w.StartObject();
            key(w, "label");
            str(w, t.label);
            key(w, "rate");
            rateNumber(w, t.rate);
            key(w, "categoryName");
            str(w, t.categoryName);
            key(w, "categoryType");
            w.Int(t.categoryType);
            w.EndObject();
        }
        w.EndArray();
        w.EndObject();
        return {200, sb.GetString()};
    }

    Reply deviceInfo() const {
        rapidjson::StringBuffer sb;
        Writer w(sb);
        w.StartObject();
        key(w, "device");
        str(w, "Kovira simulated fiscal device");
        key(w, "uid");
        str(w, cfg.signerId);
        key(w, "sdcDateTime");
        str(w, nowIso());
        w.EndObject();
        return {200, sb.GetString()};
    }

    Reply environment() const {
        rapidjson::StringBuffer sb;
        Writer w(sb);
        w.StartObject();
        key(w, "environmentName");
        str(w, "Kovira simulator");
        key(w, "country");
        str(w, "BA");
        key(w, "city");
        str(w, cfg.shop.district);
        key(w, "supportedLanguages");
        w.StartArray();
        str(w, "sr-Cyrl-BA");
        str(w, "en-US");
        w.EndArray();
        w.EndObject();
        return {200, sb.GetString()};
    }

    Reply certificate() const {
        rapidjson::StringBuffer sb;
        Writer w(sb);
        w.StartObject();
        key(w, "uid");
        str(w, cfg.signerId);
        key(w, "subject");
        str(w, "CN=" + cfg.signerId + ", O=" + cfg.shop.businessName);
        key(w, "tin");
        str(w, cfg.shop.tin);
        w.EndObject();
        return {200, sb.GetString()};
    }

    // ---- cash desk -----------------------------------------------------------

    static bool countsAsTurnover(const SimInvoice& inv) { return inv.invoiceType == 0 || inv.invoiceType == 4; }

    // Cash the invoice put into (or, for a refund, took out of) the drawer:
    // cash paid less the change given back.
    static Raw cashEffect(const SimInvoice& inv) {
        Raw cash = 0, paid = 0;
        for (const SimPayment& p : inv.payments) {
            paid += p.amount;
            if (p.paymentType == 1) cash += p.amount;
        }
        const Raw change = paid > inv.totalAmount ? paid - inv.totalAmount : 0;
        const Raw net = cash - change;
        return inv.transactionType == 1 ? -net : net;
    }

    Raw cashBalance() const {
        Raw b = deposits - withdrawals;
        for (const SimInvoice& inv : invoices)
            if (inv.cutEpoch == cutEpoch && countsAsTurnover(inv)) b += cashEffect(inv);
        return b;
    }

    std::optional<Raw> amountFrom(const std::string& body) const {
        rapidjson::Document doc;
        doc.Parse<rapidjson::kParseNumbersAsStringsFlag>(body.c_str(), body.size());
        if (doc.HasParseError() || !doc.IsObject()) return std::nullopt;
        auto it = doc.FindMember("amount");
        if (it == doc.MemberEnd() || !it->value.IsString()) return std::nullopt;
        auto v = parseDecimal(it->value.GetString());
        if (!v || *v <= 0) return std::nullopt;
        return v;
    }

    Reply cashMovement(const httplib::Request& req, bool deposit) {
        auto amount = amountFrom(req.body);
        if (!amount) return {400, messageBody("Неисправан износ")};
        if (deposit) {
            deposits += *amount;
        } else {
            if (*amount > cashBalance()) return {400, messageBody("Нема довољно готовине у благајни")};
            withdrawals += *amount;
        }
        return {204, "", ""};
    }

    Reply summary(const httplib::Request& req) const {
        const std::string from = req.get_param_value("fromDate"), to = req.get_param_value("toDate");
        std::vector<const SimInvoice*> period;
        for (const SimInvoice& inv : invoices) {
            if (inv.cutEpoch != cutEpoch || !countsAsTurnover(inv)) continue;
            const std::string date = inv.sdcDateTime.substr(0, 10);
            if ((!from.empty() && date < from.substr(0, 10)) || (!to.empty() && date > to.substr(0, 10))) continue;
            period.push_back(&inv);
        }
        Raw sales = 0, refunds = 0;
        struct TaxSum { std::string label, name; double rate; Raw amount = 0, tax = 0; };
        struct ArticleSum { std::string gtin, name, label; Raw quantity = 0, amount = 0; };
        std::vector<TaxSum> byTax;
        std::vector<std::pair<std::string, std::pair<int, Raw>>> byCashier;
        std::map<int, Raw> byPayment;
        std::vector<ArticleSum> byArticle, byAdvance;
        for (const SimInvoice* inv : period) {
            const Raw sign = inv->transactionType == 1 ? -1 : 1;
            (sign > 0 ? sales : refunds) += inv->totalAmount;
            for (const TaxLine& t : inv->taxes) {
                auto it = std::find_if(byTax.begin(), byTax.end(),
                                       [&](const TaxSum& s) { return canonicalLabel(s.label) == canonicalLabel(t.label); });
                if (it == byTax.end()) it = byTax.insert(byTax.end(), TaxSum{t.label, t.categoryName, t.rate});
                it->amount += sign * t.base;
                it->tax += sign * t.amount;
            }
            auto c = std::find_if(byCashier.begin(), byCashier.end(), [&](auto& e) { return e.first == inv->cashier; });
            if (c == byCashier.end()) c = byCashier.insert(byCashier.end(), {inv->cashier, {0, 0}});
            c->second.first += 1;
            c->second.second += sign * inv->totalAmount;
            for (const SimPayment& p : inv->payments) byPayment[p.paymentType] += sign * p.amount;
            auto& articles = inv->invoiceType == 4 ? byAdvance : byArticle;
            for (const SimItem& item : inv->items) {
                auto a = std::find_if(articles.begin(), articles.end(), [&](const ArticleSum& s) {
                    return s.name == item.name && s.gtin == item.gtin &&
                           canonicalLabel(s.label) == canonicalLabel(item.label);
                });
                if (a == articles.end()) a = articles.insert(articles.end(), ArticleSum{item.gtin, item.name, item.label});
                a->quantity += sign * item.quantity;
                a->amount += sign * item.totalAmount;
            }
        }

        rapidjson::StringBuffer sb;
        Writer w(sb);
        w.StartObject();
        key(w, "fromDate");
        str(w, isoTime(cutTime, offsetAt(cutTime)));
        key(w, "toDate");
        str(w, nowIso());
        key(w, "invoiceCount");
        w.Int(static_cast<int>(period.size()));
        key(w, "sales");
        number(w, sales);
        key(w, "refunds");
        number(w, refunds);
        key(w, "turnover");
        number(w, sales - refunds);
        key(w, "deposits");
        number(w, deposits);
        key(w, "withdrawals");
        number(w, withdrawals);
        key(w, "cashBalance");
        number(w, cashBalance());
        key(w, "totalByTax");
        w.StartArray();
        for (const TaxSum& t : byTax) {
            w.StartObject();
            key(w, "label");
            str(w, t.label);
            key(w, "categoryName");
            str(w, t.name);
            key(w, "rate");
            rateNumber(w, t.rate);
            key(w, "amount");
            number(w, t.amount);
            key(w, "taxAmount");
            number(w, t.tax);
            w.EndObject();
        }
        w.EndArray();
        key(w, "totalByCashier");
        w.StartArray();
        for (const auto& [cashier, stats] : byCashier) {
            w.StartObject();
            key(w, "cashier");
            str(w, cashier);
            key(w, "invoiceCount");
            w.Int(stats.first);
            key(w, "amount");
            number(w, stats.second);
            w.EndObject();
        }
        w.EndArray();
        key(w, "totalByPaymentType");
        w.StartArray();
        for (const auto& [type, amount] : byPayment) {
            w.StartObject();
            key(w, "paymentType");
            w.Int(type);
            key(w, "name");
            str(w, paymentTypeName(type));
            key(w, "amount");
            number(w, amount);
            w.EndObject();
        }
        w.EndArray();
        for (const char* name : {"totalByArticle", "totalByArticleAdvance"}) {
            key(w, name);
            w.StartArray();
            for (const ArticleSum& a : std::string_view(name) == "totalByArticle" ? byArticle : byAdvance) {
                w.StartObject();
                key(w, "gtin");
                str(w, a.gtin);
                key(w, "name");
                str(w, a.name);
                key(w, "label");
                str(w, a.label);
                key(w, "quantity");
                number(w, a.quantity);
                key(w, "amount");
                number(w, a.amount);
                w.EndObject();
            }
            w.EndArray();
        }
        w.EndObject();
        return {200, sb.GetString()};
    }

    Reply zeroSummary() {
        ++cutEpoch;
        cutTime = now();
        deposits = withdrawals = 0;
        return {200, messageBody("Промет је нулиран")};
    }

    Reply report(const std::string& name, const httplib::Request& req) const {
        rapidjson::Document doc;
        const std::string body = trim(req.body);
        if (!body.empty()) {
            doc.Parse(body.c_str(), body.size());
            if (doc.HasParseError() || !doc.IsObject()) return {400, messageBody("Захтјев није исправан JSON објекат")};
        }
        bool print = false;
        if (doc.IsObject()) {
            auto it = doc.FindMember("print");
            print = it != doc.MemberEnd() && ((it->value.IsString() && strcasecmp(it->value.GetString(), "true") == 0) ||
                                              (it->value.IsBool() && it->value.GetBool()));
        }
        rapidjson::StringBuffer sb;
        Writer w(sb);
        w.StartObject();
        key(w, "report");
        str(w, name);
        key(w, "printed");
        w.Bool(print);
        key(w, "messages");
        str(w, cfg.successMessage);
        w.EndObject();
        return {200, sb.GetString()};
    }

    Reply search(const httplib::Request& req) const {
        rapidjson::Document doc;
        doc.Parse(req.body.c_str(), req.body.size());
        if (doc.HasParseError() || !doc.IsObject()) return {400, messageBody("Захтјев није исправан JSON објекат")};
        auto date = [&](const char* name, std::string& out) {
            auto it = doc.FindMember(name);
            if (it == doc.MemberEnd()) return true;
            if (!it->value.IsString()) return false;
            out = std::string(it->value.GetString()).substr(0, 10);
            return out.empty() || isIsoDate(out);
        };
        std::string from, to;
        if (!date("fromDate", from) || !date("toDate", to)) return {400, messageBody("Неисправан датум")};
        std::string out;
        for (const SimInvoice& inv : invoices) {
            const std::string day = inv.sdcDateTime.substr(0, 10);
            if ((!from.empty() && day < from) || (!to.empty() && day > to)) continue;
            static const char* const kInvoiceWords[] = {"Normal", "Proforma", "Copy", "Training", "Advance"};
            const bool words = cfg.listTypeWords && inv.invoiceType >= 0 && inv.invoiceType <= 4;
            out += inv.invoiceNumber + "," +
                   (words ? std::string(kInvoiceWords[inv.invoiceType]) : std::to_string(inv.invoiceType)) + "," +
                   (words ? std::string(inv.transactionType == 1 ? "Refund" : "Sale")
                          : std::to_string(inv.transactionType)) +
                   "," + inv.sdcDateTime + "," + formatDecimal(inv.totalAmount, 2, 2, '.') + "\r\n";
        }
        if (cfg.listAsJsonString) {
            rapidjson::StringBuffer sb;
            Writer w(sb);
            str(w, out);
            return {200, sb.GetString()};
        }
        return {200, out, kText};
    }

    // ---- routing -------------------------------------------------------------

    Reply dispatch(const httplib::Request& req, const Route& route, const AnswerStyle& style) {
        const std::string& m = req.method;
        const std::string& rel = route.rel;
        const bool get = m == "GET", post = m == "POST", del = m == "DELETE";
        auto only = [&](bool ok, auto&& fn) -> Reply {
            if (!ok) return {405, messageBody("Метод није дозвољен")};
            return fn();
        };
        if (rel.empty()) return only(get, [&] { return deviceInfo(); });
        if (rel == "attention") return only(get, [&] { return Reply{200, "", kText}; });
        if (rel == "status") return only(get, [&] { return status(); });
        if (rel == "pin") return only(post, [&] { return pin(req); });
        if (rel == "environment-parameters") return only(get, [&] { return environment(); });
        if (rel == "certificate") return only(get, [&] { return certificate(); });
        if (rel == "invoices") return only(post, [&] { return postInvoice(req, style); });
        if (rel == "invoices/last") return only(get, [&] { return lastInvoice(req, style); });
        if (rel == "invoices/search") return only(post, [&] { return search(req); });
        if (rel.rfind("invoices/request/", 0) == 0)
            return only(get, [&] { return invoiceById(rel.substr(17), req, style); });
        if (rel.rfind("invoices/", 0) == 0 && rel.find('/', 9) == std::string::npos)
            return only(get, [&] { return invoiceById(rel.substr(9), req, style); });
        if (rel == "financial/deposit") return only(post, [&] { return cashMovement(req, true); });
        if (rel == "financial/withdraw") return only(post, [&] { return cashMovement(req, false); });
        if (rel == "financial/summary") {
            if (get) return summary(req);
            if (del) return zeroSummary();
            return only(false, [] { return Reply{}; });
        }
        if (rel.rfind("financial/report/", 0) == 0 && reportNames().count(rel.substr(17)))
            return only(post, [&] { return report(rel.substr(17), req); });
        return {404, messageBody("Непозната путања")};
    }

    void handle(const httplib::Request& req, httplib::Response& res) {
        RecordedRequest rec{req.method, req.target, {}, req.get_header_value("Authorization"),
                            req.get_header_value("RequestId"), req.get_header_value("Content-Type"), req.body};
        Route route;
        Fault fault;
        bool faulty = false;
        std::string token;
        {
            std::lock_guard lock(mu);
            token = cfg.token;
            route = resolve(req.path, token);
            rec.path = route.plain;
            // A demo device may run for days; keep the recent requests only.
            if (log.size() >= kMaxLog) log.erase(log.begin(), log.begin() + kMaxLog / 10);
            log.push_back(std::move(rec));
            faulty = takeFault(req.method, route.plain, fault);
        }
        const std::string what = req.method + " " + req.target;

        if (faulty && (fault.kind == FaultKind::Refuse || fault.kind == FaultKind::Drop)) {
            if (waitFor(fault.delay)) dropConnection(req, fault.kind == FaultKind::Refuse);
            note(what + (fault.kind == FaultKind::Refuse ? " -> reset" : " -> dropped"));
            return;
        }

        Reply reply;
        if (faulty && fault.kind == FaultKind::Status) {
            reply = {fault.status, fault.body.empty() ? messageBody("Грешка уређаја") : fault.body};
        } else {
            AnswerStyle style;
            std::lock_guard lock(mu);
            style.messages = cfg.successMessage;
            if (faulty && fault.kind == FaultKind::NoMessages) style.omitMessages = true;
            if (faulty && fault.kind == FaultKind::LatinSuccess) style.messages = "Success";
            const std::string expected = rtrim("Bearer " + cfg.token);
            if (!req.has_header("Authorization") || rtrim(req.get_header_value("Authorization")) != expected ||
                !route.tokenOk) {
                reply = {401, messageBody("Неовлашћен приступ")};
                res.set_header("WWW-Authenticate", "Bearer");
            } else if (!route.known) {
                reply = {404, messageBody("Непозната путања")};
            } else {
                reply = dispatch(req, route, style);
            }
        }
        if (faulty && fault.kind == FaultKind::NonJson)
            reply = {200, fault.body.empty() ? "<html><body>Device error</body></html>" : fault.body,
                     "text/html; charset=utf-8"};

        if (faulty && !waitFor(fault.delay)) return;  // stopping
        if (faulty && fault.kind == FaultKind::SignThenDrop) {
            dropConnection(req, false);
            note(what + " -> " + std::to_string(reply.status) + ", dropped");
            return;
        }
        res.status = reply.status;
        if (reply.status != 204) res.set_content(reply.body, reply.contentType.c_str());
        note(what + " -> " + std::to_string(reply.status));
    }

    void dropConnection(const httplib::Request& req, bool reset) {
        const std::vector<int> fds = serverSockets(req.local_port, req.remote_port);
        for (int fd : fds) breakConnection(fd, reset);
    }
};

FiscalSimulator::FiscalSimulator(Config config) : impl_(std::make_unique<Impl>()) {
    impl_->cfg = std::move(config);
    impl_->cutTime = impl_->now();
}

FiscalSimulator::~FiscalSimulator() { stop(); }

int FiscalSimulator::start(int port, const std::string& host) {
    if (running()) throw std::logic_error("simulator already running");
    in_addr parsed{};
    if (inet_pton(AF_INET, host.c_str(), &parsed) != 1 || (ntohl(parsed.s_addr) >> 24) != 127)
        throw std::invalid_argument("the simulated device listens on loopback addresses only: " + host);
    bool images;
    {
        std::lock_guard lock(impl_->mu);
        images = impl_->cfg.renderImages;
    }
    if (images) ensureImageSupport();
    // A client that hangs up mid-answer must not end the process.
    std::signal(SIGPIPE, SIG_IGN);

    auto server = std::make_unique<httplib::Server>();
    // SO_REUSEADDR only: the library's default also sets SO_REUSEPORT, which
    // would let a second device quietly share a port already in use.
    server->set_socket_options([](socket_t sock) {
        int yes = 1;
        setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    });
    server->set_payload_max_length(kMaxBody);
    server->set_keep_alive_max_count(100000);
    // Headers and body leave in two writes; with Nagle on, the body waits for
    // the client's delayed ACK (40 ms on Linux) on every kept-alive request.
    server->set_tcp_nodelay(true);
    server->new_task_queue = [] { return new httplib::ThreadPool(16); };
    Impl* impl = impl_.get();
    auto handler = [impl](const httplib::Request& req, httplib::Response& res) {
        const auto t0 = std::chrono::steady_clock::now();
        try {
            impl->handle(req, res);
        } catch (const std::exception& e) {
            res.status = 500;
            res.set_content(messageBody(std::string("Internal error: ") + e.what()), kJson);
        }
        impl->answerNs += std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now() - t0).count();
    };
    server->Get(".*", handler);
    server->Post(".*", handler);
    server->Put(".*", handler);
    server->Patch(".*", handler);
    server->Delete(".*", handler);

    int bound;
    if (port == 0) {
        bound = server->bind_to_any_port(host);
    } else {
        bound = server->bind_to_port(host, port) ? port : -1;
    }
    if (bound <= 0) throw std::runtime_error("cannot listen on " + host + ":" + std::to_string(port));

    {
        std::lock_guard lock(impl_->waitMu);
        impl_->stopping = false;
    }
    httplib::Server* raw = server.get();
    impl_->thread = std::thread([raw] { raw->listen_after_bind(); });
    // The library's stop() does nothing until its accept loop runs, so a
    // stop() right after start() would leave that loop running for good.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!raw->is_running()) {
        if (std::chrono::steady_clock::now() > deadline) {
            raw->stop();
            impl_->thread.detach();
            (void)server.release();  // the detached thread may still use it
            throw std::runtime_error("the device's accept loop did not start");
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    std::lock_guard lock(impl_->mu);
    impl_->server = std::move(server);
    impl_->port = bound;
    return bound;
}

void FiscalSimulator::stop() {
    std::unique_ptr<httplib::Server> server;
    int port;
    {
        std::lock_guard lock(impl_->mu);
        server = std::move(impl_->server);
        port = impl_->port;
        impl_->port = 0;
    }
    if (!server) return;
    {
        std::lock_guard lock(impl_->waitMu);
        impl_->stopping = true;
    }
    impl_->waitCv.notify_all();
    server->stop();
    // Connections kept alive by clients would hold the workers until their
    // idle time-out; closing them lets stop() return at once.
    for (int fd : serverSockets(port, -1)) shutdown(fd, SHUT_RDWR);
    if (impl_->thread.joinable()) impl_->thread.join();
}

bool FiscalSimulator::running() const {
    std::lock_guard lock(impl_->mu);
    return impl_->server != nullptr;
}

int FiscalSimulator::port() const {
    std::lock_guard lock(impl_->mu);
    return impl_->port;
}

void FiscalSimulator::setConfig(Config config) {
    std::lock_guard lock(impl_->mu);
    impl_->cfg = std::move(config);
}

Config FiscalSimulator::config() const {
    std::lock_guard lock(impl_->mu);
    return impl_->cfg;
}

void FiscalSimulator::injectFault(std::string method, std::string path, Fault fault, int times) {
    std::lock_guard lock(impl_->mu);
    impl_->rules.push_back({std::move(method), std::move(path), std::move(fault), times, times <= 0});
}

void FiscalSimulator::injectFault(std::string path, Fault fault, int times) {
    injectFault(std::string(), std::move(path), std::move(fault), times);
}

void FiscalSimulator::clearFaults() {
    std::lock_guard lock(impl_->mu);
    impl_->rules.clear();
}

int FiscalSimulator::armedFaults() const {
    std::lock_guard lock(impl_->mu);
    return static_cast<int>(impl_->rules.size());
}

void FiscalSimulator::resetPin() {
    std::lock_guard lock(impl_->mu);
    impl_->pinVerified = false;
    impl_->wrongTries = 0;
    impl_->locked = false;
}

bool FiscalSimulator::pinLocked() const {
    std::lock_guard lock(impl_->mu);
    return impl_->locked;
}

std::vector<RecordedRequest> FiscalSimulator::requests() const {
    std::lock_guard lock(impl_->mu);
    return impl_->log;
}

void FiscalSimulator::clearRequests() {
    std::lock_guard lock(impl_->mu);
    impl_->log.clear();
}

std::chrono::nanoseconds FiscalSimulator::answerTime() const { return std::chrono::nanoseconds(impl_->answerNs.load()); }

int FiscalSimulator::timesSigned(const std::string& requestId) const {
    std::lock_guard lock(impl_->mu);
    auto it = impl_->signings.find(requestId);
    return it == impl_->signings.end() ? 0 : it->second;
}

std::vector<SimInvoice> FiscalSimulator::signedInvoices() const {
    std::lock_guard lock(impl_->mu);
    return impl_->invoices;
}

std::int64_t FiscalSimulator::balance() const {
    std::lock_guard lock(impl_->mu);
    return impl_->cashBalance();
}

}  // namespace kv::sim

#pragma once
// A simulated fiscal device on 127.0.0.1: answers the device's HTTP interface
// (plain "/api/..." paths and the test service's "/{token}/api/v3/..." form)
// from state kept in memory, and lets tests break single requests on purpose.
//
// Requests are served one at a time, in arrival order, as a real device does;
// every public member may be called from any thread while it runs.
#include "Journal.h"
#include "SimInvoice.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace kv::sim {

struct Config {
    std::string token;         // Authorization must be "Bearer " + token
    std::string pin = "1234";  // security card PIN
    bool pinRequired = true;   // a fresh device wants the PIN before signing
    int maxPinTries = 3;       // wrong PINs in a row that lock the card
    std::vector<TaxRate> taxRates = defaultTaxRates();
    int journalWidth = 40;          // characters per journal line (38 or 40 on real devices)
    std::string signerId = "KVSIM7Q2";  // requestedBy / signedBy, 8 characters
    ShopIdentity shop;
    std::string verificationUrlBase = "https://verify.kovira.invalid/v/?vl=";
    // Time source for sdcDateTime; empty = the system clock.
    std::function<std::chrono::system_clock::time_point()> clock;
    // Offset written after sdcDateTime; empty = the local zone at that moment.
    std::optional<int> utcOffsetMinutes;
    // Draw receipt pictures when a request asks for one. That needs a Qt GUI
    // application: start() creates an offscreen QGuiApplication when the
    // process has no Qt application yet, so a test that wants its own
    // QApplication creates it before start() (or turns this off).
    bool renderImages = true;
    // "messages" of a signed invoice and of a report. Devices in the field
    // also answer in Latin script ("Uspješno").
    std::string successMessage = "Успешно";
    // How the invoice list of a period is written: as the text itself or as
    // one JSON string holding it; type fields as digit codes or as words
    // ("Normal", "Advance", ...; "Sale", "Refund").
    bool listAsJsonString = false;
    bool listTypeWords = false;
    // One line per request served ("POST /api/invoices -> 200"); empty = quiet.
    std::function<void(const std::string&)> log;
};

enum class FaultKind {
    Refuse,        // the connection is reset (RST) without an answer; nothing is done
    Drop,          // the connection is closed (FIN) without an answer; nothing is done
    Delay,         // done and answered normally, but only after Fault::delay
    Status,        // answered with Fault::status and Fault::body; nothing is done
    NonJson,       // done, answered 200 with a body that is not JSON
    NoMessages,    // done, the invoice answer lacks the member "messages"
    LatinSuccess,  // done, the invoice answer's "messages" is "Success", not "Успешно"
    SignThenDrop,  // done (an invoice is signed), then the connection closes without an answer
};

struct Fault {
    FaultKind kind = FaultKind::Status;
    int status = 500;                    // Status
    std::chrono::milliseconds delay{0};  // waited before answering (or dropping), for any kind
    std::string body;                    // Status, NonJson: the body; a stock text when empty

    static Fault make(FaultKind kind, int status = 500, std::chrono::milliseconds delay = {}, std::string body = {}) {
        Fault f;
        f.kind = kind;
        f.status = status;
        f.delay = delay;
        f.body = std::move(body);
        return f;
    }
    static Fault refuse() { return make(FaultKind::Refuse); }
    static Fault drop() { return make(FaultKind::Drop); }
    static Fault delayed(std::chrono::milliseconds d) { return make(FaultKind::Delay, 200, d); }
    static Fault httpStatus(int status, std::string body = {}) {
        return make(FaultKind::Status, status, {}, std::move(body));
    }
    static Fault nonJson(std::string body = {}) { return make(FaultKind::NonJson, 200, {}, std::move(body)); }
    static Fault noMessages() { return make(FaultKind::NoMessages); }
    static Fault latinSuccess() { return make(FaultKind::LatinSuccess); }
    static Fault signThenDrop() { return make(FaultKind::SignThenDrop); }
};

// A request as the device received it.
struct RecordedRequest {
    std::string method;
    std::string target;  // path and query as sent
    std::string path;    // plain form: "/api/..." also for "/{token}/api/v3/..."
    std::string authorization;
    std::string requestId;
    std::string contentType;
    std::string body;
};

class FiscalSimulator {
public:
    explicit FiscalSimulator(Config config = {});
    ~FiscalSimulator();
    FiscalSimulator(const FiscalSimulator&) = delete;
    FiscalSimulator& operator=(const FiscalSimulator&) = delete;

    // Listens on host:port (0 = a free port) and returns the port. The host
    // must be a loopback address (127.0.0.0/8; Linux routes all of it to the
    // loopback interface, so a device search can be tried on 127.0.0.0/24).
    // Throws std::invalid_argument for another host and std::runtime_error
    // when the port cannot be bound. The device's state survives stop() and
    // a later start().
    int start(int port = 0, const std::string& host = "127.0.0.1");
    void stop();
    bool running() const;
    int port() const;  // 0 when stopped

    // Applies to the requests that follow; the device's state is kept.
    void setConfig(Config config);
    Config config() const;

    // Faults. method "" = any method; path is the plain form ("/api/invoices"),
    // "" = any request, a trailing "*" matches as a prefix. The first armed
    // rule that matches is used; times <= 0 keeps it until clearFaults().
    void injectFault(std::string method, std::string path, Fault fault, int times = 1);
    void injectFault(std::string path, Fault fault, int times = 1);
    void clearFaults();
    int armedFaults() const;  // rules with uses left

    // Security card: back to "PIN required", no wrong tries, not locked.
    void resetPin();
    bool pinLocked() const;

    // Inspection.
    std::vector<RecordedRequest> requests() const;
    void clearRequests();
    int timesSigned(const std::string& requestId) const;  // signing operations for that RequestId
    std::vector<SimInvoice> signedInvoices() const;       // in signing order
    std::int64_t balance() const;  // cash in the desk, value x 10,000
    // The time spent answering requests (from a request read to its answer
    // ready, delays of injected faults included), summed since the start.
    std::chrono::nanoseconds answerTime() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace kv::sim

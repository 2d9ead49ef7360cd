#pragma once
// The one door through which the device client reaches the network. The
// client builds plain requests; the transport sends them and hands back what
// came back. Tests put a fake behind it, the application libcurl.
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace kv::device {

struct HttpRequest {
    std::string method = "GET";  // GET, POST, DELETE, ...
    std::string url;             // complete address, sent as composed
    // Sent in this order, names and values exactly as given (no encoding).
    std::vector<std::pair<std::string, std::string>> headers;
    std::string body;  // sent when the method carries one (POST, PUT, ...)
};

struct HttpResult {
    // False when no HTTP answer arrived: refused connection, time-out,
    // malformed address, answer too large. `error` then says why and the
    // fields below are meaningless.
    bool transportOk = false;
    std::string error;
    int status = 0;          // HTTP status code, also for 4xx and 5xx
    std::string statusText;  // reason phrase of the status line ("OK"); empty when none was sent
    std::string body;        // raw answer bytes
};

class HttpTransport {
public:
    virtual ~HttpTransport() = default;
    // Synchronous; one request at a time per transport.
    virtual HttpResult execute(const HttpRequest& request) = 0;
};

// Hands every request to a waiter when one is set: the window runs the
// request elsewhere and keeps its own event loop going until the answer is
// there. Without a waiter (the service, tests) requests run in the caller.
class WaitingTransport : public HttpTransport {
public:
    using Request = std::function<HttpResult()>;
    using Waiter = std::function<HttpResult(const Request& request)>;

    explicit WaitingTransport(HttpTransport& inner) : inner_(inner) {}
    void setWaiter(Waiter waiter) { waiter_ = std::move(waiter); }

    HttpResult execute(const HttpRequest& request) override {
        if (!waiter_) return inner_.execute(request);
        return waiter_([this, &request] { return inner_.execute(request); });
    }

private:
    HttpTransport& inner_;
    Waiter waiter_;
};

}  // namespace kv::device

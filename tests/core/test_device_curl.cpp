#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "device/CurlTransport.h"

using namespace kv::device;

namespace {

// A bare HTTP/1.1 server on 127.0.0.1 that records each request byte for byte
// and answers from a script, keeping the connection open between requests.
// With the script used up it stays silent, as a hung device would.
class LoopbackServer {
public:
    explicit LoopbackServer(std::deque<std::string> answers) : answers_(std::move(answers))
    {
        listen_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        addr.sin_port = 0;
        if (::bind(listen_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(listen_, 4) != 0)
            throw std::runtime_error("loopback server: bind/listen failed");
        socklen_t len = sizeof addr;
        ::getsockname(listen_, reinterpret_cast<sockaddr*>(&addr), &len);
        port_ = ntohs(addr.sin_port);
        thread_ = std::thread([this] { run(); });
    }
    ~LoopbackServer()
    {
        stop_ = true;
        thread_.join();
        ::close(listen_);
    }

    int port() const { return port_; }
    std::string url(const std::string& path) const { return "http://127.0.0.1:" + std::to_string(port_) + path; }
    std::vector<std::string> requests()
    {
        std::lock_guard lock(mutex_);
        return requests_;
    }
    int connections() const { return connections_; }

private:
    // Waits for `fd` to become readable, giving up when the server stops.
    bool readable(int fd)
    {
        while (!stop_) {
            pollfd p{fd, POLLIN, 0};
            if (::poll(&p, 1, 20) > 0)
                return true;
        }
        return false;
    }

    void run()
    {
        while (readable(listen_)) {
            const int fd = ::accept(listen_, nullptr, nullptr);
            if (fd < 0)
                continue;
            ++connections_;
            serve(fd);
            ::close(fd);
        }
    }

    void serve(int fd)
    {
        std::string buf;
        char chunk[4096];
        while (true) {
            // One request: the head, then Content-Length bytes of body.
            size_t headEnd;
            while ((headEnd = buf.find("\r\n\r\n")) == std::string::npos) {
                if (!readable(fd))
                    return;
                const ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
                if (n <= 0)
                    return;
                buf.append(chunk, static_cast<size_t>(n));
            }
            size_t length = 0;
            const size_t cl = buf.find("Content-Length: ");
            if (cl != std::string::npos && cl < headEnd)
                length = std::stoul(buf.substr(cl + 16));
            while (buf.size() < headEnd + 4 + length) {
                if (!readable(fd))
                    return;
                const ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
                if (n <= 0)
                    return;
                buf.append(chunk, static_cast<size_t>(n));
            }
            std::string answer;
            {
                std::lock_guard lock(mutex_);
                requests_.push_back(buf.substr(0, headEnd + 4 + length));
                if (!answers_.empty()) {
                    answer = answers_.front();
                    answers_.pop_front();
                }
            }
            buf.erase(0, headEnd + 4 + length);
            if (answer.empty()) {  // silent: hold the connection until the client gives up
                while (readable(fd) && ::recv(fd, chunk, sizeof chunk, 0) > 0) {
                }
                return;
            }
            ::send(fd, answer.data(), answer.size(), MSG_NOSIGNAL);
        }
    }

    int listen_ = -1;
    int port_ = 0;
    std::deque<std::string> answers_;
    std::vector<std::string> requests_;
    std::mutex mutex_;
    std::atomic<bool> stop_{false};
    std::atomic<int> connections_{0};
    std::thread thread_;
};

std::string answer(const std::string& statusLine, const std::string& body)
{
    return statusLine + "\r\nContent-Type: application/json\r\nContent-Length: " + std::to_string(body.size()) +
           "\r\n\r\n" + body;
}

double secondsSince(std::chrono::steady_clock::time_point t0)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

}  // namespace

TEST(CurlTransport, SendsHeadersExactlyAndReusesTheConnection)
{
    LoopbackServer server({answer("HTTP/1.1 200 OK", "\"0100\""),
                           answer("HTTP/1.1 500 Internal Server Error", "{\"a\":1}")});
    CurlTransport curl;

    HttpRequest pin;
    pin.method = "POST";
    pin.url = server.url("/api/pin");
    pin.headers = {{"Authorization", "Bearer "}, {"RequestId", "0A1B{x}"}, {"X-Empty", ""},
                   {"Content-Type", "text/plain"}};
    pin.body = "1234";
    const HttpResult r1 = curl.execute(pin);
    ASSERT_TRUE(r1.transportOk) << r1.error;
    EXPECT_EQ(r1.status, 200);
    EXPECT_EQ(r1.statusText, "OK");
    EXPECT_EQ(r1.body, "\"0100\"");

    // A trailing-slash base address leaves "//" and dot segments in the path.
    HttpRequest get;
    get.url = server.url("//api/../status?x=1");
    get.headers = {{"Authorization", "Bearer abc"}};
    const HttpResult r2 = curl.execute(get);
    ASSERT_TRUE(r2.transportOk) << r2.error;
    EXPECT_EQ(r2.status, 500);
    EXPECT_EQ(r2.statusText, "Internal Server Error");
    EXPECT_EQ(r2.body, "{\"a\":1}");

    const auto reqs = server.requests();
    ASSERT_EQ(reqs.size(), 2u);
    const std::string& p = reqs[0];
    EXPECT_EQ(p.rfind("POST /api/pin HTTP/1.1\r\n", 0), 0u) << p;
    for (const char* line : {"\r\nAuthorization: Bearer \r\n", "\r\nRequestId: 0A1B{x}\r\n", "\r\nX-Empty:\r\n",
                             "\r\nContent-Type: text/plain\r\n", "\r\nContent-Length: 4\r\n",
                             "\r\nAccept: application/json, text/plain; q=0.9, text/html;q=0.8,\r\n",
                             "\r\nAccept-Charset: utf-8, *;q=0.8\r\n"})
        EXPECT_NE(p.find(line), std::string::npos) << line << " in\n" << p;
    EXPECT_EQ(p.find("Expect:"), std::string::npos);
    EXPECT_EQ(p.find("Content-Type:"), p.rfind("Content-Type:"));  // ours only
    EXPECT_EQ(p.substr(p.size() - 8), "\r\n\r\n1234");

    const std::string& g = reqs[1];
    EXPECT_EQ(g.rfind("GET //api/../status?x=1 HTTP/1.1\r\n", 0), 0u) << g;
    EXPECT_EQ(g.find("Content-Type:"), std::string::npos);
    EXPECT_EQ(server.connections(), 1);
}

TEST(CurlTransport, FailuresBecomeTransportErrors)
{
    // A port nobody listens on: bound once to get it, then released.
    int freePort;
    {
        LoopbackServer probe({});
        freePort = probe.port();
    }
    CurlTransportConfig slowConnect;
    slowConnect.connectTimeoutMs = 20000;
    CurlTransport curl(slowConnect);
    HttpRequest req;
    req.url = "http://127.0.0.1:" + std::to_string(freePort) + "/api/attention";
    const auto t0 = std::chrono::steady_clock::now();
    const HttpResult refused = curl.execute(req);
    EXPECT_FALSE(refused.transportOk);
    EXPECT_FALSE(refused.error.empty());
    EXPECT_LT(secondsSince(t0), 10.0) << "a refused connection must not wait for the time-out";

    // Header text that would break the request apart is refused before sending.
    req.headers = {{"Authorization", "Bearer abc\r\nX-Evil: 1"}};
    EXPECT_FALSE(curl.execute(req).transportOk);
    req.headers.clear();
    req.url = "file:///etc/hostname";
    EXPECT_FALSE(curl.execute(req).transportOk);
    req.url = "http://127.0.0.1:99999/";
    EXPECT_FALSE(curl.execute(req).transportOk);
}

TEST(CurlTransport, SilentDeviceHitsTheRequestTimeOutAndBigAnswersAreRefused)
{
    LoopbackServer server({answer("HTTP/1.1 200 OK", std::string(100, 'x'))});
    CurlTransportConfig config;
    config.requestTimeoutMs = 300;
    config.maxAnswerBytes = 64;
    CurlTransport curl(config);
    HttpRequest req;
    req.url = server.url("/api/attention");

    const HttpResult big = curl.execute(req);
    EXPECT_FALSE(big.transportOk);
    EXPECT_NE(big.error.find("64"), std::string::npos) << big.error;

    const auto t0 = std::chrono::steady_clock::now();
    const HttpResult silent = curl.execute(req);
    const double took = secondsSince(t0);
    EXPECT_FALSE(silent.transportOk);
    EXPECT_NE(silent.error.find("timed out"), std::string::npos) << silent.error;
    EXPECT_GE(took, 0.25);
    EXPECT_LT(took, 10.0);
}

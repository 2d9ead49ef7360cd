// The device search on loopback only: Linux routes all of 127.0.0.0/8 to the
// loopback interface, so simulated devices bound to 127.0.0.x stand for the
// hosts of a /24 network. Nothing here is sent outside 127.0.0.0/24.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <iostream>
#include <thread>
#include <vector>

#include "FiscalSimulator.h"
#include "sim_support.h"
#include "device/Discovery.h"

using namespace kv;
using namespace kv::device;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

using kv::test::QuietDevice;
using kv::test::SilentListener;

ScanSettings Loopback(int port) {
    ScanSettings s;
    s.port = std::to_string(port);
    s.token = "tok";
    s.networks = {"127.0.0."};
    return s;
}

int CountAttention(const sim::FiscalSimulator& dev) {
    int n = 0;
    for (const auto& r : dev.requests()) n += r.path == "/api/attention";
    return n;
}


int BoundPort(int fd) {
    sockaddr_in a{};
    socklen_t len = sizeof a;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    return ntohs(a.sin_port);
}

}  // namespace

TEST(Discovery, TheFirstDeviceByAddressThatAnswersAttentionWins) {
    sim::FiscalSimulator device(QuietDevice()), later(QuietDevice()), broken(QuietDevice());
    const int port = device.start(0, "127.0.0.37");
    later.start(port, "127.0.0.200");
    broken.start(port, "127.0.0.20");
    broken.injectFault("GET", "/api/attention", sim::Fault::httpStatus(500), 0);

    std::atomic<bool> cancel{false};
    std::vector<int> positions;
    const auto t0 = Clock::now();
    ScanResult r = FindDevice(Loopback(port), cancel, [&](const ScanProgress& p) {
        positions.push_back(p.position);
        EXPECT_EQ(p.address, "127.0.0." + std::to_string(p.position));
    });
    const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t0);
    std::cout << "[ figures  ] loopback /24 search with a device at .37: " << took.count() << " ms\n";

    ASSERT_EQ(r.kind, ScanResult::Kind::Found);
    EXPECT_EQ(r.address, "127.0.0.37");
    EXPECT_EQ(r.message(), "Adresa uredjaja je:127.0.0.37");
    EXPECT_EQ(r.baseUrl(), "http://127.0.0.37");
    // The host that answered 500 was asked and passed over.
    EXPECT_EQ(CountAttention(broken), 1);
    ASSERT_FALSE(positions.empty());
    EXPECT_TRUE(std::is_sorted(positions.begin(), positions.end()));
    EXPECT_EQ(positions.back(), 37);
    const auto seen = device.requests();
    ASSERT_FALSE(seen.empty());
    EXPECT_EQ(seen.back().authorization, "Bearer tok");
}

TEST(Discovery, NothingFoundAndNoNetwork) {
    // A device that refuses our token answers attention with 401: not ours to use.
    sim::FiscalSimulator stranger(QuietDevice());
    const int port = stranger.start(0, "127.0.0.37");
    ScanSettings s = Loopback(port);
    s.token = "other";
    std::atomic<bool> cancel{false};
    ScanResult r = FindDevice(s, cancel);
    EXPECT_EQ(r.kind, ScanResult::Kind::NotFound);
    EXPECT_EQ(r.message(),
              "Adresa uredjaja nepoznata!\rProvjerite da li je uredjaj uključen i da li je broj porta ispravan!");
    EXPECT_EQ(CountAttention(stranger), 1);

    s.networks = {"not an address"};
    r = FindDevice(s, cancel);
    EXPECT_EQ(r.kind, ScanResult::Kind::NoAddress);
    EXPECT_EQ(r.message(), "Nekorektna IP adresa!\rProvjerite da li je računar povezan u mrežu!");
}

TEST(Discovery, CancelEndsTheSearchAtOnce) {
    // .5 accepts and never answers: the search waits on it (a device found
    // later at .37 is not yet the first by address) until cancelled.
    sim::FiscalSimulator device(QuietDevice());
    const int port = device.start(0, "127.0.0.37");
    const int hang = SilentListener(5, port);
    ASSERT_GE(hang, 0);
    ScanSettings s = Loopback(port);
    s.requestTimeout = 30s;

    std::atomic<bool> cancel{false};
    std::atomic<bool> waiting{false};
    Clock::time_point cancelledAt{};
    std::thread canceller([&] {
        while (!waiting) std::this_thread::sleep_for(1ms);
        std::this_thread::sleep_for(200ms);
        cancelledAt = Clock::now();
        cancel = true;
    });
    ScanResult r = FindDevice(s, cancel, [&](const ScanProgress& p) {
        if (p.position == 5) waiting = true;
    });
    const auto ended = Clock::now();
    canceller.join();
    ::close(hang);
    EXPECT_EQ(r.kind, ScanResult::Kind::Cancelled);
    EXPECT_EQ(r.message(), "");
    const auto latency = std::chrono::duration_cast<std::chrono::milliseconds>(ended - cancelledAt);
    std::cout << "[ figures  ] cancel latency: " << latency.count() << " ms\n";
    EXPECT_LT(latency, 1000ms);  // the probe itself would have waited 30 s
}

TEST(Discovery, EveryAddressHoldingTheConnectionCostsOneTimeOutNotTwoHundredFiftySix) {
    // The slowest network there is: every address accepts and none answers.
    int first = SilentListener(1, 0);
    ASSERT_GE(first, 0);
    const int port = BoundPort(first);
    std::vector<int> fds{first};
    for (int host = 0; host < 256; ++host)
        if (host != 1)
            if (int fd = SilentListener(host, port); fd >= 0) fds.push_back(fd);
    ScanSettings s = Loopback(port);
    std::atomic<bool> cancel{false};
    const auto t0 = Clock::now();
    ScanResult r = FindDevice(s, cancel);
    const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t0);
    for (int fd : fds) ::close(fd);
    std::cout << "[ figures  ] /24 where " << fds.size() << " addresses hold the connection: " << took.count()
              << " ms\n";
    EXPECT_EQ(r.kind, ScanResult::Kind::NotFound);
    EXPECT_LT(took, 5s);  // one after another it would be 256 x 1.75 s
}

TEST(Discovery, NetworksOfTheComputersInterfaces) {
    const std::vector<InterfaceAddress> machine{{"lo", "127.0.0.1", true, true},
                                                {"eth0", "192.168.1.37", true, false},
                                                {"wlan0", "10.0.0.5", true, false},
                                                {"eth1", "192.168.1.99", true, false},
                                                {"eth2", "172.16.5.4", false, false},
                                                {"lo", "127.0.1.1", true, false}};
    EXPECT_EQ(NetworksToSearch(machine), (std::vector<std::string>{"192.168.1.", "10.0.0."}));
    EXPECT_EQ(NetworksToSearch({{"lo", "127.0.0.1", true, true}, {"x", "127.0.1.1", true, false}}),
              (std::vector<std::string>{"127.0.0.", "127.0.1."}));
    EXPECT_TRUE(NetworksToSearch({}).empty());
    EXPECT_EQ(NetworkPrefix("10.0.0.5"), "10.0.0.");
    EXPECT_EQ(NetworkPrefix("192.168.001.5"), "");
    EXPECT_EQ(NetworkPrefix("fe80::1"), "");
    // The machine's own list is read without sending anything.
    for (const auto& a : InterfaceAddresses()) EXPECT_FALSE(NetworkPrefix(a.address).empty()) << a.address;
}

#include "device/Discovery.h"

#include <arpa/inet.h>
#include <curl/curl.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>

#include <algorithm>
#include <array>
#include <memory>
#include <mutex>
#include <stdexcept>

#include "device/CurlTransport.h"

namespace kv::device {

namespace {

constexpr int kHosts = 256;

void CurlInitOnce() {
    static std::once_flag once;
    std::call_once(once, [] {
        if (curl_global_init(CURL_GLOBAL_DEFAULT) != CURLE_OK)
            throw std::runtime_error("libcurl could not be initialised");
    });
}

std::size_t Discard(char*, std::size_t size, std::size_t n, void*) { return size * n; }

bool ValidPort(const std::string& port) {
    if (port.empty() || port.size() > 5) return false;
    if (!std::all_of(port.begin(), port.end(), [](char c) { return c >= '0' && c <= '9'; })) return false;
    const int p = std::stoi(port);
    return p > 0 && p <= 65535;
}

// All probes of one /24 network, run together on one multi handle.
class NetworkProbe {
public:
    NetworkProbe(const std::string& prefix, const ScanSettings& s) : prefix_(prefix) {
        multi_ = curl_multi_init();
        if (!multi_) throw std::runtime_error("libcurl could not start the search");
        headers_ = curl_slist_append(headers_, ("Authorization: Bearer " + s.token).c_str());
        headers_ = curl_slist_append(headers_, (std::string("Accept: ") + CurlTransport::kAccept).c_str());
        const std::string path = s.test ? "/" + s.token + "/api/v3/attention" : "/api/attention";
        for (int n = 0; n < kHosts; ++n) {
            CURL* h = curl_easy_init();
            if (!h) throw std::runtime_error("libcurl could not start the search");
            easy_[n] = h;
            const std::string url = "http://" + prefix + std::to_string(n) + ":" + s.port + path;
            curl_easy_setopt(h, CURLOPT_URL, url.c_str());
            curl_easy_setopt(h, CURLOPT_HTTPHEADER, headers_);
            curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
            curl_easy_setopt(h, CURLOPT_PROXY, "");  // never through a proxy
            curl_easy_setopt(h, CURLOPT_NOPROXY, "*");
            curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(s.connectTimeout.count()));
            curl_easy_setopt(h, CURLOPT_TIMEOUT_MS,
                             static_cast<long>(s.connectTimeout.count() + s.requestTimeout.count()));
            curl_easy_setopt(h, CURLOPT_FORBID_REUSE, 1L);
            curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 0L);
            curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, &Discard);
            curl_easy_setopt(h, CURLOPT_PRIVATE, reinterpret_cast<void*>(static_cast<intptr_t>(n)));
#if LIBCURL_VERSION_NUM >= 0x075500
            curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http");
#else
            curl_easy_setopt(h, CURLOPT_PROTOCOLS, CURLPROTO_HTTP);
#endif
            curl_multi_add_handle(multi_, h);
        }
    }
    ~NetworkProbe() {
        for (CURL* h : easy_) {
            if (!h) continue;
            curl_multi_remove_handle(multi_, h);
            curl_easy_cleanup(h);
        }
        curl_multi_cleanup(multi_);
        curl_slist_free_all(headers_);
    }
    NetworkProbe(const NetworkProbe&) = delete;
    NetworkProbe& operator=(const NetworkProbe&) = delete;

    // Runs until the first address in order is settled as the device, all are
    // settled without one, or the cancel flag is set.
    ScanResult run(const ScanSettings& s, const std::atomic<bool>& cancel, int network, int networks,
                   const std::function<void(const ScanProgress&)>& progress) {
        int front = -1;
        for (;;) {
            int running = 0;
            curl_multi_perform(multi_, &running);
            int left = 0;
            while (CURLMsg* m = curl_multi_info_read(multi_, &left)) {
                if (m->msg != CURLMSG_DONE) continue;
                void* priv = nullptr;
                curl_easy_getinfo(m->easy_handle, CURLINFO_PRIVATE, &priv);
                const int n = static_cast<int>(reinterpret_cast<intptr_t>(priv));
                long code = 0;
                if (m->data.result == CURLE_OK) curl_easy_getinfo(m->easy_handle, CURLINFO_RESPONSE_CODE, &code);
                done_[n] = true;
                status_[n] = code;
            }
            // Settled in order: addresses that cannot be the device are passed over.
            int f = front < 0 ? 0 : front;
            while (f < kHosts && done_[f] && status_[f] != 200) ++f;
            if (f != front) {
                front = f;
                if (progress && f < kHosts) progress({network, networks, f, prefix_ + std::to_string(f)});
            }
            if (f < kHosts && done_[f] && status_[f] == 200) {
                ScanResult r;
                r.kind = ScanResult::Kind::Found;
                r.address = prefix_ + std::to_string(f);
                return r;
            }
            if (f >= kHosts) return {};
            if (cancel.load()) return {ScanResult::Kind::Cancelled, {}};
            curl_multi_poll(multi_, nullptr, 0, static_cast<int>(s.pollSlice.count()), nullptr);
            if (cancel.load()) return {ScanResult::Kind::Cancelled, {}};
        }
    }

private:
    std::string prefix_;
    CURLM* multi_ = nullptr;
    curl_slist* headers_ = nullptr;
    std::array<CURL*, kHosts> easy_{};
    std::array<bool, kHosts> done_{};
    std::array<long, kHosts> status_{};
};

}  // namespace

std::vector<InterfaceAddress> InterfaceAddresses() {
    std::vector<InterfaceAddress> out;
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) return out;
    for (ifaddrs* a = list; a; a = a->ifa_next) {
        if (!a->ifa_addr || a->ifa_addr->sa_family != AF_INET) continue;
        char text[INET_ADDRSTRLEN] = {};
        const auto* in = reinterpret_cast<const sockaddr_in*>(a->ifa_addr);
        if (!inet_ntop(AF_INET, &in->sin_addr, text, sizeof text)) continue;
        out.push_back({a->ifa_name ? a->ifa_name : "", text, (a->ifa_flags & IFF_UP) != 0,
                       (a->ifa_flags & IFF_LOOPBACK) != 0});
    }
    freeifaddrs(list);
    return out;
}

std::string NetworkPrefix(const std::string& address) {
    in_addr parsed{};
    if (inet_pton(AF_INET, address.c_str(), &parsed) != 1) return {};
    const std::uint32_t host = ntohl(parsed.s_addr);
    return std::to_string(host >> 24) + "." + std::to_string((host >> 16) & 0xFF) + "." +
           std::to_string((host >> 8) & 0xFF) + ".";
}

std::vector<std::string> NetworksToSearch(const std::vector<InterfaceAddress>& addresses) {
    std::vector<std::string> own, loop;
    for (const auto& a : addresses) {
        if (!a.up) continue;
        const std::string prefix = NetworkPrefix(a.address);
        if (prefix.empty()) continue;
        // 127.0.1.1 and friends: the loopback whatever the interface says.
        const bool isLoop = a.loopback || prefix.rfind("127.", 0) == 0;
        auto& list = isLoop ? loop : own;
        if (std::find(list.begin(), list.end(), prefix) == list.end()) list.push_back(prefix);
    }
    return own.empty() ? loop : own;
}

std::string ScanResult::message() const {
    switch (kind) {
        case Kind::Found: return scanmsg::kFound + address;
        case Kind::NotFound: return scanmsg::kUnknown;
        case Kind::NoAddress: return scanmsg::kNoAddress;
        case Kind::Cancelled: return {};
    }
    return {};
}

ScanResult FindDevice(const ScanSettings& settings, const std::atomic<bool>& cancel,
                      const std::function<void(const ScanProgress&)>& progress) {
    std::vector<std::string> networks = settings.networks;
    if (networks.empty()) networks = NetworksToSearch(InterfaceAddresses());
    std::erase_if(networks, [](const std::string& p) { return NetworkPrefix(p + "0") != p; });
    if (networks.empty()) return {ScanResult::Kind::NoAddress, {}};
    if (!ValidPort(settings.port)) return {};  // nothing can answer on it
    CurlInitOnce();
    const int count = static_cast<int>(networks.size());
    for (int i = 0; i < count; ++i) {
        if (cancel.load()) return {ScanResult::Kind::Cancelled, {}};
        if (progress) progress({i, count, 0, networks[i] + "0"});
        NetworkProbe probe(networks[i], settings);
        ScanResult r = probe.run(settings, cancel, i, count, progress);
        if (r.kind != ScanResult::Kind::NotFound) return r;
    }
    return {};
}

}  // namespace kv::device

#pragma once
// Finding the fiscal device on the shop's network: every address of each
// /24 network of the computer is asked for the device's attention on the
// configured port, all of a network at once, and the first address in
// address order that answers with 200 is the device. A silent network is
// searched in well under two seconds; a cancel ends the search within one
// poll slice.
#include <atomic>
#include <chrono>
#include <functional>
#include <string>
#include <vector>

namespace kv::device {

namespace scanmsg {
inline constexpr const char* kNoAddress = "Nekorektna IP adresa!\rProvjerite da li je računar povezan u mrežu!";
inline constexpr const char* kFound = "Adresa uredjaja je:";  // followed directly by the address
inline constexpr const char* kUnknown =
    "Adresa uredjaja nepoznata!\rProvjerite da li je uredjaj uključen i da li je broj porta ispravan!";
}  // namespace scanmsg

// An IPv4 address of one of the computer's interfaces.
struct InterfaceAddress {
    std::string name;     // interface name
    std::string address;  // dotted quad
    bool up = true;
    bool loopback = false;
};

// The IPv4 addresses of the computer's interfaces (getifaddrs), in the order
// the system lists them.
std::vector<InterfaceAddress> InterfaceAddresses();

// "192.168.1." for "192.168.1.37": the address up to and including its third
// "."; "" when the text is not a dotted-quad IPv4 address.
std::string NetworkPrefix(const std::string& address);

// The /24 networks to search, as prefixes: every network of an interface that
// is up, in the order listed, each once; the loopback networks only when
// there is no other (a computer without a network still finds a device
// running on itself).
std::vector<std::string> NetworksToSearch(const std::vector<InterfaceAddress>& addresses);

struct ScanSettings {
    std::string port;   // the device's port (Port)
    std::string token;  // Authorization: Bearer <token>
    bool test = false;  // "Test sa PURS LPFR": the attention request in the test service's form
    // Prefixes to search ("127.0.0."); empty: NetworksToSearch(InterfaceAddresses()).
    std::vector<std::string> networks;
    // A device on the local network accepts a connection at once; an address
    // without a host never does.
    std::chrono::milliseconds connectTimeout{250};
    // Connected, the whole attention request and its answer.
    std::chrono::milliseconds requestTimeout{1500};
    // How often the cancel flag is looked at while the probes run.
    std::chrono::milliseconds pollSlice{20};
};

struct ScanProgress {
    int network = 0;      // index into the networks searched
    int networks = 0;
    int position = 0;     // 0..255: the first address of the network not yet settled
    std::string address;  // that address
};

struct ScanResult {
    enum class Kind { Found, NotFound, NoAddress, Cancelled };
    Kind kind = Kind::NotFound;
    std::string address;  // Found: the device's address ("192.168.1.20")
    // What the operator is told: kFound + address, kUnknown, kNoAddress;
    // nothing for a cancel.
    std::string message() const;
    // What BaseURL becomes when found: "http://" + address.
    std::string baseUrl() const { return "http://" + address; }
};

// The search. `progress` (may be empty) is called from the calling thread,
// whenever the first unsettled address moves and at the start of each
// network. `cancel` is read between poll slices.
ScanResult FindDevice(const ScanSettings& settings, const std::atomic<bool>& cancel,
                      const std::function<void(const ScanProgress&)>& progress = {});

}  // namespace kv::device

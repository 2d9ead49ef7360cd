#pragma once
// Set-up shared by the tests and benchmarks that run Kovira against the
// simulated device on loopback: the device as the tests' shop has it, a
// folder of the run's own, and settings files that point at both.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "FiscalSimulator.h"

namespace kv::test {

// `cfg` with token "tok", no PIN asked and no receipt images (drawing them
// only costs time).
inline kv::sim::Config QuietDevice(kv::sim::Config cfg = {}) {
    cfg.token = "tok";
    cfg.pinRequired = false;
    cfg.renderImages = false;
    return cfg;
}

// Starts `sim` with `cfg` on a free loopback port; the port, 0 or less when it did not start.
inline int StartSimulator(kv::sim::FiscalSimulator& sim, const kv::sim::Config& cfg = QuietDevice()) {
    sim.setConfig(cfg);
    return sim.start(0);
}

// The start of a settings file that points at the simulator on `port`; the
// caller goes on with more "[Global]" lines.
inline std::string DeviceSettings(int port) {
    return "[Global]\nBaseURL=http://127.0.0.1\nPort=" + std::to_string(port) + "\n";
}

// Settings for the input folder road: the device on `port` with its token and
// PIN, receipts as text, the folders and the poll interval.
inline std::string InboxSettings(int port, const std::filesystem::path& in, const std::filesystem::path& out,
                                 int scanTime) {
    return DeviceSettings(port) + "Token=tok\nPIN=1234\nRenderPrint=0\nInputFolder=" + in.string() +
           "\nOutputFolder=" + out.string() + "\nScanTime=" + std::to_string(scanTime) + "\n";
}

// A listening socket on 127.0.0.<host>:port (0: any free port) that never
// accepts: connections complete, answers never come. -1 when it cannot bind.
inline int SilentListener(int host, int port) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl((127u << 24) | static_cast<uint32_t>(host));
    if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(fd, 16) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

inline std::string ReadAll(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// A folder of the run's own under the system's temporary folder, named
// `prefix`, the process id and `name`; emptied first, removed with all in it
// at the end. `in` and `out` are the input and output folders in it
// ("ulaz", "izlaz"), made when asked for.
struct ScratchFolder {
    std::filesystem::path root, in, out;

    explicit ScratchFolder(const std::string& prefix, const std::string& name = {}, bool inbox = true) {
        namespace fs = std::filesystem;
        root = fs::temp_directory_path() / (prefix + std::to_string(::getpid()) + (name.empty() ? "" : "_" + name));
        fs::remove_all(root);
        fs::create_directories(root);
        in = root / "ulaz";
        out = root / "izlaz";
        if (inbox) {
            fs::create_directories(in);
            fs::create_directories(out);
        }
    }
    ~ScratchFolder() { std::filesystem::remove_all(root); }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    std::filesystem::path ini() const { return root / "kovira.ini"; }
    std::filesystem::path locks() const { return root / "locks"; }
    void writeIni(const std::string& text) const { std::ofstream(ini()) << text; }
};

}  // namespace kv::test

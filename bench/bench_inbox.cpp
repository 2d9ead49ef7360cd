// Speed of the input folder road as a producer sees it: keyed invoice files
// dropped into the input folder of a running headless service, answered by
// result files in the output folder, against the simulated device.
//
// The service is the real loop (kv::RunService) on a thread of its own with
// an AppContext over a settings file in a temporary folder, the device the
// simulator on 127.0.0.1 in the same process. Files are written under a
// staging name and renamed into the input folder, as careful producers do;
// a file's time starts when its rename returns. Result files are stamped by
// inotify (IN_MOVED_TO: the service renames every result into place).
//
// Burst:  1,000 files renamed in at once; wall time until the last result
//         file exists, poll wait included -> inv_per_s.
// Steady: files renamed in at a fixed rate; latency from a file's arrival to
//         its result file -> median_ms, p99_ms (and max_ms).
// Own time: Kovira's share of an invoice, the device's answer time (which
//         the simulator sums) taken out -> own_ms. Burst: (wall time - device
//         time) / files. Steady: mean latency - device time per file.
//         wait_ms is the service's whole wait on its requests per invoice
//         (loopback TCP and both ends' HTTP included); own_net_ms is own_ms
//         with that wait taken out instead, Kovira's work between requests.
//
// Both run against the machine's disk under the temp folder, where the
// service writes its result files (forced to disk with their folder, a group
// of files at a time) and its saved copy of the invoice model, so the figures
// include the real storage.
// Burst with saves:0 runs the model without its saved copy, which is not a
// mode Kovira ships: it shows what those files cost.
//
// Counters: inv_per_s is files over the wall time from the first arrival to
// the last result file; inv_per_s_busy leaves out the wait for the first poll
// (first result to last); steady runs give offered_per_s, the producer's
// achieved rate. One iteration per run: a run is a thousand files.
//
// Creating and deleting files dominates, so the figures depend on what the
// file system did lately: ext4 without a journal, for one, skips inodes freed
// in the last half minute when it allocates a new one, so a run that follows
// another (or any mass deletion on the same disk) is slower. For figures to
// compare, run one scenario per start (--benchmark_filter) with a pause
// between starts, on a machine that is otherwise idle.
#include <benchmark/benchmark.h>
#include <poll.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>
#include <streambuf>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "FiscalSimulator.h"
#include "app/AppContext.h"
#include "app/Service.h"
#include "platform/Platform.h"
#include "util/LogPrompter.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

namespace {

// The service's log lines, readable from another thread while it writes.
class SharedLog final : public std::streambuf {
public:
    std::string text() const {
        std::lock_guard<std::mutex> g(m_);
        return text_;
    }
    std::size_t count(const std::string& what) const {
        std::lock_guard<std::mutex> g(m_);
        std::size_t n = 0;
        for (std::size_t at = text_.find(what); at != std::string::npos; at = text_.find(what, at + what.size())) ++n;
        return n;
    }

protected:
    int_type overflow(int_type ch) override {
        if (ch != traits_type::eof()) {
            std::lock_guard<std::mutex> g(m_);
            text_.push_back(static_cast<char>(ch));
        }
        return ch;
    }
    std::streamsize xsputn(const char* s, std::streamsize n) override {
        std::lock_guard<std::mutex> g(m_);
        text_.append(s, static_cast<std::size_t>(n));
        return n;
    }

private:
    mutable std::mutex m_;
    std::string text_;
};

// Arrival times of result files (bare names) in a folder.
class ResultStamps {
public:
    explicit ResultStamps(const fs::path& folder) {
        fd_ = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        if (fd_ < 0 || ::inotify_add_watch(fd_, folder.c_str(), IN_MOVED_TO | IN_CLOSE_WRITE) < 0)
            throw std::runtime_error("inotify on " + folder.string() + " refused");
        thread_ = std::thread([this] { loop(); });
    }
    ~ResultStamps() {
        stop_ = true;
        thread_.join();
        ::close(fd_);
    }
    std::size_t size() const {
        std::lock_guard<std::mutex> g(m_);
        return stamps_.size();
    }
    std::unordered_map<std::string, Clock::time_point> stamps() const {
        std::lock_guard<std::mutex> g(m_);
        return stamps_;
    }
    // Waits until `n` result files are there or the deadline passes.
    bool waitFor(std::size_t n, Clock::time_point deadline) const {
        while (size() < n) {
            if (Clock::now() > deadline) return false;
            std::this_thread::sleep_for(1ms);
        }
        return true;
    }

private:
    void loop() {
        alignas(inotify_event) char buf[64 * 1024];
        while (!stop_) {
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, 50) <= 0) continue;
            const ssize_t n = ::read(fd_, buf, sizeof buf);
            const auto now = Clock::now();
            if (n <= 0) continue;
            std::lock_guard<std::mutex> g(m_);
            for (ssize_t off = 0; off < n;) {
                const auto* ev = reinterpret_cast<const inotify_event*>(buf + off);
                off += static_cast<ssize_t>(sizeof(inotify_event) + ev->len);
                if (ev->len == 0) continue;
                std::string name(ev->name);
                // Temporary names start with a dot; the result is there once renamed.
                if (name.empty() || name[0] == '.' || name.size() < 4 || name.compare(name.size() - 4, 4, ".kvr") != 0)
                    continue;
                stamps_.emplace(std::move(name), now);
            }
        }
    }

    int fd_ = -1;
    std::atomic<bool> stop_{false};
    std::thread thread_;
    mutable std::mutex m_;
    std::unordered_map<std::string, Clock::time_point> stamps_;
};

// A keyed invoice file as a producer writes it (CR LF, decimal comma).
std::string KvrText(const std::string& requestId) {
    return "Invoice#0#invoiceType#0\r\nInvoice#0#transactionType#0\r\nInvoice#0#RequestId#" + requestId +
           "\r\nInvoice#0#invoiceNumber#" + requestId.substr(1, 8) + "\r\nInvoice#0#cashier#Marko" +
           "\r\nItems#1#name#Kafa\r\nItems#1#quantity#2\r\nItems#1#unitPrice#2,50\r\nItems#1#totalAmount#5,00"
           "\r\nItems#1#labels#E\r\nItems#2#name#Sok\r\nItems#2#quantity#1\r\nItems#2#unitPrice#3,20"
           "\r\nItems#2#totalAmount#3,20\r\nItems#2#labels#E\r\nPayment#1#amount#8,20\r\nPayment#1#paymentType#1\r\n";
}

// Writes the file under a staging name beside the input folder (same file system).
void Stage(const fs::path& staging, const std::string& id) {
    std::ofstream(staging / (id + ".part"), std::ios::binary) << KvrText(id);
}

// Moves a staged file into the input folder in one step.
void Arrive(const fs::path& staging, const fs::path& in, const std::string& id) {
    if (::rename((staging / (id + ".part")).c_str(), (in / (id + ".kvr")).c_str()) != 0)
        throw std::runtime_error("rename into the input folder failed");
}

// The running service over its own folders, with the device beside it.
struct Rig {
    fs::path root, in, out, staging;
    kv::sim::FiscalSimulator sim;
    SharedLog logBuf;
    std::ostream log{&logBuf};
    kv::LogPrompter prompter{log};
    std::unique_ptr<kv::AppContext> ctx;
    std::atomic<bool> stop{false};
    std::atomic<bool> polling{false};
    std::thread service;
    std::unique_ptr<ResultStamps> results;
    std::atomic<std::int64_t> waitNs{0};  // the service's time inside device requests

    // `saveInvoice` false: the invoice model keeps no files beside the
    // settings (not a shipped mode; it shows what those saves cost).
    Rig(int scanTime, bool saveInvoice) : scanTime_(scanTime), saveInvoice_(saveInvoice) {}

    // Folders, device, service and a first invoice through it. Throws with
    // the service's log when it does not come up; the destructor cleans up.
    void start() {
        kv::platform::SetDecimalSeparator(',');
        root = fs::temp_directory_path() / ("kv_bench_inbox_" + std::to_string(::getpid()));
        fs::remove_all(root);
        in = root / "ulaz";
        out = root / "izlaz";
        staging = root / "staging";
        for (const auto& d : {in, out, staging}) fs::create_directories(d);

        kv::sim::Config cfg;
        cfg.token = "tok";
        cfg.pinRequired = false;
        cfg.renderImages = false;
        sim.setConfig(cfg);
        const int port = sim.start(0);
        std::ofstream(root / "kovira.ini") << "[Global]\nBaseURL=http://127.0.0.1\nPort=" << port
                                           << "\nToken=tok\nPIN=1234\nRenderPrint=0\nInputFolder=" << in.string()
                                           << "\nOutputFolder=" << out.string() << "\nScanTime=" << scanTime_ << "\n";
        results = std::make_unique<ResultStamps>(out);

        ctx = std::make_unique<kv::AppContext>((root / "kovira.ini").string(), prompter, (root / "locks").string());
        if (ctx->Start() != kv::AppContext::StartResult::Ok) throw std::runtime_error("service refused to start");
        if (!saveInvoice_) ctx->invoice.setSaveFolder("");
        ctx->setDeviceWaiter([this](const kv::device::WaitingTransport::Request& request) {
            const auto t = Clock::now();
            auto result = request();
            waitNs += std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now() - t).count();
            return result;
        });
        // The watcher is switched on at the end of its start-up: from then on a
        // dropped file is a new one, not a leftover to ask the device about.
        ctx->watcher().onEnabledChanged = [this](bool on) {
            if (on) polling = true;
        };
        service = std::thread([this] { kv::RunService(*ctx, log, stop); });
        const auto deadline = Clock::now() + 10s;
        while (!polling && Clock::now() < deadline) std::this_thread::sleep_for(1ms);
        if (!polling) throw std::runtime_error("service did not start:\n" + logBuf.text());

        // One invoice first: the connection to the device is up, the first
        // dataset files exist, and the loop is in its normal rhythm.
        const std::string warm = kv::platform::NewGuid();
        Stage(staging, warm);
        Arrive(staging, in, warm);
        if (!results->waitFor(1, Clock::now() + 10s)) throw std::runtime_error("no answer to the first file:\n" + logBuf.text());
    }
    ~Rig() {
        stop = true;
        if (service.joinable()) service.join();
        results.reset();
        ctx.reset();
        sim.stop();
        std::error_code ec;
        if (!root.empty()) fs::remove_all(root, ec);
    }
    std::size_t signedCount() const { return logBuf.count(": signed "); }
    // A file's outcome is logged just after its result file is in place.
    bool allSigned(std::size_t expected) const {
        const auto deadline = Clock::now() + 5s;
        while (signedCount() < expected && Clock::now() < deadline) std::this_thread::sleep_for(1ms);
        return signedCount() == expected;
    }
    // Why a run is not counted: how far it got and the lines that are not plain progress.
    std::string failure(std::size_t expected) const {
        std::ostringstream why;
        why << results->size() << " result files, " << signedCount() << " signed, " << expected << " expected";
        std::istringstream lines(logBuf.text());
        int shown = 0;
        for (std::string line; std::getline(lines, line) && shown < 20;)
            if (line.rfind("device: ", 0) != 0 && line.find(": signed ") == std::string::npos) {
                why << "\n" << line;
                ++shown;
            }
        return why.str();
    }

private:
    int scanTime_;
    bool saveInvoice_;
};

// Starts the rig, or marks the run failed with the reason.
bool Started(Rig& rig, benchmark::State& state) {
    try {
        rig.start();
        return true;
    } catch (const std::exception& e) {
        state.SkipWithError(e.what());
        return false;
    }
}

double Percentile(std::vector<double> v, double p) {
    if (v.empty()) return 0;
    const std::size_t k = std::min(v.size() - 1, static_cast<std::size_t>(p * static_cast<double>(v.size() - 1) + 0.5));
    std::nth_element(v.begin(), v.begin() + static_cast<std::ptrdiff_t>(k), v.end());
    return v[k];
}

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

// Latencies (ms) of the files given with their arrival times.
std::vector<double> Latencies(const Rig& rig, const std::vector<std::pair<std::string, Clock::time_point>>& arrived) {
    const auto stamps = rig.results->stamps();
    std::vector<double> ms;
    ms.reserve(arrived.size());
    for (const auto& [id, t] : arrived)
        if (auto it = stamps.find(id + ".kvr"); it != stamps.end()) ms.push_back(Ms(it->second - t));
    return ms;
}

void BM_InboxBurst(benchmark::State& state) {
    const int files = static_cast<int>(state.range(0));
    const int scanTime = static_cast<int>(state.range(1));
    const bool saves = state.range(2) != 0;
    for (auto _ : state) {
        Rig rig(scanTime, saves);
        if (!Started(rig, state)) break;
        std::vector<std::string> ids;
        for (int i = 0; i < files; ++i) {
            ids.push_back(kv::platform::NewGuid());
            Stage(rig.staging, ids.back());
        }
        const std::size_t before = rig.results->size();
        std::vector<std::pair<std::string, Clock::time_point>> arrived;
        arrived.reserve(ids.size());
        const auto device0 = rig.sim.answerTime();
        const std::int64_t wait0 = rig.waitNs;
        const auto t0 = Clock::now();
        for (const auto& id : ids) {
            Arrive(rig.staging, rig.in, id);
            arrived.emplace_back(id, Clock::now());
        }
        const bool done = rig.results->waitFor(before + ids.size(), Clock::now() + 300s);
        const auto device = rig.sim.answerTime() - device0;
        const double waitMs = static_cast<double>(rig.waitNs - wait0) / 1e6;
        const auto stamps = rig.results->stamps();
        Clock::time_point first = Clock::time_point::max(), last = t0;
        for (const auto& id : ids)
            if (auto it = stamps.find(id + ".kvr"); it != stamps.end()) {
                first = std::min(first, it->second);
                last = std::max(last, it->second);
            }
        if (!done || !rig.allSigned(ids.size() + 1)) {
            state.SkipWithError(rig.failure(ids.size() + 1).c_str());
            break;
        }
        const double wall = std::chrono::duration<double>(last - t0).count();
        state.SetIterationTime(wall);
        state.counters["inv_per_s"] = files / wall;
        // Without the wait for the first poll: the service's own pace.
        state.counters["inv_per_s_busy"] = (files - 1) / std::chrono::duration<double>(last - first).count();
        state.counters["first_ms"] = Ms(first - t0);
        state.counters["wall_s"] = wall;
        state.counters["device_ms"] = Ms(device) / files;
        state.counters["own_ms"] = (wall * 1000.0 - Ms(device)) / files;
        state.counters["wait_ms"] = waitMs / files;
        state.counters["own_net_ms"] = (wall * 1000.0 - waitMs) / files;
        const auto ms = Latencies(rig, arrived);
        state.counters["median_ms"] = Percentile(ms, 0.50);
        state.counters["p99_ms"] = Percentile(ms, 0.99);
    }
}
BENCHMARK(BM_InboxBurst)
    ->ArgNames({"files", "scan_ms", "saves"})
    ->Args({1000, 500, 1})
    ->Args({1000, 500, 0})
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

void BM_InboxSteady(benchmark::State& state) {
    const int rate = static_cast<int>(state.range(0));
    const int scanTime = static_cast<int>(state.range(1));
    const int files = static_cast<int>(state.range(2));
    for (auto _ : state) {
        Rig rig(scanTime, true);
        if (!Started(rig, state)) break;
        const std::size_t before = rig.results->size();
        std::vector<std::pair<std::string, Clock::time_point>> arrived;
        arrived.reserve(static_cast<std::size_t>(files));
        const auto period = std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(1.0 / rate));
        const auto device0 = rig.sim.answerTime();
        const std::int64_t wait0 = rig.waitNs;
        const auto t0 = Clock::now();
        for (int i = 0; i < files; ++i) {
            std::this_thread::sleep_until(t0 + period * i);
            const std::string id = kv::platform::NewGuid();
            Stage(rig.staging, id);
            Arrive(rig.staging, rig.in, id);
            arrived.emplace_back(id, Clock::now());
        }
        const auto offered = Clock::now() - t0;
        const bool done = rig.results->waitFor(before + arrived.size(), Clock::now() + 300s);
        const auto device = rig.sim.answerTime() - device0;
        const double waitMs = static_cast<double>(rig.waitNs - wait0) / 1e6;
        if (!done || !rig.allSigned(arrived.size() + 1)) {
            state.SkipWithError(rig.failure(arrived.size() + 1).c_str());
            break;
        }
        const auto ms = Latencies(rig, arrived);
        Clock::time_point last = t0;
        for (const auto& [name, t] : rig.results->stamps()) last = std::max(last, t);
        const double wall = std::chrono::duration<double>(last - t0).count();
        state.SetIterationTime(wall);
        state.counters["offered_per_s"] = files / std::chrono::duration<double>(offered).count();
        state.counters["inv_per_s"] = files / wall;
        state.counters["median_ms"] = Percentile(ms, 0.50);
        state.counters["p99_ms"] = Percentile(ms, 0.99);
        state.counters["max_ms"] = *std::max_element(ms.begin(), ms.end());
        double mean = 0;
        for (double m : ms) mean += m / static_cast<double>(ms.size());
        state.counters["device_ms"] = Ms(device) / files;
        state.counters["own_ms"] = mean - Ms(device) / files;
        state.counters["wait_ms"] = waitMs / files;
        state.counters["own_net_ms"] = mean - waitMs / files;
    }
}
BENCHMARK(BM_InboxSteady)
    ->ArgNames({"rate", "scan_ms", "files"})
    ->Args({100, 500, 1000})
    ->Args({250, 500, 1000})
    ->Args({500, 500, 2000})
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace

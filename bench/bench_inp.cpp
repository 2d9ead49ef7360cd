// Speed of the text invoice road: 1,000 ".inp" files of five lines each
// renamed at once into the input folder of a running headless service
// (kv::RunService on a thread, the simulated device on 127.0.0.1 in the
// same process), wall time until the last file has been signed and deleted
// -> inv_per_s, the register file and the request record on the real disk.
//
// DocumentsOnly takes the same files through the register alone (read,
// document written and confirmed in its transaction, no device): what the
// database part of the road costs per file.
#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "FiscalSimulator.h"
#include "sim_support.h"
#include "app/AppContext.h"
#include "app/Service.h"
#include "platform/Platform.h"
#include "register/DemoData.h"
#include "register/uDMGlavni.h"
#include "util/LogPrompter.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

namespace {

constexpr int kFiles = 1000;

std::string InpText(int n) {
    return "S;Kafa " + std::to_string(n) + ";2.50;2;;;2;;1003\r\nS;Voda;1,20;1;;;2;;1001\r\nS;Sok;2.45;" +
           std::to_string(1 + n % 3) + ";;;2;;1002\r\nS;Kesa;0.10;1;;;2;;1007\r\nT;0\r\n";
}

struct Setup {
    kv::test::ScratchFolder dirs{"kv_bench_inp_"};
    const fs::path &root = dirs.root, &in = dirs.in, &out = dirs.out, stage = root / "stage";
    kv::sim::FiscalSimulator sim;
    int port = 0;
    Setup() {
        kv::platform::SetDecimalSeparator(',');
        port = kv::test::StartSimulator(sim);
        fs::create_directories(stage);
        dirs.writeIni(kv::test::InboxSettings(port, in, out, 500));
        kv::reg::TDMGlavni db((root / kv::reg::kDatabaseName).string());
        kv::reg::LoadDemoData(db);
        for (int i = 0; i < kFiles; ++i)
            std::ofstream(stage / (std::to_string(100000 + i) + ".inp"), std::ios::binary) << InpText(i);
    }
    int left() const {
        int n = 0;
        for (const auto& e : fs::directory_iterator(in)) n += e.path().extension() == ".inp";
        return n;
    }
};

void Burst(benchmark::State& state) {
    for (auto _ : state) {
        Setup s;
        std::ostringstream log;
        kv::LogPrompter prompter(log);
        kv::AppContext ctx((s.root / "kovira.ini").string(), prompter, (s.root / "locks").string());
        ctx.Start();
        std::atomic<bool> stop{false};
        std::thread t([&] { kv::RunService(ctx, log, stop); });
        std::this_thread::sleep_for(300ms);  // up and waiting
        const auto start = Clock::now();
        for (const auto& e : fs::directory_iterator(s.stage)) fs::rename(e.path(), s.in / e.path().filename());
        while (s.left() > 0 && Clock::now() - start < 120s) std::this_thread::sleep_for(2ms);
        const double secs = std::chrono::duration<double>(Clock::now() - start).count();
        stop = true;
        t.join();
        state.counters["inv_per_s"] = kFiles / secs;
        state.counters["signed"] = static_cast<double>(s.sim.signedInvoices().size());
    }
}

void DocumentsOnly(benchmark::State& state) {
    for (auto _ : state) {
        Setup s;
        std::ostringstream log;
        kv::LogPrompter prompter(log);
        kv::AppContext ctx((s.root / "kovira.ini").string(), prompter, (s.root / "locks").string());
        ctx.Start();
        ctx.settings.FillRecords({});
        std::vector<std::pair<std::string, std::string>> files;
        for (const auto& e : fs::directory_iterator(s.stage)) {
            std::ifstream f(e.path(), std::ios::binary);
            files.emplace_back(e.path().filename().string(), std::string(std::istreambuf_iterator<char>(f), {}));
        }
        const auto start = Clock::now();
        for (const auto& [name, bytes] : files) ctx.watcher().inp->Take(s.in.string(), {{name, bytes}}, false);
        const double secs = std::chrono::duration<double>(Clock::now() - start).count();
        state.counters["docs_per_s"] = kFiles / secs;
    }
}

}  // namespace

BENCHMARK(Burst)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(DocumentsOnly)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

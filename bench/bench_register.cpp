// The register on the large generated set: 100,000 articles with up to three
// barcodes each and 1,000,000 document lines over two years. The file is
// generated once into the build folder (KOVIRA_BENCH_SDB names another) and
// reused by later runs.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>

#include "register/DemoData.h"
#include "register/uDMGlavni.h"

namespace fs = std::filesystem;
using kv::reg::TDMGlavni;

namespace {

constexpr int kYear = 2024;  // the second year of the set

std::string LargeSet() {
    static const std::string path = [] {
        const char* env = std::getenv("KOVIRA_BENCH_SDB");
        std::string p = env ? env : "bench_register.sdb";
        if (!fs::exists(p)) {
            std::cerr << "bench_register: generating " << p << " (once)..." << std::endl;
            const std::string tmp = p + ".part";
            fs::remove(tmp);
            {
                TDMGlavni dm(tmp);
                kv::reg::GenerateLargeSet(dm, {100'000, 1'000'000, kYear - 1, 5, 1});
            }
            fs::rename(tmp, p);
        }
        return p;
    }();
    return path;
}

TDMGlavni& Shared() {
    static TDMGlavni dm(LargeSet());
    return dm;
}

// Resident memory of the process in bytes (Linux).
long ResidentBytes() {
    std::ifstream in("/proc/self/statm");
    long pages = 0, resident = 0;
    in >> pages >> resident;
    return resident * 4096;
}

// Opening the file (schema script included) and reading the article search list.
void BM_OpenAndArticleList(benchmark::State& state) {
    const std::string path = LargeSet();
    size_t rows = 0;
    long memory = 0;
    for (auto _ : state) {
        const long before = ResidentBytes();
        TDMGlavni dm(path);
        auto list = dm.ArtiklBarKod();
        rows = list.size();
        memory = ResidentBytes() - before;
        benchmark::DoNotOptimize(list.data());
    }
    state.counters["rows"] = static_cast<double>(rows);
    state.counters["list_MB"] = static_cast<double>(memory) / (1024 * 1024);
}
BENCHMARK(BM_OpenAndArticleList)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_OpenOnly(benchmark::State& state) {
    const std::string path = LargeSet();
    for (auto _ : state) {
        TDMGlavni dm(path);
        benchmark::DoNotOptimize(&dm);
    }
}
BENCHMARK(BM_OpenOnly)->Unit(benchmark::kMillisecond);

void BM_LookupBarcode(benchmark::State& state) {
    auto& dm = Shared();
    int i = 0;
    for (auto _ : state) {
        char ean[24];
        // Article n has (n - 1) % 4 barcodes; 4k + 2 has at least one.
        int article = 4 * ((i++ * 7919) % 25'000) + 2;
        std::snprintf(ean, sizeof ean, "38%09d%02d", article, 0);
        auto hit = dm.FindBarcode(ean);
        if (!hit) state.SkipWithError("barcode not found");
        benchmark::DoNotOptimize(hit);
    }
}
BENCHMARK(BM_LookupBarcode)->Unit(benchmark::kMicrosecond);

void BM_LookupCode(benchmark::State& state) {
    auto& dm = Shared();
    int i = 0;
    for (auto _ : state) {
        char code[16];
        std::snprintf(code, sizeof code, "G%06d", 1 + (i++ * 7919) % 100'000);
        auto hit = dm.FindArticle(code);
        if (!hit) state.SkipWithError("article not found");
        benchmark::DoNotOptimize(hit);
    }
}
BENCHMARK(BM_LookupCode)->Unit(benchmark::kMicrosecond);

// Taking a number: the immediate transaction with the insert. The created
// headers are removed after the timed loop.
void BM_NextNumber(benchmark::State& state) {
    auto& dm = Shared();
    std::vector<std::int64_t> made;
    for (auto _ : state) {
        auto h = TDMGlavni::NewRecord("Doku");
        h.set("Godina", std::int64_t(kYear)).set("UI", std::int64_t(kv::reg::kRacun)).set("Status", std::int64_t(1));
        made.push_back(dm.NewDocument(h));
    }
    for (auto b : made) dm.DeleteDocument(kYear, kv::reg::kRacun, b);
}
BENCHMARK(BM_NextNumber)->Unit(benchmark::kMicrosecond)->Iterations(200);

void BM_NoviDokuQuery(benchmark::State& state) {
    auto& dm = Shared();
    for (auto _ : state) benchmark::DoNotOptimize(dm.NoviDoku(kYear, kv::reg::kRacun));
}
BENCHMARK(BM_NoviDokuQuery)->Unit(benchmark::kMicrosecond);

void BM_StockOfOneArticle(benchmark::State& state) {
    auto& dm = Shared();
    int i = 0;
    for (auto _ : state) {
        char code[16];
        std::snprintf(code, sizeof code, "G%06d", 1 + (i++ * 7919) % 100'000);
        benchmark::DoNotOptimize(dm.Zalihe(kYear, code));
    }
}
BENCHMARK(BM_StockOfOneArticle)->Unit(benchmark::kMicrosecond);

void BM_TotalOfOneInvoice(benchmark::State& state) {
    auto& dm = Shared();
    int i = 0;
    for (auto _ : state) benchmark::DoNotOptimize(dm.ZbirRac(kYear, kv::reg::kRacun, 1 + (i++ * 7919) % 90'000));
}
BENCHMARK(BM_TotalOfOneInvoice)->Unit(benchmark::kMicrosecond);

void BM_OpenInvoiceOfTheYear(benchmark::State& state) {
    auto& dm = Shared();
    for (auto _ : state) benchmark::DoNotOptimize(dm.Otvoren(kYear));
}
BENCHMARK(BM_OpenInvoiceOfTheYear)->Unit(benchmark::kMicrosecond);

}  // namespace

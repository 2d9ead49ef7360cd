// The overviews on the large generated set (100,000 articles, 1,000,000
// document lines over 2023 and 2024): the stock list of a year, the
// merchandise book of a month and each turnover view of a month. The set is
// the one bench_register generates (bench_register.sdb in the working folder,
// or the file KOVIRA_BENCH_SDB names), generated here when missing.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <iostream>
#include <string>

#include "register/DemoData.h"
#include "register/Overviews.h"
#include "register/uDMGlavni.h"

namespace fs = std::filesystem;
using kv::DateTime;
using kv::reg::TDMGlavni;
namespace reg = kv::reg;

namespace {

constexpr int kYear = 2024;

TDMGlavni& Shared() {
    static TDMGlavni* dm = [] {
        const char* env = std::getenv("KOVIRA_BENCH_SDB");
        std::string p = env ? env : "bench_register.sdb";
        if (!fs::exists(p)) {
            std::cerr << "bench_overviews: generating " << p << " (once)..." << std::endl;
            const std::string tmp = p + ".part";
            fs::remove(tmp);
            {
                TDMGlavni gen(tmp);
                reg::GenerateLargeSet(gen, {100'000, 1'000'000, kYear - 1, 5, 1});
            }
            fs::rename(tmp, p);
        }
        // Opening runs the schema script, which builds any index still
        // missing on an older file; that happens here, outside the timings.
        return new TDMGlavni(p);
    }();
    return *dm;
}

const reg::DateRange kYearRange{DateTime::fromParts(kYear, 1, 1), DateTime::fromParts(kYear, 12, 31)};
const reg::DateRange kMonth{DateTime::fromParts(kYear, 5, 1), DateTime::fromParts(kYear, 5, 31)};

void BM_StanjeZalihaYear(benchmark::State& state) {
    auto& dm = Shared();
    size_t rows = 0;
    for (auto _ : state) {
        auto r = reg::StanjeZaliha(dm, kYearRange);
        rows = r.rows.size();
        benchmark::DoNotOptimize(r.Ukupno);
    }
    state.counters["rows"] = static_cast<double>(rows);
}
BENCHMARK(BM_StanjeZalihaYear)->Unit(benchmark::kMillisecond)->MinTime(2);

void BM_TKMonth(benchmark::State& state) {
    auto& dm = Shared();
    size_t rows = 0;
    for (auto _ : state) {
        auto r = reg::TK(dm, kMonth);
        rows = r.size();
        benchmark::DoNotOptimize(r.data());
    }
    state.counters["rows"] = static_cast<double>(rows);
}
BENCHMARK(BM_TKMonth)->Unit(benchmark::kMillisecond);

void BM_RekNacPlMonth(benchmark::State& state) {
    auto& dm = Shared();
    for (auto _ : state) benchmark::DoNotOptimize(reg::RekNacPl(dm, kMonth, reg::PrikaziRacune::Sve).Ukupno);
}
BENCHMARK(BM_RekNacPlMonth)->Unit(benchmark::kMillisecond);

void BM_RekRadnikMonth(benchmark::State& state) {
    auto& dm = Shared();
    for (auto _ : state) benchmark::DoNotOptimize(reg::RekRadnik(dm, kMonth, reg::PrikaziRacune::Sve).Ukupno);
}
BENCHMARK(BM_RekRadnikMonth)->Unit(benchmark::kMillisecond);

void BM_PrometDetaljniMonth(benchmark::State& state) {
    auto& dm = Shared();
    size_t rows = 0;
    for (auto _ : state) {
        auto r = reg::PrometDetaljni(dm, kMonth, reg::PrikaziRacune::Sve);
        rows = r.size();
        benchmark::DoNotOptimize(r.data());
    }
    state.counters["rows"] = static_cast<double>(rows);
}
BENCHMARK(BM_PrometDetaljniMonth)->Unit(benchmark::kMillisecond);

}  // namespace

// Speed of the money helpers every amount passes through, and of the
// save-after-post / restore cycle of the invoice datasets.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "util/CdsFile.h"
#include "util/Currency.h"

namespace {

std::vector<kv::Currency> randomAmounts(std::size_t n) {
    std::mt19937_64 rng(42);
    std::uniform_int_distribution<std::int64_t> dist(-100'000'000'000, 100'000'000'000);  // +-10 million
    std::vector<kv::Currency> out;
    for (std::size_t i = 0; i < n; ++i) out.push_back(kv::Currency::fromRaw(dist(rng)));
    return out;
}

void BM_RoundCurr(benchmark::State& state) {
    const auto values = randomAmounts(4096);
    for (auto _ : state) {
        for (kv::Currency v : values) benchmark::DoNotOptimize(kv::RoundCurr(-2, v));
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * values.size()));
}
BENCHMARK(BM_RoundCurr);

void BM_ParseCurrency(benchmark::State& state) {
    std::vector<std::string> texts;
    for (kv::Currency v : randomAmounts(4096)) texts.push_back(kv::LocaleNumberText(v, ','));
    for (auto _ : state) {
        for (const std::string& t : texts) benchmark::DoNotOptimize(kv::ParseCurrency(t, ','));
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * texts.size()));
}
BENCHMARK(BM_ParseCurrency);

// An Items-like table of 1,000 lines.
void fillItems(kv::MemTable& t) {
    using kv::FieldType;
    for (const kv::FieldDef& f : std::vector<kv::FieldDef>{{"Sifra", FieldType::Integer},
                                                           {"gtin", FieldType::String, 14},
                                                           {"name", FieldType::String, 100},
                                                           {"quantity", FieldType::Currency},
                                                           {"unitPrice", FieldType::Currency},
                                                           {"totalAmount", FieldType::Currency},
                                                           {"labels", FieldType::String, 10},
                                                           {"Datum", FieldType::DateTime}})
        t.addField(f);
    t.open();
    const auto amounts = randomAmounts(1000);
    for (int i = 0; i < 1000; ++i) {
        t.append();
        t.field("Sifra").setValue(std::int64_t{i});
        t.field("gtin").setValue("3870000" + std::to_string(100000 + i));
        t.field("name").setValue("Artikal broj " + std::to_string(i) + " čćžšđ");
        t.field("quantity").setValue(kv::Currency(i % 7 + 1));
        t.field("unitPrice").setValue(amounts[static_cast<std::size_t>(i)]);
        t.field("totalAmount").setValue(amounts[static_cast<std::size_t>(i)] * (i % 7 + 1));
        t.field("labels").setValue("Ђ");
        t.field("Datum").setValue(kv::DateTime::fromParts(2024, 5, 1, 10, 30, i % 60));
        t.post();
    }
}

std::string benchPath() {
    return (std::filesystem::temp_directory_path() / ("kv_bench_" + std::to_string(::getpid()) + ".cds")).string();
}

void BM_SaveCdsFile1000(benchmark::State& state) {
    kv::MemTable t;
    fillItems(t);
    const std::string path = benchPath();
    for (auto _ : state) kv::SaveCdsFile(t, path);
    state.counters["bytes"] = static_cast<double>(std::filesystem::file_size(path));
    std::filesystem::remove(path);
}
BENCHMARK(BM_SaveCdsFile1000)->Unit(benchmark::kMillisecond);

void BM_LoadCdsFile1000(benchmark::State& state) {
    kv::MemTable source;
    fillItems(source);
    const std::string path = benchPath();
    kv::SaveCdsFile(source, path);
    kv::MemTable target;
    fillItems(target);
    for (auto _ : state) benchmark::DoNotOptimize(kv::LoadCdsFile(target, path));
    std::filesystem::remove(path);
}
BENCHMARK(BM_LoadCdsFile1000)->Unit(benchmark::kMillisecond);

}  // namespace

// Selling at the cash register on the large generated set (the file of
// bench_register: 100,000 articles with up to three barcodes each, 1,000,000
// document lines): a scanned barcode to a saved line, one keystroke in the
// filter field, and what F9 adds to the device's own time.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <iostream>
#include <random>

#include "app/Settings.h"
#include "device/InvoiceModel.h"
#include "platform/Platform.h"
#include "register/DemoData.h"
#include "register/HandOff.h"
#include "register/InvoiceEntry.h"
#include "register/uDMGlavni.h"
#include "util/ScriptedPrompter.h"

namespace fs = std::filesystem;
using namespace kv;
using namespace kv::reg;

namespace {

constexpr int kYear = 2031;  // a year of its own: the set's documents stay as they are

TDMGlavni& Shared() {
    static TDMGlavni dm = [] {
        const char* env = std::getenv("KOVIRA_BENCH_SDB");
        std::string p = env ? env : "bench_register.sdb";
        if (!fs::exists(p)) {
            std::cerr << "bench_selling: generating " << p << " (once)..." << std::endl;
            const std::string tmp = p + ".part";
            fs::remove(tmp);
            {
                TDMGlavni gen(tmp);
                GenerateLargeSet(gen, {100'000, 1'000'000, 2023, 5, 1});
            }
            fs::rename(tmp, p);
        }
        return TDMGlavni(p);
    }();
    return dm;
}

struct Session {
    ScriptedPrompter prompter{true};
    AppSettings settings{"unused.ini", prompter};
    SettingsRecord& kasa = settings.KasaBaf;
    InvoiceEntry entry;
    explicit Session(int stockMode) : entry(Shared(), kasa, prompter) {
        kasa.setInt("Godina", kYear);
        kasa.setDate("Datum", std::chrono::year_month_day{std::chrono::year(kYear), std::chrono::month(1),
                                                          std::chrono::day(2)});
        kasa.setText("NacPl", "0");
        kasa.setInt("Zalihe", stockMode);
        entry.articles().Load(Shared());
        entry.OpenYear();
    }
};

Session& Shop() {
    static Session s(1);  // stock shown, as most shops run
    return s;
}

std::vector<std::string> SomeBarcodes(std::size_t n) {
    std::vector<std::string> out;
    const auto& rows = Shop().entry.articles().rows();
    std::mt19937 rng(7);
    while (out.size() < n) {
        const auto& r = rows[rng() % rows.size()];
        if (!r.Barkod.empty()) out.push_back(r.Barkod);
    }
    return out;
}

void BM_ArticleListLoad(benchmark::State& state) {
    ArticleList list;
    for (auto _ : state) list.Load(Shared());
    state.counters["rows"] = static_cast<double>(list.rows().size());
}
BENCHMARK(BM_ArticleListLoad)->Unit(benchmark::kMillisecond)->Iterations(3);

// Enter in the barcode field (the article found, stock read), then the line
// saved and the next one opened, as a scanner-only sale runs.
void BM_ScanBarcodeToLine(benchmark::State& state) {
    auto& e = Shop().entry;
    const auto codes = SomeBarcodes(1024);
    std::size_t i = 0;
    for (auto _ : state) {
        if (!e.header() || e.lines().size() > 50) {
            state.PauseTiming();
            e.CancelLine();
            if (e.header() && !e.lines().empty()) {
                Shop().prompter.answerConfirm(true);
                e.ConfirmInvoice();
            }
            e.NewInvoice(false);
            state.ResumeTiming();
        }
        if (e.BarcodeEnter(codes[i++ % codes.size()]) != Focus::Quantity) state.SkipWithError("not found");
        e.LineFieldEnter(InvoiceEntry::LineField::Amount);  // saved, next line open
    }
}
BENCHMARK(BM_ScanBarcodeToLine)->Unit(benchmark::kMicrosecond);

// One keystroke in the filter field: the list filtered again with the text
// one character longer.
void BM_FilterKeystroke(benchmark::State& state) {
    auto& list = Shop().entry.articles();
    const char* texts[] = {"a", "ar", "art", "arti", "1", "12", "123", "1234"};
    std::size_t i = 0, shown = 0;
    for (auto _ : state) {
        list.SetFilter(texts[i++ % 8]);
        shown += list.size();
    }
    list.ClearFilter();
    state.counters["shown_avg"] = static_cast<double>(shown) / static_cast<double>(state.iterations());
}
BENCHMARK(BM_FilterKeystroke)->Unit(benchmark::kMillisecond);

// What F9 does besides waiting for the device: lines, tariffs and payment
// types read, the fiscal invoice filled and saved to its files (forced to
// disk, as in the window), and the device's answer written into the header.
void BM_HandOffOverhead(benchmark::State& state) {
    auto& e = Shop().entry;
    e.CancelLine();
    e.NewInvoice(false);
    for (const auto& c : SomeBarcodes(5)) {
        e.BarcodeEnter(c);
        e.SaveLine();
        e.DodajSt();
    }
    Shop().prompter.answerConfirm(true);
    e.ConfirmInvoice();
    Record header = *e.header();
    const std::string folder = (fs::temp_directory_path() / "kv_bench_handoff").string();
    fs::create_directories(folder);
    device::InvoiceModel model;
    model.setSaveFolder(folder);
    for (auto _ : state) {
        const auto lines = Shared().StavkeRac(kYear, kRacun, *header.integer("Broj"));
        HandOffSource src;
        src.header = &header;
        src.lines = &lines;
        for (const auto& t : Shared().Tarifa()) src.fiskTax[t.text("SIFRA")] = t.text("FiskTax");
        for (const auto& p : Shared().NacPl())
            if (p.text("Sifra") == header.text("NacinPL")) src.fiskPayType = p.integer("FiskPayType").value_or(0);
        src.workDate = DateTime::fromParts(kYear, 1, 2);
        src.now = std::time(nullptr);
        src.requestId = header.text("ID");
        FillInvoiceModel(model, src);
        // The answer stored as the device would have sent it.
        model.Invoice.edit();
        model.Invoice.field("PFRnumber").setValue(Value(std::string("KVSIM7Q2-KVSIM7Q2-1")));
        model.Invoice.post();
        header.set("PFRBROJ", model.Invoice.field("PFRnumber").asString());
        Shared().Save(header);
        e.Reload();
    }
    fs::remove_all(folder);
}
BENCHMARK(BM_HandOffOverhead)->Unit(benchmark::kMillisecond);

}  // namespace

// Speed of one whole fiscalisation (attention, status, invoice) against the
// simulated device on loopback, through the same transport, client, model
// and run the application uses. One transport serves every iteration, so the
// GET requests ride the kept-alive connection; the invoice, which changes
// the device's state, always opens its own.
//
// Counters: median and p99 are wall-clock latencies of single runs; the
// per-step figures split the mean run into the time each request spent in
// the transport (libcurl, loopback, the device) and what remains on Kovira's
// side (building the body, indenting and tabulating every answer, flattening
// it, filling the tax rows).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "FiscalSimulator.h"
#include "sim_support.h"
#include "device/CurlTransport.h"
#include "device/DeviceClient.h"
#include "device/Fiscalizer.h"
#include "device/InvoiceModel.h"

using namespace kv;
using namespace kv::device;
using Clock = std::chrono::steady_clock;

namespace {

using kv::test::QuietDevice;

// Times every request the client sends, by its position in the run.
class TimedTransport final : public HttpTransport {
public:
    explicit TimedTransport(HttpTransport& inner) : inner_(inner) {}
    HttpResult execute(const HttpRequest& request) override {
        const auto t0 = Clock::now();
        HttpResult r = inner_.execute(request);
        if (step < kSteps) us[step] += std::chrono::duration<double, std::micro>(Clock::now() - t0).count();
        ++step;
        return r;
    }
    static constexpr int kSteps = 3;
    double us[kSteps] = {};
    int step = 0;

private:
    HttpTransport& inner_;
};

struct Bench {
    sim::FiscalSimulator sim{QuietDevice()};
    CurlTransport curl;
    TimedTransport transport{curl};
    DeviceSettings device;
    InvoiceModel model;
    DeviceClient client{transport, [this] { return device; }};
    Fiscalizer fisk{client, model, [] {
                        RunSettings r;
                        r.printUredjaj = 0;
                        r.renderPrint = 0;  // no receipt picture asked for
                        return r;
                    }};
    unsigned long serial = 0;

    Bench() : device{"http://127.0.0.1", std::to_string(sim.start(0)), "tok", "", false} {}

    void fillSale(int items) {
        model.Clear();
        model.Invoice.append();
        model.Invoice.field("dateAndTimeOfIssue").setValue("2024-03-12T06:47:30Z");
        model.Invoice.field("cashier").setValue("Marko");
        model.Invoice.field("invoiceType").setValue(Value(int64_t{0}));
        model.Invoice.field("transactionType").setValue(Value(int64_t{0}));
        model.Invoice.field("invoiceNumber").setValue("R-1");
        model.Invoice.post();
        static const char* const labels[] = {"E", "K", "A"};
        for (int i = 0; i < items; ++i) {
            model.Items.append();
            model.Items.field("name").setValue(("Artikal " + std::to_string(i + 1)).c_str());
            model.Items.field("quantity").setValue("2");
            model.Items.field("labels").setValue(labels[i % 3]);
            model.Items.field("unitPrice").setValue("12.35");
            model.Items.field("totalAmount").setValue("24.70");
            model.Items.post();
        }
        model.Payment.append();
        model.Payment.field("amount").setValue(std::to_string(items * 25).c_str());
        model.Payment.field("paymentType").setValue(Value(int64_t{1}));
        model.Payment.post();
    }

    // Every run signs a new invoice: the device answers a known request id
    // from memory, which would measure a lookup instead of a signing.
    void nextRequestId() {
        char id[40];
        std::snprintf(id, sizeof id, "{%08lX-0000-4000-8000-000000000000}", ++serial);
        model.Invoice.edit();
        model.Invoice.field("RequestId").setValue(id);
        model.Invoice.post();
    }
};

double percentile(std::vector<double> v, double p) {
    if (v.empty()) return 0;
    const std::size_t k = std::min(v.size() - 1, static_cast<std::size_t>(p * static_cast<double>(v.size() - 1) + 0.5));
    std::nth_element(v.begin(), v.begin() + static_cast<std::ptrdiff_t>(k), v.end());
    return v[k];
}

void reportLatencies(benchmark::State& state, const std::vector<double>& us) {
    state.counters["median_us"] = percentile(us, 0.50);
    state.counters["p99_us"] = percentile(us, 0.99);
    state.SetItemsProcessed(state.iterations());
}

void BM_Fiscalize(benchmark::State& state) {
    Bench b;
    b.fillSale(static_cast<int>(state.range(0)));
    std::vector<double> us;
    us.reserve(1 << 16);
    for (auto _ : state) {
        b.nextRequestId();
        b.transport.step = 0;
        const auto t0 = Clock::now();
        b.fisk.Fiscalize();
        const auto t1 = Clock::now();
        if (!b.fisk.FiskGreska.empty() || b.transport.step != TimedTransport::kSteps) {
            state.SkipWithError(("run failed: " + b.fisk.FiskGreska).c_str());
            break;
        }
        const double d = std::chrono::duration<double>(t1 - t0).count();
        state.SetIterationTime(d);
        us.push_back(d * 1e6);
    }
    reportLatencies(state, us);
    const char* const steps[TimedTransport::kSteps] = {"attention", "status", "invoice"};
    double wire = 0;
    for (int i = 0; i < TimedTransport::kSteps; ++i) {
        const double mean = us.empty() ? 0 : b.transport.us[i] / static_cast<double>(us.size());
        state.counters[std::string(steps[i]) + "_us"] = mean;
        wire += mean;
    }
    double total = 0;
    for (double v : us) total += v;
    state.counters["local_us"] = us.empty() ? 0 : total / static_cast<double>(us.size()) - wire;
}
BENCHMARK(BM_Fiscalize)->ArgName("items")->Arg(1)->Arg(10)->UseManualTime()->Unit(benchmark::kMicrosecond);

// The floor under every device command: one GET over the kept-alive connection.
void BM_AttentionRoundTrip(benchmark::State& state) {
    Bench b;
    std::vector<double> us;
    us.reserve(1 << 18);
    for (auto _ : state) {
        const auto t0 = Clock::now();
        const bool ok = b.client.CmdAttention();
        const auto t1 = Clock::now();
        if (!ok) {
            state.SkipWithError("attention failed");
            break;
        }
        const double d = std::chrono::duration<double>(t1 - t0).count();
        state.SetIterationTime(d);
        us.push_back(d * 1e6);
    }
    reportLatencies(state, us);
}
BENCHMARK(BM_AttentionRoundTrip)->UseManualTime()->Unit(benchmark::kMicrosecond);

// A small POST on a connection of its own, as the invoice is sent: the
// difference to the round trip above is the price of the fresh connection.
void BM_PinPostFreshConnection(benchmark::State& state) {
    Bench b;
    std::vector<double> us;
    us.reserve(1 << 18);
    for (auto _ : state) {
        const auto t0 = Clock::now();
        const bool ok = b.client.CmdSendPin();
        const auto t1 = Clock::now();
        if (!ok) {
            state.SkipWithError("PIN request failed");
            break;
        }
        const double d = std::chrono::duration<double>(t1 - t0).count();
        state.SetIterationTime(d);
        us.push_back(d * 1e6);
    }
    reportLatencies(state, us);
}
BENCHMARK(BM_PinPostFreshConnection)->UseManualTime()->Unit(benchmark::kMicrosecond);

}  // namespace

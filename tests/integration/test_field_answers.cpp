// Devices in the field through the headless service: an invoice signed with a
// Latin-script answer is answered as signed, and a refusal's own words reach
// the service's log while the result file keeps its fixed text.
#include <gtest/gtest.h>
#include <unistd.h>

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
#include "inbox/CodePage.h"
#include "platform/Platform.h"
#include "util/ScriptedPrompter.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

using kv::test::ReadAll;

std::string Kvr(const std::string& requestId) {
    return "Invoice#0#invoiceType#0\r\nInvoice#0#transactionType#0\r\nInvoice#0#RequestId#" + requestId +
           "\r\nInvoice#0#invoiceNumber#N1\r\nItems#1#name#Kafa\r\nItems#1#quantity#2\r\nItems#1#unitPrice#2,50\r\n"
           "Items#1#totalAmount#5,00\r\nItems#1#labels#E\r\nPayment#1#amount#5,00\r\nPayment#1#paymentType#1\r\n";
}

class FieldAnswers : public ::testing::Test {
protected:
    void SetUp() override { kv::platform::SetDecimalSeparator(','); }
    void TearDown() override { sim.stop(); }
    // Runs the service until the result file of `id` is there; returns its log.
    std::string serve(const kv::sim::Config& cfg, const std::string& id) {
        const int port = kv::test::StartSimulator(sim, kv::test::QuietDevice(cfg));
        dirs.writeIni(kv::test::InboxSettings(port, root / "ulaz", root / "izlaz", 50));
        std::ofstream(root / "ulaz" / (id + ".kvr"), std::ios::binary) << Kvr(id);
        kv::ScriptedPrompter prompter;
        kv::AppContext ctx((root / "kovira.ini").string(), prompter, (root / "locks").string());
        EXPECT_EQ(ctx.Start(), kv::AppContext::StartResult::Ok);
        std::ostringstream out;
        std::atomic<bool> stop{false};
        std::thread service([&] { kv::RunService(ctx, out, stop); });
        const auto deadline = std::chrono::steady_clock::now() + 10s;
        while (!fs::exists(root / "izlaz" / (id + ".kvr")) && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(10ms);
        stop = true;
        service.join();
        return out.str();
    }

    kv::test::ScratchFolder dirs{"kv_field_", ::testing::UnitTest::GetInstance()->current_test_info()->name()};
    const fs::path& root = dirs.root;
    kv::sim::FiscalSimulator sim;
};

}  // namespace

TEST_F(FieldAnswers, AnInvoiceSignedInLatinScriptIsAnsweredAsSigned) {
    kv::sim::Config cfg;
    cfg.successMessage = "Uspješno";
    serve(cfg, "L1");
    const std::string result = ReadAll(root / "izlaz" / "L1.kvr");
    ASSERT_EQ(sim.signedInvoices().size(), 1u);
    EXPECT_EQ(result.substr(0, result.find("\r\n")), sim.signedInvoices()[0].invoiceNumber);
}

TEST_F(FieldAnswers, ARefusalsWordsReachTheLogNotTheResultFile) {
    sim.injectFault("POST", "/api/invoices",
                    kv::sim::Fault::httpStatus(400, R"({"message":"Неисправан ПИБ купца","code":"2310"})"), 1);
    const std::string log = serve({}, "R1");
    EXPECT_EQ(ReadAll(root / "izlaz" / "R1.kvr"),
              "\r\n\r\n" + kv::inbox::EncodeText("Desila se greška u fiskalizaciji!") + "\r\n");
    EXPECT_NE(log.find("/api/invoices -> 400 Bad Request: Неисправан ПИБ купца"), std::string::npos) << log;
}

// The cash register's hand-off against the simulated device: what is stored
// for each invoice type, a failure, and Kovira killed after the device signed.
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "FiscalSimulator.h"
#include "sim_support.h"
#include "app/AppContext.h"
#include "device/DeviceClient.h"
#include "platform/Platform.h"
#include "register/DemoData.h"
#include "register/HandOff.h"
#include "register/InvoiceEntry.h"
#include "register/uDMGlavni.h"
#include "util/ScriptedPrompter.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

extern char** environ;

namespace {

class HandOffTest : public ::testing::Test {
protected:
    void SetUp() override {
        kv::platform::SetDecimalSeparator(',');
        const int port = kv::test::StartSimulator(sim);
        dirs.writeIni(kv::test::DeviceSettings(port) + "Token=tok\nPIN=1234\nRenderPrint=0\nPrintUredjaj=0\n");
    }
    void TearDown() override { stop(); }
    void start() {
        ctx = std::make_unique<kv::AppContext>((root / "kovira.ini").string(), prompter, (root / "locks").string());
        ASSERT_EQ(ctx->Start(), kv::AppContext::StartResult::Ok);
        ASSERT_NE(ctx->db(), nullptr);
        ctx->settings.FillRecords({});
        ctx->settings.KasaBaf.setText("Cashier", "ana");
        kv::reg::LoadDemoData(*ctx->db());
        entry = std::make_unique<kv::reg::InvoiceEntry>(*ctx->db(), ctx->settings.KasaBaf, prompter);
        entry->articles().Load(*ctx->db());
        entry->OpenYear();
    }
    void stop() {
        entry.reset();
        ctx.reset();
    }
    // A confirmed sale (or refund) of water and coffee: 1.20 + 2 x 4.90.
    void ConfirmedSale(bool storno = false) {
        entry->NewInvoice(storno);
        for (const char* code : {"3870000000011", "3870000000042"}) {
            entry->DodajSt();
            ASSERT_NE(entry->BarcodeEnter(code), kv::reg::Focus::Stay);
            if (std::string(code) == "3870000000042") entry->SetQuantity(kv::Currency(2));
            ASSERT_TRUE(entry->SaveLine());
        }
        if (storno) {
            entry->SetHeader(kv::reg::HeaderField::RefDN, "KVSIM7Q2-KVSIM7Q2-1");
            entry->SetHeader(kv::reg::HeaderField::RefDT, "2024-03-05T10:00:00.000+01:00");
        }
        prompter.answerConfirm(true);
        ASSERT_TRUE(entry->ConfirmInvoice());
    }
    std::string Print(int type = 0) {
        kv::reg::HandOffContext hc{*ctx->db(), ctx->invoice, ctx->fisk(), &ctx->ledger(),
                                   &ctx->watcher().FiskIzKase, "ana"};
        auto error = kv::reg::PrintFisk(hc, *entry->header(), type, *entry->header()->date("Datum"), std::time(nullptr));
        entry->Reload();
        return error;
    }
    int signedTimes() { return sim.timesSigned(kv::device::DeviceClient::ReqID(entry->header()->text("ID"))); }
    std::string lastInvoiceBody() {
        for (auto r = sim.requests().rbegin(); r != sim.requests().rend(); ++r)
            if (r->method == "POST" && r->path == "/api/invoices") return r->body;
        return {};
    }

    kv::test::ScratchFolder dirs{"kv_handoff_", ::testing::UnitTest::GetInstance()->current_test_info()->name(),
                                 false};
    const fs::path& root = dirs.root;
    kv::sim::FiscalSimulator sim;
    kv::ScriptedPrompter prompter{true};
    std::unique_ptr<kv::AppContext> ctx;
    std::unique_ptr<kv::reg::InvoiceEntry> entry;
};

}  // namespace

TEST_F(HandOffTest, OnlyANormalInvoiceKeepsTheDevicesNumber) {
    start();
    ConfirmedSale();
    // A proforma first: signed by the device, but the sale is still unsigned.
    ASSERT_EQ(Print(1), "");
    EXPECT_EQ(entry->header()->text("PFRBROJ"), "");
    EXPECT_EQ(signedTimes(), 0) << "a proforma goes under a request id of its own";
    EXPECT_FALSE(ctx->watcher().FiskIzKase);

    ASSERT_EQ(Print(0), "");
    const std::string number = entry->header()->text("PFRBROJ");
    EXPECT_FALSE(number.empty());
    EXPECT_EQ(number, ctx->invoice.Invoice.field("PFRnumber").asString());
    EXPECT_FALSE(entry->header()->text("PFRTIME").empty());
    EXPECT_EQ(signedTimes(), 1);
    const std::string body = lastInvoiceBody();
    EXPECT_NE(body.find("\"invoiceNumber\":\"1/"), std::string::npos) << body;
    EXPECT_NE(body.find("\"amount\":\"11\""), std::string::npos) << body;  // 1.20 + 9.80
    EXPECT_NE(body.find("Z\""), std::string::npos) << body;                 // time of issue in UTC

    // A copy refers to the invoice's own signature and leaves it as it was.
    ASSERT_EQ(Print(2), "");
    EXPECT_NE(lastInvoiceBody().find("\"referentDocumentNumber\":\"" + number + "\""), std::string::npos);
    EXPECT_EQ(entry->header()->text("PFRBROJ"), number);
    EXPECT_FALSE(entry->PrintAllowed());
    EXPECT_EQ(prompter.texts().back(), "Račun je već fiskalizovan!");
    EXPECT_EQ(signedTimes(), 1);
}

TEST_F(HandOffTest, AFailureLeavesTheHeaderAndTheRetrySignsOnce) {
    start();
    ConfirmedSale(true);
    sim.injectFault("POST", "/api/invoices", kv::sim::Fault::httpStatus(400, "{}"), 1);
    EXPECT_EQ(Print(), "Desila se greška u fiskalizaciji!");
    EXPECT_EQ(entry->header()->text("PFRBROJ"), "");
    EXPECT_EQ(Print(), "");
    EXPECT_FALSE(entry->header()->text("PFRBROJ").empty());
    EXPECT_NE(lastInvoiceBody().find("\"transactionType\":\"1\""), std::string::npos);
    EXPECT_EQ(signedTimes(), 1);
}

TEST_F(HandOffTest, KilledAfterTheDeviceSignedTheRestartStoresItsAnswer) {
    start();
    ConfirmedSale();
    const std::string id = entry->header()->text("ID");
    const auto broj = *entry->header()->integer("Broj");
    const int year = entry->year();
    stop();

    // The device signs, then its answer takes long: Kovira is killed meanwhile.
    sim.injectFault("POST", "/api/invoices", kv::sim::Fault::delayed(3s), 1);
    const std::string ini = (root / "kovira.ini").string(), locks = (root / "locks").string();
    const char* argv[] = {KOVIRA_HANDOFF_CHILD, ini.c_str(), locks.c_str(), nullptr};
    pid_t child = 0;
    ASSERT_EQ(posix_spawn(&child, KOVIRA_HANDOFF_CHILD, nullptr, nullptr, const_cast<char**>(argv), environ), 0);
    const auto reqId = kv::device::DeviceClient::ReqID(id);
    const auto deadline = std::chrono::steady_clock::now() + 15s;
    while (sim.timesSigned(reqId) == 0 && std::chrono::steady_clock::now() < deadline) std::this_thread::sleep_for(5ms);
    ASSERT_EQ(sim.timesSigned(reqId), 1);
    kill(child, SIGKILL);
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFSIGNALED(status));
    sim.clearFaults();

    start();
    ASSERT_TRUE(entry->GoToNumber(broj));
    EXPECT_EQ(entry->header()->text("PFRBROJ"), "") << "killed before the number was stored";
    EXPECT_EQ(Print(), "");
    EXPECT_FALSE(entry->header()->text("PFRBROJ").empty());
    EXPECT_EQ(sim.timesSigned(reqId), 1) << "no second signature";
    EXPECT_EQ(ctx->db()->Racuni(year).back().text("PFRBROJ"), entry->header()->text("PFRBROJ"));
}

// Text invoice files end to end: ".inp" files dropped into the input folder
// become the cash register's own invoices, signed by the simulated device
// exactly once, beside whatever the cashier has open.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <sstream>
#include <thread>

#include "FiscalSimulator.h"
#include "service_process.h"
#include "sim_support.h"
#include "app/AppContext.h"
#include "app/Service.h"
#include "device/DeviceClient.h"
#include "platform/Platform.h"
#include "register/DemoData.h"
#include "register/InvoiceEntry.h"
#include "register/uDMGlavni.h"
#include "util/ScriptedPrompter.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

using kv::test::ReadAll;

// A sale as another program writes it: CR LF, decimal point, a payment line.
std::string InpText(int n) {
    return "S;Kafa " + std::to_string(n) + ";2.50;2;;;2;;1003\r\n" + "S;Voda;1,20;1;;;2;;1001\r\n" +
           "S;Sok;2.45;" + std::to_string(1 + n % 3) + ";;;2;;1002\r\n" + "S;Kesa;0.10;1;;;2;;1007\r\n" + "T;0\r\n";
}

void Write(const fs::path& p, const std::string& text) { std::ofstream(p, std::ios::binary) << text; }

class InpRoadTest : public ::testing::Test {
protected:
    void SetUp() override {
        kv::platform::SetDecimalSeparator(',');
        port = kv::test::StartSimulator(sim);
        writeSettings(500);
        kv::reg::TDMGlavni db((root / kv::reg::kDatabaseName).string());
        ASSERT_TRUE(kv::reg::LoadDemoData(db));
    }
    void writeSettings(int scanTime) { dirs.writeIni(kv::test::InboxSettings(port, in, out, scanTime)); }
    std::unique_ptr<kv::AppContext> context(kv::ScriptedPrompter& p, const std::string& locks) {
        auto c = std::make_unique<kv::AppContext>((root / "kovira.ini").string(), p, (root / locks).string());
        EXPECT_EQ(c->Start(), kv::AppContext::StartResult::Ok);
        c->settings.FillRecords({});
        return c;
    }
    // Every file's documents, by file name: (request id, fiscal number).
    std::map<std::string, std::vector<std::pair<std::string, std::string>>> documents() {
        kv::reg::TDMGlavni db((root / kv::reg::kDatabaseName).string());
        std::map<std::string, std::vector<std::pair<std::string, std::string>>> m;
        auto st = db.Baza().prepare(
            "SELECT f.Naziv, d.ID, IFNULL(d.PFRBROJ, '') FROM UlazFajl f JOIN Doku d ON d.Godina = f.Godina "
            "AND d.UI = 1 AND d.Broj = f.Broj");
        while (st.executeStep())
            m[st.getColumn(0).getString()].emplace_back(st.getColumn(1).getString(), st.getColumn(2).getString());
        return m;
    }
    long long count(const std::string& sql) {
        kv::reg::TDMGlavni db((root / kv::reg::kDatabaseName).string());
        auto st = db.Baza().prepare(sql);
        st.executeStep();
        return st.getColumn(0).getInt64();
    }
    int signedTimes(const std::string& id) { return sim.timesSigned(kv::device::DeviceClient::ReqID(id)); }
    int inpLeft() {
        int n = 0;
        for (const auto& e : fs::directory_iterator(in)) n += e.path().extension() == ".inp";
        return n;
    }

    kv::sim::FiscalSimulator sim;
    int port = 0;
    kv::test::ScratchFolder dirs{"kv_inp_", ::testing::UnitTest::GetInstance()->current_test_info()->name()};
    const fs::path &root = dirs.root, &in = dirs.in, &out = dirs.out;
};

}  // namespace

TEST_F(InpRoadTest, TheServiceSignsEachFileAsItsOwnInvoiceWhileACashierHasOneOpen) {
    // A cashier in another run of the same database has an invoice open with a line typed.
    kv::ScriptedPrompter cashierPrompts;
    auto window = context(cashierPrompts, "locks-window");
    window->settings.KasaBaf.setText("Cashier", "ana");
    kv::reg::InvoiceEntry entry(*window->db(), window->settings.KasaBaf, cashierPrompts);
    entry.articles().Load(*window->db());
    entry.OpenYear();
    entry.NewInvoice(false);
    entry.DodajSt();
    ASSERT_EQ(entry.BarcodeEnter("3870000000011"), kv::reg::Focus::Quantity);
    ASSERT_TRUE(entry.SaveLine());
    const auto openNo = *entry.header()->integer("Broj");

    Write(in / "a.inp", InpText(1));
    Write(in / "B.INP", InpText(2));
    Write(in / "bad.inp", "S;Kafa;dva;1;;;2;;1003\r\nT;0\r\n");
    Write(in / "short.inp", "S;Kafa;2.50;1;;;2;;1003\r\nS;Voda;1;1;;;2\r\n");  // line 2 has 7 fields

    kv::ScriptedPrompter servicePrompts;
    auto service = context(servicePrompts, "locks-service");
    std::atomic<bool> stop{false};
    std::ostringstream log;
    std::thread t([&] { kv::RunService(*service, log, stop); });
    auto deadline = std::chrono::steady_clock::now() + 30s;
    while ((fs::exists(in / "a.inp") || fs::exists(in / "B.INP")) && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(20ms);
    std::this_thread::sleep_for(200ms);
    stop = true;
    t.join();
    const std::string text = log.str();

    EXPECT_FALSE(fs::exists(in / "a.inp")) << text;
    EXPECT_FALSE(fs::exists(in / "B.INP")) << text;
    // Files that cannot be taken stay with their message, and leave nothing behind.
    EXPECT_TRUE(fs::exists(in / "bad.inp"));
    EXPECT_TRUE(fs::exists(in / "short.inp"));
    EXPECT_NE(text.find("file: bad.inp: line 1: 'dva'"), std::string::npos) << text;
    EXPECT_NE(text.find("file: short.inp: line 2: an item line needs 9 fields"), std::string::npos) << text;
    auto docs = documents();
    EXPECT_EQ(docs.size(), 2u);
    for (const char* name : {"a.inp", "B.INP"}) {
        ASSERT_EQ(docs[name].size(), 1u) << name;
        EXPECT_FALSE(docs[name][0].second.empty()) << name << " signed";
        EXPECT_EQ(signedTimes(docs[name][0].first), 1) << name;
    }
    // Each one the sum of its own four lines, confirmed, paid in cash.
    EXPECT_EQ(count("SELECT COUNT(*) FROM Doku WHERE UI = 1 AND Status = 1 AND NacinPL = '1'"), 2);
    EXPECT_EQ(count("SELECT COUNT(*) FROM Prom p JOIN UlazFajl f ON p.DokuBroj = f.Broj AND p.DokuUI = 1"), 8);
    // The cashier's invoice is untouched and still the one on the page.
    EXPECT_EQ(count("SELECT COUNT(*) FROM Prom WHERE DokuUI = 1 AND DokuBroj = " + std::to_string(openNo)), 1);
    EXPECT_EQ(count("SELECT Status FROM Doku WHERE UI = 1 AND Broj = " + std::to_string(openNo)), 0);
    entry.Reload();
    EXPECT_EQ(entry.header()->integer("Broj"), openNo);
    EXPECT_EQ(entry.lines().size(), 1u);
}

TEST_F(InpRoadTest, AFileFoundAgainResumesItsDocumentInsteadOfSigningASecondOne) {
    const std::string signedText = InpText(7), loadedText = InpText(8);
    {
        // Kovira stopped after the device signed a.inp and after "Preuzmi
        // podatke" made b.inp's document, before either file was deleted.
        kv::ScriptedPrompter p;
        auto first = context(p, "locks1");
        Write(in / "a.inp", signedText);
        Write(in / "b.inp", loadedText);
        auto r = first->watcher().inp->Take(in.string(), {{"a.inp", signedText}}, true).front();
        ASSERT_EQ(r.outcome, kv::inbox::InpRoad::Outcome::Signed) << r.message;
        first->watcher().setQueueText("b.inp");
        ASSERT_TRUE(first->watcher().LoadNext()) << ::testing::PrintToString(p.texts());
    }
    kv::ScriptedPrompter p;
    auto second = context(p, "locks2");
    second->watcher().StartUp();
    auto deadline = std::chrono::steady_clock::now() + 10s;
    while (inpLeft() > 0 && std::chrono::steady_clock::now() < deadline) {
        second->watcher().Tick();
        std::this_thread::sleep_for(50ms);  // a file younger than the settle time waits
    }
    EXPECT_EQ(inpLeft(), 0) << ::testing::PrintToString(p.texts());
    auto docs = documents();
    for (const char* name : {"a.inp", "b.inp"}) {
        ASSERT_EQ(docs[name].size(), 1u) << name;
        EXPECT_EQ(signedTimes(docs[name][0].first), 1) << name;
        EXPECT_FALSE(docs[name][0].second.empty()) << name;
    }
    // The same name and content again later is a new sale.
    Write(in / "a.inp", signedText);
    deadline = std::chrono::steady_clock::now() + 10s;
    while (inpLeft() > 0 && std::chrono::steady_clock::now() < deadline) {
        second->watcher().Tick();
        std::this_thread::sleep_for(50ms);
    }
    EXPECT_EQ(documents()["a.inp"].size(), 2u);
}

TEST_F(InpRoadTest, TheServiceKilledAtAnyMomentSignsEveryFileExactlyOnce) {
    fs::path exe = root / "kovira";
    fs::copy_file(KOVIRA_EXE, exe);
    fs::permissions(exe, fs::perms::owner_exec, fs::perm_options::add);
    writeSettings(50);
    const int kFiles = 300;
    for (int i = 0; i < kFiles; ++i) Write(in / (std::to_string(100000 + i) + ".inp"), InpText(i));
    fs::path log = root / "service.log";
    auto spawn = [&] { return kv::test::SpawnService(exe, log, root / "run", true); };
    kv::test::KillAtRandomMoments(spawn, 6, 4242, 150, 400);
    // The last one is stopped the proper way, once it is up (the log holds every run's lines).
    auto starts = [&] {
        const std::string text = ReadAll(log);
        int n = 0;
        for (auto at = text.find("service on"); at != std::string::npos; at = text.find("service on", at + 1)) ++n;
        return n;
    };
    const int earlier = starts();
    pid_t pid = spawn();
    auto deadline = std::chrono::steady_clock::now() + 120s;
    while (starts() == earlier && std::chrono::steady_clock::now() < deadline) std::this_thread::sleep_for(10ms);
    while (inpLeft() > 0 && std::chrono::steady_clock::now() < deadline) std::this_thread::sleep_for(50ms);
    kill(pid, SIGTERM);
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    const std::string text = ReadAll(log);
    ASSERT_EQ(inpLeft(), 0) << text.substr(text.size() > 3000 ? text.size() - 3000 : 0);

    auto docs = documents();
    EXPECT_EQ(docs.size(), static_cast<size_t>(kFiles));
    for (const auto& [name, list] : docs) {
        ASSERT_EQ(list.size(), 1u) << name << " has one invoice";
        EXPECT_FALSE(list[0].second.empty()) << name << " signed";
        EXPECT_EQ(signedTimes(list[0].first), 1) << name;
    }
    // No invoice without its file, none signed that no file asked for.
    EXPECT_EQ(count("SELECT COUNT(*) FROM Doku WHERE UI = 1"), kFiles);
    EXPECT_EQ(sim.signedInvoices().size(), static_cast<size_t>(kFiles));
}

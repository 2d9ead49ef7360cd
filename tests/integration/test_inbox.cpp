// The input folder road end to end: keyed files dropped into a folder, the
// watcher (in-process, and as the headless service) and the simulated device.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <set>
#include <sstream>
#include <thread>

#include "FiscalSimulator.h"
#include "service_process.h"
#include "sim_support.h"
#include "app/AppContext.h"
#include "app/Service.h"
#include "device/Fiscalizer.h"
#include "device/DeviceClient.h"
#include "inbox/CodePage.h"
#include "platform/Platform.h"
#include "util/ScriptedPrompter.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

using kv::test::ReadAll;

// A keyed invoice file as a producer writes it (CR LF, decimal comma).
std::string KvrText(const std::string& requestId, const std::string& name = "Kafa") {
    return "Invoice#0#invoiceType#0\r\nInvoice#0#transactionType#0\r\nInvoice#0#RequestId#" + requestId +
           "\r\nInvoice#0#invoiceNumber#" + requestId.substr(0, 8) + "\r\nItems#1#name#" + name +
           "\r\nItems#1#quantity#2\r\nItems#1#unitPrice#2,50\r\nItems#1#totalAmount#5,00\r\nItems#1#labels#E\r\n"
           "Payment#1#amount#5,00\r\nPayment#1#paymentType#1\r\n";
}

void Drop(const fs::path& folder, const std::string& requestId) {
    std::ofstream(folder / (requestId + ".kvr"), std::ios::binary) << KvrText(requestId);
}

// A file under a name of its own carrying `requestId`.
void DropAs(const fs::path& folder, const std::string& fileName, const std::string& requestId,
            const std::string& item = "Kafa") {
    std::ofstream(folder / fileName, std::ios::binary) << KvrText(requestId, item);
}

std::string Encoded(const std::string& utf8) { return kv::inbox::EncodeText(utf8); }

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> out;
    std::string line;
    std::istringstream in(text);
    while (std::getline(in, line)) out.push_back(line);
    return out;
}

struct Folders : kv::test::ScratchFolder {
    Folders() : ScratchFolder("kv_inbox_", ::testing::UnitTest::GetInstance()->current_test_info()->name()) {}
    void writeSettings(int port, int scanTime = 500) const { writeIni(kv::test::InboxSettings(port, in, out, scanTime)); }
};

class InboxTest : public ::testing::Test {
protected:
    void SetUp() override {
        kv::platform::SetDecimalSeparator(',');
        port = kv::test::StartSimulator(sim);
        dirs.writeSettings(port);
    }
    void start() {
        ctx = std::make_unique<kv::AppContext>((dirs.root / "kovira.ini").string(), prompter,
                                               (dirs.root / "locks").string());
        ASSERT_EQ(ctx->Start(), kv::AppContext::StartResult::Ok);
        ctx->settings.FillRecords({});
        ctx->watcher().StartUp();
    }
    std::vector<std::string> result(const std::string& id) { return Lines(ReadAll(dirs.out / (id + ".kvr"))); }
    int signedTimes(const std::string& id) { return sim.timesSigned(kv::device::DeviceClient::ReqID(id)); }

    Folders dirs;
    kv::sim::FiscalSimulator sim;
    int port = 0;
    kv::ScriptedPrompter prompter;
    std::unique_ptr<kv::AppContext> ctx;
};

}  // namespace

TEST_F(InboxTest, ThreeFilesInOneTickEachAnsweredAndRetired) {
    start();
    for (const char* id : {"A1", "B2", "C3"}) Drop(dirs.in, id);
    ctx->watcher().Tick();
    for (const char* id : {"A1", "B2", "C3"}) {
        auto lines = result(id);
        ASSERT_EQ(lines.size(), 3u) << id;
        EXPECT_NE(lines[0], "\r") << id << ": the device's number";
        EXPECT_NE(lines[1], "\r") << id << ": the device's time";
        EXPECT_EQ(lines[2], "\r");
        EXPECT_FALSE(fs::exists(dirs.in / (std::string(id) + ".kvr")));
        EXPECT_EQ(signedTimes(id), 1);
    }
    EXPECT_TRUE(ctx->watcher().queue().empty());
    EXPECT_TRUE(ctx->watcher().enabled());
}

TEST_F(InboxTest, AFailureEndsTheTickWithItsMessageAndTheNextTickGoesOn) {
    start();
    Drop(dirs.in, "F1");
    sim.injectFault("POST", "/api/invoices", kv::sim::Fault::httpStatus(400, "{}"), 1);
    ctx->watcher().Tick();
    // Result files are in the files' code page (windows-1250).
    EXPECT_EQ(result("F1"),
              (std::vector<std::string>{"\r", "\r", kv::inbox::EncodeText("Desila se greška u fiskalizaciji!\r")}));
    EXPECT_FALSE(fs::exists(dirs.in / "F1.kvr")) << "a failed file is retired with its answer";

    Drop(dirs.in, "G1");
    Drop(dirs.in, "G2");
    sim.injectFault("GET", "/api/attention", kv::sim::Fault::httpStatus(503, "{}"), 1);
    ctx->watcher().Tick();
    int answered = fs::exists(dirs.out / "G1.kvr") + fs::exists(dirs.out / "G2.kvr");
    EXPECT_EQ(answered, 1) << "the run stops after the failed file";
    EXPECT_EQ(ctx->watcher().queue().size(), 1u);
    ctx->watcher().Tick();
    EXPECT_TRUE(fs::exists(dirs.out / "G1.kvr") && fs::exists(dirs.out / "G2.kvr"));
    EXPECT_TRUE(ctx->watcher().queue().empty());
}

TEST_F(InboxTest, AFileStillBeingWrittenWaitsAndOthersGoFirst) {
    start();
    std::ofstream writing(dirs.in / "W1.kvr", std::ios::binary);
    writing << "Invoice#0#invoiceType#0\r\n";
    writing.flush();
    Drop(dirs.in, "R1");
    ctx->watcher().Tick();
    EXPECT_TRUE(fs::exists(dirs.out / "R1.kvr"));
    EXPECT_FALSE(fs::exists(dirs.out / "W1.kvr"));
    EXPECT_EQ(ctx->watcher().queue(), (std::vector<std::string>{"W1.kvr"}));
    writing << KvrText("W1").substr(25);
    writing.close();
    ctx->watcher().Tick();
    EXPECT_EQ(result("W1").size(), 3u);
    EXPECT_EQ(signedTimes("W1"), 1);
}

TEST_F(InboxTest, AnswersOfOneTickGoTogetherAndNoneIsReplacedOrLost) {
    start();
    // One tick: a sale, another sale under the same id, a third sale. The
    // refusal must see the first answer although it still waits in the group.
    DropAs(dirs.in, "a1.kvr", "G1");
    DropAs(dirs.in, "b2.kvr", "G1", "Sok");
    DropAs(dirs.in, "c3.kvr", "G3");
    ctx->watcher().Tick();
    ASSERT_EQ(result("G1").size(), 3u);
    EXPECT_NE(result("G1")[0], "\r");
    EXPECT_FALSE(fs::exists(dirs.in / "a1.kvr"));
    EXPECT_TRUE(fs::exists(dirs.in / "b2.kvr"));
    EXPECT_TRUE(fs::exists(dirs.in / "c3.kvr"));  // behind the refusal: next tick
    ASSERT_FALSE(prompter.texts().empty());
    EXPECT_NE(prompter.texts().back().find("another sale"), std::string::npos) << prompter.texts().back();

    // A group whose answers cannot all be put in place deletes no input file:
    // G3 and G4 were signed, a folder stands in the way of G4's result.
    fs::remove(dirs.in / "b2.kvr");
    fs::create_directory(dirs.out / "G4.kvr");
    DropAs(dirs.in, "d4.kvr", "G4");
    ctx->watcher().setEnabled(true);
    ctx->watcher().Tick();
    EXPECT_EQ(signedTimes("G3"), 1);
    EXPECT_EQ(signedTimes("G4"), 1);
    EXPECT_TRUE(fs::exists(dirs.in / "c3.kvr"));
    EXPECT_TRUE(fs::exists(dirs.in / "d4.kvr"));
    EXPECT_FALSE(ctx->watcher().enabled());
    EXPECT_NE(prompter.texts().back().find((dirs.out / "G4.kvr").string()), std::string::npos) << prompter.texts().back();
    EXPECT_EQ(ctx->watcher().queue(), (std::vector<std::string>{"c3.kvr", "d4.kvr"}));

    // Once the way is clear both are answered from the record, never signed again.
    fs::remove(dirs.out / "G4.kvr");
    ctx->watcher().setEnabled(true);
    ctx->watcher().Tick();
    EXPECT_EQ(result("G3").size(), 3u);
    EXPECT_EQ(result("G4").size(), 3u);
    EXPECT_NE(result("G4")[0], "\r");
    EXPECT_FALSE(fs::exists(dirs.in / "c3.kvr"));
    EXPECT_FALSE(fs::exists(dirs.in / "d4.kvr"));
    EXPECT_EQ(signedTimes("G3"), 1);
    EXPECT_EQ(signedTimes("G4"), 1);
}

TEST_F(InboxTest, AnUnwritableOutputFolderStopsPollingAndKeepsTheFile) {
    start();
    fs::remove_all(dirs.out);
    Drop(dirs.in, "U1");
    ctx->watcher().Tick();
    EXPECT_TRUE(fs::exists(dirs.in / "U1.kvr"));
    EXPECT_FALSE(ctx->watcher().enabled());
    ASSERT_FALSE(prompter.texts().empty());
    EXPECT_NE(prompter.texts().back().find(dirs.out.string()), std::string::npos) << prompter.texts().back();

    // Once the folder is back, "Start" answers the file without signing it again.
    fs::create_directories(dirs.out);
    ctx->watcher().setEnabled(true);
    ctx->watcher().Tick();
    EXPECT_EQ(result("U1").size(), 3u);
    EXPECT_FALSE(fs::exists(dirs.in / "U1.kvr"));
    EXPECT_EQ(signedTimes("U1"), 1);
}

TEST_F(InboxTest, FilesLeftFromAnEarlierRunAreAnsweredWithoutASecondSignature) {
    // Signed before the restart, but Kovira died before it wrote the answer.
    kv::ScriptedPrompter quiet;
    {
        kv::AppContext first((dirs.root / "kovira.ini").string(), quiet, (dirs.root / "locks1").string());
        ASSERT_EQ(first.Start(), kv::AppContext::StartResult::Ok);
        first.settings.FillRecords({});
        Drop(dirs.in, "L1");
        first.watcher().StartUp();
        first.watcher().setQueueText("L1.kvr");
        ASSERT_TRUE(first.watcher().LoadNext()) << ::testing::PrintToString(quiet.texts());
        first.fisk().onResultStep = nullptr;
        first.fisk().Fiscalize();
        ASSERT_EQ(first.fisk().FiskGreska, "");
        ASSERT_EQ(signedTimes("L1"), 1);
    }
    ASSERT_TRUE(fs::exists(dirs.in / "L1.kvr"));
    Drop(dirs.in, "L2");              // dropped while Kovira was down
    start();
    ctx->watcher().Tick();
    EXPECT_EQ(result("L1").size(), 3u);
    EXPECT_NE(result("L1")[0], "\r");
    EXPECT_EQ(signedTimes("L1"), 1);
    EXPECT_EQ(result("L2").size(), 3u);
    EXPECT_EQ(signedTimes("L2"), 1);
}

TEST_F(InboxTest, TheServiceSurvivesBeingKilledWithoutLosingOrRepeatingAnInvoice) {
    // The executable with its own settings file beside it.
    fs::path exe = dirs.root / "kovira";
    fs::copy_file(KOVIRA_EXE, exe);
    fs::permissions(exe, fs::perms::owner_exec, fs::perm_options::add);
    dirs.writeSettings(port, 50);
    const int kFiles = 300;
    std::vector<std::string> ids;
    for (int i = 0; i < kFiles; ++i) {
        ids.push_back(kv::platform::NewGuid());
        Drop(dirs.in, ids.back());
    }
    fs::path log = dirs.root / "service.log";
    auto spawn = [&] {
        fs::remove(log);
        return kv::test::SpawnService(exe, log, dirs.root / "run");
    };
    kv::test::KillAtRandomMoments(spawn, 6, 12345, 100, 400);
    pid_t pid = spawn();
    auto deadline = std::chrono::steady_clock::now() + 120s;
    // The last one is stopped the proper way, once it is up.
    while (ReadAll(log).find("service on") == std::string::npos && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(10ms);
    auto remaining = [&] {
        int n = 0;
        for (const auto& e : fs::directory_iterator(dirs.in)) n += e.path().extension() == ".kvr";
        return n;
    };
    while (remaining() > 0 && std::chrono::steady_clock::now() < deadline) std::this_thread::sleep_for(50ms);
    kill(pid, SIGTERM);
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
        << "SIGTERM ends the service cleanly; status " << status << "\n" << ReadAll(log).substr(0, 2000);

    EXPECT_EQ(remaining(), 0);
    std::set<std::string> results;
    for (const auto& e : fs::directory_iterator(dirs.out)) results.insert(e.path().filename().string());
    EXPECT_EQ(results.size(), static_cast<size_t>(kFiles)) << "one result file per invoice and nothing else";
    for (const auto& id : ids) {
        auto lines = result(id);
        ASSERT_EQ(lines.size(), 3u) << id;
        EXPECT_NE(lines[0], "\r") << id << " was signed";
        EXPECT_EQ(signedTimes(id), 1) << id;
    }
}

// A request id stands for one sale: a file is answered with its own
// signature or with a clear refusal, never with another sale's number.
TEST_F(InboxTest, AFileIsNeverAnsweredWithAnotherSalesSignature) {
    start();
    Drop(dirs.in, "VICTIM");
    ctx->watcher().Tick();
    const std::string victimNumber = result("VICTIM").at(0);
    ASSERT_NE(victimNumber, "\r");
    fs::remove(dirs.out / "VICTIM.kvr");  // the producer collected its answer
    ctx.reset();

    // Left in the folder while Kovira was down: asked about with its id
    // encoded, so the device does not answer for "VICTIM".
    DropAs(dirs.in, "left.kvr", "VICTIM?x=1", "Sok");
    start();
    ctx->watcher().Tick();
    ASSERT_EQ(result("VICTIM?x=1").size(), 3u);
    EXPECT_NE(result("VICTIM?x=1")[0], victimNumber);
    EXPECT_EQ(signedTimes("VICTIM?x=1"), 1);

    // The same id again for another sale: refused without a word to the device.
    sim.clearRequests();
    DropAs(dirs.in, "again.kvr", "VICTIM", "Sok");
    ctx->watcher().Tick();
    EXPECT_EQ(result("VICTIM"), (std::vector<std::string>{"\r", "\r", Encoded(kv::device::msg::kRequestIdReused) + "\r"}));
    EXPECT_TRUE(sim.requests().empty());
    EXPECT_EQ(signedTimes("VICTIM"), 1);

    // The same sale again is answered from Kovira's record, with its own number.
    Drop(dirs.in, "VICTIM");
    ctx->watcher().Tick();
    EXPECT_EQ(result("VICTIM").at(0), victimNumber);
    EXPECT_TRUE(sim.requests().empty());

    // A refusal never replaces an answer the producer has not collected yet:
    // that file waits, and the operator hears why.
    DropAs(dirs.in, "third.kvr", "VICTIM", "Voda");
    ctx->watcher().Tick();
    EXPECT_EQ(result("VICTIM").at(0), victimNumber);
    EXPECT_TRUE(fs::exists(dirs.in / "third.kvr"));
    EXPECT_FALSE(ctx->watcher().enabled());
    ASSERT_FALSE(prompter.texts().empty());
    EXPECT_NE(prompter.texts().back().find("another sale"), std::string::npos) << prompter.texts().back();
}

TEST_F(InboxTest, ARequestIdThatCannotBeSentFailsItsFileAloneAndTheQueueGoesOn) {
    start();
    DropAs(dirs.in, "b1.kvr", "../../x");
    DropAs(dirs.in, "b2.kvr", "a/b");
    DropAs(dirs.in, "b3.kvr", std::string(300, 'Q'));
    Drop(dirs.in, "G1");
    for (int tick = 0; tick < 4; ++tick) ctx->watcher().Tick();
    for (const char* bad : {"b1", "b2", "b3"}) {
        EXPECT_EQ(result(bad), (std::vector<std::string>{"\r", "\r", Encoded(kv::device::msg::kBadRequestId) + "\r"}))
            << bad << ": answered under the name it came in";
        EXPECT_FALSE(fs::exists(dirs.in / (std::string(bad) + ".kvr")));
    }
    EXPECT_EQ(result("G1").size(), 3u);
    EXPECT_FALSE(fs::exists(dirs.root / "x.kvr"));
    int invoices = 0;
    for (const auto& r : sim.requests()) invoices += r.path == "/api/invoices";
    EXPECT_EQ(invoices, 1) << "only the good file reached the device";
}

// The service end to end: a sale whose answer is lost while the device
// cannot be asked about it stays untouched and is asked about again after
// a growing pause; a bad id fails its file alone; a file left from before
// with an id that looks like a query is signed as itself.
TEST_F(InboxTest, TheServiceAsksAboutALostAnswerUntilTheDeviceSaysAndNeverGuesses) {
    using kv::sim::Fault;
    {
        start();
        Drop(dirs.in, "VICTIM");
        ctx->watcher().Tick();
        ASSERT_EQ(result("VICTIM").size(), 3u);
        ctx.reset();
    }
    dirs.writeSettings(port, 20);
    DropAs(dirs.in, "left.kvr", "VICTIM?x=1", "Sok");
    DropAs(dirs.in, "bad.kvr", "../x");

    std::ostringstream log;
    std::atomic<bool> stop{false};
    kv::ScriptedPrompter quiet;
    kv::AppContext service((dirs.root / "kovira.ini").string(), quiet, (dirs.root / "locks").string());
    ASSERT_EQ(service.Start(), kv::AppContext::StartResult::Ok);
    int rc = -1;
    std::thread t([&] { rc = kv::RunService(service, log, stop); });
    const auto deadline = std::chrono::steady_clock::now() + 30s;
    auto waitFor = [&](const fs::path& p) {
        while (!fs::exists(p) && std::chrono::steady_clock::now() < deadline) std::this_thread::sleep_for(5ms);
    };
    waitFor(dirs.out / "VICTIM?x=1.kvr");
    waitFor(dirs.out / "bad.kvr");

    // Signed, the answer lost, and the device cannot be asked twice in a row.
    sim.injectFault("POST", "/api/invoices", Fault::signThenDrop(), 1);
    sim.injectFault("GET", "/api/invoices/request/LOST1", Fault::httpStatus(500), 2);
    Drop(dirs.in, "LOST1");
    bool lostKeptWhileUnclear = true;
    while (!fs::exists(dirs.out / "LOST1.kvr") && std::chrono::steady_clock::now() < deadline) {
        if (sim.timesSigned("LOST1") == 1 && !fs::exists(dirs.in / "LOST1.kvr") && !fs::exists(dirs.out / "LOST1.kvr"))
            lostKeptWhileUnclear = false;
        std::this_thread::sleep_for(5ms);
    }
    stop = true;
    t.join();
    EXPECT_EQ(rc, 0);
    const std::string text = log.str();

    EXPECT_TRUE(lostKeptWhileUnclear);
    ASSERT_EQ(result("LOST1").size(), 3u) << text;
    EXPECT_NE(result("LOST1")[0], "\r");
    EXPECT_EQ(signedTimes("LOST1"), 1);
    int asked = 0;
    for (const auto& r : sim.requests()) asked += r.path == "/api/invoices/request/LOST1";
    EXPECT_EQ(asked, 3) << "two unclear answers, then the clear one\n" << text;
    size_t mentions = 0;
    for (size_t at = 0; (at = text.find("LOST1.kvr: " + std::string(kv::device::msg::kStateUnknown), at)) != std::string::npos; ++at)
        ++mentions;
    EXPECT_EQ(mentions, 1u) << "logged once per change, not once per try\n" << text;

    EXPECT_NE(result("VICTIM?x=1").at(0), result("VICTIM").at(0));
    EXPECT_EQ(signedTimes("VICTIM?x=1"), 1);
    EXPECT_EQ(result("bad").at(2), Encoded(kv::device::msg::kBadRequestId) + "\r");
    for (const auto& line : Lines(text)) EXPECT_EQ(line.find('\r'), std::string::npos) << "one line each: " << line;
}

TEST_F(InboxTest, TheServiceRefusesToStartOnFoldersThatCannotWork) {
    dirs.writeIni(kv::test::DeviceSettings(port) + "InputFolder=" + dirs.in.string() +
                  "\nOutputFolder=" + dirs.in.string() + "\n");
    Drop(dirs.in, "S1");
    std::ostringstream log;
    std::atomic<bool> stop{false};
    kv::ScriptedPrompter quiet;
    kv::AppContext service((dirs.root / "kovira.ini").string(), quiet, (dirs.root / "locks").string());
    ASSERT_EQ(service.Start(), kv::AppContext::StartResult::Ok);
    EXPECT_EQ(kv::RunService(service, log, stop), 2);
    EXPECT_NE(log.str().find("is the InputFolder"), std::string::npos) << log.str();
    EXPECT_TRUE(fs::exists(dirs.in / "S1.kvr"));
    EXPECT_TRUE(sim.requests().empty());

    EXPECT_TRUE(kv::ServiceSettingsProblem((dirs.root / "none.ini").string()).has_value());
    EXPECT_FALSE(kv::ServiceSettingsProblem((dirs.root / "kovira.ini").string()).has_value());
}

// `kovira --service` on settings that cannot work ends at once with one
// clear line per problem and a non-zero exit, instead of idling.
TEST_F(InboxTest, TheServiceProgramSaysWhatIsWrongAndExits) {
    const fs::path exe = dirs.root / "kovira";
    fs::copy_file(KOVIRA_EXE, exe);
    const fs::path ini = dirs.root / "kovira.ini";
    auto run = [&](const std::string& runtimeDir) {
        const fs::path log = dirs.root / "out.log";
        const pid_t pid = kv::test::SpawnService(exe, log, runtimeDir);
        int status = 0;
        waitpid(pid, &status, 0);
        return std::make_pair(WIFEXITED(status) ? WEXITSTATUS(status) : -1, ReadAll(log));
    };
    const std::string runtime = (dirs.root / "run").string();
    struct Case {
        const char* what;
        std::function<void()> arrange;
        int code;
        const char* says;
    } cases[] = {
        {"no settings file", [&] { fs::remove(ini); }, 2, "No such file"},
        {"a UTF-16 settings file",
         [&] { std::ofstream(ini, std::ios::binary) << std::string("\xFF\xFE[\0G\0", 6); }, 2, "UTF-16"},
        {"no input folder", [&] { std::ofstream(ini) << "[Global]\nOutputFolder=" << dirs.out.string() << "\n"; }, 2,
         "InputFolder is not set"},
    };
    for (const auto& c : cases) {
        c.arrange();
        auto [code, text] = run(runtime);
        EXPECT_EQ(code, c.code) << c.what << "\n" << text;
        EXPECT_NE(text.find(c.says), std::string::npos) << c.what << "\n" << text;
    }
    // A lock folder that cannot be made is told as such, not as another instance.
    dirs.writeSettings(port);
    std::ofstream(dirs.root / "blocker") << "x";
    auto [code, text] = run((dirs.root / "blocker").string());
    EXPECT_EQ(code, 1) << text;
    EXPECT_NE(text.find("lock folder"), std::string::npos) << text;
    EXPECT_EQ(text.find("Program je već aktivan"), std::string::npos) << text;
}

// A file is answered when it arrives, not at the next poll: with ScanTime at
// ten seconds the folder's file event is what wakes the service.
TEST_F(InboxTest, TheServiceAnswersAFileWhenItArrivesNotAtTheNextPoll) {
    dirs.writeSettings(port, 10000);
    Drop(dirs.in, "EV0");  // answered by the first tick: the service is up
    std::ostringstream log;
    std::atomic<bool> stop{false};
    kv::ScriptedPrompter quiet;
    kv::AppContext service((dirs.root / "kovira.ini").string(), quiet, (dirs.root / "locks").string());
    ASSERT_EQ(service.Start(), kv::AppContext::StartResult::Ok);
    std::thread t([&] { kv::RunService(service, log, stop); });
    auto waitFor = [](const fs::path& p, std::chrono::seconds limit) {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        while (!fs::exists(p) && std::chrono::steady_clock::now() < deadline) std::this_thread::sleep_for(2ms);
        return fs::exists(p);
    };
    const bool first = waitFor(dirs.out / "EV0.kvr", 30s);
    Drop(dirs.in, "EV1");
    const bool second = waitFor(dirs.out / "EV1.kvr", 5s);  // half the poll interval
    stop = true;
    t.join();
    ASSERT_TRUE(first) << log.str();
    EXPECT_TRUE(second) << "not answered before the next poll\n" << log.str();
}

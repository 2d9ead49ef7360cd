// The input folder road end to end: keyed files dropped into a folder, the
// watcher (in-process, and as the headless service) and the simulated device.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <random>
#include <set>
#include <sstream>
#include <thread>

#include "FiscalSimulator.h"
#include "app/AppContext.h"
#include "device/DeviceClient.h"
#include "inbox/CodePage.h"
#include "platform/Platform.h"
#include "util/ScriptedPrompter.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

std::string ReadAll(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

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

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> out;
    std::string line;
    std::istringstream in(text);
    while (std::getline(in, line)) out.push_back(line);
    return out;
}

struct Folders {
    fs::path root, in, out;
    Folders() {
        root = fs::temp_directory_path() / ("kv_inbox_" + std::to_string(::getpid()) + "_" +
                                            ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(root);
        in = root / "ulaz";
        out = root / "izlaz";
        fs::create_directories(in);
        fs::create_directories(out);
    }
    ~Folders() { fs::remove_all(root); }
    void writeSettings(int port, int scanTime = 500) const {
        std::ofstream(root / "kovira.ini") << "[Global]\nBaseURL=http://127.0.0.1\nPort=" << port
                                           << "\nToken=tok\nPIN=1234\nRenderPrint=0\nInputFolder=" << in.string()
                                           << "\nOutputFolder=" << out.string() << "\nScanTime=" << scanTime << "\n";
    }
};

class InboxTest : public ::testing::Test {
protected:
    void SetUp() override {
        kv::platform::SetDecimalSeparator(',');
        kv::sim::Config cfg;
        cfg.token = "tok";
        cfg.pinRequired = false;
        cfg.renderImages = false;
        sim.setConfig(cfg);
        port = sim.start(0);
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
    ctx->watcher().Timer1Timer();
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
    ctx->watcher().Timer1Timer();
    // Result files are in the files' code page (windows-1250).
    EXPECT_EQ(result("F1"),
              (std::vector<std::string>{"\r", "\r", kv::inbox::EncodeText("Desila se greška u fiskalizaciji!\r")}));
    EXPECT_FALSE(fs::exists(dirs.in / "F1.kvr")) << "a failed file is retired with its answer";

    Drop(dirs.in, "G1");
    Drop(dirs.in, "G2");
    sim.injectFault("GET", "/api/attention", kv::sim::Fault::httpStatus(503, "{}"), 1);
    ctx->watcher().Timer1Timer();
    int answered = fs::exists(dirs.out / "G1.kvr") + fs::exists(dirs.out / "G2.kvr");
    EXPECT_EQ(answered, 1) << "the run stops after the failed file";
    EXPECT_EQ(ctx->watcher().queue().size(), 1u);
    ctx->watcher().Timer1Timer();
    EXPECT_TRUE(fs::exists(dirs.out / "G1.kvr") && fs::exists(dirs.out / "G2.kvr"));
    EXPECT_TRUE(ctx->watcher().queue().empty());
}

TEST_F(InboxTest, AFileStillBeingWrittenWaitsAndOthersGoFirst) {
    start();
    std::ofstream writing(dirs.in / "W1.kvr", std::ios::binary);
    writing << "Invoice#0#invoiceType#0\r\n";
    writing.flush();
    Drop(dirs.in, "R1");
    ctx->watcher().Timer1Timer();
    EXPECT_TRUE(fs::exists(dirs.out / "R1.kvr"));
    EXPECT_FALSE(fs::exists(dirs.out / "W1.kvr"));
    EXPECT_EQ(ctx->watcher().queue(), (std::vector<std::string>{"W1.kvr"}));
    writing << KvrText("W1").substr(25);
    writing.close();
    ctx->watcher().Timer1Timer();
    EXPECT_EQ(result("W1").size(), 3u);
    EXPECT_EQ(signedTimes("W1"), 1);
}

TEST_F(InboxTest, AnUnwritableOutputFolderStopsPollingAndKeepsTheFile) {
    start();
    fs::remove_all(dirs.out);
    Drop(dirs.in, "U1");
    ctx->watcher().Timer1Timer();
    EXPECT_TRUE(fs::exists(dirs.in / "U1.kvr"));
    EXPECT_FALSE(ctx->watcher().enabled());
    ASSERT_FALSE(prompter.texts().empty());
    EXPECT_NE(prompter.texts().back().find(dirs.out.string()), std::string::npos) << prompter.texts().back();

    // Once the folder is back, "Start" answers the file without signing it again.
    fs::create_directories(dirs.out);
    ctx->watcher().setEnabled(true);
    ctx->watcher().Timer1Timer();
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
        ASSERT_TRUE(first.watcher().BtPreuzmiPodatkeClick()) << ::testing::PrintToString(quiet.texts());
        first.fisk().onResultStep = nullptr;
        first.fisk().Fiscalize();
        ASSERT_EQ(first.fisk().FiskGreska, "");
        ASSERT_EQ(signedTimes("L1"), 1);
    }
    ASSERT_TRUE(fs::exists(dirs.in / "L1.kvr"));
    Drop(dirs.in, "L2");              // dropped while Kovira was down
    start();
    ctx->watcher().Timer1Timer();
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
        pid_t pid = fork();
        if (pid == 0) {
            int out = ::open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            dup2(out, 1);
            dup2(out, 2);
            setenv("XDG_RUNTIME_DIR", (dirs.root / "run").c_str(), 1);
            execl(exe.c_str(), exe.c_str(), "--service", static_cast<char*>(nullptr));
            _exit(127);
        }
        return pid;
    };
    std::mt19937 rng(12345);
    for (int round = 0; round < 6; ++round) {
        pid_t pid = spawn();
        std::this_thread::sleep_for(std::chrono::milliseconds(100 + rng() % 400));
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
    }
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

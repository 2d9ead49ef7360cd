// What arrives from outside (device answers, producers' files and names,
// settings files an administrator edited) is bounded and never reaches a
// log line or a result file with control characters in it.
#include <gtest/gtest.h>

#include "test_dirs.h"
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "app/IniFile.h"
#include "device/DeviceClient.h"
#include "device/InvoiceModel.h"
#include "device/JsonFlatten.h"
#include "device/ResponseTable.h"
#include "inbox/KvrFile.h"
#include "inbox/Watcher.h"
#include "platform/Platform.h"
#include "util/SafeText.h"

using namespace kv;
namespace fs = std::filesystem;

namespace {
fs::path TestDir(const std::string& tag) { return kv::test::FreshDir("kv_untrusted", tag); }

std::string Nested(std::size_t depth, const std::string& inner = "1") {
    return "{\"a\":" + std::string(depth - 1, '[') + inner + std::string(depth - 1, ']') + "}";
}
}  // namespace

// 20,000 nested arrays in 40 KB once took the process past 1.5 GB.
TEST(UntrustedInput, AnswersNestedDeeperThanAnyDeviceWritesAreNotExpanded) {
    const std::string deep = Nested(20000);
    EXPECT_EQ(device::IndentJson(deep), "");
    device::FlatJson flat;
    device::OpenJSONFile(deep, "", flat);
    EXPECT_TRUE(flat.lines.empty());
    device::ResponseTable table;
    table.setAnswer(deep);
    EXPECT_FALSE(table.isJson());

    // Up to the limit everything still reads.
    const std::string deepest = Nested(device::kMaxJsonDepth);
    EXPECT_NE(device::IndentJson(deepest), "");
    flat.clear();
    device::OpenJSONFile(deepest, "", flat);
    EXPECT_FALSE(flat.lines.empty());
    EXPECT_EQ(device::IndentJson(Nested(device::kMaxJsonDepth + 1)), "");
}

TEST(UntrustedInput, LogLinesAreOneLineWithoutControlCharacters) {
    struct Case {
        std::string in, out;
    } cases[] = {
        {"plain Račun", "plain Račun"},
        {"a\r\nfile: forged line", "a\\r\\nfile: forged line"},
        {std::string("nul\0esc\x1b[2J", 11), "nul\\x00esc\\x1B[2J"},
        {"tab\tback\\slash", "tab\\tback\\\\slash"},
    };
    for (const auto& c : cases) EXPECT_EQ(LogSafe(c.in), c.out);
    const std::string cut = LogSafe(std::string(10, 'x') + "č", 11);
    EXPECT_EQ(cut, std::string(10, 'x') + "...") << "never half a character";
    // Cut to the limit in whole characters and whole escapes: what fits stays.
    const struct {
        std::string in;
        std::size_t max;
        std::string out;
    } cuts[] = {
        {std::string(9, 'x') + "čy", 11, std::string(9, 'x') + "č..."},
        {std::string(9, 'x') + "\n", 10, std::string(9, 'x') + "..."},
        {"ab\x01", 5, "ab..."},
        {"ab\x01", 6, "ab\\x01"},
        {"😀😀", 7, "😀..."},
    };
    for (const auto& c : cuts) EXPECT_EQ(LogSafe(c.in, c.max), c.out) << c.in;
    EXPECT_EQ(LineSafe(std::string("N\0UM\x1b\r\n1", 8)), "N UM   1");
}

TEST(UntrustedInput, ResultFilesCarryNoControlCharactersFromTheDevice) {
    device::InvoiceModel m;
    m.Invoice.append();
    m.Invoice.field("PFRnumber").setValue(Value(std::string("AB\0CD\x1b", 6)));
    m.Invoice.field("PFRvrijeme").setValue(Value(std::string("2024\r\n\n")));
    m.Invoice.post();
    EXPECT_EQ(inbox::ResultFileText(m, "", false, "", ','), "AB CD \r\n2024   \r\n\r\n");
}

TEST(UntrustedInput, SettingsFilesThatAreNoSettingsFilesAreRefusedWithTheReason) {
    const fs::path dir = TestDir("ini");
    struct Case {
        const char* name;
        std::string bytes;
        const char* why;
    } cases[] = {
        {"utf16.ini", std::string("\xFF\xFE[\0G\0", 6), "UTF-16"},
        {"nul.ini", std::string("[Global]\nA=1\0\0\0", 15), "NUL"},
        {"latin2.ini", "[Global]\nInputFolder=C:\\Ra\xE8un\n", "not UTF-8"},
        {"huge.ini", std::string(kMaxIniBytes + 1, ' '), "larger than"},
    };
    for (const auto& c : cases) {
        std::ofstream(dir / c.name, std::ios::binary) << c.bytes;
        IniFile ini((dir / c.name).string());
        try {
            ini.load();
            ADD_FAILURE() << c.name << " was read";
        } catch (const std::runtime_error& e) {
            EXPECT_NE(std::string(e.what()).find(c.why), std::string::npos) << e.what();
        }
    }
    // A pipe (or a device) under the name is never read to its end.
    ASSERT_EQ(::mkfifo((dir / "fifo.ini").c_str(), 0600), 0);
    EXPECT_THROW(IniFile((dir / "fifo.ini").string()).load(), std::runtime_error);
    // A good file with a byte-order mark still reads.
    std::ofstream(dir / "ok.ini", std::ios::binary) << "\xEF\xBB\xBF[Global]\nPort=7000\n";
    IniFile ok((dir / "ok.ini").string());
    ok.load();
    EXPECT_EQ(ok.read("Global", "Port").value_or(""), "7000");
}

TEST(UntrustedInput, KeyedAndTextFilesAreKnownInAnyLetterCase) {
    for (const char* n : {"a.kvr", "A.KVR", "x.Kvr"}) EXPECT_TRUE(inbox::Watcher::IsKvr(n)) << n;
    for (const char* n : {".kvr", "a.kvr.tmp", "akvr", "a.kv"}) EXPECT_FALSE(inbox::Watcher::IsKvr(n)) << n;
    EXPECT_TRUE(inbox::Watcher::IsInp("B.INP"));
}

TEST(UntrustedInput, TheLockSaysWhyItCouldNotBeMadeAndLeavesNoFileBehind) {
    const fs::path dir = TestDir("lock");
    std::ofstream(dir / "file") << "x";
    platform::InstanceLock blocked;
    EXPECT_FALSE(blocked.acquire("Kovira_/x", (dir / "file" / "locks").string()));
    EXPECT_NE(blocked.error().find("lock folder"), std::string::npos) << blocked.error();

    std::string path;
    {
        platform::InstanceLock a, b;
        ASSERT_TRUE(a.acquire("Kovira_/x", (dir / "locks").string()));
        EXPECT_FALSE(b.acquire("Kovira_/x", (dir / "locks").string()));
        EXPECT_EQ(b.error(), "") << "held by another instance is no error";
        path = a.path();
        EXPECT_TRUE(fs::exists(path));
    }
    EXPECT_FALSE(fs::exists(path)) << "lock files do not pile up";
    platform::InstanceLock c;
    EXPECT_TRUE(c.acquire("Kovira_/x", (dir / "locks").string()));
}

TEST(UntrustedInput, FoldersThatCannotAnswerFilesAreNamedBeforeAnythingIsRead) {
    const fs::path dir = TestDir("folders");
    fs::create_directories(dir / "in");
    fs::create_directories(dir / "out");
    auto problems = [&](const std::string& in, const std::string& out) {
        std::string all;
        for (const auto& p : inbox::FolderProblems({in, out, false}, true)) all += p + "|";
        return all;
    };
    EXPECT_EQ(problems((dir / "in").string(), (dir / "out").string()), "");
    EXPECT_EQ(fs::directory_iterator(dir / "out"), fs::directory_iterator()) << "the test write leaves nothing";
    EXPECT_NE(problems((dir / "in").string(), (dir / "in").string()).find("is the InputFolder"), std::string::npos);
    EXPECT_NE(problems((dir / "in").string(), (dir / "in" / ".." / "in").string()).find("is the InputFolder"),
              std::string::npos);
    EXPECT_NE(problems((dir / "in").string(), (dir / "gone").string()).find("not an existing folder"),
              std::string::npos);
    EXPECT_NE(problems("", "").find("InputFolder is not set|OutputFolder is not set"), std::string::npos);
    if (::geteuid() != 0) {
        fs::permissions(dir / "out", fs::perms::owner_read | fs::perms::owner_exec);
        EXPECT_NE(problems((dir / "in").string(), (dir / "out").string()).find("not writable"), std::string::npos);
        fs::permissions(dir / "out", fs::perms::owner_all);
    }
}

#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <set>

#include "app/AppContext.h"
#include "platform/Platform.h"

namespace fs = std::filesystem;
using namespace kv::platform;

TEST(Platform, SettingsPathReplacesOrAddsTheExtension) {
    EXPECT_EQ(SettingsPathFor("/opt/kasa/kovira"), "/opt/kasa/kovira.ini");
    EXPECT_EQ(SettingsPathFor("/opt/kasa/Kovira.exe"), "/opt/kasa/Kovira.ini");
    EXPECT_EQ(SettingsPathFor(ExecutablePath()), ExecutableFolder() + "/core_tests.ini");
}

TEST(Platform, MutexNamesAndTheirLockFilesAreExactAndFlat) {
    EXPECT_EQ(InstanceMutexName("C:\\Ulaz"), "Kovira_C:_Ulaz");
    EXPECT_EQ(InstanceMutexName(""), "Kovira_");
    EXPECT_EQ(InstanceMutexName("/srv/ulaz"), "Kovira_/srv/ulaz");

    std::set<std::string> files;
    for (const char* folder : {"/srv/ulaz", "/srv/Ulaz", "/srv_ulaz", "/srv%2Fulaz", "", ".", "C:\\Ulaz"}) {
        std::string f = InstanceLockFileName(InstanceMutexName(folder));
        EXPECT_EQ(f.find('/'), std::string::npos) << f;
        EXPECT_NE(f[0], '.') << f;
        files.insert(f);
    }
    EXPECT_EQ(files.size(), 7u) << "each distinct name gets its own lock file";

    std::string longA = InstanceLockFileName(InstanceMutexName("/" + std::string(1000, 'a') + "1"));
    std::string longB = InstanceLockFileName(InstanceMutexName("/" + std::string(1000, 'a') + "2"));
    EXPECT_LE(longA.size(), 255u);
    EXPECT_NE(longA, longB);
}

TEST(Platform, InstanceLockRefusesASecondHolderUntilTheFirstEnds) {
    fs::path dir = fs::temp_directory_path() / ("kv_lock_" + std::to_string(::getpid()));
    {
        InstanceLock a;
        ASSERT_TRUE(a.acquire("Kovira_/x", dir.string()));
        InstanceLock b, c;
        EXPECT_FALSE(b.acquire("Kovira_/x", dir.string()));
        EXPECT_TRUE(c.acquire("Kovira_/X", dir.string()));
    }
    InstanceLock d;
    EXPECT_TRUE(d.acquire("Kovira_/x", dir.string()));
    fs::remove_all(dir);
}

TEST(Platform, GuidIsVersion4InBracedUpperCase) {
    std::regex form("^\\{[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-[89AB][0-9A-F]{3}-[0-9A-F]{12}\\}$");
    std::set<std::string> seen;
    for (int i = 0; i < 100; ++i) {
        std::string g = NewGuid();
        EXPECT_TRUE(std::regex_match(g, form)) << g;
        seen.insert(g);
    }
    EXPECT_EQ(seen.size(), 100u);
}

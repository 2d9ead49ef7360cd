#pragma once
// A fresh, empty folder for one test under the build's test folder
// (KOVIRA_TEST_TMP) or the system's temporary folder.
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

namespace kv::test {

inline std::filesystem::path FreshDir(const std::string& prefix, const std::string& tag) {
    namespace fs = std::filesystem;
    const char* base = std::getenv("KOVIRA_TEST_TMP");
    fs::path dir = fs::path(base ? base : fs::temp_directory_path().string()) /
                   (prefix + "_" + tag + "_" + std::to_string(::getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir);
    return dir;
}

}  // namespace kv::test

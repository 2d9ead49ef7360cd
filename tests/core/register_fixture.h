#pragma once
// A fresh register file per test, under the test's own temporary folder.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>

#include "register/uDMGlavni.h"

namespace kv::test {

inline std::filesystem::path RegisterTestDir() {
    const char* base = std::getenv("KOVIRA_TEST_TMP");
    auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = std::string(info->test_suite_name()) + "_" + info->name();
    for (char& c : name)
        if (c == '/') c = '_';
    auto dir = std::filesystem::path(base ? base : std::filesystem::temp_directory_path().string()) /
               ("kv_reg_" + std::to_string(::getpid()) + "_" + name);
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    return dir;
}

inline std::string ReadBytes(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

class RegisterTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir = RegisterTestDir();
        path = (dir / "Kovira.sdb").string();
        dm = std::make_unique<reg::TDMGlavni>(path);
    }
    void TearDown() override {
        dm.reset();
        std::filesystem::permissions(dir, std::filesystem::perms::owner_all, std::filesystem::perm_options::add);
        std::filesystem::remove_all(dir);
    }
    // Runs SQL on the file directly, as another program would.
    void Raw(const std::string& sql) { dm->Baza().db().exec(sql); }

    reg::Record Doc(int godina, int ui) {
        auto r = reg::TDMGlavni::NewRecord("Doku");
        r.set("Godina", std::int64_t(godina)).set("UI", std::int64_t(ui)).set("Status", std::int64_t(0));
        return r;
    }
    std::int64_t NewDoc(int godina, int ui) {
        auto r = Doc(godina, ui);
        return dm->NewDocument(r);
    }
    void Line(int godina, int ui, std::int64_t broj, const std::string& artikl, const char* kolUlaz,
              const char* kolIzlaz, const char* iznos) {
        auto l = reg::TDMGlavni::NewRecord("Prom");
        l.set("DokuGodina", std::int64_t(godina)).set("DokuUI", std::int64_t(ui)).set("DokuBroj", broj);
        l.set("Artikl", artikl).set("KolUlaz", kolUlaz).set("KolIzlaz", kolIzlaz).set("Iznos", iznos);
        ASSERT_TRUE(dm->Save(l));
    }

    std::filesystem::path dir;
    std::string path;
    std::unique_ptr<reg::TDMGlavni> dm;
};

}  // namespace kv::test

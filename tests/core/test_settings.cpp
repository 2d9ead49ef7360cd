#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "app/IniFile.h"
#include "app/Settings.h"
#include "util/ScriptedPrompter.h"

namespace fs = std::filesystem;
using namespace std::chrono;

namespace {

std::string ReadAll(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

void WriteAll(const fs::path& p, const std::string& s) { std::ofstream(p, std::ios::binary) << s; }

class SettingsTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir = fs::temp_directory_path() / ("kv_settings_" + std::to_string(::getpid()) + "_" +
                                           ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir);
        fs::create_directories(dir);
        path = dir / "kovira.ini";
    }
    void TearDown() override {
        ::chmod(path.c_str(), 0644);
        fs::remove_all(dir);
    }
    fs::path dir, path;
    kv::ScriptedPrompter prompter;
};

const char* kDefaultFile =
    "[Global]\n"
    "BaseURL=\nPort=\nToken=\nPIN=\nPosPrinter=\nA4Printer=\nA4Print=0\nInputFolder=\nOutputFolder=\n"
    "OutputFile=\nEscInit=\nEscCir=0\nEscLat=0\nEscCut=\nEscFF=\nEscLF=\nEscCR=\nScanTime=500\nQRPrint=0\n"
    "PrintUredjaj=0\nRenderPrint=1\nPaperWidth=386\nPaperLength=3276\nLeftMargin=0\nPOS5880=0\n"
    "ImageWidth=181\nHeaderImage=\nFooterImage=\nHeaderText=\nFooterText=\nFontName=Arial Narrow\n"
    "FontSize=8\nOldNacPl=0\nPrintGtin=0\nPuniOdgovor=0\n"
    "\n"
    "[Kasa]\n"
    "NacPl=0\nFontSize=8\nAutoStart=0\nBarkod=1\nSifra=1\nNaziv=1\nFilternaziv=1\nZalihe=0\nZoom=0\n"
    "Server=0\nServerAdress=\nSkladiste=\nKasaSifra=\nLoginUser=0\n";

TEST_F(SettingsTest, FirstStartWritesEveryKeyWithItsDefaultAndStartUpKeepsTheFileAsIs) {
    kv::AppSettings s(path.string(), prompter);
    ASSERT_TRUE(s.StartUp());
    EXPECT_EQ(ReadAll(path), kDefaultFile);
    s.FillRecords(year_month_day{2026y, December, 11d});
    // The start-up posts rewrite both sections; a complete file stays byte for byte the same.
    EXPECT_EQ(ReadAll(path), kDefaultFile);
    EXPECT_EQ(s.Bafer.integer("PaperWidth"), 386);
    EXPECT_EQ(s.Bafer.text("FontName"), "Arial Narrow");
    EXPECT_EQ(s.KasaBaf.integer("FilterNaziv"), 1);
    EXPECT_EQ(s.KasaBaf.integer("Godina"), 2026);
    EXPECT_EQ(s.KasaBaf.displayText("Datum"), "11.12.2026");
    EXPECT_TRUE(prompter.log().empty());
}

TEST_F(SettingsTest, ExistingFileKeepsOrderUnknownKeysAndCommentsAndGetsMissingKeys) {
    WriteAll(path,
             "; shop 12\r\n"
             "[global]\r\n"
             "ScanTime=250\r\n"
             "Custom=keep me\r\n"
             "BaseURL = http://127.0.0.1 \r\n"
             "RenderPrint=abc\r\n"
             "\r\n"
             "[Other]\r\n"
             "x=1\r\n"
             "[Kasa]\r\n"
             "ServerAdress=server.example.local.lan\r\n"
             "Zoom=-10\r\n");
    kv::AppSettings s(path.string(), prompter);
    ASSERT_TRUE(s.StartUp());
    s.FillRecords(year_month_day{2026y, December, 11d});

    EXPECT_EQ(s.Bafer.integer("ScanTime"), 250);
    EXPECT_EQ(s.Bafer.integer("RenderPrint"), 1) << "a non-numeric integer takes its default";
    EXPECT_EQ(s.Bafer.text("BaseURL"), "http://127.0.0.1");
    EXPECT_EQ(s.KasaBaf.text("ServerAdress"), "server.example.local") << "cut to 20 characters";
    EXPECT_EQ(s.KasaBaf.integer("Zoom"), -10);

    kv::IniFile ini(path.string());
    ini.load();
    std::string text = ini.text();
    EXPECT_EQ(text.rfind("; shop 12\r\n[global]\r\nScanTime=250\r\nCustom=keep me\r\nBaseURL=http://127.0.0.1\r\n"
                         "RenderPrint=1\r\n",
                         0),
              0u)
        << text;
    EXPECT_NE(text.find("PuniOdgovor=0\r\n\r\n[Other]\r\nx=1\r\n[Kasa]\r\n"), std::string::npos) << text;
    EXPECT_EQ(ini.read("Kasa", "ServerAdress"), "server.example.local");
    EXPECT_EQ(ini.read("Kasa", "LoginUser"), "0");
}

TEST_F(SettingsTest, TextIsCutByCharactersNotBytes) {
    kv::AppSettings s(path.string(), prompter);
    s.StartUp();
    s.FillRecords(year_month_day{2026y, December, 11d});
    s.KasaBaf.setText("Skladiste", std::string(19, 'a') + "žž");
    EXPECT_EQ(s.KasaBaf.text("Skladiste"), std::string(19, 'a') + "ž");
}

TEST_F(SettingsTest, TapeWidthSetsPaperAndImageWidth) {
    kv::AppSettings s(path.string(), prompter);
    s.StartUp();
    s.FillRecords(year_month_day{2026y, December, 11d});
    struct Case {
        int tape, paper, image;
    } cases[] = {{1, 80, 302}, {0, 58, 181}, {7, 58, 181}};
    for (auto c : cases) {
        s.Bafer.setInt("POS-58-80", c.tape);
        EXPECT_EQ(s.Bafer.integer("PaperWidth"), c.paper) << c.tape;
        EXPECT_EQ(s.Bafer.integer("ImageWidth"), c.image) << c.tape;
    }
    // Loading from the file is not an edit: a stored 386 survives POS5880=0.
    EXPECT_EQ(kv::IniFile(path.string()).exists(), true);
    kv::AppSettings again(path.string(), prompter);
    again.StartUp();
    again.FillRecords(year_month_day{2026y, December, 11d});
    EXPECT_EQ(again.Bafer.integer("PaperWidth"), 386);
}

TEST_F(SettingsTest, WorkDateIntoAnotherYearSwitchesTheWorkYearOnce) {
    kv::AppSettings s(path.string(), prompter);
    std::vector<int> reopened;
    s.onWorkYearChanged = [&](int y) { reopened.push_back(y); };
    s.StartUp();
    s.FillRecords(year_month_day{2026y, December, 31d});
    s.KasaBaf.setDate("Datum", year_month_day{2026y, December, 30d});
    s.KasaBaf.setFromText("Datum", "02.01.2027");
    EXPECT_EQ(s.KasaBaf.integer("Godina"), 2027);
    EXPECT_EQ(reopened, (std::vector<int>{2026, 2027}));
}

TEST_F(SettingsTest, UnsavedValueReachesTheFileOnlyWhenWrittenAndPostCallsScanTimeHook) {
    kv::AppSettings s(path.string(), prompter);
    int64_t interval = -1;
    s.onScanTimeChanged = [&](int64_t ms) { interval = ms; };
    s.StartUp();
    s.FillRecords(year_month_day{2026y, December, 11d});
    EXPECT_EQ(interval, 500);

    s.Bafer.setText("Token", "secret-token");
    EXPECT_TRUE(s.Bafer.isEditing());
    EXPECT_EQ(ReadAll(path).find("secret-token"), std::string::npos);
    ASSERT_TRUE(s.WriteGlobal());  // what a confirmed close does
    EXPECT_NE(ReadAll(path).find("Token=secret-token\n"), std::string::npos);

    s.Bafer.setFromText("ScanTime", "750");
    s.Bafer.post();
    EXPECT_EQ(interval, 750);
    EXPECT_THROW(s.Bafer.setFromText("ScanTime", "7x"), std::invalid_argument);
}

TEST_F(SettingsTest, CancelRestoresTheRowAsItWasBeforeEditing) {
    kv::AppSettings s(path.string(), prompter);
    s.StartUp();
    s.FillRecords(year_month_day{2026y, December, 11d});
    s.Bafer.setText("PIN", "1234");
    s.Bafer.setInt("POS-58-80", 1);
    s.Bafer.cancel();
    EXPECT_FALSE(s.Bafer.isEditing());
    EXPECT_EQ(s.Bafer.text("PIN"), "");
    EXPECT_EQ(s.Bafer.integer("PaperWidth"), 386);
}

TEST_F(SettingsTest, ReadOnlyFileIsReportedByNameAndValuesStayInMemory) {
    kv::AppSettings s(path.string(), prompter);
    s.StartUp();
    s.FillRecords(year_month_day{2026y, December, 11d});
    ::chmod(path.c_str(), 0444);
    s.Bafer.setText("PIN", "4321");
    s.Bafer.post();
    ASSERT_EQ(prompter.texts().size(), 1u);
    EXPECT_NE(prompter.texts()[0].find(path.string()), std::string::npos) << prompter.texts()[0];
    EXPECT_EQ(ReadAll(path), kDefaultFile);
    EXPECT_EQ(s.Bafer.text("PIN"), "4321");
    // Every later save fails the same way: the user has heard it once.
    s.Bafer.setText("PIN", "5555");
    s.Bafer.post();
    s.KasaBaf.edit();
    s.KasaBaf.post();
    EXPECT_EQ(prompter.texts().size(), 1u);
}

TEST_F(SettingsTest, MultiLineTextsAndQuotedValuesReadBackExactly) {
    kv::AppSettings s(path.string(), prompter);
    s.StartUp();
    s.FillRecords(year_month_day{2026y, December, 11d});
    s.Bafer.setText("HeaderText", "Prodavnica \"Kod Mike\"\nC:\\Kasa\\n\r\nkraj");
    s.Bafer.setText("FooterImage", "  /slike/kraj.png ");
    s.Bafer.setText("EscInit", "\"27,64\"");
    s.Bafer.post();
    std::string file = ReadAll(path);
    EXPECT_EQ(std::count(file.begin(), file.end(), '\n'), std::count(kDefaultFile, kDefaultFile + strlen(kDefaultFile), '\n'));

    kv::AppSettings again(path.string(), prompter);
    again.StartUp();
    again.FillRecords(year_month_day{2026y, December, 11d});
    EXPECT_EQ(again.Bafer.text("HeaderText"), "Prodavnica \"Kod Mike\"\nC:\\Kasa\\n\nkraj");
    EXPECT_EQ(again.Bafer.text("FooterImage"), "  /slike/kraj.png ");
    EXPECT_EQ(again.Bafer.text("EscInit"), "\"27,64\"");
}

// Fault found by fuzzing: the byte order mark was dropped on load and not
// written back, so every save took one off the front. A file that began with
// two (or whose first line began with one) changed meaning on each save: here
// "[global]" became a second section and the value written under it was lost.
TEST_F(SettingsTest, ByteOrderMarkIsKeptSoSavesDoNotShiftTheFirstLine) {
    for (const std::string head : {"\xEF\xBB\xBF", "\xEF\xBB\xBF\xEF\xBB\xBF"}) {
        SCOPED_TRACE(head.size());
        const std::string file = head + "[global]\r\nScanTime=250\r\n";
        WriteAll(path, file);
        kv::IniFile ini(path.string());
        ini.load();
        ini.write("Global", "Token", "t");
        std::string error;
        ASSERT_TRUE(ini.save(&error)) << error;
        ASSERT_TRUE(ini.save(&error)) << error;
        ini.load();
        EXPECT_EQ(ini.read("Global", "Token"), "t");
        EXPECT_EQ(ReadAll(path).rfind(file, 0), 0u) << ReadAll(path);
    }
}

TEST(IniInteger, ParsesLikeTheProfileFunctions) {
    struct Case {
        const char* text;
        std::optional<int64_t> value;
    } cases[] = {{"500", 500},          {" -10 ", -10},        {"+7", 7},
                 {"", std::nullopt},    {"12a", std::nullopt}, {"0x10", std::nullopt},
                 {"2147483647", 2147483647}, {"2147483648", std::nullopt}, {"-2147483648", -2147483648LL}};
    for (const auto& c : cases) EXPECT_EQ(kv::ParseIniInteger(c.text), c.value) << c.text;
}

}  // namespace

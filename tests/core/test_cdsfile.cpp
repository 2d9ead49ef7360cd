#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <limits>

#include "money_literal.h"
#include "util/CdsFile.h"

namespace fs = std::filesystem;
using kv::Currency;
using kv::FieldKind;
using kv::FieldType;
using kv::MemTable;
using kv::Value;

namespace {

using Rows = std::vector<std::vector<Value>>;

Rows contents(const MemTable& t) {
    Rows rows;
    for (std::size_t r = 0; r < t.recordCount(); ++r) {
        rows.emplace_back();
        for (std::size_t f = 0; f < t.fieldCount(); ++f) rows.back().push_back(t.valueAt(r, f));
    }
    return rows;
}

void appendRow(MemTable& t, const std::vector<Value>& values) {
    t.append();
    for (std::size_t i = 0; i < values.size(); ++i) t.field(i).setValue(values[i]);
    t.post();
}

class CdsFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        const char* base = std::getenv("KOVIRA_TEST_TMP");
        dir = fs::path(base ? base : fs::temp_directory_path().string()) /
              ("kv_cds_" + std::to_string(::getpid()) + "_" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir);
        fs::create_directories(dir);
        path = (dir / "Items.cds").string();
    }
    void TearDown() override { fs::remove_all(dir); }

    void write(const std::string& text) const { std::ofstream(path, std::ios::binary) << text; }

    fs::path dir;
    std::string path;
};

}  // namespace

TEST_F(CdsFileTest, RoundTripKeepsEveryValueExactly) {
    const std::vector<kv::FieldDef> fields = {
        {"Naziv", FieldType::String, 40}, {"Broj", FieldType::Largeint},  {"Aktivan", FieldType::Boolean},
        {"Tezina", FieldType::Float},     {"Cijena", FieldType::Currency}, {"Datum", FieldType::Date},
        {"Vrijeme", FieldType::DateTime}, {"Sat", FieldType::Time},        {"Slika", FieldType::Blob},
        {"Opis", FieldType::Memo},
    };
    MemTable source(fields);
    source.addField({"Iznos", FieldType::Currency, 0, FieldKind::Calculated});
    source.open();
    appendRow(source, {std::string("Čaj \"Zeleni\"\n\\ 😀"), std::numeric_limits<std::int64_t>::max(), true, 0.1,
                       Currency::fromRaw(std::numeric_limits<std::int64_t>::min()), kv::DateTime::fromParts(2024, 2, 29),
                       kv::DateTime::fromParts(1969, 12, 31, 23, 59, 59, 999), kv::DateTime::fromParts(1970, 1, 1, 13, 5),
                       std::string("\0\xFF\x01 x", 5), std::string(3000, 'm')});
    appendRow(source, {Value(), Value(), Value(), Value(), Value(), Value(), Value(), Value(), Value(), Value()});
    appendRow(source, {std::string(), std::int64_t{-1}, false, -1e-300, 12.5_cur, Value(), Value(), Value(),
                       std::string(), std::string()});
    // Saving twice over the same name replaces the file and leaves nothing else behind.
    SaveCdsFile(source, path);
    SaveCdsFile(source, path);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 1);

    MemTable loaded(fields);  // closed: loading opens it
    ASSERT_TRUE(LoadCdsFile(loaded, path));
    EXPECT_TRUE(loaded.active());
    Rows expected = contents(source);
    for (auto& row : expected) row.pop_back();  // calculated fields are not stored
    EXPECT_EQ(contents(loaded), expected);
}

TEST_F(CdsFileTest, DifferentFieldListsShareValuesByName) {
    MemTable older({{"Sifra", FieldType::Integer},
                    {"Naziv", FieldType::String, 20},
                    {"Cijena", FieldType::Currency},
                    {"Kolicina", FieldType::String, 10},
                    {"Stari", FieldType::String, 10}});
    older.open();
    appendRow(older, {std::int64_t{1}, std::string("Hljeb"), 1.25_cur, std::string("2,5"), std::string("x")});
    appendRow(older, {std::int64_t{2}, std::string("Mlijeko"), 2.0_cur, std::string("mnogo"), std::string("y")});
    SaveCdsFile(older, path);

    // A newer layout: renamed case, a shorter text, other types, a new field, a calculated one.
    MemTable newer({{"NAZIV", FieldType::String, 4},
                    {"Cijena", FieldType::String, 10},
                    {"Kolicina", FieldType::Currency},
                    {"Novi", FieldType::Integer},
                    {"Iznos", FieldType::Currency, 0, FieldKind::Calculated}});
    newer.open();
    EXPECT_TRUE(LoadCdsFile(newer, path));

    const Rows expected = {
        {std::string("Hlje"), std::string("1.25"), 2.5_cur, Value(), Value()},
        {std::string("Mlij"), std::string("2"), Value(), Value(), Value()},  // "mnogo" is no quantity: skipped
    };
    EXPECT_EQ(contents(newer), expected);
}

TEST_F(CdsFileTest, TargetEndsWithExactlyTheFileRecords) {
    MemTable saved({{"Sifra", FieldType::Integer}, {"Naziv", FieldType::String, 10}});
    saved.open();
    appendRow(saved, {std::int64_t{2}, std::string("b")});
    appendRow(saved, {std::int64_t{1}, std::string("a")});
    SaveCdsFile(saved, path);

    MemTable target({{"Sifra", FieldType::Integer}, {"Naziv", FieldType::String, 10}});
    target.setIndexFieldNames("Sifra");
    target.open();
    for (std::int64_t i = 10; i < 13; ++i) appendRow(target, {i, std::string("old")});
    int posts = 0;
    target.addAfterPost([&](MemTable&) { ++posts; });
    target.edit();
    target.field("Naziv").setValue("pending");

    ASSERT_TRUE(LoadCdsFile(target, path));
    EXPECT_EQ(target.state(), kv::DatasetState::Browse);
    EXPECT_EQ(posts, 2);  // one post per loaded record, as if typed in
    EXPECT_EQ(contents(target),
              (Rows{{std::int64_t{1}, std::string("a")}, {std::int64_t{2}, std::string("b")}}));  // its own order
}

TEST_F(CdsFileTest, UnusableFileThrowsAndLeavesTheTargetAlone) {
    const std::string head = R"({"format":"kovira-dataset","version":1,"fields":[)";
    const std::string twoFields = R"({"name":"Sifra","type":3,"size":0},{"name":"Naziv","type":1,"size":10}])";
    struct Case {
        const char* what;
        std::string text;
    };
    const Case cases[] = {
        {"empty", ""},
        {"not JSON", "Invoice"},
        {"truncated", head + twoFields + R"(,"records":[[1,"a"],[2,)"},
        {"trailing text", head + twoFields + R"(,"records":[]} x)"},
        {"other format", R"({"format":"x","version":1,"fields":[{"name":"A","type":1}],"records":[]})"},
        {"other version", R"({"format":"kovira-dataset","version":2,"fields":[{"name":"A","type":1}],"records":[]})"},
        {"no fields", head + R"(],"records":[]})"},
        {"unknown type", head + R"({"name":"A","type":99}],"records":[]})"},
        {"duplicate name", head + R"({"name":"A","type":3},{"name":"a","type":3}],"records":[]})"},
        {"short record", head + twoFields + R"(,"records":[[1,"a"],[2]]})"},
        {"wrong value type", head + twoFields + R"(,"records":[["1","a"]]})"},
        {"out of range", head + R"({"name":"A","type":2}],"records":[[70000]]})"},
        {"currency as number", head + R"({"name":"A","type":7}],"records":[[12.5]]})"},
        {"currency with comma", head + R"({"name":"A","type":7}],"records":[["12,5"]]})"},
        {"bad date", head + R"({"name":"A","type":9}],"records":[["2024-02-30"]]})"},
        {"bad base64", head + R"({"name":"A","type":15}],"records":[["@@@@"]]})"},
        {"invalid UTF-8", head + twoFields + ",\"records\":[[1,\"\xFF\"]]}"},
        {"deep nesting", std::string(100000, '[') + std::string(100000, ']')},
    };

    MemTable target({{"Sifra", FieldType::Integer}, {"Naziv", FieldType::String, 10}});
    target.open();
    appendRow(target, {std::int64_t{7}, std::string("x")});
    appendRow(target, {std::int64_t{8}, std::string("y")});
    const Rows before = contents(target);

    auto expectRefused = [&](const std::string& label) {
        SCOPED_TRACE(label);
        try {
            LoadCdsFile(target, path);
            ADD_FAILURE() << "loaded";
        } catch (const kv::CdsFileError& e) {
            EXPECT_NE(std::string(e.what()).find(path), std::string::npos) << e.what();
        }
        EXPECT_EQ(contents(target), before);
    };
    for (const Case& c : cases) {
        write(c.text);
        expectRefused(c.what);
    }
    fs::remove(path);
    expectRefused("missing");
    fs::create_directory(path);
    expectRefused("directory");
    fs::remove(path);
    write("{}");
    fs::resize_file(path, kv::kMaxCdsFileSize + 1);  // sparse: costs no disk
    expectRefused("oversized");
}

TEST_F(CdsFileTest, SaveToAMissingFolderThrowsAndWritesNothing) {
    MemTable t({{"Sifra", FieldType::Integer}});
    t.open();
    const std::string target = (dir / "nema" / "Invoice.cds").string();
    try {
        SaveCdsFile(t, target);
        ADD_FAILURE() << "saved";
    } catch (const kv::CdsFileError& e) {
        EXPECT_NE(std::string(e.what()).find(target), std::string::npos) << e.what();
    }
    EXPECT_TRUE(fs::is_empty(dir));
}

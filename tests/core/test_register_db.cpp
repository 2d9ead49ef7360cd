// The register's file: created with its twelve tables on the first start,
// left alone on every later one, and refused (untouched) when it cannot serve.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <SQLiteCpp/Database.h>
#include <SQLiteCpp/Statement.h>

#include <map>

#include "register/Schema.h"
#include "register_fixture.h"

namespace fs = std::filesystem;
using kv::reg::DatabaseError;
using kv::reg::TDMGlavni;

namespace {

// Tables, columns and declared types other programs rely on, written out
// independently of the schema code.
const std::map<std::string, std::vector<std::string>> kExpected = {
    {"Doku",
     {"Godina INTEGER 1 1", "UI INTEGER 1 2", "Broj INTEGER 1 3", "Opis TEXT 0 0", "Storno INTEGER 0 0",
      "Status INTEGER 0 0", "Datum DATETIME 0 0", "SysTime DATETIME 0 0", "Cashier TEXT 0 0", "Kupac TEXT 0 0",
      "KupacOrgj TEXT 0 0", "NacinPL TEXT 0 0", "RefDN TEXT 0 0", "RefDT TEXT 0 0", "PFRBROJ TEXT 0 0",
      "PFRTIME TEXT 0 0", "ID TEXT 0 0", "Nivelacija INTEGER 0 0", "PartnerSifra TEXT 0 0", "KarticaKupca TEXT 0 0",
      "PargKasa TEXT 0 0", "PargBroj INTEGER 0 0", "Placeno NUMERIC(18, 2) 0 0"}},
    {"Prom",
     {"DokuGodina INTEGER 1 1", "DokuUI INTEGER 1 2", "DokuBroj INTEGER 1 3", "Stavka INTEGER 1 4",
      "Artikl TEXT 0 0", "BarKod TEXT 0 0", "Opis TEXT 0 0", "KolUlaz NUMERIC(18, 4) 0 0",
      "KolIzlaz NUMERIC(18, 4) 0 0", "Cijena NUMERIC(18, 2) 0 0", "Iznos NUMERIC(18, 2) 0 0", "Tarifa TEXT 0 0",
      "Stopa NUMERIC(18, 2) 0 0", "Rabat NUMERIC(18, 4) 0 0"}},
    {"Artikl",
     {"Sifra TEXT 1 1", "Naziv TEXT 0 0", "Grupa TEXT 1 0", "Tarifa TEXT 1 0", "Cijena NUMERIC(18, 2) 1 0"}},
    {"Barkod", {"Sifra TEXT 1 1", "Artikl TEXT 1 2"}},
    {"Grupa", {"Sifra TEXT 1 1", "Naziv TEXT 0 0"}},
    {"Tarifa", {"SIFRA TEXT 1 1", "STOPA NUMERIC(18, 2) 0 0", "FiskTax TEXT 0 0"}},
    {"PaymentType", {"Sifra TEXT 1 1", "Opis TEXT 0 0", "FiskPayType INTEGER 0 0"}},
    {"Radnik", {"Username TEXT 1 1", "PrezimeIme TEXT 0 0", "Pass TEXT 0 0"}},
    {"Partner",
     {"PARTNERSIFRA TEXT 1 1", "PARTNERNAZIV TEXT 0 0", "PARTNERADRESA TEXT 0 0", "PARTNERMJESTO TEXT 0 0",
      "PARTNERIJIB TEXT 0 0", "PARTNERPIB TEXT 0 0"}},
    {"Kart", {"KARTSIFRA TEXT 1 1", "KARTNAZIV TEXT 0 0"}},
    {"Rabat", {"RABATKART TEXT 1 1", "RABATTIP TEXT 1 2", "RABATSIFRA TEXT 1 3", "RABATPROC NUMERIC(18, 4) 0 0"}},
    {"Podaci",
     {"Broj TEXT 0 0", "TipTrans TEXT 0 0", "TipRacuna TEXT 0 0", "Vrijeme TEXT 0 0", "Datum DATETIME 0 0",
      "IZNOS REAL 0 0"}},
};

std::map<std::string, std::vector<std::string>> ActualSchema(const std::string& path) {
    SQLite::Database db(path, SQLite::OPEN_READONLY);
    std::map<std::string, std::vector<std::string>> out;
    SQLite::Statement tables(db, "SELECT name FROM sqlite_master WHERE type = 'table' ORDER BY name");
    while (tables.executeStep()) {
        std::string t = tables.getColumn(0).getString();
        SQLite::Statement cols(db, "SELECT name, type, \"notnull\", pk FROM pragma_table_info(?)");
        cols.bind(1, t);
        while (cols.executeStep())
            out[t].push_back(cols.getColumn(0).getString() + " " + cols.getColumn(1).getString() + " " +
                             cols.getColumn(2).getString() + " " + cols.getColumn(3).getString());
    }
    return out;
}

class RegisterFile : public ::testing::Test {
protected:
    void SetUp() override {
        dir = kv::test::RegisterTestDir();
        path = (dir / "Kovira.sdb").string();
    }
    void TearDown() override {
        ::chmod(dir.c_str(), 0755);
        if (fs::exists(path)) ::chmod(path.c_str(), 0644);
        fs::remove_all(dir);
    }
    // Opening must fail with `kind`, name the file, and leave it as it was
    // (no journal either).
    void ExpectRefusedUntouched(DatabaseError::Kind kind) {
        const bool existed = fs::exists(path);
        const std::string before = existed ? kv::test::ReadBytes(path) : "";
        try {
            TDMGlavni dm(path);
            FAIL() << "opened";
        } catch (const DatabaseError& e) {
            EXPECT_EQ(e.kind(), kind) << e.what();
            EXPECT_NE(std::string(e.what()).find(path), std::string::npos) << e.what();
        }
        EXPECT_EQ(fs::exists(path), existed);
        if (existed) {
            EXPECT_EQ(kv::test::ReadBytes(path), before);
        }
        EXPECT_FALSE(fs::exists(path + "-journal"));
    }
    fs::path dir;
    std::string path;
};

TEST_F(RegisterFile, FirstStartCreatesTheTwelveTablesWithTheirExactDeclarations) {
    { TDMGlavni dm(path); }
    EXPECT_EQ(ActualSchema(path), kExpected);
    SQLite::Database db(path, SQLite::OPEN_READONLY);
    EXPECT_EQ(db.execAndGet("PRAGMA journal_mode").getString(), "delete");
    // The indexes the lookups and the stock need are part of the script.
    SQLite::Statement idx(db, "SELECT name FROM sqlite_master WHERE type = 'index' AND sql IS NOT NULL ORDER BY name");
    std::vector<std::string> names;
    while (idx.executeStep()) names.push_back(idx.getColumn(0).getString());
    EXPECT_EQ(names, (std::vector<std::string>{"BarkodArtikl", "DokuDatum", "DokuStatus", "PromArtikl"}));
}

TEST_F(RegisterFile, LaterStartsChangeNothingInTheFileAndKeepItsData) {
    {
        TDMGlavni dm(path);
        auto r = TDMGlavni::NewRecord("Grupa");
        r.set("Sifra", "01").set("Naziv", "Pića");
        ASSERT_TRUE(dm.Save(r));
    }
    const std::string before = kv::test::ReadBytes(path);
    for (int i = 0; i < 2; ++i) {
        TDMGlavni dm(path);
        ASSERT_EQ(dm.Grupa().size(), 1u);
    }
    EXPECT_EQ(kv::test::ReadBytes(path), before);
}

TEST_F(RegisterFile, AFileOfAnotherKindIsRefusedByNameAndNotWritten) {
    std::ofstream(path, std::ios::binary) << "Sifra;Naziv\n1001;Voda\n";
    ExpectRefusedUntouched(DatabaseError::Kind::NotSqlite);
}

TEST_F(RegisterFile, ADamagedFileIsRefusedByNameAndNotWritten) {
    {
        TDMGlavni dm(path);
        auto r = TDMGlavni::NewRecord("Grupa");
        r.set("Sifra", "01");
        dm.Save(r);
    }
    // Spoil the first page's b-tree header: the schema can no longer be read.
    std::string bytes = kv::test::ReadBytes(path);
    for (int i = 100; i < 108; ++i) bytes[i] = '\xFF';
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
    ExpectRefusedUntouched(DatabaseError::Kind::Corrupt);
}

TEST_F(RegisterFile, AReadOnlyFileOrFolderIsRefusedByName) {
    { TDMGlavni dm(path); }
    ::chmod(path.c_str(), 0444);
    ExpectRefusedUntouched(DatabaseError::Kind::ReadOnly);
    ::chmod(path.c_str(), 0644);
    ::chmod(dir.c_str(), 0555);
    ExpectRefusedUntouched(DatabaseError::Kind::ReadOnly);  // no journal could be written beside it
    ::chmod(dir.c_str(), 0755);
    fs::remove(path);
    ::chmod(dir.c_str(), 0555);
    ExpectRefusedUntouched(DatabaseError::Kind::ReadOnly);  // nor a new file created
}

}  // namespace

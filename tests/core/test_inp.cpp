// Text invoice files: the line split, numbers and codes, and each file as a
// confirmed document of its own in the register, written whole or not at all.
#include <gtest/gtest.h>

#include "app/Settings.h"
#include "inbox/InpFile.h"
#include "money_literal.h"
#include "platform/Platform.h"
#include "register/DemoData.h"
#include "register/InpDocument.h"
#include "register/InvoiceEntry.h"
#include "register_fixture.h"
#include "util/ScriptedPrompter.h"

using namespace kv;
using namespace kv::inbox;
using namespace kv::reg;

namespace {

using Fields = std::vector<std::string>;

TEST(InpSplit, Table) {
    const struct {
        const char* line;
        Fields fields;
    } cases[] = {
        {"", {}},
        {"S", {"S"}},
        {"a;b", {"a", "b"}},
        {" a ; b ", {" a ", " b "}},                       // spaces belong to the field
        {"a;", {"a", ""}},                                 // a trailing ";" adds an empty field
        {";", {"", ""}},
        {"a;;b", {"a", "", "b"}},
        {"\"x;y\";z", {"x;y", "z"}},                       // a quoted field keeps its ";"
        {"\"say \"\"hi\"\"\";1", {"say \"hi\"", "1"}},     // two quotes stand for one
        {"\"ab\"cd;e", {"ab", "cd", "e"}},                // text after the closing quote is a further field
        {"\"ab\"\"c\";x", {"ab\"c", "x"}},
        {"x;\"ab\"", {"x", "ab"}},
        {"\"ab\";", {"ab", ""}},
        {"\"open;end", {"open;end"}},                      // an unclosed quote runs to the end
        {"a\"b;c", {"a\"b", "c"}},                         // a quote inside a plain field is plain
        {"\"\";x", {"", "x"}},
    };
    for (const auto& c : cases) EXPECT_EQ(SplitInpLine(c.line), c.fields) << c.line;
}

TEST(InpNumbers, BothSeparatorsAndErrors) {
    const struct {
        const char* text;
        char sep;
        Currency want;
    } ok[] = {
        {"2.50", ',', 2.5_cur}, {"2,50", ',', 2.5_cur}, {"2.50", '.', 2.5_cur}, {"2,50", '.', 2.5_cur},
        {"-1", ',', -1_cur},    {" 3 ", ',', 3_cur},    {"0.12345", ',', 0.1235_cur},  // four decimals kept
        {"1e2", ',', 100_cur},
    };
    for (const auto& c : ok) EXPECT_EQ(InpDecimal(c.text, c.sep), c.want) << c.text << " sep " << c.sep;
    for (const char* bad : {"", "abc", "1.000,50", "1,000.50", "2.5x", "1 000", "--1"})
        EXPECT_THROW(InpDecimal(bad, ','), InpError) << bad;
}

TEST(InpCodes, TaxAndPaymentTables) {
    EXPECT_EQ(InpTaxCode("1").tarifa, "A");
    EXPECT_EQ(InpTaxCode("1").stopa, 0_cur);
    EXPECT_EQ(InpTaxCode("2").tarifa, "E");
    EXPECT_EQ(InpTaxCode("2").stopa, 17_cur);
    EXPECT_EQ(InpTaxCode("4").tarifa, "K");
    for (const char* other : {"0", "3", "02", " 2", "", "E"}) {
        EXPECT_EQ(InpTaxCode(other).tarifa, "") << other;
        EXPECT_EQ(InpTaxCode(other).stopa, 0_cur) << other;
    }
    EXPECT_EQ(InpPaymentCode("0"), "1");
    EXPECT_EQ(InpPaymentCode("1"), "2");
    EXPECT_EQ(InpPaymentCode("2"), "3");
    EXPECT_EQ(InpPaymentCode("3"), "0");
    for (const char* other : {"4", "00", "", "T"}) EXPECT_EQ(InpPaymentCode(other), std::nullopt) << other;
}

TEST(InpParse, LineKindsAmountsAndPayment) {
    const std::string text =
        "S;Kafa;2.50;2;;;2;;101\r\n"
        "X;skipped;x;y\n"
        "S\n"                                   // one field: passed over
        "s;lower;a;b;;;1;;1\n"                  // lower-case s is no item line
        "\n"
        "S;\"Sok; 1 l\";1,25;0.5;4;5;1;7;102;extra\n"
        "T;3\n"
        "T;9\n"                                 // unknown code: the last known one stays
        "Kraj;1";
    InpSale sale = ParseInp(text, ',');
    ASSERT_EQ(sale.items.size(), 2u);
    const auto& a = sale.items[0];
    EXPECT_EQ(a.artikl, "101");
    EXPECT_EQ(a.opis, "Kafa");
    EXPECT_EQ(a.cijena, 2.5_cur);
    EXPECT_EQ(a.kolicina, 2_cur);
    EXPECT_EQ(a.iznos, 5_cur);
    EXPECT_EQ(a.tarifa, "E");
    EXPECT_EQ(a.stopa, 17_cur);
    const auto& b = sale.items[1];
    EXPECT_EQ(b.opis, "Sok; 1 l");
    EXPECT_EQ(b.iznos, 0.63_cur);  // 0.625 rounded half away from zero
    EXPECT_EQ(b.tarifa, "A");
    EXPECT_EQ(sale.nacinPL, "0");

    EXPECT_EQ(ParseInp("S;a;1;1;;;3;;1\n", ',').nacinPL, std::nullopt);
    EXPECT_EQ(ParseInp("S;a;1;1;;;3;;1\n", ',').items[0].tarifa, "");
}

TEST(InpParse, ErrorsNameTheLine) {
    const struct {
        const char* text;
        const char* expect;
    } cases[] = {
        {"S;a;1;1;;;2;;101\nS;b;1;1;;;2;101\n", "line 2"},       // 8 fields
        {"S;a;dva;1;;;2;;101\n", "'dva'"},
        {"T;0\nS;a;1;1.2.3;;;2;;101\n", "line 2"},
    };
    for (const auto& c : cases) {
        try {
            ParseInp(c.text, ',');
            ADD_FAILURE() << c.text;
        } catch (const InpError& e) {
            EXPECT_NE(std::string(e.what()).find(c.expect), std::string::npos) << e.what();
        }
    }
}

class InpDocumentTest : public test::RegisterTest {
protected:
    void SetUp() override {
        RegisterTest::SetUp();
        platform::SetDecimalSeparator(',');
        ASSERT_TRUE(LoadDemoData(*dm));
        EnsureInpTable(*dm);
        d.year = 2024;
        d.workDate = DateTime::fromParts(2024, 3, 5);
        d.sysTime = DateTime::fromParts(2024, 3, 5, 10, 0, 0);
        d.nacinPL = "0";
        d.cashier = "ana";
    }
    InpSource Src(const std::string& name, const std::string& bytes) { return {"/in", name, ContentDigest(bytes)}; }
    InpDefaults d;
};

TEST_F(InpDocumentTest, OwnConfirmedDocumentBesideTheCashiersOpenInvoice) {
    // The cashier has an invoice open with a line typed.
    auto open = Doc(2024, kRacun);
    open.set("Status", std::int64_t(0));
    const auto openNo = dm->NewDocument(open);
    Line(2024, kRacun, openNo, "1001", "0", "1", "1.20");

    const std::string bytes = "S;Kafa;2.50;2;;;2;;101\nS;Voda;1,20;1;;;1;;1001\nT;2\n";
    Record h = CreateInpDocument(*dm, ParseInp(bytes, ','), Src("a.inp", bytes), d);
    const auto no = *h.integer("Broj");
    EXPECT_NE(no, openNo);
    auto stored = dm->Dokument(2024, kRacun, no);
    ASSERT_TRUE(stored);
    EXPECT_EQ(stored->integer("Status"), 1);
    EXPECT_EQ(stored->text("NacinPL"), "3");
    EXPECT_EQ(stored->text("Cashier"), "ana");
    EXPECT_FALSE(stored->text("ID").empty());
    auto lines = dm->StavkeRac(2024, kRacun, no);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].text("Artikl"), "101");
    EXPECT_EQ(lines[0].decimal("Iznos"), 5_cur);
    EXPECT_EQ(lines[0].text("Tarifa"), "E");
    EXPECT_EQ(lines[0].decimal("Stopa"), 17_cur);
    EXPECT_EQ(lines[1].integer("Stavka"), 2);
    EXPECT_EQ(dm->ZbirRac(2024, kRacun, no), 6.2_cur);
    // The open invoice is as the cashier left it.
    EXPECT_EQ(dm->StavkeRac(2024, kRacun, openNo).size(), 1u);
    EXPECT_EQ(dm->Otvoren(2024), openNo);

    // Found again by folder, name and content; not by another content or folder.
    auto found = FindInpDocument(*dm, Src("a.inp", bytes));
    ASSERT_TRUE(found);
    EXPECT_EQ(found->integer("Broj"), no);
    EXPECT_FALSE(FindInpDocument(*dm, Src("a.inp", bytes + "\n")));
    EXPECT_FALSE(FindInpDocument(*dm, {"/other", "a.inp", ContentDigest(bytes)}));
    // Retired with its file: the same name and content later is a new sale.
    RetireInpFile(*dm, Src("a.inp", bytes));
    EXPECT_FALSE(FindInpDocument(*dm, Src("a.inp", bytes)));
}

TEST_F(InpDocumentTest, RefusedLineWritesNothing) {
    const auto before = dm->Racuni(2024).size();
    const struct {
        const char* bytes;
        int stockMode;
    } cases[] = {
        {"S;a;1;1;;;2;;1001\nS;zero;0;1;;;2;;1002\n", 0},          // no amount on line 2
        {"S;a;1;1;;;2;;1001\nS;big;1;100000000;;;2;;1002\n", 0},   // quantity too large
        {"S;a;1;1;;;2;;1001\nS;b;1;1000000;;;2;;9999\n", 2},       // no stock of 9999
        {"T;0\n", 0},                                               // no lines at all
    };
    for (const auto& c : cases) {
        d.stockMode = c.stockMode;
        EXPECT_THROW(CreateInpDocument(*dm, ParseInp(c.bytes, ','), Src("b.inp", c.bytes), d), InpError) << c.bytes;
        EXPECT_FALSE(FindInpDocument(*dm, Src("b.inp", c.bytes)));
    }
    EXPECT_EQ(dm->Racuni(2024).size(), before);
    auto st = dm->Baza().prepare("SELECT COUNT(*) FROM Prom WHERE DokuUI = 1");
    st.executeStep();
    EXPECT_EQ(st.getColumn(0).getInt64(), 0);
}

TEST_F(InpDocumentTest, SweepRetiresOnlyFilesGoneFromItsFolder) {
    const std::string x = "S;a;1;1;;;2;;1\n", y = "S;b;2;1;;;2;;2\n";
    CreateInpDocument(*dm, ParseInp(x, ','), Src("x.inp", x), d);
    CreateInpDocument(*dm, ParseInp(y, ','), Src("y.inp", y), d);
    InpSource other{"/elsewhere", "x.inp", ContentDigest(x)};
    CreateInpDocument(*dm, ParseInp(x, ','), other, d);
    SweepInpFiles(*dm, "/in", {"y.inp"});
    EXPECT_FALSE(FindInpDocument(*dm, Src("x.inp", x)));
    EXPECT_TRUE(FindInpDocument(*dm, Src("y.inp", y)));
    EXPECT_TRUE(FindInpDocument(*dm, other));
}

}  // namespace

#include <gtest/gtest.h>

#include "test_dirs.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <random>

#include <unistd.h>

#include "device/InvoiceModel.h"
#include "inbox/CodePage.h"
#include "inbox/KvrFile.h"
#include "inbox/ResultGroup.h"
#include "money_literal.h"

using namespace kv;
using namespace kv::inbox;
namespace fs = std::filesystem;

namespace {

using Fields = std::array<std::string, 4>;

std::string Join(const std::vector<std::string>& lines, const char* eol = "\r\n") {
    std::string out;
    for (const auto& l : lines) out += l + eol;
    return out;
}

// Loads UTF-8 lines (the code page is tested on its own).
void Load(const std::string& bytes, device::InvoiceModel& m, char sep = ',') {
    MemTable input = MakeInputFileTable();
    LoadKvr(bytes, input, m, sep, "UTF-8");
}

std::vector<std::string> Column(MemTable& t, const char* field) {
    std::vector<std::string> out;
    for (t.first(); !t.eof(); t.next()) out.push_back(t.field(field).asString());
    return out;
}

fs::path TestDir(const std::string& tag) { return kv::test::FreshDir("kv_kvr", tag); }

std::vector<std::string> Names(const fs::path& dir) {
    std::vector<std::string> out;
    for (const auto& e : fs::directory_iterator(dir)) out.push_back(e.path().filename().string());
    std::sort(out.begin(), out.end());
    return out;
}

std::string ReadAll(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

}  // namespace

TEST(SplitKvrLine, StrictHashSplitWithQuotedFields) {
    struct Case {
        std::string line;
        std::optional<Fields> want;
    };
    const Case cases[] = {
        {"Invoice#0#invoiceType#0", Fields{"Invoice", "0", "invoiceType", "0"}},
        {"Items#1#name#\"Kafa #2\"", Fields{"Items", "1", "name", "Kafa #2"}},
        {"Items#1#name#\"Rekao je \"\"da\"\"\"", Fields{"Items", "1", "name", "Rekao je \"da\""}},
        {"\"It#ems\"#1#\"\"#x", Fields{"It#ems", "1", "", "x"}},
        {"Items#1#name#", Fields{"Items", "1", "name", ""}},
        {" Items # 1#name# x ", Fields{" Items ", " 1", "name", " x "}},
        // A quote that does not open a field is an ordinary character.
        {"Items#1#name#5\" disk, \"B\"", Fields{"Items", "1", "name", "5\" disk, \"B\""}},
        {"Items#1#name# \"a#b\"", std::nullopt},  // the space comes first: not quoted, so five fields
        {"", std::nullopt},
        {"Items#1#name", std::nullopt},
        {"Items#1#name#Kafa #2", std::nullopt},
        {"Items#1#name#x#", std::nullopt},
        {"Items#1#name#\"abc\"x", std::nullopt},   // text after the closing quote
        {"Items#1#name#\"abc", std::nullopt},      // never closed
        {"Items#1#name#\"abc\"\"", std::nullopt},  // the last pair is a quote, not the close
    };
    for (const auto& c : cases) EXPECT_EQ(SplitKvrLine(c.line), c.want) << c.line;
}

TEST(LoadKvr, TheExampleInvoiceInAnyOrder) {
    std::vector<std::string> lines = {
        "Invoice#0#invoiceType#0", "Invoice#0#transactionType#0", "Invoice#0#RequestId#R1",
        "Items#1#name#Kafa",       "Items#1#quantity#2",          "Items#1#unitPrice#2,50",
        "Items#1#totalAmount#5,00", "Items#1#labels#E",           "Payment#1#amount#5,00",
        "Payment#1#paymentType#1"};
    std::mt19937 rng(7);
    for (int round = 0; round < 4; ++round) {
        if (round == 1) std::reverse(lines.begin(), lines.end());
        if (round > 1) std::shuffle(lines.begin(), lines.end(), rng);
        device::InvoiceModel m;
        MemTable input = MakeInputFileTable();
        LoadKvr(EncodeText(Join(lines), "windows-1250"), input, m, ',', "windows-1250");

        EXPECT_EQ(input.recordCount(), 10u);
        ASSERT_EQ(m.Invoice.recordCount(), 1u);
        EXPECT_EQ(m.Invoice.field("RequestId").asString(), "R1");
        EXPECT_EQ(m.Invoice.field("invoiceType").value(), Value(std::int64_t{0}));
        EXPECT_EQ(m.Invoice.field("transactionType").value(), Value(std::int64_t{0}));
        EXPECT_EQ(m.Invoice.field("omitQRCodeGen").value(), Value(std::int64_t{0}));  // the header's own default
        ASSERT_EQ(m.Items.recordCount(), 1u);
        EXPECT_EQ(m.Items.field("name").asString(), "Kafa");
        EXPECT_EQ(m.Items.field("labels").asString(), "E");
        EXPECT_EQ(m.Items.field("quantity").asCurrency(), 2.0_cur);
        EXPECT_EQ(m.Items.field("unitPrice").asCurrency(), 2.5_cur);
        EXPECT_EQ(m.Items.field("totalAmount").asCurrency(), 5.0_cur);
        ASSERT_EQ(m.Payment.recordCount(), 1u);
        EXPECT_EQ(m.Payment.field("amount").asCurrency(), 5.0_cur);
        EXPECT_EQ(m.Payment.field("paymentType").asInteger(), 1);
        EXPECT_EQ(m.Payment.field("kPovrat").asCurrency(), 0.0_cur);
    }
}

TEST(LoadKvr, ItemsAreNumberedUpToTheFirstGap) {
    struct Case {
        const char* what;
        std::vector<std::string> lines;
        std::vector<std::string> names;
    };
    const Case cases[] = {
        {"1, 2, 4", {"Items#1#name#a", "Items#2#name#b", "Items#4#name#d"}, {"a", "b"}},
        {"no items", {"Invoice#0#RequestId#R1"}, {""}},
        {"only 2: item 1 stays empty", {"Items#2#name#b"}, {"", "b"}},
        {"file order does not matter", {"Items#2#name#b", "Items#1#name#a", "Items#3#name#c"}, {"a", "b", "c"}},
        {"leading zeros and spaces", {"Items#01#name#a", "Items# 2 #name#b"}, {"a", "b"}},
        {"a number that is no number is never read", {"Items#1#name#a", "Items#x#name#b", "Items#1.0#name#c"}, {"a"}},
        {"table names are case-sensitive", {"items#1#name#a", "Items#1#labels#E"}, {""}},
    };
    for (const auto& c : cases) {
        device::InvoiceModel m;
        Load(Join(c.lines), m);
        EXPECT_EQ(Column(m.Items, "name"), c.names) << c.what;
        EXPECT_EQ(m.Payment.recordCount(), 1u) << c.what;
    }
}

TEST(LoadKvr, OnePaymentRecordAndTheLaterLineWins) {
    device::InvoiceModel m;
    Load(Join({"Payment#1#amount#5,00", "Payment#1#paymentType#1", "Invoice#0#cashier#Ana",
               "Payment#2#amount#7,00", "Payment#2#paymentType#2", "Invoice#0#cashier#Bojan"}),
         m);
    ASSERT_EQ(m.Payment.recordCount(), 1u);
    EXPECT_EQ(m.Payment.field("amount").asCurrency(), 7.0_cur);
    EXPECT_EQ(m.Payment.field("paymentType").asInteger(), 2);
    EXPECT_EQ(m.Invoice.field("cashier").asString(), "Bojan");
}

TEST(LoadKvr, ValuesConvertByTheTargetField) {
    struct Case {
        std::string line;
        char sep;
        const char* field;  // of the table the line names
        Value want;
    };
    const Case cases[] = {
        {"Items#1#quantity#", ',', "quantity", Value(0.0_cur)},
        {"Items#1#unitPrice#2,50", ',', "unitPrice", Value(2.5_cur)},
        {"Items#1#unitPrice#2.50", ',', "unitPrice", Value(2.5_cur)},
        {"Items#1#unitPrice#2,50", '.', "unitPrice", Value(2.5_cur)},
        {"Items#1#unitPrice#2.50", '.', "unitPrice", Value(2.5_cur)},
        {"Items#1#unitPrice#-1,255", ',', "unitPrice", Value(Currency() - 1.26_cur)},  // two decimals kept
        {"Items#1#quantity#1,5E1", ',', "quantity", Value(15.0_cur)},
        {"Payment#1#paymentType# 7", ',', "paymentType", Value(std::int64_t{7})},
        {"Invoice#0#invoiceType#+1", ',', "invoiceType", Value(std::int64_t{1})},
        {"Items#1#name#  Kafa \"x\"  ", ',', "name", Value(std::string("  Kafa \"x\"  "))},
        {"Invoice#0#cashier#Ćiro", ',', "cashier", Value(std::string("Ćiro"))},
    };
    for (const auto& c : cases) {
        device::InvoiceModel m;
        Load(c.line + "\n", m, c.sep);
        MemTable& t = c.line.starts_with("Items") ? m.Items : c.line.starts_with("Payment") ? m.Payment : m.Invoice;
        EXPECT_EQ(t.field(c.field).value(), c.want) << c.line << " sep " << c.sep;
    }

    // A calculated field carries no meaning: the line is passed over.
    device::InvoiceModel m;
    Load("Items#1#kNaziv#Nešto\nItems#1#name#Kafa\nItems#1#labels#E\n", m);
    EXPECT_EQ(m.Items.field("kNaziv").asString(), "Kafa (E)");
}

TEST(LoadKvr, AValueThatDoesNotConvertEndsTheLoad) {
    struct Case {
        std::string line;
        std::vector<std::string> inMessage;
    };
    const Case cases[] = {
        {"Payment#1#paymentType#abc", {"Line 3", "paymentType", "'abc'"}},
        {"Payment#1#paymentType#", {"Line 3", "paymentType", "''"}},
        {"Payment#1#paymentType#1.0", {"paymentType", "'1.0'"}},
        {"Payment#1#paymentType#99999999999", {"paymentType", "99999999999"}},
        {"Payment#1#amount#abc", {"amount", "'abc'"}},
        {"Payment#1#amount#1.234,50", {"amount", "'1.234,50'"}},
        {"Payment#1#colour#red", {"Line 3", "'colour' not found"}},
    };
    for (const auto& c : cases) {
        device::InvoiceModel m;
        MemTable input = MakeInputFileTable();
        const std::string file = "Invoice#0#RequestId#R1\nItems#1#name#Kafa\n" + c.line + "\nPayment#1#amount#1\n";
        try {
            LoadKvr(file, input, m, ',', "UTF-8");
            ADD_FAILURE() << c.line << " loaded";
        } catch (const KvrLoadError& e) {
            for (const auto& part : c.inMessage) EXPECT_NE(std::string(e.what()).find(part), std::string::npos) << e.what();
        }
        // What was posted before the error stays; the payment being filled is dropped.
        EXPECT_EQ(input.recordCount(), 4u);
        EXPECT_EQ(m.Invoice.field("RequestId").asString(), "R1");
        EXPECT_EQ(Column(m.Items, "name"), std::vector<std::string>{"Kafa"});
        EXPECT_TRUE(m.Payment.isEmpty());
        EXPECT_FALSE(m.Payment.isEditing());
    }

    // A later load starts from an empty model again.
    device::InvoiceModel m;
    EXPECT_THROW(Load("Items#1#quantity#x\n", m), KvrLoadError);
    Load("Items#1#name#b\n", m);
    EXPECT_EQ(Column(m.Items, "name"), std::vector<std::string>{"b"});
}

TEST(LoadKvr, LinesEndAtLfWithOrWithoutCr) {
    const std::string a = "Invoice#0#RequestId#R1", b = "Items#1#name#Kafa";
    for (const std::string& file : {a + "\r\n" + b + "\r\n", a + "\n" + b + "\n", a + "\n" + b, a + "\r\n" + b + "\r",
                                    "\n" + a + "\n\r\n\n" + b + "\n\n"}) {
        device::InvoiceModel m;
        MemTable input = MakeInputFileTable();
        LoadKvr(file, input, m, ',', "UTF-8");
        EXPECT_EQ(input.recordCount(), 2u);
        EXPECT_EQ(m.Invoice.field("RequestId").asString(), "R1");
        EXPECT_EQ(m.Items.field("name").asString(), "Kafa");
    }
}

TEST(LoadKvr, KeyedTableCutsToItsFieldSizes) {
    device::InvoiceModel m;
    MemTable input = MakeInputFileTable();
    const std::string longName = std::string(50, 'n') + "ame";
    LoadKvr("Items#00000000001#name#" + std::string(5000, 'x') + "\nItems#1#name#y\n", input, m, ',', "UTF-8");
    // Rbr "0000000000" (cut to 10) is not item 1.
    ASSERT_EQ(input.recordCount(), 2u);
    input.first();
    EXPECT_EQ(input.field("Rbr").asString(), "0000000000");
    EXPECT_EQ(input.field("Vrijednost").asString().size(), 4000u);
    EXPECT_EQ(Column(m.Items, "name"), std::vector<std::string>{"y"});
    // A field name cut to 50 characters names no field.
    EXPECT_THROW(LoadKvr("Invoice#0#" + longName + "#y\n", input, m, ',', "UTF-8"), KvrLoadError);
}

TEST(CodePage, Windows1250TextComesInAndGoesOutByteForByte) {
    const std::string cp1250 = "Items#1#name#\x8A\xE6\xE8\xF0\x9E \x80";  // Šćčđž €
    device::InvoiceModel m;
    MemTable input = MakeInputFileTable();
    LoadKvr(cp1250 + "\r\n", input, m, ',', "windows-1250");
    EXPECT_EQ(m.Items.field("name").asString(), "Šćčđž €");
    EXPECT_EQ(EncodeText(m.Items.field("name").asString(), "windows-1250"), "\x8A\xE6\xE8\xF0\x9E \x80");

    struct Case {
        std::string in;
        std::string codePage;
        bool decode;
        std::string want;
    };
    const Case cases[] = {
        {"a\x81" "b", "windows-1250", true, "a\xEF\xBF\xBD" "b"},  // a byte the code page leaves undefined
        {"\xC8\xE5\xF0", "CP1251", true, "Иер"},
        {"Čaj \xFF ok", "UTF-8", true, "Čaj \xEF\xBF\xBD ok"},
        {"Čaj", "utf8", true, "Čaj"},
        {"Ж∑😀 Č", "windows-1250", false, "??? \xC8"},
        {"a\xC3(b", "windows-1250", false, "a?(b"},  // a broken sequence costs one byte, not the next character
        {"Čaj \xFF", "UTF-8", false, "Čaj ?"},
        {"", "windows-1250", true, ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.decode ? DecodeText(c.in, c.codePage) : EncodeText(c.in, c.codePage), c.want) << c.in;

    EXPECT_THROW(DecodeText("x", "no-such-page"), CodePageError);
    EXPECT_THROW(EncodeText("x", "no-such-page"), CodePageError);
    device::InvoiceModel m2;
    MemTable input2 = MakeInputFileTable();
    EXPECT_THROW(LoadKvr("Items#1#name#a\n", input2, m2, ',', "no-such-page"), KvrLoadError);
}

// Fault found by fuzzing: UTF-8 files went through the system's converter,
// which keeps four-byte sequences past U+10FFFF, so such bytes reached the
// invoice (and result files) as text that is not UTF-8. They are now
// replaced like any other broken sequence, one replacement per byte.
TEST(CodePage, Utf8PastLastCharacterIsReplaced)
{
    const std::string fffd = "\xEF\xBF\xBD";
    const struct {
        std::string in, decoded, encoded;
    } cases[] = {
        {"a\xF4\x90\x80\x80" "b", "a" + fffd + fffd + fffd + fffd + "b", "a????b"},  // U+110000
        {"\xF7\xBF\xBF\xBF", fffd + fffd + fffd + fffd, "????"},
        {"\xF4\x8F\xBF\xBF|\xF0\x9F\x98\x80", "\xF4\x8F\xBF\xBF|\xF0\x9F\x98\x80",
         "\xF4\x8F\xBF\xBF|\xF0\x9F\x98\x80"},  // U+10FFFF and U+1F600 stay
    };
    for (const auto& c : cases) {
        EXPECT_EQ(DecodeText(c.in, "UTF-8"), c.decoded) << c.in;
        EXPECT_EQ(EncodeText(c.in, "utf8"), c.encoded) << c.in;
    }
}

TEST(ResultFileText, ThreeLinesEightLinesOrTheFailure) {
    device::InvoiceModel m;
    m.Invoice.append();
    m.Invoice.field("PFRnumber").setValue("AB12CD34-AB12CD34-7");
    m.Invoice.field("PFRvrijeme").setValue("2026-03-12T07:47:38.123+01:00");
    m.Invoice.field("cashier").setValue("Ana Č.");
    m.Invoice.post();
    for (auto [amount, type] : {std::pair{5.0_cur, 1}, std::pair{2.5_cur, 2}}) {
        m.Payment.append();
        m.Payment.field("amount").setValue(Value(amount));
        m.Payment.field("paymentType").setValue(Value(std::int64_t{type}));
        m.Payment.post();
    }
    const std::string url = "https://suf.example/v?vl=abc";
    struct Case {
        std::string fiskGreska;
        bool puni;
        char sep;
        std::string want;
    };
    const Case cases[] = {
        {"", false, ',', "AB12CD34-AB12CD34-7\r\n2026-03-12T07:47:38.123+01:00\r\n\r\n"},
        {"", true, ',',
         "AB12CD34-AB12CD34-7\r\n2026-03-12T07:47:38.123+01:00\r\n" + url + "\r\nAna Č.\r\n\r\nKartica\r\n7,5\r\n\r\n"},
        {"", true, '.',
         "AB12CD34-AB12CD34-7\r\n2026-03-12T07:47:38.123+01:00\r\n" + url + "\r\nAna Č.\r\n\r\nKartica\r\n7.5\r\n\r\n"},
        {"Uredjaj se ne odaziva!", false, ',', "\r\n\r\nUredjaj se ne odaziva!\r\n"},
        {"Greška u računu!", true, ',', "\r\n\r\nGreška u računu!\r\n"},
        {"two\r\nlines", false, ',', "\r\n\r\ntwo  lines\r\n"},  // the message stays the third line
    };
    for (const auto& c : cases) EXPECT_EQ(ResultFileText(m, c.fiskGreska, c.puni, url, c.sep), c.want) << c.fiskGreska;

    // No payment at all: no method, a sum of 0.
    device::InvoiceModel empty;
    EXPECT_EQ(ResultFileText(empty, "", true, "", ','), "\r\n\r\n\r\n\r\n\r\n\r\n0\r\n\r\n");

    const std::pair<std::optional<std::int64_t>, const char*> names[] = {
        {0, "Ostalo"}, {1, "Gotovina"}, {2, "Kartica"}, {3, "Ček"}, {4, "Bankarski prenos"},
        {5, "Vaučer"}, {6, "Mobilni novac"}, {7, ""}, {-1, ""}, {std::nullopt, ""}};
    for (auto [type, name] : names) EXPECT_EQ(ResultPaymentName(type), name);
}

TEST(WriteResultFile, ReplacesTheOldFileAndLeavesNothingElse) {
    const fs::path dir = TestDir("write");
    std::ofstream(dir / "R1.kvr") << "old result, longer than the new one\r\n";
    WriteResultFile(dir.string() + "/", "R1.kvr", "12\r\nČek\r\n", "windows-1250");
    EXPECT_EQ(ReadAll(dir / "R1.kvr"), "12\r\n\xC8" "ek\r\n");
    EXPECT_EQ(Names(dir), std::vector<std::string>{"R1.kvr"});
    fs::remove_all(dir);
}

TEST(WriteResultFile, FailsNamingThePathAndLeavesNoTemporaryFile) {
    const fs::path dir = TestDir("fail");
    fs::create_directory(dir / "D.kvr");  // a folder in the way: the rename fails after the temporary file exists
    struct Case {
        std::string folder, name, inMessage;
    };
    const Case cases[] = {
        {(dir / "missing").string(), "R1.kvr", (dir / "missing" / "R1.kvr").string()},
        {dir.string(), "D.kvr", (dir / "D.kvr").string()},
        {"", "R1.kvr", "not set"},
        {dir.string(), "../R1.kvr", "plain file name"},
        {dir.string(), "a\\b.kvr", "plain file name"},
        {dir.string(), "", "plain file name"},
        {dir.string(), "R1.kvr", "no-such-page"},
    };
    for (const auto& c : cases) {
        try {
            WriteResultFile(c.folder, c.name, "x\r\n", c.inMessage == "no-such-page" ? "no-such-page" : "windows-1250");
            ADD_FAILURE() << c.folder << " " << c.name << " written";
        } catch (const ResultWriteError& e) {
            EXPECT_NE(std::string(e.what()).find(c.inMessage), std::string::npos) << e.what();
        }
        EXPECT_EQ(Names(dir), std::vector<std::string>{"D.kvr"}) << c.name;
    }

    if (::geteuid() != 0) {  // permissions do not stop root
        fs::permissions(dir, fs::perms::owner_read | fs::perms::owner_exec);
        EXPECT_THROW(WriteResultFile(dir.string(), "R1.kvr", "x", "windows-1250"), ResultWriteError);
        fs::permissions(dir, fs::perms::owner_all);
        EXPECT_EQ(Names(dir), std::vector<std::string>{"D.kvr"});
    }
    fs::remove_all(dir);
}

TEST(ResultGroup, FilesAppearOnlyAtCommitAndAFailureKeepsWhatIsWhole) {
    const fs::path dir = TestDir("group");
    {
        ResultGroup g(dir.string());
        g.add("A.kvr", "a\r\n", "windows-1250");
        g.add("B.kvr", "first\r\n", "windows-1250");
        g.add("B.kvr", "second\r\n", "windows-1250");  // written twice: the later text stands
        EXPECT_TRUE(g.holds("B.kvr"));
        EXPECT_EQ(g.size(), 2u);
        // Nothing under a final name yet: a producer never sees a result that is not on disk.
        for (const auto& n : Names(dir)) EXPECT_EQ(n[0], '.') << n;
        g.commit();
        EXPECT_TRUE(g.empty());
    }
    EXPECT_EQ(Names(dir), (std::vector<std::string>{"A.kvr", "B.kvr"}));
    EXPECT_EQ(ReadAll(dir / "B.kvr"), "second\r\n");

    {  // never committed: nothing stays
        ResultGroup g(dir.string());
        g.add("C.kvr", "c\r\n", "windows-1250");
    }
    EXPECT_EQ(Names(dir), (std::vector<std::string>{"A.kvr", "B.kvr"}));

    // A folder in the way of the second file: the first is in place and whole,
    // the error names the second, and no temporary file is left.
    fs::create_directory(dir / "D.kvr");
    ResultGroup g(dir.string());
    g.add("E.kvr", "e\r\n", "windows-1250");
    g.add("D.kvr", "d\r\n", "windows-1250");
    g.add("F.kvr", "f\r\n", "windows-1250");
    try {
        g.commit();
        ADD_FAILURE() << "committed over a folder";
    } catch (const ResultWriteError& e) {
        EXPECT_EQ(e.path(), (dir / "D.kvr").string());
    }
    EXPECT_TRUE(g.empty());
    EXPECT_EQ(Names(dir), (std::vector<std::string>{"A.kvr", "B.kvr", "D.kvr", "E.kvr"}));
    EXPECT_EQ(ReadAll(dir / "E.kvr"), "e\r\n");
    fs::remove_all(dir);
}

TEST(InvoiceModelBatch, EachTableIsSavedOnceAtTheEnd) {
    // Saving into a folder that does not exist reports every attempt.
    device::InvoiceModel m;
    m.setSaveFolder((TestDir("batch") / "missing").string());
    std::vector<std::string> attempts;
    m.onSaveError = [&](const std::string& msg) { attempts.push_back(msg); };

    Load(Join({"Invoice#0#RequestId#R1", "Items#1#name#a", "Items#2#name#b", "Items#3#name#c",
               "Payment#1#amount#1"}),
         m);
    ASSERT_EQ(attempts.size(), 3u);
    EXPECT_NE(attempts[0].find("Invoice.cds"), std::string::npos);
    EXPECT_NE(attempts[1].find("Items.cds"), std::string::npos);
    EXPECT_NE(attempts[2].find("Payment.cds"), std::string::npos);

    attempts.clear();
    {
        device::InvoiceModel::Batch outer(m);
        {
            device::InvoiceModel::Batch inner(m);
            m.Items.append();
            m.Items.post();
        }
        m.Items.append();
        m.Items.post();
        EXPECT_TRUE(attempts.empty());
    }
    EXPECT_EQ(attempts.size(), 1u);
    m.Items.append();
    m.Items.post();  // saved at once again
    EXPECT_EQ(attempts.size(), 2u);

    // With a real folder the saved files hold the whole invoice.
    const fs::path dir = TestDir("batch_ok");
    {
        device::InvoiceModel w;
        w.setSaveFolder(dir.string());
        Load("Items#1#name#a\nItems#2#name#b\n", w);
    }
    device::InvoiceModel back;
    back.setSaveFolder(dir.string());
    EXPECT_TRUE(back.Restore().empty());
    EXPECT_EQ(Column(back.Items, "name"), (std::vector<std::string>{"a", "b"}));
    fs::remove_all(dir);
    fs::remove_all(TestDir("batch"));
}

TEST(KvrFile, TheShippedSamplesLoad) {
    for (const auto& e : std::filesystem::directory_iterator(std::string(KOVIRA_SOURCE_DIR) + "/examples/kvr")) {
        std::ifstream in(e.path(), std::ios::binary);
        std::string bytes((std::istreambuf_iterator<char>(in)), {});
        kv::device::InvoiceModel model;
        kv::MemTable input = kv::inbox::MakeInputFileTable();
        input.open();
        kv::inbox::LoadKvr(bytes, input, model, ',', "windows-1250");
        EXPECT_EQ(model.Items.recordCount(), 2u) << e.path();
        EXPECT_EQ(model.Invoice.field("RequestId").asString() + ".kvr", e.path().filename().string());
        EXPECT_GE(model.Povrat(), kv::Currency(0)) << "paid in full";
    }
}

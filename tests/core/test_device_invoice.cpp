#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <optional>

#include <filesystem>
#include <fstream>

#include "device/InvoiceModel.h"
#include "device/InvoiceRequest.h"
#include "device/JsonFlatten.h"
#include "money_literal.h"
#include "platform/Platform.h"
#include "util/CdsFile.h"

using namespace kv;
using namespace kv::device;
namespace fs = std::filesystem;

namespace {

void AddItem(InvoiceModel& m, const char* gtin, const char* name, Currency qty, const char* labels, Currency price,
             Currency total) {
    m.Items.append();
    m.Items.field("gtin").setValue(Value(std::string(gtin)));
    m.Items.field("name").setValue(Value(std::string(name)));
    m.Items.field("quantity").setValue(Value(qty));
    m.Items.field("labels").setValue(Value(std::string(labels)));
    m.Items.field("unitPrice").setValue(Value(price));
    m.Items.field("totalAmount").setValue(Value(total));
    m.Items.post();
}

void AddPayment(InvoiceModel& m, Currency amount, int64_t type) {
    m.Payment.append();
    m.Payment.field("amount").setValue(Value(amount));
    m.Payment.field("paymentType").setValue(Value(type));
    m.Payment.post();
}

void NewHeader(InvoiceModel& m) {
    m.Invoice.append();
    m.Invoice.field("invoiceType").setValue(Value(int64_t{0}));
    m.Invoice.field("transactionType").setValue(Value(int64_t{0}));
    m.Invoice.field("invoiceNumber").setValue(Value(std::string("R-1")));
    m.Invoice.field("dateAndTimeOfIssue").setValue(Value(std::string("2026-12-11T10:00:00Z")));
    m.Invoice.post();
}

// The local zone for one test (POSIX rules, no zone files needed).
class ScopedTz {
public:
    explicit ScopedTz(const char* tz) {
        if (const char* old = std::getenv("TZ")) old_ = old;
        ::setenv("TZ", tz, 1);
        ::tzset();
    }
    ~ScopedTz() {
        if (old_) ::setenv("TZ", old_->c_str(), 1);
        else ::unsetenv("TZ");
        ::tzset();
    }

private:
    std::optional<std::string> old_;
};

}  // namespace

TEST(InvoiceRequest, BodiesAreExactForTheSettingsThatShapeThem) {
    InvoiceModel m;
    NewHeader(m);
    AddItem(m, "1234567", "Kafa #2", 2.000_cur, "2", 1.50_cur, 3.00_cur);
    AddItem(m, "3870000000001", "Čaj", 1.0_cur, "B", 0.995_cur, 0.99_cur);
    AddPayment(m, 3.99_cur, 0);
    AddPayment(m, 1.0_cur, 5);

    const std::string inner =
        R"({"dateAndTimeOfIssue":"2026-12-11T10:00:00Z","invoiceType":"0","transactionType":"0","invoiceNumber":"R-1",)"
        R"("options":{"omitQRCodeGen":"0","omitTextualRepresentation":"0"},)";
    struct Case {
        const char* what;
        RunSettings o;
        std::string body;
    } cases[] = {
        {"image receipt on 58 mm, old payment numbering, Cyrillic labels",
         {false, false, 0, 1, 0, 1, 0},
         R"({"print":"false","renderReceiptImage":"true","receiptImageFormat":"Png","receiptSlipWidth":"386",)"
         R"("receiptSlipFontSizeNormal":"23","receiptSlipFontSizeNormal":"27","receiptLayout":"Slip","invoiceRequest":)" +
             inner +
             R"("payment":[{"amount":"3.99","paymentType":"1"},{"amount":"1","paymentType":"5"}],)"
             R"("items":[{"name":"Kafa 2","quantity":"2","labels":["Е"],"unitPrice":"1.5","totalAmount":"3"},)"
             R"({"name":"Čaj","quantity":"1","labels":[],"unitPrice":"1","totalAmount":"0.99"}]}})"},
        {"device prints, A4 layout on 80 mm, GTIN of 13 characters only",
         {false, true, 1, 1, 1, 0, 1},
         R"({"print":"true","renderReceiptImage":"true","receiptImageFormat":"Png","receiptSlipWidth":"576",)"
         R"("receiptSlipFontSizeNormal":"24","receiptSlipFontSizeNormal":"30","receiptLayout":"Slip","invoiceRequest":)" +
             inner +
             R"("payment":[{"amount":"3.99","paymentType":"0"},{"amount":"1","paymentType":"5"}],)"
             R"("items":[{"name":"Kafa 2","quantity":"2","labels":["E"],"unitPrice":"1.5","totalAmount":"3"},)"
             R"({"gtin":"3870000000001","name":"Čaj","quantity":"1","labels":[],"unitPrice":"1","totalAmount":"0.99"}]}})"},
        {"test service: the bare request",
         {true, true, 3, 0, 1, 0, 0},
         inner +
             R"("payment":[{"amount":"3.99","paymentType":"0"},{"amount":"1","paymentType":"5"}],)"
             R"("items":[{"name":"Kafa 2","quantity":"2","labels":["E"],"unitPrice":"1.5","totalAmount":"3"},)"
             R"({"name":"Čaj","quantity":"1","labels":[],"unitPrice":"1","totalAmount":"0.99"}]})"},
    };
    for (const auto& c : cases) EXPECT_EQ(BuildInvoiceRequest(m, c.o), c.body) << c.what;

    RunSettings a4{false, false, 3, 1, 0, 0, 0};
    EXPECT_NE(BuildInvoiceRequest(m, a4).find(R"("receiptLayout":"Invoice")"), std::string::npos);
    EXPECT_NE(BuildInvoiceRequest(m, a4, true).find("\n  \"print\": \"false\""), std::string::npos);
}

TEST(InvoiceRequest, OptionalHeaderMembersAndEmptyTables) {
    InvoiceModel m;
    m.Invoice.append();
    m.Invoice.field("cashier").setValue(Value(std::string("Ana")));
    m.Invoice.field("referentDocumentDT").setValue(Value(std::string("2026-01-02T03:04:05")));
    m.Invoice.field("omitQRCodeGen").clear();
    m.Invoice.post();
    EXPECT_EQ(BuildInvoiceRequest(m, {true, true, 0, 1, 0, 0, 0}),
              R"({"dateAndTimeOfIssue":"","cashier":"Ana","invoiceType":"","transactionType":"","invoiceNumber":"",)"
              R"("referentDocumentDT":"2026-01-02T03:04:05","options":{"omitTextualRepresentation":"0"},)"
              R"("payment":[],"items":[]})");
}

TEST(InvoiceRequest, TaxLabels) {
    struct Case {
        const char* labels;
        const char* cyrillic;
        const char* latin;
    } cases[] = {{"E", "Е", "E"}, {"2", "Е", "E"}, {"A", "А", "A"}, {"1", "А", "A"}, {"K", "К", "K"},
                 {"0", "К", "K"}, {"J", "Ј", "J"}, {"B", "", ""},    {"Е", "", ""},    {"E ", "", ""}};
    for (const auto& c : cases) {
        EXPECT_EQ(TaxLabel(c.labels, false), c.cyrillic) << c.labels;
        EXPECT_EQ(TaxLabel(c.labels, true), c.latin) << c.labels;
    }
}

TEST(InvoiceModel, CalculatedFieldsAndTotals) {
    ScopedTz utc("UTC0");
    InvoiceModel m;
    NewHeader(m);
    m.Invoice.edit();
    m.Invoice.field("PFRvrijeme").setValue(Value(std::string("2024-03-12T07:47:38.530+01:00")));
    m.Invoice.field("referentDocumentDT").setValue(Value(std::string("2024-13-12T07:47:38")));
    m.Invoice.post();
    EXPECT_EQ(m.Invoice.field("kPFRTime").asDateTime(), DateTime::fromParts(2024, 3, 12, 7, 47, 38, 0));
    EXPECT_TRUE(m.Invoice.field("kRefTime").isNull()) << "month 13 is no date";
    EXPECT_EQ(m.Invoice.field("kEsirTime").asDateTime(), DateTime::fromParts(2026, 12, 11, 10, 0, 0, 0));

    EXPECT_EQ(m.Povrat(), Currency()) << "no totals yet";
    AddItem(m, "", std::string(50, 'x').c_str(), 1.0_cur, "E", 2.5_cur, 2.5_cur);
    EXPECT_EQ(m.Items.field("kNaziv").asString(), std::string(40, 'x'));
    AddPayment(m, 5.0_cur, 1);
    EXPECT_EQ(m.Payment.field("kOpis").asString(), "Готовина");
    EXPECT_EQ(m.Povrat(), 2.5_cur);
    EXPECT_EQ(m.Payment.field("kPovrat").asCurrency(), 2.5_cur);
    AddItem(m, "", "b", 1.0_cur, "E", 1.0_cur, 1.0_cur);
    EXPECT_EQ(m.Payment.field("kPovrat").asCurrency(), 1.5_cur) << "follows the items";
    EXPECT_EQ(PaymentTypeName(7), "");
}

// Times Kovira or a device wrote in UTC are shown and printed on the shop's
// clock; a time with an offset is the device's local time already.
TEST(InvoiceModel, TimesWrittenInUtcAreShownOnTheShopsClock) {
    ScopedTz sarajevo("CET-1CEST,M3.5.0,M10.5.0/3");
    struct Case {
        const char* text;
        DateTime shown;
    } cases[] = {
        {"2024-03-12T06:47:30Z", DateTime::fromParts(2024, 3, 12, 7, 47, 30)},
        {"2024-07-01T22:30:00.250Z", DateTime::fromParts(2024, 7, 2, 0, 30, 0)},  // summer time, next day
        {"2024-03-12T07:47:38.530+01:00", DateTime::fromParts(2024, 3, 12, 7, 47, 38)},
        {"2024-03-12T07:47:38", DateTime::fromParts(2024, 3, 12, 7, 47, 38)},
    };
    for (const auto& c : cases) {
        auto dt = PositionalDateTime(c.text);
        ASSERT_TRUE(dt) << c.text;
        EXPECT_EQ(*dt, c.shown) << c.text;
    }
    InvoiceModel m;
    NewHeader(m);  // issued 2026-12-11T10:00:00Z
    EXPECT_EQ(m.Invoice.field("kEsirTime").asDateTime(), DateTime::fromParts(2026, 12, 11, 11, 0, 0, 0));
}

TEST(InvoiceModel, TaxAmountsConvertWhateverTheDecimalSeparator) {
    for (char sep : {',', '.'}) {
        EXPECT_EQ(TaxAmountValue("9.9099", sep), 9.9099_cur) << sep;
        EXPECT_EQ(TaxAmountValue("9,91", sep), 9.91_cur) << sep;
        EXPECT_EQ(TaxAmountValue("abc", sep), std::nullopt) << sep;
    }
    platform::SetDecimalSeparator(',');
    InvoiceModel m;
    MemTable answer({{"categoryType", FieldType::WideString}, {"label", FieldType::WideString},
                     {"amount", FieldType::WideString}, {"rate", FieldType::WideString},
                     {"categoryName", FieldType::WideString}});
    answer.open();
    for (auto [amount, rate] : {std::pair{"9.9099", "17"}, std::pair{"x", "0"}}) {
        answer.append();
        answer.field("categoryType").setValue(Value(std::string("0")));
        answer.field("label").setValue(Value(std::string("Е")));
        answer.field("amount").setValue(Value(std::string(amount)));
        answer.field("rate").setValue(Value(std::string(rate)));
        answer.field("categoryName").setValue(Value(std::string("ECAL")));
        answer.post();
    }
    m.FillTaxItems(answer);
    ASSERT_EQ(m.TaxItems.recordCount(), 2u);
    m.TaxItems.first();
    EXPECT_EQ(m.TaxItems.field("kRate").asString(), "17%");
    EXPECT_EQ(m.TaxItems.field("KIntAmount").asCurrency(), 9.9099_cur);
    EXPECT_EQ(m.TaxTotal(), 9.9099_cur) << "an amount that does not convert does not count";

    MemTable partial({{"label", FieldType::WideString}});
    partial.open();
    partial.append();
    partial.post();
    EXPECT_THROW(m.FillTaxItems(partial), std::runtime_error);
}

TEST(InvoiceModel, NewIdAndNowActOnlyWhileTheHeaderIsEdited) {
    InvoiceModel m;
    NewHeader(m);
    EXPECT_FALSE(m.NewId());
    EXPECT_FALSE(m.Now(0));
    EXPECT_EQ(m.Invoice.field("dateAndTimeOfIssue").asString(), "2026-12-11T10:00:00Z");
    m.Invoice.edit();
    ASSERT_TRUE(m.NewId());
    EXPECT_EQ(m.Invoice.field("RequestId").asString().size(), 38u);
    ASSERT_TRUE(m.Now(1781258400));  // 2026-06-12 10:00:00 UTC
    EXPECT_EQ(m.Invoice.field("dateAndTimeOfIssue").asString(), "2026-06-12T10:00:00Z");
}

TEST(InvoiceModel, SavedFilesComeBackAndAStaleFileDoesNotWipeTheModel) {
    fs::path dir = fs::temp_directory_path() / ("kv_model_" + std::to_string(::getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir);
    {
        InvoiceModel m;
        m.setSaveFolder(dir.string());
        NewHeader(m);
        AddItem(m, "", "a", 1.0_cur, "E", 1.0_cur, 1.0_cur);
        AddItem(m, "", "b", 1.0_cur, "E", 2.0_cur, 2.0_cur);
        m.Items.first();
        m.Items.deleteRecord();  // a removed line stays removed
        AddPayment(m, 2.0_cur, 1);
    }
    std::ofstream(dir / "Payment.cds") << "{ broken";
    InvoiceModel back;
    back.setSaveFolder(dir.string());
    back.Payment.append();
    back.Payment.field("amount").setValue(Value(7.0_cur));
    back.Payment.post();
    std::ofstream(dir / "Payment.cds") << "{ broken";  // the post above saved a good file
    auto errors = back.Restore();
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(back.Invoice.field("invoiceNumber").asString(), "R-1");
    ASSERT_EQ(back.Items.recordCount(), 1u);
    EXPECT_EQ(back.Items.field("name").asString(), "b");
    EXPECT_EQ(back.Payment.field("amount").asCurrency(), 7.0_cur);
    fs::remove_all(dir);
}

TEST(OpenJSONFile, FlattensMembersInDocumentOrder) {
    FlatJson list;
    OpenJSONFile(R"({"invoiceNumber":"AB12-CD34-5","taxItems":[{"label":"Е","rate":17}],"messages":"Success"})", "", list);
    EXPECT_EQ(list.text(), "invoiceNumber=AB12-CD34-5\ntaxItems[0].label=Е\ntaxItems[0].rate=17\nmessages=Success\n");

    list.clear();
    OpenJSONFile(R"({"a":{"b":{"c":1.50,"d":"","e":null,"f":true}},"labels":["Е","К"],"n":[[1,2],3],)"
                 R"("mix":[{"x":"y"},"s"],"journal":"line 1\r\nline 2","empty":[]})",
                 "", list);
    EXPECT_EQ(list.text(),
              "a.b.c=1.50\na.b.e=null\na.b.f=true\nlabels=[Е,К]\nn=[,3]\nmix[0].x=y\nmix=[s]\n"
              "journal=line 1\r\nline 2\n");
    EXPECT_EQ(list.value("JOURNAL"), "line 1\r\nline 2");
    EXPECT_EQ(list.value("a.b.d"), "");
    EXPECT_EQ(list.value("missing"), "");

    for (const char* notObject : {"", "not json", "[1,2]", "\"text\"", "{\"a\":"}) {
        FlatJson none;
        OpenJSONFile(notObject, "", none);
        EXPECT_TRUE(none.lines.empty()) << notObject;
    }
}

TEST(InvoiceModel, TheDemoInvoiceLoadsWhole) {
    InvoiceModel m;
    m.setSaveFolder(std::string(KOVIRA_SOURCE_DIR) + "/examples/demo");
    platform::SetDecimalSeparator(',');
    // Loading must not rewrite the shipped files: check they stay byte for byte.
    auto read = [](const fs::path& p) {
        std::ifstream in(p);
        return std::string(std::istreambuf_iterator<char>(in), {});
    };
    fs::path items = fs::path(m.saveFolder()) / "Items.cds";
    std::string before = read(items);
    EXPECT_TRUE(m.Restore().empty());
    EXPECT_EQ(read(items), before);
    EXPECT_EQ(m.Invoice.field("invoiceNumber").asString(), "DEMO-1");
    EXPECT_EQ(m.Items.recordCount(), 2u);
    EXPECT_EQ(m.ItemsTotal(), 6.8_cur);
    EXPECT_EQ(m.Povrat(), 3.2_cur);
}

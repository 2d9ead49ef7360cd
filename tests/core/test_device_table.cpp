#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "device/DeviceClient.h"
#include "device/JsonFlatten.h"
#include "device/ResponseTable.h"

using namespace kv;
using namespace kv::device;

namespace {

using Names = std::vector<std::string>;

// Cells of the table as text, one inner vector per row; null reads as "<null>".
std::vector<std::vector<std::string>> cells(const ResponseTable& t)
{
    std::vector<std::vector<std::string>> out;
    const MemTable& m = t.table();
    for (std::size_t r = 0; r < m.recordCount(); ++r) {
        out.emplace_back();
        for (std::size_t f = 0; f < m.fieldCount(); ++f) {
            const Value& v = m.valueAt(r, f);
            out.back().push_back(std::holds_alternative<std::string>(v) ? std::get<std::string>(v) : "<null>");
        }
    }
    return out;
}

using Rows = std::vector<std::vector<std::string>>;

const char* kInvoiceAnswer = R"({
  "invoiceNumber": "RX4F7Y5L-RX4F7Y5L-139",
  "totalAmount": 100.00,
  "taxItems": [
    {"categoryType": 0, "label": "Е", "amount": 9.9099, "rate": 17, "categoryName": "ECAL"},
    {"categoryType": 0, "label": "А", "amount": 0, "rate": 0, "categoryName": "N-TAX", "note": null}
  ],
  "invoiceImagePngBase64": null,
  "options": {"omitQRCodeGen": "1", "tags": ["a", "b\"c"]},
  "signed": true
})";

}  // namespace

TEST(ResponseTable, ObjectGivesOneRowWithScalarsAsSentAndNestedAsCompactJson)
{
    ResponseTable t;
    t.setAnswer(kInvoiceAnswer);
    ASSERT_TRUE(t.isJson());
    EXPECT_EQ(t.columnNames(),
              (Names{"invoiceNumber", "totalAmount", "taxItems", "invoiceImagePngBase64", "options", "signed"}));
    const Rows rows = cells(t);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0][0], "RX4F7Y5L-RX4F7Y5L-139");
    EXPECT_EQ(rows[0][1], "100.00");
    EXPECT_EQ(rows[0][2], R"([{"categoryType":0,"label":"Е","amount":9.9099,"rate":17,"categoryName":"ECAL"},)"
                          R"({"categoryType":0,"label":"А","amount":0,"rate":0,"categoryName":"N-TAX","note":null}])");
    EXPECT_EQ(rows[0][3], "<null>");
    EXPECT_EQ(rows[0][4], R"({"omitQRCodeGen":"1","tags":["a","b\"c"]})");
    EXPECT_EQ(rows[0][5], "true");
    EXPECT_EQ(t.table().fieldDefs()[0].type, FieldType::WideString);
}

TEST(ResponseTable, ArrayOfObjectsGivesRowPerElementWithUnionOfColumns)
{
    ResponseTable t;
    t.setAnswer(kInvoiceAnswer);
    EXPECT_TRUE(t.setRootElement("taxItems"));
    EXPECT_EQ(t.columnNames(), (Names{"categoryType", "label", "amount", "rate", "categoryName", "note"}));
    EXPECT_EQ(cells(t), (Rows{{"0", "Е", "9.9099", "17", "ECAL", "<null>"}, {"0", "А", "0", "0", "N-TAX", "<null>"}}));

    // Elements that are not objects give no row; members missing in a row are null.
    t.setAnswer(R"([{"a":1}, 5, "x", null, [1], {"b":"2","a":1e2}])");
    EXPECT_EQ(t.columnNames(), (Names{"a", "b"}));
    EXPECT_EQ(cells(t), (Rows{{"1", "<null>"}, {"1e2", "2"}}));
}

TEST(ResponseTable, RootPaths)
{
    const char* answer = R"({"invoiceResponse":{"taxItems":[{"label":"E"},{"label":"K"}],"n":"1"},"a.b":{"x":1}})";
    struct Case {
        const char* path;
        bool found;
        std::size_t rows;
        Names columns;
    };
    const Case cases[] = {
        {"", true, 1, {"invoiceResponse", "a.b"}},
        {"invoiceResponse", true, 1, {"taxItems", "n"}},
        {"invoiceResponse.taxItems", true, 2, {"label"}},
        {"invoiceResponse.taxItems[1]", true, 1, {"label"}},
        {"invoiceResponse.taxItems[2]", false, 0, {}},
        {"invoiceResponse.n", true, 0, {}},         // a scalar: nothing to tabulate
        {"invoiceResponse.n.x", false, 0, {}},
        {"InvoiceResponse", false, 0, {}},          // member names are exact
        {"invoiceResponse.", false, 0, {}},
        {"missing", false, 0, {}},
    };
    ResponseTable t;
    t.setAnswer(answer);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        EXPECT_EQ(t.setRootElement(c.path), c.found);
        EXPECT_EQ(t.rootElement(), c.path);
        EXPECT_EQ(t.rowCount(), c.rows);
        EXPECT_EQ(t.columnNames(), c.columns);
    }
}

TEST(ResponseTable, AnswersThatAreNotTablesGiveNoRows)
{
    const std::string answers[] = {
        "", "Not Found", "\"0100\"", "{\"a\":1", "{\"a\":1} x", "{}", "[]", "<html></html>",
        "{\"a\":\"\xC3\x28\"}",               // not UTF-8
        std::string("{\"a\":1}\0{", 10),  // a NUL is no end of text
    };
    for (const auto& a : answers) {
        SCOPED_TRACE(a);
        ResponseTable t;
        t.setAnswer(kInvoiceAnswer);
        t.setAnswer(a);
        EXPECT_EQ(t.rowCount(), 0u);
        EXPECT_TRUE(t.columnNames().empty());
        EXPECT_FALSE(t.setRootElement("a"));
    }
}

TEST(ResponseTable, ColumnNamesStayUsableForTheTable)
{
    ResponseTable t;
    // Field names are unique without regard to case; a repeated member keeps its last value.
    t.setAnswer(R"({"Amount":"1","amount":"2","":"3","amount":"4","Amount_1":"5"})");
    EXPECT_EQ(t.columnNames(), (Names{"Amount", "amount_1", "_", "Amount_1_1"}));
    EXPECT_EQ(cells(t), (Rows{{"1", "4", "3", "5"}}));
}

TEST(ResponseTable, BrowserRemembersOneStep)
{
    ResponseTable t;
    t.setAnswer(R"({"invoiceResponse":{"taxItems":[{"label":"E"},{"label":"K"}]}})");
    t.resetBrowser();
    t.descend("invoiceResponse");
    t.descend("taxItems");
    EXPECT_EQ(t.rootPath(), "invoiceResponse.taxItems");
    EXPECT_EQ(t.prevRootPath(), "invoiceResponse");
    EXPECT_EQ(t.rowCount(), 2u);

    t.back();
    EXPECT_EQ(t.rootPath(), "invoiceResponse");
    t.back();
    EXPECT_EQ(t.rootPath(), "invoiceResponse");
    EXPECT_EQ(t.columnNames(), (Names{"taxItems"}));

    // A path that leads nowhere is taken, shows nothing, and Back leaves it.
    t.descend("nope");
    EXPECT_EQ(t.rootPath(), "invoiceResponse.nope");
    EXPECT_EQ(t.rowCount(), 0u);
    t.back();
    EXPECT_EQ(t.rowCount(), 1u);

    t.descend("");
    EXPECT_EQ(t.rootPath(), "");
    EXPECT_EQ(t.columnNames(), (Names{"invoiceResponse"}));

    t.resetBrowser("invoiceResponse");
    EXPECT_EQ(t.rootPath(), "invoiceResponse");
    EXPECT_EQ(t.prevRootPath(), "");
}

TEST(ResponseTable, HostileAnswersAreBounded)
{
    ResponseLimits limits;
    limits.maxDepth = 16;
    limits.maxColumns = 3;
    limits.maxCells = 6;
    ResponseTable t(limits);

    // Deep nesting: not tabulated, and nothing recurses on it.
    t.setAnswer(std::string(100000, '[') + std::string(100000, ']'));
    EXPECT_FALSE(t.isJson());

    // Ten rows of three columns, cut at six cells; the fourth name gets no column.
    std::string many = "[";
    for (int i = 0; i < 10; ++i)
        many += std::string(i ? "," : "") + R"({"a":1,"b":2,"c":3,"d":4})";
    many += "]";
    t.setAnswer(many);
    EXPECT_EQ(t.columnNames(), (Names{"a", "b", "c"}));
    EXPECT_EQ(t.rowCount(), 2u);

    limits = {};
    limits.maxValues = 100;
    ResponseTable small(limits);
    std::string hundred = "[";
    for (int i = 0; i < 150; ++i)
        hundred += std::string(i ? "," : "") + "{}";
    small.setAnswer(hundred + "]");
    EXPECT_FALSE(small.isJson());
}

// Fault found by fuzzing: the reader turned "\uDC00" (a low surrogate with no
// high one before it) into bytes that are not UTF-8, so IndentJson wrote text
// it could not read back and the table and the flattened lines held it. All
// three readers of answers now refuse such an answer, as they refuse a lone
// high surrogate; a proper pair still reads.
TEST(AnswerReaders, LoneSurrogateEscapeIsNotJson)
{
    const struct {
        const char* answer;
        bool json;
    } cases[] = {
        {R"({"a":"x\uDC00y"})", false},
        {R"({"a\uDFFF":1})", false},
        {R"({"a":["\uDE00"]})", false},
        {R"({"a":"\uD83D"})", false},
        {R"({"a":"\uDE00\uD83D"})", false},
        {R"({"a":"\uD83D\uDE00 \u0000"})", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.answer);
        EXPECT_EQ(!IndentJson(c.answer).empty(), c.json);
        ResponseTable t;
        t.setAnswer(c.answer);
        EXPECT_EQ(t.isJson(), c.json);
        FlatJson flat;
        OpenJSONFile(c.answer, "", flat);
        EXPECT_EQ(!flat.lines.empty(), c.json);
    }
    FlatJson flat;
    OpenJSONFile(R"({"a":"\uD83D\uDE00"})", "", flat);
    EXPECT_EQ(flat.value("a"), "\xF0\x9F\x98\x80");
}

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "device/InvoiceModel.h"
#include "device/JsonFlatten.h"
#include "money_literal.h"
#include "print/ReportLayout.h"
#include "util/Utf8.h"

using namespace kv;
using namespace kv::device;
using namespace kv::print;

namespace {

constexpr int kLine = 16;

void Header(InvoiceModel& m, int64_t invoiceType, int64_t transactionType) {
    m.Invoice.append();
    m.Invoice.field("invoiceType").setValue(Value(invoiceType));
    m.Invoice.field("transactionType").setValue(Value(transactionType));
    m.Invoice.field("cashier").setValue("Марко");
    m.Invoice.field("buyerId").setValue("10:123456789");
    m.Invoice.field("dateAndTimeOfIssue").setValue("2024-03-12T07:47:30Z");
    m.Invoice.field("PFRvrijeme").setValue("2024-03-12T07:47:38.123+01:00");
    m.Invoice.field("PFRnumber").setValue("ABCD1234-ABCD1234-77");
    m.Invoice.post();
}

void Item(InvoiceModel& m, const std::string& name, const char* labels, Currency price, Currency qty, Currency total) {
    m.Items.append();
    m.Items.field("name").setValue(Value(name));
    m.Items.field("labels").setValue(labels);
    m.Items.field("unitPrice").setValue(Value(price));
    m.Items.field("quantity").setValue(Value(qty));
    m.Items.field("totalAmount").setValue(Value(total));
    m.Items.post();
}

void Pay(InvoiceModel& m, Currency amount, int64_t type) {
    m.Payment.append();
    m.Payment.field("amount").setValue(Value(amount));
    m.Payment.field("paymentType").setValue(Value(type));
    m.Payment.post();
}

void Tax(InvoiceModel& m, const char* label, const char* name, const char* rate, const char* amount) {
    m.TaxItems.append();
    m.TaxItems.field("label").setValue(label);
    m.TaxItems.field("categoryName").setValue(name);
    m.TaxItems.field("rate").setValue(rate);
    m.TaxItems.field("amount").setValue(amount);
    m.TaxItems.post();
}

FlatJson Answer() {
    FlatJson a;
    OpenJSONFile(R"({"tin":"100000001","businessName":"Радња Ковира","locationName":"Продавница 1",)"
                 R"("address":"Главна 1","district":"Београд","invoiceCounter":"12/34ПП",)"
                 R"("taxItems":[{"label":"Ђ","amount":7.05}]})",
                 "", a);
    return a;
}

// A typical sale: two items (one with a thousands price), cash and card, one tax row.
void Sale(InvoiceModel& m, int64_t invoiceType = 0, int64_t transactionType = 0) {
    Header(m, invoiceType, transactionType);
    Item(m, "Хлеб", "Ђ", 1234.5_cur, 1.5_cur, 1851.75_cur);
    Item(m, "Млеко", "Ђ", 12.25_cur, 2_cur, 24.5_cur);
    Pay(m, 1000_cur, 1);
    Pay(m, 900_cur, 2);
    Tax(m, "Ђ", "ПДВ", "20", "312.7083");
}

ReportLayout Build(QRPInvoice& report, const InvoiceModel& m, const FlatJson& answer, int width = 302) {
    return report.Prepare(m, answer, QrBitmap{}, width, kLine, ',');
}

// The texts of one row, "|"-separated in cell order.
std::string RowText(const ReportRow& row) {
    std::string s;
    for (const auto& c : row.cells) s += (s.empty() ? "" : "|") + c.text;
    return s;
}

std::vector<std::string> BandNames(const ReportLayout& l) {
    std::vector<std::string> names;
    for (const auto& b : l.bands) names.push_back(b.name);
    return names;
}

// "label|value" rows of every band, for finding a pair anywhere in the report.
std::string ValueOf(const ReportLayout& l, const std::string& label) {
    for (const auto& b : l.bands)
        for (const auto& r : b.rows)
            if (r.cells.size() == 2 && r.cells[0].text == label) return r.cells[1].text;
    ADD_FAILURE() << "no row labelled " << label;
    return {};
}

}  // namespace

TEST(ReportLayout, TitlesFollowInvoiceAndTransactionType) {
    const char* fiscal = " ФИСКАЛНИ РАЧУН ";
    const char* fiscalEnd = " КРАЈ ФИСКАЛНОГ РАЧУНА ";
    const char* notFiscal = " ОВО НИЈЕ ФИСКАЛНИ РАЧУН ";
    struct Case {
        int64_t invoiceType, transactionType;
        const char *title, *header, *footer;
        bool nijeFiskalni;
    } cases[] = {
        {0, 0, fiscal, " ПРОМЕТ ПРОДАЈА ", fiscalEnd, false},
        {0, 1, fiscal, " ПРОМЕТ РЕФУНДАЦИЈА ", fiscalEnd, false},
        {1, 0, notFiscal, " ПРЕДРАЧУН ПРОДАЈА ", notFiscal, true},
        {1, 1, notFiscal, " ПРЕДРАЧУН РЕФУНДАЦИЈА ", notFiscal, true},
        {2, 0, notFiscal, " КОПИЈА ПРОДАЈА ", notFiscal, true},
        {2, 1, notFiscal, " КОПИЈА РЕФУНДАЦИЈА ", notFiscal, true},
        {3, 0, notFiscal, " ОБУКА ПРОДАЈА ", notFiscal, true},
        {3, 1, notFiscal, " ОБУКА РЕФУНДАЦИЈА ", notFiscal, true},
        {4, 0, fiscal, " АВАНС ПРОДАЈА ", fiscalEnd, false},
        {4, 1, fiscal, " АВАНС РЕФУНДАЦИЈА ", fiscalEnd, false},
        {2, 7, notFiscal, " КОПИЈА РЕФУНДАЦИЈА ", notFiscal, true},  // any non-zero transaction is a refund
    };
    const FlatJson answer = Answer();
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "invoiceType " << c.invoiceType << ", transactionType " << c.transactionType);
        InvoiceModel m;
        Sale(m, c.invoiceType, c.transactionType);
        QRPInvoice report;
        const ReportLayout l = Build(report, m, answer);

        // Each title sits centred and opaque over its rule.
        const ReportRow& top = l.bands.front().rows.front();
        ASSERT_EQ(top.cells.size(), 3u);
        EXPECT_EQ(top.cells[2].text, c.title);
        EXPECT_TRUE(top.cells[2].opaque);
        EXPECT_EQ(top.cells[2].align, CellAlign::Center);
        EXPECT_EQ(RowText(l.bands.front().rows[13]), std::string("──────────────────|──────────────────|") + c.header);
        EXPECT_EQ(RowText(l.bands.back().rows.front()), std::string("══════════════════|══════════════════|") + c.footer);

        const ReportBand* band = l.band("ChBandNijeFiskalni");
        ASSERT_EQ(band != nullptr, c.nijeFiskalni);
        if (band) {
            ASSERT_EQ(band->rows.size(), 2u);
            EXPECT_EQ(RowText(band->rows[0]), "ОВО НИЈЕ ФИСКАЛНИ РАЧУН");
            EXPECT_EQ(RowText(band->rows[1]), "═══════════════════════|═══════════════════════");
        }
    }
}

TEST(ReportLayout, UnknownInvoiceTypeKeepsThePreviousTitles) {
    const FlatJson answer = Answer();
    QRPInvoice report;
    {
        InvoiceModel copy;
        Sale(copy, 2, 1);
        Build(report, copy, answer);
    }
    InvoiceModel other;
    Sale(other, 9, 0);
    const ReportLayout l = Build(report, other, answer);
    EXPECT_EQ(report.titles().title, " ОВО НИЈЕ ФИСКАЛНИ РАЧУН ");
    EXPECT_EQ(report.titles().header, " КОПИЈА РЕФУНДАЦИЈА ");
    EXPECT_NE(l.band("ChBandNijeFiskalni"), nullptr);

    // A fresh report starts as designed: fiscal sale, no "not fiscal" band.
    QRPInvoice fresh;
    const ReportLayout f = Build(fresh, other, answer);
    EXPECT_EQ(fresh.titles().title, " ФИСКАЛНИ РАЧУН ");
    EXPECT_EQ(fresh.titles().header, " ПРОМЕТ ПРОДАЈА ");
    EXPECT_EQ(f.band("ChBandNijeFiskalni"), nullptr);
}

TEST(ReportLayout, BandsPrintInOrderAndHeadersFootersAlsoForEmptyDatasets) {
    const FlatJson answer = Answer();
    InvoiceModel m;
    Sale(m, 2, 0);
    QRPInvoice report;
    const ReportLayout l = Build(report, m, answer);
    EXPECT_EQ(BandNames(l), (std::vector<std::string>{"TitleBandInvoice", "QRSubDetail2", "QRSubDetail2", "ZbirniBand",
                                                      "ChildBand1", "QRSubDetail1", "QRSubDetail1", "GroupFooterBand1",
                                                      "ChildBand2", "ChBandNijeFiskalni", "ChildBand4", "QRSubDetail3",
                                                      "GroupFooterBand2", "ChildBand5"}));
    // Bands stack: every band is as high as its content, the report their sum.
    int sum = 0;
    for (const auto& b : l.bands) {
        EXPECT_GT(b.height, 0) << b.name;
        if (!b.image) {
            EXPECT_EQ(b.height, static_cast<int>(b.rows.size()) * kLine) << b.name;
        }
        sum += b.height;
    }
    EXPECT_EQ(l.height(), sum);

    InvoiceModel empty;
    const ReportLayout e = Build(report, empty, FlatJson{});
    EXPECT_EQ(BandNames(e), (std::vector<std::string>{"TitleBandInvoice", "ZbirniBand", "ChildBand1", "GroupFooterBand1",
                                                      "ChildBand2", "ChildBand4", "GroupFooterBand2", "ChildBand5"}));
}

TEST(ReportLayout, EveryTextOfASaleInPrintingOrder) {
    const FlatJson answer = Answer();
    InvoiceModel m;
    Sale(m);
    QRPInvoice report;
    const ReportLayout l = Build(report, m, answer);
    std::vector<std::string> rows;
    for (const auto& b : l.bands)
        for (const auto& r : b.rows) rows.push_back(RowText(r));
    const std::vector<std::string> expected = {
        "══════════════════|══════════════════| ФИСКАЛНИ РАЧУН ",
        "100000001",
        "Радња Ковира",
        "Продавница 1",
        "Главна 1",
        "Београд",
        "Касир:|Марко",
        "ИД купца:|10:123456789",
        "Опционо поље купца:|",
        "Реф. број:|",
        "Реф. вријеме:|",
        "ЕСИР вријеме:|12.03.2024. 07:47:30",
        "ЕСИР број:|13/2.0",
        "──────────────────|──────────────────| ПРОМЕТ ПРОДАЈА ",
        "Артикли",
        "═══════════════════════|═══════════════════════",
        "Назив|Цена|Кол.|Укупно",
        "Хлеб (Ђ)",
        "1.234,50|1,5|1.851,75",
        "Млеко (Ђ)",
        "12,25|2|24,50",
        "──────────────────────|────────────────────────",
        "Укупан износ:|1.876,25",
        "Примљено средстава:|1.900,00",
        "Готовина|1.000,00",
        "Картица|900,00",
        "Разлика за поврат:|23,75",
        "═══════════════════════|═══════════════════════",
        "Ознака|Назив|Стопа|Порез",
        "Ђ|ПДВ|20%|312,71",
        "───────────────────────|───────────────────────",
        "Укупан износ пореза:|312,71",
        "═══════════════════════|═══════════════════════",
        "ПФР вријеме:|12.03.2024. 07:47:38",
        "ПФР број:|ABCD1234-ABCD1234-77",
        "Бројач рачуна:|12/34ПП",
        "════════════════════════|═══════════════════════",
        "══════════════════|══════════════════| КРАЈ ФИСКАЛНОГ РАЧУНА ",
    };
    EXPECT_EQ(rows, expected);
}

TEST(ReportLayout, ChangeIsPaymentsMinusItems) {
    struct Case {
        const char* what;
        std::vector<Currency> items, payments;
        const char *received, *change;
    } cases[] = {
        {"cash over the total", {40_cur, 2.3_cur}, {50_cur}, "50,00", "7,70"},
        {"exact card payment", {42.3_cur}, {42.3_cur}, "42,30", "0,00"},
        {"underpaid shows a negative difference", {42.3_cur}, {40_cur}, "40,00", "-2,30"},
        {"no payment rows: no change field", {42.3_cur}, {}, "", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        InvoiceModel m;
        Header(m, 0, 0);
        for (Currency t : c.items) Item(m, "Артикал", "Ђ", t, 1_cur, t);
        for (Currency p : c.payments) Pay(m, p, 1);
        QRPInvoice report;
        const ReportLayout l = Build(report, m, Answer());
        EXPECT_EQ(ValueOf(l, "Примљено средстава:"), c.received);
        EXPECT_EQ(ValueOf(l, "Разлика за поврат:"), c.change);
    }
}

TEST(ReportLayout, MissingValuesPrintEmpty) {
    // An answer without the seller and counter, a header with only the types,
    // an item whose name with labels runs past 40 characters.
    FlatJson answer;
    OpenJSONFile(R"({"tin":"100000001"})", "", answer);
    InvoiceModel m;
    m.Invoice.append();
    m.Invoice.field("invoiceType").setValue(Value(int64_t{0}));
    m.Invoice.post();
    const std::string name45 = "Чоколада са лешником и сувим грожђем, 100 гр.";
    ASSERT_EQ(kv::Utf8Length(name45), 45u);
    Item(m, name45, "Ђ", 1_cur, 1_cur, 1_cur);

    QRPInvoice report;
    const ReportLayout l = Build(report, m, answer);
    const ReportBand& title = *l.band("TitleBandInvoice");
    EXPECT_EQ(RowText(title.rows[1]), "100000001");
    for (int r = 2; r <= 5; ++r) EXPECT_EQ(RowText(title.rows[r]), "") << r;
    EXPECT_EQ(ValueOf(l, "Касир:"), "");
    EXPECT_EQ(ValueOf(l, "ЕСИР вријеме:"), "");
    EXPECT_EQ(ValueOf(l, "ПФР вријеме:"), "");
    EXPECT_EQ(ValueOf(l, "Бројач рачуна:"), "");
    EXPECT_EQ(ValueOf(l, "Укупан износ пореза:"), "");

    // The name keeps its first 40 characters; the labels are cut off.
    EXPECT_EQ(RowText(l.band("QRSubDetail2")->rows[0]), "Чоколада са лешником и сувим грожђем, 10");
}

// A last-invoice answer (type 8) carries the seller and the counter under
// its envelope, and they print from there.
TEST(ReportLayout, TheLastInvoicePrintsTheSellerFromItsEnvelope) {
    FlatJson answer;
    OpenJSONFile(R"({"invoiceResponse":{"tin":"100000001","businessName":"Radnja","invoiceCounter":"12/34ПП"},)"
                 R"("receiptImageBase64":null})",
                 "", answer);
    InvoiceModel m;
    m.Invoice.append();
    m.Invoice.field("invoiceType").setValue(Value(int64_t{8}));
    m.Invoice.post();
    QRPInvoice report;
    const ReportLayout l = Build(report, m, answer);
    const ReportBand& title = *l.band("TitleBandInvoice");
    EXPECT_EQ(RowText(title.rows[1]), "100000001");
    EXPECT_EQ(RowText(title.rows[2]), "Radnja");
    EXPECT_EQ(ValueOf(l, "Бројач рачуна:"), "12/34ПП");
}

TEST(ReportLayout, ColumnsAndQrCodeFollowTheBandWidth) {
    EXPECT_EQ(QuantityColumnLeft(400), 210);
    EXPECT_EQ(QuantityColumnLeft(484), 255);
    EXPECT_EQ(BandWidthForPaper(80, 0), 302);
    EXPECT_EQ(BandWidthForPaper(58, 3), 207);

    struct Case {
        int width;
        int qrLeft, qrSide;
    } cases[] = {{484, 99, 285}, {400, 57, 285}, {302, 8, 285}, {286, 0, 285}, {207, 0, 207}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.width);
        InvoiceModel m;
        Sale(m);
        QRPInvoice report;
        QrBitmap qr;
        qr.side = 21;
        qr.dark.assign(21 * 21, 1);
        const ReportLayout l = report.Prepare(m, Answer(), qr, c.width, kLine, ',');
        EXPECT_EQ(l.qr.side, 21);

        // The quantity head and values share the moving column; the price column stays.
        const ReportRow& heads = l.band("TitleBandInvoice")->rows.back();
        const ReportRow& values = l.band("QRSubDetail2")->rows[1];
        for (const ReportRow* r : {&heads, &values}) {
            EXPECT_EQ(r->cells[r == &heads ? 2 : 1].left, QuantityColumnLeft(c.width));
            EXPECT_EQ(r->cells[r == &heads ? 1 : 0].left, 91);
            EXPECT_EQ(r->cells.back().left + r->cells.back().width, c.width);
            EXPECT_EQ(r->cells.back().align, CellAlign::Right);
        }

        const ReportBand& footer = *l.band("GroupFooterBand2");
        ASSERT_TRUE(footer.image.has_value());
        EXPECT_EQ(footer.image->left, c.qrLeft);
        EXPECT_EQ(footer.image->side, c.qrSide);
        EXPECT_EQ(footer.image->top, 146);
        EXPECT_EQ(footer.height, 146 + c.qrSide + 4);
    }

    // A large font moves the code below the texts instead of under them.
    InvoiceModel m;
    Sale(m);
    QRPInvoice report;
    const ReportLayout big = report.Prepare(m, Answer(), QrBitmap{}, 302, 40, ',');
    const ReportBand& footer = *big.band("GroupFooterBand2");
    EXPECT_EQ(footer.image->top, static_cast<int>(footer.rows.size()) * 40 + 4);
}

#include "print/ReportLayout.h"

#include <algorithm>
#include <cstdio>
#include <utility>

#include "device/InvoiceModel.h"
#include "device/JsonFlatten.h"
#include "print/ReceiptImage.h"

namespace kv::print {

namespace {

// Rules are texts of box-drawing characters, as long as they were designed.
const char* const kDouble18 = "══════════════════";
const char* const kDouble23 = "═══════════════════════";
const char* const kDouble24 = "════════════════════════";
const char* const kSingle18 = "──────────────────";
const char* const kSingle22 = "──────────────────────";
const char* const kSingle23 = "───────────────────────";
const char* const kSingle24 = "────────────────────────";

const char* const kFiscalTitle = " ФИСКАЛНИ РАЧУН ";
const char* const kFiscalFooter = " КРАЈ ФИСКАЛНОГ РАЧУНА ";
const char* const kNotFiscalTitle = " ОВО НИЈЕ ФИСКАЛНИ РАЧУН ";

// Builds the rows of one band, one text line under the other.
class BandBuilder {
public:
    BandBuilder(std::string name, BandKind kind, int width, int lineHeight) : width_(width), lineHeight_(lineHeight) {
        band_.name = std::move(name);
        band_.kind = kind;
    }

    BandBuilder& row() {
        ReportRow r;
        r.top = static_cast<int>(band_.rows.size()) * lineHeight_;
        band_.rows.push_back(std::move(r));
        return *this;
    }
    BandBuilder& left(std::string text) { return cell(std::move(text), CellAlign::Left, 0, width_); }
    BandBuilder& right(std::string text) { return cell(std::move(text), CellAlign::Right, 0, width_); }
    BandBuilder& centre(std::string text, bool opaque = false) {
        return cell(std::move(text), CellAlign::Center, 0, width_, opaque);
    }
    BandBuilder& cell(std::string text, CellAlign align, int left, int width, bool opaque = false) {
        band_.rows.back().cells.push_back(ReportCell{std::move(text), align, left, width, opaque});
        return *this;
    }
    // Label on the left, value on the right.
    BandBuilder& pair(std::string label, std::string value) { return row().left(std::move(label)).right(std::move(value)); }
    // A rule drawn as two texts, one from each edge.
    BandBuilder& rule(const char* leftText, const char* rightText) { return row().left(leftText).right(rightText); }
    // A rule with a title centred over it.
    BandBuilder& titledRule(const char* ruleText, const std::string& title) {
        return rule(ruleText, ruleText).centre(title, true);
    }

    ReportBand done() {
        band_.height = static_cast<int>(band_.rows.size()) * lineHeight_;
        return std::move(band_);
    }
    ReportBand done(ReportImage image) {
        // The band ends 4 pixels below the image.
        band_.height = image.top + image.side + 4;
        band_.image = image;
        return std::move(band_);
    }

    int textBottom() const { return static_cast<int>(band_.rows.size()) * lineHeight_; }

private:
    ReportBand band_;
    int width_;
    int lineHeight_;
};

// A calculated date of the header as the receipt shows it: "12.03.2024. 07:47:38".
std::string DateTimeText(const DateTime& dt) {
    const DateTimeParts p = dt.parts();
    char buf[40];
    std::snprintf(buf, sizeof buf, "%02d.%02d.%04d. %02d:%02d:%02d", p.day, p.month, p.year, p.hour, p.minute,
                  p.second);
    return buf;
}

// Text of a stored value: dates as above, amounts either by the total mask
// or in their shortest form (quantities), null as empty text.
std::string CellText(const FieldDef& def, const Value& v, char decimalSep, bool mask) {
    if (std::holds_alternative<std::monostate>(v)) return {};
    if (const auto* dt = std::get_if<DateTime>(&v)) return DateTimeText(*dt);
    if (const auto* c = std::get_if<Currency>(&v)) return mask ? FormatTotal(*c, decimalSep) : LocaleNumberText(*c, decimalSep);
    return FieldText(def, v);
}

std::string RowText(const MemTable& t, std::size_t row, const char* field, char decimalSep, bool mask = false) {
    const std::size_t fi = *t.fieldIndex(field);
    return CellText(t.fieldDefs()[fi], t.valueAt(row, fi), decimalSep, mask);
}

// A field of the invoice header; empty when there is no header.
std::string HeaderText(const MemTable& invoice, const char* field, char decimalSep) {
    if (!invoice.active() || invoice.isEmpty()) return {};
    return RowText(invoice, invoice.recordIndex(), field, decimalSep);
}

int64_t HeaderInteger(const MemTable& invoice, const char* field) {
    if (!invoice.active() || invoice.isEmpty()) return 0;
    try {
        return invoice.field(field).asInteger();
    } catch (const DatasetError&) {
        return 0;
    }
}

std::string TotalText(const std::optional<Currency>& total, char decimalSep) {
    return total ? FormatTotal(*total, decimalSep) : std::string();
}

std::size_t Rows(const MemTable& t) { return t.active() ? t.recordCount() : 0; }

}  // namespace

int ReportLayout::height() const {
    int h = 0;
    for (const auto& b : bands) h += b.height;
    return h;
}

const ReportBand* ReportLayout::band(const std::string& name) const {
    for (const auto& b : bands)
        if (b.name == name) return &b;
    return nullptr;
}

int QuantityColumnLeft(int bandWidth) { return static_cast<int>(bandWidth * 0.527); }

int BandWidthForPaper(int64_t paperWidthMm, int64_t leftMarginMm) {
    const int64_t mm = std::max<int64_t>(paperWidthMm - leftMarginMm, 0);
    return static_cast<int>(mm * kReportDpi * 10 / 254);
}

QRPInvoice::QRPInvoice() {
    // As designed: a fiscal sale, the "not fiscal" band disabled.
    titles_ = {kFiscalTitle, " ПРОМЕТ ПРОДАЈА ", kFiscalFooter, false};
}

void QRPInvoice::BeforePrint(int64_t invoiceType, int64_t transactionType) {
    struct TypeTitles {
        const char* title;
        const char* footer;
        const char* kind;
        bool nijeFiskalni;
    };
    static const TypeTitles types[] = {
        {kFiscalTitle, kFiscalFooter, "ПРОМЕТ", false},
        {kNotFiscalTitle, kNotFiscalTitle, "ПРЕДРАЧУН", true},
        {kNotFiscalTitle, kNotFiscalTitle, "КОПИЈА", true},
        {kNotFiscalTitle, kNotFiscalTitle, "ОБУКА", true},
        {kFiscalTitle, kFiscalFooter, "АВАНС", false},
    };
    if (invoiceType < 0 || invoiceType > 4) return;
    const TypeTitles& t = types[invoiceType];
    titles_.title = t.title;
    titles_.footer = t.footer;
    titles_.header = std::string(" ") + t.kind + (transactionType == 0 ? " ПРОДАЈА " : " РЕФУНДАЦИЈА ");
    titles_.nijeFiskalni = t.nijeFiskalni;
}

ReportLayout QRPInvoice::Prepare(const device::InvoiceModel& model, const device::FlatJson& answer, const QrBitmap& qr,
                                 int bandWidth, int lineHeight, char decimalSep) {
    const MemTable& inv = model.Invoice;
    BeforePrint(HeaderInteger(inv, "invoiceType"), HeaderInteger(inv, "transactionType"));
    // A last-invoice answer keeps the seller and the counter under its envelope.
    const std::string p = HeaderInteger(inv, "invoiceType") == static_cast<int64_t>(device::InvoiceType::Last) ? "invoiceResponse." : "";
    auto answered = [&](const char* f) { return answer.value(p + f); };

    using namespace geometry;
    const int w = bandWidth;
    const int qtyLeft = QuantityColumnLeft(w);
    auto header = [&](const char* f) { return HeaderText(inv, f, decimalSep); };
    auto band = [&](const char* name, BandKind kind) { return BandBuilder(name, kind, w, lineHeight); };

    ReportLayout out;
    out.width = w;
    out.lineHeight = lineHeight;
    out.qr = qr;

    // Title, seller, buyer and reference data, column heads of the items.
    {
        auto b = band("TitleBandInvoice", BandKind::GroupHeader);
        b.titledRule(kDouble18, titles_.title);
        for (const char* f : {"tin", "businessName", "locationName", "address", "district"})
            b.row().centre(answered(f));
        b.pair("Касир:", header("cashier"));
        b.pair("ИД купца:", header("buyerId"));
        b.pair("Опционо поље купца:", header("buyerCostCenterId"));
        b.pair("Реф. број:", header("referentDocumentNumber"));
        b.pair("Реф. вријеме:", header("kRefTime"));
        b.pair("ЕСИР вријеме:", header("kEsirTime"));
        b.pair("ЕСИР број:", "13/2.0");
        b.titledRule(kSingle18, titles_.header);
        b.row().left("Артикли");
        // QRPLabel9 spans the whole band once the titles are set.
        b.row().cell(kDouble23, CellAlign::Left, 0, w).right(kDouble23);
        b.row()
            .left("Назив")
            .cell("Цена", CellAlign::Right, kPriceLeft, kPriceWidth)
            .cell("Кол.", CellAlign::Right, qtyLeft, kQuantityWidth)
            .right("Укупно");
        out.bands.push_back(b.done());
    }

    const MemTable& items = model.Items;
    for (std::size_t r = 0; r < Rows(items); ++r) {
        auto b = band("QRSubDetail2", BandKind::SubDetail);
        b.row().left(RowText(items, r, "kNaziv", decimalSep));
        b.row()
            .cell(RowText(items, r, "unitPrice", decimalSep, true), CellAlign::Right, kPriceLeft, kPriceWidth)
            .cell(RowText(items, r, "quantity", decimalSep), CellAlign::Right, qtyLeft, kQuantityWidth)
            .right(RowText(items, r, "totalAmount", decimalSep, true));
        out.bands.push_back(b.done());
    }
    {
        auto b = band("ZbirniBand", BandKind::GroupFooter);
        b.rule(kSingle22, kSingle24);
        b.pair("Укупан износ:", TotalText(model.ItemsTotal(), decimalSep));
        out.bands.push_back(b.done());
    }
    {
        auto b = band("ChildBand1", BandKind::Child);
        b.pair("Примљено средстава:", TotalText(model.PaymentTotal(), decimalSep));
        out.bands.push_back(b.done());
    }

    const MemTable& payments = model.Payment;
    for (std::size_t r = 0; r < Rows(payments); ++r) {
        auto b = band("QRSubDetail1", BandKind::SubDetail);
        b.pair(RowText(payments, r, "kOpis", decimalSep), RowText(payments, r, "amount", decimalSep, true));
        out.bands.push_back(b.done());
    }
    {
        // The change is a field of the payment rows: no payment, no value.
        auto b = band("GroupFooterBand1", BandKind::GroupFooter);
        b.pair("Разлика за поврат:", Rows(payments) ? FormatTotal(model.Povrat(), decimalSep) : std::string());
        out.bands.push_back(b.done());
    }
    {
        auto b = band("ChildBand2", BandKind::Child);
        b.rule(kDouble23, kDouble23);
        out.bands.push_back(b.done());
    }
    if (titles_.nijeFiskalni) {
        auto b = band("ChBandNijeFiskalni", BandKind::Child);
        b.row().centre("ОВО НИЈЕ ФИСКАЛНИ РАЧУН");
        b.rule(kDouble23, kDouble23);
        out.bands.push_back(b.done());
    }
    {
        auto b = band("ChildBand4", BandKind::Child);
        b.row()
            .left("Ознака")
            .cell("Назив", CellAlign::Left, kTaxNameLeft, kTaxRateLeft - kTaxNameLeft)
            .cell("Стопа", CellAlign::Right, kTaxRateLeft, kTaxRateWidth)
            .right("Порез");
        out.bands.push_back(b.done());
    }

    const MemTable& taxes = model.TaxItems;
    for (std::size_t r = 0; r < Rows(taxes); ++r) {
        auto b = band("QRSubDetail3", BandKind::SubDetail);
        b.row()
            .left(RowText(taxes, r, "label", decimalSep))
            .cell(RowText(taxes, r, "categoryName", decimalSep), CellAlign::Left, kTaxNameLeft,
                  kTaxRateLeft - kTaxNameLeft)
            .cell(RowText(taxes, r, "kRate", decimalSep), CellAlign::Right, kTaxRateLeft, kTaxRateWidth)
            .right(RowText(taxes, r, "kAmount", decimalSep, true));
        out.bands.push_back(b.done());
    }
    {
        auto b = band("GroupFooterBand2", BandKind::GroupFooter);
        b.rule(kSingle23, kSingle23);
        b.pair("Укупан износ пореза:", TotalText(model.TaxTotal(), decimalSep));
        b.rule(kDouble23, kDouble23);
        b.pair("ПФР вријеме:", header("kPFRTime"));
        b.pair("ПФР број:", header("PFRnumber"));
        b.pair("Бројач рачуна:", answered("invoiceCounter"));
        b.rule(kDouble24, kDouble23);
        // The code keeps its designed place under the texts unless a large
        // font pushes them lower. It never grows wider than the band: a code
        // cut by the paper edge cannot be scanned.
        ReportImage img;
        img.side = std::min(kQrSide, std::max(w, 0));
        img.top = std::max(kQrTop, b.textBottom() + 4);
        img.left = (w - img.side) / 2;  // integer division truncates toward zero
        out.bands.push_back(b.done(img));
    }
    {
        auto b = band("ChildBand5", BandKind::Child);
        b.titledRule(kDouble18, titles_.footer);
        out.bands.push_back(b.done());
    }
    return out;
}

}  // namespace kv::print

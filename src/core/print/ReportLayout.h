#pragma once
// The report receipt `QRPInvoice` as data: the bands in printing order, each
// with its text rows and (for the tax footer) the QR image, positioned in
// report pixels (1/96 inch) on a band of a given width. The window's band
// renderer only scales and draws what is built here, so every text, column
// and title rule is decided, and tested, without a painter.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "print/QrCode.h"

namespace kv::device {
class InvoiceModel;
class FlatJson;
}  // namespace kv::device

namespace kv::print {

enum class CellAlign { Left, Center, Right };

// One text placed in a frame [left, left + width) of its row. `opaque` texts
// blank what lies under them (the titles drawn over a rule).
struct ReportCell {
    std::string text;
    CellAlign align = CellAlign::Left;
    int left = 0;
    int width = 0;
    bool opaque = false;
};

struct ReportRow {
    int top = 0;  // from the top of the band
    std::vector<ReportCell> cells;
};

// The QR code, stretched to a square of `side` pixels.
struct ReportImage {
    int left = 0;
    int top = 0;
    int side = 0;
};

enum class BandKind { GroupHeader, SubDetail, GroupFooter, Child };

struct ReportBand {
    std::string name;  // "TitleBandInvoice", "QRSubDetail2", ...
    BandKind kind = BandKind::Child;
    int height = 0;
    std::vector<ReportRow> rows;
    std::optional<ReportImage> image;
};

struct ReportLayout {
    int width = 0;       // band width
    int lineHeight = 0;  // height of one text row
    std::vector<ReportBand> bands;
    QrBitmap qr;         // drawn into the band that has an image

    int height() const;
    // The band with this name, first one; nullptr when the report has none.
    const ReportBand* band(const std::string& name) const;
};

// Titles of the report, set from the invoice and transaction type before
// every print. A type without titles keeps those of the previous print.
struct ReportTitles {
    std::string title;         // QRLTypeTitle, on top
    std::string header;        // QRLTypeHeader, above the items
    std::string footer;        // QRLTypeFooter, at the end
    bool nijeFiskalni = false; // ChBandNijeFiskalni shown
};

// Design geometry, in report pixels.
namespace geometry {
inline constexpr int kPriceLeft = 91, kPriceWidth = 59;    // item price column
inline constexpr int kQuantityWidth = 59;                   // its left edge follows the band width
inline constexpr int kTaxNameLeft = 91;                     // tax table, second column
inline constexpr int kTaxRateLeft = 166, kTaxRateWidth = 58;
inline constexpr int kQrSide = 285, kQrTop = 146;           // QR frame in the tax footer
}  // namespace geometry

// Left edge of the quantity column: band width x 0.527, truncated.
int QuantityColumnLeft(int bandWidth);

// Band width in report pixels of a page `paperWidthMm` wide with a left
// margin of `leftMarginMm` (no right margin).
int BandWidthForPaper(int64_t paperWidthMm, int64_t leftMarginMm);

class QRPInvoice {
public:
    QRPInvoice();

    // QRPInvoiceBeforePrint: the titles and the "not fiscal" band by type.
    void BeforePrint(int64_t invoiceType, int64_t transactionType);
    const ReportTitles& titles() const { return titles_; }

    // Builds the whole report for the current invoice. Runs BeforePrint with
    // the invoice's types first. Values the answer lacks stay empty; numbers
    // use `decimalSep` ("###,##0.00" for amounts). `lineHeight` is the height
    // of one text row in report pixels (from the report font).
    ReportLayout Prepare(const device::InvoiceModel& model, const device::FlatJson& answer, const QrBitmap& qr,
                         int bandWidth, int lineHeight, char decimalSep);

private:
    ReportTitles titles_;
};

}  // namespace kv::print

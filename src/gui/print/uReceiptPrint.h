#pragma once
// Drawn receipts: the receipt picture of the device's answer and the report
// layout on the POS (or A4) printer, and the choice of receipt form after a
// successful fiscalisation.
#include <QImage>
#include <memory>
#include <string>

#include "print/QrCode.h"
#include "print/ReceiptImage.h"

class QPrinter;
class QWidget;

namespace kv {
class AppContext;
}

namespace kv::gui {

// What the drawn receipts keep between answers, one set per context.
struct ReceiptPrintState {
    kv::print::QrBitmap QRBitmap;   // code of the last verification URL
    kv::print::PngImage PngImage;   // receipt picture of the last answer; empty when it had none
    QImage picture;                 // PngImage decoded and laid on white
    // The printer the drawn receipts go to. A printer chosen by name stays
    // chosen until another name is found among the installed printers.
    std::unique_ptr<QPrinter> printer;
};

// The context's state, made on first use.
ReceiptPrintState& ReceiptPrinting(kv::AppContext& ctx);
// Frees the context's state (at shutdown, before the context goes).
void ReleaseReceiptPrinting(const kv::AppContext& ctx);
// The printer of the drawn receipts (the system's default until one is chosen).
QPrinter& ReceiptPrinter(kv::AppContext& ctx);

// Rebuilds QRBitmap from the verification URL.
void StrToQRCode(kv::AppContext& ctx, const std::string& text);
// Takes the answer's Base64 PNG as the receipt picture; true when replaced.
// A picture that cannot be read is reported and the previous one kept.
bool StrToPngImage(kv::AppContext& ctx, const std::string& text);
// The QR bitmap as an image, one pixel per module, black on white.
QImage QRCodeImage(const kv::print::QrBitmap& qr);

// Chooses the installed printer of exactly this name (case-sensitive);
// returns false, with the selection unchanged, when there is none.
bool SelectPrinter(QPrinter& printer, const std::string& name);
// The roll page of the drawn receipts: PaperWidth x PaperLength mm (3276
// when 0 or empty), left margin LeftMargin mm.
kv::print::ReceiptPage ReceiptPageOf(const kv::AppContext& ctx);
// Gives the printer that paper size, with no driver margins and the painter's
// origin at the paper's corner: the left margin is the drawer's to keep.
void SetReceiptPage(QPrinter& printer, const kv::print::ReceiptPage& page);

// The receipt picture on the POS printer (PrintUredjaj 2) or the A4 printer
// (3). When it fits one page: printed (print) or previewed (!print); when
// longer, printed slice by slice either way.
void PrintPNG(kv::AppContext& ctx, bool print, QWidget* parent = nullptr);
// The report layout on the POS printer, printed or previewed.
void PrintQR(kv::AppContext& ctx, bool print, QWidget* parent = nullptr);

// Joins the fiscalisation run (and starts the context's receipt state
// afresh): after every stored answer the QR code and the
// receipt picture are rebuilt (before any hook installed earlier runs); after
// a successful run on a POS or A4 printer the receipt is printed in the form
// RenderPrint names (0 text, 1 picture, 2 report). An answer without a
// usable picture prints the text receipt (POS) or the report (A4) instead,
// and says so in the context's log. Print errors are shown, never thrown
// into the run.
void InstallReceiptPrinting(kv::AppContext& ctx, QWidget* parent);

}  // namespace kv::gui

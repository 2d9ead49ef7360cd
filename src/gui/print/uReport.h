#pragma once
// The report receipt `QRPInvoice` on paper: a small band renderer that draws
// the layout built in core (print/ReportLayout.h) with QPainter on the POS
// printer, in the print preview, or into a PDF file.
#include <QFont>
#include <QString>
#include <string>

#include "print/ReportLayout.h"

class QPaintDevice;
class QPainter;
class QPrinter;
class QWidget;

namespace kv {
class AppContext;
}

namespace kv::gui {

// The report on the POS printer (exact name among the installed printers,
// otherwise the printer the drawn receipts used last) when `print` is true,
// otherwise in the print preview. The QR code is the one held for drawn
// receipts (uReceiptPrint.h). Page: PaperWidth x PaperLength mm (3276 when 0 or
// empty), LeftMargin mm; font FontName, FontSize. Throws std::runtime_error
// with the operator's message when the page settings are impossible or the
// printer cannot start the job.
void PrintReport(kv::AppContext& ctx, bool print, QWidget* parent);

// The same report as a PDF file (tests, archives). Throws like PrintReport.
void RenderReportToPdf(kv::AppContext& ctx, const QString& path);

// The report font from the settings. When the family is not installed or
// cannot write Cyrillic, families that can follow it in the fallback list.
QFont ReportFont(const std::string& family, long long pointSize);

// The report of the current invoice as it is drawn on `device`, whose
// font metrics give the row height. Throws like PrintReport.
kv::print::ReportLayout PrepareReport(kv::AppContext& ctx, QPaintDevice& device);

// Draws `layout` on the printer's pages from the current page on, starting
// `leftMm` from the paper's left edge; a band that does not fit the rest of
// a page starts the next one.
void DrawReport(QPainter& painter, QPrinter& printer, const kv::print::ReportLayout& layout, const QFont& font,
                double leftMm);

}  // namespace kv::gui

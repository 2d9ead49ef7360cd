#include "print/uReport.h"

#include <QAbstractScrollArea>
#include <QAction>
#include <QFontDatabase>
#include <QFontMetricsF>
#include <QPageLayout>
#include <QPageSize>
#include <QPainter>
#include <QPrintPreviewDialog>
#include <QPrintPreviewWidget>
#include <QPrinter>
#include <QScrollBar>
#include <QStyle>
#include <QTimer>
#include <algorithm>
#include <cmath>
#include <stdexcept>

#include "app/AppContext.h"
#include "platform/Platform.h"
#include "print/ReceiptImage.h"
#include "print/uReceiptPrint.h"

namespace kv::gui {

namespace {

// The report object keeps its titles between prints: an invoice type without
// titles of its own prints with those of the previous receipt.
kv::print::QRPInvoice& Report()
{
    static kv::print::QRPInvoice report;
    return report;
}

struct Page {
    kv::print::ReceiptPage paper;
    int bandWidth = 0;  // report pixels
};

Page PageFromSettings(const kv::AppContext& ctx)
{
    Page p;
    p.paper = ReceiptPageOf(ctx);
    p.paper.leftMarginMm = std::max<int64_t>(p.paper.leftMarginMm, 0);
    p.bandWidth = kv::print::BandWidthForPaper(p.paper.widthMm, p.paper.leftMarginMm);
    // Settings are typed by hand: no room right of the margin, or a "roll"
    // longer than 100 m, is a typing error.
    if (p.bandWidth <= 0 || p.paper.lengthMm > 100000 || p.paper.widthMm > 100000)
        throw std::runtime_error(kv::print::msg::kBadPaper);
    return p;
}

void SetUpPage(QPrinter& printer, const Page& page)
{
    SetReceiptPage(printer, page.paper);
    printer.setDocName(QStringLiteral("Racun"));
}

QFont FontFromSettings(const kv::AppContext& ctx)
{
    return ReportFont(ctx.settings.Bafer.text("FontName"), ctx.settings.Bafer.integer("FontSize"));
}

// One text row: the font's line spacing plus a little air, in report pixels.
int LineHeight(const QFont& font, QPaintDevice* device)
{
    const double scale = device->logicalDpiY() / double(kv::print::kReportDpi);
    return static_cast<int>(std::ceil(QFontMetricsF(font, device).lineSpacing() / scale)) + 2;
}

kv::print::ReportLayout Prepare(kv::AppContext& ctx, QPaintDevice& device, const Page& page, const QFont& font)
{
    return Report().Prepare(ctx.invoice, ctx.fisk().OdgovorLista, ReceiptPrinting(ctx).QRBitmap, page.bandWidth,
                            LineHeight(font, &device), kv::platform::DecimalSeparator());
}

void Render(kv::AppContext& ctx, QPrinter& printer, const Page& page)
{
    const QFont font = FontFromSettings(ctx);
    const kv::print::ReportLayout layout = Prepare(ctx, printer, page, font);
    QPainter painter;
    if (!painter.begin(&printer))
        throw std::runtime_error(std::string(kv::print::msg::kPrinterNotReady) + printer.printerName().toStdString());
    DrawReport(painter, printer, layout, font, double(page.paper.leftMarginMm));
    painter.end();
}

Qt::Alignment AlignmentOf(kv::print::CellAlign a)
{
    switch (a) {
    case kv::print::CellAlign::Left: return Qt::AlignLeft;
    case kv::print::CellAlign::Center: return Qt::AlignHCenter;
    case kv::print::CellAlign::Right: return Qt::AlignRight;
    }
    return Qt::AlignLeft;
}

void DrawQr(QPainter& painter, const kv::print::QrBitmap& qr, const QRectF& frame)
{
    painter.fillRect(frame, Qt::white);
    if (qr.empty())
        return;
    const double module = frame.width() / qr.side;
    for (int y = 0; y < qr.side; ++y) {
        // Runs of dark modules as one rectangle: fewer seams in viewers that smooth edges.
        for (int x = 0; x < qr.side;) {
            if (!qr.at(x, y)) {
                ++x;
                continue;
            }
            int end = x;
            while (end < qr.side && qr.at(end, y))
                ++end;
            painter.fillRect(QRectF(frame.left() + x * module, frame.top() + y * module, (end - x) * module, module),
                             Qt::black);
            x = end;
        }
    }
}

}  // namespace

QFont ReportFont(const std::string& family, long long pointSize)
{
    const QString name = QString::fromStdString(family);
    QFont font(name);
    font.setPointSize(pointSize > 0 && pointSize < 200 ? int(pointSize) : 8);
    font.setStyleHint(QFont::SansSerif);
    // A receipt is Cyrillic and ruled with box-drawing characters: when the
    // configured family cannot write it, narrow sans families that can come
    // next, before whatever the system would pick on its own.
    if (name.isEmpty() || !QFontDatabase::families(QFontDatabase::Cyrillic).contains(name, Qt::CaseInsensitive)) {
        QStringList families;
        if (!name.isEmpty())
            families << name;
        families << QStringLiteral("Liberation Sans Narrow") << QStringLiteral("DejaVu Sans Condensed")
                 << QStringLiteral("DejaVu Sans");
        font.setFamilies(families);
    }
    return font;
}

kv::print::ReportLayout PrepareReport(kv::AppContext& ctx, QPaintDevice& device)
{
    return Prepare(ctx, device, PageFromSettings(ctx), FontFromSettings(ctx));
}

void DrawReport(QPainter& painter, QPrinter& printer, const kv::print::ReportLayout& layout, const QFont& font,
                double leftMm)
{
    const double scale = printer.logicalDpiX() / double(kv::print::kReportDpi);  // device pixels per report pixel
    const double left = leftMm / 25.4 * printer.logicalDpiX();
    const double pageHeight = printer.pageLayout().fullRectPixels(printer.resolution()).height();
    const double line = layout.lineHeight * scale;
    painter.setFont(QFont(font, &printer));
    painter.setPen(Qt::black);

    double y = 0;
    for (const auto& band : layout.bands) {
        const double height = band.height * scale;
        if (y > 0 && y + height > pageHeight) {
            printer.newPage();
            y = 0;
        }
        for (const auto& row : band.rows) {
            for (const auto& cell : row.cells) {
                if (cell.text.empty())
                    continue;
                const QString text = QString::fromStdString(cell.text);
                const QRectF frame(left + cell.left * scale, y + row.top * scale, cell.width * scale, line);
                const int flags = int(AlignmentOf(cell.align) | Qt::AlignVCenter) | Qt::TextSingleLine | Qt::TextDontClip;
                if (cell.opaque) {
                    // Blank the rule under the title, a hair wider than the text.
                    const QRectF used = painter.boundingRect(frame, flags, text);
                    painter.fillRect(used.adjusted(-scale, 0, scale, 0), Qt::white);
                }
                painter.drawText(frame, flags, text);
            }
        }
        if (band.image) {
            const auto& img = *band.image;
            DrawQr(painter, layout.qr,
                   QRectF(left + img.left * scale, y + img.top * scale, img.side * scale, img.side * scale));
        }
        y += height;
    }
}

void PrintReport(kv::AppContext& ctx, bool print, QWidget* parent)
{
    const Page page = PageFromSettings(ctx);
    // The printer the drawn receipts share: a POS printer that is not
    // installed leaves the one chosen before.
    QPrinter& printer = ReceiptPrinter(ctx);
    const auto& b = ctx.settings.Bafer;
    SelectPrinter(printer, kv::print::DrawnReceiptPrinter(true, b.integer("PrintUredjaj"), b.text("PosPrinter"),
                                                          b.text("A4Printer")));
    SetUpPage(printer, page);
    if (print) {
        Render(ctx, printer, page);
        return;
    }
    QPrintPreviewDialog preview(&printer, parent);
    preview.setWindowTitle(QStringLiteral("Report"));
    std::string error;
    QObject::connect(&preview, &QPrintPreviewDialog::paintRequested, &preview, [&ctx, &page, &error](QPrinter* p) {
        // An exception must not cross Qt's signal delivery; it is raised
        // once the preview has closed.
        try {
            Render(ctx, *p, page);
        } catch (const std::exception& e) {
            error = e.what();
        }
    });
    // A roll is narrow and very long: show it as wide as the window, from
    // its top, once the window has its size. The preview's own fit modes
    // leave such a page a narrow strip, so the zoom is worked out here.
    const double paperWidthMm = double(page.paper.widthMm);
    QTimer::singleShot(0, &preview, [&preview, paperWidthMm] {
        auto* view = preview.findChild<QPrintPreviewWidget*>();
        if (!view)
            return;
        const double paperOnScreen = paperWidthMm / 25.4 * view->logicalDpiX();
        // Leave room for the scroll bar and the border the preview draws round a page.
        const double room = (view->width() - view->style()->pixelMetric(QStyle::PM_ScrollBarExtent)) * 0.88;
        if (paperOnScreen <= 0 || room <= 0)
            return;
        view->setZoomFactor(room / paperOnScreen);
        // The tool bar follows: no fit mode checked, the zoom box shows the factor.
        for (const char* name : {"fitWidthAction", "fitPageAction"})
            if (auto* a = preview.findChild<QAction*>(QLatin1String(name)))
                a->setChecked(false);
        emit view->previewChanged();
        if (auto* area = view->findChild<QAbstractScrollArea*>())
            area->verticalScrollBar()->setValue(0);
    });
    preview.resize(520, 760);
    preview.exec();
    if (!error.empty())
        throw std::runtime_error(error);
}

void RenderReportToPdf(kv::AppContext& ctx, const QString& path)
{
    const Page page = PageFromSettings(ctx);
    QPrinter printer(QPrinter::HighResolution);
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(path);
    SetUpPage(printer, page);
    Render(ctx, printer, page);
}

}  // namespace kv::gui

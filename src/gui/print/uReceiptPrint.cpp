#include "print/uReceiptPrint.h"

#include <QByteArrayView>
#include <QFont>
#include <QFontMetrics>
#include <QPageLayout>
#include <QPageSize>
#include <QPainter>
#include <QPointer>
#include <QPrintPreviewDialog>
#include <QPrintPreviewWidget>
#include <QPrinter>
#include <QPrinterInfo>
#include <exception>
#include <map>
#include <stdexcept>

#include "app/AppContext.h"
#include "print/EscPosReceipt.h"
#include "print/RawPrinter.h"
#include "print/ReceiptChoice.h"
#include "print/uReport.h"
#include "util/Prompter.h"

namespace kv::gui {

namespace {

using kv::print::PngPagePlan;

std::map<const kv::AppContext*, std::unique_ptr<ReceiptPrintState>>& States()
{
    static std::map<const kv::AppContext*, std::unique_ptr<ReceiptPrintState>> states;
    return states;
}

QString Q(const std::string& s) { return QString::fromStdString(s); }

// The printer that could not start a job, for the operator: the queue, or
// the file of a PDF printer.
std::runtime_error NotReady(const QPrinter& printer)
{
    const QString name =
        printer.outputFormat() == QPrinter::PdfFormat ? printer.outputFileName() : printer.printerName();
    return std::runtime_error(kv::print::msg::kPrinterNotReady + (name.isEmpty() ? std::string("-") : name.toStdString()));
}

// A transparent picture prints as white paper, not as whatever the driver
// makes of alpha.
QImage OnWhite(const QImage& image)
{
    QImage out(image.size(), QImage::Format_RGB32);
    out.fill(Qt::white);
    QPainter p(&out);
    p.drawImage(0, 0, image);
    return out;
}

// Draws the planned pages from the paper's top left corner, a new page before
// every slice but the first.
void PaintPages(QPrinter& printer, const QImage& picture, const PngPagePlan& plan)
{
    QPainter painter;
    if (!painter.begin(&printer))
        throw NotReady(printer);
    bool first = true;
    for (const auto& s : plan.pages) {
        if (!first && !printer.newPage())
            throw NotReady(printer);
        first = false;
        painter.drawImage(QRect(s.dstLeft, s.dstTop, s.dstWidth, s.dstHeight), picture,
                          QRect(0, s.srcTop, picture.width(), s.srcBottom - s.srcTop));
    }
    painter.end();
}

std::string InvoiceNumber(kv::AppContext& ctx)
{
    try {
        if (ctx.invoice.Invoice.isEmpty())
            return {};
        return ctx.invoice.Invoice.field("invoiceNumber").asString();
    } catch (const std::exception&) {
        return {};
    }
}

// Lays the drawn receipt out on `device` with `painter` already begun on it.
void PaintTextReceipt(QPainter& painter, QPaintDevice& device, const kv::print::DrawnReceipt& receipt)
{
    QFont font(Q(receipt.fontName));
    font.setPointSize(receipt.fontSize > 0 ? receipt.fontSize : 8);
    font.setBold(true);
    painter.setFont(font);
    painter.setPen(Qt::black);
    const QFontMetrics fm(font, &device);
    const int lastWidth = receipt.lines.empty() ? 0 : fm.horizontalAdvance(Q(receipt.lines.back()));
    const auto place = kv::print::PlaceDrawnReceipt(receipt, fm.height(), lastWidth);
    if (place.hasQr) {
        const QImage qr = QRCodeImage(kv::print::StrToQRCode(receipt.url));
        if (!qr.isNull())
            painter.drawImage(QRect(place.qrLeft, place.qrTop, place.qrSide, place.qrSide), qr);
    }
    for (size_t i = 0; i < receipt.lines.size() && i < place.lineY.size(); ++i)
        painter.drawText(0, place.lineY[i] + fm.ascent(), Q(receipt.lines[i]));
}

// The "Image" form of the text receipt: lines and QR picture drawn through the
// driver of the installed printer PosPrinter names. A target without a driver
// (a file, a network printer's socket) gets the same drawing as raster dots
// (8 per mm, the POS printers' 203 dpi) over its raw channel: never the
// system's default printer.
void DrawTextReceipt(kv::AppContext& ctx, const kv::print::DrawnReceipt& receipt, const std::string& jobTitle)
{
    const auto target = kv::print::ParsePrinterTarget(ctx.settings.Bafer.text("PosPrinter"));
    QPrinter printer(QPrinter::HighResolution);
    if (target.kind == kv::print::PrinterTarget::Kind::Cups && SelectPrinter(printer, target.queue)) {
        printer.setDocName(Q(jobTitle));
        QPainter painter;
        if (!painter.begin(&printer))
            throw NotReady(printer);
        PaintTextReceipt(painter, printer, receipt);
        painter.end();
        return;
    }
    const int64_t paperMm = ctx.settings.Bafer.integer("PaperWidth");
    const int width = static_cast<int>(std::clamp<int64_t>(paperMm > 0 ? paperMm * 8 : 384, 64, 2048));
    QImage sheet(width, 20000, QImage::Format_RGB32);
    sheet.setDotsPerMeterX(8000);
    sheet.setDotsPerMeterY(8000);
    sheet.fill(Qt::white);
    int bottom = 0;
    {
        QPainter painter(&sheet);
        PaintTextReceipt(painter, sheet, receipt);
        const QFontMetrics fm(painter.font(), &sheet);
        const auto place = kv::print::PlaceDrawnReceipt(receipt, fm.height(), 0);
        for (int y : place.lineY) bottom = std::max(bottom, y + fm.height());
        if (place.hasQr) bottom = std::max(bottom, place.qrTop + place.qrSide);
    }
    const int height = std::clamp(bottom, 1, sheet.height());
    const int rowBytes = (width + 7) / 8;
    std::vector<std::uint8_t> bits(static_cast<size_t>(rowBytes) * height, 0);
    for (int y = 0; y < height; ++y) {
        const auto* row = reinterpret_cast<const QRgb*>(sheet.constScanLine(y));
        for (int x = 0; x < width; ++x)
            if (qGray(row[x]) < 128)
                bits[static_cast<size_t>(y) * rowBytes + x / 8] |= static_cast<std::uint8_t>(0x80 >> (x % 8));
    }
    auto raw = kv::print::OpenRawTarget(target);
    kv::print::EscPosReceipt job;
    job.jobTitle = jobTitle;
    job.raw = kv::print::EscPosRaster(bits, width, height) + "\n";
    kv::print::SendESCPOS(*raw, job);
}

// One receipt print of the dispatch or a test button; whatever goes wrong is
// told to the operator and goes no further.
template <class F>
void Guarded(kv::AppContext& ctx, F&& f)
{
    try {
        f();
    } catch (const std::exception& e) {
        ctx.prompter.message(e.what(), kv::MsgKind::Error);
    } catch (...) {
        ctx.prompter.message(kv::print::kProvjeriPrinter, kv::MsgKind::Error);
    }
}

// The text receipt of the held journal: raw bytes to the POS printer, and in
// the "Image" form the drawn lines and QR code.
void PrintTextReceipt(kv::AppContext& ctx)
{
    auto& fisk = ctx.fisk();
    std::string title;
    if (auto drawn = kv::print::SendTextReceipt(ctx.settings.Bafer, fisk.answer().journal, fisk.answer().verificationUrl, InvoiceNumber(ctx),
                                                &title))
        DrawTextReceipt(ctx, *drawn, title);
}

}  // namespace

ReceiptPrintState& ReceiptPrinting(kv::AppContext& ctx)
{
    auto& slot = States()[&ctx];
    if (!slot)
        slot = std::make_unique<ReceiptPrintState>();
    return *slot;
}

void ReleaseReceiptPrinting(const kv::AppContext& ctx) { States().erase(&ctx); }

QPrinter& ReceiptPrinter(kv::AppContext& ctx)
{
    auto& st = ReceiptPrinting(ctx);
    if (!st.printer)
        st.printer = std::make_unique<QPrinter>(QPrinter::HighResolution);
    return *st.printer;
}

void StrToQRCode(kv::AppContext& ctx, const std::string& text)
{
    auto& st = ReceiptPrinting(ctx);
    st.QRBitmap = kv::print::StrToQRCode(text);
    if (st.QRBitmap.empty() && !text.empty())
        ctx.prompter.message(kv::print::msg::kQrTooLong, kv::MsgKind::Error);
}

bool StrToPngImage(kv::AppContext& ctx, const std::string& text)
{
    auto& st = ReceiptPrinting(ctx);
    kv::print::PngImage next;
    std::string error;
    if (!kv::print::StrToPngImage(text, next, &error)) {
        if (!error.empty())
            ctx.prompter.message(error, kv::MsgKind::Error);
        return false;
    }
    // The header looked right; the whole file must decode as well.
    QImage image;
    if (!image.loadFromData(QByteArrayView(next.pngBytes.data(), qsizetype(next.pngBytes.size())), "PNG")) {
        ctx.prompter.message(kv::print::msg::kNotPng, kv::MsgKind::Error);
        return false;
    }
    st.picture = OnWhite(image);
    st.PngImage = std::move(next);
    return true;
}

QImage QRCodeImage(const kv::print::QrBitmap& qr)
{
    if (qr.empty())
        return {};
    QImage img(qr.side, qr.side, QImage::Format_RGB32);
    for (int y = 0; y < qr.side; ++y) {
        auto* row = reinterpret_cast<QRgb*>(img.scanLine(y));
        for (int x = 0; x < qr.side; ++x)
            row[x] = qr.at(x, y) ? qRgb(0, 0, 0) : qRgb(255, 255, 255);
    }
    return img;
}

bool SelectPrinter(QPrinter& printer, const std::string& name)
{
    const QString q = Q(name);
    if (q.isEmpty() || !QPrinterInfo::availablePrinterNames().contains(q, Qt::CaseSensitive))
        return false;
    printer.setPrinterName(q);
    return true;
}

kv::print::ReceiptPage ReceiptPageOf(const kv::AppContext& ctx)
{
    const auto& b = ctx.settings.Bafer;
    return {b.integer("PaperWidth"), kv::print::EffectivePaperLength(b.integer("PaperLength")),
            b.integer("LeftMargin")};
}

void SetReceiptPage(QPrinter& printer, const kv::print::ReceiptPage& page)
{
    // The whole paper is ours: drawing starts at its corner and the left
    // margin is drawn by us (driver margins would move the picture twice).
    const QPageSize size(QSizeF(double(page.widthMm), double(kv::print::EffectivePaperLength(page.lengthMm))),
                         QPageSize::Millimeter, QString(), QPageSize::ExactMatch);
    printer.setPageLayout(QPageLayout(size, QPageLayout::Portrait, QMarginsF(), QPageLayout::Millimeter));
    printer.setFullPage(true);
}

void PrintPNG(kv::AppContext& ctx, bool print, QWidget* parent)
{
    Guarded(ctx, [&] {
        auto& st = ReceiptPrinting(ctx);
        if (st.picture.isNull()) {
            ctx.prompter.message(kv::print::msg::kNoReceiptImage, kv::MsgKind::Warning);
            return;
        }
        const auto& b = ctx.settings.Bafer;
        QPrinter& printer = ReceiptPrinter(ctx);
        SelectPrinter(printer, kv::print::DrawnReceiptPrinter(false, b.integer("PrintUredjaj"), b.text("PosPrinter"),
                                                              b.text("A4Printer")));
        const auto page = ReceiptPageOf(ctx);
        const QImage picture = st.picture;  // the preview may outlive a new answer's picture
        const auto plan = kv::print::PlanPngPages(picture.width(), picture.height(), page, printer.resolution());
        if (plan.pages.empty()) {
            ctx.prompter.message(kv::print::msg::kBadPaper, kv::MsgKind::Error);
            return;
        }
        SetReceiptPage(printer, page);
        printer.setDocName(QStringLiteral("Racun ") + Q(InvoiceNumber(ctx)));
        if (print || plan.sliced) {
            PaintPages(printer, picture, plan);
            return;
        }
        QPrintPreviewDialog preview(&printer, parent);
        preview.setWindowTitle(QStringLiteral("PNG"));
        std::string error;
        QObject::connect(&preview, &QPrintPreviewDialog::paintRequested, &preview, [&](QPrinter* p) {
            // No exception may cross Qt's signal delivery; it is told once
            // the preview has closed.
            try {
                PaintPages(*p, picture,
                           kv::print::PlanPngPages(picture.width(), picture.height(), page, p->resolution()));
            } catch (const std::exception& e) {
                error = e.what();
            }
        });
        // A roll is narrow and long: open it at the window's width.
        preview.resize(520, 760);
        if (auto* view = preview.findChild<QPrintPreviewWidget*>())
            view->setZoomMode(QPrintPreviewWidget::FitToWidth);
        preview.exec();
        if (!error.empty())
            throw std::runtime_error(error);
    });
}

void PrintQR(kv::AppContext& ctx, bool print, QWidget* parent)
{
    Guarded(ctx, [&] { PrintReport(ctx, print, parent); });
}

void InstallReceiptPrinting(kv::AppContext& ctx, QWidget* parent)
{
    // A new window over this context starts with no pictures of its own.
    ReleaseReceiptPrinting(ctx);
    auto& fisk = ctx.fisk();
    auto previousStored = fisk.onAnswerStored;
    fisk.onAnswerStored = [&ctx, previousStored] {
        // First the URL, then the picture; both before whatever shows them.
        StrToQRCode(ctx, ctx.fisk().answer().verificationUrl);
        // The picture is this answer's or none (an answer recovered by its
        // request id has none): the previous sale's picture is never this
        // sale's receipt.
        auto& st = ReceiptPrinting(ctx);
        st.picture = QImage();
        st.PngImage = {};
        StrToPngImage(ctx, ctx.fisk().answer().receiptPngBase64);
        if (previousStored) previousStored();
    };
    QPointer<QWidget> owner(parent);
    fisk.onPrint = [&ctx, owner](int64_t renderPrint) {
        // Called after a run that prints on the POS (2) or the A4 printer (3).
        const int64_t printUredjaj = ctx.settings.Bafer.integer("PrintUredjaj") == 3 ? 3 : 2;
        const bool picture = !ReceiptPrinting(ctx).picture.isNull();
        const auto form = kv::print::ChooseReceiptForm(printUredjaj, renderPrint, picture);
        if (renderPrint == 1 && !picture)
            ctx.log(std::string("The device's answer carried no receipt image; printed as the ") +
                    (form == kv::print::ReceiptForm::Text ? "text receipt" : "report layout") + " instead");
        switch (form) {
        case kv::print::ReceiptForm::Text:
            Guarded(ctx, [&] { PrintTextReceipt(ctx); });
            break;
        case kv::print::ReceiptForm::Picture:
            PrintPNG(ctx, true, owner.data());
            break;
        case kv::print::ReceiptForm::Report:
            PrintQR(ctx, true, owner.data());
            break;
        default:
            break;  // no such form: nothing is printed
        }
    };
}

}  // namespace kv::gui

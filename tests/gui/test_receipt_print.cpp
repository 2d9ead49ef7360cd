// The device's receipt picture on paper: one page when it fits the roll's
// page, slices otherwise; printed into PDF files and read back with poppler.
#include <QApplication>
#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QPainter>
#include <QPrinter>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>
#include <fstream>
#include <memory>

#include "app/AppContext.h"
#include "gui_support.h"
#include "print/ReceiptImage.h"
#include "print/uReceiptPrint.h"
#include "util/ScriptedPrompter.h"

using namespace kv::gui;

namespace {

using kv::test::RunTool;
using kv::test::ShotDir;

const char* kUrl = "https://suf.test/v/?vl=A1B2C3D4E5F6G7H8I9J0";

// A receipt picture as the device might send it: 576 x 1200, transparent
// paper, a frame, text lines, the QR code, and a black bar over its last 40
// rows that shows where the picture ends on paper.
QImage ReceiptPicture()
{
    QImage img(576, 1200, QImage::Format_ARGB32);
    img.fill(Qt::transparent);
    QPainter p(&img);
    p.setPen(QPen(Qt::black, 8));
    p.drawRect(4, 4, 568, 1192);
    QFont f("DejaVu Sans");
    f.setPixelSize(34);
    p.setFont(f);
    p.drawText(QRect(0, 20, 576, 50), Qt::AlignCenter, "FISKALNI RACUN");
    f.setPixelSize(24);
    p.setFont(f);
    for (int i = 1; i <= 9; ++i) {
        const int y = 20 + 80 * i;
        p.drawLine(8, y, 568, y);
        p.drawText(24, y + 48, QString("Stavka %1   %2,00").arg(i).arg(i * 10));
    }
    const QImage qr = QRCodeImage(kv::print::StrToQRCode(kUrl));
    p.drawImage(QRect(168, 900, 240, 240), qr);
    p.fillRect(0, 1160, 576, 40, Qt::black);
    return img;
}

std::string Base64Png(const QImage& img)
{
    QByteArray bytes;
    QBuffer buf(&bytes);
    buf.open(QIODevice::WriteOnly);
    img.save(&buf, "PNG");
    return bytes.toBase64().toStdString();
}

struct PdfFacts {
    int pages = 0;
    double widthPt = 0, heightPt = 0;  // of the first page
};

PdfFacts Inspect(const QString& pdf)
{
    PdfFacts f;
    const QString info = RunTool("pdfinfo", {pdf});
    auto m = QRegularExpression(R"(Pages:\s+(\d+))").match(info);
    if (m.hasMatch()) f.pages = m.captured(1).toInt();
    m = QRegularExpression(R"(Page size:\s+([\d.]+) x ([\d.]+) pts)").match(info);
    if (m.hasMatch()) {
        f.widthPt = m.captured(1).toDouble();
        f.heightPt = m.captured(2).toDouble();
    }
    return f;
}

double MmToPx(double mm, int dpi) { return mm * dpi / 25.4; }

// Page `page` of the PDF as a picture at `dpi` (only its top `heightMm` when
// given), kept under the screenshot folder.
QImage RenderPage(const QString& pdf, int page, int dpi, const QString& shotName, double heightMm = 0)
{
    const QString base = ShotDir() + "/" + shotName;
    QStringList args{"-r", QString::number(dpi), "-f", QString::number(page), "-l", QString::number(page)};
    if (heightMm > 0) args << "-y" << "0" << "-H" << QString::number(int(MmToPx(heightMm, dpi)));
    RunTool("pdftoppm", args << "-png" << "-singlefile" << pdf << base);
    return QImage(base + ".png").convertToFormat(QImage::Format_Grayscale8);
}

bool DarkAt(const QImage& img, double xMm, double yMm, int dpi)
{
    return qGray(img.pixel(int(MmToPx(xMm, dpi)), int(MmToPx(yMm, dpi)))) < 128;
}

// Whether a whole row of the page is blank paper.
bool WhiteRow(const QImage& img, double yMm, int dpi)
{
    const int y = int(MmToPx(yMm, dpi));
    for (int x = 0; x < img.width(); ++x)
        if (qGray(img.pixel(x, y)) < 200) return false;
    return true;
}

}  // namespace

class ReceiptPrintTest : public QObject {
    Q_OBJECT

    QTemporaryDir dir;
    kv::test::Context c;
    std::unique_ptr<kv::ScriptedPrompter>& prompter = c.prompter;
    std::unique_ptr<kv::AppContext>& ctx = c.ctx;
    bool earlierHookRan = false;

    kv::SettingsRecord& bafer() { return ctx->settings.Bafer; }

    void page(int widthMm, int lengthMm, int leftMm)
    {
        bafer().setInt("PaperWidth", widthMm);
        bafer().setInt("PaperLength", lengthMm);
        bafer().setInt("LeftMargin", leftMm);
    }

    QString toPdf(const QString& name)
    {
        const QString path = dir.filePath(name + ".pdf");
        QPrinter& p = ReceiptPrinter(*ctx);
        p.setOutputFormat(QPrinter::PdfFormat);
        p.setOutputFileName(path);
        return path;
    }

    void loadAnswer(const std::string& png)
    {
        ctx->fisk().LoadAnswer(R"({"journal":"FISKALNI RACUN\r\nKRAJ","verificationUrl":")" + std::string(kUrl) +
                                 R"(","invoiceImagePngBase64":")" + png + R"("})");
    }

private slots:
    void initTestCase()
    {
        if (QStandardPaths::findExecutable("pdfinfo").isEmpty() ||
            QStandardPaths::findExecutable("pdftoppm").isEmpty())
            QSKIP("poppler-utils (pdfinfo, pdftoppm) are needed to read the printed PDF files");
        QVERIFY(c.start(dir, "[Global]\nPrintUredjaj=2\nRenderPrint=1\nPosPrinter=Kovira POS not installed\n"
                             "A4Printer=Kovira A4 not installed\n"));
        ctx->fisk().onAnswerStored = [this] { earlierHookRan = true; };
        InstallReceiptPrinting(*ctx, nullptr);
    }

    void answerBringsQrAndPicture()
    {
        loadAnswer(Base64Png(ReceiptPicture()));
        QVERIFY(earlierHookRan);
        QVERIFY(prompter->texts().empty());
        const auto& st = ReceiptPrinting(*ctx);
        QCOMPARE(st.QRBitmap.dark, kv::print::StrToQRCode(kUrl).dark);
        QCOMPARE(st.PngImage.width, 576);
        QCOMPARE(st.PngImage.height, 1200);
        QCOMPARE(st.picture.size(), QSize(576, 1200));
        // Transparent paper of the picture prints white.
        QCOMPARE(st.picture.pixel(500, 560), qRgb(255, 255, 255));
        QCOMPARE(st.picture.pixel(300, 1180), qRgb(0, 0, 0));

        // An answer without a usable picture leaves none: the last sale's
        // picture is never printed for this one. Only bad data is worth a
        // word to the operator.
        struct {
            std::string png;
            const char* said;
        } none[] = {{"null", nullptr},
                    {"", nullptr},
                    {"@@not base64@@", kv::print::msg::kBadBase64},
                    {"SGVsbG8=", kv::print::msg::kNotPng},
                    // A PNG head over broken data.
                    {Base64Png(ReceiptPicture()).substr(0, 64), kv::print::msg::kNotPng}};
        for (const auto& k : none) {
            loadAnswer(Base64Png(ReceiptPicture()));
            prompter->clearLog();
            loadAnswer(k.png);
            QVERIFY(ReceiptPrinting(*ctx).picture.isNull());
            QCOMPARE(ReceiptPrinting(*ctx).PngImage.width, 0);
            if (k.said) {
                QCOMPARE(prompter->texts(), std::vector<std::string>{k.said});
            } else {
                QVERIFY(prompter->texts().empty());
            }
        }
        loadAnswer(Base64Png(ReceiptPicture()));
        prompter->clearLog();
    }

    // 576 x 1200 on a roll page of 80 x 3276 mm: one page, the picture at
    // the band's width right of the margin, its ratio kept.
    void fitsOnePage()
    {
        page(80, 0, 10);  // a length of 0 means 3276 mm
        const QString pdf = toPdf("one_page");
        ctx->fisk().onPrint(1);  // the dispatch after a fiscalisation
        QVERIFY2(prompter->texts().empty(), prompter->texts().empty() ? "" : prompter->texts()[0].c_str());
        const PdfFacts f = Inspect(pdf);
        QCOMPARE(f.pages, 1);
        QVERIFY(qAbs(f.widthPt - 80 / 25.4 * 72) < 0.5);
        QVERIFY(qAbs(f.heightPt - 3276 / 25.4 * 72) < 0.5);

        const int dpi = 150;
        const QImage img = RenderPage(pdf, 1, dpi, "receipt_png_one_page", 200);
        QVERIFY(!img.isNull());
        // The picture is 70 mm wide from 10 mm on, so 70 * 1200 / 576 =
        // 146 mm high; its bar covers the last 40 of 1200 rows (141-146 mm).
        QVERIFY(!DarkAt(img, 8, 50, dpi));   // margin
        QVERIFY(DarkAt(img, 10.5, 50, dpi));  // left side of the frame
        QVERIFY(DarkAt(img, 45, 143.5, dpi));
        QVERIFY(WhiteRow(img, 150, dpi));
        QVERIFY(WhiteRow(img, 199, dpi));
    }

    // On 80 x 100 mm the picture (146 mm at full width) is printed in slices,
    // one per page, even when a preview was asked for.
    void slicedWhenLongerThanThePage()
    {
        page(80, 100, 0);
        const QString pdf = toPdf("slices");
        bool dialog = false;
        QTimer guard;
        QObject::connect(&guard, &QTimer::timeout, [&] {
            if (auto* w = QApplication::activeModalWidget()) {
                dialog = true;
                w->close();
            }
        });
        guard.start(0);
        PrintPNG(*ctx, false, nullptr);
        guard.stop();
        QVERIFY(!dialog);
        QVERIFY(prompter->texts().empty());
        const PdfFacts f = Inspect(pdf);
        QCOMPARE(f.pages, 2);
        QVERIFY(qAbs(f.heightPt - 100 / 25.4 * 72) < 0.5);

        const int dpi = 96;
        const QImage first = RenderPage(pdf, 1, dpi, "receipt_png_slice1");
        const QImage second = RenderPage(pdf, 2, dpi, "receipt_png_slice2");
        QVERIFY(!first.isNull() && !second.isNull());
        // The first slice fills its page; the second holds the remaining
        // 481 of 1200 rows at the same scale: its bar ends at 67% of the
        // page, white paper follows.
        QVERIFY(DarkAt(first, 40, 0.5, dpi));  // top of the frame
        QVERIFY(!WhiteRow(first, 99, dpi));
        QVERIFY(DarkAt(second, 40, 64, dpi));
        QVERIFY(WhiteRow(second, 75, dpi));
        QVERIFY(WhiteRow(second, 95, dpi));
    }

    // When the picture fits the page, "Test PNG print" shows the preview and
    // prints nothing.
    void previewWhenItFits()
    {
        page(80, 3276, 0);
        const QString pdf = toPdf("preview");
        bool dialog = false;
        QTimer guard;
        QObject::connect(&guard, &QTimer::timeout, [&] {
            if (auto* w = QApplication::activeModalWidget()) {
                dialog = true;
                w->grab().save(ShotDir() + "/receipt_png_preview.png");
                w->close();
            }
        });
        guard.start(50);
        PrintPNG(*ctx, false, nullptr);
        guard.stop();
        QVERIFY(dialog);
        QVERIFY(!QFile::exists(pdf));
        QVERIFY(prompter->texts().empty());
    }

    // RenderPrint 0 sends the journal raw to the POS printer, here a file.
    void textReceiptGoesRaw()
    {
        const QByteArray bytes = printedRaw("pos.bin", 0);
        const qsizetype first = bytes.indexOf("FISKALNI RACUN");
        const qsizetype qr = bytes.indexOf(QByteArray("\x1d\x28\x6b\x04\x00\x31\x41\x32\x00", 9));
        const qsizetype last = bytes.indexOf("KRAJ");
        QVERIFY2(first >= 0 && qr > first && last > qr, bytes.toHex(' ').constData());
        QVERIFY(bytes.contains(kUrl));
        QVERIFY(logged.empty());
    }

    // An answer that carried no picture (recovered by its request id) is not
    // printed with an older one: the text receipt goes out and the log says why.
    void withoutAPictureTheTextReceiptIsPrinted()
    {
        const QByteArray bytes = printedRaw("fallback.bin", 1);
        QVERIFY(bytes.contains("FISKALNI RACUN"));
        QCOMPARE(logged.size(), size_t(1));
        QVERIFY(logged[0].find("no receipt image") != std::string::npos);
    }

    // "Image" (EscLat 2) draws text and QR code on the target PosPrinter
    // names: a file here, so the drawing arrives there as raster dots, never
    // on the system's default printer.
    void imageModeDrawsOnTheNamedTarget()
    {
        bafer().setText("EscLat", "2");
        const QByteArray bytes = printedRaw("drawn.bin", 0);
        bafer().setText("EscLat", "1");
        const qsizetype raster = bytes.indexOf(QByteArray("\x1d\x76\x30\x00", 4));
        QVERIFY2(raster >= 0, bytes.left(64).toHex(' ').constData());
        // 80 mm at 8 dots per mm: 640 dots, 80 bytes a row.
        QCOMPARE(quint8(bytes[raster + 4]), quint8(80));
        QCOMPARE(quint8(bytes[raster + 5]), quint8(0));
        QVERIFY(bytes.count('\xff') > 20);  // black dots were drawn
    }

private:
    std::vector<std::string> logged;

    // What the print after a run sends to a file target, for a recovered
    // answer (no picture) when `form` is 1.
    QByteArray printedRaw(const char* file, int64_t form)
    {
        loadAnswer(form == 1 ? "null" : Base64Png(ReceiptPicture()));
        const QString out = dir.filePath(file);
        bafer().setText("PosPrinter", "file:" + out.toStdString());
        if (bafer().text("EscLat") != "2") bafer().setText("EscLat", "1");
        bafer().setInt("PrintUredjaj", 2);
        logged.clear();
        ctx->onLog = [this](const std::string& line) { logged.push_back(line); };
        ctx->fisk().onPrint(form);
        ctx->onLog = nullptr;
        bafer().setText("PosPrinter", "Kovira POS not installed");
        [&] { QVERIFY2(prompter->texts().empty(), prompter->texts().empty() ? "" : prompter->texts()[0].c_str()); }();
        QFile f(out);
        if (!f.open(QIODevice::ReadOnly)) return {};
        return f.readAll();
    }
};

QTEST_MAIN(ReceiptPrintTest)
#include "test_receipt_print.moc"

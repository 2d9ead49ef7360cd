// The report receipt drawn by the band renderer: into PDF files whose text
// is read back with pdftotext, into a page picture, and in the preview.
#include <QApplication>
#include <QDir>
#include <QFontDatabase>
#include <QFontInfo>
#include <QFontMetricsF>
#include <QPrintPreviewDialog>
#include <QPrintPreviewWidget>
#include <QPrinter>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>
#include <fstream>
#include <memory>

#include "app/AppContext.h"
#include "device/JsonFlatten.h"
#include "gui_support.h"
#include "platform/Platform.h"
#include "print/ReceiptImage.h"
#include "print/uReceiptPrint.h"
#include "print/uReport.h"
#include "util/ScriptedPrompter.h"

namespace {

using kv::test::RunTool;
using kv::test::ShotDir;

QString PdfText(const QString& pdf) { return RunTool("pdftotext", {"-layout", pdf, "-"}); }

// The texts must appear in this order, each after the previous one.
bool InOrder(const QString& text, const QStringList& parts, QString* missing)
{
    qsizetype at = 0;
    for (const QString& p : parts) {
        const qsizetype i = text.indexOf(p, at);
        if (i < 0) {
            *missing = p;
            return false;
        }
        at = i + p.size();
    }
    return true;
}

// Label and value on one line of the page, whatever the space between them.
bool HasPair(const QString& text, const QString& label, const QString& value)
{
    return QRegularExpression(QRegularExpression::escape(label) + "\\s+" + QRegularExpression::escape(value) + "\\s*$",
                              QRegularExpression::MultilineOption)
        .match(text)
        .hasMatch();
}

}  // namespace

class ReportPrintTest : public QObject {
    Q_OBJECT

    QTemporaryDir dir;
    kv::test::Context c;
    std::unique_ptr<kv::ScriptedPrompter>& prompter = c.prompter;
    std::unique_ptr<kv::AppContext>& ctx = c.ctx;

    // A receipt of `items` lines (the first two fixed, then fillers of 1,00),
    // cash 50 against the total; the answer's seller and counter, a URL for
    // the QR code.
    void invoice(int64_t invoiceType, int64_t transactionType, int items = 2)
    {
        auto& m = ctx->invoice;
        m.Clear();
        m.Invoice.append();
        m.Invoice.field("invoiceType").setValue(kv::Value(invoiceType));
        m.Invoice.field("transactionType").setValue(kv::Value(transactionType));
        m.Invoice.field("cashier").setValue("Марко Марковић");
        m.Invoice.field("dateAndTimeOfIssue").setValue("2024-03-12T07:47:30Z");
        m.Invoice.field("PFRvrijeme").setValue("2024-03-12T07:47:38.123+01:00");
        m.Invoice.field("PFRnumber").setValue("X4ZT8P2A-X4ZT8P2A-1543");
        m.Invoice.post();
        auto item = [&](const char* name, const char* price, const char* qty, const char* total) {
            m.Items.append();
            m.Items.field("name").setValue(name);
            m.Items.field("labels").setValue("Ђ");
            m.Items.field("unitPrice").setValue(price);
            m.Items.field("quantity").setValue(qty);
            m.Items.field("totalAmount").setValue(total);
            m.Items.post();
        };
        item("Хлеб бели 500 г", "35,30", "1", "35,30");
        item("Кафа", "3,50", "2", "7,00");
        for (int i = 2; i < items; ++i)
            item(("Ставка " + std::to_string(i + 1)).c_str(), "1", "1", "1");
        m.Payment.append();
        m.Payment.field("amount").setValue(kv::Value(kv::Currency(50 + items - 2)));
        m.Payment.field("paymentType").setValue(kv::Value(int64_t{1}));
        m.Payment.post();
        m.TaxItems.append();
        m.TaxItems.field("label").setValue("Ђ");
        m.TaxItems.field("categoryName").setValue("ECAL");
        m.TaxItems.field("rate").setValue("20");
        m.TaxItems.field("amount").setValue("7.05");
        m.TaxItems.post();

        auto& fisk = ctx->fisk();
        fisk.OdgovorLista.clear();
        kv::device::OpenJSONFile(R"({"tin":"100000001","businessName":"Ковира д.о.о.","locationName":"Продавница Центар",)"
                                 R"("address":"Кнеза Милоша 10","district":"Београд","invoiceCounter":"1543/1602ПП"})",
                                 "", fisk.OdgovorLista);
        kv::gui::StrToQRCode(*ctx, "https://suf.example.rs/v/?vl=A0xBNFpUOFAyQVg0WlQ4UDJBBwYAAEwGAACw8gIAAAAAAAABjjKc");
    }

    QString pdf(const QString& name)
    {
        const QString path = dir.filePath(name + ".pdf");
        kv::gui::RenderReportToPdf(*ctx, path);
        return path;
    }

private slots:
    void initTestCase()
    {
        kv::platform::SetDecimalSeparator(',');
        QVERIFY(c.start(dir, "[Global]\nPaperWidth=80\nPaperLength=3276\nLeftMargin=2\nFontName=Arial Narrow\n"
                             "FontSize=8\nPosPrinter=Nema takvog\n"));
        ctx->settings.FillRecords({});
        for (const char* tool : {"pdftotext", "pdfinfo", "pdftoppm"})
            QVERIFY2(!QStandardPaths::findExecutable(tool).isEmpty(), "poppler-utils missing");
    }

    void fontFallbackWritesCyrillic_data()
    {
        QTest::addColumn<QString>("family");
        QTest::newRow("designed font, not installed") << "Arial Narrow";
        QTest::newRow("no font set") << "";
        QTest::newRow("installed font") << "DejaVu Sans";
    }

    void fontFallbackWritesCyrillic()
    {
        QFETCH(QString, family);
        const QFont font = kv::gui::ReportFont(family.toStdString(), 8);
        QCOMPARE(font.pointSize(), 8);
        const QString used = QFontInfo(font).family();
        qInfo("report font %s resolves to %s", qPrintable(family), qPrintable(used));
        QVERIFY2(QFontDatabase::writingSystems(used).contains(QFontDatabase::Cyrillic), qPrintable(used));
        const QFontMetricsF fm(font);
        for (const QChar c : QString("ЂЖШђжш═─"))
            QVERIFY2(fm.inFont(c), qPrintable(QString(c) + " missing in " + used));
    }

    void cleanupTestCase() { kv::gui::ReleaseReceiptPrinting(*ctx); }

    void titlesAndBandsByType_data()
    {
        QTest::addColumn<int>("invoiceType");
        QTest::addColumn<int>("transactionType");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("header");
        QTest::addColumn<QString>("footer");
        const QString fiscal = "ФИСКАЛНИ РАЧУН", end = "КРАЈ ФИСКАЛНОГ РАЧУНА", notFiscal = "ОВО НИЈЕ ФИСКАЛНИ РАЧУН";
        QTest::newRow("sale") << 0 << 0 << fiscal << "ПРОМЕТ ПРОДАЈА" << end;
        QTest::newRow("refund") << 0 << 1 << fiscal << "ПРОМЕТ РЕФУНДАЦИЈА" << end;
        QTest::newRow("pro forma sale") << 1 << 0 << notFiscal << "ПРЕДРАЧУН ПРОДАЈА" << notFiscal;
        QTest::newRow("pro forma refund") << 1 << 1 << notFiscal << "ПРЕДРАЧУН РЕФУНДАЦИЈА" << notFiscal;
        QTest::newRow("copy sale") << 2 << 0 << notFiscal << "КОПИЈА ПРОДАЈА" << notFiscal;
        QTest::newRow("copy refund") << 2 << 1 << notFiscal << "КОПИЈА РЕФУНДАЦИЈА" << notFiscal;
        QTest::newRow("training sale") << 3 << 0 << notFiscal << "ОБУКА ПРОДАЈА" << notFiscal;
        QTest::newRow("training refund") << 3 << 1 << notFiscal << "ОБУКА РЕФУНДАЦИЈА" << notFiscal;
        QTest::newRow("advance sale") << 4 << 0 << fiscal << "АВАНС ПРОДАЈА" << end;
        QTest::newRow("advance refund") << 4 << 1 << fiscal << "АВАНС РЕФУНДАЦИЈА" << end;
    }

    void titlesAndBandsByType()
    {
        QFETCH(int, invoiceType);
        QFETCH(int, transactionType);
        QFETCH(QString, title);
        QFETCH(QString, header);
        QFETCH(QString, footer);
        invoice(invoiceType, transactionType);
        const QString text = PdfText(pdf(QString("types-%1-%2").arg(invoiceType).arg(transactionType)));
        QVERIFY(!text.isEmpty());

        const bool notFiscal = invoiceType >= 1 && invoiceType <= 3;
        QStringList order = {title,
                             "100000001",
                             "Ковира д.о.о.",
                             "Продавница Центар",
                             "Кнеза Милоша 10",
                             "Београд",
                             "Касир:",
                             "ЕСИР број:",
                             header,
                             "Артикли",
                             "Назив",
                             "Хлеб бели 500 г (Ђ)",
                             "Кафа (Ђ)",
                             "Укупан износ:",
                             "Примљено средстава:",
                             "Готовина",
                             "Разлика за поврат:"};
        if (notFiscal)
            order << "ОВО НИЈЕ ФИСКАЛНИ РАЧУН";
        order << "Ознака" << "ECAL" << "ПФР вријеме:" << "ПФР број:" << "Бројач рачуна:" << footer;
        QString missing;
        QVERIFY2(InOrder(text, order, &missing), qPrintable("out of order or missing: " + missing + "\n" + text));
        // The band between payments and taxes prints only on receipts that are not fiscal.
        const int notFiscalTexts = text.count("ОВО НИЈЕ ФИСКАЛНИ РАЧУН");
        QCOMPARE(notFiscalTexts, notFiscal ? 3 : 0);
    }

    void totalsChangeAndAnswerValues()
    {
        invoice(0, 0);
        const QString path = pdf("sale");
        const QString text = PdfText(path);
        QVERIFY(HasPair(text, "Укупан износ:", "42,30"));
        QVERIFY(HasPair(text, "Примљено средстава:", "50,00"));
        QVERIFY(HasPair(text, "Готовина", "50,00"));
        QVERIFY2(HasPair(text, "Разлика за поврат:", "7,70"), qPrintable(text));
        QVERIFY(HasPair(text, "Укупан износ пореза:", "7,05"));
        QVERIFY(HasPair(text, "Касир:", "Марко Марковић"));
        QVERIFY(HasPair(text, "ЕСИР вријеме:", "12.03.2024. 07:47:30"));
        QVERIFY(HasPair(text, "ПФР вријеме:", "12.03.2024. 07:47:38"));
        QVERIFY(HasPair(text, "Бројач рачуна:", "1543/1602ПП"));
        QVERIFY(HasPair(text, "ЕСИР број:", "13/2.0"));
        // Price, quantity and total of the second item on one line.
        QVERIFY(QRegularExpression("^\\s*3,50\\s+2\\s+7,00\\s*$", QRegularExpression::MultilineOption).match(text).hasMatch());

        // One page of the roll as configured: 80 x 3276 mm (the PDF rounds to whole points).
        const QString info = RunTool("pdfinfo", {path});
        QVERIFY2(QRegularExpression("Page size:\\s+22[67](\\.\\d+)? x 928[67](\\.\\d+)? pts").match(info).hasMatch(), qPrintable(info));
        QVERIFY(info.contains(QRegularExpression("Pages:\\s+1\\n")));

        // The printed part of the page as a picture, to look at and to read the QR code from.
        QPrinter probe(QPrinter::HighResolution);
        probe.setOutputFormat(QPrinter::PdfFormat);
        const kv::print::ReportLayout layout = kv::gui::PrepareReport(*ctx, probe);
        const double px = 100.0 / 96;  // picture pixels per report pixel
        const QString png = ShotDir() + "/report_receipt";
        RunTool("pdftoppm", {"-png", "-r", "100", "-singlefile", "-x", "0", "-y", "0", "-W", "315", "-H",
                         QString::number(int(layout.height() * px) + 20), path, png});
        const QImage page(png + ".png");
        QVERIFY(!page.isNull());

        // The code sits centred in its band and every module has its colour.
        int bandTop = 0, codes = 0;
        for (const auto& band : layout.bands) {
            if (band.image) {
                ++codes;
                const auto& img = *band.image;
                QCOMPARE(img.left, (layout.width - img.side) / 2);
                const kv::print::QrBitmap& qr = layout.qr;
                QVERIFY(qr.side >= 21);
                const double leftMargin = 2 / 25.4 * 100;
                const double module = img.side * px / qr.side;
                int wrong = 0;
                for (int y = 0; y < qr.side; ++y)
                    for (int x = 0; x < qr.side; ++x) {
                        const QPoint at(int(leftMargin + img.left * px + (x + 0.5) * module),
                                        int((bandTop + img.top) * px + (y + 0.5) * module));
                        const bool dark = qGray(page.pixel(at)) < 128;
                        wrong += dark != qr.at(x, y);
                    }
                QCOMPARE(wrong, 0);
            }
            bandTop += band.height;
        }
        QCOMPARE(codes, 1);
    }

    void missingAnswerValuesPrintEmpty()
    {
        invoice(0, 0);
        ctx->fisk().OdgovorLista.clear();
        const QString text = PdfText(pdf("no-answer"));
        QVERIFY(!text.contains("100000001"));
        QVERIFY(QRegularExpression("^\\s*Бројач рачуна:\\s*$", QRegularExpression::MultilineOption).match(text).hasMatch());
        QVERIFY(HasPair(text, "Укупан износ:", "42,30"));
    }

    void longReceiptContinuesOnNextPages()
    {
        ctx->settings.Bafer.setInt("PaperLength", 100);
        invoice(0, 0, 40);
        const QString path = pdf("long");
        ctx->settings.Bafer.setInt("PaperLength", 3276);
        const QString info = RunTool("pdfinfo", {path});
        const auto pages = QRegularExpression("Pages:\\s+(\\d+)").match(info).captured(1).toInt();
        QVERIFY2(pages >= 3, qPrintable(info));
        const QString text = PdfText(path);
        QString missing;
        QVERIFY2(InOrder(text, {"ФИСКАЛНИ РАЧУН", "Ставка 3 (Ђ)", "Ставка 40 (Ђ)", "Разлика за поврат:", "КРАЈ ФИСКАЛНОГ РАЧУНА"},
                         &missing),
                 qPrintable(missing));
        QVERIFY(HasPair(text, "Укупан износ:", "80,30"));
        // Bands are never split: each item's name and its numbers share a page.
        const QStringList pageTexts = text.split('\f');
        for (const QString& page : pageTexts) {
            const int names = page.count(QRegularExpression("\\(Ђ\\)"));
            const int amounts = page.count(QRegularExpression("^\\s*\\d+,\\d\\d\\s+\\d+\\s+\\d+,\\d\\d\\s*$",
                                                              QRegularExpression::MultilineOption));
            QCOMPARE(names, amounts);
        }
    }

    void impossiblePaperIsRefused()
    {
        invoice(0, 0);
        ctx->settings.Bafer.setInt("LeftMargin", 80);
        QVERIFY_THROWS_EXCEPTION(std::runtime_error, kv::gui::RenderReportToPdf(*ctx, dir.filePath("bad.pdf")));
        ctx->settings.Bafer.setInt("LeftMargin", 2);
        QVERIFY(!QFile::exists(dir.filePath("bad.pdf")));
    }

    void previewShowsTheReceipt()
    {
        invoice(2, 0);
        int pages = 0;
        double zoom = 0;
        QTimer::singleShot(0, [&] {
            auto* dlg = qobject_cast<QPrintPreviewDialog*>(QApplication::activeModalWidget());
            if (!dlg)
                return;
            QTest::qWait(100);
            if (auto* view = dlg->findChild<QPrintPreviewWidget*>()) {
                pages = view->pageCount();
                zoom = view->zoomFactor();
            }
            dlg->grab().save(ShotDir() + "/report_preview.png");
            dlg->reject();
        });
        kv::gui::PrintReport(*ctx, false, nullptr);
        QCOMPARE(pages, 1);
        // The 80 mm roll opens about as wide as the window, not as a sliver of a 3 m page.
        QVERIFY2(zoom > 1.2, qPrintable(QString::number(zoom)));
    }
};

QTEST_MAIN(ReportPrintTest)
#include "test_report_print.moc"

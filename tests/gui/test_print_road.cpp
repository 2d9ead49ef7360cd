// After a successful fiscalisation the receipt is printed as the settings
// say: the ESC/POS stream to a "file:" printer, the device's image, or the
// report layout; and the "Printer" page with its tests.
#include <QAbstractButton>
#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QPlainTextEdit>
#include <QPrinter>
#include <QPushButton>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QToolButton>
#include <QtTest>
#include <fstream>
#include <sstream>
#include <memory>

#include "FiscalSimulator.h"
#include "app/AppContext.h"
#include "app/uGlavnaFisk.h"
#include "print/EscPosReceipt.h"
#include "print/uReceiptPrint.h"
#include "gui_support.h"
#include "util/ScriptedPrompter.h"

using kv::gui::TGlavnaFisk;

namespace {
using kv::test::SaveShot;

QByteArray Read(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}
}  // namespace

class PrintRoadTest : public QObject, kv::test::DeviceWindowFixture {
    Q_OBJECT


    // A new invoice on "Zadnji račun", signed with the given receipt form.
    void signWith(int renderPrint, const QString& requestId) {
        auto& b = ctx->settings.Bafer;
        b.setInt("RenderPrint", renderPrint);
        b.post();
        auto& m = ctx->invoice;
        m.Clear();
        m.Invoice.append();
        m.Invoice.field("invoiceType").setValue(kv::Value(int64_t{0}));
        m.Invoice.field("transactionType").setValue(kv::Value(int64_t{0}));
        m.Invoice.field("invoiceNumber").setValue(kv::Value(std::string("R-") + std::to_string(renderPrint)));
        m.Invoice.field("RequestId").setValue(kv::Value(requestId.toStdString()));
        m.Invoice.post();
        m.Items.append();
        m.Items.field("name").setValue(kv::Value(std::string("Kafa")));
        m.Items.field("quantity").setValue(kv::Value(std::string("2")));
        m.Items.field("labels").setValue(kv::Value(std::string("E")));
        m.Items.field("unitPrice").setValue(kv::Value(std::string("2.5")));
        m.Items.field("totalAmount").setValue(kv::Value(std::string("5")));
        m.Items.post();
        m.Payment.append();
        m.Payment.field("amount").setValue(kv::Value(std::string("5")));
        m.Payment.field("paymentType").setValue(kv::Value(int64_t{1}));
        m.Payment.post();
        QTest::mouseClick(child<QToolButton>("TbPoslano"), Qt::LeftButton);
        QTest::mouseClick(child<QPushButton>("BtFiskalizuj"), Qt::LeftButton);
        QCOMPARE(QString::fromStdString(ctx->fisk().FiskGreska), QString());
    }

private slots:
    void initTestCase() {
        kv::sim::Config cfg;
        cfg.pinRequired = false;
        QVERIFY(startWithDevice(cfg, "PrintUredjaj=2\nPosPrinter=file:" + dir.filePath("pos.bin").toStdString() +
                                         "\nEscInit=#27#64\nEscCir=2\nEscLat=1\nPOS5880=1\nPaperWidth=80\n"
                                         "[Kasa]\nAutoStart=1\n"));
        // Drawn receipts go to a PDF file instead of a physical printer.
        QPrinter& printer = kv::gui::ReceiptPrinter(*ctx);
        printer.setOutputFormat(QPrinter::PdfFormat);
    }
    void cleanupTestCase() { stopAll(); }

    void textReceiptGoesToTheFilePrinterByteForByte() {
        signWith(0, "{00000000-0000-4000-8000-000000000001}");
        auto input = kv::print::EscPosInputFromSettings(ctx->settings.Bafer, ctx->fisk().answer().journal,
                                                        ctx->fisk().answer().verificationUrl, "R-0");
        std::string expected = kv::print::PrintESCPOS(input).raw;
        QByteArray bytes = Read(dir.filePath("pos.bin"));
        QVERIFY(!bytes.isEmpty());
        QCOMPARE(bytes, QByteArray::fromStdString(expected));
        QVERIFY(bytes.startsWith("\x1b@"));
        QVERIFY(bytes.contains("\x1d(k"));  // the QR code as printer commands
        QVERIFY(prompter->texts().empty());
    }

    void imageReceiptPrintsTheDevicesPicture() {
        QString pdf = dir.filePath("image.pdf");
        kv::gui::ReceiptPrinter(*ctx).setOutputFileName(pdf);
        signWith(1, "{00000000-0000-4000-8000-000000000002}");
        QVERIFY(!ctx->fisk().answer().receiptPngBase64.empty());
        QVERIFY(Read(pdf).startsWith("%PDF"));
    }

    void reportReceiptPrintsTheLayout() {
        QString pdf = dir.filePath("report.pdf");
        kv::gui::ReceiptPrinter(*ctx).setOutputFileName(pdf);
        signWith(2, "{00000000-0000-4000-8000-000000000003}");
        QByteArray bytes = Read(pdf);
        QVERIFY(bytes.startsWith("%PDF"));
        QVERIFY(prompter->texts().empty());
    }

    void printerPageShowsItsSetup() {
        QTest::mouseClick(child<QToolButton>("TbSetup"), Qt::LeftButton);
        child<QTabWidget>("PgCtrSetup")->setCurrentWidget(child<QWidget>("TabSheet9"));
        QTest::mouseClick(child<QPushButton>("Button13"), Qt::LeftButton);
        QStringList lines = child<QPlainTextEdit>("MemoPrintSetup")->toPlainText().split('\n');
        QVERIFY(lines.size() >= 4);
        QCOMPARE(lines[1].split(' ').size(), 2);
        SaveShot(win.get(), "setup_TabSheet9_printer");

        // "Odustani" takes back a choice that hid the POS setup, and the page follows it.
        auto* pos = child<QGroupBox>("GBSetupPOS");
        QVERIFY(pos->isVisible());
        child<QGroupBox>("RGPrintUredjaj")->findChildren<QAbstractButton*>().first()->click();
        QVERIFY(!pos->isVisible());
        QTest::mouseClick(child<QPushButton>("BtOdustani"), Qt::LeftButton);
        QCOMPARE(ctx->settings.Bafer.integer("PrintUredjaj"), int64_t{2});
        QVERIFY(pos->isVisible());
    }
};

QTEST_MAIN(PrintRoadTest)
#include "test_print_road.moc"

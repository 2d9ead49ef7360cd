// The device road through the windows, against the simulated device on loopback.
#include <QAbstractButton>
#include <QAction>
#include <QCheckBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QComboBox>
#include <QTabWidget>
#include <QTableView>
#include <QTemporaryDir>
#include <QToolButton>
#include <QElapsedTimer>
#include <QTimer>
#include <QDialog>
#include <QtTest>
#include <fstream>
#include <sstream>
#include <memory>

#include "FiscalSimulator.h"
#include "app/AppContext.h"
#include "app/uGlavnaFisk.h"
#include "gui_support.h"
#include "util/ScriptedPrompter.h"
#include "util/uProgress.h"

using kv::gui::TGlavnaFisk;

namespace {
using kv::test::SaveShot;
}  // namespace

class DeviceWindowTest : public QObject, kv::test::DeviceWindowFixture {
    Q_OBJECT


    void type(const char* edit, const QString& text) {
        auto* e = child<QLineEdit>(edit);
        e->setFocus();
        QTest::keyClicks(e, text);
    }

    // Fills one row of a grid the way the keyboard does: insert, then cells.
    void gridRow(const char* grid, const QStringList& cells) {
        auto* view = child<QTableView>(grid);
        view->setFocus();
        child<QAction>("AcInsert")->trigger();
        int row = view->model()->rowCount() - 1;
        for (int c = 0; c < cells.size(); ++c)
            if (!cells[c].isNull()) QVERIFY(view->model()->setData(view->model()->index(row, c), cells[c]));
    }

private slots:
    void initTestCase() {
        kv::sim::Config cfg;
        cfg.token = "tok";
        cfg.pin = "1234";
        cfg.pinRequired = true;
        QVERIFY(startWithDevice(cfg, "Token=tok\nPIN=1234\nRenderPrint=1\n[Kasa]\nAutoStart=1\n"));
    }
    void cleanupTestCase() { stopAll(); }

    void handTypedInvoiceIsSigned() {
        QTest::mouseClick(child<QToolButton>("TbPoslano"), Qt::LeftButton);
        type("DBinvoiceNumber", "R-77");
        for (const char* group : {"RGInvoiceType", "RGTransactionType"})
            win->findChild<QWidget*>(group)->findChildren<QAbstractButton*>().first()->click();
        QTest::mouseClick(child<QPushButton>("BtNewId"), Qt::LeftButton);
        QTest::mouseClick(child<QPushButton>("Button3"), Qt::LeftButton);
        QVERIFY(child<QLineEdit>("DBRequestId")->text().startsWith("{"));
        QVERIFY(child<QLineEdit>("DBdateAndTimeOfIssue")->text().endsWith("Z"));
        child<QAction>("AcPost")->trigger();
        QVERIFY(!ctx->invoice.Invoice.isEditing());

        gridRow("DBGItems", {"3870000000001", "Kafa", "2", "E", "2.50", "5.00"});
        gridRow("DBGItems", {QString(), "Sok", "1", "K", "3", "3"});
        gridRow("DBGPayment", {"10", "1"});
        QCOMPARE(child<QLabel>("LblPovrat")->text().remove('.').remove(','), QString("200"));

        QTest::mouseClick(child<QPushButton>("BtFiskalizuj"), Qt::LeftButton);
        QVERIFY2(child<QLabel>("LblFiskGreska")->text().isEmpty(),
                 qPrintable(child<QPlainTextEdit>("MemoText")->toPlainText() + "\n" +
                            child<QPlainTextEdit>("MemoRequest")->toPlainText()));
        QVERIFY(!child<QLineEdit>("DBPFRnumber")->text().isEmpty());
        QVERIFY(!child<QLineEdit>("DBPFRvrijeme")->text().isEmpty());
        QCOMPARE(child<QTableView>("DBGTaxItems")->model()->rowCount(), 2);
        QCOMPARE(sim.timesSigned(kv::device::DeviceClient::ReqID(ctx->invoice.Invoice.field("RequestId").asString())), 1);
        QVERIFY(child<QPlainTextEdit>("MemoJournal")->toPlainText().contains(QString::fromUtf8("ФИСКАЛНИ РАЧУН")));
        QVERIFY(!child<QPlainTextEdit>("MemoPng")->toPlainText().isEmpty());
        QVERIFY(child<QPlainTextEdit>("MemoRequest")->toPlainText().contains("\"invoiceRequest\""));
        SaveShot(win.get(), "device_TabRacun_signed");

        QTest::mouseClick(child<QToolButton>("TbSetup"), Qt::LeftButton);
        child<QTabWidget>("PgCtrSetup")->setCurrentWidget(child<QWidget>("TabSheet6"));
        child<QTabWidget>("PgCtrLog")->setCurrentIndex(2);
        SaveShot(win.get(), "device_TabSheet6_logjson");
        QTest::mouseClick(child<QCheckBox>("CBTest"), Qt::LeftButton);
        QVERIFY(child<QTabWidget>("PgCtrSetup")->isTabVisible(3));
        child<QTabWidget>("PgCtrSetup")->setCurrentWidget(child<QWidget>("TabSheet2"));
        QVERIFY2(!child<QLabel>("ImgReceipt")->pixmap().isNull(), "the decoded receipt picture is shown");
        SaveShot(win.get(), "device_TabSheet2_printtools");
        QTest::mouseClick(child<QCheckBox>("CBTest"), Qt::LeftButton);
        QVERIFY(!child<QTabWidget>("PgCtrSetup")->isTabVisible(3));
    }

    void consoleAndBrowser() {
        QTest::mouseClick(child<QToolButton>("TbSetup"), Qt::LeftButton);
        child<QTabWidget>("PgCtrSetup")->setCurrentWidget(child<QWidget>("TabSheet6"));
        auto* cmd = child<QComboBox>("CBCommand");
        cmd->setCurrentText("status");
        QTest::mouseClick(child<QPushButton>("Button2"), Qt::LeftButton);
        QVERIFY(child<QLineEdit>("EdComm")->text().endsWith("/api/status"));
        QVERIFY(child<QPlainTextEdit>("MemoStatus")->toPlainText().endsWith("200"));
        auto* root = child<QComboBox>("CBRootElement");
        QVERIFY(root->findText("isPinRequired") > 0);

        // An invoice answer walked down to its tax items, and back.
        ctx->invoice.Invoice.edit();
        ctx->invoice.Invoice.field("invoiceType").setValue(kv::Value(int64_t{9}));
        ctx->invoice.Invoice.post();
        QTest::mouseClick(child<QPushButton>("BtFiskalizuj"), Qt::LeftButton);
        QCOMPARE(child<QLabel>("LblFiskGreska")->text(), QString());
        child<QTabWidget>("PgCtrLog")->setCurrentIndex(3);
        root->setEditText("taxItems");
        QTest::mouseClick(child<QPushButton>("SetRootElement"), Qt::LeftButton);
        QCOMPARE(child<QTableView>("DBGResponse")->model()->rowCount(), 2);
        SaveShot(win.get(), "device_TabSheet6_logtabela");
        QTest::mouseClick(child<QPushButton>("BackRootElement"), Qt::LeftButton);
        QCOMPARE(child<QTableView>("DBGResponse")->model()->rowCount(), 1);
    }

    void f2InTheJsonLogLoadsAPastedAnswer() {
        ctx->invoice.Invoice.edit();
        ctx->invoice.Invoice.field("invoiceType").setValue(kv::Value(int64_t{8}));
        ctx->invoice.Invoice.post();
        QTest::mouseClick(child<QToolButton>("TbSetup"), Qt::LeftButton);
        child<QTabWidget>("PgCtrSetup")->setCurrentWidget(child<QWidget>("TabSheet6"));
        child<QTabWidget>("PgCtrLog")->setCurrentIndex(2);
        auto* json = child<QPlainTextEdit>("MemoJSON");
        json->setPlainText(R"({"invoiceResponse":{"journal":"PASTED\r\nJOURNAL","verificationUrl":"https://v/1"},)"
                           R"("receiptImageBase64":"QUJD"})");
        json->setFocus();
        QTest::keyClick(json, Qt::Key_F2);
        QCOMPARE(child<QPlainTextEdit>("MemoJournal")->toPlainText(), QString("PASTED\nJOURNAL"));
        QCOMPARE(child<QPlainTextEdit>("MemoURL")->toPlainText(), QString("https://v/1"));
        QCOMPARE(child<QPlainTextEdit>("MemoPng")->toPlainText(), QString("QUJD"));
    }

    // A slow device does not freeze the window: while the invoice waits three
    // seconds for its answer, timers fire, the window repaints and shows what
    // it waits for; then the answer is shown as usual.
    void theWindowLivesWhileTheDeviceIsSlow() {
        QTest::mouseClick(child<QToolButton>("TbPoslano"), Qt::LeftButton);
        ctx->invoice.Invoice.edit();
        ctx->invoice.Invoice.field("invoiceType").setValue(kv::Value(int64_t{0}));
        ctx->invoice.Invoice.field("invoiceNumber").setValue("R-SLOW-1");
        ctx->invoice.NewId();
        ctx->invoice.Invoice.post();
        sim.injectFault("POST", "/api/invoices", kv::sim::Fault::delayed(std::chrono::milliseconds(3000)));

        struct PaintCounter : QObject {
            int paints = 0;
            bool eventFilter(QObject*, QEvent* e) override {
                if (e->type() == QEvent::Paint) ++paints;
                return false;
            }
        } counter;
        auto* label = child<QLabel>("LblFiskGreska");
        label->installEventFilter(&counter);
        int ticks = 0;
        bool waitingShown = false;
        QTimer tick;
        connect(&tick, &QTimer::timeout, [&] {
            ++ticks;
            label->update();
            if (auto* dialog = kv::gui::FindProgress(win.get()); dialog && !waitingShown) {
                waitingShown = dialog->isVisible();
                SaveShot(dialog, "device_waiting_for_answer");
            }
        });
        tick.start(50);
        QElapsedTimer took;
        took.start();
        QTest::mouseClick(child<QPushButton>("BtFiskalizuj"), Qt::LeftButton);
        tick.stop();
        label->removeEventFilter(&counter);

        QVERIFY(took.elapsed() >= 2500);
        QVERIFY2(ticks >= 20, qPrintable(QString("only %1 timer ticks during the wait").arg(ticks)));
        QVERIFY(counter.paints >= 10);
        QVERIFY(waitingShown);
        QCOMPARE(label->text(), QString());
        QVERIFY(!child<QLineEdit>("DBPFRnumber")->text().isEmpty());
        QVERIFY(!kv::gui::FindProgress(win.get()));
    }

    // An invoice whose request gets no answer is still there to read in
    // "Zahtjev JSON": the request is shown before it goes out.
    void theRequestIsShownBeforeItIsSent() {
        QTest::mouseClick(child<QToolButton>("TbPoslano"), Qt::LeftButton);
        ctx->invoice.Invoice.edit();
        ctx->invoice.Invoice.field("invoiceType").setValue(kv::Value(int64_t{0}));
        ctx->invoice.Invoice.field("invoiceNumber").setValue("R-LOST-1");
        ctx->invoice.NewId();
        ctx->invoice.Invoice.post();
        sim.injectFault("POST", "/api/invoices", kv::sim::Fault::drop());
        QTest::mouseClick(child<QPushButton>("BtFiskalizuj"), Qt::LeftButton);
        QCOMPARE(child<QLabel>("LblFiskGreska")->text(), QString::fromUtf8("Greška u računu!"));
        QVERIFY(child<QPlainTextEdit>("MemoRequest")->toPlainText().contains("R-LOST-1"));
        prompter->clearLog();
    }

    void failureShowsItsText() {
        int port = sim.port();
        sim.stop();  // nobody listens: the connection is refused
        QTest::mouseClick(child<QToolButton>("TbPoslano"), Qt::LeftButton);
        QTest::mouseClick(child<QPushButton>("BtFiskalizuj"), Qt::LeftButton);
        QCOMPARE(child<QLabel>("LblFiskGreska")->text(), QString::fromUtf8("Uredjaj se ne odaziva!"));
        QCOMPARE(sim.start(port), port);
    }
};

QTEST_MAIN(DeviceWindowTest)
#include "test_device_window.moc"

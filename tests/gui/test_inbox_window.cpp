// The input folder on the setup page: polling, "Start"/"Stop", the queue box
// and the load button, against the simulated device.
#include <QAbstractButton>
#include <QDir>
#include <QGroupBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTableView>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolButton>
#include <QtTest>
#include <fstream>
#include <sstream>
#include <memory>

#include "FiscalSimulator.h"
#include "app/AppContext.h"
#include "app/uGlavnaFisk.h"
#include "platform/Platform.h"
#include "gui_support.h"
#include "util/ScriptedPrompter.h"

using kv::gui::TGlavnaFisk;

namespace {
using kv::test::SaveShot;

void Drop(const QString& folder, const QString& id) {
    std::ofstream((folder + "/" + id + ".kvr").toStdString(), std::ios::binary)
        << "Invoice#0#invoiceType#0\r\nInvoice#0#transactionType#0\r\nInvoice#0#RequestId#" << id.toStdString()
        // "Čaj #1" in windows-1250, quoted because of the "#".
        << "\r\nItems#1#name#\"\xC8" "aj #1\"\r\nItems#1#quantity#1\r\nItems#1#unitPrice#3,20\r\nItems#1#totalAmount#3,20\r\n"
           "Items#1#labels#E\r\nPayment#1#amount#5\r\nPayment#1#paymentType#1\r\n";
}
}  // namespace

class InboxWindowTest : public QObject, kv::test::DeviceWindowFixture {
    Q_OBJECT

    QString in, out;

    QAbstractButton* timerItem(int i) { return win->findChild<QGroupBox*>("RGTimer")->findChildren<QAbstractButton*>()[i]; }

private slots:
    void initTestCase() {
        kv::platform::SetDecimalSeparator(',');
        kv::sim::Config cfg;
        cfg.pinRequired = false;
        cfg.renderImages = false;
        in = dir.filePath("ulaz");
        out = dir.filePath("izlaz");
        QDir().mkpath(in);
        QDir().mkpath(out);
        QVERIFY(startWithDevice(cfg, "InputFolder=" + in.toStdString() + "\nOutputFolder=" + out.toStdString() +
                                         "\nScanTime=50\nRenderPrint=0\n[Kasa]\nAutoStart=1\n"));
        QTest::mouseClick(child<QToolButton>("TbSetup"), Qt::LeftButton);
        child<QTabWidget>("PgCtrSetup")->setCurrentWidget(child<QWidget>("TabSheet8"));
    }
    void cleanupTestCase() { stopAll(); }

    void pollingAnswersDroppedFiles() {
        QVERIFY(timerItem(0)->isChecked());
        QVERIFY(child<QTimer>("Timer1")->isActive());
        QCOMPARE(child<QTimer>("Timer1")->interval(), 50);
        Drop(in, "P1");
        Drop(in, "P2");
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(out + "/P1.kvr") && QFile::exists(out + "/P2.kvr"), 5000);
        QTRY_VERIFY(!QFile::exists(in + "/P1.kvr") && !QFile::exists(in + "/P2.kvr"));
        QCOMPARE(child<QPlainTextEdit>("Memo1")->toPlainText(), QString());
        QVERIFY(timerItem(0)->isChecked());
    }

    void stopKeepsFilesAndTheLoadButtonLoadsWithoutSigning() {
        timerItem(1)->click();
        QVERIFY(!child<QTimer>("Timer1")->isActive());
        Drop(in, "S1");
        QTest::qWait(200);
        QVERIFY(QFile::exists(in + "/S1.kvr"));
        QCOMPARE(child<QPlainTextEdit>("Memo1")->toPlainText(), QString());

        child<QPlainTextEdit>("Memo1")->setPlainText("S1.kvr");
        QTest::mouseClick(child<QPushButton>("BtPreuzmiPodatke"), Qt::LeftButton);
        QCOMPARE(child<QTableView>("DBGrid4")->model()->rowCount(), 10);
        QCOMPARE(ctx->invoice.Items.field("name").asString(), std::string("Čaj #1"));
        QCOMPARE(sim.timesSigned("S1"), 0);
        QVERIFY(timerItem(1)->isChecked());
        SaveShot(win.get(), "inbox_TabSheet8_loaded");

        timerItem(0)->click();  // "Start" resumes at line 0
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(out + "/S1.kvr"), 5000);
        QCOMPARE(sim.timesSigned("S1"), 1);
    }

    void aBadFileStopsPollingAndShowsTheError() {
        std::ofstream((in + "/B1.kvr").toStdString()) << "Payment#1#paymentType#abc\n";
        QTRY_VERIFY_WITH_TIMEOUT(!prompter->texts().empty(), 5000);
        QVERIFY(QString::fromStdString(prompter->texts().back()).contains("paymentType"));
        QVERIFY(timerItem(1)->isChecked());
        QVERIFY(QFile::exists(in + "/B1.kvr"));
        QCOMPARE(child<QPlainTextEdit>("Memo1")->toPlainText(), QString("B1.kvr"));
    }

    // ScanTime 0 is no timed polling, and a timer of 0 never runs wild: the
    // folder's file events wake the watcher.
    void fileEventsWakeTheWatcherWithoutAPoll() {
        QFile::remove(in + "/B1.kvr");
        child<QPlainTextEdit>("Memo1")->setPlainText("");
        prompter->clearLog();
        ctx->settings.Bafer.setInt("ScanTime", 0);
        ctx->settings.Bafer.post();
        timerItem(0)->click();
        QVERIFY(!child<QTimer>("Timer1")->isActive());
        Drop(in, "E1");
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(out + "/E1.kvr"), 5000);
        QVERIFY(!child<QTimer>("Timer1")->isActive());
        QCOMPARE(sim.timesSigned("E1"), 1);
    }
};

QTEST_MAIN(InboxWindowTest)
#include "test_inbox_window.moc"

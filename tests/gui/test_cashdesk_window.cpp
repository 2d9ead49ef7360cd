// The cash desk ("Blagajna"), the device report ("Izvještaj") and the device
// search on the settings tab, driven through the window against the
// simulated device on loopback.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QCheckBox>
#include <QDateEdit>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTabWidget>
#include <QTableView>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QToolButton>
#include <QtTest>
#include <fstream>
#include <sstream>

#include "FiscalSimulator.h"
#include "app/uScanIP.h"
#include "gui_support.h"
#include "platform/Platform.h"

using kv::test::SaveShot;

namespace {

const char* const kSale = R"({"invoiceRequest":{
  "dateAndTimeOfIssue":"2024-03-12T06:47:30Z","cashier":"ana","invoiceType":"0","transactionType":"0",
  "invoiceNumber":"R-1","payment":[{"amount":"100","paymentType":"1"}],
  "items":[{"name":"Kafa","quantity":"2","labels":["Е"],"unitPrice":"29.25","totalAmount":"58.5"},
           {"name":"Hljeb","quantity":"3","labels":["К"],"unitPrice":"1.2","totalAmount":"3.6"}]}})";
const char* const kRefund = R"({"invoiceRequest":{
  "dateAndTimeOfIssue":"2024-03-12T07:00:00Z","cashier":"ana","invoiceType":"0","transactionType":"1",
  "invoiceNumber":"R-2","payment":[{"amount":"3.6","paymentType":"1"}],
  "items":[{"name":"Hljeb","quantity":"3","labels":["К"],"unitPrice":"1.2","totalAmount":"3.6"}]}})";

}  // namespace

class CashDeskWindowTest : public QObject, kv::test::DeviceWindowFixture {
    Q_OBJECT

    std::string lastMessage() const {
        const auto& log = w.prompter->log();
        return log.empty() ? std::string() : log.back().text;
    }
    kv::sim::RecordedRequest lastRequest() const { return sim.requests().back(); }
    void click(const char* button) { QTest::mouseClick(child<QPushButton>(button), Qt::LeftButton); }
    void setPort(int port) {
        auto& b = w.ctx->settings.Bafer;
        b.edit();
        b.setText("Port", std::to_string(port));
        b.post();
    }

private slots:
    void initTestCase() {
        kv::platform::SetDecimalSeparator(',');
        QVERIFY(startWithDevice(kv::test::QuietDevice(), "Token=tok\nPIN=1234\n"));
        // Two invoices of today on the device: a sale and a refund.
        auto& c = w.ctx->client1();
        QVERIFY(c.CmdInvoice("{11111111-1111-1111-1111-111111111111}", kSale));
        QVERIFY(c.CmdInvoice("{22222222-2222-2222-2222-222222222222}", kRefund));
        QCOMPARE(sim.signedInvoices().size(), std::size_t{2});
    }
    void cleanupTestCase() { stopAll(); }

    void depositAndWithdrawal() {
        QTest::mouseClick(child<QToolButton>("ToolButton6"), Qt::LeftButton);
        const std::int64_t before = sim.balance();
        auto* amount = child<QLineEdit>("DBDepozit");
        amount->setFocus();
        QTest::keyClicks(amount, "150");
        click("BtUlazDepozita");
        QCOMPARE(lastMessage(), std::string("Ok"));
        QCOMPARE(lastRequest().path, std::string("/api/financial/deposit"));
        QCOMPARE(lastRequest().body, std::string(R"({"amount":"150.00"})"));
        QCOMPARE(sim.balance() - before, std::int64_t{150'0000});
        QCOMPARE(amount->text(), QString("150,00"));  // shown in the shop's format

        amount->setText("100000");
        click("BtIzlazDepozita");
        QCOMPARE(lastMessage(), std::string("Error\nНема довољно готовине у благајни"));
        QCOMPARE(child<QLabel>("LblBlagajna")->text(), QString::fromUtf8("Error\nНема довољно готовине у благајни"));
        QCOMPARE(sim.balance() - before, std::int64_t{150'0000});
        // The log box carries the device's words too.
        QVERIFY(child<QPlainTextEdit>("MemoStatus")->toPlainText().endsWith(QString::fromUtf8("у благајни")));
    }

    void cashStateFillsTheGridsAndShowsTheSecondSetsLog() {
        QTest::mouseClick(child<QToolButton>("ToolButton6"), Qt::LeftButton);
        click("BtStanjeBlagajne");
        QCOMPARE(lastMessage(), std::string("Ok"));
        const auto req = lastRequest();
        QCOMPARE(req.method, std::string("GET"));
        const std::string today = QDate::currentDate().toString(Qt::ISODate).toStdString();
        QCOMPARE(req.target, "/api/financial/summary?fromDate=" + today + "&toDate=" + today);

        auto* summary = child<QTableView>("DBGridBlagajna");
        QCOMPARE(summary->model()->rowCount(), 1);
        QVERIFY(summary->model()->columnCount() >= 5);
        QCOMPARE(child<QTableView>("DBGridTax")->model()->rowCount(), 2);      // Е and К
        QCOMPARE(child<QTableView>("DBGridCashier")->model()->rowCount(), 1);  // ana
        QCOMPARE(child<QTableView>("DBGridArticle")->model()->rowCount(), 2);
        // The logs show this request of the second set, not the first set's last one.
        QVERIFY(child<QPlainTextEdit>("MemoText")->toPlainText().contains("totalByTax"));
        QVERIFY(child<QLineEdit>("EdComm")->text().contains("/api/financial/summary?fromDate="));
        QVERIFY(child<QPlainTextEdit>("MemoRequest")->toPlainText().contains("\"print\": \"false\""));
        child<QTabWidget>("PgPresjekDetalji")->setCurrentIndex(0);
        SaveShot(w.win.get(), "cashdesk_TabBlagajna");
    }

    void printsByTabAndSinceTheLastCut() {
        auto* tabs = child<QTabWidget>("PgPresjekDetalji");
        QCOMPARE(tabs->tabText(4), QString("Advance"));
        tabs->setCurrentIndex(4);
        child<QCheckBox>("CBOdZadnjegPresjeka")->setChecked(true);
        click("BtPrintDetalja");
        QCOMPARE(lastMessage(), std::string("Ok"));
        QCOMPARE(lastRequest().path, std::string("/api/financial/report/advance-receipts"));
        QCOMPARE(lastRequest().body, std::string(R"({"print":"true","status":"Open"})"));

        click("BtPrintPresjeka");
        QCOMPARE(lastRequest().path, std::string("/api/financial/report/summary"));
        QCOMPARE(lastRequest().body, std::string(R"({"print":"true"})"));
        child<QCheckBox>("CBOdZadnjegPresjeka")->setChecked(false);

        // A device that fails the print says "Error".
        sim.injectFault("POST", "/api/financial/report/summaryByTax", kv::sim::Fault::httpStatus(500));
        tabs->setCurrentIndex(0);
        click("BtPrintDetalja");
        QCOMPARE(lastMessage(), std::string("Error\nГрешка уређаја"));
    }

    void zeroingAsksFirst() {
        const auto sent = sim.requests().size();
        w.prompter->answerConfirm(false);
        click("BtNuliranje");
        QCOMPARE(lastMessage(), std::string("Nulirati promet?"));
        QCOMPARE(sim.requests().size(), sent);

        w.prompter->answerConfirm(true);
        click("BtNuliranje");
        QCOMPARE(lastMessage(), std::string("Ok"));
        QCOMPARE(lastRequest().method, std::string("DELETE"));
        click("BtStanjeBlagajne");
        QCOMPARE(child<QTableView>("DBGridTax")->model()->rowCount(), 0);
    }

    void invoiceListAndRecapitulation() {
        QTest::mouseClick(child<QToolButton>("ToolButton4"), Qt::LeftButton);
        // The dates of both tabs are one record.
        const QDate today = QDate::currentDate();
        child<QDateEdit>("DBOdDatuma")->setDate(today.addDays(-1));
        QCOMPARE(child<QDateEdit>("DBOdDatumaIzvjestaj")->date(), today.addDays(-1));
        for (bool wordsInJson : {false, true}) {
            auto cfg = sim.config();
            cfg.listTypeWords = wordsInJson;
            cfg.listAsJsonString = wordsInJson;
            sim.setConfig(cfg);
            click("BtObradiIzvjestaj");
            QCOMPARE(lastRequest().path, std::string("/api/invoices/search"));
            auto* podaci = child<QTableWidget>("DBGPodaci");
            QCOMPARE(podaci->rowCount(), 2);
            QCOMPARE(podaci->item(1, 2)->text(), QString("1"));  // the refund
            QCOMPARE(podaci->item(0, 4)->text(), today.toString("dd.MM.yyyy"));
            auto* recap = child<QTableWidget>("DBGRekapitulacija");
            QCOMPARE(recap->rowCount(), 2);  // the day, then the total
            QCOMPARE(recap->item(0, 1)->text(), QString("Promet"));
            QCOMPARE(recap->item(0, 2)->text(), QString("58,50"));  // 62.10 sold, 3.60 refunded
            QCOMPARE(recap->item(1, 0)->text(), QString("Ukupno"));
        }
        QVERIFY(child<QLabel>("LblObradi")->text().startsWith("Ok"));
        SaveShot(w.win.get(), "cashdesk_TabReport");
    }

    void deviceSearchFindsTheDeviceAndCancelStops() {
        QTest::mouseClick(child<QToolButton>("TbSetup"), Qt::LeftButton);
        child<QTabWidget>("PgCtrSetup")->setCurrentWidget(child<QWidget>("TabSheet6"));
        auto* scan = w.win->findChild<kv::gui::TScanIP*>("ScanIP");
        QVERIFY(scan);
        scan->setNetworks({"127.0.0."});
        kv::sim::FiscalSimulator other(sim.config());
        const int port = other.start(0, "127.0.0.37");
        const int oldPort = std::stoi(w.ctx->settings.Bafer.text("Port"));
        setPort(port);

        // A host at .5 holds the connection: the search waits there until cancelled.
        const int hang = kv::test::SilentListener(5, port);
        QVERIFY(hang >= 0);
        const auto before = w.prompter->log().size();
        scan->setRequestTimeout(std::chrono::seconds(30));
        click("BtScanIP");
        auto* cancel = child<QPushButton>("BtCancelScan");
        QVERIFY(cancel->isVisible() && cancel->isEnabled());
        QVERIFY(child<QProgressBar>("ProgressBar1")->isVisible());
        QTRY_COMPARE(child<QLabel>("LbAdresa")->text(), QString("127.0.0.5"));
        SaveShot(w.win.get(), "cashdesk_scan_running");
        click("BtCancelScan");
        QTRY_VERIFY_WITH_TIMEOUT(!scan->scanning(), 1000);
        QTRY_VERIFY(!cancel->isVisible());
        QVERIFY(!child<QProgressBar>("ProgressBar1")->isVisible());
        QCOMPARE(w.prompter->log().size(), before);  // no message
        QCOMPARE(w.ctx->settings.Bafer.text("BaseURL"), std::string("http://127.0.0.1"));
        ::close(hang);

        scan->setRequestTimeout(std::chrono::milliseconds(1500));
        click("BtScanIP");
        QTRY_VERIFY_WITH_TIMEOUT(!scan->scanning() && !cancel->isVisible(), 5000);
        QCOMPARE(lastMessage(), std::string("Adresa uredjaja je:127.0.0.37"));
        QCOMPARE(w.ctx->settings.Bafer.text("BaseURL"), std::string("http://127.0.0.37"));
        QCOMPARE(w.ctx->settings.Bafer.text("Port"), std::to_string(port));  // left as it was
        std::ifstream in(dir.filePath("kovira.ini").toStdString());
        std::stringstream file;
        file << in.rdbuf();
        QVERIFY(file.str().find("BaseURL=http://127.0.0.37") != std::string::npos);

        other.stop();
        click("BtScanIP");
        QTRY_VERIFY_WITH_TIMEOUT(!scan->scanning() && !cancel->isVisible(), 5000);
        QCOMPARE(lastMessage(),
                 std::string("Adresa uredjaja nepoznata!\rProvjerite da li je uredjaj uključen i da li je broj porta "
                             "ispravan!"));

        auto& b = w.ctx->settings.Bafer;
        b.edit();
        b.setText("BaseURL", "http://127.0.0.1");
        b.post();
        setPort(oldPort);
    }
};

QTEST_MAIN(CashDeskWindowTest)
#include "test_cashdesk_window.moc"

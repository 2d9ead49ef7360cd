// Selling on the "Računi" page with the keyboard alone, signed by the
// simulated device on loopback.
#include <QApplication>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QTableView>
#include <QToolButton>
#include <QtTest>

#include "FiscalSimulator.h"
#include "device/DeviceClient.h"
#include "gui_support.h"
#include "platform/Platform.h"
#include "register/DemoData.h"
#include "register/InvoiceEntry.h"
#include "register/uDMGlavni.h"
#include "register/uRacuni.h"
#include "util/uProgress.h"

using namespace kv::test;

class RegisterSellingTest : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> dir;
    std::unique_ptr<kv::sim::FiscalSimulator> sim;
    Window w;

    void start() {
        kv::platform::SetDecimalSeparator(',');
        dir = std::make_unique<QTemporaryDir>();
        sim = std::make_unique<kv::sim::FiscalSimulator>(QuietDevice());
        const int port = sim->start(0);
        {
            kv::reg::TDMGlavni db(dir->filePath("Kovira.sdb").toStdString());
            QVERIFY(kv::reg::LoadDemoData(db));
        }
        std::string ini = DeviceSettings(port) + "Token=tok\nPIN=1234\nPrintUredjaj=0\nRenderPrint=0\n"
                          "[Kasa]\nAutoStart=1\nBarkod=1\nSifra=1\nNaziv=1\nFilterNaziv=1\nZalihe=1\nNacPl=0\n";
        QVERIFY(w.start(*dir, ini));
        w.win->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(w.win.get()));
    }

    // A key to whatever has the focus, as the keyboard would send it.
    void key(Qt::Key k, Qt::KeyboardModifiers m = Qt::NoModifier) {
        if (QApplication::activeWindow() != w.win.get()) {  // back from a dialog
            w.win->activateWindow();
            QVERIFY(QTest::qWaitForWindowActive(w.win.get()));
        }
        QWidget* to = QApplication::focusWidget();
        QTest::keyClick(to ? to : w.win.get(), k, m);
    }
    void type(const char* text) { QTest::keyClicks(QApplication::focusWidget(), QString::fromUtf8(text)); }
    QString focused() { return QApplication::focusWidget() ? QApplication::focusWidget()->objectName() : QString(); }
    kv::reg::InvoiceEntry& entry() { return *w.win->findChild<kv::gui::TRacuni*>()->entry(); }
    QString text(const char* name) { return w.child<QLineEdit>(name)->text(); }
    std::string lastBody() {
        auto reqs = sim->requests();
        for (auto r = reqs.rbegin(); r != reqs.rend(); ++r)
            if (r->method == "POST" && r->path == "/api/invoices") return r->body;
        return {};
    }

    // One sale typed from F2 to the fiscal number: water x 2 by barcode,
    // apples weighed by the scale's code, confirmed with F3 and signed.
    void sellByKeyboard() {
        key(Qt::Key_F2);
        QCOMPARE(focused(), QString("LEBarkod"));
        QCOMPARE(text("RacunStatus"), QString::fromUtf8("Otvoren"));
        type("3870000000011+");  // the "+" of a scanner suffix is not typed
        key(Qt::Key_Return);
        QCOMPARE(focused(), QString("DBKol"));
        type("2");
        key(Qt::Key_Return);
        QCOMPARE(focused(), QString("DBCijena"));
        key(Qt::Key_Return);
        QCOMPARE(focused(), QString("DBIznos"));
        QCOMPARE(text("DBIznos"), QString("2,40"));
        key(Qt::Key_Return);
        QCOMPARE(focused(), QString("LEBarkod"));
        type("2100001012503");
        key(Qt::Key_Return);
        QCOMPARE(text("DBKol"), QString("1,25"));
        for (int i = 0; i < 3; ++i) key(Qt::Key_Return);
        QCOMPARE(w.child<QLabel>("DBUkupnoRac")->text(), QString("5,28"));
        QCOMPARE(entry().lines().size(), size_t(3));  // the third is the next line, being typed
        key(Qt::Key_F8);
        QCOMPARE(focused(), QString("DBPlaceno"));
        type("10");
        key(Qt::Key_Return);
        QCOMPARE(text("EdKusur"), QString("4,72"));
        w.prompter->answerConfirm(true).answerConfirm(true);  // "Potvrdi račun?", "Štampati račun?"
        key(Qt::Key_F3);
        QTRY_VERIFY(!text("DBPFRBROJ").isEmpty());
        QCOMPARE(text("RacunStatus"), QString::fromUtf8("Potvrđen"));
        QCOMPARE(entry().lines().size(), size_t(2));
        QCOMPARE(sim->timesSigned(kv::device::DeviceClient::ReqID(entry().header()->text("ID"))), 1);
    }

private slots:
    void cleanup() {
        w.stop();
        sim.reset();
        dir.reset();
    }

    void wholeSaleWithTheKeyboardAlone() {
        start();
        sellByKeyboard();
        QVERIFY(lastBody().find("\"amount\":\"5.28\"") != std::string::npos);
        SaveShot(w.win.get(), "kasa_TabRacuni_sale");
        // Signed once: F9 again refuses.
        key(Qt::Key_F9);
        QCOMPARE(QString::fromStdString(w.prompter->texts().back()), QString::fromUtf8("Račun je već fiskalizovan!"));
    }

    void refundLinkedToItsInvoice() {
        start();
        sellByKeyboard();
        const QString number = text("DBPFRBROJ"), time = text("DBPFRTIME");
        key(Qt::Key_F2, Qt::ShiftModifier);
        QCOMPARE(text("RacunStorno"), QString("Storno"));
        type("3870000000011");
        key(Qt::Key_Return);
        for (int i = 0; i < 3; ++i) key(Qt::Key_Return);
        w.prompter->clearLog();
        key(Qt::Key_F3);
        QCOMPARE(QString::fromStdString(w.prompter->texts().back()),
                 QString::fromUtf8("Storno račun mora imati referentni broj i vrijeme!"));
        // The referent of the sale, typed into the header.
        w.child<QLineEdit>("DBRefDN")->setFocus();
        type(number.toUtf8().constData());
        key(Qt::Key_Tab);
        w.child<QLineEdit>("DBRefDT")->setFocus();
        type(time.toUtf8().constData());
        key(Qt::Key_Tab);
        w.prompter->answerConfirm(true).answerConfirm(true);
        key(Qt::Key_F3);
        QTRY_VERIFY(!text("DBPFRBROJ").isEmpty());
        const std::string body = lastBody();
        QVERIFY(body.find("\"transactionType\":\"1\"") != std::string::npos);
        QVERIFY(body.find("\"referentDocumentNumber\":\"" + number.toStdString() + "\"") != std::string::npos);
        SaveShot(w.win.get(), "kasa_TabRacuni_refund");
    }

    void failureShownInTheProgressDialog() {
        start();
        key(Qt::Key_F2);
        type("3870000000042");
        key(Qt::Key_Return);
        for (int i = 0; i < 3; ++i) key(Qt::Key_Return);
        sim->injectFault("POST", "/api/invoices", kv::sim::Fault::httpStatus(400, "{}"), 1);
        w.prompter->answerConfirm(true).answerConfirm(true);
        key(Qt::Key_F3);
        QDialog* dlg = kv::gui::FindProgress(w.win.get());
        QVERIFY(dlg);
        bool shown = false;
        for (auto* l : dlg->findChildren<QLabel*>())
            shown = shown || l->text() == QString::fromUtf8("Desila se greška u fiskalizaciji!");
        QVERIFY(shown);
        SaveShot(dlg, "kasa_TabRacuni_failure");
        QVERIFY(text("DBPFRBROJ").isEmpty());
        kv::gui::EndProgress(w.win.get(), false);
    }

    void filterAndKeysStayOnThePage() {
        start();
        key(Qt::Key_F2);
        auto* filter = w.child<QLineEdit>("LEOpis");
        filter->setFocus();
        type("MLIJ");
        auto* grid = w.child<QTableView>("DBGridArtikli");
        QCOMPARE(grid->model()->rowCount(), 3);  // milk has three barcodes
        key(Qt::Key_Down);
        QCOMPARE(filter->text(), QString("MLIJ"));
        QCOMPARE(grid->model()->rowCount(), 3);
        key(Qt::Key_Return);
        QCOMPARE(focused(), QString("DBOpis"));
        QCOMPARE(text("DBOpis"), QString::fromUtf8("Mlijeko 2,8 % 1 l"));
        QVERIFY(filter->text().isEmpty());  // leaving the filter clears it
        QVERIFY(grid->model()->rowCount() > 3);
        QCOMPARE(text("EdStatus"), QString());

        // Enter walks the work date, the cashier box and the invoice header.
        w.child<QWidget>("DatumRada")->setFocus();
        key(Qt::Key_Return);
        QCOMPARE(focused(), QString("DBKasir"));
        key(Qt::Key_Return);
        QCOMPARE(focused(), QString("RacunBroj"));
    }
};

QTEST_MAIN(RegisterSellingTest)
#include "test_register_selling.moc"

// The invoice page's lookup windows with the keyboard: F11 lists the year's
// invoices and links one as the referent of a refund; F5 finds a partner by
// a literal, case-sensitive part of its name and puts it on the invoice.
#include <QApplication>
#include <QLineEdit>
#include <QTableView>
#include <QtTest>

#include "gui_support.h"
#include "platform/Platform.h"
#include "register/DemoData.h"
#include "register/InvoiceEntry.h"
#include "register/uDMGlavni.h"
#include "register/uLookups.h"
#include "register/uRacuni.h"

using namespace kv::test;

class RegisterLookupsTest : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> dir;
    Window w;

    kv::gui::TRacuni* page() { return w.win->findChild<kv::gui::TRacuni*>(); }
    kv::reg::InvoiceEntry& entry() { return *page()->entry(); }
    void mainKey(Qt::Key k) {
        activate(w.win.get());
        QWidget* to = QApplication::focusWidget();
        QTest::keyClick(to ? to : w.win.get(), k);
    }
    void keyTo(QWidget* win, Qt::Key k) {
        activate(win);
        QWidget* to = QApplication::focusWidget();
        QTest::keyClick(to && to->window() == win ? to : win, k);
    }
    // The window manager's part: the window just shown is the active one.
    void activate(QWidget* win) {
        if (QApplication::activeWindow() != win) win->activateWindow();
        QTRY_COMPARE(QApplication::activeWindow(), win);
    }
    std::int64_t sale(const char* pfr) {
        entry().NewInvoice(false);
        entry().DodajSt();
        entry().BarcodeEnter("3870000000011");
        entry().SaveLine();
        w.prompter->answerConfirm(true);
        entry().ConfirmInvoice();
        kv::reg::Record h = *entry().header();
        h.set("PFRBROJ", pfr).set("PFRTIME", "2024-03-05T10:00:00.000+01:00");
        w.ctx->db()->Save(h);
        entry().Reload();
        return *h.integer("Broj");
    }

private slots:
    void init() {
        kv::platform::SetDecimalSeparator(',');
        dir = std::make_unique<QTemporaryDir>();
        {
            kv::reg::TDMGlavni db(dir->filePath("Kovira.sdb").toStdString());
            QVERIFY(kv::reg::LoadDemoData(db));
            kv::reg::Record p = kv::reg::TDMGlavni::NewRecord("Partner");
            p.set("PARTNERSIFRA", "P003").set("PARTNERNAZIV", "Most 50% \"Marina\"").set("PARTNERIJIB", "4400000000003");
            QVERIFY(db.Save(p));
        }
        QVERIFY(w.start(*dir, "[Global]\nPrintUredjaj=0\nRenderPrint=0\n[Kasa]\nAutoStart=1\nBarkod=1\nSifra=1\nNaziv=1\n"
                              "FilterNaziv=1\nZalihe=0\nNacPl=0\n"));
    }
    void cleanup() { w.stop(); }

    void invoiceListLinksTheReferentOfARefund() {
        const auto signedNo = sale("AAAA-12");
        sale("BBBB-13");
        entry().NewInvoice(true);
        entry().DodajSt();
        entry().BarcodeEnter("3870000000011");
        entry().SetQuantity(kv::Currency(-1));
        QVERIFY(entry().SaveLine());
        const auto refundNo = *entry().header()->integer("Broj");

        mainKey(Qt::Key_F11);
        auto* list = page()->spisakRacuna();
        QVERIFY(list && list->isVisible());
        activate(list);
        QCOMPARE(list->windowTitle(), QString("SpisakRacuna"));
        QCOMPARE(list->rows().size(), size_t(3));
        QCOMPARE(list->rows()[0].header.integer("Broj"), refundNo);  // newest first
        keyTo(list, Qt::Key_Down);
        keyTo(list, Qt::Key_Down);
        QCOMPARE(list->currentRow(), 2);
        QCOMPARE(list->rows()[2].header.integer("Broj"), signedNo);
        SaveShot(list, "register_invoice_list");
        keyTo(list, Qt::Key_F3);
        QVERIFY(!list->isVisible());
        QCOMPARE(QString::fromStdString(entry().header()->text("RefDN")), QString("AAAA-12"));
        QCOMPARE(QString::fromStdString(w.ctx->db()->Dokument(entry().year(), 1, refundNo)->text("RefDT")),
                 QString("2024-03-05T10:00:00.000+01:00"));

        // F2 goes to the chosen invoice; F11 only closes.
        mainKey(Qt::Key_F11);
        keyTo(list, Qt::Key_PageDown);
        keyTo(list, Qt::Key_F2);
        QVERIFY(!list->isVisible());
        QCOMPARE(entry().header()->integer("Broj"), signedNo);
        mainKey(Qt::Key_F11);
        keyTo(list, Qt::Key_F11);
        QVERIFY(!list->isVisible());
        QCOMPARE(entry().header()->integer("Broj"), signedNo);
    }

    void partnerWindowFiltersLiterallyAndLinksWithEnter() {
        const auto no = sale("CCCC-1");  // confirmed: the buyer may still be set
        mainKey(Qt::Key_F5);
        auto* win = page()->partneri();
        QVERIFY(win && win->isVisible());
        activate(win);
        QCOMPARE(win->shown().size(), size_t(3));
        auto* filter = win->findChild<QLineEdit*>("EdFilter");
        QCOMPARE(QApplication::focusWidget(), filter);
        auto names = [&] {
            QStringList out;
            for (const auto& p : win->shown()) out << QString::fromStdString(p.text("PARTNERSIFRA"));
            return out;
        };
        QTest::keyClicks(filter, "most");
        QCOMPARE(names(), QStringList());  // upper and lower case differ
        filter->clear();
        QTest::keyClicks(filter, "50%");
        QCOMPARE(names(), QStringList({"P003"}));
        filter->clear();
        QTest::keyClicks(filter, "Most");
        QCOMPARE(names(), QStringList({"P002", "P003"}));
        SaveShot(win, "register_partners");
        // Arrow keys move the list; the next change of the text leaves it as it is.
        QTest::keyClick(filter, Qt::Key_Up);
        QCOMPARE(QString::fromStdString(win->current()->text("PARTNERSIFRA")), QString("P002"));
        QTest::keyClick(filter, Qt::Key_Down);
        QTest::keyClicks(filter, "x");
        QCOMPARE(names(), QStringList({"P002", "P003"}));
        QTest::keyClick(filter, Qt::Key_Backspace);
        QCOMPARE(names(), QStringList({"P002", "P003"}));
        QCOMPARE(QString::fromStdString(win->current()->text("PARTNERSIFRA")), QString("P003"));
        QTest::keyClick(filter, Qt::Key_Return);
        QVERIFY(!win->isVisible());
        auto stored = w.ctx->db()->Dokument(entry().year(), 1, no);
        QCOMPARE(QString::fromStdString(stored->text("PartnerSifra")), QString("P003"));
        QCOMPARE(QString::fromStdString(stored->text("Kupac")), QString("4400000000003"));
        QVERIFY(w.prompter->texts().empty() || w.prompter->texts().back() != "Račun je potvrđen!");

        // Shown again: the filter is empty and every partner listed.
        mainKey(Qt::Key_F5);
        QCOMPARE(filter->text(), QString());
        QCOMPARE(win->shown().size(), size_t(3));
        keyTo(win, Qt::Key_F11);
        QVERIFY(!win->isVisible());
    }
};

QTEST_MAIN(RegisterLookupsTest)
#include "test_register_lookups.moc"

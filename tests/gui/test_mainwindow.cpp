// The main window offscreen: pages, navigation, keys, close and tray, zoom.
#include <QAbstractButton>
#include <QCheckBox>
#include <QDir>
#include <QGroupBox>
#include <QLineEdit>
#include <QMessageBox>
#include <QSignalSpy>
#include <QTabBar>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QToolButton>
#include <QtTest>
#include <fstream>
#include <memory>
#include <sstream>

#include "app/AppContext.h"
#include "app/uGlavnaFisk.h"
#include "gui_support.h"
#include "util/ScriptedPrompter.h"

using kv::gui::TGlavnaFisk;
using kv::test::SaveShot;

namespace {
std::string ReadAll(const QString& p) {
    std::ifstream in(p.toStdString(), std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

}  // namespace

class MainWindowTest : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> dir;
    std::unique_ptr<kv::ScriptedPrompter> prompter;
    std::unique_ptr<kv::AppContext> ctx;
    std::unique_ptr<TGlavnaFisk> win;

    QString iniPath() const { return dir->filePath("kovira.ini"); }

    // A window started over a settings file with the given "Kasa" keys.
    void start(const QString& kasaKeys = {}) {
        win.reset();
        ctx.reset();
        if (!kasaKeys.isEmpty()) {
            std::ofstream(iniPath().toStdString()) << "[Kasa]\n" << kasaKeys.toStdString() << "\n";
        }
        prompter = std::make_unique<kv::ScriptedPrompter>();
        ctx = std::make_unique<kv::AppContext>(iniPath().toStdString(), *prompter, dir->filePath("locks").toStdString());
        QCOMPARE(ctx->Start(), kv::AppContext::StartResult::Ok);
        win = std::make_unique<TGlavnaFisk>(*ctx);
        win->StartUp();
        win->showNormal();
        QVERIFY(QTest::qWaitForWindowExposed(win.get()));
    }

    template <class T = QWidget>
    T* child(const char* name) {
        auto* w = win->findChild<T*>(name);
        if (!w) qWarning("missing child %s", name);
        return w;
    }
    QWidget* mainPage() { return child<QTabWidget>("PgCtrGlavni")->currentWidget(); }

private slots:
    void init() {
        dir = std::make_unique<QTemporaryDir>();
        TGlavnaFisk::setTrayAvailableOverride(1);
    }
    void cleanup() {
        win.reset();
        ctx.reset();
    }

    void pagesAndNavigation() {
        start("AutoStart=1");
        QCOMPARE(win->windowTitle(), QString("Kovira "));
        QVERIFY(!child<QTabWidget>("PgCtrGlavni")->tabBar()->isVisible());
        QCOMPARE(mainPage()->objectName(), QString("TabKasa"));
        QCOMPARE(child<QTabWidget>("PgCtrKasa")->currentWidget()->objectName(), QString("TabRacuni"));

        struct Nav {
            const char* button;
            const char* caption;
            const char* page;
            const char* pageCaption;
        } nav[] = {{"TbSetup", "Setup", "TabSetup", "Podešavanja"},
                   {"TbPoslano", "Zadnji račun", "TabRacun", "Zadnji račun"},
                   {"ToolButton4", "Računi spisak", "TabReport", "Izvještaj"},
                   {"TbKasa", "Kasa", "TabKasa", "Kasa"},
                   {"ToolButton6", "Blagajna", "TabBlagajna", "Blagajna"}};
        auto* pages = child<QTabWidget>("PgCtrGlavni");
        for (const auto& n : nav) {
            auto* b = child<QToolButton>(n.button);
            QCOMPARE(b->text(), QString::fromUtf8(n.caption));
            QTest::mouseClick(b, Qt::LeftButton);
            QCOMPARE(mainPage()->objectName(), QString(n.page));
            QCOMPARE(pages->tabText(pages->currentIndex()), QString::fromUtf8(n.pageCaption));
            int pressed = 0;
            for (const auto& o : nav) pressed += child<QToolButton>(o.button)->isChecked();
            QCOMPARE(pressed, 1);
            SaveShot(win.get(), QString("main_") + n.page);
        }

        // Sub-pages with their captions; "Print tools" hidden.
        struct Sub {
            const char* control;
            QStringList names;
            QStringList captions;
        } subs[] = {
            {"PgCtrSetup", {"TabSheet6", "TabSheet8", "TabSheet9", "TabSheet2"},
             {"Fiskalni uređaj", "Podaci", "Printer", "Print tools"}},
            {"PgCtrKasa", {"TabRacuni", "TabUlazi", "TabSifarnici", "TabParametriKase", "KasaPregled", "TabImport", "TabServer"},
             {"Računi", "Ulazi", "Šifarnici", "Parametri", "Pregledi", "Import", "Server"}},
            {"PgCtrSifarnici", {"TabArtikli", "TabGrupe", "TabRadnici", "TabTarife", "TabPaymentType", "TabPartner", "TabKartice"},
             {"Artikli", "Grupe", "Radnici", "Tarife", "Način plaćanja", "Partneri", "Rabati"}},
        };
        for (const auto& s : subs) {
            auto* tabs = child<QTabWidget>(s.control);
            QCOMPARE(tabs->count(), s.names.size());
            for (int i = 0; i < tabs->count(); ++i) {
                QCOMPARE(tabs->widget(i)->objectName(), s.names[i]);
                QCOMPARE(tabs->tabText(i), s.captions[i]);
            }
        }
        QVERIFY(!child<QTabWidget>("PgCtrSetup")->isTabVisible(3));

        // Showing "Šifarnici" selects "Artikli"; the speed buttons show two-line captions.
        auto* kasa = child<QTabWidget>("PgCtrKasa");
        child<QTabWidget>("PgCtrSifarnici")->setCurrentIndex(3);
        kasa->setCurrentIndex(0);
        kasa->setCurrentIndex(2);
        QCOMPARE(child<QTabWidget>("PgCtrSifarnici")->currentWidget()->objectName(), QString("TabArtikli"));
        QCOMPARE(child<QToolButton>("SBNoviRacun")->text(), QString::fromUtf8("F2\nNovi račun"));

        auto* setup = child<QTabWidget>("PgCtrSetup");
        QTest::mouseClick(child<QToolButton>("TbSetup"), Qt::LeftButton);
        for (int i = 0; i < 3; ++i) {
            setup->setCurrentIndex(i);
            SaveShot(win.get(), "setup_" + setup->widget(i)->objectName());
        }
        QTest::mouseClick(child<QToolButton>("TbKasa"), Qt::LeftButton);
        kasa->setCurrentWidget(child<QWidget>("TabParametriKase"));
        SaveShot(win.get(), "kasa_TabParametriKase");
    }

    void keysActOnlyOnTheInvoicePage() {
        start("AutoStart=1");
        QSignalSpy kupac(child<QToolButton>("SBKupac"), &QAbstractButton::clicked);
        QSignalSpy novi(child<QToolButton>("SBNoviRacun"), &QAbstractButton::clicked);
        QSignalSpy storno(child<QToolButton>("SBStornoRac"), &QAbstractButton::clicked);
        QSignalSpy dodaj(child<QToolButton>("SBDodajSt"), &QAbstractButton::clicked);

        QTest::mouseClick(child<QToolButton>("TbSetup"), Qt::LeftButton);
        child<QLineEdit>("DBPIN")->setFocus();
        QTest::keyClick(child<QLineEdit>("DBPIN"), Qt::Key_F5);
        QCOMPARE(kupac.count(), 0);

        QTest::mouseClick(child<QToolButton>("TbKasa"), Qt::LeftButton);
        auto* barkod = child<QLineEdit>("LEBarkod");
        barkod->setFocus();
        QTest::keyClick(barkod, Qt::Key_F5);
        QCOMPARE(kupac.count(), 1);
        QTest::keyClick(barkod, Qt::Key_F2, Qt::ShiftModifier);
        QCOMPARE(storno.count(), 1);
        QCOMPARE(novi.count(), 0);
        QTest::keyClick(barkod, Qt::Key_Plus, Qt::KeypadModifier);
        QCOMPARE(dodaj.count(), 1);
        QTest::keyClick(barkod, Qt::Key_Plus);  // the main keyboard's + presses nothing
        QCOMPARE(dodaj.count(), 1);
        QCOMPARE(barkod->text(), QString());  // and command characters are not typed in

        child<QTabWidget>("PgCtrKasa")->setCurrentWidget(child<QWidget>("TabUlazi"));
        QTest::keyClick(win.get(), Qt::Key_F5);
        QCOMPARE(kupac.count(), 1);
    }

    void escCancelsTheFocusedEditButNotInAMessageBox() {
        start();
        auto& bafer = ctx->settings.Bafer;
        QTest::mouseClick(child<QToolButton>("TbSetup"), Qt::LeftButton);
        win->activateWindow();
        auto* pin = child<QLineEdit>("DBPIN");
        pin->setFocus();
        QTest::keyClicks(pin, "1234");
        QVERIFY(bafer.isEditing());
        QCOMPARE(bafer.text("PIN"), std::string("1234"));

        QMessageBox box(QMessageBox::Information, "Kovira", "poruka", QMessageBox::Ok, win.get());
        box.setWindowModality(Qt::ApplicationModal);
        box.show();
        QApplication::setActiveWindow(&box);
        QVERIFY(QTest::qWaitForWindowActive(&box));
        QTest::keyClick(&box, Qt::Key_Escape);
        QVERIFY(bafer.isEditing());
        box.close();

        QApplication::setActiveWindow(win.get());
        pin->setFocus();
        QTest::keyClick(pin, Qt::Key_Escape);
        QVERIFY(!bafer.isEditing());
        QCOMPARE(bafer.text("PIN"), std::string());
        QCOMPARE(pin->text(), QString());
    }

    void saveButtonsPostAndHandlersShowAtOnce() {
        start();
        QTest::mouseClick(child<QToolButton>("TbSetup"), Qt::LeftButton);
        auto* tape = win->findChild<QGroupBox*>("RGPOS5880");
        auto radios = tape->findChildren<QAbstractButton*>();
        QCOMPARE(radios.size(), 2);
        radios[1]->click();  // 80mm
        QCOMPARE(child<QLineEdit>("DBPaperWidth")->text(), QString("80"));
        QCOMPARE(child<QLineEdit>("DBImageWidth")->text(), QString("302"));
        QVERIFY(ReadAll(iniPath()).find("PaperWidth=386") != std::string::npos);
        QTest::mouseClick(child<QAbstractButton>("BtSacuvaj"), Qt::LeftButton);
        QVERIFY(!ctx->settings.Bafer.isEditing());
        QVERIFY(ReadAll(iniPath()).find("PaperWidth=80\n") != std::string::npos);
        QVERIFY(ReadAll(iniPath()).find("POS5880=1\n") != std::string::npos);

        // "Setup POS printera" only for POS or A4 printing.
        auto* posSetup = win->findChild<QGroupBox*>("GBSetupPOS");
        child<QTabWidget>("PgCtrSetup")->setCurrentWidget(child<QWidget>("TabSheet9"));
        QVERIFY(!posSetup->isVisible());
        win->findChild<QGroupBox*>("RGPrintUredjaj")->findChildren<QAbstractButton*>()[2]->click();
        QVERIFY(posSetup->isVisible());
        QVERIFY(!child<QWidget>("RGEscCir")->isVisible());  // RenderPrint 1: image receipt
        SaveShot(win.get(), "setup_TabSheet9_pos");
    }

    void closeAsksAndWritesGlobalExitDoesNeither() {
        start();
        ctx->settings.Bafer.setText("Token", "unsaved-token");
        prompter->answerConfirm(false);
        QVERIFY(!win->close());
        QVERIFY(win->isVisible());
        QCOMPARE(prompter->texts(), (std::vector<std::string>{"Kraj rada?"}));
        QVERIFY(ReadAll(iniPath()).find("unsaved-token") == std::string::npos);

        prompter->answerConfirm(true);
        QVERIFY(win->close());
        QVERIFY(ReadAll(iniPath()).find("Token=unsaved-token\n") != std::string::npos);
        QVERIFY(ReadAll(iniPath()).find("[Kasa]") != std::string::npos);

        start();
        ctx->settings.Bafer.setText("Token", "second-token");
        prompter->clearLog();
        win->Exit1Click();
        QVERIFY(win->close());
        QVERIFY(prompter->log().empty());
        QVERIFY(ReadAll(iniPath()).find("second-token") == std::string::npos);
    }

    void minimiseHidesToTrayAndDoubleClickRestores() {
        start("AutoStart=1");
        win->showMinimized();
        QTRY_VERIFY(win->hiddenToTray());
        QVERIFY(!win->isVisible());
        win->TrayIcon1DblClick();
        QVERIFY(win->isVisible());
        QVERIFY(!win->isMinimized());
        QVERIFY(!win->hiddenToTray());

        // Without a notification area the window stays reachable on the task bar.
        TGlavnaFisk::setTrayAvailableOverride(0);
        win->showMinimized();
        QTest::qWait(20);
        QVERIFY(!win->hiddenToTray());
    }

    void autoStartZeroStartsHiddenOnTheSetupPage() {
        win.reset();
        ctx.reset();
        prompter = std::make_unique<kv::ScriptedPrompter>();
        ctx = std::make_unique<kv::AppContext>(iniPath().toStdString(), *prompter, dir->filePath("locks").toStdString());
        ctx->Start();
        win = std::make_unique<TGlavnaFisk>(*ctx);
        win->StartUp();
        QVERIFY(win->hiddenToTray());
        QCOMPARE(mainPage()->objectName(), QString("TabSetup"));
    }

    void zoomFontAndServerMode() {
        start("AutoStart=1\nZoom=25\nFontSize=10\nServer=1\nZalihe=0\nBarkod=0\nSifra=0\nFilternaziv=0");
        QCOMPARE(win->scalePercent(), 125);
        QCOMPARE(win->width(), 1346);
        QCOMPARE(win->font().pointSizeF(), 12.5);
        auto* kasa = child<QTabWidget>("PgCtrKasa");
        for (const char* hidden : {"TabImport", "TabUlazi", "TabParametriKase"})
            QVERIFY(!kasa->isTabVisible(kasa->indexOf(child<QWidget>(hidden))));
        QVERIFY(kasa->isTabVisible(kasa->indexOf(child<QWidget>("TabSifarnici"))));
        QVERIFY(child<QCheckBox>("DBServer")->isHidden());
        QVERIFY(child<QLineEdit>("DBCijena")->isReadOnly());
        QVERIFY(child<QWidget>("LblNaStanju")->isHidden());
        QVERIFY(child<QWidget>("LEBarkod")->isHidden());
        QCOMPARE(child<QWidget>("LENaziv")->x(), 4);
        SaveShot(win.get(), "kasa_TabRacuni_zoom125");
    }
};

QTEST_MAIN(MainWindowTest)
#include "test_mainwindow.moc"

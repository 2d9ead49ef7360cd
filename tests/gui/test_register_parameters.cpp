// The "Parametri" page of the cash register: its fields bound to the
// register's settings, "Sačuvaj" writing them to the settings file and
// "Odustani" taking a change back.
#include <QButtonGroup>
#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QtTest>

#include "gui_support.h"

using namespace kv::test;

class RegisterParametersTest : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> dir;
    Window w;

    QString ini() {
        QFile f(dir->filePath("kovira.ini"));
        f.open(QIODevice::ReadOnly);
        return QString::fromUtf8(f.readAll());
    }
    void showPage() {
        auto* kasa = w.child<QTabWidget>("PgCtrKasa");
        QVERIFY(kasa);
        for (int i = 0; i < kasa->count(); ++i)
            if (kasa->tabText(i) == "Parametri") kasa->setCurrentIndex(i);
        auto* glavni = w.child<QTabWidget>("PgCtrGlavni");
        for (int i = 0; i < glavni->count(); ++i)
            if (glavni->widget(i)->isAncestorOf(kasa)) glavni->setCurrentIndex(i);
    }

private slots:
    void init() {
        dir = std::make_unique<QTemporaryDir>();
        QVERIFY(w.start(*dir, "[Global]\nPrintUredjaj=0\n[Kasa]\nNacPl=0\nZalihe=0\nLoginUser=0\n"));
        showPage();
    }
    void cleanup() { w.stop(); }

    void saveWritesTheFileAndCancelTakesBack() {
        auto* nacPl = w.child<QLineEdit>("DBNacPl");
        auto* login = w.child<QCheckBox>("DBLoginUser");
        QVERIFY(nacPl && login);
        QCOMPARE(nacPl->text(), QString("0"));
        QTest::keyClick(nacPl, Qt::Key_Backspace);
        QTest::keyClicks(nacPl, "2");
        login->click();
        // "Kontrola zaliha"
        QList<QRadioButton*> stock = w.child<QWidget>("RGZalihe")->findChildren<QRadioButton*>();
        QCOMPARE(stock.size(), 3);
        stock[2]->click();
        SaveShot(w.win.get(), "register_parameters");
        QVERIFY(ini().contains("NacPl=0"));  // nothing written before "Sačuvaj"
        w.child<QPushButton>("BtSacuvajKasa")->click();
        const QString saved = ini();
        QVERIFY2(saved.contains("NacPl=2") && saved.contains("LoginUser=1") && saved.contains("Zalihe=2"),
                 qPrintable(saved));
        // Read at the moment they are used: the register sees them at once.
        QCOMPARE(w.ctx->settings.KasaBaf.integer("Zalihe"), 2);

        QTest::keyClick(nacPl, Qt::Key_Backspace);
        QTest::keyClicks(nacPl, "3");
        login->click();
        w.child<QPushButton>("BtOdustaniKasa")->click();
        QCOMPARE(nacPl->text(), QString("2"));
        QVERIFY(login->isChecked());
        QCOMPARE(ini(), saved);
    }
};

QTEST_MAIN(RegisterParametersTest)
#include "test_register_parameters.moc"

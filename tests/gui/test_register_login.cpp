// The cashier login dialog and "F7 Kasir" offscreen.
#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolButton>
#include <QtTest>

#include "gui_support.h"
#include "register/uDMGlavni.h"
#include "register/uLogin.h"

using kv::gui::TLogin;

class RegisterLoginTest : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> dir;
    kv::test::Window w;

    void startWith(const char* kasaKeys) {
        w.stop();
        dir = std::make_unique<QTemporaryDir>();
        // The cashiers are in the register before Kovira starts.
        {
            kv::reg::TDMGlavni db(dir->filePath("Kovira.sdb").toStdString());
            db.Baza().db().exec("INSERT INTO Radnik (Username, PrezimeIme) VALUES ('ana', 'Ana'), ('marko', 'Marko')");
            QVERIFY(db.SetPassword("ana", "1111"));
            QVERIFY(db.SetPassword("marko", "2222"));
        }
        w.prompter = std::make_unique<kv::ScriptedPrompter>();
        QVERIFY(w.start(*dir, std::string("[Kasa]\nAutoStart=1\n") + kasaKeys));
        QVERIFY(w.ctx->db());
    }

private slots:
    void cleanup() { w.stop(); }

    void dialogLooksAsGivenAndChecksTheCashier() {
        startWith("LoginUser=1\n");
        QCOMPARE(w.ctx->settings.KasaBaf.text("Cashier"), std::string());  // nobody at start
        QVERIFY(!w.child<QComboBox>("DBKasir")->isEnabled());
        TLogin dlg(*w.ctx, w.win.get());
        dlg.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dlg));
        QCOMPARE(dlg.windowTitle(), QString("Login"));
        QStringList labels;
        for (auto* l : dlg.findChildren<QLabel*>()) labels << l->text();
        QCOMPARE(labels, (QStringList{"Username", "Password"}));
        QCOMPARE(dlg.password()->echoMode(), QLineEdit::Password);
        auto* ok = dlg.findChild<QPushButton*>("BtOK");
        QVERIFY(ok->isDefault());
        QCOMPARE(dlg.findChild<QPushButton*>("BtCancel")->text(), QString("Cancel"));
        QCOMPARE(QApplication::focusWidget(), dlg.username());

        // Enter walks to the password, then to OK.
        QTest::keyClicks(dlg.username(), "ana");
        QTest::keyClick(dlg.username(), Qt::Key_Return);
        QCOMPARE(QApplication::focusWidget(), dlg.password());
        // OK with an empty password: focus there, no message, still open.
        dlg.BtOKClick();
        QCOMPARE(QApplication::focusWidget(), dlg.password());
        QVERIFY(w.prompter->texts().empty());
        QVERIFY(dlg.isVisible());
        // A password in another case is refused.
        QTest::keyClicks(dlg.password(), "1111X");
        QTest::keyClick(dlg.password(), Qt::Key_Return);
        QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(ok));
        kv::test::SaveShot(&dlg, "register_login");
        dlg.BtOKClick();
        QCOMPARE(w.prompter->texts(), std::vector<std::string>{"Username/password not corect!"});
        QVERIFY(dlg.isVisible());
        QCOMPARE(w.ctx->settings.KasaBaf.text("Cashier"), std::string());
        dlg.password()->setText("1111");
        dlg.BtOKClick();
        QCOMPARE(dlg.result(), int(QDialog::Accepted));
        QCOMPARE(w.ctx->settings.KasaBaf.text("Cashier"), std::string("ana"));
    }

    void f7LogsInAnotherCashierWhenLoginIsMandatory() {
        startWith("LoginUser=1\n");
        QTimer::singleShot(0, [] {
            auto* dlg = qobject_cast<TLogin*>(QApplication::activeModalWidget());
            QVERIFY(dlg);
            dlg->username()->setText("marko");
            dlg->password()->setText("2222");
            dlg->BtOKClick();
        });
        QTest::keyClick(w.win.get(), Qt::Key_F7);
        QCOMPARE(w.ctx->settings.KasaBaf.text("Cashier"), std::string("marko"));
        // The check before an invoice action no longer asks.
        QVERIFY(kv::gui::KasirPrijavljen(*w.ctx, w.win.get()));
        // Cancel leaves the cashier as it was.
        QTimer::singleShot(0, [] { QApplication::activeModalWidget()->findChild<QPushButton*>("BtCancel")->click(); });
        w.child<QToolButton>("SBKasir")->click();
        QCOMPARE(w.ctx->settings.KasaBaf.text("Cashier"), std::string("marko"));
    }

    void withoutMandatoryLoginTheFirstCashierIsTakenAndF7FocusesTheBox() {
        startWith("LoginUser=0\n");
        QCOMPARE(w.ctx->settings.KasaBaf.text("Cashier"), std::string("ana"));
        auto* box = w.child<QComboBox>("DBKasir");
        QCOMPARE(box->currentText(), QString("ana"));
        QCOMPARE(box->count(), 2);
        QTest::keyClick(w.win.get(), Qt::Key_F7);
        QTRY_COMPARE(QApplication::focusWidget(), static_cast<QWidget*>(box));
        box->setCurrentIndex(1);
        emit box->activated(1);
        QCOMPARE(w.ctx->settings.KasaBaf.text("Cashier"), std::string("marko"));
        QVERIFY(!w.ctx->settings.KasaBaf.isEditing());
    }
};

QTEST_MAIN(RegisterLoginTest)
#include "test_register_login.moc"

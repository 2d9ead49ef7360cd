// The "Šifarnici" page: rows inserted and edited in the grids and saved with
// the toolbar, saves refused with the data layer's message (a duplicate key,
// an empty required field), and every grid disabled with the server link on.
#include <QTabWidget>
#include <QTableView>
#include <QToolButton>
#include <QInputDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QApplication>
#include <QtTest>

#include "gui_support.h"
#include "platform/Platform.h"
#include "register/CodeLists.h"
#include "register/DemoData.h"
#include "register/uDMGlavni.h"
#include "register/uSifarnici.h"
#include "util/uKvUtils.h"

using namespace kv::test;

class RegisterCodeListsTest : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> dir;
    Window w;

    void start(const char* kasa) {
        kv::platform::SetDecimalSeparator(',');
        dir = std::make_unique<QTemporaryDir>();
        {
            kv::reg::TDMGlavni db(dir->filePath("Kovira.sdb").toStdString());
            QVERIFY(kv::reg::LoadDemoData(db));
        }
        QVERIFY(w.start(*dir, std::string("[Global]\nPrintUredjaj=0\n[Kasa]\n") + kasa));
        w.win->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(w.win.get()));
        auto* kasaPages = w.child<QTabWidget>("PgCtrKasa");
        kasaPages->setCurrentWidget(w.child<QWidget>("TabSifarnici"));
        auto* glavni = w.child<QTabWidget>("PgCtrGlavni");
        for (int i = 0; i < glavni->count(); ++i)
            if (glavni->widget(i)->isAncestorOf(kasaPages)) glavni->setCurrentIndex(i);
    }
    kv::gui::TSifarnici* page() { return w.win->findChild<kv::gui::TSifarnici*>(); }
    void show(const char* tab) { w.child<QTabWidget>("PgCtrSifarnici")->setCurrentWidget(w.child<QWidget>(tab)); }
    // A cell edited in the grid: what its editor hands the model when the edit ends.
    void typeInto(QTableView* grid, int row, int col, const char* text) {
        grid->setFocus();
        grid->setCurrentIndex(grid->model()->index(row, col));
        QVERIFY(grid->model()->setData(grid->model()->index(row, col), QString::fromUtf8(text), Qt::EditRole));
    }
    void command(const char* name) { w.child<QToolButton>((std::string("DBNavigator") + name).c_str())->click(); }

private slots:
    void cleanup() { w.stop(); }

    void insertEditAndRefusedSaves() {
        start("Server=0\n");
        show("TabGrupe");
        QTableView* grupe = page()->grid("GridGrupe");
        auto* groups = page()->list("GridGrupe");
        QCOMPARE(groups->rows().size(), size_t(4));
        QCOMPARE(grupe->model()->headerData(0, Qt::Horizontal).toString(), QString::fromUtf8("Šifra"));

        // Insert and save a new group with the keyboard and the toolbar.
        grupe->setFocus();
        command("Insert");
        const int row = groups->current();
        typeInto(grupe, row, 0, "05");
        typeInto(grupe, row, 1, "Pekara");
        command("Post");
        QCOMPARE(int(groups->state()), int(kv::reg::CodeList::State::Browse));
        bool found = false;
        for (const auto& g : w.ctx->db()->Grupa()) found |= g.text("Sifra") == "05" && g.text("Naziv") == "Pekara";
        QVERIFY(found);

        // Edit a stored row: saved when the grid moves on.
        typeInto(grupe, 0, 1, "Pića i sokovi");
        grupe->setCurrentIndex(grupe->model()->index(1, 0));
        QCOMPARE(QString::fromStdString(w.ctx->db()->Grupa()[0].text("Naziv")), QString::fromUtf8("Pića i sokovi"));

        // A duplicate key: the message, and the row stays to be mended.
        command("Insert");
        typeInto(grupe, groups->current(), 0, "01");
        const auto messages = w.prompter->texts().size();
        command("Post");
        QCOMPARE(w.prompter->texts().size(), messages + 1);
        QCOMPARE(int(groups->state()), int(kv::reg::CodeList::State::Insert));
        command("Cancel");
        QCOMPARE(w.ctx->db()->Grupa().size(), size_t(5));

        // An article without its group: refused with the field's name.
        show("TabArtikli");
        QTableView* artikli = page()->grid("GridArtikli");
        artikli->setFocus();
        command("Insert");
        const int a = page()->list("GridArtikli")->current();
        typeInto(artikli, a, 0, "9901");
        typeInto(artikli, a, 1, "Kifla");
        typeInto(artikli, a, 2, "");
        command("Post");
        QVERIFY(QString::fromStdString(w.prompter->texts().back()).contains("Grupa"));
        typeInto(artikli, a, 2, "05");
        typeInto(artikli, a, 7, "0,45");
        command("Post");
        QCOMPARE(int(page()->list("GridArtikli")->state()), int(kv::reg::CodeList::State::Browse));
        QCOMPARE(artikli->model()->index(a, 3).data().toString(), QString("Pekara"));  // "Grupa naziv"
        QCOMPARE(artikli->model()->index(a, 7).data().toString(), QString("0,45"));
        SaveShot(w.win.get(), "register_codelists");
    }

    void titleClickSortsInThreeStates() {
        start("Server=0\n");
        show("TabPartner");
        QTableView* grid = page()->grid("GridPartneri");
        auto names = [&] {
            QStringList out;
            for (int r = 0; r < grid->model()->rowCount(); ++r) out << grid->model()->index(r, 1).data().toString();
            return out;
        };
        const QStringList stored = names();
        kv::gui::SortByTitle(grid, 1);
        QStringList asc = stored;
        asc.sort();
        QCOMPARE(names(), asc);
        kv::gui::SortByTitle(grid, 1);
        QStringList desc = asc;
        std::reverse(desc.begin(), desc.end());
        QCOMPARE(names(), desc);
        kv::gui::SortByTitle(grid, 1);
        QCOMPARE(names(), stored);
        // Barcodes, tariffs and discounts keep their order.
        show("TabTarife");
        QTableView* tarife = page()->grid("GridTarife");
        const QString first = tarife->model()->index(0, 0).data().toString();
        kv::gui::SortByTitle(tarife, 0);
        kv::gui::SortByTitle(tarife, 0);
        QCOMPARE(tarife->model()->index(0, 0).data().toString(), first);
    }

    // A cashier's password is set from the cashiers' grid, typed hidden and
    // kept as a hash: the cashier then logs in with it.
    void aCashiersPasswordIsSetFromTheGrid() {
        start("Server=0\n");
        show("TabRadnici");
        QTableView* grid = page()->grid("GridRadnici");
        grid->setFocus();
        grid->setCurrentIndex(grid->model()->index(0, 0));
        const std::string user = page()->list("GridRadnici")->rows()[0].text("Username");
        bool typed = false;
        QTimer::singleShot(50, [&] {
            auto* dialog = qobject_cast<QInputDialog*>(QApplication::activeModalWidget());
            if (!dialog) return;
            typed = dialog->textEchoMode() == QLineEdit::Password;
            dialog->setTextValue("nova-9876");
            dialog->accept();
        });
        w.child<QPushButton>("BtLozinka")->click();
        QVERIFY(typed);
        QVERIFY(w.ctx->db()->LoginCheck(user, "nova-9876").has_value());
        QVERIFY(!w.ctx->db()->LoginCheck(user, "1111").has_value());
    }

    void serverLinkDisablesEveryGrid() {
        start("Server=1\n");
        for (const char* g : {"GridArtikli", "GridBarKod", "GridGrupe", "GridRadnici", "GridTarife", "GridNacPL",
                              "GridPartneri", "GridKartice", "GridRabati"}) {
            QVERIFY2(page()->grid(g), g);
            QVERIFY2(!page()->grid(g)->isEnabled(), g);
        }
    }
};

QTEST_MAIN(RegisterCodeListsTest)
#include "test_register_codelists.moc"

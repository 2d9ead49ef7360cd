#include <QDialog>
#include <QDir>
#include <QLabel>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QtTest>
#include <memory>

#include "gui_support.h"
#include "util/ScriptedPrompter.h"
#include "util/uProgress.h"

using namespace kv::gui;

namespace {

const QString kQuestion = QString::fromUtf8("Da li želite prekinuti obradu ?");
const QString kDone = QString::fromUtf8("Obrada završena !!");

template <typename T>
T* Part(QDialog* dlg, const char* name)
{
    return dlg ? dlg->findChild<T*>(QString::fromLatin1(name)) : nullptr;
}

using kv::test::SaveShot;

// Lets a closed dialog's deferred deletion happen.
void FlushDeletes()
{
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

}  // namespace

class TestProgress : public QObject {
    Q_OBJECT

    std::unique_ptr<QWidget> owner;
    std::unique_ptr<kv::ScriptedPrompter> prompter;

private slots:
    void init()
    {
        owner = std::make_unique<QWidget>();
        owner->resize(500, 300);
        owner->show();
        prompter = std::make_unique<kv::ScriptedPrompter>();
        SetProgressPrompter(prompter.get());
        ProgressCancelled = false;
    }

    void cleanup()
    {
        owner.reset();
        FlushDeletes();
        SetProgressPrompter(nullptr);
        prompter.reset();
    }

    void stepMovesBarOnlyWhenShown_data()
    {
        QTest::addColumn<bool>("showBar");
        QTest::newRow("bar hidden") << false;
        QTest::newRow("bar shown") << true;
    }

    void stepMovesBarOnlyWhenShown()
    {
        QFETCH(bool, showBar);
        ShowProgress(owner.get(), QString::fromUtf8("Štampa računa"), QString::fromUtf8("Čekam odgovor..."),
                     QStringLiteral("drugi"), false, showBar, 0, 10);
        QDialog* dlg = FindProgress(owner.get());
        QVERIFY(dlg && dlg->isVisible());
        QCOMPARE(dlg->windowTitle(), QString::fromUtf8("Štampa računa"));
        auto* bar = Part<QProgressBar>(dlg, "ProgressBar");
        auto* opis1 = Part<QLabel>(dlg, "Opis1");
        auto* opis2 = Part<QLabel>(dlg, "Opis2");
        QVERIFY(bar && opis1 && opis2);
        QCOMPARE(bar->isVisible(), showBar);
        const int before = bar->value();

        StepProgress(owner.get(), QStringLiteral("prvi red"), std::nullopt, 7);
        QCOMPARE(bar->value(), showBar ? 7 : before);
        QCOMPARE(opis1->text(), QStringLiteral("prvi red"));
        QCOMPARE(opis2->text(), QStringLiteral("drugi"));
        // Labels follow their text, one line high.
        QCOMPARE(opis1->width(), opis1->sizeHint().width());
        QCOMPARE(opis1->height(), 14);

        StepProgress(owner.get(), std::nullopt, QStringLiteral("novi drugi"), 8);
        QCOMPARE(opis1->text(), QStringLiteral("prvi red"));
        QCOMPARE(opis2->text(), QStringLiteral("novi drugi"));
        QCOMPARE(bar->value(), showBar ? 8 : before);
    }

    void noCancelMeansNoButtonAndNoClosing()
    {
        ShowProgress(owner.get(), QStringLiteral("x"), QString(), QString(), false, false, 0, 1);
        QDialog* dlg = FindProgress(owner.get());
        auto* prekini = Part<QPushButton>(dlg, "BtPrekini");
        QVERIFY(prekini->isHidden() && !prekini->isEnabled());
        QVERIFY(!owner->isEnabled());
        QVERIFY(dlg->isEnabled());  // the dialog itself stays usable
        QTest::keyClick(dlg, Qt::Key_Escape);
        QVERIFY(!dlg->close());
        QVERIFY(prompter->log().empty());
        QCOMPARE(FindProgress(owner.get()), dlg);
        QVERIFY(dlg->isVisible());
    }

    void doneNotice_data()
    {
        QTest::addColumn<bool>("withText");
        QTest::addColumn<QString>("expected");
        QTest::addColumn<QString>("shot");
        QTest::newRow("standard text") << false << kDone << QStringLiteral("progress_done");
        QTest::newRow("own text") << true << QString::fromUtf8("Greška 12: uređaj nije spreman")
                                  << QStringLiteral("progress_done_error");
    }

    void doneNotice()
    {
        QFETCH(bool, withText);
        QFETCH(QString, expected);
        QFETCH(QString, shot);
        ShowProgress(owner.get(), QStringLiteral("Export..."), QStringLiteral("Zapis 1"), QStringLiteral("x"),
                     true, true, 0, 50);
        StepProgress(owner.get(), std::nullopt, std::nullopt, 10);
        QDialog* dlg = FindProgress(owner.get());
        auto* gotovo = Part<QLabel>(dlg, "OpisGotovo");
        auto* animate = Part<QWidget>(dlg, "Animate1");
        auto* ok = Part<QPushButton>(dlg, "BtOk");
        auto* prekini = Part<QPushButton>(dlg, "BtPrekini");
        QVERIFY(gotovo && animate && ok && prekini);
        QVERIFY(animate->isVisible());
        QVERIFY(ok->isHidden() && !ok->isEnabled());

        EndProgress(owner.get(), true, withText ? std::optional<QString>(expected) : std::nullopt);
        QCOMPARE(FindProgress(owner.get()), dlg);
        QVERIFY(dlg->isVisible());
        QVERIFY(animate->isHidden());
        QVERIFY(gotovo->isVisible());
        QCOMPARE(gotovo->text(), expected);
        QCOMPARE(gotovo->pos(), QPoint(46, 24));
        QCOMPARE(Part<QProgressBar>(dlg, "ProgressBar")->value(), 50);
        QCOMPARE(Part<QLabel>(dlg, "Opis1")->text(), QString());
        QCOMPARE(Part<QLabel>(dlg, "Opis2")->text(), QString());
        QVERIFY(prekini->isHidden() && !prekini->isEnabled());
        QVERIFY(ok->isVisible() && ok->isEnabled());
        QCOMPARE(dlg->focusWidget(), ok);
        QVERIFY(!ProgressCancelled);
        QVERIFY(!owner->isEnabled());  // until the user acknowledges
        SaveShot(dlg, shot);

        QPointer<QDialog> guard(dlg);
        QTest::mouseClick(ok, Qt::LeftButton);
        QVERIFY(owner->isEnabled());
        QVERIFY(!FindProgress(owner.get()));
        FlushDeletes();
        QVERIFY(guard.isNull());
    }

    void endWithoutNoticeCloses()
    {
        ShowProgress(owner.get(), QStringLiteral("x"), QString(), QString(), true, true, 0, 5);
        QPointer<QDialog> dlg = FindProgress(owner.get());
        EndProgress(owner.get(), false);
        QVERIFY(!FindProgress(owner.get()));
        QVERIFY(owner->isEnabled());
        QVERIFY(prompter->log().empty());  // closing at the end asks nothing
        FlushDeletes();
        QVERIFY(dlg.isNull());

        // Without a dialog both calls are harmless and create nothing.
        StepProgress(owner.get(), QStringLiteral("a"), QStringLiteral("b"), 3);
        EndProgress(owner.get(), true, QStringLiteral("c"));
        QVERIFY(!FindProgress(owner.get()));
        QVERIFY(owner->findChildren<QDialog*>().isEmpty());
    }

    void cancelAsksAndHonoursTheAnswer()
    {
        prompter->answerConfirm(false).answerConfirm(false).answerConfirm(true);
        ShowProgress(owner.get(), QStringLiteral("Export..."), QStringLiteral("a"), QStringLiteral("b"), true,
                     true, 0, 100);
        QPointer<QDialog> dlg = FindProgress(owner.get());
        auto* prekini = Part<QPushButton>(dlg, "BtPrekini");
        QVERIFY(prekini->isVisible() && prekini->isEnabled());

        // No: the operation goes on, nothing changes.
        QTest::mouseClick(prekini, Qt::LeftButton);
        QCOMPARE(prompter->log().size(), 1u);
        QCOMPARE(QString::fromStdString(prompter->log()[0].text), kQuestion);
        QCOMPARE(prompter->log()[0].kind, kv::MsgKind::Warning);
        QVERIFY(!ProgressCancelled);
        QVERIFY(dlg->isVisible());
        QVERIFY(!owner->isEnabled());

        // The close box asks the same question.
        QVERIFY(!dlg->close());
        QCOMPARE(prompter->log().size(), 2u);
        QVERIFY(!ProgressCancelled);

        // Yes, by Esc, handled while the operation steps.
        QTest::keyClick(dlg, Qt::Key_Escape);
        QCOMPARE(prompter->log().size(), 3u);
        QVERIFY(ProgressCancelled);
        QVERIFY(owner->isEnabled());
        QVERIFY(!FindProgress(owner.get()));
        FlushDeletes();
        QVERIFY(dlg.isNull());

        // The operation ends afterwards: only the flag is cleared.
        EndProgress(owner.get(), true);
        QVERIFY(!ProgressCancelled);
        QVERIFY(!FindProgress(owner.get()));
    }

    void operationStopsWhenCancelledDuringSteps()
    {
        prompter->answerConfirm(true);
        ShowProgress(owner.get(), QStringLiteral("Export..."), QString(), QString(), true, true, 0, 100);
        auto* prekini = Part<QPushButton>(FindProgress(owner.get()), "BtPrekini");
        // The click is waiting in the queue, as a user's click would be.
        QMetaObject::invokeMethod(prekini, "click", Qt::QueuedConnection);
        int done = 0;
        for (; done < 100; ++done) {
            StepProgress(owner.get(), QStringLiteral("Zapis %1").arg(done), std::nullopt, done);
            if (ProgressCancelled)
                break;
        }
        QCOMPARE(done, 0);
        EndProgress(owner.get(), false);
        QVERIFY(!ProgressCancelled);
        QVERIFY(owner->isEnabled());
    }

    void oneDialogPerOwner()
    {
        ShowProgress(owner.get(), QStringLiteral("Prva"), QStringLiteral("a"), QString(), true, true, 0, 10);
        QDialog* first = FindProgress(owner.get());
        EndProgress(owner.get(), true);  // done notice still open
        ShowProgress(owner.get(), QStringLiteral("Druga"), QStringLiteral("b"), QString(), true, true, 0, 10);
        QCOMPARE(FindProgress(owner.get()), first);
        QCOMPARE(owner->findChildren<QDialog*>(QStringLiteral("Obrada")).size(), 1);
        QCOMPARE(first->windowTitle(), QStringLiteral("Druga"));
        QCOMPARE(Part<QLabel>(first, "Opis1")->text(), QStringLiteral("b"));
        // The reused dialog runs again rather than showing the old notice.
        QVERIFY(Part<QPushButton>(first, "BtOk")->isHidden());
        QVERIFY(Part<QPushButton>(first, "BtPrekini")->isVisible());
        QVERIFY(Part<QWidget>(first, "Animate1")->isVisible());

        QWidget other;
        other.show();
        ShowProgress(&other, QStringLiteral("Treća"), QString(), QString(), false, false, 0, 1);
        QDialog* second = FindProgress(&other);
        QVERIFY(second && second != first);
        EndProgress(&other, false);
        QVERIFY(other.isEnabled());
        QVERIFY(!owner->isEnabled());  // the first owner still waits for its operation

        EndProgress(owner.get(), false);
        FlushDeletes();
        ShowProgress(owner.get(), QStringLiteral("Nova"), QString(), QString(), false, false, 0, 1);
        QDialog* fresh = FindProgress(owner.get());
        QVERIFY(fresh);
        QCOMPARE(owner->findChildren<QDialog*>(QStringLiteral("Obrada")).size(), 1);
        EndProgress(owner.get(), false);
    }

    void runningScreenshot()
    {
        ShowProgress(owner.get(), QStringLiteral("Export..."), QStringLiteral("Izvoz u datoteku ARTIKLI.xlsx"),
                     QStringLiteral("Zapis 40 od 100"), true, true, 0, 100);
        StepProgress(owner.get(), std::nullopt, std::nullopt, 40);
        QDialog* dlg = FindProgress(owner.get());
        QCOMPARE(dlg->size(), QSize(398, 160));
        // Let the animation move away from its first frame.
        QTest::qWait(400);
        SaveShot(dlg, QStringLiteral("progress_running"));
        ShowProgress(owner.get(), QString::fromUtf8("Štampa računa"), QString::fromUtf8("Čekam odgovor..."),
                     QString(), false, false, 0, 1);
        SaveShot(dlg, QStringLiteral("progress_waiting"));
        EndProgress(owner.get(), false);
    }
};

QTEST_MAIN(TestProgress)
#include "test_progress.moc"

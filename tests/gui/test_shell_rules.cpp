// The main window's widget rules: speed-button captions, the key map of the
// invoice page, where the search edits go.
#include <QtTest>

#include "app/ShellRules.h"

using namespace kv::gui;

class ShellRulesTest : public QObject {
    Q_OBJECT
private slots:
    void speedButtonCaptionsBreakAtBlanksThenShowUnderscoresAsBlanks() {
        QCOMPARE(SpeedButtonCaption("F2 Novi_račun"), std::string("F2\nNovi račun"));
        QCOMPARE(SpeedButtonCaption("Shift+F2 Storno_račun"), std::string("Shift+F2\nStorno račun"));
        QCOMPARE(SpeedButtonCaption("+ Dodaj"), std::string("+\nDodaj"));
    }

    void keysActOnlyOnTheInvoicePage() {
        QVERIFY(!FormKeyDownAction(false, ShellKey::F5, false).any());
        QVERIFY(!FormKeyDownAction(false, ShellKey::Escape, false).any());
        QCOMPARE(FormKeyDownAction(true, ShellKey::F5, false).button, std::string("SBKupac"));
        QCOMPARE(FormKeyDownAction(true, ShellKey::F2, false).button, std::string("SBNoviRacun"));
        QCOMPARE(FormKeyDownAction(true, ShellKey::F2, true).button, std::string("SBStornoRac"));
        QCOMPARE(FormKeyDownAction(true, ShellKey::PadDivide, false).button, std::string("SBKolRucno"));
        QVERIFY(FormKeyDownAction(true, ShellKey::Escape, false).cancelLinesEdit);
        QVERIFY(!FormKeyDownAction(true, ShellKey::Other, false).any());
    }

    void searchEditsAreLaidOutFromTheLeft() {
        auto only = LayOutSearchEdits(false, 120, false, 80, true, 200, false, 150, false);
        QCOMPARE(only.naziv, 4);
        QCOMPARE(only.sifra, -1);
        auto all = LayOutSearchEdits(true, 120, true, 80, true, 200, true, 150, true);
        QCOMPARE(all.sifra, 125);
        QCOMPARE(all.naziv, 206);
        QCOMPARE(all.opis, 407);
        QCOMPARE(all.dbOpis, 558);
    }
};

QTEST_MAIN(ShellRulesTest)
#include "test_shell_rules.moc"

#pragma once
// The main window's rules that are not drawing but belong to its widgets: the
// captions of the speed buttons, which key clicks which button, where the
// search edits go, which printer groups are shown.
#include <cstdint>
#include <string>

namespace kv::gui {

// Captions of the cash register's speed buttons: every blank becomes a line
// break, then every "_" a blank ("F2 Novi_račun" -> "F2\nNovi račun").
std::string SpeedButtonCaption(const std::string& caption);

// Keys of the cash register. Only on the "Kasa" page with its "Računi" page
// shown does a key act, and then at most one action per key.
enum class ShellKey { Escape, F2, F3, F4, F5, F6, F7, F8, F9, F10, F11, PadPlus, PadMinus, PadMultiply, PadDivide, Other };
struct KeyAction {
    bool cancelLinesEdit = false;  // Esc: cancel the edit of the invoice lines
    std::string button;            // object name of the speed button to click
    bool any() const { return cancelLinesEdit || !button.empty(); }
};
KeyAction FormKeyDownAction(bool onKasaRacuni, ShellKey key, bool shift);

// Left positions of the search edits of the invoice page, from the left:
// the barcode edit sits at its place, the others follow it.
struct SearchEditLayout {
    int sifra = -1, naziv = -1, opis = -1, dbOpis = -1;  // -1: not visible
};
SearchEditLayout LayOutSearchEdits(bool barkod, int barkodWidth, bool sifra, int sifraWidth, bool naziv,
                                   int nazivWidth, bool opis, int opisWidth, bool dbOpisVisible);

// Which groups of the printer page are shown for the chosen print target and form.
struct PrinterPageVisibility {
    bool posSetup;     // "Setup POS printera": printing on a POS or A4 printer
    bool conversion;   // "Konverzija teksta", "Štampa QR koda" and the image width: text receipts only
    bool font;         // font name and size: all but the image receipt
};
PrinterPageVisibility PrinterPageVisibilityFor(int64_t printUredjaj, int64_t renderPrint);

}  // namespace kv::gui

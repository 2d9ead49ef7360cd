#include "app/ShellRules.h"

namespace kv::gui {

std::string SpeedButtonCaption(const std::string& caption) {
    std::string out = caption;
    for (char& c : out)
        if (c == ' ') c = '\n';
    for (char& c : out)
        if (c == '_') c = ' ';
    return out;
}

KeyAction FormKeyDownAction(bool onKasaRacuni, ShellKey key, bool shift) {
    KeyAction a;
    if (!onKasaRacuni) return a;
    switch (key) {
        case ShellKey::Escape: a.cancelLinesEdit = true; break;
        case ShellKey::F2: a.button = shift ? "SBStornoRac" : "SBNoviRacun"; break;
        case ShellKey::F3: a.button = "SBPotvrdiRacun"; break;
        case ShellKey::F4: a.button = "SBBrisiRacun"; break;
        case ShellKey::F5: a.button = "SBKupac"; break;
        case ShellKey::F6: a.button = "SBPlacanje"; break;
        case ShellKey::F7: a.button = "SBKasir"; break;
        case ShellKey::F8: a.button = "SBPlaceno"; break;
        case ShellKey::F9: a.button = "SBPrintRacun"; break;
        case ShellKey::F10: a.button = "SBRabat"; break;
        case ShellKey::F11: a.button = "SBSpisakRacuna"; break;
        case ShellKey::PadPlus: a.button = "SBDodajSt"; break;
        case ShellKey::PadMinus: a.button = "SBBrisiSt"; break;
        case ShellKey::PadMultiply: a.button = "SBPutaKol"; break;
        case ShellKey::PadDivide: a.button = "SBKolRucno"; break;
        case ShellKey::Other: break;
    }
    return a;
}

SearchEditLayout LayOutSearchEdits(bool barkod, int barkodWidth, bool sifra, int sifraWidth, bool naziv,
                                   int nazivWidth, bool opis, int opisWidth, bool dbOpisVisible) {
    SearchEditLayout l;
    int left = barkod ? barkodWidth + 5 : 4;
    if (sifra) {
        l.sifra = left;
        left += sifraWidth + 1;
    }
    if (naziv) {
        l.naziv = left;
        left += nazivWidth + 1;
    }
    if (opis) {
        l.opis = left;
        left += opisWidth + 1;
    }
    if (dbOpisVisible) l.dbOpis = left;
    return l;
}

PrinterPageVisibility PrinterPageVisibilityFor(int64_t printUredjaj, int64_t renderPrint) {
    return {printUredjaj == 2 || printUredjaj == 3, renderPrint == 0, renderPrint != 1};
}

}  // namespace kv::gui

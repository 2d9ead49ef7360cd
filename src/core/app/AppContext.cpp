#include "app/AppContext.h"

#include <filesystem>

#include "app/AppTexts.h"
#include "device/CurlTransport.h"
#include "register/InpDocument.h"
#include "register/Login.h"
#include "register/uDMGlavni.h"
#include "util/Prompter.h"

namespace kv {

AppContext::AppContext(std::string settingsPath, Prompter& p, std::string lockFolder, device::HttpTransport* transport)
    : settings(std::move(settingsPath), p), prompter(p), transport_(transport), lockFolder_(std::move(lockFolder)) {
    if (!transport_) {
        ownTransport_ = std::make_unique<device::CurlTransport>();
        transport_ = ownTransport_.get();
    }
    auto view = [this] { return deviceSettings(); };
    client1_ = std::make_unique<device::DeviceClient>(*transport_, view, &prompter);
    client2_ = std::make_unique<device::DeviceClient>(*transport_, view, &prompter);
    ledger_ = std::make_unique<device::RequestLedger>(
        (std::filesystem::path(settings.path()).parent_path() / "Requests.ledger").string());
    fisk_ = std::make_unique<device::Fiscalizer>(*client1_, invoice, [this] { return runSettings(); }, ledger_.get());
    watcher_ = std::make_unique<inbox::Watcher>(
        invoice, *fisk_,
        [this] {
            const auto& b = settings.Bafer;
            return inbox::WatcherSettings{b.text("InputFolder"), b.text("OutputFolder"), b.integer("PuniOdgovor") == 1};
        },
        prompter);
    fisk_->onResultStep = [this] { watcher_->ResultStep(); };
    // ".inp" files become the cash register's own invoices.
    inpRoad_ = std::make_unique<reg::RegisterInpRoad>([this] { return db_.get(); }, settings.KasaBaf, invoice, *fisk_,
                                                      ledger_.get(), &watcher_->FiskIzKase);
    watcher_->inp = inpRoad_.get();
    // The invoice last worked on is kept beside the settings file.
    invoice.setSaveFolder(std::filesystem::path(settings.path()).parent_path().string());
    invoice.onSaveError = [this](const std::string& m) { prompter.message(m, MsgKind::Error); };
    hooks.loadCashier.push_back([this] {
        if (db_) reg::ApplyStartupCashier(settings.KasaBaf, *db_);
    });
}

AppContext::~AppContext() = default;

device::DeviceSettings AppContext::deviceSettings() const {
    const auto& b = settings.Bafer;
    return {b.text("BaseURL"), b.text("Port"), b.text("Token"), b.text("PIN"), CBTest};
}

device::RunSettings AppContext::runSettings() const {
    const auto& b = settings.Bafer;
    device::RunSettings r;
    r.pin = b.text("PIN");
    r.testMode = CBTest;
    r.latinLabels = CBTest || CBVLPFR;
    r.printUredjaj = b.integer("PrintUredjaj");
    r.renderPrint = b.integer("RenderPrint");
    r.pos5880 = b.integer("POS-58-80");
    r.oldNacPl = b.integer("OldNacPl");
    r.printGtin = b.integer("PrintGtin");
    return r;
}

std::string AppContext::inputFolderRead() const {
    for (const auto& d : GlobalSettingDefs())
        if (std::string(d.key) == "InputFolder") return CutToChars(settings.readValue("Global", d), d.size);
    return {};
}

AppContext::StartResult AppContext::Start() {
    settings.StartUp();
    mutexName_ = platform::InstanceMutexName(inputFolderRead());
    if (!lock_.acquire(mutexName_, lockFolder_)) {
        prompter.message(lock_.error().empty() ? texts::kAlreadyRunning : lock_.error(), MsgKind::Error);
        return StartResult::Refused;
    }
    OpenDatabase();
    return StartResult::Ok;
}

std::string AppContext::DatabasePath() const {
    return (std::filesystem::path(settings.path()).parent_path() / reg::kDatabaseName).string();
}

void AppContext::OpenDatabase() {
    try {
        db_ = std::make_unique<reg::TDMGlavni>(DatabasePath());
        db_->serverLink = [this] { return settings.KasaBaf.integer("Server") == 1; };
    } catch (const std::exception& e) {
        prompter.message(e.what(), MsgKind::Error);
    }
}

std::string AppContext::Caption() const { return texts::kCaptionPrefix + inputFolderRead(); }

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

}  // namespace kv

namespace kv {
PrinterPageVisibility PrinterPageVisibilityFor(int64_t printUredjaj, int64_t renderPrint) {
    return {printUredjaj == 2 || printUredjaj == 3, renderPrint == 0, renderPrint != 1};
}
}  // namespace kv

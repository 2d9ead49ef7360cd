#include "app/AppContext.h"

#include <filesystem>

#include "app/AppTexts.h"
#include "device/CurlTransport.h"
#include "register/InpDocument.h"
#include "register/Login.h"
#include "register/uDMGlavni.h"
#include "util/Prompter.h"
#include "util/Utf8.h"

namespace kv {

AppContext::AppContext(std::string settingsPath, Prompter& p, std::string lockFolder, device::HttpTransport* transport)
    : settings(std::move(settingsPath), p), prompter(p), transport_(transport), lockFolder_(std::move(lockFolder)) {
    if (!transport_) {
        ownTransport_ = std::make_unique<device::CurlTransport>();
        transport_ = ownTransport_.get();
    }
    waiting_ = std::make_unique<device::WaitingTransport>(*transport_);
    auto view = [this] { return deviceSettings(); };
    client1_ = std::make_unique<device::DeviceClient>(*waiting_, view, &prompter);
    client2_ = std::make_unique<device::DeviceClient>(*waiting_, view, &prompter);
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
    watcher_->ledger = ledger_.get();
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
    return {b.text("BaseURL"), b.text("Port"), b.text("Token"), b.text("PIN"), testService};
}

device::RunSettings AppContext::runSettings() const {
    const auto& b = settings.Bafer;
    device::RunSettings r;
    r.pin = b.text("PIN");
    r.testMode = testService;
    r.latinLabels = testService || latinLabels;
    r.printUredjaj = b.integer("PrintUredjaj");
    r.renderPrint = b.integer("RenderPrint");
    r.pos5880 = b.integer("POS-58-80");
    r.oldNacPl = b.integer("OldNacPl");
    r.printGtin = b.integer("PrintGtin");
    return r;
}

std::string AppContext::inputFolderRead() const {
    for (const auto& d : GlobalSettingDefs())
        if (std::string(d.key) == "InputFolder") return FirstChars(settings.readValue("Global", d), static_cast<std::size_t>(d.size));
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

}  // namespace kv


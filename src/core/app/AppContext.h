#pragma once
// The application context: owns the settings, the single-instance lock and the
// hooks through which later subsystems join the start-up. The main window is a
// view over it; the headless service uses it without any window.
#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/Settings.h"
#include "device/DeviceClient.h"
#include "device/Fiscalizer.h"
#include "device/InvoiceModel.h"
#include "device/RequestLedger.h"
#include "inbox/Watcher.h"
#include "platform/Platform.h"

namespace kv {
namespace reg {
class TDMGlavni;
class RegisterInpRoad;
}

class Prompter;

class AppContext {
public:
    // `transport` carries the device requests; null uses libcurl.
    AppContext(std::string settingsPath, Prompter& prompter, std::string lockFolder = platform::LockFolder(),
               device::HttpTransport* transport = nullptr);
    ~AppContext();

    AppSettings settings;
    Prompter& prompter;

    // The test switches of the device page: not stored, off at every start.
    bool testService = false;  // the tax administration's test service: its address form and English answers
    bool latinLabels = false;  // tax labels in Latin letters (also with the test service)

    // The fiscal device road: the invoice in memory (saved beside the
    // settings file), two request sets and the run behind "Fiskalizuj".
    device::InvoiceModel invoice;
    device::DeviceClient& client1() { return *client1_; }
    device::DeviceClient& client2() { return *client2_; }
    device::Fiscalizer& fisk() { return *fisk_; }
    // Every request id sent, with the sale it stood for ("Requests.ledger"
    // beside the settings file).
    device::RequestLedger& ledger() { return *ledger_; }
    device::DeviceSettings deviceSettings() const;
    // How the device's requests are waited for (the window keeps repainting
    // meanwhile); none: in the caller.
    void setDeviceWaiter(device::WaitingTransport::Waiter waiter) { waiting_->setWaiter(std::move(waiter)); }
    device::RunSettings runSettings() const;

    // The input folder watcher; its result step follows every run.
    inbox::Watcher& watcher() { return *watcher_; }

    // The cash register's database "Kovira.sdb" beside the settings file,
    // opened by Start(); null when it could not be opened (the user was told
    // why, and everything but the cash register works).
    reg::TDMGlavni* db() { return db_.get(); }
    std::string DatabasePath() const;

    // Start-up up to the single-instance rule: settings file created with
    // defaults if missing and read; then the lock for the input folder taken.
    // On refusal the user is told (another instance, or the lock file's own
    // error) and nothing else may be touched.
    enum class StartResult { Ok, Refused };
    StartResult Start();

    // Notes for whoever keeps the log (the service's standard output, the
    // window's standard error); one line each.
    std::function<void(const std::string& line)> onLog;
    void log(const std::string& line) const {
        if (onLog) onLog(line);
    }

    // "Kovira " + InputFolder as read at start-up (the blank stays when empty).
    std::string Caption() const;
    std::string MutexName() const { return mutexName_; }

    // Steps of the start-up that other subsystems fill in; each may stay empty.
    struct Hooks {
        std::vector<std::function<void()>> fillImportDrivers;    // spreadsheet drivers
        std::vector<std::function<void()>> loadCashier;          // current cashier from the list
        std::vector<std::function<void()>> inputWatcherStartup;  // poll timer start
        std::vector<std::function<void()>> restoreSavedInvoice;  // Invoice/Items/Payment files
        std::vector<std::function<void()>> fillPrinterLists;     // printer selectors
        std::vector<std::function<void()>> serverDownload;       // first activation in server mode
        std::vector<std::function<void()>> cancelLinesEdit;      // Esc on the invoice page
    } hooks;
    static void Run(const std::vector<std::function<void()>>& hook) {
        for (const auto& h : hook)
            if (h) h();
    }

private:
    // InputFolder as read from the file at start-up, cut to its size.
    std::string inputFolderRead() const;
    std::unique_ptr<device::HttpTransport> ownTransport_;
    device::HttpTransport* transport_;
    std::unique_ptr<device::WaitingTransport> waiting_;
    std::unique_ptr<device::DeviceClient> client1_, client2_;
    std::unique_ptr<device::RequestLedger> ledger_;
    std::unique_ptr<device::Fiscalizer> fisk_;
    std::unique_ptr<inbox::Watcher> watcher_;
    std::unique_ptr<reg::TDMGlavni> db_;
    std::unique_ptr<reg::RegisterInpRoad> inpRoad_;
    void OpenDatabase();
    std::string lockFolder_;
    std::string mutexName_;
    platform::InstanceLock lock_;
};

}  // namespace kv


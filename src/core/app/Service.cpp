#include "app/Service.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <ostream>

#include "app/AppContext.h"
#include "app/IniFile.h"
#include "device/DeviceWords.h"
#include "inbox/FolderEvents.h"
#include "print/ReceiptChoice.h"
#include "util/Prompter.h"
#include "util/SafeText.h"

namespace kv {

std::optional<std::string> ServiceSettingsProblem(const std::string& settingsPath) {
    struct stat st {};
    if (::stat(settingsPath.c_str(), &st) != 0)
        return "Settings file " + settingsPath + ": " + std::strerror(errno);
    try {
        IniFile(settingsPath).load();
    } catch (const std::exception& e) {
        return e.what();
    }
    return std::nullopt;
}

void InstallRawReceiptPrinting(AppContext& ctx) {
    ctx.fisk().onPrint = [&ctx](int64_t) {
        const auto& inv = ctx.invoice.Invoice;
        const std::string number = inv.isEmpty() ? std::string() : inv.field("invoiceNumber").asString();
        try {
            print::SendTextReceipt(ctx.settings.Bafer, ctx.fisk().answer().journal, ctx.fisk().answer().verificationUrl, number);
        } catch (const std::exception& e) {
            ctx.prompter.message(e.what(), MsgKind::Error);
        }
    };
}

int FiscalizeSaved(AppContext& ctx, std::ostream& out) {
    ctx.settings.FillRecords({});
    for (const auto& e : ctx.invoice.Restore()) ctx.prompter.message(e, MsgKind::Error);
    device::FiscalOutcome outcome;
    try {
        outcome = ctx.fisk().Fiscalize();
    } catch (const std::exception& e) {
        out << "kovira: error: " << LogSafe(e.what()) << std::endl;
        return 2;
    }
    if (!outcome.done()) {
        out << "kovira: " << LogSafe(device::FailureWithDeviceWords(ctx.fisk(), ctx.client1())) << std::endl;
        return 2;
    }
    const auto& inv = ctx.invoice.Invoice;
    out << "kovira: PFR broj " << LogSafe(inv.field("PFRnumber").asString()) << ", PFR vrijeme "
        << LogSafe(inv.field("PFRvrijeme").asString()) << std::endl;
    return 0;
}

int RunService(AppContext& ctx, std::ostream& out, const std::atomic<bool>& stop) {
    using namespace std::chrono;
    ctx.settings.FillRecords({});
    const auto& b = ctx.settings.Bafer;
    const inbox::WatcherSettings folders{b.text("InputFolder"), b.text("OutputFolder"), b.integer("PuniOdgovor") == 1};
    if (auto problems = inbox::FolderProblems(folders, true); !problems.empty()) {
        for (const auto& p : problems) out << "kovira: error: " << LogSafe(p) << std::endl;
        return 2;
    }
    for (const auto& e : ctx.invoice.Restore()) out << "kovira: " << LogSafe(e) << std::endl;
    for (device::DeviceClient* c : {&ctx.client1(), &ctx.client2()})
        c->onAfterExecute = [&out](const device::DeviceClient& client) {
            const std::string words = device::DeviceRefusal(client.log().statusCode, client.log().rawText);
            out << "device: " << LogSafe(client.log().url) << " -> " << client.log().statusCode << " "
                << LogSafe(client.log().statusText) << (words.empty() ? "" : ": " + LogSafe(words)) << std::endl;
        };
    // Every invoice here comes from an input file, which stays until its
    // result file is on disk; recovery goes through that file, the request
    // record and the device, never through the saved copy of the model, so
    // the copies are not forced to disk one by one (four fsyncs per invoice).
    ctx.invoice.setDurableSaves(false);
    auto& w = ctx.watcher();
    w.skipBadFiles = true;
    w.onLog = [&out](const std::string& line) { out << "file: " << line << std::endl; };
    ctx.onLog = [&out](const std::string& line) { out << "kovira: " << LogSafe(line) << std::endl; };
    w.shouldStop = [&stop] { return stop.load(); };
    inbox::FolderEvents events(folders.inputFolder);
    out << "kovira: service on " << LogSafe(folders.inputFolder) << " -> " << LogSafe(folders.outputFolder)
        << ", device " << LogSafe(b.text("BaseURL")) << ":" << LogSafe(b.text("Port"))
        << (events.ok() ? "" : " (" + LogSafe(events.error()) + "; polling only)") << std::endl;
    w.StartUp();
    while (!stop) {
        const auto tickStart = steady_clock::now();
        w.setEnabled(true);  // nobody is there to press "Start"
        try {
            w.Tick();
        } catch (const std::exception& e) {
            out << "kovira: error: " << LogSafe(e.what()) << std::endl;
        }
        // Ticks are ScanTime apart from start to start, as the window's timer
        // fires; a ScanTime of 0 means no timed polling at all. A held file
        // is tried again when its pause is over. File events wake it at once.
        std::optional<steady_clock::time_point> due;
        if (int64_t scan = b.integer("ScanTime"); scan > 0) due = tickStart + milliseconds(scan);
        if (const auto& hold = w.hold()) due = due ? std::min(*due, hold->until) : hold->until;
        while (!stop) {
            auto slice = milliseconds(100);  // stop is looked at this often
            if (due) slice = std::min(slice, duration_cast<milliseconds>(*due - steady_clock::now()) + milliseconds(1));
            if (events.wait(slice)) break;
            if (due && steady_clock::now() >= *due) break;
        }
    }
    out << "kovira: service stopped" << std::endl;
    ctx.onLog = nullptr;  // `out` may not outlive the context
    w.onLog = nullptr;
    return 0;
}

}  // namespace kv

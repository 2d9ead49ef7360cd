// Kovira: fiscalisation client. One process per input folder.
//   kovira              the main window (offscreen when there is no display)
//   kovira --service    the input folder watcher without a window
//   kovira --fiscalize  sign the saved invoice once and print the outcome
//   kovira --demo-data  load the demo set into an empty register database
#include <QApplication>
#include <QGuiApplication>
#include <atomic>
#include <csignal>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <string>

#include "app/AppContext.h"
#include "app/Service.h"
#include "print/ReceiptChoice.h"
#include "app/uGlavnaFisk.h"
#include "platform/Platform.h"
#include "register/DemoData.h"
#include "register/uDMGlavni.h"
#include "util/LogPrompter.h"
#include "util/QtPrompter.h"
#include "print/uReceiptPrint.h"
#include "util/uProgress.h"

namespace {
std::atomic<bool> g_stop{false};
void OnStopSignal(int) { g_stop = true; }

std::string SettingsPath() { return kv::platform::SettingsPathFor(kv::platform::ExecutablePath()); }

int RunHeadless(int argc, char** argv, bool service) {
    // Messages go to the log; nobody is there to answer a question.
    kv::LogPrompter prompter(std::cout, false);
    // The service does not make up a settings file of its own: one that is
    // missing or unreadable is an administrator's mistake to hear about.
    if (service) {
        if (auto problem = kv::ServiceSettingsProblem(SettingsPath())) {
            std::cout << "kovira: error: " << *problem << std::endl;
            return 2;
        }
    }
    kv::AppContext ctx(SettingsPath(), prompter);
    if (ctx.Start() == kv::AppContext::StartResult::Refused) return 1;
    ctx.settings.FillRecords({});
    auto run = [&] {
        if (!service) return kv::FiscalizeSaved(ctx, std::cout);
        struct sigaction sa {};
        sa.sa_handler = OnStopSignal;
        sigemptyset(&sa.sa_mask);
        sigaction(SIGTERM, &sa, nullptr);
        sigaction(SIGINT, &sa, nullptr);
        return kv::RunService(ctx, std::cout, g_stop);
    };
    // Raw text receipts, or none: no graphics stack is loaded at all.
    if (!kv::print::ReceiptsNeedDrawing(ctx.settings.Bafer)) {
        kv::InstallRawReceiptPrinting(ctx);
        return run();
    }
    // Receipts are drawn for the printer even without a screen.
    if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QGuiApplication app(argc, argv);
    kv::gui::InstallReceiptPrinting(ctx, nullptr);
    struct Release {
        kv::AppContext& c;
        ~Release() { kv::gui::ReleaseReceiptPrinting(c); }
    } release{ctx};
    return run();
}
}  // namespace

int main(int argc, char** argv) {
    std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "--service" || mode == "--fiscalize") return RunHeadless(argc, argv, mode == "--service");
    if (mode == "--demo-data")
        return kv::reg::DemoDataCommand(kv::platform::ExecutableFolder() + "/" + kv::reg::kDatabaseName, std::cout);
    if (!mode.empty()) {
        std::cerr << "usage: kovira [--service | --fiscalize | --demo-data]" << std::endl;
        return 2;
    }

    // Without a display the window still runs, offscreen, so the same command
    // works on a headless machine.
    if (!std::getenv("QT_QPA_PLATFORM") && !std::getenv("DISPLAY") && !std::getenv("WAYLAND_DISPLAY"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    QApplication::setApplicationName("Kovira");
    // Hidden to the notification area is still running.
    QApplication::setQuitOnLastWindowClosed(false);

    // KOVIRA_PROMPTER=log sends every message box to standard error instead
    // (for machines nobody watches, and for the tests that start Kovira).
    const char* prompterMode = std::getenv("KOVIRA_PROMPTER");
    std::unique_ptr<kv::Prompter> prompter;
    kv::gui::QtPrompter* qtPrompter = nullptr;
    if (prompterMode && std::string(prompterMode) == "log") {
        prompter = std::make_unique<kv::LogPrompter>(std::cerr, true);
    } else {
        auto p = std::make_unique<kv::gui::QtPrompter>(nullptr, "Kovira");
        qtPrompter = p.get();
        prompter = std::move(p);
    }
    kv::gui::SetProgressPrompter(prompter.get());

    kv::AppContext ctx(SettingsPath(), *prompter);
    if (ctx.Start() == kv::AppContext::StartResult::Refused) return 1;
    ctx.onLog = [](const std::string& line) { std::cerr << "kovira: " << line << std::endl; };

    kv::gui::TGlavnaFisk window(ctx);
    if (qtPrompter) qtPrompter->setParent(&window);
    window.StartUp();
    return app.exec();
}

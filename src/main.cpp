// Kovira: fiscalisation client. One process per input folder.
#include <QApplication>
#include <cstdlib>
#include <memory>

#include "app/AppContext.h"
#include "app/uGlavnaFisk.h"
#include "platform/Platform.h"
#include "util/LogPrompter.h"
#include "util/QtPrompter.h"
#include "util/uProgress.h"

int main(int argc, char** argv) {
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
    const char* mode = std::getenv("KOVIRA_PROMPTER");
    // --fiscalize: sign the saved invoice once, print the outcome and end.
    bool fiscalizeOnce = argc > 1 && std::string(argv[1]) == "--fiscalize";
    if (fiscalizeOnce) mode = "log";
    std::unique_ptr<kv::Prompter> prompter;
    kv::gui::QtPrompter* qtPrompter = nullptr;
    if (mode && std::string(mode) == "log") {
        prompter = std::make_unique<kv::LogPrompter>(std::cerr, true);
    } else {
        auto p = std::make_unique<kv::gui::QtPrompter>(nullptr, "Kovira");
        qtPrompter = p.get();
        prompter = std::move(p);
    }
    kv::gui::SetProgressPrompter(prompter.get());

    kv::AppContext ctx(kv::platform::SettingsPathFor(kv::platform::ExecutablePath()), *prompter);
    if (ctx.Start() == kv::AppContext::StartResult::Refused) return 1;
    if (fiscalizeOnce) return kv::FiscalizeSaved(ctx, std::cout);

    kv::gui::TGlavnaFisk window(ctx);
    if (qtPrompter) qtPrompter->setParent(&window);
    window.StartUp();
    return app.exec();
}

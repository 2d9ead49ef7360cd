// kovira-fiscalsim: the simulated fiscal device as a program of its own, for
// the demo set-up and for trying Kovira by hand. Listens on 127.0.0.1 only.
//
//   kovira-fiscalsim [--port N] [--token T] [--pin P] [--no-pin] [--width 38|40] [--latin] [--quiet]
//
// --latin answers signed invoices and reports with "Uspješno" (Latin script),
// as some devices in the field do.
// --port 0 (the default) picks a free port. Either way the program prints
// "listening on 127.0.0.1:PORT" on standard output once it accepts requests,
// logs one line per request on standard error, and stops on SIGINT or SIGTERM.
#include "FiscalSimulator.h"

#include <QGuiApplication>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <mutex>
#include <string>

namespace {

int usage(const char* why) {
    std::cerr << "kovira-fiscalsim: " << why << "\n"
              << "usage: kovira-fiscalsim [--port N] [--token T] [--pin P] [--no-pin] [--width 38|40] [--latin] "
                 "[--quiet]\n";
    return 2;
}

bool parseInt(const std::string& s, int lo, int hi, int& out) {
    if (s.empty() || s.size() > 6) return false;
    int v = 0;
    for (char c : s) {
        if (c < '0' || c > '9') return false;
        v = v * 10 + (c - '0');
    }
    if (v < lo || v > hi) return false;
    out = v;
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    kv::sim::Config config;
    int port = 0;
    bool quiet = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&]() -> const char* { return i + 1 < argc ? argv[++i] : nullptr; };
        if (arg == "--port") {
            const char* v = value();
            if (!v || !parseInt(v, 0, 65535, port)) return usage("--port needs a number from 0 to 65535");
        } else if (arg == "--token") {
            const char* v = value();
            if (!v) return usage("--token needs a value");
            config.token = v;
        } else if (arg == "--pin") {
            const char* v = value();
            if (!v) return usage("--pin needs a value");
            config.pin = v;
        } else if (arg == "--no-pin") {
            config.pinRequired = false;
        } else if (arg == "--width") {
            const char* v = value();
            if (!v || !parseInt(v, 38, 40, config.journalWidth) || config.journalWidth == 39)
                return usage("--width is 38 or 40");
        } else if (arg == "--latin") {
            config.successMessage = "Uspješno";
        } else if (arg == "--quiet") {
            quiet = true;
        } else if (arg == "--help" || arg == "-h") {
            usage("a simulated fiscal device on 127.0.0.1");
            return 0;
        } else {
            return usage(("unknown argument " + arg).c_str());
        }
    }

    // Signals are taken synchronously below; block them before any thread
    // starts so that every thread inherits the mask.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    // The receipt pictures need Qt's text drawing, never a display.
    int qtArgc = 3;
    char arg0[] = "kovira-fiscalsim", arg1[] = "-platform", arg2[] = "offscreen";
    char* qtArgv[] = {arg0, arg1, arg2, nullptr};
    QGuiApplication app(qtArgc, qtArgv);

    if (!quiet) {
        static std::mutex logMutex;
        config.log = [](const std::string& line) {
            std::lock_guard lock(logMutex);
            std::cerr << line << std::endl;
        };
    }

    kv::sim::FiscalSimulator simulator(config);
    int bound = 0;
    try {
        bound = simulator.start(port);
    } catch (const std::exception& e) {
        std::cerr << "kovira-fiscalsim: " << e.what() << "\n";
        return 1;
    }
    std::cout << "listening on 127.0.0.1:" << bound << std::endl;

    int sig = 0;
    sigwait(&stopSignals, &sig);
    simulator.stop();
    return 0;
}

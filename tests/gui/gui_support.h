#pragma once
// Shared pieces of the window tests: screenshots, poppler's tools, and
// Kovira's context or main window started over a settings file of the test's
// own, alone or against the simulated device on loopback.
#include <QDir>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QWidget>
#include <QtTest>
#include <fstream>
#include <memory>
#include <string>

#include "FiscalSimulator.h"
#include "app/AppContext.h"
#include "app/uGlavnaFisk.h"
#include "sim_support.h"
#include "util/ScriptedPrompter.h"

namespace kv::test {

// The build's screenshot folder, made when missing.
inline QString ShotDir() {
    QString dir = qEnvironmentVariable("KOVIRA_SCREENSHOT_DIR", QDir::tempPath() + "/kovira-screenshots");
    QDir().mkpath(dir);
    return dir;
}

// Saves the widget as it looks under the build's screenshot folder.
inline void SaveShot(QWidget* w, const QString& name) { QVERIFY(w->grab().save(ShotDir() + "/" + name + ".png")); }

// Standard output of a tool (pdftotext, pdfinfo, pdftoppm); empty when it failed.
inline QString RunTool(const QString& tool, const QStringList& args) {
    QProcess p;
    p.start(tool, args);
    if (!p.waitForFinished(30000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) return {};
    return QString::fromUtf8(p.readAllStandardOutput());
}

// Kovira's context over `ini` written into `dir`, started; no window.
struct Context {
    std::unique_ptr<kv::ScriptedPrompter> prompter = std::make_unique<kv::ScriptedPrompter>();
    std::unique_ptr<kv::AppContext> ctx;

    bool start(const QTemporaryDir& dir, const std::string& ini) {
        std::ofstream(dir.filePath("kovira.ini").toStdString()) << ini;
        ctx = std::make_unique<kv::AppContext>(dir.filePath("kovira.ini").toStdString(), *prompter,
                                               dir.filePath("locks").toStdString());
        return ctx->Start() == kv::AppContext::StartResult::Ok;
    }
};

// Kovira's main window over `ini` written into `dir`, started and shown.
struct Window : Context {
    std::unique_ptr<kv::gui::TGlavnaFisk> win;

    bool start(const QTemporaryDir& dir, const std::string& ini) {
        if (!Context::start(dir, ini)) return false;
        win = std::make_unique<kv::gui::TGlavnaFisk>(*ctx);
        win->StartUp();
        win->showNormal();
        return QTest::qWaitForWindowExposed(win.get());
    }
    void stop() {
        win.reset();
        ctx.reset();
    }
    template <class T = QWidget>
    T* child(const char* name) {
        T* found = win->findChild<T*>(name);
        if (!found) qWarning("missing child %s", name);
        return found;
    }
};

// What the window tests against the simulated device share: a folder of
// their own, the simulator on loopback and the main window over settings
// that point at it. A test class derives from QObject and from this.
struct DeviceWindowFixture {
    QTemporaryDir dir;
    kv::sim::FiscalSimulator sim;
    Window w;
    std::unique_ptr<kv::ScriptedPrompter>& prompter = w.prompter;
    std::unique_ptr<kv::AppContext>& ctx = w.ctx;
    std::unique_ptr<kv::gui::TGlavnaFisk>& win = w.win;

    template <class T = QWidget>
    T* child(const char* name) {
        return w.child<T>(name);
    }
    // Starts the simulator with `cfg` and the window over settings that point
    // at it, followed by `settings` (more "[Global]" lines, other sections).
    bool startWithDevice(const kv::sim::Config& cfg, const std::string& settings) {
        const int port = StartSimulator(sim, cfg);
        if (port <= 0) {
            qWarning("the simulated device did not start");
            return false;
        }
        return w.start(dir, DeviceSettings(port) + settings);
    }
    void stopAll() {
        w.stop();
        sim.stop();
    }
};

}  // namespace kv::test

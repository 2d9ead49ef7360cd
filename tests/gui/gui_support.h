#pragma once
// Shared pieces of the window tests: screenshots and a main window started
// over a settings file of the test's own.
#include <QDir>
#include <QString>
#include <QTemporaryDir>
#include <QWidget>
#include <QtTest>
#include <fstream>
#include <memory>
#include <string>

#include "app/AppContext.h"
#include "app/uGlavnaFisk.h"
#include "util/ScriptedPrompter.h"

namespace kv::test {

// Saves the widget as it looks under the build's screenshot folder.
inline void SaveShot(QWidget* w, const QString& name) {
    QString dir = qEnvironmentVariable("KOVIRA_SCREENSHOT_DIR", QDir::tempPath() + "/kovira-screenshots");
    QDir().mkpath(dir);
    QVERIFY(w->grab().save(dir + "/" + name + ".png"));
}

// Kovira's main window over `ini` written into `dir`, started and shown.
struct Window {
    std::unique_ptr<kv::ScriptedPrompter> prompter = std::make_unique<kv::ScriptedPrompter>();
    std::unique_ptr<kv::AppContext> ctx;
    std::unique_ptr<kv::gui::TGlavnaFisk> win;

    bool start(const QTemporaryDir& dir, const std::string& ini) {
        std::ofstream(dir.filePath("kovira.ini").toStdString()) << ini;
        ctx = std::make_unique<kv::AppContext>(dir.filePath("kovira.ini").toStdString(), *prompter,
                                               dir.filePath("locks").toStdString());
        if (ctx->Start() != kv::AppContext::StartResult::Ok) return false;
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

}  // namespace kv::test

#include "util/DeviceWait.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QPointer>
#include <QThread>
#include <QTimer>
#include <QWidget>
#include <atomic>
#include <thread>

#include "util/uProgress.h"

namespace kv::gui {

namespace {
bool g_waiting = false;  // the window thread waits for a request now
constexpr int kShowAfterMs = 400;
}  // namespace

kv::device::HttpResult WaitForDevice(QWidget* owner, const kv::device::WaitingTransport::Request& request) {
    auto* app = QCoreApplication::instance();
    if (!app || QThread::currentThread() != app->thread() || g_waiting) return request();
    g_waiting = true;
    kv::device::HttpResult result;
    std::exception_ptr failure;
    QEventLoop loop;
    std::atomic<bool> done{false};
    std::thread worker([&] {
        try {
            result = request();
        } catch (...) {
            failure = std::current_exception();
        }
        done = true;
        QMetaObject::invokeMethod(&loop, "quit", Qt::QueuedConnection);
    });
    // A long wait is shown, unless the operation has a dialog of its own open.
    QPointer<QWidget> guard(owner);
    bool shown = false;
    QTimer later;
    later.setSingleShot(true);
    QObject::connect(&later, &QTimer::timeout, &loop, [&] {
        if (guard && !done && !FindProgress(guard)) {
            ShowProgress(guard, QStringLiteral("Kovira"), QString::fromUtf8("Čekam odgovor..."), QString(), false,
                         false, 0, 0);
            shown = true;
        }
    });
    later.start(kShowAfterMs);
    // Repaints and timers go on; clicks and keys wait, so no second
    // operation starts in the middle of this one.
    if (!done) loop.exec(QEventLoop::ExcludeUserInputEvents);
    worker.join();
    later.stop();
    if (shown && guard) EndProgress(guard, false);
    g_waiting = false;
    if (failure) std::rethrow_exception(failure);
    return result;
}

}  // namespace kv::gui

#pragma once
// The window never blocks on the device: a request runs on a thread of its
// own while the window's event loop goes on (repaints, timers), user input
// held back until the answer is there; after a moment "Čekam odgovor..."
// shows what it waits for.
#include "device/HttpTransport.h"

class QWidget;

namespace kv::gui {

// Runs `request` off the window thread and waits for it with the event loop
// running. Called from any other thread, or while another request of this
// kind is already waited for, it simply runs the request.
kv::device::HttpResult WaitForDevice(QWidget* owner, const kv::device::WaitingTransport::Request& request);

}  // namespace kv::gui

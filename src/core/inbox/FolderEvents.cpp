#include "inbox/FolderEvents.h"

#include <poll.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <thread>

namespace kv::inbox {

FolderEvents::FolderEvents(const std::string& folder) {
    fd_ = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (fd_ < 0) {
        error_ = std::string("inotify: ") + std::strerror(errno);
        return;
    }
    if (::inotify_add_watch(fd_, folder.c_str(), IN_CLOSE_WRITE | IN_MOVED_TO | IN_CREATE | IN_ATTRIB) < 0) {
        error_ = "Cannot watch " + folder + ": " + std::strerror(errno);
        ::close(fd_);
        fd_ = -1;
    }
}

FolderEvents::~FolderEvents() {
    if (fd_ >= 0) ::close(fd_);
}

bool FolderEvents::drain() {
    if (fd_ < 0) return false;
    bool any = false;
    alignas(inotify_event) char buf[8192];
    for (;;) {
        const ssize_t n = ::read(fd_, buf, sizeof buf);
        if (n > 0) {
            any = true;
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        return any;  // EAGAIN: nothing more
    }
}

bool FolderEvents::wait(std::chrono::milliseconds timeout) {
    if (timeout.count() < 0) timeout = std::chrono::milliseconds(0);
    if (fd_ < 0) {
        std::this_thread::sleep_for(timeout);
        return false;
    }
    pollfd p{fd_, POLLIN, 0};
    const int r = ::poll(&p, 1, static_cast<int>(timeout.count()));
    return r > 0 && drain();
}

}  // namespace kv::inbox

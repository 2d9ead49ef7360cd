#pragma once
// Wakes the watcher when files appear in the input folder (inotify), so a
// file is answered in milliseconds instead of at the next poll. The poll
// stays: network folders and missed events are still found by it.
#include <chrono>
#include <string>

namespace kv::inbox {

class FolderEvents {
public:
    // Watches `folder` for files created, written and closed, or moved in.
    // When that is not possible, ok() is false and error() says why; wait()
    // then only sleeps.
    explicit FolderEvents(const std::string& folder);
    ~FolderEvents();
    FolderEvents(const FolderEvents&) = delete;
    FolderEvents& operator=(const FolderEvents&) = delete;

    bool ok() const { return fd_ >= 0; }
    const std::string& error() const { return error_; }
    int fd() const { return fd_; }

    // Waits up to `timeout` for events; true when some arrived (all pending
    // ones are consumed).
    bool wait(std::chrono::milliseconds timeout);
    // Consumes pending events without waiting; true when there were some.
    bool drain();

private:
    int fd_ = -1;
    std::string error_;
};

}  // namespace kv::inbox

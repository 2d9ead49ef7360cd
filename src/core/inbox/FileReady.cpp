#include "inbox/FileReady.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>

namespace kv::inbox {

namespace {
struct Fd {
    int fd;
    ~Fd() {
        if (fd >= 0) ::close(fd);
    }
};

long long AgeMs(const struct stat& st) {
    struct timespec now {};
    ::clock_gettime(CLOCK_REALTIME, &now);
    return (now.tv_sec - st.st_mtim.tv_sec) * 1000LL + (now.tv_nsec - st.st_mtim.tv_nsec) / 1000000LL;
}
}  // namespace

Readiness ReadWhenReady(const std::string& path, std::string* bytes, std::string* error, int settleMs,
                        size_t maxBytes) {
    Fd f{::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC)};
    if (f.fd < 0) {
        if (errno == ENOENT) return Readiness::Gone;
        if (error) *error = std::strerror(errno);
        return Readiness::Failed;
    }
    struct stat st {};
    if (::fstat(f.fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        if (error) *error = "not a regular file";
        return Readiness::Failed;
    }
    // A read lease is refused while anyone has the file open for writing.
    bool leased = ::fcntl(f.fd, F_SETLEASE, F_RDLCK) == 0;
    if (!leased) {
        if (errno == EAGAIN || errno == EBUSY) return Readiness::Busy;
        if (AgeMs(st) < settleMs) return Readiness::Busy;
    }
    if (static_cast<size_t>(st.st_size) > maxBytes) {
        if (leased) ::fcntl(f.fd, F_SETLEASE, F_UNLCK);
        if (error) *error = "file larger than " + std::to_string(maxBytes) + " bytes";
        return Readiness::Failed;
    }
    std::string data;
    data.resize(static_cast<size_t>(st.st_size));
    size_t got = 0;
    while (true) {
        if (got == data.size()) data.resize(data.size() + 4096);
        ssize_t n = ::read(f.fd, data.data() + got, data.size() - got);
        if (n < 0) {
            if (errno == EINTR) continue;
            if (leased) ::fcntl(f.fd, F_SETLEASE, F_UNLCK);
            if (error) *error = std::strerror(errno);
            return Readiness::Failed;
        }
        if (n == 0) break;
        got += static_cast<size_t>(n);
        if (got > maxBytes) {
            if (leased) ::fcntl(f.fd, F_SETLEASE, F_UNLCK);
            if (error) *error = "file larger than " + std::to_string(maxBytes) + " bytes";
            return Readiness::Failed;
        }
    }
    data.resize(got);
    if (leased) ::fcntl(f.fd, F_SETLEASE, F_UNLCK);
    *bytes = std::move(data);
    return Readiness::Ready;
}

}  // namespace kv::inbox

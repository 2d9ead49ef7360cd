#include "print/RawPrinter.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>

#include <cups/cups.h>
#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kv::print {

namespace {

using Clock = std::chrono::steady_clock;

// A POS printer that does not answer within these is off, unplugged or
// jammed; the operator is better served by the message than by a frozen till.
constexpr int kConnectTimeoutMs = 5000;
constexpr int kSendStallMs = 10000;  // longest wait for the printer to take more bytes
constexpr double kCupsIoTimeoutSec = 15.0;

PrintError Fail(const std::string& target, const std::string& what) {
    return PrintError(kProvjeriPrinter, target + ": " + what);
}

std::string ErrnoText(int err) { return std::strerror(err); }

// ---- file:PATH ---------------------------------------------------------------

std::atomic<unsigned> g_tempCounter{0};

class FileTarget final : public RawPrinter {
public:
    explicit FileTarget(std::string path) : path_(std::move(path)) {}
    ~FileTarget() override { abort(); }

    std::string target() const override { return "file:" + path_; }

    void open(const std::string&) override {
        abort();
        if (path_.empty()) throw Fail(target(), "no file name");
        // A device or pipe (a printer at /dev/usb/lp0, say) is written as it
        // is; a regular file is replaced whole so a reader never sees half a job.
        struct stat st{};
        direct_ = ::stat(path_.c_str(), &st) == 0 && !S_ISREG(st.st_mode);
        if (direct_) {
            if (S_ISDIR(st.st_mode)) throw Fail(target(), "is a folder");
            fd_ = ::open(path_.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY);
        } else {
            // Beside the target, so that the rename stays within one file system.
            const auto cut = path_.rfind('/') == std::string::npos ? 0 : path_.rfind('/') + 1;
            tmp_ = path_.substr(0, cut) + "." + path_.substr(cut) + "." + std::to_string(::getpid()) + "." +
                   std::to_string(g_tempCounter++) + ".tmp";
            fd_ = ::open(tmp_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        }
        if (fd_ < 0) {
            const int err = errno;
            tmp_.clear();
            throw Fail(target(), ErrnoText(err));
        }
    }

    void write(std::string_view bytes) override {
        if (fd_ < 0) throw Fail(target(), "no job is open");
        for (std::size_t done = 0; done < bytes.size();) {
            const ssize_t n = ::write(fd_, bytes.data() + done, bytes.size() - done);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) {
                const int err = n < 0 ? errno : EIO;
                abort();
                throw Fail(target(), ErrnoText(err));
            }
            done += static_cast<std::size_t>(n);
        }
    }

    void close() override {
        if (fd_ < 0) throw Fail(target(), "no job is open");
        int err = 0;
        if (!direct_ && ::fsync(fd_) != 0) err = errno;
        if (::close(fd_) != 0 && err == 0) err = errno;
        fd_ = -1;
        if (err == 0 && !direct_ && ::rename(tmp_.c_str(), path_.c_str()) != 0) err = errno;
        if (err != 0) {
            abort();
            throw Fail(target(), ErrnoText(err));
        }
        tmp_.clear();
    }

    void abort() noexcept override {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
        if (!tmp_.empty()) ::unlink(tmp_.c_str());
        tmp_.clear();
    }

private:
    std::string path_;
    std::string tmp_;  // the job's bytes until close renames them into place
    bool direct_ = false;
    int fd_ = -1;
};

// ---- socket://HOST:PORT ------------------------------------------------------

class SocketTarget final : public RawPrinter {
public:
    SocketTarget(std::string uri, std::string host, std::string port)
        : uri_(std::move(uri)), host_(std::move(host)), port_(std::move(port)) {}
    ~SocketTarget() override { abort(); }

    std::string target() const override { return uri_; }

    void open(const std::string&) override {
        abort();
        addrinfo hints{};
        hints.ai_family = AF_UNSPEC;
        hints.ai_socktype = SOCK_STREAM;
        hints.ai_flags = AI_NUMERICSERV;
        addrinfo* list = nullptr;
        if (const int rc = ::getaddrinfo(host_.c_str(), port_.c_str(), &hints, &list); rc != 0)
            throw Fail(target(), ::gai_strerror(rc));
        std::string lastError = "no address";
        const auto deadline = Clock::now() + std::chrono::milliseconds(kConnectTimeoutMs);
        for (addrinfo* a = list; a && fd_ < 0; a = a->ai_next) {
            const int fd = ::socket(a->ai_family, a->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, a->ai_protocol);
            if (fd < 0) {
                lastError = ErrnoText(errno);
                continue;
            }
            int err = ::connect(fd, a->ai_addr, a->ai_addrlen) == 0 ? 0 : errno;
            if (err == EINPROGRESS) {
                err = WaitWritable(fd, deadline) ? 0 : ETIMEDOUT;
                socklen_t len = sizeof err;
                if (err == 0 && ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) != 0) err = errno;
            }
            if (err == 0) {
                fd_ = fd;
            } else {
                lastError = err == ETIMEDOUT ? "no answer within " + std::to_string(kConnectTimeoutMs) + " ms"
                                             : ErrnoText(err);
                ::close(fd);
            }
        }
        ::freeaddrinfo(list);
        if (fd_ < 0) throw Fail(target(), lastError);
    }

    void write(std::string_view bytes) override {
        if (fd_ < 0) throw Fail(target(), "no job is open");
        for (std::size_t done = 0; done < bytes.size();) {
            const ssize_t n = ::send(fd_, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
            if (n > 0) {
                done += static_cast<std::size_t>(n);
                continue;
            }
            const int err = n < 0 ? errno : EIO;
            if (err == EINTR) continue;
            if ((err == EAGAIN || err == EWOULDBLOCK) &&
                WaitWritable(fd_, Clock::now() + std::chrono::milliseconds(kSendStallMs)))
                continue;
            abort();
            throw Fail(target(), err == EAGAIN || err == EWOULDBLOCK
                                     ? "the printer took no bytes for " + std::to_string(kSendStallMs) + " ms"
                                     : ErrnoText(err));
        }
    }

    void close() override {
        if (fd_ < 0) throw Fail(target(), "no job is open");
        // An orderly end: the printer gets every byte, then the end of the stream.
        const int err = ::shutdown(fd_, SHUT_WR) == 0 ? 0 : errno;
        ::close(fd_);
        fd_ = -1;
        if (err != 0) throw Fail(target(), ErrnoText(err));
    }

    void abort() noexcept override {
        if (fd_ < 0) return;
        // Reset rather than finish, so bytes still queued are dropped.
        linger l{1, 0};
        ::setsockopt(fd_, SOL_SOCKET, SO_LINGER, &l, sizeof l);
        ::close(fd_);
        fd_ = -1;
    }

private:
    static bool WaitWritable(int fd, Clock::time_point deadline) {
        for (;;) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
            if (left <= 0) return false;
            pollfd p{fd, POLLOUT, 0};
            const int rc = ::poll(&p, 1, static_cast<int>(left));
            if (rc > 0) return true;  // writable, or an error the next call reports
            if (rc == 0) return false;
            if (errno != EINTR) return false;
        }
    }

    std::string uri_, host_, port_;
    int fd_ = -1;
};

// ---- CUPS queue --------------------------------------------------------------

class CupsTarget final : public RawPrinter {
public:
    explicit CupsTarget(std::string queue) : queue_(std::move(queue)) {}
    ~CupsTarget() override { abort(); }

    std::string target() const override {
        return "CUPS queue '" + (queue_.empty() ? std::string("(default)") : queue_) + "' on " + server_;
    }

    void open(const std::string& jobTitle) override {
        abort();
        // libcups keeps the server it found first for the life of the thread;
        // asking afresh makes a changed CUPS_SERVER (or client.conf) count.
        cupsSetServer(nullptr);
        server_ = cupsServer();
        const int port = ippPort();
        if (server_.empty() || server_[0] != '/') server_ += ":" + std::to_string(port);
        http_ = httpConnect2(cupsServer(), port, nullptr, AF_UNSPEC, cupsEncryption(), 1, kConnectTimeoutMs, nullptr);
        if (!http_) throw Fail(target(), std::string("cannot connect: ") + cupsLastErrorString());
        httpSetTimeout(http_, kCupsIoTimeoutSec, nullptr, nullptr);

        name_ = queue_;
        if (name_.empty()) {
            const char* def = cupsGetDefault2(http_);
            if (!def) throw failAndAbort("no default queue");
            name_ = def;
        }
        jobId_ = cupsCreateJob(http_, name_.c_str(), jobTitle.c_str(), 0, nullptr);
        if (jobId_ == 0) throw failAndAbort(std::string("job refused: ") + cupsLastErrorString());
        sending_ = true;
        if (cupsStartDocument(http_, name_.c_str(), jobId_, jobTitle.c_str(), CUPS_FORMAT_RAW, 1) !=
            HTTP_STATUS_CONTINUE)
            throw failAndAbort(std::string("raw document refused: ") + cupsLastErrorString());
    }

    void write(std::string_view bytes) override {
        if (!sending_) throw Fail(target(), "no job is open");
        if (bytes.empty()) return;
        if (cupsWriteRequestData(http_, bytes.data(), bytes.size()) != HTTP_STATUS_CONTINUE)
            throw failAndAbort(std::string("sending failed: ") + cupsLastErrorString());
    }

    void close() override {
        if (!sending_) throw Fail(target(), "no job is open");
        const ipp_status_t status = cupsFinishDocument(http_, name_.c_str());
        sending_ = false;
        if (status > IPP_STATUS_OK_CONFLICTING)
            throw failAndAbort(std::string("job not accepted: ") + cupsLastErrorString());
        jobId_ = 0;
        disconnect();
    }

    void abort() noexcept override {
        if (jobId_ != 0) {
            // A document half sent ties up the connection; drop it and cancel
            // the job over a fresh one.
            if (sending_) {
                disconnect();
                http_ = httpConnect2(cupsServer(), ippPort(), nullptr, AF_UNSPEC, cupsEncryption(), 1,
                                     kConnectTimeoutMs, nullptr);
            }
            if (http_) cupsCancelJob2(http_, name_.c_str(), jobId_, 0);
            jobId_ = 0;
        }
        sending_ = false;
        disconnect();
    }

private:
    PrintError failAndAbort(const std::string& what) {
        PrintError e = Fail(target(), what);
        abort();
        return e;
    }
    void disconnect() noexcept {
        if (http_) httpClose(http_);
        http_ = nullptr;
    }

    std::string queue_;
    std::string name_;    // the queue the job went to
    std::string server_;  // for the log
    http_t* http_ = nullptr;
    int jobId_ = 0;
    bool sending_ = false;  // between the start and the end of the document
};

}  // namespace

PrinterTarget ParsePrinterTarget(const std::string& printerName) {
    PrinterTarget t;
    t.name = printerName;
    if (printerName.rfind("file:", 0) == 0) {
        t.kind = PrinterTarget::Kind::File;
        t.path = printerName.substr(5);
        return t;
    }
    if (printerName.rfind("socket://", 0) != 0) {
        t.queue = printerName;
        return t;
    }
    // "socket://HOST:PORT[/...][?...]"
    t.kind = PrinterTarget::Kind::Socket;
    std::string rest = printerName.substr(std::strlen("socket://"));
    rest = rest.substr(0, rest.find_first_of("/?"));
    std::string port = "9100";
    if (!rest.empty() && rest[0] == '[') {
        const auto close = rest.find(']');
        if (close == std::string::npos) throw Fail(printerName, "malformed address");
        t.host = rest.substr(1, close - 1);
        if (close + 1 < rest.size()) {
            if (rest[close + 1] != ':') throw Fail(printerName, "malformed address");
            port = rest.substr(close + 2);
        }
    } else if (const auto colon = rest.rfind(':'); colon != std::string::npos) {
        t.host = rest.substr(0, colon);
        port = rest.substr(colon + 1);
    } else {
        t.host = rest;
    }
    const bool portOk = !port.empty() && port.size() <= 5 &&
                        port.find_first_not_of("0123456789") == std::string::npos && std::stoi(port) >= 1 &&
                        std::stoi(port) <= 65535;
    if (t.host.empty() || !portOk) throw Fail(printerName, "malformed address");
    t.port = std::stoi(port);
    return t;
}

std::unique_ptr<RawPrinter> OpenRawTarget(const PrinterTarget& target) {
    switch (target.kind) {
        case PrinterTarget::Kind::File: return std::make_unique<FileTarget>(target.path);
        case PrinterTarget::Kind::Socket:
            return std::make_unique<SocketTarget>(
                target.name.empty() ? "socket://" + target.host + ":" + std::to_string(target.port) : target.name,
                target.host, std::to_string(target.port));
        case PrinterTarget::Kind::Cups: break;
    }
    return std::make_unique<CupsTarget>(target.queue);
}

void SendRawJob(RawPrinter& printer, const std::string& title, std::string_view bytes) {
    RawJob job(printer, title);
    job.write(bytes);
    job.close();
}

}  // namespace kv::print

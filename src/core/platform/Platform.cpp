#include "platform/Platform.h"

#include <fcntl.h>
#include <langinfo.h>
#include <locale.h>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <stdexcept>

namespace kv::platform {

std::string ExecutablePath() {
    std::error_code ec;
    auto p = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec) return {};
    return p.string();
}

std::string ExecutableFolder() {
    return std::filesystem::path(ExecutablePath()).parent_path().string();
}

std::string SettingsPathFor(const std::string& executablePath) {
    std::filesystem::path p(executablePath);
    p.replace_extension(".ini");
    return p.string();
}

std::string InstanceMutexName(const std::string& inputFolder) {
    std::string name = "Kovira_" + inputFolder;
    for (char& c : name)
        if (c == '\\') c = '_';
    return name;
}

namespace {
uint64_t Fnv1a64(const std::string& s) {
    uint64_t h = 1469598103934665603ull;
    for (unsigned char c : s) {
        h ^= c;
        h *= 1099511628211ull;
    }
    return h;
}
}  // namespace

std::string InstanceLockFileName(const std::string& mutexName) {
    static const char* hex = "0123456789ABCDEF";
    std::string out;
    out.reserve(mutexName.size() + 16);
    for (unsigned char c : mutexName) {
        bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                     c == '.' || c == '_' || c == '-';
        // A leading dot would hide the file; encode it like any other byte.
        if (plain && !(out.empty() && c == '.')) {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    // File names stop at 255 bytes; keep a readable head and make the rest a
    // hash of the whole name so that distinct names stay distinct.
    constexpr size_t kMax = 200;
    if (out.size() > kMax) {
        char buf[17];
        std::snprintf(buf, sizeof buf, "%016llx", static_cast<unsigned long long>(Fnv1a64(mutexName)));
        out = out.substr(0, kMax - 17) + "~" + buf;
    }
    return out + ".lock";
}

std::string LockFolder() {
    if (const char* rt = std::getenv("XDG_RUNTIME_DIR"); rt && *rt) return std::string(rt) + "/kovira";
    // A service started without a session still meets the user's window here.
    std::string userRuntime = "/run/user/" + std::to_string(getuid());
    struct stat st {};
    if (::stat(userRuntime.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == getuid())
        return userRuntime + "/kovira";
    return "/tmp/kovira-" + std::to_string(getuid());
}

InstanceLock::~InstanceLock() {
    if (fd_ < 0) return;
    // Removed while still held: whoever opens the name next makes a new file
    // and finds it unlocked; acquire() below never trusts an unlinked one.
    ::unlink(path_.c_str());
    ::close(fd_);
}

bool InstanceLock::acquire(const std::string& mutexName, const std::string& lockFolder) {
    if (fd_ >= 0) return true;
    error_.clear();
    std::error_code ec;
    std::filesystem::create_directories(lockFolder, ec);
    if (ec) {
        error_ = "Cannot create the lock folder " + lockFolder + ": " + ec.message();
        return false;
    }
    ::chmod(lockFolder.c_str(), 0700);
    path_ = lockFolder + "/" + InstanceLockFileName(mutexName);
    for (int attempt = 0; attempt < 100; ++attempt) {
        int fd = ::open(path_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        if (fd < 0) {
            error_ = "Cannot create the lock file " + path_ + ": " + std::strerror(errno);
            return false;
        }
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            const int err = errno;
            ::close(fd);
            if (err == EWOULDBLOCK) return false;  // another instance holds it
            error_ = "Cannot lock " + path_ + ": " + std::strerror(err);
            return false;
        }
        // The holder before us may have removed the file between our open and
        // our lock: a lock on a file that is no longer under the name counts for nothing.
        struct stat mine {}, named {};
        if (::fstat(fd, &mine) != 0 || ::stat(path_.c_str(), &named) != 0 || mine.st_ino != named.st_ino ||
            mine.st_dev != named.st_dev) {
            ::close(fd);
            continue;
        }
        // The full name inside the file lets an operator see who holds it.
        if (::ftruncate(fd, 0) == 0) {
            std::string line = mutexName + "\n" + std::to_string(getpid()) + "\n";
            [[maybe_unused]] auto n = ::write(fd, line.data(), line.size());
        }
        fd_ = fd;
        return true;
    }
    error_ = "Cannot lock " + path_ + ": the file keeps being replaced";
    return false;
}

std::string NewGuid() {
    std::array<unsigned char, 16> b{};
    size_t got = 0;
    while (got < b.size()) {
        ssize_t n = ::getrandom(b.data() + got, b.size() - got, 0);
        if (n < 0) {
            if (errno == EINTR) continue;
            throw std::runtime_error(std::string("getrandom: ") + std::strerror(errno));
        }
        got += static_cast<size_t>(n);
    }
    b[6] = static_cast<unsigned char>((b[6] & 0x0F) | 0x40);  // version 4
    b[8] = static_cast<unsigned char>((b[8] & 0x3F) | 0x80);  // RFC 4122 variant
    char out[39];
    std::snprintf(out, sizeof out,
                  "{%02X%02X%02X%02X-%02X%02X-%02X%02X-%02X%02X-%02X%02X%02X%02X%02X%02X}", b[0], b[1],
                  b[2], b[3], b[4], b[5], b[6], b[7], b[8], b[9], b[10], b[11], b[12], b[13], b[14], b[15]);
    return out;
}

namespace {
std::optional<char> g_decimalSep;
std::optional<std::string> g_codePage;

char LocaleDecimalSeparator() {
    const char* names[] = {"LC_ALL", "LC_NUMERIC", "LANG"};
    for (const char* var : names) {
        const char* v = std::getenv(var);
        if (!v || !*v) continue;
        locale_t loc = ::newlocale(LC_NUMERIC_MASK, v, nullptr);
        if (!loc) return '.';
        const char* radix = ::nl_langinfo_l(RADIXCHAR, loc);
        char sep = (radix && *radix) ? radix[0] : '.';
        ::freelocale(loc);
        return sep;
    }
    return '.';
}
}  // namespace

char DecimalSeparator() {
    if (!g_decimalSep) g_decimalSep = LocaleDecimalSeparator();
    return *g_decimalSep;
}

void SetDecimalSeparator(char sep) { g_decimalSep = sep; }

std::string FileCodePage() {
    if (!g_codePage) {
        const char* v = std::getenv("KOVIRA_CODEPAGE");
        g_codePage = (v && *v) ? std::string(v) : std::string("windows-1250");
    }
    return *g_codePage;
}

void SetFileCodePage(const std::string& codePage) { g_codePage = codePage; }

}  // namespace kv::platform

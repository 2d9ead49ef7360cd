#include "device/RequestLedger.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "device/DeviceClient.h"
#include "device/InvoiceModel.h"
#include "util/Digest.h"

namespace kv::device {

std::optional<std::string> RequestIdProblem(const std::string& requestId) {
    const std::string id = DeviceClient::ReqID(requestId);
    if (id.empty()) return "RequestId is empty";
    if (id.size() > 32) return "RequestId is longer than 32 characters";
    for (unsigned char c : requestId) {
        if (c < 0x20 || c > 0x7E) return "RequestId holds a character that is not printable ASCII";
        if (c == '/' || c == '\\') return "RequestId cannot name a result file";
    }
    if (requestId == "." || requestId == "..") return "RequestId cannot name a result file";
    return std::nullopt;
}

std::string PercentEncode(const std::string& text) {
    static const char* hex = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : text) {
        if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '.' ||
            c == '_' || c == '~') {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    return out;
}

namespace {
// One field of the canonical text: its name, its length and its text, so no
// choice of values can make two different sales read the same.
void AddField(std::string& out, const std::string& name, const std::string& text) {
    out += name;
    out += '=';
    out += std::to_string(text.size());
    out += ':';
    out += text;
    out += ';';
}

void AddTable(std::string& out, const char* table, const MemTable& t, std::initializer_list<const char*> skip) {
    out += table;
    out += '#';
    out += std::to_string(t.recordCount());
    out += '\n';
    const auto& defs = t.fieldDefs();
    for (std::size_t r = 0; r < t.recordCount(); ++r) {
        for (std::size_t f = 0; f < defs.size(); ++f) {
            if (defs[f].kind != FieldKind::Data) continue;
            bool skipped = false;
            for (const char* s : skip) skipped = skipped || defs[f].name == s;
            if (skipped) continue;
            AddField(out, defs[f].name, FieldText(defs[f], t.valueAt(r, f)));
        }
        out += '\n';
    }
}

std::string Escape(const std::string& s) {
    std::string out;
    for (char c : s) {
        switch (c) {
            case '\\': out += "\\\\"; break;
            case '\t': out += "\\t"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            default: out += c;
        }
    }
    return out;
}

std::string Unescape(const std::string& s) {
    std::string out;
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] != '\\' || i + 1 == s.size()) {
            out += s[i];
            continue;
        }
        char n = s[++i];
        out += n == 't' ? '\t' : n == 'n' ? '\n' : n == 'r' ? '\r' : n;
    }
    return out;
}

bool IsDigest(const std::string& s) {
    if (s.size() != 64) return false;
    for (char c : s)
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
    return true;
}
}  // namespace

std::string SaleDigest(const InvoiceModel& model) {
    std::string canon;
    AddTable(canon, "Invoice", model.Invoice, {"PFRnumber", "PFRvrijeme", "RequestId", "dateAndTimeOfIssue"});
    AddTable(canon, "Items", model.Items, {});
    AddTable(canon, "Payment", model.Payment, {});
    return Sha256Hex(canon);
}

RequestLedger::RequestLedger(std::string path) : path_(std::move(path)) {}

RequestLedger::~RequestLedger() {
    if (fd_ >= 0 && unsynced_) ::fdatasync(fd_);
    if (fd_ >= 0) ::close(fd_);
}

void RequestLedger::openFile() {
    if (fd_ >= 0 || path_.empty()) return;
    fd_ = ::open(path_.c_str(), O_RDWR | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd_ < 0) throw LedgerError("Cannot open the request record '" + path_ + "': " + std::strerror(errno));
    // A line cut short by a power cut must not swallow the next one.
    struct stat st {};
    if (::fstat(fd_, &st) == 0 && st.st_size > 0) {
        char last = 0;
        if (::pread(fd_, &last, 1, st.st_size - 1) == 1 && last != '\n') {
            if (::write(fd_, "\n", 1) != 1)
                throw LedgerError("Cannot write the request record '" + path_ + "': " + std::strerror(errno));
        }
    }
}

void RequestLedger::readNew() {
    if (path_.empty()) return;
    openFile();
    std::vector<char> buf(1 << 16);
    for (;;) {
        const ssize_t n = ::pread(fd_, buf.data(), buf.size(), readOffset_);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) throw LedgerError("Cannot read the request record '" + path_ + "': " + std::strerror(errno));
        if (n == 0) break;
        readOffset_ += n;
        partial_.append(buf.data(), static_cast<std::size_t>(n));
        std::size_t start = 0;
        for (std::size_t nl; (nl = partial_.find('\n', start)) != std::string::npos; start = nl + 1) {
            std::vector<std::string> f;
            std::size_t from = start;
            for (std::size_t tab; (tab = partial_.find('\t', from)) < nl; from = tab + 1)
                f.push_back(partial_.substr(from, tab - from));
            f.push_back(partial_.substr(from, nl - from));
            // A line of any other shape (cut short, edited by hand) is passed over.
            if (f.size() != 6 || f[0].size() != 1 || !IsDigest(f[2])) continue;
            const char s = f[0][0];
            if (s != 'S' && s != 'F' && s != 'R') continue;
            LedgerEntry e;
            e.state = static_cast<LedgerEntry::State>(s);
            e.digest = f[2];
            e.number = Unescape(f[3]);
            e.time = Unescape(f[4]);
            e.url = Unescape(f[5]);
            entries_[Unescape(f[1])] = std::move(e);
        }
        partial_.erase(0, start);
    }
}

std::optional<LedgerEntry> RequestLedger::find(const std::string& reqId) {
    readNew();
    auto it = entries_.find(reqId);
    if (it == entries_.end()) return std::nullopt;
    return it->second;
}

void RequestLedger::append(const std::string& reqId, const LedgerEntry& e, bool sync) {
    if (!path_.empty()) {
        readNew();
        const std::string line = std::string(1, static_cast<char>(e.state)) + "\t" + Escape(reqId) + "\t" + e.digest +
                                 "\t" + Escape(e.number) + "\t" + Escape(e.time) + "\t" + Escape(e.url) + "\n";
        auto fail = [this] {
            return LedgerError("Cannot write the request record '" + path_ + "': " + std::strerror(errno));
        };
        // One write with O_APPEND: the line lands whole after whatever another instance wrote.
        ssize_t n;
        do n = ::write(fd_, line.data(), line.size());
        while (n < 0 && errno == EINTR);
        if (n != static_cast<ssize_t>(line.size())) throw fail();
        if (sync && defer_) unsynced_ = true;
        else if (sync && ::fdatasync(fd_) != 0) throw fail();
    }
    entries_[reqId] = e;
}

void RequestLedger::deferSyncs(bool on) {
    if (!on) Sync();
    defer_ = on;
}

void RequestLedger::Sync() {
    if (!unsynced_) return;
    if (::fdatasync(fd_) != 0)
        throw LedgerError("Cannot write the request record '" + path_ + "': " + std::strerror(errno));
    unsynced_ = false;
}

void RequestLedger::recordSent(const std::string& reqId, const std::string& digest) {
    append(reqId, LedgerEntry{LedgerEntry::State::Sent, digest, {}, {}, {}}, false);
}

void RequestLedger::recordSigned(const std::string& reqId, const std::string& digest, const std::string& number,
                                 const std::string& time, const std::string& url) {
    append(reqId, LedgerEntry{LedgerEntry::State::Signed, digest, number, time, url}, true);
}

void RequestLedger::recordRefused(const std::string& reqId, const std::string& digest) {
    append(reqId, LedgerEntry{LedgerEntry::State::Refused, digest, {}, {}, {}}, true);
}

}  // namespace kv::device

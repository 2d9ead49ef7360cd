#pragma once
// A request id stands for one sale. The ledger is Kovira's own durable
// record of every request id it has sent to the device: the digest of the
// sale it stood for, and once the device signed it, what the device
// returned. With it a repeated file is answered without a second signature,
// an id reused for another sale is refused before it is sent, and an
// invoice left in flight by a crash is recognised when the device is asked.
//
// The record is an append-only text file beside the settings file, one line
// per change; the last line for an id counts. Two instances of Kovira that
// share the folder append to the same file and read each other's lines.
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <unordered_map>

namespace kv::device {

class InvoiceModel;

// What a request id may be before it is sent: the id as the device gets it
// (braces and dashes removed, see DeviceClient::ReqID) is 1 to 32 printable
// ASCII characters, and RequestId + ".kvr" names a plain file (no "/" or
// "\", not "." or ".."). nullopt when it is fine, else why not.
std::optional<std::string> RequestIdProblem(const std::string& requestId);

// Percent-encodes everything but unreserved characters (A-Z a-z 0-9 - . _ ~),
// so an id can stand in a URL path without becoming a query or another segment.
std::string PercentEncode(const std::string& text);

// Hex SHA-256 of the sale in `model`: the header's own fields but its fiscal
// number and time, request id and time of issue, every item and every
// payment. The same sale sent again gives the same digest.
std::string SaleDigest(const InvoiceModel& model);

struct LedgerEntry {
    enum class State : char {
        Sent = 'S',     // sent; whether the device signed it is not known
        Signed = 'F',   // signed: number, time and URL below
        Refused = 'R',  // the device clearly did not sign it: the id is free again
    };
    State state = State::Sent;
    std::string digest;
    std::string number, time, url;
};

class LedgerError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class RequestLedger {
public:
    // Empty path: kept in memory only.
    explicit RequestLedger(std::string path = {});
    ~RequestLedger();
    RequestLedger(const RequestLedger&) = delete;
    RequestLedger& operator=(const RequestLedger&) = delete;

    const std::string& path() const { return path_; }

    // The last record of the id (lines appended by another instance are
    // read first). Throws LedgerError when the file cannot be read.
    std::optional<LedgerEntry> find(const std::string& reqId);

    // Each appends one line. Signed and Refused lines are forced to disk
    // before they return; a Sent line is not, because recovery never needs
    // it alone (the input file and the device's own answer stand in).
    // Throws LedgerError when the line cannot be written.
    void recordSent(const std::string& reqId, const std::string& digest);
    void recordSigned(const std::string& reqId, const std::string& digest, const std::string& number,
                      const std::string& time, const std::string& url);
    void recordRefused(const std::string& reqId, const std::string& digest);

    // While deferring, Signed and Refused lines are written but not forced
    // to disk until Sync(): a caller that answers several invoices together
    // syncs once before any of their input files is deleted. Switching
    // deferral off syncs what is outstanding.
    void deferSyncs(bool on);
    // Forces the lines written so far to disk. Throws LedgerError.
    void Sync();
    // The lines written so far were forced to disk by a sync of the whole
    // file system the record is on.
    void syncedWithFileSystem() { unsynced_ = false; }

    std::size_t size() const { return entries_.size(); }

private:
    void openFile();
    void readNew();
    void append(const std::string& reqId, const LedgerEntry& e, bool sync);

    std::string path_;
    int fd_ = -1;
    std::int64_t readOffset_ = 0;
    std::string partial_;  // a line whose end has not been read yet
    bool defer_ = false;
    bool unsynced_ = false;  // lines written while deferring
    std::unordered_map<std::string, LedgerEntry> entries_;
};

}  // namespace kv::device

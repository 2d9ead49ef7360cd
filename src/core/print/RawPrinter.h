#pragma once
// A printer that takes bytes as they are: a CUPS queue printing raw, a file,
// or a network POS printer on a TCP port. One job at a time: open, write any
// number of times, close. A job that fails is discarded, never left open.
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>

namespace kv::print {

// What the operator is told whenever the printer cannot take the bytes.
inline constexpr const char* kProvjeriPrinter = "Provjeri printer!";

// A printer that cannot take a raw job. what() is the operator's text;
// detail() says what went wrong, for the log.
class PrintError : public std::runtime_error {
public:
    PrintError(const std::string& userText, std::string detail)
        : std::runtime_error(userText), userText_(userText), detail_(std::move(detail)) {}
    const std::string& userText() const noexcept { return userText_; }
    const std::string& detail() const noexcept { return detail_; }

private:
    std::string userText_;
    std::string detail_;
};

class RawPrinter {
public:
    virtual ~RawPrinter() = default;
    // Starts a job. Throws PrintError when the printer cannot take one.
    virtual void open(const std::string& jobTitle) = 0;
    // Adds bytes to the open job. Throws PrintError; the job is then discarded.
    virtual void write(std::string_view bytes) = 0;
    // Ends the job; the bytes are with the printer afterwards. Throws
    // PrintError, and the job is then discarded.
    virtual void close() = 0;
    // Discards an open job (nothing of it is printed where the target allows
    // that). Does nothing when no job is open.
    virtual void abort() noexcept = 0;
    // Where the bytes go, for the log.
    virtual std::string target() const = 0;
};

// Where raw jobs go, read once from the setting that names the printer:
//   "file:PATH"           the job's bytes replace the file PATH (written to a
//                         temporary name and renamed into place on close);
//                         a PATH that is a device or a pipe (/dev/usb/lp0)
//                         is written directly;
//   "socket://HOST:PORT"  a TCP connection (port 9100 when none is given),
//                         with bounded connect and send times; a path or
//                         query after the address is ignored, an IPv6 host
//                         is written in brackets;
//   anything else         the CUPS queue of that name, printing raw
//                         (CUPS_FORMAT_RAW); an empty name is the server's
//                         default queue. The server is the one CUPS itself
//                         would use (CUPS_SERVER, client.conf, default).
struct PrinterTarget {
    enum class Kind { File, Socket, Cups };
    Kind kind = Kind::Cups;
    std::string path;   // File
    std::string host;   // Socket, without brackets
    int port = 9100;    // Socket
    std::string queue;  // Cups; empty: the default queue
    std::string name;   // the setting as written, for the log
};

// Throws PrintError (the operator's kProvjeriPrinter) for a "socket://"
// name without a host or with a port that is not 1 to 65535.
PrinterTarget ParsePrinterTarget(const std::string& printerName);

// The printer of a target. Nothing is contacted until a job is opened.
std::unique_ptr<RawPrinter> OpenRawTarget(const PrinterTarget& target);

// A job on `printer` that is discarded unless closed: whatever leaves the
// scope early, exception or return, aborts it.
class RawJob {
public:
    RawJob(RawPrinter& printer, const std::string& title) : printer_(printer) {
        printer_.open(title);
        open_ = true;
    }
    ~RawJob() {
        if (open_) printer_.abort();
    }
    RawJob(const RawJob&) = delete;
    RawJob& operator=(const RawJob&) = delete;

    void write(std::string_view bytes) { printer_.write(bytes); }
    void close() {
        open_ = false;  // a failing close discards the job itself
        printer_.close();
    }

private:
    RawPrinter& printer_;
    bool open_ = false;
};

// One whole job: open with `title`, the bytes, close.
void SendRawJob(RawPrinter& printer, const std::string& title, std::string_view bytes);

}  // namespace kv::print

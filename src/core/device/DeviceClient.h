#pragma once
// One request set for the fiscal device: it composes the address, sends the
// commands, keeps the log of the last request and answer, and the table view
// of that answer. The main window owns two of them (set 1 for everything,
// set 2 for the cash-desk summary); each has its own log and table.
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "device/HttpTransport.h"
#include "device/ResponseTable.h"

namespace kv {
class Prompter;
}

namespace kv::device {

// What the client reads from the settings at the start of every request.
struct DeviceSettings {
    std::string baseUrl;  // scheme and host, e.g. "http://127.0.0.1"
    std::string port;     // digits only, normally
    std::string token;    // bearer token; in test mode also the first path segment
    std::string pin;
    bool test = false;    // "Test sa PURS LPFR": the test service's address form
};

// The last request and answer, as the log boxes of the setup page show them.
struct DeviceLog {
    std::string url;              // address of the last request, set before it is sent
    // The fields below change only when a request got an HTTP answer; a
    // transport failure leaves the previous answer in place.
    std::string statusText;       // reason phrase, e.g. "OK"
    int statusCode = 0;
    std::string jsonIndented;     // the answer indented; empty when it is not JSON
    std::string rawText;          // the answer as received
    std::string lastRequestBody;  // the last invoice request, indented (ShowRequestBody)
};

// Deepest nesting of objects and arrays that Kovira reads from a device.
inline constexpr std::size_t kMaxJsonDepth = 128;

// The text indented with four blanks, numbers exactly as written; empty when
// it is not one valid JSON value or is nested deeper than kMaxJsonDepth.
std::string IndentJson(std::string_view text);

class DeviceClient {
public:
    using SettingsView = std::function<DeviceSettings()>;

    // `prompter` may be null: the invoice command then reports a failed
    // request only through lastError().
    DeviceClient(HttpTransport& transport, SettingsView settings, Prompter* prompter = nullptr,
                 ResponseLimits limits = {});
    DeviceClient(const DeviceClient&) = delete;
    DeviceClient& operator=(const DeviceClient&) = delete;

    // The device commands. Each sends one request with a fresh header list
    // ("Authorization: Bearer <token>" first, also with an empty token) and
    // returns success by its own rule. A request that got no HTTP answer fails
    // at once and leaves the log and table as they were.
    bool CmdAttention();  // GET .../attention, status 200
    bool CmdStatus();     // GET .../status, status 200
    bool CmdSendPin();    // POST .../pin, the PIN as text/plain, status 200
    bool CmdLast();       // GET .../invoices/last?...; browser put on "invoiceResponse"; a row there
    // GET .../invoices/request/<ReqID> (test: .../invoices/<ReqID>); a row at the top level.
    bool CmdReprint(const std::string& requestId);
    // POST .../invoices with "RequestId: <ReqID>" and the JSON body; status 200.
    // The body is shown in log().lastRequestBody before sending; a request
    // that got no answer shows its error text through the prompter.
    bool CmdInvoice(const std::string& requestId, const std::string& body);

    struct Outcome {
        bool executed = false;  // an HTTP answer arrived (any status)
        int status = 0;
        std::string error;      // why not, when !executed and something was sent
    };

    // A request outside the command set (cash desk, console). `pathOrUrl`
    // starting with "/" goes to BaseURL + ":" + Port + path, whatever the
    // test flag; anything else is taken as the complete address. The body
    // is sent when given, with "Content-Type" when `contentType` is not
    // empty. Logs, table and browser are updated as for the commands; the
    // answer is not judged and errors are left to the caller.
    Outcome Execute(const std::string& method, const std::string& pathOrUrl, const std::string& body = {},
                    const std::string& contentType = {});

    // The console's "Pošalji komandu": `command` is one of ConsoleCommands()
    // (an empty one does nothing); GET to ".../api/<command>" in the form the
    // test flag selects, "pin" as POST with the PIN as text/plain.
    Outcome ConsoleCommand(const std::string& command);
    static const std::vector<std::string>& ConsoleCommands();

    // BaseURL + ":" + Port + normalPath, or in test mode
    // BaseURL + ":" + Port + "/" + Token + testPath; nothing trimmed or added.
    std::string Url(std::string_view normalPath, std::string_view testPath) const;

    // Puts `body` into the request log, indented when it is JSON (as is otherwise).
    void ShowRequestBody(std::string_view body);

    // The request id as the device gets it: every "{", "}" and "-" removed.
    static std::string ReqID(const std::string& requestId);
    // The device accepted the PIN: the raw answer is exactly "0100" with its quotes.
    static bool PinAccepted(const std::string& rawText);

    const DeviceLog& log() const { return log_; }
    ResponseTable& response() { return response_; }
    const ResponseTable& response() const { return response_; }
    // Text of the last request that got no answer; cleared by an answered one.
    const std::string& lastError() const { return lastError_; }

    // Called with the address just before a request goes out (EdComm).
    std::function<void(const std::string& url)> onBeforeSend;
    // Called after an answered request, once log, table and browser are
    // updated (the window refreshes its log boxes and the root list).
    std::function<void(const DeviceClient&)> onAfterExecute;

private:
    HttpRequest request(const DeviceSettings& s, const char* method, std::string url) const;
    Outcome send(const HttpRequest& req, const std::string& browserRoot = {});
    static std::string compose(const DeviceSettings& s, std::string_view normalPath, std::string_view testPath);

    HttpTransport& transport_;
    SettingsView settings_;
    Prompter* prompter_;
    DeviceLog log_;
    ResponseTable response_;
    std::string lastError_;
};

}  // namespace kv::device

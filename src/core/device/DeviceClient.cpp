#include "device/DeviceClient.h"

#include <rapidjson/memorystream.h>
#include <rapidjson/prettywriter.h>
#include <rapidjson/reader.h>
#include <rapidjson/stringbuffer.h>

#include <algorithm>

#include "device/JsonText.h"
#include "device/RequestLedger.h"
#include "util/Prompter.h"

namespace kv::device {

namespace {
const std::string kInvoiceRoot = "invoiceResponse";

// The reader hands numbers over as their source text; PrettyWriter's own
// RawNumber would write that text in quotes, turning 9.9099 into "9.9099".
class IndentWriter : public rapidjson::PrettyWriter<rapidjson::StringBuffer> {
public:
    using PrettyWriter::PrettyWriter;
    bool RawNumber(const Ch* text, rapidjson::SizeType length, bool /*copy*/)
    {
        return RawValue(text, length, rapidjson::kNumberType);
    }
    bool String(const Ch* text, rapidjson::SizeType length, bool copy)
    {
        return IsUtf8Text(text, length) && PrettyWriter::String(text, length, copy);
    }
    bool Key(const Ch* text, rapidjson::SizeType length, bool copy)
    {
        return IsUtf8Text(text, length) && PrettyWriter::Key(text, length, copy);
    }
    // Indentation grows with the square of the nesting: an answer nested
    // thousands deep would take gigabytes. Past the limit it is not shown as JSON.
    bool StartObject() { return ++depth_ <= kMaxJsonDepth && PrettyWriter::StartObject(); }
    bool StartArray() { return ++depth_ <= kMaxJsonDepth && PrettyWriter::StartArray(); }
    bool EndObject(rapidjson::SizeType n = 0)
    {
        --depth_;
        return PrettyWriter::EndObject(n);
    }
    bool EndArray(rapidjson::SizeType n = 0)
    {
        --depth_;
        return PrettyWriter::EndArray(n);
    }

private:
    std::size_t depth_ = 0;
};
}  // namespace

std::string IndentJson(std::string_view text)
{
    if (text.find('\0') != std::string_view::npos)
        return {};
    rapidjson::MemoryStream in(text.data(), text.size());
    rapidjson::StringBuffer out;
    IndentWriter writer(out);
    writer.SetIndent(' ', 4);
    rapidjson::Reader reader;
    constexpr unsigned flags =
        rapidjson::kParseIterativeFlag | rapidjson::kParseNumbersAsStringsFlag | rapidjson::kParseValidateEncodingFlag;
    if (reader.Parse<flags>(in, writer).IsError())
        return {};
    return std::string(out.GetString(), out.GetSize());
}

DeviceClient::DeviceClient(HttpTransport& transport, SettingsView settings, Prompter* prompter, ResponseLimits limits)
    : transport_(transport), settings_(std::move(settings)), prompter_(prompter), response_(limits)
{
}

std::string DeviceClient::compose(const DeviceSettings& s, std::string_view normalPath, std::string_view testPath)
{
    std::string url = s.baseUrl + ":" + s.port;
    if (s.test) {
        url += "/";
        url += s.token;
        url += testPath;
    } else {
        url += normalPath;
    }
    return url;
}

std::string DeviceClient::Url(std::string_view normalPath, std::string_view testPath) const
{
    return compose(settings_(), normalPath, testPath);
}

HttpRequest DeviceClient::request(const DeviceSettings& s, const char* method, std::string url) const
{
    HttpRequest req;
    req.method = method;
    req.url = std::move(url);
    req.headers.emplace_back("Authorization", "Bearer " + s.token);
    return req;
}

DeviceClient::Outcome DeviceClient::send(const HttpRequest& req, const std::string& browserRoot)
{
    log_.url = req.url;
    if (onBeforeSend)
        onBeforeSend(req.url);

    HttpResult r = transport_.execute(req);
    if (!r.transportOk) {
        lastError_ = r.error.empty() ? std::string("The request to the device failed") : r.error;
        return {false, 0, lastError_};
    }
    lastError_.clear();
    log_.statusText = std::move(r.statusText);
    log_.statusCode = r.status;
    log_.jsonIndented = IndentJson(r.body);
    log_.rawText = std::move(r.body);
    response_.setAnswer(log_.rawText);
    response_.resetBrowser(browserRoot);
    if (onAfterExecute)
        onAfterExecute(*this);
    return {true, log_.statusCode, {}};
}

bool DeviceClient::CmdAttention()
{
    const DeviceSettings s = settings_();
    return send(request(s, "GET", compose(s, "/api/attention", "/api/v3/attention"))).status == 200;
}

bool DeviceClient::CmdStatus()
{
    const DeviceSettings s = settings_();
    return send(request(s, "GET", compose(s, "/api/status", "/api/v3/status"))).status == 200;
}

bool DeviceClient::CmdSendPin()
{
    const DeviceSettings s = settings_();
    HttpRequest req = request(s, "POST", compose(s, "/api/pin", "/api/v3/pin"));
    req.headers.emplace_back("Content-Type", "text/plain");
    req.body = s.pin;
    return send(req).status == 200;
}

bool DeviceClient::CmdLast()
{
    const DeviceSettings s = settings_();
    const HttpRequest req = request(s, "GET",
                                    compose(s, "/api/invoices/last?receiptLayout=Slip&imageFormat=Png",
                                            "/api/v3/invoices/last?receiptLayout=Slip&imageFormat=Png"));
    return send(req, kInvoiceRoot).executed && response_.rowCount() > 0;
}

bool DeviceClient::CmdReprint(const std::string& requestId)
{
    const DeviceSettings s = settings_();
    // Encoded: an id holding "?" or "/" must not turn into a query or
    // another path, where the device would answer for a different invoice.
    const std::string id = PercentEncode(ReqID(requestId));
    const HttpRequest req = request(s, "GET", compose(s, "/api/invoices/request/" + id, "/api/v3/invoices/" + id));
    return send(req).executed && response_.rowCount() > 0;
}

bool DeviceClient::CmdInvoice(const std::string& requestId, const std::string& body)
{
    const DeviceSettings s = settings_();
    HttpRequest req = request(s, "POST", compose(s, "/api/invoices", "/api/v3/invoices"));
    req.headers.emplace_back("RequestId", ReqID(requestId));
    req.headers.emplace_back("Content-Type", "application/json");
    req.body = body;
    ShowRequestBody(body);
    const Outcome o = send(req);
    if (!o.executed) {
        if (prompter_)
            prompter_->message(o.error, MsgKind::Error);
        return false;
    }
    return o.status == 200;
}

DeviceClient::Outcome DeviceClient::Execute(const std::string& method, const std::string& pathOrUrl,
                                            const std::string& body, const std::string& contentType)
{
    const DeviceSettings s = settings_();
    std::string url = !pathOrUrl.empty() && pathOrUrl.front() == '/' ? s.baseUrl + ":" + s.port + pathOrUrl : pathOrUrl;
    HttpRequest req = request(s, method.c_str(), std::move(url));
    if (!contentType.empty())
        req.headers.emplace_back("Content-Type", contentType);
    req.body = body;
    return send(req);
}

const std::vector<std::string>& DeviceClient::ConsoleCommands()
{
    static const std::vector<std::string> commands{"attention", "pin", "environment-parameters", "status",
                                                   "certificate"};
    return commands;
}

DeviceClient::Outcome DeviceClient::ConsoleCommand(const std::string& command)
{
    if (command.empty())
        return {};
    const DeviceSettings s = settings_();
    const bool pin = command == "pin";
    HttpRequest req = request(s, pin ? "POST" : "GET", compose(s, "/api/" + command, "/api/v3/" + command));
    if (pin) {
        req.headers.emplace_back("Content-Type", "text/plain");
        req.body = s.pin;
    }
    return send(req);
}

void DeviceClient::ShowRequestBody(std::string_view body)
{
    std::string indented = IndentJson(body);
    log_.lastRequestBody = indented.empty() ? std::string(body) : std::move(indented);
}

std::string DeviceClient::ReqID(const std::string& requestId)
{
    std::string id = requestId;
    std::erase_if(id, [](char c) { return c == '{' || c == '}' || c == '-'; });
    return id;
}

bool DeviceClient::PinAccepted(const std::string& rawText)
{
    return rawText == "\"0100\"";
}

}  // namespace kv::device

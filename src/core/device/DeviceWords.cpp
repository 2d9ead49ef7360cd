#include "device/DeviceWords.h"

#include <rapidjson/document.h>

#include <vector>

#include "device/DeviceClient.h"
#include "device/Fiscalizer.h"
#include "util/SafeText.h"
#include "util/Utf8.h"

namespace kv::device {

namespace {

std::string Trim(std::string_view s) {
    std::size_t b = 0, e = s.size();
    while (b < e && static_cast<unsigned char>(s[b]) <= ' ') ++b;
    while (e > b && static_cast<unsigned char>(s[e - 1]) <= ' ') --e;
    return std::string(s.substr(b, e - b));
}

// One line, blanks for control characters, bounded.
std::string OneLine(std::string_view text) {
    std::string s = Trim(LineSafe(text));
    if (s.size() <= kMaxDeviceWords) return s;
    return CutToBytes(s, kMaxDeviceWords) + "...";
}

bool IsSuccessText(const std::string& messages) {
    const std::string head = FirstChars(messages, 3);
    return head == "Suc" || head == "Усп" || head == "Usp";
}

// String values under a member, depth first (modelState: {"field": ["text"]}).
void CollectStrings(const rapidjson::Value& v, std::vector<std::string>& out, int depth = 0) {
    if (depth > 4 || out.size() >= 8) return;
    if (v.IsString()) {
        out.emplace_back(v.GetString(), v.GetStringLength());
    } else if (v.IsArray()) {
        for (const auto& e : v.GetArray()) CollectStrings(e, out, depth + 1);
    } else if (v.IsObject()) {
        for (const auto& m : v.GetObject()) CollectStrings(m.value, out, depth + 1);
    }
}

std::string MemberText(const rapidjson::Value& obj, const char* name) {
    auto it = obj.FindMember(name);
    if (it == obj.MemberEnd()) return {};
    std::vector<std::string> parts;
    CollectStrings(it->value, parts);
    std::string text;
    for (const auto& p : parts) {
        std::string t = Trim(p);
        if (t.empty()) continue;
        if (!text.empty()) text += "; ";
        text += t;
    }
    return text;
}

}  // namespace

std::string DeviceRefusal(int status, std::string_view body) {
    if (status < 400 && status != 200) return {};
    if (body.size() > (1u << 20)) return {};  // not a reason anybody wrote
    rapidjson::Document doc;
    doc.Parse<rapidjson::kParseNumbersAsStringsFlag>(body.data(), body.size());
    if (doc.HasParseError()) {
        if (status == 200) return {};
        // Plain text may be read as it is; an HTML error page may not.
        std::string text = Trim(body);
        if (text.empty() || text.front() == '<') return {};
        return OneLine(text);
    }
    if (doc.IsString()) {
        if (status == 200) return {};
        return OneLine(std::string_view(doc.GetString(), doc.GetStringLength()));
    }
    if (!doc.IsObject()) return {};
    if (status == 200) {
        std::string messages = MemberText(doc, "messages");
        if (messages.empty() || IsSuccessText(messages)) return {};
        return OneLine(messages);
    }
    std::string text;
    for (const char* name : {"messages", "message", "Message", "error", "errorMessage", "title", "detail"}) {
        text = MemberText(doc, name);
        if (!text.empty()) break;
    }
    for (const char* name : {"modelState", "ModelState", "errors"}) {
        std::string more = MemberText(doc, name);
        if (more.empty()) continue;
        text += text.empty() ? more : " (" + more + ")";
        break;
    }
    return OneLine(text);
}

std::string WithDeviceWords(const std::string& text, const std::string& words) {
    if (words.empty() || text.find(words) != std::string::npos) return text;
    if (text.empty()) return words;
    return text + "\n" + words;
}

std::string RefusalOfLastRun(const Fiscalizer& fisk, const DeviceClient& client) {
    const std::string& failure = fisk.FiskGreska;
    if (failure.empty() || !client.lastError().empty()) return {};
    if (failure == msg::kStateUnknown || failure == msg::kRequestIdReused || failure == msg::kBadRequestId) return {};
    const DeviceLog& log = client.log();
    const bool invoiceStep =
        failure == msg::kFiscalError || failure == msg::kNotSuccessful || failure == msg::kInvoiceError;
    if (invoiceStep) {
        // Only the invoice request's own answer speaks for it.
        const std::string path = log.url.substr(0, log.url.find('?'));
        const std::string_view tail = "/invoices";
        if (path.size() < tail.size() || path.compare(path.size() - tail.size(), tail.size(), tail) != 0) return {};
    }
    return DeviceRefusal(log.statusCode, log.rawText);
}

std::string FailureWithDeviceWords(const Fiscalizer& fisk, const DeviceClient& client) {
    return WithDeviceWords(fisk.FiskGreska, RefusalOfLastRun(fisk, client));
}

}  // namespace kv::device

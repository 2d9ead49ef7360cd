#include "device/CurlTransport.h"

#include <curl/curl.h>

#include <algorithm>
#include <cctype>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string_view>

namespace kv::device {
namespace {

void globalInitOnce()
{
    static std::once_flag once;
    std::call_once(once, [] {
        if (curl_global_init(CURL_GLOBAL_DEFAULT) != CURLE_OK)
            throw std::runtime_error("libcurl could not be initialised");
    });
}

bool iequals(std::string_view a, std::string_view b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

// A header line must stay one line: a CR or LF in a name or value (say a
// token pasted with a line break) would let it inject further headers.
bool cleanHeaderPart(std::string_view s)
{
    return s.find_first_of(std::string_view("\r\n\0", 3)) == std::string_view::npos;
}

bool validName(std::string_view name)
{
    if (name.empty() || !cleanHeaderPart(name))
        return false;
    return std::none_of(name.begin(), name.end(), [](char c) { return c == ':' || c == ';' || c == ' ' || c == '\t'; });
}

bool validMethod(std::string_view method)
{
    return !method.empty() &&
           std::all_of(method.begin(), method.end(), [](char c) { return c >= 'A' && c <= 'Z'; });
}

struct CurlSlist {
    curl_slist* list = nullptr;
    ~CurlSlist() { curl_slist_free_all(list); }
    bool append(const std::string& line)
    {
        curl_slist* grown = curl_slist_append(list, line.c_str());
        if (!grown)
            return false;
        list = grown;
        return true;
    }
};

struct Receive {
    std::string* body;
    std::string* statusText;
    std::size_t limit;
    bool tooLarge = false;
};

size_t onBody(char* data, size_t size, size_t count, void* user)
{
    auto* rx = static_cast<Receive*>(user);
    const size_t n = size * count;
    if (rx->body->size() + n > rx->limit) {
        rx->tooLarge = true;
        return 0;  // aborts the transfer with CURLE_WRITE_ERROR
    }
    rx->body->append(data, n);
    return n;
}

// Every status line ("HTTP/1.1 200 OK") replaces the reason phrase, so an
// interim "100 Continue" leaves the final answer's text.
size_t onHeader(char* data, size_t size, size_t count, void* user)
{
    auto* rx = static_cast<Receive*>(user);
    const size_t n = size * count;
    std::string_view line(data, n);
    if (line.size() >= 5 && line.substr(0, 5) == "HTTP/") {
        while (!line.empty() && (line.back() == '\r' || line.back() == '\n'))
            line.remove_suffix(1);
        rx->statusText->clear();
        const size_t sp1 = line.find(' ');
        if (sp1 != std::string_view::npos) {
            const size_t sp2 = line.find(' ', sp1 + 1);
            if (sp2 != std::string_view::npos)
                rx->statusText->assign(line.substr(sp2 + 1));
        }
    }
    return n;
}

HttpResult failure(std::string message)
{
    HttpResult r;
    r.transportOk = false;
    r.error = std::move(message);
    return r;
}

}  // namespace

CurlTransport::CurlTransport(CurlTransportConfig config) : config_(config)
{
    globalInitOnce();
    handle_ = curl_easy_init();
    if (!handle_)
        throw std::runtime_error("libcurl could not create a request handle");
}

CurlTransport::~CurlTransport()
{
    curl_easy_cleanup(handle_);
}

HttpResult CurlTransport::execute(const HttpRequest& request)
{
    if (!validMethod(request.method))
        return failure("Invalid HTTP method '" + request.method + "'");

    CurlSlist headers;
    bool hasAccept = false, hasAcceptCharset = false, hasContentType = false, hasExpect = false;
    for (const auto& [name, value] : request.headers) {
        if (!validName(name) || !cleanHeaderPart(value))
            return failure("Invalid header '" + name + "'");
        hasAccept |= iequals(name, "Accept");
        hasAcceptCharset |= iequals(name, "Accept-Charset");
        hasContentType |= iequals(name, "Content-Type");
        hasExpect |= iequals(name, "Expect");
        // "Name;" is libcurl's way of sending a header with an empty value;
        // "Name:" would remove the header instead.
        if (!headers.append(value.empty() ? name + ";" : name + ": " + value))
            return failure("Out of memory building the request headers");
    }
    if (!hasAccept)
        headers.append(std::string("Accept: ") + kAccept);
    if (!hasAcceptCharset)
        headers.append(std::string("Accept-Charset: ") + kAcceptCharset);
    // Switch off headers libcurl would otherwise invent: the form content
    // type of a POST and "Expect: 100-continue" for larger bodies, which
    // costs a round trip (or a second's wait) on small device servers.
    if (!hasContentType)
        headers.append("Content-Type:");
    if (!hasExpect)
        headers.append("Expect:");

    CURL* h = handle_;
    curl_easy_reset(h);  // options only; the connection cache survives

    HttpResult result;
    Receive rx{&result.body, &result.statusText, config_.maxAnswerBytes};
    char errbuf[CURL_ERROR_SIZE] = {};

    curl_easy_setopt(h, CURLOPT_ERRORBUFFER, errbuf);
    curl_easy_setopt(h, CURLOPT_URL, request.url.c_str());
    curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(h, CURLOPT_PATH_AS_IS, 1L);
    curl_easy_setopt(h, CURLOPT_NOPROXY, "*");
    curl_easy_setopt(h, CURLOPT_PROXY, "");
    curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT_MS, config_.connectTimeoutMs);
    curl_easy_setopt(h, CURLOPT_TIMEOUT_MS, config_.requestTimeoutMs);
    curl_easy_setopt(h, CURLOPT_HTTPHEADER, headers.list);
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, onBody);
    curl_easy_setopt(h, CURLOPT_WRITEDATA, &rx);
    curl_easy_setopt(h, CURLOPT_HEADERFUNCTION, onHeader);
    curl_easy_setopt(h, CURLOPT_HEADERDATA, &rx);

    const std::string& m = request.method;
    // libcurl sends a request again, unasked, when the reused connection it
    // went out on dies before any answer. For an invoice that could mean a
    // second signature, so requests that change the device's state always
    // open a connection of their own; only GET and HEAD reuse one.
    if (m != "GET" && m != "HEAD") curl_easy_setopt(h, CURLOPT_FRESH_CONNECT, 1L);
    if (m == "GET" && request.body.empty()) {
        curl_easy_setopt(h, CURLOPT_HTTPGET, 1L);
    } else if (m == "HEAD") {
        curl_easy_setopt(h, CURLOPT_NOBODY, 1L);
    } else {
        if (!request.body.empty() || m == "POST" || m == "PUT" || m == "PATCH") {
            curl_easy_setopt(h, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(request.body.size()));
            curl_easy_setopt(h, CURLOPT_POSTFIELDS, request.body.data());
        }
        if (m != "POST")
            curl_easy_setopt(h, CURLOPT_CUSTOMREQUEST, m.c_str());
    }

    const CURLcode rc = curl_easy_perform(h);
    // The handle must not keep pointers into this call's locals.
    curl_easy_setopt(h, CURLOPT_ERRORBUFFER, nullptr);
    curl_easy_setopt(h, CURLOPT_HTTPHEADER, nullptr);

    if (rc != CURLE_OK) {
        if (rx.tooLarge)
            return failure("The answer is larger than " + std::to_string(config_.maxAnswerBytes) + " bytes");
        return failure(errbuf[0] ? std::string(errbuf) : std::string(curl_easy_strerror(rc)));
    }
    long status = 0;
    curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &status);
    result.transportOk = true;
    result.status = static_cast<int>(status);
    return result;
}

}  // namespace kv::device

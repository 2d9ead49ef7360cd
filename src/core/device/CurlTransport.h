#pragma once
// HttpTransport over libcurl. One easy handle is kept for the life of the
// object, so consecutive requests to the device reuse the open connection
// (attention, status and invoice of one fiscalisation go over one socket).
#include <cstddef>
#include <string>

#include "device/HttpTransport.h"

typedef void CURL;  // same typedef as <curl/curl.h>, which stays out of this header

namespace kv::device {

struct CurlTransportConfig {
    // Connecting: the device sits on the shop's network or on this machine and
    // answers a connection at once when it is up; 5 s rides out a slow Wi-Fi
    // link without leaving the operator staring at the hour-glass for long.
    long connectTimeoutMs = 5000;
    // The whole request, connect included: signing an invoice and rendering its
    // receipt image takes a real device a few seconds; 30 s leaves room for a
    // slow security card while still ending a hung request.
    long requestTimeoutMs = 30000;
    // Larger answers are refused as a transport error instead of filling
    // memory; a signed invoice with its receipt image is well under 1 MiB.
    std::size_t maxAnswerBytes = 32u * 1024u * 1024u;
};

class CurlTransport final : public HttpTransport {
public:
    explicit CurlTransport(CurlTransportConfig config = {});
    ~CurlTransport() override;
    CurlTransport(const CurlTransport&) = delete;
    CurlTransport& operator=(const CurlTransport&) = delete;

    // Adds "Accept" and "Accept-Charset" (below) unless the request carries
    // its own. Never uses a proxy, never follows a redirect, http and https
    // only, the path sent as composed (no dot-segment folding).
    HttpResult execute(const HttpRequest& request) override;

    const CurlTransportConfig& config() const { return config_; }

    static constexpr const char* kAccept = "application/json, text/plain; q=0.9, text/html;q=0.8,";
    static constexpr const char* kAcceptCharset = "utf-8, *;q=0.8";

private:
    CurlTransportConfig config_;
    CURL* handle_ = nullptr;
};

}  // namespace kv::device

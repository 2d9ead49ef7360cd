#pragma once
// A transport that records every request and answers from a script, for
// tests of the device client and the fiscalisation run.
#include <deque>
#include <string>
#include <vector>

#include "device/HttpTransport.h"

namespace kv::device {

// Records every request and answers from a script; an empty script answers
// 200 "OK" with an empty JSON object.
class FakeTransport : public HttpTransport {
public:
    HttpResult execute(const HttpRequest& r) override {
        sent.push_back(r);
        if (script.empty())
            return answer(200, "{}");
        HttpResult res = script.front();
        script.pop_front();
        return res;
    }
    static HttpResult answer(int status, std::string body, std::string text = "OK")
    {
        return HttpResult{true, {}, status, std::move(text), std::move(body)};
    }
    static HttpResult broken(std::string error) { return HttpResult{false, std::move(error), 0, {}, {}}; }

    std::vector<HttpRequest> sent;
    std::deque<HttpResult> script;
};

}  // namespace kv::device

#pragma once
// What a device said when it refused a request. Kovira's own texts stay as
// they are (producers read them from the result files); the device's words
// are added after them where a person reads: log lines, log boxes, the
// window's messages.
#include <string>
#include <string_view>

namespace kv::device {

// Longest reason taken over from a device answer; the rest is cut.
inline constexpr std::size_t kMaxDeviceWords = 400;

// The device's reason for a refusal, on one line, or "" when it gave none:
// - an answer of 400 and above: its "messages" / "message" / "error" /
//   "title" / "detail" member and the texts under "modelState" or "errors"
//   (JSON), or the body itself when it is short plain text (not HTML);
// - a 200 answer: its "messages" when that is not a success (it does not
//   begin with "Suc", "Усп" or "Usp").
// Control characters become blanks; at most kMaxDeviceWords bytes (cut on
// a character boundary).
std::string DeviceRefusal(int status, std::string_view body);

// `text`, then a line break and the device's words; `text` alone when the
// device said nothing or its words are already in `text`.
std::string WithDeviceWords(const std::string& text, const std::string& words);

class DeviceClient;
class Fiscalizer;

// The device's words about the failure of the last fiscalisation run, when
// its last request got an answer and that answer was the step that failed
// (not, say, the question about the request id that followed a lost answer).
std::string RefusalOfLastRun(const Fiscalizer& fisk, const DeviceClient& client);

// FiskGreska as a person reads it: Kovira's text, then the device's words.
std::string FailureWithDeviceWords(const Fiscalizer& fisk, const DeviceClient& client);

}  // namespace kv::device

// Code-page conversion: DecodeText / EncodeText over the single-byte code
// pages files come in, and UTF-8.
//
// Input: one byte picks the code page, the rest is the text.
// Properties:
// - decoding always gives well-formed UTF-8;
// - for a single-byte code page, encoding the decoded text gives the bytes
//   back, except that bytes without a meaning come back as "?";
// - for UTF-8, decoding keeps valid text and encoding decoded text is the identity;
// - encoding arbitrary bytes as UTF-8 input never fails and, for a
//   single-byte code page, gives at most one byte per input byte.
#include <array>
#include <cstdint>
#include <string>

#include "FuzzInput.h"
#include "inbox/CodePage.h"

using namespace kv;

namespace {
const std::array<const char*, 6> kSingleByte = {"windows-1250", "windows-1251", "windows-1252",
                                                "CP852",        "ISO-8859-2",   "ISO-8859-5"};

// Per code page: what each byte should come back as after decode + encode.
struct RoundTrip {
    std::array<char, 256> back{};
    explicit RoundTrip(const std::string& cp) {
        for (int b = 0; b < 256; ++b) {
            const char c = static_cast<char>(b);
            const std::string u = inbox::DecodeText(std::string_view(&c, 1), cp);
            back[b] = u == "\xEF\xBF\xBD" ? '?' : c;
        }
    }
};
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::array<RoundTrip, kSingleByte.size()> trips = [] {
        return std::array<RoundTrip, kSingleByte.size()>{RoundTrip(kSingleByte[0]), RoundTrip(kSingleByte[1]),
                                                         RoundTrip(kSingleByte[2]), RoundTrip(kSingleByte[3]),
                                                         RoundTrip(kSingleByte[4]), RoundTrip(kSingleByte[5])};
    }();
    fuzz::Input in(data, size);
    const unsigned pick = in.byte() % (kSingleByte.size() + 1);
    const std::string_view bytes = in.rest();

    if (pick == kSingleByte.size()) {
        const std::string decoded = inbox::DecodeText(bytes, "UTF-8");
        if (!fuzz::IsUtf8(decoded)) fuzz::Fail("UTF-8 decode is not UTF-8", decoded);
        if (fuzz::IsUtf8(bytes) && decoded != bytes) fuzz::Fail("UTF-8 decode changed valid text", decoded);
        if (inbox::EncodeText(decoded, "utf8") != decoded) fuzz::Fail("UTF-8 encode changed valid text", decoded);
        return 0;
    }

    const std::string cp = kSingleByte[pick];
    const std::string decoded = inbox::DecodeText(bytes, cp);
    if (!fuzz::IsUtf8(decoded)) fuzz::Fail("decode is not UTF-8", decoded);
    const std::string encoded = inbox::EncodeText(decoded, cp);
    std::string expected(bytes);
    for (char& c : expected) c = trips[pick].back[static_cast<unsigned char>(c)];
    if (encoded != expected) fuzz::Fail("decode + encode is not the identity", encoded);

    const std::string raw = inbox::EncodeText(bytes, cp);
    if (raw.size() > bytes.size()) fuzz::Fail("encode grew the text", raw);
    return 0;
}

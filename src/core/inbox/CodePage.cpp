#include "inbox/CodePage.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <iconv.h>
#include <strings.h>

#include "util/Utf8.h"

namespace kv::inbox {

namespace {

class Iconv {
public:
    Iconv(const std::string& to, const std::string& from) : cd_(::iconv_open(to.c_str(), from.c_str())) {
        if (cd_ == reinterpret_cast<iconv_t>(-1))
            throw CodePageError("Unknown code page '" + (to == "UTF-8" ? from : to) + "'");
    }
    ~Iconv() { ::iconv_close(cd_); }
    Iconv(const Iconv&) = delete;
    Iconv& operator=(const Iconv&) = delete;
    iconv_t get() const { return cd_; }

private:
    iconv_t cd_;
};

bool IsUtf8Name(const std::string& name) {
    return strcasecmp(name.c_str(), "UTF-8") == 0 || strcasecmp(name.c_str(), "UTF8") == 0;
}

// UTF-8 to UTF-8 is checked here, one well-formed sequence at a time: the
// system's converter lets sequences past U+10FFFF through unchanged.
std::string CleanUtf8(std::string_view in, std::string_view replacement) {
    std::string out;
    out.reserve(in.size());
    while (!in.empty()) {
        const std::size_t n = Utf8SequenceLength(in);
        if (n == 0) {
            out += replacement;
            in.remove_prefix(1);
        } else {
            out += in.substr(0, n);
            in.remove_prefix(n);
        }
    }
    return out;
}

// Converts all of `in`; at an input sequence that cannot be converted,
// `replacement` is written and `skip` tells how many input bytes to pass over.
template <typename Skip>
std::string Convert(std::string_view in, const std::string& to, const std::string& from, std::string_view replacement,
                    Skip skip) {
    Iconv cd(to, from);
    std::string out(in.size() * 2 + 16, '\0');
    std::size_t used = 0;
    char* inPtr = const_cast<char*>(in.data());  // iconv does not write through it
    std::size_t inLeft = in.size();
    bool flushing = false;
    for (;;) {
        if (out.size() - used < replacement.size() + 8) out.resize(out.size() * 2);
        char* outPtr = out.data() + used;
        std::size_t outLeft = out.size() - used;
        // The final call with no input writes whatever a stateful encoding still holds.
        const std::size_t r = flushing ? ::iconv(cd.get(), nullptr, nullptr, &outPtr, &outLeft)
                                       : ::iconv(cd.get(), &inPtr, &inLeft, &outPtr, &outLeft);
        used = static_cast<std::size_t>(outPtr - out.data());
        if (r != static_cast<std::size_t>(-1)) {
            if (flushing) break;
            flushing = true;
            continue;
        }
        if (errno == E2BIG) {
            out.resize(out.size() * 2);
            continue;
        }
        if (!flushing && (errno == EILSEQ || errno == EINVAL)) {
            out.replace(used, replacement.size(), replacement);
            used += replacement.size();
            const std::size_t n = std::min(inLeft, std::max<std::size_t>(1, skip(std::string_view(inPtr, inLeft))));
            inPtr += n;
            inLeft -= n;
            ::iconv(cd.get(), nullptr, nullptr, nullptr, nullptr);  // back to the initial shift state
            continue;
        }
        throw CodePageError("Cannot convert text from '" + from + "' to '" + to + "': " + std::strerror(errno));
    }
    out.resize(used);
    return out;
}

}  // namespace

std::string DecodeText(std::string_view bytes, const std::string& codePage) {
    if (IsUtf8Name(codePage)) return CleanUtf8(bytes, "\xEF\xBF\xBD");
    return Convert(bytes, "UTF-8", codePage, "\xEF\xBF\xBD", [](std::string_view) { return std::size_t{1}; });
}

std::string EncodeText(std::string_view utf8, const std::string& codePage) {
    if (IsUtf8Name(codePage)) return CleanUtf8(utf8, "?");
    // A character the code page lacks is skipped whole; a broken sequence one byte at a time.
    return Convert(utf8, codePage, "UTF-8", "?", [](std::string_view rest) { return Utf8SequenceLength(rest); });
}

}  // namespace kv::inbox

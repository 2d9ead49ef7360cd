#include "device/JsonFlatten.h"

#include <rapidjson/document.h>
#include <rapidjson/memorystream.h>
#include <rapidjson/reader.h>

#include "device/DeviceClient.h"
#include "device/JsonText.h"

namespace kv::device {

namespace {
using rapidjson::Value;

// A value's plain text; objects and arrays have none. Numbers keep the text
// they were sent with (the document is parsed with numbers as strings).
std::string PlainText(const Value& v) {
    if (v.IsString()) return std::string(v.GetString(), v.GetStringLength());
    if (v.IsTrue()) return "true";
    if (v.IsFalse()) return "false";
    if (v.IsNull()) return "null";
    return {};
}

void Flatten(const Value& obj, const std::string& prefix, FlatJson& out) {
    for (auto it = obj.MemberBegin(); it != obj.MemberEnd(); ++it) {
        std::string name(it->name.GetString(), it->name.GetStringLength());
        std::string full = prefix.empty() ? name : prefix + "." + name;
        const Value& v = it->value;
        if (v.IsArray()) {
            std::string collected;
            bool any = false;
            int index = 0;
            for (const auto& e : v.GetArray()) {
                if (e.IsObject()) {
                    Flatten(e, full + "[" + std::to_string(index) + "]", out);
                } else {
                    collected += any ? "," : "[";
                    collected += PlainText(e);
                    any = true;
                }
                ++index;
            }
            if (any) out.lines.emplace_back(full, collected + "]");
        } else if (v.IsObject()) {
            Flatten(v, full, out);
        }
        std::string text = PlainText(v);
        if (!text.empty()) out.lines.emplace_back(full, text);
    }
}
}  // namespace

bool SameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        unsigned char x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(b[i]);
        if (x < 128 && y < 128 ? std::tolower(x) != std::tolower(y) : x != y) return false;
    }
    return true;
}

std::string FlatJson::value(const std::string& name) const {
    for (const auto& [n, v] : lines)
        if (SameName(n, name)) return v;
    return {};
}

std::string FlatJson::text() const {
    std::string out;
    for (const auto& [n, v] : lines) out += n + "=" + v + "\n";
    return out;
}

namespace {
// Counts nesting: the flattening walks the tree recursively, so an answer
// nested thousands deep is refused before it is built. Also refuses what the
// other readers of answers refuse: text that is not UTF-8 once its escapes
// are undone.
struct DepthCheck : rapidjson::BaseReaderHandler<rapidjson::UTF8<>, DepthCheck> {
    std::size_t depth = 0;
    bool String(const char* s, rapidjson::SizeType n, bool) { return IsUtf8Text(s, n); }
    bool Key(const char* s, rapidjson::SizeType n, bool) { return IsUtf8Text(s, n); }
    bool StartObject() { return ++depth <= kMaxJsonDepth; }
    bool StartArray() { return ++depth <= kMaxJsonDepth; }
    bool EndObject(rapidjson::SizeType) { return --depth, true; }
    bool EndArray(rapidjson::SizeType) { return --depth, true; }
};
}  // namespace

void OpenJSONFile(const std::string& json, const std::string& prefix, FlatJson& target) {
    constexpr unsigned flags = rapidjson::kParseIterativeFlag | rapidjson::kParseNumbersAsStringsFlag |
                               rapidjson::kParseValidateEncodingFlag;
    rapidjson::MemoryStream ms(json.data(), json.size());
    DepthCheck check;
    if (rapidjson::Reader().Parse<flags>(ms, check).IsError()) return;
    rapidjson::Document doc;
    doc.Parse<flags>(json.data(), json.size());
    if (doc.HasParseError() || !doc.IsObject()) return;
    Flatten(doc, prefix, target);
}

}  // namespace kv::device

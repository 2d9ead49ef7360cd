#include "device/ResponseTable.h"

#include <rapidjson/memorystream.h>
#include <rapidjson/reader.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <algorithm>
#include <cctype>
#include <limits>
#include <unordered_map>

#include "device/JsonText.h"

namespace kv::device {

namespace {
constexpr std::size_t npos = std::string::npos;
constexpr unsigned kParseFlags =
    rapidjson::kParseIterativeFlag | rapidjson::kParseNumbersAsStringsFlag | rapidjson::kParseValidateEncodingFlag;
}  // namespace

// SAX handler filling the flat node list. Numbers arrive as their source
// text (kParseNumbersAsStringsFlag), which is what keeps "9.9099" exact.
class ResponseTable::Builder : public rapidjson::BaseReaderHandler<rapidjson::UTF8<>, Builder> {
public:
    Builder(std::vector<Node>& nodes, const ResponseLimits& limits) : nodes_(nodes), limits_(limits) {}

    bool Null() { return add(Kind::Null, {}); }
    bool Bool(bool b) { return add(b ? Kind::True : Kind::False, {}); }
    bool RawNumber(const char* s, rapidjson::SizeType n, bool) { return add(Kind::Number, std::string(s, n)); }
    bool String(const char* s, rapidjson::SizeType n, bool)
    {
        return IsUtf8Text(s, n) && add(Kind::String, std::string(s, n));
    }
    bool Key(const char* s, rapidjson::SizeType n, bool)
    {
        if (!IsUtf8Text(s, n))
            return false;
        key_.assign(s, n);
        return true;
    }
    bool StartObject() { return open(Kind::Object); }
    bool StartArray() { return open(Kind::Array); }
    bool EndObject(rapidjson::SizeType) { return close(); }
    bool EndArray(rapidjson::SizeType) { return close(); }
    // Every number goes through RawNumber; anything else is a surprise.
    bool Default() { return false; }

private:
    bool add(Kind kind, std::string text)
    {
        if (nodes_.size() >= limits_.maxValues)
            return false;
        const auto index = static_cast<std::uint32_t>(nodes_.size());
        nodes_.push_back(Node{kind, index + 1, std::move(key_), std::move(text)});
        key_.clear();
        return true;
    }
    bool open(Kind kind)
    {
        if (stack_.size() >= limits_.maxDepth || !add(kind, {}))
            return false;
        stack_.push_back(static_cast<std::uint32_t>(nodes_.size() - 1));
        return true;
    }
    bool close()
    {
        nodes_[stack_.back()].end = static_cast<std::uint32_t>(nodes_.size());
        stack_.pop_back();
        return true;
    }

    std::vector<Node>& nodes_;
    const ResponseLimits& limits_;
    std::vector<std::uint32_t> stack_;
    std::string key_;
};

ResponseTable::ResponseTable(ResponseLimits limits) : limits_(limits)
{
    limits_.maxValues = std::min<std::size_t>(limits_.maxValues, std::numeric_limits<std::uint32_t>::max() - 1);
}

void ResponseTable::setAnswer(std::string_view text)
{
    nodes_.clear();
    // A raw NUL never occurs in JSON text, and the reader would take it for the end.
    if (text.size() <= limits_.maxAnswerBytes && text.find('\0') == std::string_view::npos) {
        rapidjson::MemoryStream ms(text.data(), text.size());
        Builder builder(nodes_, limits_);
        rapidjson::Reader reader;
        if (reader.Parse<kParseFlags>(ms, builder).IsError())
            nodes_.clear();
    }
    nodes_.shrink_to_fit();
    setRootElement({});
}

std::size_t ResponseTable::find(const std::string& path) const
{
    if (nodes_.empty())
        return npos;
    std::size_t at = 0;
    if (path.empty())
        return at;

    auto member = [&](std::size_t obj, std::string_view name) {
        if (nodes_[obj].kind != Kind::Object)
            return npos;
        std::size_t found = npos;  // a repeated name: the last one counts
        for (std::size_t c = obj + 1; c < nodes_[obj].end; c = nodes_[c].end)
            if (nodes_[c].key == name)
                found = c;
        return found;
    };
    auto element = [&](std::size_t arr, std::size_t index) {
        if (nodes_[arr].kind != Kind::Array)
            return npos;
        std::size_t c = arr + 1;
        for (std::size_t k = 0; c < nodes_[arr].end; c = nodes_[c].end, ++k)
            if (k == index)
                return c;
        return npos;
    };

    std::string_view rest = path;
    while (true) {
        const std::size_t dot = rest.find('.');
        std::string_view segment = rest.substr(0, dot);
        // Trailing "[n]" indexes, read from the first '[' that starts a
        // well-formed run of them; otherwise the brackets are part of the name.
        std::vector<std::size_t> indexes;
        const std::size_t bracket = segment.find('[');
        if (bracket != std::string_view::npos && segment.back() == ']') {
            std::string_view tail = segment.substr(bracket);
            bool ok = true;
            while (ok && !tail.empty()) {
                const std::size_t close = tail.find(']');
                std::string_view digits = tail.substr(1, close - 1);
                ok = tail.front() == '[' && close != std::string_view::npos && !digits.empty() && digits.size() < 10 &&
                     std::all_of(digits.begin(), digits.end(), [](char ch) { return ch >= '0' && ch <= '9'; });
                if (ok) {
                    indexes.push_back(std::stoul(std::string(digits)));
                    tail.remove_prefix(close + 1);
                }
            }
            if (ok)
                segment = segment.substr(0, bracket);
            else
                indexes.clear();
        }
        if (!segment.empty() || indexes.empty()) {
            at = member(at, segment);
            if (at == npos)
                return npos;
        }
        for (std::size_t i : indexes) {
            at = element(at, i);
            if (at == npos)
                return npos;
        }
        if (dot == std::string_view::npos)
            return at;
        rest.remove_prefix(dot + 1);
    }
}

std::string ResponseTable::compactJson(std::size_t node) const
{
    rapidjson::StringBuffer buf;
    rapidjson::Writer<rapidjson::StringBuffer> w(buf);
    struct Open {
        std::size_t end;
        Kind kind;
    };
    std::vector<Open> open;
    auto closeOne = [&] {
        if (open.back().kind == Kind::Object)
            w.EndObject();
        else
            w.EndArray();
        open.pop_back();
    };
    for (std::size_t i = node; i < nodes_[node].end; ++i) {
        while (!open.empty() && i >= open.back().end)
            closeOne();
        const Node& n = nodes_[i];
        if (!open.empty() && open.back().kind == Kind::Object)
            w.Key(n.key.data(), static_cast<rapidjson::SizeType>(n.key.size()));
        switch (n.kind) {
            case Kind::Null: w.Null(); break;
            case Kind::False: w.Bool(false); break;
            case Kind::True: w.Bool(true); break;
            // Writer::RawNumber would put the digits in quotes; RawValue writes them as they are.
            case Kind::Number: w.RawValue(n.text.data(), n.text.size(), rapidjson::kNumberType); break;
            case Kind::String: w.String(n.text.data(), static_cast<rapidjson::SizeType>(n.text.size())); break;
            case Kind::Object:
                w.StartObject();
                open.push_back({n.end, Kind::Object});
                break;
            case Kind::Array:
                w.StartArray();
                open.push_back({n.end, Kind::Array});
                break;
        }
    }
    while (!open.empty())
        closeOne();
    return std::string(buf.GetString(), buf.GetSize());
}

std::string ResponseTable::cellText(std::size_t node) const
{
    const Node& n = nodes_[node];
    switch (n.kind) {
        case Kind::Null: return {};
        case Kind::False: return "false";
        case Kind::True: return "true";
        case Kind::Number:
        case Kind::String: return n.text;
        case Kind::Object:
        case Kind::Array: break;
    }
    return compactJson(node);
}

bool ResponseTable::setRootElement(const std::string& path)
{
    rootElement_ = path;
    const std::size_t root = find(path);
    rebuild(root);
    return root != npos;
}

namespace {
bool iequalsAscii(std::string_view a, std::string_view b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}
}  // namespace

void ResponseTable::rebuild(std::size_t root)
{
    table_.close();
    table_.setIndexFieldNames({});  // a sort chosen on the old columns means nothing now
    table_.clearFields();
    if (root == npos)
        return;

    std::vector<std::size_t> rows;
    if (nodes_[root].kind == Kind::Object) {
        rows.push_back(root);
    } else if (nodes_[root].kind == Kind::Array) {
        for (std::size_t c = root + 1; c < nodes_[root].end; c = nodes_[c].end)
            if (nodes_[c].kind == Kind::Object)
                rows.push_back(c);
    }

    // Columns: member names in first-seen order. The table's names are unique
    // ignoring case, so "Amount" beside "amount" becomes "Amount_1"; an empty
    // member name becomes "_".
    std::unordered_map<std::string, std::size_t> column;
    std::vector<std::string> names;
    for (std::size_t r : rows) {
        for (std::size_t c = r + 1; c < nodes_[r].end; c = nodes_[c].end) {
            const std::string& key = nodes_[c].key;
            if (column.count(key) || names.size() >= limits_.maxColumns)
                continue;
            const std::string base = key.empty() ? std::string("_") : key;
            std::string name = base;
            auto taken = [&](const std::string& candidate) {
                return std::any_of(names.begin(), names.end(),
                                   [&](const std::string& n) { return iequalsAscii(n, candidate); });
            };
            for (int k = 1; taken(name); ++k)
                name = base + "_" + std::to_string(k);
            column.emplace(key, names.size());
            names.push_back(std::move(name));
        }
    }
    if (names.empty())
        return;  // no fields, so no open table: zero rows

    for (const auto& n : names)
        table_.addField(FieldDef{n, FieldType::WideString, 0, FieldKind::Data});
    table_.open();
    const std::size_t maxRows = std::max<std::size_t>(1, limits_.maxCells / names.size());
    if (rows.size() > maxRows)
        rows.resize(maxRows);
    for (std::size_t r : rows) {
        table_.append();
        for (std::size_t c = r + 1; c < nodes_[r].end; c = nodes_[c].end) {
            const auto it = column.find(nodes_[c].key);
            if (it == column.end())
                continue;
            if (nodes_[c].kind == Kind::Null)
                table_.field(it->second).clear();  // a repeated name: the last one counts
            else
                table_.field(it->second).setValue(Value(cellText(c)));
        }
        table_.post();
    }
    table_.first();
}

std::vector<std::string> ResponseTable::columnNames() const
{
    std::vector<std::string> out;
    out.reserve(table_.fieldCount());
    for (const auto& d : table_.fieldDefs())
        out.push_back(d.name);
    return out;
}

void ResponseTable::descend(const std::string& text)
{
    prevRootPath_ = rootPath_;
    std::string path;
    if (!text.empty())
        path = rootPath_.empty() ? text : rootPath_ + "." + text;
    setRootElement(path);
    rootPath_ = std::move(path);
}

void ResponseTable::back()
{
    setRootElement(prevRootPath_);
    rootPath_ = prevRootPath_;
}

void ResponseTable::resetBrowser(const std::string& text)
{
    rootPath_.clear();
    prevRootPath_.clear();
    descend(text);
}

}  // namespace kv::device

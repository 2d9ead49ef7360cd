#pragma once
// A device answer flattened into name=value lines: member paths joined with
// ".", array elements as "[index]", scalar arrays as one "[a,b]" value. The
// workflow reads answer values from here by name.
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace kv::device {

class FlatJson {
public:
    std::vector<std::pair<std::string, std::string>> lines;

    void clear() { lines.clear(); }
    // The value of the first line with this name (letter case ignored); empty when absent.
    std::string value(const std::string& name) const;
    // "name=value" lines as the answer viewer shows them.
    std::string text() const;
};

// How flattened names are matched: ASCII letters without regard to case,
// every other byte exactly.
bool SameName(std::string_view a, std::string_view b);

// Appends the flattened form of a JSON object to `target`. Anything that is
// not a JSON object at the top (not JSON, an array, a plain value) appends nothing.
void OpenJSONFile(const std::string& json, const std::string& prefix, FlatJson& target);

}  // namespace kv::device

#pragma once
// The quoted fields of the line-based input files: a field that begins with
// a double quote runs to its closing quote, separators inside it are text,
// and two quotes in a row stand for one.
#include <cstddef>
#include <string>
#include <string_view>

namespace kv::inbox {

// Reads the quoted field that starts at line[i] (a '"') into `field` and
// leaves `i` just past its closing quote. False when the line ends first
// (then `i` is the line's end and `field` holds what was read).
inline bool ReadQuotedField(std::string_view line, std::size_t& i, std::string& field) {
    ++i;  // the opening quote
    while (i < line.size()) {
        if (line[i] == '"') {
            if (i + 1 < line.size() && line[i + 1] == '"') {
                field += '"';
                i += 2;
                continue;
            }
            ++i;
            return true;
        }
        field += line[i++];
    }
    return false;
}

}  // namespace kv::inbox

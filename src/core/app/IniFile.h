#pragma once
// A settings file in INI form, edited in place: keys already in the file keep
// their line, new keys go to the end of their section, and everything Kovira
// does not know (other keys, sections, comments, blank lines) is left alone.
// Section and key names compare without regard to letter case.
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kv {

// Settings files are small; anything larger is not one.
inline constexpr std::size_t kMaxIniBytes = 1024 * 1024;

// Why these bytes are not a UTF-8 text file (UTF-16, NUL bytes, invalid
// UTF-8); nullopt when they are.
std::optional<std::string> NotText(std::string_view bytes);

class IniFile {
public:
    explicit IniFile(std::string path) : path_(std::move(path)) {}

    const std::string& path() const { return path_; }
    bool exists() const;

    // Reads the file again (a missing file gives an empty one). Throws on a
    // file that exists but cannot be read, is not a regular file, is larger
    // than kMaxIniBytes or is not UTF-8 text.
    void load();

    // The value as the profile functions give it: blanks around it removed and
    // one pair of enclosing double quotes dropped.
    std::optional<std::string> read(const std::string& section, const std::string& key) const;
    void write(const std::string& section, const std::string& key, const std::string& value);

    // Writes the file under a temporary name beside it and renames it into
    // place. A file without any write permission counts as read-only and is
    // not replaced. Returns false with a reason in *error.
    bool save(std::string* error) const;

    // The whole text as it would be saved.
    std::string text() const;

private:
    std::string path_;
    std::vector<std::string> lines_;
    bool crlf_ = false;
    bool bom_ = false;  // the file began with a UTF-8 byte order mark; saved with it again

    // Index of the section header line, or npos.
    size_t findSection(const std::string& section) const;
    // End of a section: one past its last non-blank line.
    size_t sectionEnd(size_t header) const;
};

// How a value is stored on its line: values with blanks at either end or
// enclosed in quotes are quoted, so that they read back exactly.
std::string IniQuote(const std::string& value);

}  // namespace kv

#include "app/IniFile.h"

#include "util/SafeText.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace kv {

namespace {
std::string Trim(const std::string& s) {
    size_t b = s.find_first_not_of(" \t");
    if (b == std::string::npos) return {};
    size_t e = s.find_last_not_of(" \t");
    return s.substr(b, e - b + 1);
}

bool IEquals(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        unsigned char x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(b[i]);
        if (x < 128 && y < 128) {
            if (std::tolower(x) != std::tolower(y)) return false;
        } else if (x != y) {
            return false;
        }
    }
    return true;
}

// "[Name]" -> "Name"; nullopt for other lines.
std::optional<std::string> SectionName(const std::string& line) {
    std::string t = Trim(line);
    if (t.size() >= 2 && t.front() == '[') {
        size_t close = t.find(']');
        if (close != std::string::npos) return Trim(t.substr(1, close - 1));
    }
    return std::nullopt;
}

bool IsComment(const std::string& t) { return !t.empty() && (t[0] == ';' || t[0] == '#'); }

// Key of a "key=value" line, nullopt for others.
std::optional<std::string> KeyOf(const std::string& line, std::string* value) {
    std::string t = Trim(line);
    if (t.empty() || IsComment(t) || t[0] == '[') return std::nullopt;
    size_t eq = t.find('=');
    if (eq == std::string::npos) return std::nullopt;
    if (value) *value = t.substr(eq + 1);
    return Trim(t.substr(0, eq));
}
}  // namespace

std::string IniQuote(const std::string& value) {
    bool edges = !value.empty() && (value.front() == ' ' || value.front() == '\t' || value.back() == ' ' ||
                                    value.back() == '\t');
    bool quoted = value.size() >= 2 && value.front() == '"' && value.back() == '"';
    return (edges || quoted) ? "\"" + value + "\"" : value;
}

bool IniFile::exists() const {
    struct stat st {};
    return ::stat(path_.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

void IniFile::load() {
    lines_.clear();
    crlf_ = false;
    bom_ = false;
    struct stat st {};
    if (::stat(path_.c_str(), &st) != 0) {
        if (errno == ENOENT) return;
        throw std::runtime_error("Cannot read " + path_ + ": " + std::strerror(errno));
    }
    // A device, a pipe or a runaway file is never read to its end.
    if (!S_ISREG(st.st_mode)) throw std::runtime_error("Cannot read " + path_ + ": not a regular file");
    std::ifstream in(path_, std::ios::binary);
    if (!in) throw std::runtime_error("Cannot read " + path_ + ": " + std::strerror(errno));
    std::string all(kMaxIniBytes + 1, '\0');
    in.read(all.data(), static_cast<std::streamsize>(all.size()));
    all.resize(static_cast<std::size_t>(in.gcount()));
    if (all.size() > kMaxIniBytes)
        throw std::runtime_error("Cannot read " + path_ + ": larger than " + std::to_string(kMaxIniBytes / 1024) +
                                 " KiB, not a settings file");
    bom_ = all.rfind("\xEF\xBB\xBF", 0) == 0;
    if (bom_) all.erase(0, 3);
    if (auto why = NotText(all)) throw std::runtime_error("Cannot read " + path_ + ": " + *why);
    size_t pos = 0;
    while (pos < all.size()) {
        size_t nl = all.find('\n', pos);
        std::string line = all.substr(pos, nl == std::string::npos ? std::string::npos : nl - pos);
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
            crlf_ = true;
        }
        lines_.push_back(std::move(line));
        if (nl == std::string::npos) break;
        pos = nl + 1;
    }
}

std::optional<std::string> NotText(std::string_view bytes) {
    if (bytes.rfind("\xFF\xFE", 0) == 0 || bytes.rfind("\xFE\xFF", 0) == 0)
        return "UTF-16 text; save it as UTF-8";
    if (bytes.find('\0') != std::string_view::npos) return "not a text file (it holds NUL bytes)";
    if (!IsUtf8(bytes)) return "not UTF-8 text";
    return std::nullopt;
}

size_t IniFile::findSection(const std::string& section) const {
    for (size_t i = 0; i < lines_.size(); ++i) {
        auto name = SectionName(lines_[i]);
        if (name && IEquals(*name, section)) return i;
    }
    return std::string::npos;
}

size_t IniFile::sectionEnd(size_t header) const {
    size_t end = header + 1;
    for (size_t i = header + 1; i < lines_.size(); ++i) {
        if (SectionName(lines_[i])) break;
        if (!Trim(lines_[i]).empty()) end = i + 1;
    }
    return end;
}

std::optional<std::string> IniFile::read(const std::string& section, const std::string& key) const {
    size_t h = findSection(section);
    if (h == std::string::npos) return std::nullopt;
    for (size_t i = h + 1; i < lines_.size(); ++i) {
        if (SectionName(lines_[i])) break;
        std::string v;
        auto k = KeyOf(lines_[i], &v);
        if (k && IEquals(*k, key)) {
            v = Trim(v);
            if (v.size() >= 2 && v.front() == '"' && v.back() == '"') v = v.substr(1, v.size() - 2);
            return v;
        }
    }
    return std::nullopt;
}

void IniFile::write(const std::string& section, const std::string& key, const std::string& value) {
    std::string line = key + "=" + IniQuote(value);
    size_t h = findSection(section);
    if (h == std::string::npos) {
        if (!lines_.empty() && !Trim(lines_.back()).empty()) lines_.push_back("");
        lines_.push_back("[" + section + "]");
        lines_.push_back(line);
        return;
    }
    for (size_t i = h + 1; i < lines_.size(); ++i) {
        if (SectionName(lines_[i])) break;
        auto k = KeyOf(lines_[i], nullptr);
        if (k && IEquals(*k, key)) {
            lines_[i] = line;
            return;
        }
    }
    lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(sectionEnd(h)), line);
}

std::string IniFile::text() const {
    std::string out = bom_ ? "\xEF\xBB\xBF" : "";
    const char* eol = crlf_ ? "\r\n" : "\n";
    for (const auto& l : lines_) {
        out += l;
        out += eol;
    }
    return out;
}

bool IniFile::save(std::string* error) const {
    auto fail = [&](const std::string& why) {
        if (error) *error = why;
        return false;
    };
    struct stat st {};
    mode_t mode = 0644;
    if (::stat(path_.c_str(), &st) == 0) {
        if (!S_ISREG(st.st_mode)) return fail("not a regular file");
        // A file nobody may write is read-only for Kovira too, even for root.
        if ((st.st_mode & 0222) == 0) return fail("the file is read-only");
        if (::access(path_.c_str(), W_OK) != 0) return fail(std::strerror(errno));
        mode = st.st_mode & 07777;
    }
    std::string tmp = path_ + ".tmp" + std::to_string(::getpid());
    std::string data = text();
    FILE* f = std::fopen(tmp.c_str(), "wb");
    if (!f) return fail(std::strerror(errno));
    bool ok = std::fwrite(data.data(), 1, data.size(), f) == data.size();
    ok = (std::fflush(f) == 0) && ok;
    ok = (::fsync(fileno(f)) == 0) && ok;
    int err = errno;
    std::fclose(f);
    if (!ok) {
        std::remove(tmp.c_str());
        return fail(std::strerror(err));
    }
    ::chmod(tmp.c_str(), mode);
    if (std::rename(tmp.c_str(), path_.c_str()) != 0) {
        err = errno;
        std::remove(tmp.c_str());
        return fail(std::strerror(err));
    }
    return true;
}

}  // namespace kv

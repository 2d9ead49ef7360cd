// The settings reader: IniFile on a settings file of any content, and the
// settings records that Kovira fills from it and writes back.
//
// Input: the first line is a value to store, the rest is the file.
// Properties:
// - a file that loads at all (UTF-8 text, not too big) takes a value, and
//   a value written under a key reads back exactly, before and after the
//   file is saved and loaded again, and saving twice writes the same text;
// - the settings records filled from the file, written back and read again
//   do not change any more (one normalisation at most, then a fixed point).
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>

#include "FuzzInput.h"
#include "app/IniFile.h"
#include "app/Settings.h"
#include "util/LogPrompter.h"

using namespace kv;

namespace {
const std::string& Folder() {
    // Never destroyed: the exit handler below still needs it.
    static const std::string& folder = *new std::string([] {
        // Every save is synced to disk: in memory when possible, or the target crawls.
        std::string tmpl = ::access("/dev/shm", W_OK) == 0 ? "/dev/shm/kovira-fuzz-ini-XXXXXX"
                                                           : "/tmp/kovira-fuzz-ini-XXXXXX";
        if (!::mkdtemp(tmpl.data())) fuzz::Fail("cannot make a temporary folder");
        std::atexit([] {
            ::unlink((Folder() + "/kovira.ini").c_str());
            ::rmdir(Folder().c_str());
        });
        return tmpl;
    }());
    return folder;
}

void WriteFile(const std::string& path, std::string_view bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out) fuzz::Fail("cannot write the temporary file");
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

// Every value of both records as the file would hold it.
std::string Snapshot(const AppSettings& s) {
    std::string out;
    for (const SettingsRecord* rec : {&s.Bafer, &s.KasaBaf})
        for (const auto& d : rec->defs()) out += std::string(d.field) + "=" + rec->displayText(d.field) + "\n";
    return out;
}

std::string LoadSettings(const std::string& path) {
    static std::ostringstream sink;
    sink.str({});
    LogPrompter prompter(sink);
    AppSettings settings(path, prompter);
    settings.StartUp();
    settings.FillRecords(std::chrono::year_month_day{std::chrono::year{2024}, std::chrono::month{3}, std::chrono::day{12}});
    return Snapshot(settings);
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view all(reinterpret_cast<const char*>(data), size);
    const std::size_t nl = all.find('\n');
    std::string value(all.substr(0, nl));
    std::erase(value, '\r');
    std::erase(value, '\0');
    if (!fuzz::IsUtf8(value)) value = "not UTF-8";  // values come from edit boxes: always text
    const std::string_view file = nl == std::string_view::npos ? std::string_view() : all.substr(nl + 1);
    const std::string path = Folder() + "/kovira.ini";

    WriteFile(path, file);
    IniFile ini(path);
    try {
        ini.load();
    } catch (const std::runtime_error&) {
        // Refused as a whole (too big, not UTF-8 text): the records keep their
        // defaults, which is what StartUp does with the message it shows.
        LoadSettings(path);
        return 0;
    }
    (void)ini.read("Global", "InputFolder");
    ini.write("Global", "FuzzKey", value);
    if (ini.read("Global", "FuzzKey") != value) fuzz::Fail("written value does not read back", value);
    std::string error;
    if (!ini.save(&error)) fuzz::Fail("cannot save", error);
    const std::string saved = ReadFile(path);
    ini.load();
    if (ini.read("Global", "FuzzKey") != value) fuzz::Fail("saved value does not read back", value);
    if (!ini.save(&error)) fuzz::Fail("cannot save", error);
    if (ReadFile(path) != saved) fuzz::Fail("saving the loaded file changed it", saved);

    // The records: from the fuzzed file, then twice from what they wrote.
    WriteFile(path, file);
    LoadSettings(path);
    const std::string second = LoadSettings(path);
    const std::string third = LoadSettings(path);
    if (second != third) fuzz::Fail("settings change on every save", second + "----\n" + third);
    return 0;
}

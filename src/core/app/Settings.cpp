#include "app/Settings.h"

#include <algorithm>
#include <ctime>
#include <stdexcept>

#include "util/Prompter.h"
#include "util/Utf8.h"

namespace kv {

namespace {
using T = SettingType;

const std::vector<SettingDef> kGlobal = {
    {"BaseURL", "BaseURL", T::Text, 1024, ""},
    {"Port", "Port", T::Text, 20, ""},
    {"Token", "Token", T::Text, 255, ""},
    {"PIN", "PIN", T::Text, 50, ""},
    {"PosPrinter", "PosPrinter", T::Text, 1024, ""},
    {"A4Printer", "A4Printer", T::Text, 1024, ""},
    {"A4Print", "A4Print", T::Integer, 0, "0"},
    {"InputFolder", "InputFolder", T::Text, 1024, ""},
    {"OutputFolder", "OutputFolder", T::Text, 1024, ""},
    {"OutputFile", "OutputFile", T::Text, 1024, ""},
    {"EscInit", "EscInit", T::Text, 50, ""},
    {"EscCir", "EscCir", T::Text, 50, "0"},
    {"EscLat", "EscLat", T::Text, 50, "0"},
    {"EscCut", "EscCut", T::Text, 20, ""},
    {"EscFF", "EscFF", T::Text, 20, ""},
    {"EscLF", "EscLF", T::Text, 20, ""},
    {"EscCR", "EscCR", T::Text, 20, ""},
    {"ScanTime", "ScanTime", T::Integer, 0, "500"},
    {"QRPrint", "QRPrint", T::Integer, 0, "0"},
    {"PrintUredjaj", "PrintUredjaj", T::Integer, 0, "0"},
    {"RenderPrint", "RenderPrint", T::Integer, 0, "1"},
    {"PaperWidth", "PaperWidth", T::Integer, 0, "386"},
    {"PaperLength", "PaperLength", T::Integer, 0, "3276"},
    {"LeftMargin", "LeftMargin", T::Integer, 0, "0"},
    {"POS5880", "POS-58-80", T::Integer, 0, "0"},
    {"ImageWidth", "ImageWidth", T::Integer, 0, "181"},
    {"HeaderImage", "HeaderImage", T::WideText, 4000, ""},
    {"FooterImage", "FooterImage", T::WideText, 4000, ""},
    {"HeaderText", "HeaderText", T::WideText, 1024, "", true},
    {"FooterText", "FooterText", T::WideText, 1024, "", true},
    {"FontName", "FontName", T::Text, 50, "Arial Narrow"},
    {"FontSize", "FontSize", T::Integer, 0, "8"},
    {"OldNacPl", "OldNacPl", T::Integer, 0, "0"},
    {"PrintGtin", "PrintGtin", T::Integer, 0, "0"},
    {"PuniOdgovor", "PuniOdgovor", T::Integer, 0, "0"},
};

const std::vector<SettingDef> kKasa = {
    {"NacPl", "NacPl", T::Text, 20, "0"},
    {"FontSize", "FontSize", T::Integer, 0, "8"},
    {"AutoStart", "AutoStart", T::Integer, 0, "0"},
    {"Barkod", "Barkod", T::Integer, 0, "1"},
    {"Sifra", "Sifra", T::Integer, 0, "1"},
    {"Naziv", "Naziv", T::Integer, 0, "1"},
    {"Filternaziv", "FilterNaziv", T::Integer, 0, "1"},
    {"Zalihe", "Zalihe", T::Integer, 0, "0"},
    {"Zoom", "Zoom", T::Integer, 0, "0"},
    {"Server", "Server", T::Integer, 0, "0"},
    {"ServerAdress", "ServerAdress", T::Text, 20, ""},
    {"Skladiste", "Skladiste", T::Text, 20, ""},
    {"KasaSifra", "KasaSifra", T::Text, 20, ""},
    {"LoginUser", "LoginUser", T::Integer, 0, "0"},
};

// Fields of the cash-register record that live only in memory.
const std::vector<SettingDef> kKasaMemory = {
    {nullptr, "Datum", T::Date, 0, ""},
    {nullptr, "Godina", T::Integer, 0, ""},
    {nullptr, "Cashier", T::WideText, 50, ""},
};

std::vector<SettingDef> KasaRecordDefs() {
    auto defs = kKasa;
    defs.insert(defs.end(), kKasaMemory.begin(), kKasaMemory.end());
    return defs;
}

// A memo keeps its line breaks on its single file line as "\n"; backslashes
// are doubled so that the escape reads back unambiguously.
std::string EscapeMemo(const std::string& s) {
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        char c = s[i];
        if (c == '\\') {
            out += "\\\\";
        } else if (c == '\r') {
            if (i + 1 < s.size() && s[i + 1] == '\n') ++i;
            out += "\\n";
        } else if (c == '\n') {
            out += "\\n";
        } else {
            out += c;
        }
    }
    return out;
}

std::string UnescapeMemo(const std::string& s) {
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '\\' && i + 1 < s.size()) {
            if (s[i + 1] == 'n') {
                out += '\n';
                ++i;
                continue;
            }
            if (s[i + 1] == '\\') {
                out += '\\';
                ++i;
                continue;
            }
        }
        out += s[i];
    }
    return out;
}

std::string Key(const std::string& section, const char* key) { return section + "\n" + key; }

std::chrono::year_month_day Today() {
    std::time_t t = std::time(nullptr);
    std::tm tm{};
    ::localtime_r(&t, &tm);
    return std::chrono::year_month_day{std::chrono::year{tm.tm_year + 1900},
                                       std::chrono::month{static_cast<unsigned>(tm.tm_mon + 1)},
                                       std::chrono::day{static_cast<unsigned>(tm.tm_mday)}};
}
}  // namespace

const std::vector<SettingDef>& GlobalSettingDefs() { return kGlobal; }
const std::vector<SettingDef>& KasaSettingDefs() { return kKasa; }

std::optional<int64_t> ParseIniInteger(const std::string& text) {
    size_t b = text.find_first_not_of(" \t");
    if (b == std::string::npos) return std::nullopt;
    size_t e = text.find_last_not_of(" \t");
    std::string t = text.substr(b, e - b + 1);
    size_t i = 0;
    bool neg = false;
    if (t[0] == '+' || t[0] == '-') {
        neg = t[0] == '-';
        i = 1;
    }
    if (i >= t.size()) return std::nullopt;
    int64_t v = 0;
    for (; i < t.size(); ++i) {
        if (t[i] < '0' || t[i] > '9') return std::nullopt;
        v = v * 10 + (t[i] - '0');
        if (v > 2147483648LL) return std::nullopt;
    }
    v = neg ? -v : v;
    if (v > 2147483647LL) return std::nullopt;
    return v;
}

std::string SettingsWriteErrorText(const std::string& path, const std::string& reason) {
    return "Postavke nisu sačuvane u datoteku \"" + path + "\" (" + reason +
           "). Promjene važe do izlaska iz programa.";
}

// ---------------------------------------------------------------- SettingsRecord

SettingsRecord::SettingsRecord(std::string name, std::vector<SettingDef> defs)
    : name_(std::move(name)), defs_(std::move(defs)), values_(defs_.size()) {}

const SettingDef* SettingsRecord::def(const std::string& field) const {
    for (const auto& d : defs_)
        if (field == d.field) return &d;
    return nullptr;
}

size_t SettingsRecord::index(const std::string& field) const {
    for (size_t i = 0; i < defs_.size(); ++i)
        if (field == defs_[i].field) return i;
    throw std::out_of_range("Field '" + field + "' not found in " + name_);
}

void SettingsRecord::edit() {
    if (state_ == State::Edit) return;
    saved_ = values_;
    state_ = State::Edit;
}

void SettingsRecord::post() {
    state_ = State::Browse;
    saved_.clear();
    for (auto& h : afterPost_) h();
    notify("");
}

void SettingsRecord::cancel() {
    if (state_ != State::Edit) return;
    values_ = saved_;
    saved_.clear();
    state_ = State::Browse;
    notify("");
}

std::optional<int64_t> SettingsRecord::intValue(const std::string& field) const {
    return values_[index(field)].i;
}

std::string SettingsRecord::text(const std::string& field) const { return values_[index(field)].s; }

std::chrono::year_month_day SettingsRecord::date(const std::string& field) const {
    return values_[index(field)].d;
}

void SettingsRecord::setInt(const std::string& field, std::optional<int64_t> value) {
    size_t i = index(field);
    if (values_[i].i == value) return;
    edit();
    values_[i].i = value;
    changed(field);
}

void SettingsRecord::setText(const std::string& field, const std::string& value) {
    size_t i = index(field);
    const int size = defs_[i].size;  // 0: a field of no set size (the date)
    std::string cut = size > 0 ? FirstChars(value, static_cast<size_t>(size)) : value;
    if (values_[i].s == cut) return;
    edit();
    values_[i].s = std::move(cut);
    changed(field);
}

void SettingsRecord::setDate(const std::string& field, std::chrono::year_month_day value) {
    size_t i = index(field);
    if (values_[i].d == value) return;
    edit();
    values_[i].d = value;
    changed(field);
}

std::string SettingsRecord::displayText(const std::string& field) const {
    size_t i = index(field);
    switch (defs_[i].type) {
        case SettingType::Integer:
            return values_[i].i ? std::to_string(*values_[i].i) : std::string();
        case SettingType::Date: {
            const auto& d = values_[i].d;
            if (!d.ok()) return {};
            char buf[16];
            std::snprintf(buf, sizeof buf, "%02u.%02u.%04d", static_cast<unsigned>(d.day()),
                          static_cast<unsigned>(d.month()), static_cast<int>(d.year()));
            return buf;
        }
        default:
            return values_[i].s;
    }
}

void SettingsRecord::setFromText(const std::string& field, const std::string& value) {
    size_t i = index(field);
    if (defs_[i].type == SettingType::Integer) {
        if (value.find_first_not_of(" \t") == std::string::npos) {
            setInt(field, std::nullopt);
            return;
        }
        auto v = ParseIniInteger(value);
        if (!v) throw std::invalid_argument("'" + value + "' is not a valid integer value");
        setInt(field, v);
    } else if (defs_[i].type == SettingType::Date) {
        unsigned d = 0, m = 0;
        int y = 0;
        if (std::sscanf(value.c_str(), "%u.%u.%d", &d, &m, &y) != 3)
            throw std::invalid_argument("'" + value + "' is not a valid date");
        std::chrono::year_month_day ymd{std::chrono::year{y}, std::chrono::month{m}, std::chrono::day{d}};
        if (!ymd.ok()) throw std::invalid_argument("'" + value + "' is not a valid date");
        setDate(field, ymd);
    } else {
        setText(field, value);
    }
}

void SettingsRecord::changed(const std::string& field) {
    if (handlersEnabled_)
        for (auto& h : changeHandlers_) h(field);
    notify(field);
}

void SettingsRecord::notify(const std::string& field) {
    for (auto& l : listeners_) l(field);
}

// ---------------------------------------------------------------- AppSettings

AppSettings::AppSettings(std::string path, Prompter& prompter)
    : Bafer("Bafer", kGlobal), KasaBaf("KasaBaf", KasaRecordDefs()), ini_(std::move(path)), prompter_(prompter) {
    Bafer.addChangeHandler([this](const std::string& f) {
        if (f == "POS-58-80") BaferPOS5880Change();
    });
    KasaBaf.addChangeHandler([this](const std::string& f) {
        if (f == "Datum") KasaBafDatumChange();
        else if (f == "Godina") KasaBafGodinaChange();
    });
    Bafer.addAfterPost([this] { BaferAfterPost(); });
    KasaBaf.addAfterPost([this] { KasaBafAfterPost(); });
}

bool AppSettings::StartUp() {
    bool ok = true;
    if (!ini_.exists()) {
        IniFile fresh(ini_.path());
        for (const auto& d : kGlobal) fresh.write("Global", d.key, d.defaultValue);
        for (const auto& d : kKasa) fresh.write("Kasa", d.key, d.defaultValue);
        std::string err;
        if (!fresh.save(&err)) {
            reportWriteError(SettingsWriteErrorText(ini_.path(), err));
            ok = false;
        }
    }
    try {
        ini_.load();
    } catch (const std::exception& e) {
        prompter_.message(e.what(), MsgKind::Error);
        ok = false;
    }
    read_.clear();
    auto readAll = [this](const char* section, const std::vector<SettingDef>& defs) {
        for (const auto& d : defs) {
            auto v = ini_.read(section, d.key);
            std::string value = v.value_or(d.defaultValue);
            if (d.type == SettingType::Integer && !ParseIniInteger(value)) value = d.defaultValue;
            if (d.multiline) value = UnescapeMemo(value);
            read_[Key(section, d.key)] = value;
        }
    };
    readAll("Global", kGlobal);
    readAll("Kasa", kKasa);
    return ok;
}

std::string AppSettings::readValue(const std::string& section, const SettingDef& def) const {
    auto it = read_.find(Key(section, def.key));
    return it == read_.end() ? def.defaultValue : it->second;
}

void AppSettings::FillRecords(std::chrono::year_month_day today) {
    auto fill = [this](SettingsRecord& rec, const char* section, const std::vector<SettingDef>& defs) {
        rec.edit();
        rec.setHandlersEnabled(false);
        for (const auto& d : defs) {
            std::string v = readValue(section, d);
            if (d.type == SettingType::Integer)
                rec.setInt(d.field, ParseIniInteger(v));
            else
                rec.setText(d.field, v);
        }
        rec.setHandlersEnabled(true);
    };
    fill(Bafer, "Global", kGlobal);
    Bafer.post();
    fill(KasaBaf, "Kasa", kKasa);
    KasaBaf.setDate("Datum", today.ok() ? today : Today());
    KasaBaf.post();
}

bool AppSettings::writeSection(const char* section, const SettingsRecord& rec) {
    // Another instance may have written the file since: start from what is there now.
    std::string err;
    try {
        ini_.load();
    } catch (const std::exception& e) {
        reportWriteError(SettingsWriteErrorText(ini_.path(), e.what()));
        return false;
    }
    for (const auto& d : rec.defs()) {
        if (!d.key) continue;
        std::string v;
        if (d.type == SettingType::Integer)
            v = std::to_string(rec.integer(d.field));
        else
            v = d.multiline ? EscapeMemo(rec.text(d.field)) : rec.text(d.field);
        ini_.write(section, d.key, v);
    }
    if (!ini_.save(&err)) {
        reportWriteError(SettingsWriteErrorText(ini_.path(), err));
        return false;
    }
    lastWriteError_.clear();
    return true;
}

void AppSettings::reportWriteError(const std::string& text) {
    // A read-only file fails every save the same way: the user hears it once.
    if (text == lastWriteError_) return;
    lastWriteError_ = text;
    prompter_.message(text, MsgKind::Error);
}

bool AppSettings::WriteGlobal() { return writeSection("Global", Bafer); }
bool AppSettings::WriteKasa() { return writeSection("Kasa", KasaBaf); }

void AppSettings::BaferAfterPost() {
    WriteGlobal();
    if (onScanTimeChanged) onScanTimeChanged(Bafer.integer("ScanTime"));
}

void AppSettings::KasaBafAfterPost() { WriteKasa(); }

void AppSettings::BaferPOS5880Change() {
    auto v = Bafer.intValue("POS-58-80");
    if (v == 0) {
        Bafer.setInt("PaperWidth", 58);
        Bafer.setInt("ImageWidth", 181);
    } else if (v == 1) {
        Bafer.setInt("PaperWidth", 80);
        Bafer.setInt("ImageWidth", 302);
    }
}

void AppSettings::KasaBafDatumChange() {
    auto d = KasaBaf.date("Datum");
    if (!d.ok()) return;
    int year = static_cast<int>(d.year());
    if (KasaBaf.intValue("Godina") != year) KasaBaf.setInt("Godina", year);
}

void AppSettings::KasaBafGodinaChange() {
    if (onWorkYearChanged) onWorkYearChanged(static_cast<int>(KasaBaf.integer("Godina")));
}

}  // namespace kv

#pragma once
// The settings of Kovira: the file beside the executable and the two one-row
// records that every window binds to, `Bafer` (section "Global": device,
// folders, printing) and `KasaBaf` (section "Kasa": cash register).
#include <chrono>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "app/IniFile.h"
#include "util/EditableDataset.h"

namespace kv {

class Prompter;

enum class SettingType { Integer, Text, WideText, Date };

struct SettingDef {
    const char* key;     // key in the file; nullptr for fields kept only in memory
    const char* field;   // field of the record
    SettingType type;
    int size;            // capacity in characters (text fields)
    const char* defaultValue;
    bool multiline = false;  // memo: line breaks are escaped on their one file line
};

// Keys of both sections in file order.
const std::vector<SettingDef>& GlobalSettingDefs();
const std::vector<SettingDef>& KasaSettingDefs();

// A one-row record of settings with the edit / post / cancel cycle of a dataset.
class SettingsRecord : public EditableDataset {
public:
    enum class State { Browse, Edit };
    // What a listener is told: a field changed (field name given), or the
    // whole row changed (post, cancel, refill: empty field name).
    using Listener = std::function<void(const std::string& field)>;

    SettingsRecord(std::string name, std::vector<SettingDef> defs);

    const std::string& name() const { return name_; }
    const std::vector<SettingDef>& defs() const { return defs_; }
    const SettingDef* def(const std::string& field) const;

    State state() const { return state_; }
    bool isEditing() const override { return state_ == State::Edit; }
    void edit();
    void post() override;
    void cancel() override;

    // Values. An integer field may be empty (null); integer() reads it as 0.
    std::optional<int64_t> intValue(const std::string& field) const;
    int64_t integer(const std::string& field) const { return intValue(field).value_or(0); }
    std::string text(const std::string& field) const;
    std::chrono::year_month_day date(const std::string& field) const;

    // Setters enter edit mode when needed, cut text to the field's size and
    // run the change handlers when the value really changes.
    void setInt(const std::string& field, std::optional<int64_t> value);
    void setText(const std::string& field, const std::string& value);
    void setDate(const std::string& field, std::chrono::year_month_day value);
    // Text form of any field, as an edit box shows it and as the file holds it.
    std::string displayText(const std::string& field) const;
    // Sets a field from text: integer fields take an integer or nothing
    // (anything else throws std::invalid_argument), text fields are cut.
    void setFromText(const std::string& field, const std::string& value);

    void addChangeHandler(Listener h) { changeHandlers_.push_back(std::move(h)); }
    void addAfterPost(std::function<void()> h) { afterPost_.push_back(std::move(h)); }
    // Widgets listen here to refresh; called after handlers have run.
    void addListener(Listener l) { listeners_.push_back(std::move(l)); }
    // While loading values from the file the consistency handlers stay quiet:
    // they react to edits, not to what the file already holds.
    void setHandlersEnabled(bool on) { handlersEnabled_ = on; }

private:
    struct Value {
        std::optional<int64_t> i;
        std::string s;
        std::chrono::year_month_day d{};
        bool operator==(const Value&) const = default;
    };
    size_t index(const std::string& field) const;
    void changed(const std::string& field);
    void notify(const std::string& field);

    std::string name_;
    std::vector<SettingDef> defs_;
    std::vector<Value> values_;
    std::vector<Value> saved_;  // row as it was when editing began
    State state_ = State::Browse;
    bool handlersEnabled_ = true;
    std::vector<Listener> changeHandlers_;
    std::vector<std::function<void()>> afterPost_;
    std::vector<Listener> listeners_;
};

// Owns the settings file and the two records.
class AppSettings {
public:
    AppSettings(std::string path, Prompter& prompter);

    const std::string& path() const { return ini_.path(); }
    SettingsRecord Bafer;
    SettingsRecord KasaBaf;

    // Start-up: writes every key with its default when the file is missing,
    // then reads every key into memory. Returns false when the default file
    // could not be written (the user has been told).
    bool StartUp();
    // The value read for a key at start-up (default when missing / not an integer).
    std::string readValue(const std::string& section, const SettingDef& def) const;

    // Puts the values read into the records and posts each one, which writes
    // both sections back (so missing keys get added); the work date becomes `today`.
    void FillRecords(std::chrono::year_month_day today);

    // Writes all keys of a section from its record. On failure the user is
    // told which file could not be written; the values stay in memory.
    bool WriteGlobal();
    bool WriteKasa();

    // Hooks filled by other subsystems.
    std::function<void(int64_t ms)> onScanTimeChanged;     // poll interval after a post of Bafer
    std::function<void(int year)> onWorkYearChanged;        // reopen the year's documents

    // The handlers that keep related fields consistent while editing.
    void BaferPOS5880Change();
    void KasaBafDatumChange();
    void KasaBafGodinaChange();

private:
    bool writeSection(const char* section, const SettingsRecord& rec);
    void BaferAfterPost();
    void KasaBafAfterPost();
    void reportWriteError(const std::string& text);

    IniFile ini_;
    Prompter& prompter_;
    std::map<std::string, std::string> read_;  // "Section\nKey" -> value
    std::string lastWriteError_;               // reported already; cleared by a good save
};

// The message shown when the settings file could not be written.
std::string SettingsWriteErrorText(const std::string& path, const std::string& reason);

// Integer keys: optional sign and digits, blanks around allowed, 32-bit range.
std::optional<int64_t> ParseIniInteger(const std::string& text);

}  // namespace kv

#include "app/BoundRecord.h"

#include <stdexcept>

#include "app/Settings.h"
#include "util/MemTable.h"

namespace kv::gui {

namespace {

class SettingsSource : public BoundRecord {
public:
    explicit SettingsSource(kv::SettingsRecord& r) : r_(r) {}
    kv::EditableDataset& dataset() override { return r_; }
    bool isInteger(const std::string& f) const override {
        auto* d = r_.def(f);
        return d && d->type == kv::SettingType::Integer;
    }
    int size(const std::string& f) const override {
        auto* d = r_.def(f);
        return d && d->type != kv::SettingType::Integer ? d->size : 0;
    }
    std::string displayText(const std::string& f) const override { return r_.displayText(f); }
    void setFromText(const std::string& f, const std::string& t) override { r_.setFromText(f, t); }
    std::optional<int64_t> intValue(const std::string& f) const override {
        if (isInteger(f)) return r_.intValue(f);
        return kv::ParseIniInteger(r_.text(f));  // radio groups stored as a digit
    }
    void setInt(const std::string& f, std::optional<int64_t> v) override {
        if (isInteger(f))
            r_.setInt(f, v);
        else
            r_.setText(f, v ? std::to_string(*v) : std::string());
    }
    std::optional<std::chrono::year_month_day> date(const std::string& f) const override {
        auto d = r_.date(f);
        return d.ok() ? std::optional(d) : std::nullopt;
    }
    void setDate(const std::string& f, std::chrono::year_month_day v) override { r_.setDate(f, v); }
    void addListener(std::function<void(const std::string&)> l) override { r_.addListener(std::move(l)); }

private:
    kv::SettingsRecord& r_;
};

class TableSource : public BoundRecord {
public:
    explicit TableSource(kv::MemTable& t) : t_(t) {}
    kv::EditableDataset& dataset() override { return t_; }
    bool isInteger(const std::string& f) const override {
        return kv::StorageOf(t_.field(f).type()) == kv::FieldStorage::Integer;
    }
    int size(const std::string& f) const override {
        const auto& d = t_.field(f).def();
        return kv::StorageOf(d.type) == kv::FieldStorage::Text ? d.size : 0;
    }
    bool hasRecord() const { return t_.active() && (!t_.isEmpty() || t_.isEditing()); }
    std::string displayText(const std::string& f) const override {
        return hasRecord() ? t_.field(f).asString() : std::string();
    }
    void setFromText(const std::string& f, const std::string& text) override {
        t_.edit();
        t_.field(f).setValue(kv::Value(text));
    }
    std::optional<int64_t> intValue(const std::string& f) const override {
        if (!hasRecord() || t_.field(f).isNull()) return std::nullopt;
        return t_.field(f).asInteger();
    }
    void setInt(const std::string& f, std::optional<int64_t> v) override {
        t_.edit();
        if (v)
            t_.field(f).setValue(kv::Value(*v));
        else
            t_.field(f).clear();
    }
    std::optional<std::chrono::year_month_day> date(const std::string& f) const override {
        if (!hasRecord() || t_.field(f).isNull()) return std::nullopt;
        auto p = t_.field(f).asDateTime().parts();
        return std::chrono::year_month_day{std::chrono::year{p.year}, std::chrono::month{static_cast<unsigned>(p.month)},
                                           std::chrono::day{static_cast<unsigned>(p.day)}};
    }
    void setDate(const std::string& f, std::chrono::year_month_day v) override {
        t_.edit();
        t_.field(f).setValue(kv::Value(kv::DateTime::fromParts(static_cast<int>(v.year()),
                                                               static_cast<int>(static_cast<unsigned>(v.month())),
                                                               static_cast<int>(static_cast<unsigned>(v.day())), 0, 0, 0, 0)));
    }
    void addListener(std::function<void(const std::string&)> l) override {
        t_.addChangeListener([l = std::move(l)](kv::MemTable&, kv::TableChange) { l(""); });
    }

private:
    kv::MemTable& t_;
};

}  // namespace

std::unique_ptr<BoundRecord> BindSettings(kv::SettingsRecord& record) { return std::make_unique<SettingsSource>(record); }
std::unique_ptr<BoundRecord> BindTable(kv::MemTable& table) { return std::make_unique<TableSource>(table); }

}  // namespace kv::gui

#pragma once
// The record in hand of a dataset as the data-bound widgets see it: a
// settings record or the current row of an in-memory table. Setters enter
// edit mode as a data-aware control does.
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace kv {
class EditableDataset;
class SettingsRecord;
class MemTable;
}  // namespace kv

namespace kv::gui {

class BoundRecord {
public:
    virtual ~BoundRecord() = default;
    virtual kv::EditableDataset& dataset() = 0;
    virtual bool isInteger(const std::string& field) const = 0;
    // Capacity in characters of a text field; 0 when unbounded or not text.
    virtual int size(const std::string& field) const = 0;
    virtual std::string displayText(const std::string& field) const = 0;
    // Throws with a message for the user when the text is not a valid value.
    virtual void setFromText(const std::string& field, const std::string& text) = 0;
    virtual std::optional<int64_t> intValue(const std::string& field) const = 0;
    virtual void setInt(const std::string& field, std::optional<int64_t> value) = 0;
    virtual std::optional<std::chrono::year_month_day> date(const std::string& field) const = 0;
    virtual void setDate(const std::string& field, std::chrono::year_month_day value) = 0;
    // Told after a change: a field name, or "" when any field may have changed.
    virtual void addListener(std::function<void(const std::string& field)> listener) = 0;
};

std::unique_ptr<BoundRecord> BindSettings(kv::SettingsRecord& record);
std::unique_ptr<BoundRecord> BindTable(kv::MemTable& table);

}  // namespace kv::gui

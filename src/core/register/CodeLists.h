#pragma once
// One code list as the "Šifarnici" page keeps it: the rows of a table (or
// of one master row, for barcodes and discounts), a current row, and the
// edit of that row, saved through the data layer with its guards.
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "register/Record.h"

namespace kv {
class Prompter;
}

namespace kv::reg {

class TDMGlavni;

class CodeList {
public:
    enum class State { Browse, Insert, Edit };
    // `table`: "Artikl", "Grupa", "Radnik", "Tarifa", "PaymentType", "Partner",
    // "Kart"; or the details "Barkod" (of an article) and "Rabat" (of a card).
    CodeList(TDMGlavni& db, std::string table, Prompter& prompter);

    const std::string& table() const { return table_; }
    // Reads the rows again (a detail list: those of `master`).
    void Load();
    void SetMaster(const std::string& key);
    // New rows take these (an article the current group and tariff).
    std::function<std::optional<std::string>()> currentGrupa, currentTarifa;

    const std::vector<Record>& rows() const { return rows_; }
    int current() const { return cur_; }
    const Record* currentRow() const { return cur_ >= 0 ? &rows_[cur_] : nullptr; }
    State state() const { return state_; }

    // Moving posts an edit first; false when that post was refused.
    bool GoTo(int row);
    bool First() { return GoTo(0); }
    bool Prior() { return GoTo(cur_ - 1); }
    bool Next() { return GoTo(cur_ + 1); }
    bool Last() { return GoTo(static_cast<int>(rows_.size()) - 1); }
    // A new row after the current one with its defaults.
    bool Insert();
    // Sets a field of the current row from its text (an edit begins);
    // false for text that is no value of the field.
    bool SetField(const std::string& column, const std::string& text);
    // Saves the row being edited: false (the message shown, the row still
    // in edit) for an empty required field or a duplicate key; a stored row
    // the server's guard keeps is put back silently.
    bool Post();
    void Cancel();
    // Deletes the current row (refused silently under the guard).
    bool Delete();
    std::function<void()> onChanged;

    // Title-click order: "" (as stored), "Field" ascending, "Field:D"
    // descending. Kept across reloads; the current row stays the same row.
    const std::string& order() const { return order_; }
    void SetOrder(const std::string& order);

private:
    void changed();
    TDMGlavni& db_;
    std::string table_;
    Prompter& prompter_;
    std::string master_;
    std::vector<Record> rows_;
    int cur_ = -1;
    State state_ = State::Browse;
    std::optional<Record> backup_;
    std::string order_;
    void sortRows();
};

}  // namespace kv::reg

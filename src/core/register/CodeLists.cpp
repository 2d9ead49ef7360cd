#include "register/CodeLists.h"

#include <algorithm>

#include "register/uDMGlavni.h"
#include "util/Prompter.h"

namespace kv::reg {

CodeList::CodeList(TDMGlavni& db, std::string table, Prompter& prompter)
    : db_(db), table_(std::move(table)), prompter_(prompter) {}

void CodeList::changed() {
    if (onChanged) onChanged();
}

void CodeList::Load() {
    state_ = State::Browse;
    backup_.reset();
    if (table_ == "Barkod")
        rows_ = db_.Barkod(master_);
    else if (table_ == "Rabat")
        rows_ = db_.Rabat(master_);
    else if (table_ == "Artikl")
        rows_ = db_.Artikl();
    else if (table_ == "Grupa")
        rows_ = db_.Grupa();
    else if (table_ == "Radnik")
        rows_ = db_.Radnik();
    else if (table_ == "Tarifa")
        rows_ = db_.Tarifa();
    else if (table_ == "PaymentType")
        rows_ = db_.NacPl();
    else if (table_ == "Partner")
        rows_ = db_.Partner();
    else if (table_ == "Kart")
        rows_ = db_.Kart();
    sortRows();
    cur_ = rows_.empty() ? -1 : std::min(std::max(cur_, 0), static_cast<int>(rows_.size()) - 1);
    changed();
}

void CodeList::sortRows() {
    if (order_.empty()) return;
    const bool desc = order_.size() > 2 && order_.compare(order_.size() - 2, 2, ":D") == 0;
    const std::string field = desc ? order_.substr(0, order_.size() - 2) : order_;
    auto key = [&](const Record& r) { return r[field]; };
    std::stable_sort(rows_.begin(), rows_.end(), [&](const Record& a, const Record& b) {
        const Value &x = key(a), &y = key(b);
        // Empty values first, then by value: numbers as numbers, text as text.
        const bool nx = std::holds_alternative<std::monostate>(x), ny = std::holds_alternative<std::monostate>(y);
        bool less;
        if (nx || ny)
            less = nx && !ny;
        else if (x.index() != y.index())
            less = x.index() < y.index();
        else
            less = x < y;
        bool greater = !nx && !ny && x.index() == y.index() ? y < x : (ny && !nx);
        return desc ? greater : less;
    });
}

void CodeList::SetOrder(const std::string& order) {
    if (state_ != State::Browse && !Post()) return;
    const Record* now = currentRow();
    const std::int64_t rowid = now ? now->rowid : 0;
    order_ = order;
    if (order_.empty()) {
        Load();  // the stored order again
    } else {
        sortRows();
    }
    for (std::size_t i = 0; i < rows_.size(); ++i)
        if (rows_[i].rowid == rowid) cur_ = static_cast<int>(i);
    changed();
}

void CodeList::SetMaster(const std::string& key) {
    if (state_ != State::Browse) Cancel();
    master_ = key;
    cur_ = 0;
    Load();
}

bool CodeList::GoTo(int row) {
    if (row < 0 || row >= static_cast<int>(rows_.size())) return false;
    if (row == cur_) return true;
    if (state_ != State::Browse && !Post()) return false;
    cur_ = row;
    changed();
    return true;
}

bool CodeList::Insert() {
    if (state_ != State::Browse && !Post()) return false;
    Record r = TDMGlavni::NewRecord(table_);
    if (table_ == "Artikl")
        r = TDMGlavni::NewArtikl(currentGrupa ? currentGrupa() : std::nullopt,
                                 currentTarifa ? currentTarifa() : std::nullopt);
    else if (table_ == "Barkod")
        r = TDMGlavni::NewBarkod(master_.empty() ? std::nullopt : std::optional<std::string>(master_));
    else if (table_ == "Rabat" && !master_.empty())
        r.set("RABATKART", master_);
    const int at = cur_ < 0 ? 0 : cur_ + 1;
    rows_.insert(rows_.begin() + at, std::move(r));
    cur_ = at;
    state_ = State::Insert;
    changed();
    return true;
}

bool CodeList::SetField(const std::string& column, const std::string& text) {
    if (cur_ < 0) return false;
    if (state_ == State::Browse) {
        backup_ = rows_[cur_];
        state_ = State::Edit;
    }
    try {
        rows_[cur_].set(column, Value(text));
    } catch (const std::exception&) {
        return false;
    }
    changed();
    return true;
}

bool CodeList::Post() {
    if (state_ == State::Browse) return true;
    Record& r = rows_[cur_];
    try {
        if (!db_.Save(r)) {
            // Kept by the central server: the stored row comes back.
            if (backup_) r = *backup_;
        }
    } catch (const std::exception& e) {
        prompter_.message(e.what(), MsgKind::Error);
        return false;
    }
    state_ = State::Browse;
    backup_.reset();
    changed();
    return true;
}

void CodeList::Cancel() {
    if (state_ == State::Insert) {
        rows_.erase(rows_.begin() + cur_);
        if (cur_ >= static_cast<int>(rows_.size())) cur_ = static_cast<int>(rows_.size()) - 1;
    } else if (state_ == State::Edit && backup_) {
        rows_[cur_] = *backup_;
    }
    state_ = State::Browse;
    backup_.reset();
    changed();
}

bool CodeList::Delete() {
    if (cur_ < 0) return false;
    if (state_ == State::Insert) {
        Cancel();
        return true;
    }
    if (state_ == State::Edit) Cancel();
    try {
        if (!db_.Delete(rows_[cur_])) return false;
    } catch (const std::exception& e) {
        prompter_.message(e.what(), MsgKind::Error);
        return false;
    }
    rows_.erase(rows_.begin() + cur_);
    if (cur_ >= static_cast<int>(rows_.size())) cur_ = static_cast<int>(rows_.size()) - 1;
    changed();
    return true;
}

}  // namespace kv::reg

#include "util/MemTable.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>
#include <type_traits>

#include "util/Utf8.h"

namespace kv {

namespace {

// Text types whose size limits the number of characters.
bool isSizedText(FieldType t) {
    return t == FieldType::String || t == FieldType::FixedChar || t == FieldType::WideString ||
           t == FieldType::FixedWideChar || t == FieldType::Guid;
}

struct IntRange {
    std::int64_t lo, hi;
};

IntRange rangeOf(FieldType t) {
    switch (t) {
        case FieldType::Smallint: return {-32768, 32767};
        case FieldType::Integer:
        case FieldType::AutoInc: return {std::numeric_limits<std::int32_t>::min(), std::numeric_limits<std::int32_t>::max()};
        case FieldType::Word: return {0, 65535};
        case FieldType::LongWord: return {0, std::numeric_limits<std::uint32_t>::max()};
        case FieldType::Shortint: return {-128, 127};
        case FieldType::Byte: return {0, 255};
        default: return {std::numeric_limits<std::int64_t>::min(), std::numeric_limits<std::int64_t>::max()};
    }
}

std::string_view trim(std::string_view s) {
    auto space = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    while (!s.empty() && space(s.front())) s.remove_prefix(1);
    while (!s.empty() && space(s.back())) s.remove_suffix(1);
    return s;
}

bool iequals(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
        if (x != y) return false;
    }
    return true;
}

std::string doubleText(double d) {
    char buf[64];
    auto res = std::to_chars(buf, buf + sizeof buf, d);  // shortest text that reads back exactly
    return std::string(buf, res.ptr);
}

// A value as it may appear in an error message: bounded and whole characters.
std::string describe(const Value& v) {
    if (const auto* s = std::get_if<std::string>(&v)) return "'" + FirstChars(*s, 40) + "'";
    if (std::holds_alternative<std::monostate>(v)) return "null";
    if (const auto* b = std::get_if<bool>(&v)) return *b ? "True" : "False";
    if (const auto* i = std::get_if<std::int64_t>(&v)) return std::to_string(*i);
    if (const auto* d = std::get_if<double>(&v)) return doubleText(*d);
    if (const auto* c = std::get_if<Currency>(&v)) return NumberText(*c);
    return std::get<DateTime>(v).toIso(' ');
}

[[noreturn]] void fail(const FieldDef& def, const std::string& what) {
    throw FieldConvertError("Field '" + def.name + "': " + what);
}

[[noreturn]] void failType(const FieldDef& def, const Value& v, const char* target) {
    fail(def, describe(v) + " is not a valid " + std::string(target) + " value");
}

std::optional<std::int64_t> parseIntegerText(std::string_view text) {
    std::string_view s = trim(text);
    if (!s.empty() && s.front() == '+') s.remove_prefix(1);
    std::int64_t out = 0;
    auto res = std::from_chars(s.data(), s.data() + s.size(), out);
    if (res.ec == std::errc() && res.ptr == s.data() + s.size() && !s.empty()) return out;
    // "12.0" or "12,0" from a file or a spreadsheet is still a whole number.
    if (auto c = ParseCurrencyWithRetry(text, '.'); c && c->raw() % Currency::kScale == 0)
        return c->raw() / Currency::kScale;
    return std::nullopt;
}

std::optional<double> parseFloatText(std::string_view text) {
    std::string s(trim(text));
    const bool hasPoint = s.find('.') != std::string::npos;
    const bool hasComma = s.find(',') != std::string::npos;
    if (hasPoint && hasComma) return std::nullopt;  // a thousands separator is never guessed
    if (hasComma) std::replace(s.begin(), s.end(), ',', '.');
    std::string_view v = s;
    if (!v.empty() && v.front() == '+') v.remove_prefix(1);
    if (v.empty() || !(std::isdigit(static_cast<unsigned char>(v.back())) || v.back() == '.')) return std::nullopt;
    double out = 0;
    auto res = std::from_chars(v.data(), v.data() + v.size(), out, std::chars_format::general);
    if (res.ec != std::errc() || res.ptr != v.data() + v.size() || !std::isfinite(out)) return std::nullopt;
    return out;
}

std::optional<bool> parseBoolText(std::string_view text) {
    std::string_view s = trim(text);
    if (iequals(s, "true") || iequals(s, "t") || s == "1") return true;
    if (iequals(s, "false") || iequals(s, "f") || s == "0") return false;
    return std::nullopt;
}

std::string readString(const FieldDef& def, const Value& v) {
    if (std::holds_alternative<std::monostate>(v)) return {};
    if (const auto* s = std::get_if<std::string>(&v)) return *s;
    if (const auto* dt = std::get_if<DateTime>(&v)) {
        switch (def.type) {
            case FieldType::Date: return dt->toIsoDate();
            case FieldType::Time: return dt->toIsoTime();
            case FieldType::DateTime:
            case FieldType::TimeStamp:
            case FieldType::OraTimeStamp:
            case FieldType::TimeStampOffset: return dt->toIso(' ');
            default: return dt->timeOfDayMs() == 0 ? dt->toIsoDate() : dt->toIso(' ');
        }
    }
    return describe(v);
}

std::int64_t readInteger(const FieldDef& def, const Value& v) {
    if (std::holds_alternative<std::monostate>(v)) return 0;
    if (const auto* b = std::get_if<bool>(&v)) return *b ? 1 : 0;
    if (const auto* i = std::get_if<std::int64_t>(&v)) return *i;
    if (const auto* d = std::get_if<double>(&v)) {
        const double r = std::round(*d);
        if (!std::isfinite(r) || r < -9223372036854775808.0 || r >= 9223372036854775808.0)
            fail(def, describe(v) + " is out of the integer range");
        return static_cast<std::int64_t>(r);
    }
    if (const auto* c = std::get_if<Currency>(&v)) {  // nearest whole number, halves away from zero
        std::int64_t q = c->raw() / Currency::kScale;
        const std::int64_t rem = c->raw() % Currency::kScale;
        if (rem >= Currency::kScale / 2) ++q;
        if (rem <= -Currency::kScale / 2) --q;
        return q;
    }
    if (const auto* s = std::get_if<std::string>(&v)) {
        if (auto i = parseIntegerText(*s)) return *i;
    }
    failType(def, v, "integer");
}

double readFloat(const FieldDef& def, const Value& v) {
    if (std::holds_alternative<std::monostate>(v)) return 0;
    if (const auto* i = std::get_if<std::int64_t>(&v)) return static_cast<double>(*i);
    if (const auto* d = std::get_if<double>(&v)) return *d;
    if (const auto* c = std::get_if<Currency>(&v)) return c->toDouble();
    if (const auto* s = std::get_if<std::string>(&v)) {
        if (auto d = parseFloatText(*s)) return *d;
    }
    failType(def, v, "floating point");
}

Currency readCurrency(const FieldDef& def, const Value& v) {
    if (std::holds_alternative<std::monostate>(v)) return Currency();
    try {
        if (const auto* i = std::get_if<std::int64_t>(&v)) return Currency(*i);
        if (const auto* d = std::get_if<double>(&v)) return Currency::fromDouble(*d);
    } catch (const std::overflow_error&) {
        fail(def, describe(v) + " is out of the currency range");
    }
    if (const auto* c = std::get_if<Currency>(&v)) return *c;
    if (const auto* s = std::get_if<std::string>(&v)) {
        if (auto c = ParseCurrencyWithRetry(*s, '.')) return *c;
    }
    failType(def, v, "currency");
}

bool readBoolean(const FieldDef& def, const Value& v) {
    if (std::holds_alternative<std::monostate>(v)) return false;
    if (const auto* b = std::get_if<bool>(&v)) return *b;
    if (const auto* i = std::get_if<std::int64_t>(&v)) return *i != 0;
    if (const auto* s = std::get_if<std::string>(&v)) {
        if (auto b = parseBoolText(*s)) return *b;
    }
    failType(def, v, "Boolean");
}

DateTime readDateTime(const FieldDef& def, const Value& v) {
    if (std::holds_alternative<std::monostate>(v)) return DateTime{};
    if (const auto* dt = std::get_if<DateTime>(&v)) return *dt;
    if (const auto* s = std::get_if<std::string>(&v)) {
        if (auto dt = ParseDateTimeText(*s)) return *dt;
    }
    failType(def, v, "date and time");
}

// `v` converted to what a field of `def` stores.
Value convertIn(const FieldDef& def, const Value& v) {
    if (std::holds_alternative<std::monostate>(v)) return {};
    if (const auto* d = std::get_if<double>(&v); d && !std::isfinite(*d))
        fail(def, describe(v) + " is not a finite number");
    const FieldStorage storage = StorageOf(def.type);
    if (const auto* s = std::get_if<std::string>(&v);
        s && storage != FieldStorage::Text && storage != FieldStorage::Bytes && storage != FieldStorage::Any && trim(*s).empty())
        return {};  // clearing a number or date in an editor leaves it empty, not zero

    switch (storage) {
        case FieldStorage::Text: {
            FieldDef asText = def;
            asText.type = FieldType::Unknown;  // dates: date only when the time is midnight
            std::string s = readString(asText, v);
            // No more bytes than the size: no more characters either, nothing to cut.
            if (isSizedText(def.type) && def.size > 0 && s.size() > static_cast<std::size_t>(def.size))
                s = FirstChars(s, static_cast<std::size_t>(def.size));
            return s;
        }
        case FieldStorage::Integer: {
            const std::int64_t i = readInteger(def, v);
            const IntRange r = rangeOf(def.type);
            if (i < r.lo || i > r.hi)
                fail(def, std::to_string(i) + " is out of the allowed range " + std::to_string(r.lo) + " to " +
                              std::to_string(r.hi));
            return i;
        }
        case FieldStorage::Boolean:
            return readBoolean(def, v);
        case FieldStorage::Float:
            return readFloat(def, v);
        case FieldStorage::Money: {
            const Currency c = readCurrency(def, v);
            const bool scaled = def.type == FieldType::BCD || def.type == FieldType::FMTBcd;
            if (scaled && def.size > 0 && def.size < 4) return RoundCurr(-def.size, c);
            return c;
        }
        case FieldStorage::Moment: {
            const DateTime dt = readDateTime(def, v);
            if (def.type == FieldType::Date) return dt.date();
            if (def.type == FieldType::Time) return DateTime{dt.timeOfDayMs()};
            return dt;
        }
        case FieldStorage::Bytes:
            if (!std::holds_alternative<std::string>(v)) failType(def, v, "binary");
            return v;
        case FieldStorage::Any:
            return v;
    }
    return v;
}

// Sort order of two values of one field: null first, then by value.
int compareValues(const Value& a, const Value& b) {
    if (a.index() != b.index()) return a.index() < b.index() ? -1 : 1;
    return std::visit(
        [&](const auto& x) -> int {
            using T = std::decay_t<decltype(x)>;
            if constexpr (std::is_same_v<T, std::monostate>) {
                return 0;
            } else {
                const T& y = std::get<T>(b);
                // Byte order of UTF-8 is code point order.
                if constexpr (std::is_same_v<T, std::string>) {
                    const int c = x.compare(y);
                    return c < 0 ? -1 : (c > 0 ? 1 : 0);
                } else {
                    return x < y ? -1 : (y < x ? 1 : 0);
                }
            }
        },
        a);
}

const Value kNull;

}  // namespace

// ---- ConstField / Field ----------------------------------------------------

const FieldDef& ConstField::def() const { return table_->defs_.at(index_); }
const Value& ConstField::value() const { return table_->currentValue(index_); }
bool ConstField::isNull() const { return std::holds_alternative<std::monostate>(value()); }
std::string ConstField::asString() const { return readString(def(), value()); }
std::int64_t ConstField::asInteger() const { return readInteger(def(), value()); }
double ConstField::asFloat() const { return readFloat(def(), value()); }
Currency ConstField::asCurrency() const { return readCurrency(def(), value()); }
bool ConstField::asBoolean() const { return readBoolean(def(), value()); }
DateTime ConstField::asDateTime() const { return readDateTime(def(), value()); }

void Field::setValue(const Value& v) const { const_cast<MemTable*>(table_)->assign(index_, v); }

// ---- MemTable --------------------------------------------------------------

MemTable::MemTable(std::vector<FieldDef> fields) {
    for (auto& f : fields) addField(std::move(f));
}

void MemTable::addField(FieldDef def) {
    if (active()) throw DatasetError("Cannot change the fields of an open table");
    if (def.name.empty()) throw DatasetError("A field needs a name");
    if (fieldIndex(def.name)) throw DatasetError("Duplicate field name '" + def.name + "'");
    if (def.size < 0) throw DatasetError("Field '" + def.name + "': negative size");
    defs_.push_back(std::move(def));
}

void MemTable::clearFields() {
    if (active()) throw DatasetError("Cannot change the fields of an open table");
    defs_.clear();
    keys_.clear();
}

std::optional<std::size_t> MemTable::fieldIndex(std::string_view name) const {
    for (std::size_t i = 0; i < defs_.size(); ++i)
        if (iequals(defs_[i].name, name)) return i;
    return std::nullopt;
}

std::size_t MemTable::requireField(std::string_view name) const {
    if (auto i = fieldIndex(name)) return *i;
    throw DatasetError("Field '" + std::string(name) + "' not found");
}

void MemTable::open() {
    if (active()) return;
    if (defs_.empty()) throw DatasetError("Cannot open a table without fields");
    setIndexFieldNames(indexFieldNames_);  // the field list may have changed while closed
    rows_.clear();
    order_.clear();
    buffer_.clear();
    state_ = DatasetState::Browse;
    pos_ = 0;
    bof_ = eof_ = true;
    notify(TableChange::Rows);
}

void MemTable::close() {
    if (!active()) return;
    checkNotCalculating();
    state_ = DatasetState::Inactive;
    rows_.clear();
    order_.clear();
    buffer_.clear();
    pos_ = 0;
    bof_ = eof_ = true;
    notify(TableChange::Rows);
}

void MemTable::checkActive() const {
    if (!active()) throw DatasetError("Cannot perform this operation on a closed table");
}

void MemTable::checkNotCalculating() const {
    if (state_ == DatasetState::CalcFields)
        throw DatasetError("Cannot move or change records while calculating fields");
}

void MemTable::checkBrowseMode() {
    checkActive();
    checkNotCalculating();
    if (isEditing()) post();
}

void MemTable::first() {
    checkBrowseMode();
    pos_ = 0;
    bof_ = true;
    eof_ = order_.empty();
    notify(TableChange::Cursor);
}

void MemTable::last() {
    checkBrowseMode();
    pos_ = order_.empty() ? 0 : order_.size() - 1;
    eof_ = true;
    bof_ = order_.empty();
    notify(TableChange::Cursor);
}

void MemTable::next() {
    checkBrowseMode();
    if (pos_ + 1 < order_.size()) {
        ++pos_;
        bof_ = eof_ = false;
    } else {
        eof_ = true;
    }
    notify(TableChange::Cursor);
}

void MemTable::prior() {
    checkBrowseMode();
    if (pos_ > 0 && !order_.empty()) {
        --pos_;
        bof_ = eof_ = false;
    } else {
        bof_ = true;
    }
    notify(TableChange::Cursor);
}

void MemTable::moveTo(std::size_t index) {
    checkBrowseMode();
    if (index >= order_.size()) throw DatasetError("Record index out of range");
    pos_ = index;
    bof_ = eof_ = false;
    notify(TableChange::Cursor);
}

void MemTable::append() {
    checkBrowseMode();
    buffer_.assign(defs_.size(), Value());
    state_ = DatasetState::Insert;
    bof_ = eof_ = false;
    calculate(buffer_);
    notify(TableChange::Rows);
}

void MemTable::edit() {
    checkActive();
    checkNotCalculating();
    if (isEditing()) return;
    if (order_.empty()) {  // editing an empty table starts its first record
        append();
        return;
    }
    editRow_ = order_[pos_];
    buffer_ = rows_[editRow_];
    state_ = DatasetState::Edit;
    notify(TableChange::Field);
}

void MemTable::post() {
    checkActive();
    checkNotCalculating();
    if (!isEditing()) throw DatasetError("Table is not in edit or insert mode");
    std::size_t stored;
    if (state_ == DatasetState::Insert) {
        rows_.push_back(std::move(buffer_));
        stored = rows_.size() - 1;
    } else {
        rows_[editRow_] = std::move(buffer_);
        stored = editRow_;
        order_.erase(std::find(order_.begin(), order_.end(), stored));
    }
    placeInOrder(stored);
    buffer_.clear();
    state_ = DatasetState::Browse;
    setPosTo(stored);
    bof_ = eof_ = false;
    // A listener may add or remove listeners; run the list as it was.
    const auto listeners = afterPost_;
    for (const auto& [id, cb] : listeners) cb(*this);
    notify(TableChange::Rows);
}

void MemTable::cancel() {
    if (!isEditing()) return;
    buffer_.clear();
    state_ = DatasetState::Browse;
    bof_ = eof_ = order_.empty();
    notify(TableChange::Rows);
}

void MemTable::deleteRecord() {
    checkActive();
    checkNotCalculating();
    if (state_ == DatasetState::Insert) {
        cancel();
        return;
    }
    cancel();
    if (order_.empty()) throw DatasetError("Cannot delete from an empty table");
    const std::size_t stored = order_[pos_];
    rows_.erase(rows_.begin() + static_cast<std::ptrdiff_t>(stored));
    order_.erase(order_.begin() + static_cast<std::ptrdiff_t>(pos_));
    for (auto& s : order_)
        if (s > stored) --s;
    if (pos_ >= order_.size()) pos_ = order_.empty() ? 0 : order_.size() - 1;
    bof_ = eof_ = order_.empty();
    notify(TableChange::Rows);
}

void MemTable::emptyDataSet() {
    checkActive();
    checkNotCalculating();
    buffer_.clear();
    state_ = DatasetState::Browse;
    rows_.clear();
    order_.clear();
    pos_ = 0;
    bof_ = eof_ = true;
    notify(TableChange::Rows);
}

Field MemTable::field(std::string_view name) { return Field(this, requireField(name)); }
ConstField MemTable::field(std::string_view name) const { return ConstField(this, requireField(name)); }

Field MemTable::field(std::size_t index) {
    if (index >= defs_.size()) throw DatasetError("Field index out of range");
    return Field(this, index);
}

ConstField MemTable::field(std::size_t index) const {
    if (index >= defs_.size()) throw DatasetError("Field index out of range");
    return ConstField(this, index);
}

const Value& MemTable::valueAt(std::size_t row, std::size_t fieldIndex) const {
    checkActive();
    if (row >= order_.size() || fieldIndex >= defs_.size()) throw DatasetError("Record or field index out of range");
    return rows_[order_[row]][fieldIndex];
}

const Value& MemTable::currentValue(std::size_t fi) const {
    checkActive();
    switch (state_) {
        case DatasetState::CalcFields: return (*calcRecord_)[fi];
        case DatasetState::Edit:
        case DatasetState::Insert: return buffer_[fi];
        default: return order_.empty() ? kNull : rows_[order_[pos_]][fi];
    }
}

void MemTable::assign(std::size_t fi, const Value& v) {
    checkActive();
    const FieldDef& def = defs_[fi];
    if (state_ == DatasetState::CalcFields) {
        if (def.kind == FieldKind::Data)
            throw DatasetError("Field '" + def.name + "' cannot be modified while calculating fields");
        (*calcRecord_)[fi] = convertIn(def, v);
        return;
    }
    if (!isEditing()) throw DatasetError("Cannot modify field '" + def.name + "': table is not in edit or insert mode");
    if (def.kind != FieldKind::Data) throw DatasetError("Field '" + def.name + "' is calculated and cannot be modified");
    buffer_[fi] = convertIn(def, v);
    calculate(buffer_);
    if (onFieldChange_) onFieldChange_(*this, Field(this, fi));
    notify(TableChange::Field);
}

void MemTable::calculate(Record& rec) {
    if (!onCalcFields_) return;
    for (std::size_t i = 0; i < defs_.size(); ++i)
        if (defs_[i].kind != FieldKind::Data) rec[i] = Value();
    calcReturnState_ = state_;
    state_ = DatasetState::CalcFields;
    calcRecord_ = &rec;
    struct Restore {
        MemTable& t;
        ~Restore() {
            t.state_ = t.calcReturnState_;
            t.calcRecord_ = nullptr;
        }
    } restore{*this};
    onCalcFields_(*this);
}

void MemTable::setOnCalcFields(Callback cb) {
    onCalcFields_ = std::move(cb);
    refreshCalcFields();
}

void MemTable::refreshCalcFields() {
    if (!active()) return;
    checkNotCalculating();
    for (auto& row : rows_) calculate(row);
    if (isEditing()) calculate(buffer_);
    if (!keys_.empty() && !order_.empty()) {  // a calculated field may be a sort key
        const std::size_t current = order_[pos_];
        rebuildOrder();
        setPosTo(current);
    }
}

int MemTable::addAfterPost(Callback cb) {
    afterPost_.emplace_back(nextListenerId_, std::move(cb));
    return nextListenerId_++;
}

void MemTable::removeAfterPost(int id) {
    std::erase_if(afterPost_, [id](const auto& entry) { return entry.first == id; });
}

FieldKind MemTable::fieldKind(const std::string& name) const { return defs_[requireField(name)].kind; }

void MemTable::setIndexFieldNames(const std::string& fieldNames) {
    std::vector<std::size_t> keys;
    std::string_view rest = fieldNames;
    while (!rest.empty()) {
        const std::size_t cut = rest.find(';');
        const std::string_view name = trim(rest.substr(0, cut));
        if (!name.empty()) keys.push_back(requireField(name));
        rest = cut == std::string_view::npos ? std::string_view() : rest.substr(cut + 1);
    }
    if (active()) checkBrowseMode();
    indexFieldNames_ = fieldNames;
    keys_ = std::move(keys);
    if (active() && !order_.empty()) {
        const std::size_t current = order_[pos_];
        rebuildOrder();
        setPosTo(current);
    }
    if (active()) notify(TableChange::Rows);
}

bool MemTable::keyLess(std::size_t a, std::size_t b) const {
    for (std::size_t k : keys_) {
        const int c = compareValues(rows_[a][k], rows_[b][k]);
        if (c != 0) return c < 0;
    }
    return a < b;  // equal keys keep insertion order
}

void MemTable::placeInOrder(std::size_t storageIndex) {
    auto at = std::lower_bound(order_.begin(), order_.end(), storageIndex,
                               [this](std::size_t a, std::size_t b) { return keyLess(a, b); });
    order_.insert(at, storageIndex);
}

void MemTable::rebuildOrder() {
    order_.resize(rows_.size());
    for (std::size_t i = 0; i < order_.size(); ++i) order_[i] = i;
    std::sort(order_.begin(), order_.end(), [this](std::size_t a, std::size_t b) { return keyLess(a, b); });
}

void MemTable::setPosTo(std::size_t storageIndex) {
    pos_ = static_cast<std::size_t>(std::find(order_.begin(), order_.end(), storageIndex) - order_.begin());
}

}  // namespace kv

namespace kv {

int MemTable::addChangeListener(ChangeCallback cb) {
    changeListeners_.emplace_back(nextListenerId_, std::move(cb));
    return nextListenerId_++;
}

void MemTable::removeChangeListener(int id) {
    std::erase_if(changeListeners_, [id](const auto& entry) { return entry.first == id; });
}

void MemTable::notify(TableChange change) {
    const auto listeners = changeListeners_;
    for (const auto& [id, cb] : listeners) cb(*this, change);
}

}  // namespace kv

namespace kv {
std::string FieldText(const FieldDef& def, const Value& v) { return readString(def, v); }
}  // namespace kv

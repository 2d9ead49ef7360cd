#pragma once
// An in-memory table with a cursor: the invoice datasets (Invoice, Items,
// Payment, TaxItems), one-row settings records and the grids build on it.
// It behaves like the client datasets the rest of Kovira was designed
// around: Browse/Edit/Insert states, post and cancel, field access by name
// with type conversion on assignment, calculated fields, and a sort order
// given as a list of field names.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "util/Currency.h"
#include "util/DateTime.h"
#include "util/EditableDataset.h"
#include "util/FieldTypes.h"
#include "util/GridSort.h"

namespace kv {

// Null, then one alternative per storage kind. Text is UTF-8; byte fields
// (Bytes, Blob, ...) keep their raw bytes in the std::string too.
using Value = std::variant<std::monostate, bool, std::int64_t, double, Currency, std::string, DateTime>;

// Misuse of a dataset: wrong state, closed, empty, unknown field name.
class DatasetError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A value that the field cannot take or give in the requested type; the
// message names the field.
class FieldConvertError : public DatasetError {
public:
    using DatasetError::DatasetError;
};

struct FieldDef {
    std::string name;
    FieldType type = FieldType::String;
    // Characters (not bytes) for String, FixedChar, WideString, FixedWideChar
    // and Guid; longer text is cut. 0 means unbounded. For BCD and FMTBcd
    // fields, 1 to 3 is the number of decimals kept (rounded half away from
    // zero); 0 keeps all four. Other types ignore it.
    int size = 0;
    // Data fields are stored and posted; the other kinds are filled by the
    // onCalcFields callback and are not saved.
    FieldKind kind = FieldKind::Data;
};

enum class DatasetState { Inactive, Browse, Edit, Insert, CalcFields };

// A stored value as the field shows it in text (what asString gives).
std::string FieldText(const FieldDef& def, const Value& v);

// What a change listener is told: the rows (or their order) changed, the
// cursor moved, or a field of the record in hand was assigned.
enum class TableChange { Rows, Cursor, Field };

class MemTable;

// A field of the current record (the edit buffer while editing). Cheap to
// copy; valid while the table's field list does not change.
class ConstField {
public:
    const FieldDef& def() const;
    const std::string& name() const { return def().name; }
    FieldType type() const { return def().type; }
    std::size_t index() const { return index_; }

    const Value& value() const;
    bool isNull() const;
    // Readers convert like the field layer: null reads as "", 0, false or the
    // zero DateTime; impossible conversions throw FieldConvertError.
    std::string asString() const;
    std::int64_t asInteger() const;
    double asFloat() const;
    Currency asCurrency() const;
    bool asBoolean() const;
    DateTime asDateTime() const;

protected:
    friend class MemTable;
    ConstField(const MemTable* table, std::size_t index) : table_(table), index_(index) {}
    const MemTable* table_;
    std::size_t index_;
};

class Field : public ConstField {
public:
    // Converts `v` to the field's type (text to numbers accepts '.' or ','
    // as decimal separator; empty text into a non-text field gives null) and
    // cuts text to the field size. Data fields only in Edit/Insert state,
    // other kinds only inside onCalcFields. Throws FieldConvertError or
    // DatasetError.
    void setValue(const Value& v) const;
    void setValue(const char* text) const { setValue(Value(std::string(text))); }
    void clear() const { setValue(Value()); }

private:
    friend class MemTable;
    Field(MemTable* table, std::size_t index) : ConstField(table, index) {}
};

class MemTable : public SortableDataset, public EditableDataset {
public:
    using Callback = std::function<void(MemTable&)>;
    using FieldChangeCallback = std::function<void(MemTable&, const Field&)>;

    MemTable() = default;
    explicit MemTable(std::vector<FieldDef> fields);
    MemTable(const MemTable&) = delete;
    MemTable& operator=(const MemTable&) = delete;
    ~MemTable() override = default;

    // Field list; changes only while closed. Names are unique ignoring ASCII case.
    void addField(FieldDef def);
    void clearFields();
    const std::vector<FieldDef>& fieldDefs() const { return defs_; }
    std::size_t fieldCount() const { return defs_.size(); }
    std::optional<std::size_t> fieldIndex(std::string_view name) const;  // ASCII case-insensitive

    // Opening starts with no records; closing discards pending edits and all records.
    void open();
    void close();
    bool active() const { return state_ != DatasetState::Inactive; }
    DatasetState state() const { return state_; }

    // Cursor over the sorted view. Moving while editing posts first.
    std::size_t recordCount() const { return order_.size(); }
    bool isEmpty() const { return order_.empty(); }
    std::size_t recordIndex() const { return pos_; }  // 0-based; 0 when empty
    void first() override;
    void last();
    void next();
    void prior();
    void moveTo(std::size_t index);
    bool eof() const { return eof_; }
    bool bof() const { return bof_; }

    // Edit cycle. append() posts a pending edit first; edit() on an empty
    // table appends; deleteRecord() while inserting only cancels the insert.
    void append();
    void edit();
    void post() override;
    void cancel() override;
    void deleteRecord();
    void emptyDataSet();
    bool isEditing() const override { return state_ == DatasetState::Edit || state_ == DatasetState::Insert; }

    // Field of the current record; DatasetError for an unknown name or a closed table.
    Field field(std::string_view name);
    ConstField field(std::string_view name) const;
    Field field(std::size_t index);
    ConstField field(std::size_t index) const;
    // Stored value of any record in view order, without moving the cursor
    // (for grids); ignores a pending edit.
    const Value& valueAt(std::size_t row, std::size_t fieldIndex) const;

    // Fills the non-data fields of the record in hand: the table is in
    // CalcFields state, data fields read, other fields accept setValue.
    // Runs for the edit buffer after every change and for every record when
    // set or on refreshCalcFields().
    void setOnCalcFields(Callback cb);
    void refreshCalcFields();
    // Called after every successful post; listeners run in the order added.
    int addAfterPost(Callback cb);
    void removeAfterPost(int id);
    // Called after a data field of the edit buffer was assigned.
    void setOnFieldChange(FieldChangeCallback cb) { onFieldChange_ = std::move(cb); }
    // Views (grids, bound editors) listen here to show the table as it is.
    using ChangeCallback = std::function<void(MemTable&, TableChange)>;
    int addChangeListener(ChangeCallback cb);
    void removeChangeListener(int id);

    // Sort order: ";"-separated field names, ascending, stable
    // (records with equal keys keep their insertion order); "" is insertion
    // order. Setting it keeps the cursor on the same record.
    SortStyle sortStyle() const override { return SortStyle::TwoState; }
    bool canSort() const override { return active(); }
    FieldKind fieldKind(const std::string& name) const override;
    std::string indexFieldNames() const override { return indexFieldNames_; }
    void setIndexFieldNames(const std::string& fieldNames) override;

private:
    friend class ConstField;
    friend class Field;
    using Record = std::vector<Value>;

    void checkActive() const;
    void checkNotCalculating() const;
    void checkBrowseMode();  // posts a pending edit
    std::size_t requireField(std::string_view name) const;
    const Value& currentValue(std::size_t fi) const;
    void assign(std::size_t fi, const Value& v);
    void calculate(Record& rec);
    bool keyLess(std::size_t a, std::size_t b) const;
    void placeInOrder(std::size_t storageIndex);
    void rebuildOrder();
    void setPosTo(std::size_t storageIndex);
    void notify(TableChange change);

    std::vector<FieldDef> defs_;
    std::vector<Record> rows_;         // storage, insertion order
    std::vector<std::size_t> order_;   // view: storage indexes in sort order
    std::vector<std::size_t> keys_;    // field indexes of the sort order
    std::string indexFieldNames_;

    DatasetState state_ = DatasetState::Inactive;
    std::size_t pos_ = 0;
    bool bof_ = true;
    bool eof_ = true;
    Record buffer_;                    // edit buffer in Edit/Insert
    std::size_t editRow_ = 0;          // storage index being edited
    Record* calcRecord_ = nullptr;     // record in hand during CalcFields
    DatasetState calcReturnState_ = DatasetState::Browse;

    Callback onCalcFields_;
    std::vector<std::pair<int, Callback>> afterPost_;
    int nextListenerId_ = 1;
    FieldChangeCallback onFieldChange_;
    std::vector<std::pair<int, ChangeCallback>> changeListeners_;
};

}  // namespace kv

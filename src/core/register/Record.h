#pragma once
// One row of a register table as the program holds it: the values in column
// order, typed by the column (decimal columns as Currency at their scale,
// dates as DateTime), with the rowid and the key it was read under, so a
// save addresses the row it came from even when the key was edited.
#include <concepts>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "register/Schema.h"
#include "util/Currency.h"
#include "util/DateTime.h"
#include "util/MemTable.h"  // kv::Value

namespace kv::reg {

struct Record {
    const Table* table = nullptr;
    std::int64_t rowid = 0;        // 0: not stored yet
    std::vector<Value> values;     // in column order
    std::vector<Value> stored;     // as read from the file; empty for a new row

    explicit Record(const Table& t) : table(&t), values(t.columns.size()) {}

    bool isNew() const { return rowid == 0; }
    const Value& operator[](std::string_view column) const;
    // Sets a column, converting the value to the column's type: text into a
    // number or date column is parsed (nullopt-like text gives null), a number
    // into a decimal column is rounded to its scale. std::invalid_argument for
    // text that is no number or date.
    Record& set(std::string_view column, const Value& v);
    // Text; a template so that an integer 0 never passes for a null pointer.
    template <class C>
        requires std::same_as<C, char>
    Record& set(std::string_view column, const C* text) {
        return set(column, Value(std::string(text ? text : "")));
    }

    // Readers: null reads as "", nullopt.
    std::string text(std::string_view column) const;
    std::optional<std::int64_t> integer(std::string_view column) const;
    std::optional<Currency> decimal(std::string_view column) const;
    std::optional<DateTime> date(std::string_view column) const;
    bool isNull(std::string_view column) const;

private:
    int col(std::string_view column) const;
};

// Decimal places a column keeps in the program: 2 for amounts, 4 for
// quantities and percentages; -1 for non-decimal columns.
int ScaleOf(ColType type);
// The value converted to a column's type (see Record::set).
Value ToColumnType(const Column& c, const Value& v);

}  // namespace kv::reg

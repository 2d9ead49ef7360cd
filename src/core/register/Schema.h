#pragma once
// The cash register's tables: names, columns and declared types of the
// SQLite file "Kovira.sdb". Other programs of the business read and write
// this file too, so names and declarations are fixed; the script below only
// ever adds what is missing.
#include <string>
#include <string_view>
#include <vector>

namespace kv::reg {

// How a column's value is held in the program. Decimal columns come in as
// Currency at their scale, whatever SQLite stored; dates as DateTime.
enum class ColType {
    Integer,   // INTEGER
    Text,      // TEXT
    Money,     // NUMERIC(18, 2): amounts and prices, two decimals
    Quantity,  // NUMERIC(18, 4): quantities and percentages, four decimals
    Date,      // DATETIME holding a date ("2024-05-01")
    DateTime,  // DATETIME holding date and time ("2024-05-01 13:45:07")
    Real,      // REAL amount (the device list's copy): read as Currency, two decimals
};

struct Column {
    const char* name;
    const char* decl;  // declared type exactly as created
    ColType type;
    int key = 0;       // 1, 2, ... position in the primary key; 0 = not a key column
    bool notNull = false;
    bool required = false;  // must have a value on save (keys always do)
};

struct Table {
    const char* name;
    std::vector<Column> columns;
    bool codeList = false;     // owned by the central server while the server link is on
    bool explicitNull = false; // nullable columns declared with NULL
    int index(std::string_view column) const;  // -1 when absent (ASCII case-insensitive)
    std::vector<int> keyColumns() const;       // indexes in key order
};

// The twelve tables in script order.
const std::vector<Table>& Tables();
// The table of that name (ASCII case-insensitive); std::out_of_range when unknown.
const Table& TableDef(std::string_view name);

// `CreateDB`: every CREATE TABLE IF NOT EXISTS, then the indexes the lookups,
// the numbering and the stock of one article need (CREATE INDEX IF NOT EXISTS).
const std::string& CreateDB();

}  // namespace kv::reg

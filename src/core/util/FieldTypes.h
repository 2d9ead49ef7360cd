#pragma once
// Field types of the in-memory datasets, numbered like the dataset layer the
// saved files and grid tools were designed around, so that ordinals written
// to a file keep their meaning.
#include <cstdint>
#include <optional>
#include <string>

namespace kv {

enum class FieldType : std::uint8_t {
    Unknown = 0,
    String,
    Smallint,
    Integer,
    Word,
    Boolean,
    Float,
    Currency,
    BCD,
    Date,
    Time,  // 10
    DateTime,
    Bytes,
    VarBytes,
    AutoInc,
    Blob,
    Memo,
    Graphic,
    FmtMemo,
    ParadoxOle,
    DBaseOle,  // 20
    TypedBinary,
    Cursor,
    FixedChar,
    WideString,
    Largeint,
    ADT,
    Array,
    Reference,
    DataSet,
    OraBlob,  // 30
    OraClob,
    Variant,
    Interface,
    IDispatch,
    Guid,
    TimeStamp,
    FMTBcd,
    FixedWideChar,
    WideMemo,
    OraTimeStamp,  // 40
    OraInterval,
    LongWord,
    Shortint,
    Byte,
    Extended,
    Connection,
    Params,
    Stream,
    TimeStampOffset,
    Object,  // 50
    Single,
};

inline constexpr int kFieldTypeCount = 52;
static_assert(static_cast<int>(FieldType::Single) == kFieldTypeCount - 1);

// How a value of each type is held in memory: text (UTF-8), whole numbers,
// Booleans, floating point, money (Currency), date and time, raw bytes, or
// whatever it was given (Variant and the structured kinds).
enum class FieldStorage { Text, Integer, Boolean, Float, Money, Moment, Bytes, Any };
FieldStorage StorageOf(FieldType t);

// The type for a stored ordinal; nullopt above the last type.
std::optional<FieldType> FieldTypeFromOrdinal(int ordinal);

// Upper-case type name as the grid tools show it ("VARCHAR", "CURRENCY",
// "FTWIDEMEMO"); an ordinal above the last type reads as "UNKNOWN".
std::string FieldTypeName(std::uint8_t ordinal);
inline std::string FieldTypeName(FieldType t) { return FieldTypeName(static_cast<std::uint8_t>(t)); }

}  // namespace kv

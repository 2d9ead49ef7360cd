#include "util/FieldTypes.h"

namespace kv {

namespace {

// Indexed by ordinal. The entries are the names the grid tools have always
// shown: the memo-like binary kinds 18..21 all read "Blob", and the newer
// types from 38 on carry their "ft" prefix.
constexpr const char* kNames[kFieldTypeCount] = {
    "Unknown",         "VarChar",     "Smallint",   "Integer",        "Word",        "Boolean",
    "Float",           "Currency",    "BCD",        "Date",           "Time",        "DateTime",
    "Bytes",           "VarBytes",    "AutoInc",    "Blob",           "Memo",        "Graphic",
    "Blob",            "Blob",        "Blob",       "Blob",           "Cursor",      "FixedChar",
    "WideString",      "Largeint",    "ADT",        "Array",          "Reference",   "DataSet",
    "OraBlob",         "OraClob",     "Variant",    "Interface",      "IDispatch",   "Guid",
    "TimeStamp",       "FMTBcd",      "ftFixedWideChar", "ftWideMemo", "ftOraTimeStamp",
    "ftOraInterval",   "ftLongWord",  "ftShortint", "ftByte",         "ftExtended",  "ftConnection",
    "ftParams",        "ftStream",    "ftTimeStampOffset", "ftObject", "ftSingle",
};

}  // namespace

FieldStorage StorageOf(FieldType t) {
    switch (t) {
        case FieldType::String:
        case FieldType::FixedChar:
        case FieldType::WideString:
        case FieldType::FixedWideChar:
        case FieldType::Memo:
        case FieldType::WideMemo:
        case FieldType::FmtMemo:
        case FieldType::OraClob:
        case FieldType::Guid:
            return FieldStorage::Text;
        case FieldType::Smallint:
        case FieldType::Integer:
        case FieldType::Word:
        case FieldType::AutoInc:
        case FieldType::Largeint:
        case FieldType::LongWord:
        case FieldType::Shortint:
        case FieldType::Byte:
            return FieldStorage::Integer;
        case FieldType::Boolean:
            return FieldStorage::Boolean;
        case FieldType::Float:
        case FieldType::Extended:
        case FieldType::Single:
            return FieldStorage::Float;
        case FieldType::Currency:
        case FieldType::BCD:
        case FieldType::FMTBcd:
            return FieldStorage::Money;
        case FieldType::Date:
        case FieldType::Time:
        case FieldType::DateTime:
        case FieldType::TimeStamp:
        case FieldType::OraTimeStamp:
        case FieldType::TimeStampOffset:
            return FieldStorage::Moment;
        case FieldType::Bytes:
        case FieldType::VarBytes:
        case FieldType::Blob:
        case FieldType::Graphic:
        case FieldType::ParadoxOle:
        case FieldType::DBaseOle:
        case FieldType::TypedBinary:
        case FieldType::OraBlob:
            return FieldStorage::Bytes;
        default:
            return FieldStorage::Any;
    }
}

std::optional<FieldType> FieldTypeFromOrdinal(int ordinal) {
    if (ordinal < 0 || ordinal >= kFieldTypeCount) return std::nullopt;
    return static_cast<FieldType>(ordinal);
}

std::string FieldTypeName(std::uint8_t ordinal) {
    std::string name = kNames[ordinal < kFieldTypeCount ? ordinal : 0];
    for (char& c : name)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return name;
}

}  // namespace kv

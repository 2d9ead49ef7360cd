#include "util/CdsFile.h"

#include "util/Base64.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <system_error>

#include <rapidjson/document.h>
#include <rapidjson/error/en.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

namespace kv {

namespace {

namespace fs = std::filesystem;

constexpr const char* kFormat = "kovira-dataset";
constexpr int kVersion = 1;
constexpr rapidjson::SizeType kMaxFields = 4096;


using Writer = rapidjson::Writer<rapidjson::StringBuffer>;

void writeString(Writer& w, const std::string& s) { w.String(s.data(), static_cast<rapidjson::SizeType>(s.size())); }

void writeValue(Writer& w, const FieldDef& def, const Value& v) {
    if (std::holds_alternative<std::monostate>(v)) {
        w.Null();
    } else if (const auto* s = std::get_if<std::string>(&v)) {
        writeString(w, StorageOf(def.type) == FieldStorage::Bytes ? Base64Encode(*s) : *s);
    } else if (const auto* b = std::get_if<bool>(&v)) {
        w.Bool(*b);
    } else if (const auto* i = std::get_if<std::int64_t>(&v)) {
        w.Int64(*i);
    } else if (const auto* d = std::get_if<double>(&v)) {
        w.Double(*d);
    } else if (const auto* c = std::get_if<Currency>(&v)) {
        writeString(w, NumberText(*c));  // exact; a JSON number would pass through binary floating point
    } else {
        const DateTime dt = std::get<DateTime>(v);
        writeString(w, def.type == FieldType::Date ? dt.toIsoDate() : dt.toIso('T'));
    }
}

std::string readBounded(const std::string& path) {
    std::error_code ec;
    const fs::file_status st = fs::status(path, ec);
    if (ec || !fs::exists(st)) throw CdsFileError("Cannot read dataset file '" + path + "': file not found");
    if (!fs::is_regular_file(st)) throw CdsFileError("Cannot read dataset file '" + path + "': not a regular file");
    const std::uintmax_t size = fs::file_size(path, ec);
    if (ec) throw CdsFileError("Cannot read dataset file '" + path + "': " + ec.message());
    if (size > kMaxCdsFileSize)
        throw CdsFileError("Dataset file '" + path + "' is too large (" + std::to_string(size) + " bytes)");
    std::ifstream in(path, std::ios::binary);
    if (!in) throw CdsFileError("Cannot read dataset file '" + path + "': " + std::strerror(errno));
    // Read at most one byte over the limit, in case the file grew meanwhile.
    std::string text(static_cast<std::size_t>(size) + 1, '\0');
    in.read(text.data(), static_cast<std::streamsize>(text.size()));
    if (in.bad()) throw CdsFileError("Cannot read dataset file '" + path + "': read error");
    text.resize(static_cast<std::size_t>(in.gcount()));
    if (text.size() > kMaxCdsFileSize) throw CdsFileError("Dataset file '" + path + "' is too large");
    return text;
}

// The file's JSON value for one field, as the Value a field of that type takes.
std::optional<Value> valueFromJson(const FieldDef& def, const rapidjson::Value& j) {
    if (j.IsNull()) return Value();
    switch (StorageOf(def.type)) {
        case FieldStorage::Text:
            if (j.IsString()) return Value(std::string(j.GetString(), j.GetStringLength()));
            return std::nullopt;
        case FieldStorage::Integer:
            if (j.IsInt64()) return Value(j.GetInt64());
            return std::nullopt;
        case FieldStorage::Boolean:
            if (j.IsBool()) return Value(j.GetBool());
            return std::nullopt;
        case FieldStorage::Float:
            if (j.IsNumber()) return Value(j.GetDouble());
            return std::nullopt;
        case FieldStorage::Money:
            if (j.IsString()) {
                if (auto c = ParseCurrency(std::string_view(j.GetString(), j.GetStringLength()), '.')) return Value(*c);
            }
            return std::nullopt;
        case FieldStorage::Moment:
            if (j.IsString()) {
                if (auto dt = ParseDateTimeText(std::string_view(j.GetString(), j.GetStringLength()))) return Value(*dt);
            }
            return std::nullopt;
        case FieldStorage::Bytes:
            if (j.IsString()) {
                if (auto bytes = DecodeBase64(std::string_view(j.GetString(), j.GetStringLength())))
                    return Value(std::move(*bytes));
            }
            return std::nullopt;
        case FieldStorage::Any:
            if (j.IsString()) return Value(std::string(j.GetString(), j.GetStringLength()));
            if (j.IsBool()) return Value(j.GetBool());
            if (j.IsInt64()) return Value(j.GetInt64());
            if (j.IsNumber()) return Value(j.GetDouble());
            return std::nullopt;
    }
    return std::nullopt;
}

// Reads the whole file into `temp` (fields, then records); throws CdsFileError.
void readInto(MemTable& temp, const std::string& path) {
    auto bad = [&](const std::string& why) { return CdsFileError("Dataset file '" + path + "' is invalid: " + why); };

    const std::string text = readBounded(path);
    rapidjson::Document doc;
    doc.Parse<rapidjson::kParseIterativeFlag | rapidjson::kParseFullPrecisionFlag |
              rapidjson::kParseValidateEncodingFlag>(text.data(), text.size());
    if (doc.HasParseError())
        throw bad(std::string(rapidjson::GetParseError_En(doc.GetParseError())) + " at offset " +
                  std::to_string(doc.GetErrorOffset()));
    if (!doc.IsObject()) throw bad("not a JSON object");
    const auto format = doc.FindMember("format");
    if (format == doc.MemberEnd() || !format->value.IsString() || std::string_view(format->value.GetString()) != kFormat)
        throw bad("not a Kovira dataset");
    const auto version = doc.FindMember("version");
    if (version == doc.MemberEnd() || !version->value.IsInt() || version->value.GetInt() != kVersion)
        throw bad("unsupported version");
    const auto fields = doc.FindMember("fields");
    const auto records = doc.FindMember("records");
    if (fields == doc.MemberEnd() || !fields->value.IsArray() || fields->value.Empty())
        throw bad("missing field list");
    if (records == doc.MemberEnd() || !records->value.IsArray()) throw bad("missing records");
    if (fields->value.Size() > kMaxFields) throw bad("too many fields");

    for (const auto& f : fields->value.GetArray()) {
        if (!f.IsObject()) throw bad("field entry is not an object");
        const auto name = f.FindMember("name");
        const auto type = f.FindMember("type");
        const auto size = f.FindMember("size");
        if (name == f.MemberEnd() || !name->value.IsString() || name->value.GetStringLength() == 0)
            throw bad("field without a name");
        const std::string fieldName(name->value.GetString(), name->value.GetStringLength());
        if (type == f.MemberEnd() || !type->value.IsInt() || !FieldTypeFromOrdinal(type->value.GetInt()))
            throw bad("field '" + fieldName + "' has no valid type");
        int fieldSize = 0;
        if (size != f.MemberEnd()) {
            if (!size->value.IsInt() || size->value.GetInt() < 0) throw bad("field '" + fieldName + "' has a bad size");
            fieldSize = size->value.GetInt();
        }
        try {
            temp.addField({fieldName, *FieldTypeFromOrdinal(type->value.GetInt()), fieldSize, FieldKind::Data});
        } catch (const DatasetError& e) {
            throw bad(e.what());
        }
    }

    temp.open();
    const std::size_t fieldCount = temp.fieldCount();
    std::size_t recNo = 0;
    for (const auto& rec : records->value.GetArray()) {
        ++recNo;
        if (!rec.IsArray() || rec.Size() != fieldCount)
            throw bad("record " + std::to_string(recNo) + " does not have " + std::to_string(fieldCount) + " values");
        temp.append();
        for (rapidjson::SizeType i = 0; i < rec.Size(); ++i) {
            const FieldDef& def = temp.fieldDefs()[i];
            const auto value = valueFromJson(def, rec[i]);
            if (!value) throw bad("record " + std::to_string(recNo) + ", field '" + def.name + "': value of wrong type");
            try {
                temp.field(i).setValue(*value);
            } catch (const FieldConvertError& e) {
                throw bad("record " + std::to_string(recNo) + ": " + e.what());
            }
        }
        temp.post();
    }
}

std::atomic<unsigned> tempCounter{0};

void writeAll(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR) continue;
            throw std::system_error(errno, std::generic_category());
        }
        data += n;
        size -= static_cast<std::size_t>(n);
    }
}

}  // namespace

void SaveCdsFile(const MemTable& table, const std::string& path, bool durable) {
    if (!table.active()) throw DatasetError("Cannot save a closed table to '" + path + "'");

    std::vector<std::size_t> dataFields;
    for (std::size_t i = 0; i < table.fieldCount(); ++i)
        if (table.fieldDefs()[i].kind == FieldKind::Data) dataFields.push_back(i);

    rapidjson::StringBuffer buf;
    Writer w(buf);
    w.StartObject();
    w.Key("format");
    w.String(kFormat);
    w.Key("version");
    w.Int(kVersion);
    w.Key("fields");
    w.StartArray();
    for (std::size_t i : dataFields) {
        const FieldDef& def = table.fieldDefs()[i];
        w.StartObject();
        w.Key("name");
        writeString(w, def.name);
        w.Key("type");
        w.Int(static_cast<int>(def.type));
        w.Key("typeName");
        writeString(w, FieldTypeName(def.type));
        w.Key("size");
        w.Int(def.size);
        w.EndObject();
    }
    w.EndArray();
    w.Key("records");
    w.StartArray();
    for (std::size_t row = 0; row < table.recordCount(); ++row) {
        w.StartArray();
        for (std::size_t i : dataFields) writeValue(w, table.fieldDefs()[i], table.valueAt(row, i));
        w.EndArray();
    }
    w.EndArray();
    w.EndObject();

    const std::string tmp = path + ".tmp." + std::to_string(::getpid()) + "." + std::to_string(tempCounter++);
    const int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) throw CdsFileError("Cannot write dataset file '" + path + "': " + std::strerror(errno));
    try {
        writeAll(fd, buf.GetString(), buf.GetSize());
        if (durable && ::fsync(fd) != 0) throw std::system_error(errno, std::generic_category());
        if (::close(fd) != 0) {
            const int err = errno;
            ::unlink(tmp.c_str());
            throw CdsFileError("Cannot write dataset file '" + path + "': " + std::strerror(err));
        }
    } catch (const std::system_error& e) {
        ::close(fd);
        ::unlink(tmp.c_str());
        throw CdsFileError("Cannot write dataset file '" + path + "': " + e.code().message());
    }
    std::error_code ec;
    fs::rename(tmp, path, ec);
    if (ec) {
        ::unlink(tmp.c_str());
        throw CdsFileError("Cannot write dataset file '" + path + "': " + ec.message());
    }
}

bool LoadCdsFile(MemTable& target, const std::string& path) {
    MemTable temp;
    readInto(temp, path);  // the target is touched only once the whole file is known good

    if (!target.active()) target.open();
    target.emptyDataSet();

    // Where each file field goes in the target, if anywhere.
    std::vector<std::optional<std::size_t>> dest;
    for (const FieldDef& def : temp.fieldDefs()) dest.push_back(target.fieldIndex(def.name));

    for (std::size_t row = 0; row < temp.recordCount(); ++row) {
        target.append();
        for (std::size_t i = 0; i < dest.size(); ++i) {
            if (!dest[i]) continue;
            try {
                target.field(*dest[i]).setValue(temp.valueAt(row, i));
            } catch (const std::exception&) {
                // One value the target will not take (wrong type, calculated
                // field, ...) must not cost the rest of the record.
            }
        }
        target.post();
    }
    return true;
}

}  // namespace kv

#pragma once
// Kovira's saved form of an in-memory table: a JSON document with the data
// fields (name, type ordinal and name, size) and then the records as arrays
// of typed values (currency as exact decimal text, dates as ISO text, bytes
// as base64). The invoice datasets save themselves after every post and are
// restored from these files at start-up.
#include <cstdint>
#include <stdexcept>
#include <string>

#include "util/MemTable.h"

namespace kv {

// A dataset file that cannot be written, read or understood; the message
// names the file.
class CdsFileError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Larger files are refused unread: an invoice is a few kilobytes.
inline constexpr std::uintmax_t kMaxCdsFileSize = 64u * 1024u * 1024u;

// Writes the data fields and stored records (view order) of an open table.
// The text goes to a temporary file in the same folder that is then renamed
// over `path`, so readers see the old file or the new one, never a part.
// `durable`: the new file is forced to disk (fsync) before it replaces the
// old one, so this also holds after a power cut. Without it the replacement
// still survives a crash of the process, but after a power cut the file may
// be the old one, the new one or unreadable.
void SaveCdsFile(const MemTable& table, const std::string& path, bool durable = true);

// Replaces the records of `target` with those of the file, copying fields by
// name (ASCII case-insensitive); file fields the target lacks are skipped,
// target fields the file lacks stay null, and a value the target field will
// not take is skipped. Opens `target` if it is closed. The whole file is read
// and checked first: a missing, oversized or malformed file throws
// CdsFileError and leaves `target` as it was. Errors of `target` itself while
// appending or posting propagate. Returns true.
bool LoadCdsFile(MemTable& target, const std::string& path);

}  // namespace kv

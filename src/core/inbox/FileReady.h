#pragma once
// Reading an input file only once its producer has finished writing it.
#include <string>

namespace kv::inbox {

enum class Readiness {
    Ready,  // read whole into *bytes
    Busy,   // another process still has it open for writing (or it changed a moment ago)
    Gone,   // no such file any more
    Failed  // cannot be read (see *error)
};

// Never blocks: a file that is still being written is reported Busy and the
// caller comes back later. Where the kernel allows it, a read lease tells
// whether any process holds the file open for writing; elsewhere a file
// modified within the last `settleMs` counts as still being written.
Readiness ReadWhenReady(const std::string& path, std::string* bytes, std::string* error, int settleMs = 200,
                        size_t maxBytes = 4u << 20);

}  // namespace kv::inbox

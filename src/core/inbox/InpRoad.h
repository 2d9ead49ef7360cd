#pragma once
// How the watcher hands a ".inp" file to the cash register. The register
// keeps, with every document it made from a file, the file's folder, name
// and content digest, so the same file found again (Kovira stopped before
// deleting it) resumes its document instead of making a second one.
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace kv::inbox {

class InpRoad {
public:
    virtual ~InpRoad() = default;

    enum class Outcome {
        NotLoaded,  // the file cannot be taken (message says why); nothing was written
        Loaded,     // its document exists, not handed off (by hand: "Preuzmi podatke")
        Signed,     // signed now or before: the file may go
        Failed,     // the device refused it (message): the file goes, the document stays unsigned
        Pending,    // the device may have signed it and cannot say: the file stays
    };
    struct Result {
        std::string name;
        Outcome outcome = Outcome::NotLoaded;
        std::string message;
        std::string digest;  // of the content, for Retired
        long long broj = 0;  // the document's number
    };
    struct File {
        std::string name, bytes;
    };

    // Finds each file's document or creates it whole, every file on its own
    // (one that cannot be taken leaves nothing); with `fiscalise` hands them
    // off in order unless signed already. A hand-off that does not end
    // signed stops the rest, which come back Loaded. One result per file,
    // in order. The files of one call share their transactions.
    virtual std::vector<Result> Take(const std::string& folder, const std::vector<File>& files, bool fiscalise) = 0;
    // These files were deleted: their records no longer stand for files waiting.
    virtual void Retired(const std::string& folder, const std::vector<std::pair<std::string, std::string>>& nameDigest) = 0;
    // Start-up: records of files that are no longer in the folder are retired.
    virtual void Sweep(const std::string& folder, const std::set<std::string>& present) = 0;
};

}  // namespace kv::inbox

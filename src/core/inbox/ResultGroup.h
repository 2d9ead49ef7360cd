#pragma once
// Result files answered together. A burst of input files would otherwise
// pay two disk flushes per file (the file, then its folder); a group pays
// them once. Each file is written under a temporary name beside its final
// one; commit() forces the group's bytes to disk, renames the files into
// place and syncs the folder, so a producer sees a result file only once
// its bytes are on disk, and every file of the group is durable when
// commit() returns (only then may the input files they answer go).
#include <cstddef>
#include <string>
#include <vector>

#include "inbox/KvrFile.h"

namespace kv::inbox {

class ResultGroup {
public:
    explicit ResultGroup(std::string outputFolder);
    ~ResultGroup();  // discards what was not committed
    ResultGroup(const ResultGroup&) = delete;
    ResultGroup& operator=(const ResultGroup&) = delete;

    // Writes `text` in `codePage` for the bare name `fileName` under a
    // temporary name (".<name>.<pid>.<n>.tmp", never ending in ".kvr").
    // A name given twice keeps the later text, as writing twice would.
    // Throws ResultWriteError naming the path; nothing of that file is left.
    void add(const std::string& fileName, const std::string& text, const std::string& codePage);
    // True when `fileName` waits in the group.
    bool holds(const std::string& fileName) const;
    std::size_t size() const { return staged_.size(); }
    bool empty() const { return staged_.empty(); }

    // True when commit() syncs the whole file system that `path` is on,
    // which then makes that file's written data durable too.
    bool syncsFileSystemOf(const std::string& path) const;

    // Forces the files to disk, renames them into place and syncs the
    // folder. On a local disk one sync of the file system serves the whole
    // group; on other file systems (network shares, where only a file's own
    // flush reaches the server) each file is flushed. Throws
    // ResultWriteError: files renamed before the failure stay (they are
    // whole), the rest are discarded, and the group is empty either way.
    void commit();

private:
    struct Staged {
        std::string name, tmp;
        int fd;
    };
    void discard(Staged& f) noexcept;

    std::string folder_;
    int dirFd_ = -1;  // the folder, open from the first add() to commit()
    std::vector<Staged> staged_;
};

}  // namespace kv::inbox

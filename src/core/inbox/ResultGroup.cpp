#include "inbox/ResultGroup.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>

#include "inbox/CodePage.h"

namespace kv::inbox {

namespace {

std::atomic<unsigned> g_tempCounter{0};

// File systems on a local disk, where syncfs() writes and flushes every
// file of the group in one go.
bool OnLocalDisk(const struct statfs& st) {
    switch (static_cast<unsigned long>(st.f_type)) {
        case 0xEF53UL:      // ext2, ext3, ext4
        case 0x58465342UL:  // xfs
        case 0x9123683EUL:  // btrfs
        case 0xF2F52010UL:  // f2fs
        case 0x01021994UL:  // tmpfs
            return true;
        default:
            return false;
    }
}

bool OnLocalDisk(int folderFd) {
    struct statfs st {};
    return ::fstatfs(folderFd, &st) == 0 && OnLocalDisk(st);
}

bool WriteAll(int fd, const std::string& bytes) {
    for (std::size_t done = 0; done < bytes.size();) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (n == 0) errno = EIO;
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

}  // namespace

ResultGroup::ResultGroup(std::string outputFolder) : folder_(std::move(outputFolder)) {
    while (folder_.size() > 1 && folder_.back() == '/') folder_.pop_back();
}

ResultGroup::~ResultGroup() {
    for (auto& f : staged_) discard(f);
    if (dirFd_ >= 0) ::close(dirFd_);
}

void ResultGroup::discard(Staged& f) noexcept {
    if (f.fd >= 0) ::close(f.fd);
    f.fd = -1;
    if (!f.tmp.empty()) ::unlink(f.tmp.c_str());
    f.tmp.clear();
}

bool ResultGroup::syncsFileSystemOf(const std::string& path) const {
    struct statfs fsInfo {};
    struct stat folder {}, file {};
    return ::statfs(folder_.c_str(), &fsInfo) == 0 && OnLocalDisk(fsInfo) && ::stat(folder_.c_str(), &folder) == 0 &&
           ::stat(path.c_str(), &file) == 0 && folder.st_dev == file.st_dev;
}

bool ResultGroup::holds(const std::string& fileName) const {
    for (const auto& f : staged_)
        if (f.name == fileName) return true;
    return false;
}

void ResultGroup::add(const std::string& fileName, const std::string& text, const std::string& codePage) {
    const std::string path = folder_ + "/" + fileName;
    auto fail = [&path](const std::string& why) {
        return ResultWriteError("Cannot write result file '" + path + "': " + why, path);
    };
    // The name comes from the invoice's request id, that is from the producer's file.
    if (fileName.empty() || fileName == "." || fileName == ".." ||
        fileName.find_first_of(std::string("/\\\0", 3)) != std::string::npos)
        throw fail("not a plain file name");
    if (folder_.empty()) throw fail("the output folder is not set");

    std::string bytes;
    try {
        bytes = EncodeText(text, codePage);
    } catch (const CodePageError& e) {
        throw fail(e.what());
    }
    // The folder is opened before the first byte is written: a sync of the
    // file system reports the write-back errors that came after that.
    if (dirFd_ < 0) {
        dirFd_ = ::open(folder_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (dirFd_ < 0) throw fail(std::strerror(errno));
    }
    Staged f{fileName,
             folder_ + "/." + fileName + "." + std::to_string(::getpid()) + "." + std::to_string(g_tempCounter++) + ".tmp",
             -1};
    f.fd = ::open(f.tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (f.fd < 0) throw fail(std::strerror(errno));
    if (!WriteAll(f.fd, bytes)) {
        const int err = errno;
        discard(f);
        throw fail(std::strerror(err));
    }
    for (auto it = staged_.begin(); it != staged_.end(); ++it)
        if (it->name == fileName) {
            discard(*it);
            staged_.erase(it);
            break;
        }
    staged_.push_back(std::move(f));
}

void ResultGroup::commit() {
    if (staged_.empty()) return;
    std::vector<Staged> files;
    files.swap(staged_);
    struct Discard {
        ResultGroup& g;
        std::vector<Staged>& files;
        ~Discard() {
            for (auto& f : files) g.discard(f);
        }
    } discardRest{*this, files};
    auto fail = [this](const std::string& path, const std::string& why) {
        return ResultWriteError("Cannot write result file '" + path + "': " + why, path);
    };
    const std::string folderFailure = "folder not synced: ";

    const int dirFd = dirFd_;
    dirFd_ = -1;
    struct CloseDir {
        int fd;
        ~CloseDir() { ::close(fd); }
    } closeDir{dirFd};

    // The bytes first: a file is renamed into place only once they are on disk.
    if (OnLocalDisk(dirFd)) {
        if (::syncfs(dirFd) != 0) throw fail(folder_ + "/" + files.front().name, std::strerror(errno));
    } else {
        for (auto& f : files)
            if (::fsync(f.fd) != 0) throw fail(folder_ + "/" + f.name, std::strerror(errno));
    }
    for (auto& f : files) {
        const int fd = f.fd;
        f.fd = -1;
        if (::close(fd) != 0) throw fail(folder_ + "/" + f.name, std::strerror(errno));
        if (::rename(f.tmp.c_str(), (folder_ + "/" + f.name).c_str()) != 0)
            throw fail(folder_ + "/" + f.name, std::strerror(errno));
        f.tmp.clear();
    }
    // The renames are on disk only once the folder is.
    if (::fsync(dirFd) != 0) throw fail(folder_ + "/" + files.back().name, folderFailure + std::strerror(errno));
}

void WriteResultFile(const std::string& outputFolder, const std::string& fileName, const std::string& text,
                     const std::string& codePage) {
    ResultGroup one(outputFolder);
    one.add(fileName, text, codePage);
    one.commit();
}

}  // namespace kv::inbox

#pragma once
// What Kovira needs from the operating system, in one small place: where the
// executable lives, the single-instance lock, GUIDs, the user's decimal
// separator and the code page of the files exchanged with other programs.
#include <string>

namespace kv::platform {

// Full path of the running executable (symlinks resolved).
std::string ExecutablePath();
// Folder of the running executable, without a trailing slash.
std::string ExecutableFolder();
// The executable's path with its extension replaced by ".ini"; a name without
// an extension simply gets ".ini" appended ("/opt/kasa/kovira" -> "/opt/kasa/kovira.ini").
std::string SettingsPathFor(const std::string& executablePath);

// "Kovira_" + the input folder with every "\" replaced by "_". Exact and
// case-sensitive: one folder written in two letter cases gives two names.
std::string InstanceMutexName(const std::string& inputFolder);
// A file name that stands for exactly one mutex name: bytes outside
// [A-Za-z0-9._-] are written as %XX (so "/" never splits it and letter case is
// kept); very long names are shortened with a hash of the full name.
std::string InstanceLockFileName(const std::string& mutexName);
// Folder holding the lock files: $XDG_RUNTIME_DIR/kovira, else the user's
// /run/user/<uid>/kovira when it exists, else /tmp/kovira-<uid>.
std::string LockFolder();

// A named, process-wide lock held as an flock()ed file. The lock lives as long
// as this object (and so, in the application, as long as the process).
class InstanceLock {
public:
    InstanceLock() = default;
    ~InstanceLock();
    InstanceLock(const InstanceLock&) = delete;
    InstanceLock& operator=(const InstanceLock&) = delete;

    // True when this process now owns the name; false when another process
    // holds it (error() empty) or the lock file could not be made (error()
    // says why). The lock file is removed when the lock is released.
    bool acquire(const std::string& mutexName, const std::string& lockFolder = LockFolder());
    bool held() const { return fd_ >= 0; }
    const std::string& path() const { return path_; }
    const std::string& error() const { return error_; }

private:
    int fd_ = -1;
    std::string path_;
    std::string error_;
};

// RFC 4122 version 4 GUID from the kernel's CSPRNG, braced upper-case text:
// "{1B4E28BA-2FA1-41D2-883F-0016D3CCA427}".
std::string NewGuid();

// The user's decimal separator (from LC_NUMERIC / LC_ALL / LANG), unless
// pinned with SetDecimalSeparator (tests pin it to ',' as in a shop's locale).
char DecimalSeparator();
void SetDecimalSeparator(char sep);

// Code page of input and result files; windows-1250 unless configured with
// KOVIRA_CODEPAGE or SetFileCodePage.
std::string FileCodePage();
void SetFileCodePage(const std::string& codePage);

}  // namespace kv::platform

// safe_file's system calls on POSIX systems.
#include "safe_file_platform.h"

#include "safe_file.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <utility>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#ifdef __linux__
#include <sys/xattr.h>
#endif

namespace safe_file {
namespace {
SwapFaults g_swapFaults;
}  // namespace

void SetSwapFaultsForTesting(const SwapFaults& faults) { g_swapFaults = faults; }
}  // namespace safe_file

namespace safe_file::platform {

const Handle kNoHandle = -1;
std::intptr_t ToStored(Handle handle) { return handle; }
Handle FromStored(std::intptr_t stored) { return static_cast<Handle>(stored); }

std::string ErrnoReason(int error) { return std::strerror(error); }

std::string FolderOf(const std::string& path) {
    const auto slash = path.find_last_of(kPathSeparator);
    if (slash == std::string::npos) return ".";
    if (slash == 0) return std::string(1, kPathSeparator);
    return path.substr(0, slash);
}

// Follows symbolic links so that the link's target, not the link, is replaced.
bool ResolveLinks(const std::string& start, std::string& resolved, std::string&) {
    std::string& path = resolved;
    path = start;
    for (int depth = 0; depth < 40; ++depth) {
        struct stat st {};
        if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) break;
        std::string target(static_cast<std::size_t>(st.st_size > 0 ? st.st_size : 4096) + 1, '\0');
        const ssize_t n = ::readlink(path.c_str(), target.data(), target.size());
        if (n <= 0) break;
        target.resize(static_cast<std::size_t>(n));
        path = target.front() == kPathSeparator ? target : FolderOf(path) + kPathSeparator + target;
    }
    return true;
}

bool IsRegularFile(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool IsDirectory(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::FILE* OpenBinary(const std::string& path) { return std::fopen(path.c_str(), "rb"); }

std::uint64_t SizeOf(std::FILE* file) {
    struct stat st {};
    return ::fstat(::fileno(file), &st) == 0 && st.st_size > 0 ? static_cast<std::uint64_t>(st.st_size) : 0;
}

bool CheckReplaceable(const std::string& target, bool& exists, std::string& reason) {
    // An exceeded file-size limit must come back as an error from write(),
    // not kill the editor in the middle of a save.
    std::signal(SIGXFSZ, SIG_IGN);
    struct stat old {};
    exists = ::stat(target.c_str(), &old) == 0;
    if (!exists && errno != ENOENT) {
        reason = ErrnoReason(errno);
        return false;
    }
    if (exists && S_ISDIR(old.st_mode)) {
        reason = ErrnoReason(EISDIR);
        return false;
    }
    // The folder may allow the rename even when the file itself is read-only;
    // a file the user may not write is not replaced.
    if (exists && ::access(target.c_str(), W_OK) != 0) {
        reason = ErrnoReason(errno);
        return false;
    }
    return true;
}

namespace {

// True when the name path still leads to the open file fd.
bool StillNamed(int fd, const std::string& path) {
    struct stat opened {}, named {};
    return ::fstat(fd, &opened) == 0 && ::lstat(path.c_str(), &named) == 0 && opened.st_dev == named.st_dev &&
           opened.st_ino == named.st_ino;
}

#ifdef __linux__
// Copies the extended attributes (ACLs, labels, users' own) of the old file.
// A file system without them is no error, nor is a privileged attribute this
// user may not set.
bool CopyExtendedAttributes(int fd, const std::string& target, std::string& reason) {
    ssize_t size = ::listxattr(target.c_str(), nullptr, 0);
    if (size <= 0) return true;
    std::vector<char> names(static_cast<std::size_t>(size));
    size = ::listxattr(target.c_str(), names.data(), names.size());
    if (size <= 0) return true;
    std::vector<char> value;
    for (const char* name = names.data(); name < names.data() + size; name += std::strlen(name) + 1) {
        const ssize_t length = ::getxattr(target.c_str(), name, nullptr, 0);
        if (length < 0) continue;
        value.resize(static_cast<std::size_t>(length) + 1);
        const ssize_t got = ::getxattr(target.c_str(), name, value.data(), value.size());
        if (got < 0) continue;
        if (::fsetxattr(fd, name, value.data(), static_cast<std::size_t>(got), 0) == 0) continue;
        const bool privileged = std::strncmp(name, "security.", 9) == 0 || std::strncmp(name, "trusted.", 8) == 0;
        if (errno == ENOTSUP || errno == EOPNOTSUPP || (privileged && (errno == EPERM || errno == EACCES))) continue;
        reason = ErrnoReason(errno) + " (extended attribute " + name + ")";
        return false;
    }
    return true;
}
#endif

}  // namespace

bool CreateLocked(const std::string& path, Handle& handle, bool& taken, std::string& reason) {
    handle = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (handle < 0) {
        taken = errno == EEXIST;
        reason = ErrnoReason(errno);
        return false;
    }
    // A save that cleans up could take the new file for a leftover in the
    // moment before it is locked; then it is gone, and another name is tried.
    // A file system without locks (some network shares) lets the save go on
    // unlocked: no other save can lock, and so remove, the file either.
    const bool lockedElsewhere = ::flock(handle, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK;
    if (lockedElsewhere || !StillNamed(handle, path)) {
        ::close(handle);
        handle = kNoHandle;
        taken = true;
        reason = ErrnoReason(EEXIST);
        return false;
    }
    return true;
}

bool KeepOwnerAndMode(Handle handle, const std::string& target, std::string& reason) {
    struct stat old {};
    if (::stat(target.c_str(), &old) != 0) return true;
    // The group first (a change of owner or group may clear the mode's
    // set-id bits). An administrator keeps the owner too; anyone else keeps
    // the group where they belong to it, so the other members keep access.
    const uid_t owner = ::geteuid() == 0 ? old.st_uid : static_cast<uid_t>(-1);
    if (::fchown(handle, owner, old.st_gid) != 0) errno = 0;
    if (::fchmod(handle, old.st_mode & 07777) != 0) {
        reason = ErrnoReason(errno);
        return false;
    }
#ifdef __linux__
    if (!CopyExtendedAttributes(handle, target, reason)) return false;
#endif
    return true;
}

bool WriteSome(Handle handle, const char* data, std::size_t size, std::size_t& written, std::string& reason) {
    for (;;) {
        const ssize_t n = ::write(handle, data, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            reason = ErrnoReason(n < 0 ? errno : ENOSPC);
            return false;
        }
        written = static_cast<std::size_t>(n);
        return true;
    }
}

// rename() replaces in one step: saves need not take turns.
bool TakeSwapTurn(const std::string&, const std::string&, const std::function<void()>&, Handle&, std::string&) {
    return true;
}
void EndSwapTurn(Handle) {}

// The lock is held until the new file has its final name, so no other
// save can take it for a leftover on the way.
SwapOutcome SwapIn(Handle handle, const std::string& temp, const std::string& target, bool,
                   const std::function<void()>&, std::string& reason, std::string&) {
    if (::fsync(handle) != 0 || ::rename(temp.c_str(), target.c_str()) != 0) {
        reason = ErrnoReason(errno);
        ::close(handle);
        return SwapOutcome::kTargetKept;
    }
    ::close(handle);
    return SwapOutcome::kReplaced;
}

// rename() never loses the old file, so there is never a copy to keep aside.
std::string KeepAside(const std::string& temp, const std::string&) { return temp; }

void CloseQuietly(Handle handle) { ::close(handle); }

// The rename itself is only durable once the folder is synced. EINVAL (and
// EROFS) is how the system says a folder cannot be synced at all.
bool SyncFolder(const std::string& folder, std::string& reason) {
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return true;
    int error = ::fsync(fd) == 0 ? 0 : errno;
    if (g_swapFaults.folderSyncError != 0) error = std::exchange(g_swapFaults.folderSyncError, 0);
    ::close(fd);
    if (error == 0 || error == EINVAL || error == EROFS) return true;
    reason = ErrnoReason(error);
    return false;
}

void Remove(const std::string& path) { ::unlink(path.c_str()); }

long ProcessId() { return static_cast<long>(::getpid()); }

void ForEachEntry(const std::string& folder, const std::function<void(const std::string& name)>& visit) {
    DIR* dir = ::opendir(folder.c_str());
    if (!dir) return;
    std::vector<std::string> names;
    while (const dirent* entry = ::readdir(dir)) names.emplace_back(entry->d_name);
    ::closedir(dir);
    for (const auto& name : names) visit(name);
}

void RemoveIfAbandoned(const std::string& path) {
    // Open for writing where allowed: network file systems lock only such files.
    int fd = ::open(path.c_str(), O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return;
    struct stat st {};
    // Only a regular file that no writer holds, and still under this name.
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && ::flock(fd, LOCK_EX | LOCK_NB) == 0 && StillNamed(fd, path))
        ::unlink(path.c_str());
    ::close(fd);
}

}  // namespace safe_file::platform

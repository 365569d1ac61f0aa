#include "safe_file.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace safe_file {
namespace {

constexpr std::size_t kWriteChunk = 1 << 20;

std::string SystemReason(int error) { return std::strerror(error); }

std::string FolderOf(const std::string& path) {
    const auto slash = path.find_last_of(kPathSeparator);
    if (slash == std::string::npos) return ".";
    if (slash == 0) return std::string(1, kPathSeparator);
    return path.substr(0, slash);
}

// Follows symbolic links so that the link's target, not the link, is replaced.
std::string ResolveLinks(std::string path) {
    for (int depth = 0; depth < 40; ++depth) {
        struct stat st {};
        if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) break;
        std::string target(static_cast<std::size_t>(st.st_size > 0 ? st.st_size : 4096) + 1, '\0');
        const ssize_t n = ::readlink(path.c_str(), target.data(), target.size());
        if (n <= 0) break;
        target.resize(static_cast<std::size_t>(n));
        path = target.front() == kPathSeparator ? target : FolderOf(path) + kPathSeparator + target;
    }
    return path;
}

std::string TempPrefix(const std::string& target) {
    return "." + target.substr(target.find_last_of(kPathSeparator) + 1) + ".saving-";
}

// Removes what saves that were killed part-way left behind: temporary files
// of this target whose process no longer runs. A save still under way in
// another process keeps its file.
void RemoveStaleTemporaries(const std::string& target) {
    const std::string prefix = TempPrefix(target);
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(FolderOf(target), ec)) {
        const std::string name = entry.path().filename().string();
        if (name.compare(0, prefix.size(), prefix) != 0) continue;
        const long pid = std::strtol(name.c_str() + prefix.size(), nullptr, 10);
        if (pid <= 0 || pid == ::getpid()) continue;
        if (::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH) ::unlink(entry.path().c_str());
    }
}

}  // namespace

bool IsRegularFile(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::FILE* OpenForReading(const std::string& path, std::string& reason) {
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
        reason = SystemReason(EISDIR);
        return nullptr;
    }
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) reason = SystemReason(errno);
    return file;
}

Replacement::Replacement(std::string path) : target_(ResolveLinks(std::move(path))) {}

Replacement::~Replacement() { Discard(); }

bool Replacement::Fail(const std::string& what) {
    if (!failed_) reason_ = what;
    failed_ = true;
    Discard();
    return false;
}

void Replacement::Discard() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    if (!temp_.empty() && !committed_) ::unlink(temp_.c_str());
    temp_.clear();
}

bool Replacement::Open() {
    if (failed_) return false;
    // An exceeded file-size limit must come back as an error from write(),
    // not kill the editor in the middle of a save.
    std::signal(SIGXFSZ, SIG_IGN);

    struct stat old {};
    const bool exists = ::stat(target_.c_str(), &old) == 0;
    if (!exists && errno != ENOENT) return Fail(SystemReason(errno));
    if (exists && S_ISDIR(old.st_mode)) return Fail(SystemReason(EISDIR));
    // The folder may allow the rename even when the file itself is read-only;
    // a file the user may not write is not replaced.
    if (exists && ::access(target_.c_str(), W_OK) != 0) return Fail(SystemReason(errno));

    const std::string folder = FolderOf(target_);
    for (unsigned attempt = 0; fd_ < 0; ++attempt) {
        temp_ = folder + kPathSeparator + TempPrefix(target_) + std::to_string(::getpid()) + "-" +
                std::to_string(attempt);
        fd_ = ::open(temp_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd_ < 0) {
            const int error = errno;
            temp_.clear();
            if (error != EEXIST || attempt > 1000) return Fail(SystemReason(error));
        }
    }
    if (exists) {
        if (::fchmod(fd_, old.st_mode & 07777) != 0) return Fail(SystemReason(errno));
        // Keep the owner when an administrator saves a user's file; harmless
        // to skip when the system does not allow it.
        if (::geteuid() == 0 && ::fchown(fd_, old.st_uid, old.st_gid) != 0) errno = 0;
    }
    buffer_.reserve(kWriteChunk);
    return true;
}

bool Replacement::FlushBuffer() {
    std::size_t done = 0;
    while (done < buffer_.size()) {
        const ssize_t n = ::write(fd_, buffer_.data() + done, buffer_.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return Fail(SystemReason(n < 0 ? errno : ENOSPC));
        done += static_cast<std::size_t>(n);
    }
    buffer_.clear();
    return true;
}

bool Replacement::Write(const char* data, std::size_t size) {
    if (failed_ || fd_ < 0) return false;
    buffer_.append(data, size);
    return buffer_.size() < kWriteChunk || FlushBuffer();
}

bool Replacement::Commit() {
    if (failed_ || fd_ < 0) return false;
    if (!FlushBuffer()) return false;
    if (::fsync(fd_) != 0) return Fail(SystemReason(errno));
    const int fd = fd_;
    fd_ = -1;
    if (::close(fd) != 0) return Fail(SystemReason(errno));
    if (::rename(temp_.c_str(), target_.c_str()) != 0) return Fail(SystemReason(errno));
    committed_ = true;
    temp_.clear();
    // The rename itself is only durable once the folder is synced.
    const int folder = ::open(FolderOf(target_).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder >= 0) {
        ::fsync(folder);
        ::close(folder);
    }
    RemoveStaleTemporaries(target_);
    return true;
}

}  // namespace safe_file

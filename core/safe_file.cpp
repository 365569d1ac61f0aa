#include "safe_file.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#ifdef _WIN32
#include <sys/stat.h>
#include <windows.h>
#else
#include <csignal>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace safe_file {
namespace {

constexpr std::size_t kWriteChunk = 1 << 20;

std::string FolderOf(const std::string& path) {
    const auto slash = path.find_last_of(kPathSeparator);
    if (slash == std::string::npos) return ".";
    if (slash == 0) return std::string(1, kPathSeparator);
    return path.substr(0, slash);
}

std::string TempPrefix(const std::string& target) {
    return "." + target.substr(target.find_last_of(kPathSeparator) + 1) + ".saving-";
}

std::string ErrnoReason(int error) { return std::strerror(error); }

// std::filesystem's view of a core path, and back.
std::filesystem::path FsPath(const std::string& path) {
#ifdef _WIN32
    return std::filesystem::path(std::u8string(path.begin(), path.end()));
#else
    return std::filesystem::path(path);
#endif
}

std::string CorePath(const std::filesystem::path& path) {
#ifdef _WIN32
    const std::u8string utf8 = path.u8string();
    return std::string(utf8.begin(), utf8.end());
#else
    return path.string();
#endif
}

// --- the platform's calls ------------------------------------------------
// Each returns false and sets reason in the system's words when it fails.
#ifdef _WIN32

// Paths are UTF-8 in the core; Windows takes them as UTF-16.
std::wstring Wide(const std::string& utf8) {
    if (utf8.empty()) return {};
    const int n = ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), int(utf8.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(n), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), int(utf8.size()), wide.data(), n);
    return wide;
}

std::string SystemReason(DWORD error) {
    char* text = nullptr;
    ::FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                     nullptr, error, 0, reinterpret_cast<char*>(&text), 0, nullptr);
    std::string reason = text ? text : "error " + std::to_string(error);
    ::LocalFree(text);
    while (!reason.empty() && (reason.back() == '\n' || reason.back() == '\r' || reason.back() == ' '))
        reason.pop_back();
    return reason;
}

using Handle = HANDLE;
const Handle kNoHandle = INVALID_HANDLE_VALUE;
std::intptr_t ToStored(Handle handle) { return reinterpret_cast<std::intptr_t>(handle); }
Handle FromStored(std::intptr_t stored) { return reinterpret_cast<Handle>(stored); }

DWORD Attributes(const std::string& path) { return ::GetFileAttributesW(Wide(path).c_str()); }

std::string ResolveLinks(const std::string& path) { return path; }

// A file the user may not write (read-only, or denied by its ACL) is refused.
bool CheckReplaceable(const std::string& target, bool& exists, std::string& reason) {
    const DWORD attributes = Attributes(target);
    exists = attributes != INVALID_FILE_ATTRIBUTES;
    if (!exists) return true;
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
        reason = ErrnoReason(EISDIR);
        return false;
    }
    const HANDLE probe = ::CreateFileW(Wide(target).c_str(), GENERIC_WRITE,
                                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                       FILE_ATTRIBUTE_NORMAL, nullptr);
    if (probe == INVALID_HANDLE_VALUE) {
        reason = SystemReason(::GetLastError());
        return false;
    }
    ::CloseHandle(probe);
    return true;
}

// Creates the temporary file; false with exists set when the name is taken.
bool CreateExclusive(const std::string& path, Handle& handle, bool& taken, std::string& reason) {
    handle = ::CreateFileW(Wide(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle != INVALID_HANDLE_VALUE) return true;
    const DWORD error = ::GetLastError();
    taken = error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS;
    reason = SystemReason(error);
    return false;
}

// The old file's attributes and security go with ReplaceFileW itself.
bool KeepOwnerAndMode(Handle, const std::string&, std::string&) { return true; }

bool WriteSome(Handle handle, const char* data, std::size_t size, std::size_t& written, std::string& reason) {
    DWORD n = 0;
    const DWORD ask = size > 0x40000000 ? 0x40000000 : static_cast<DWORD>(size);
    if (!::WriteFile(handle, data, ask, &n, nullptr)) {
        reason = SystemReason(::GetLastError());
        return false;
    }
    written = n;
    return true;
}

bool SyncAndClose(Handle handle, std::string& reason) {
    const bool synced = ::FlushFileBuffers(handle);
    const DWORD error = ::GetLastError();
    ::CloseHandle(handle);
    if (!synced) reason = SystemReason(error);
    return synced;
}

void CloseQuietly(Handle handle) { ::CloseHandle(handle); }

bool SwapIn(const std::string& temp, const std::string& target, bool exists, std::string& reason) {
    const std::wstring wideTemp = Wide(temp), wideTarget = Wide(target);
    if (exists && ::ReplaceFileW(wideTarget.c_str(), wideTemp.c_str(), nullptr, REPLACEFILE_IGNORE_MERGE_ERRORS,
                                 nullptr, nullptr))
        return true;
    // Without an old file (or when ReplaceFileW already removed it, error
    // 1176) the new one only needs its name.
    const DWORD error = exists ? ::GetLastError() : ERROR_FILE_NOT_FOUND;
    if (error != ERROR_FILE_NOT_FOUND && error != ERROR_UNABLE_TO_MOVE_REPLACEMENT) {
        reason = SystemReason(error);
        return false;
    }
    if (::MoveFileExW(wideTemp.c_str(), wideTarget.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return true;
    reason = SystemReason(::GetLastError());
    return false;
}

void SyncFolder(const std::string&) {}  // MOVEFILE_WRITE_THROUGH and ReplaceFileW see to it

void Remove(const std::string& path) { ::DeleteFileW(Wide(path).c_str()); }

long ProcessId() { return static_cast<long>(::GetCurrentProcessId()); }

bool ProcessGone(long pid) {
    const HANDLE process = ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, static_cast<DWORD>(pid));
    if (!process) return ::GetLastError() == ERROR_INVALID_PARAMETER;
    DWORD code = 0;
    const bool gone = ::GetExitCodeProcess(process, &code) && code != STILL_ACTIVE;
    ::CloseHandle(process);
    return gone;
}

std::FILE* OpenBinary(const std::string& path) { return ::_wfopen(Wide(path).c_str(), L"rb"); }

#else  // POSIX

using Handle = int;
const Handle kNoHandle = -1;
std::intptr_t ToStored(Handle handle) { return handle; }
Handle FromStored(std::intptr_t stored) { return static_cast<Handle>(stored); }

std::string SystemReason(int error) { return ErrnoReason(error); }

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

bool CheckReplaceable(const std::string& target, bool& exists, std::string& reason) {
    // An exceeded file-size limit must come back as an error from write(),
    // not kill the editor in the middle of a save.
    std::signal(SIGXFSZ, SIG_IGN);
    struct stat old {};
    exists = ::stat(target.c_str(), &old) == 0;
    if (!exists && errno != ENOENT) {
        reason = SystemReason(errno);
        return false;
    }
    if (exists && S_ISDIR(old.st_mode)) {
        reason = SystemReason(EISDIR);
        return false;
    }
    // The folder may allow the rename even when the file itself is read-only;
    // a file the user may not write is not replaced.
    if (exists && ::access(target.c_str(), W_OK) != 0) {
        reason = SystemReason(errno);
        return false;
    }
    return true;
}

bool CreateExclusive(const std::string& path, Handle& handle, bool& taken, std::string& reason) {
    handle = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (handle >= 0) return true;
    taken = errno == EEXIST;
    reason = SystemReason(errno);
    return false;
}

bool KeepOwnerAndMode(Handle handle, const std::string& target, std::string& reason) {
    struct stat old {};
    if (::stat(target.c_str(), &old) != 0) return true;
    if (::fchmod(handle, old.st_mode & 07777) != 0) {
        reason = SystemReason(errno);
        return false;
    }
    // Keep the owner when an administrator saves a user's file; harmless to
    // skip when the system does not allow it.
    if (::geteuid() == 0 && ::fchown(handle, old.st_uid, old.st_gid) != 0) errno = 0;
    return true;
}

bool WriteSome(Handle handle, const char* data, std::size_t size, std::size_t& written, std::string& reason) {
    for (;;) {
        const ssize_t n = ::write(handle, data, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            reason = SystemReason(n < 0 ? errno : ENOSPC);
            return false;
        }
        written = static_cast<std::size_t>(n);
        return true;
    }
}

bool SyncAndClose(Handle handle, std::string& reason) {
    if (::fsync(handle) != 0) {
        reason = SystemReason(errno);
        ::close(handle);
        return false;
    }
    if (::close(handle) != 0) {
        reason = SystemReason(errno);
        return false;
    }
    return true;
}

void CloseQuietly(Handle handle) { ::close(handle); }

bool SwapIn(const std::string& temp, const std::string& target, bool, std::string& reason) {
    if (::rename(temp.c_str(), target.c_str()) == 0) return true;
    reason = SystemReason(errno);
    return false;
}

// The rename itself is only durable once the folder is synced.
void SyncFolder(const std::string& folder) {
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    ::fsync(fd);
    ::close(fd);
}

void Remove(const std::string& path) { ::unlink(path.c_str()); }

long ProcessId() { return static_cast<long>(::getpid()); }

bool ProcessGone(long pid) { return ::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH; }

std::FILE* OpenBinary(const std::string& path) { return std::fopen(path.c_str(), "rb"); }

#endif

// Removes what saves that were killed part-way left behind: temporary files
// of this target whose process no longer runs. A save still under way in
// another process keeps its file.
void RemoveStaleTemporaries(const std::string& target) {
    const std::string prefix = TempPrefix(target);
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(FsPath(FolderOf(target)), ec)) {
        const std::string name = CorePath(entry.path().filename());
        if (name.compare(0, prefix.size(), prefix) != 0) continue;
        const long pid = std::strtol(name.c_str() + prefix.size(), nullptr, 10);
        if (pid > 0 && pid != ProcessId() && ProcessGone(pid)) Remove(FolderOf(target) + kPathSeparator + name);
    }
}

}  // namespace

bool IsRegularFile(const std::string& path) {
#ifdef _WIN32
    // Directories do not count, nor do files marked hidden or system.
    const DWORD attributes = Attributes(path);
    return attributes != INVALID_FILE_ATTRIBUTES &&
           !(attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM));
#else
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
#endif
}

std::FILE* OpenForReading(const std::string& path, std::string& reason) {
    std::error_code ec;
    if (std::filesystem::is_directory(FsPath(path), ec)) {
        reason = ErrnoReason(EISDIR);
        return nullptr;
    }
    std::FILE* file = OpenBinary(path);
    if (!file) reason = ErrnoReason(errno);
    return file;
}

std::uint64_t SizeOf(std::FILE* file) {
#ifdef _WIN32
    struct _stat64 st {};
    return ::_fstat64(::_fileno(file), &st) == 0 && st.st_size > 0 ? static_cast<std::uint64_t>(st.st_size) : 0;
#else
    struct stat st {};
    return ::fstat(::fileno(file), &st) == 0 && st.st_size > 0 ? static_cast<std::uint64_t>(st.st_size) : 0;
#endif
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
    if (open_) CloseQuietly(FromStored(handle_));
    open_ = false;
    if (!temp_.empty() && !committed_) Remove(temp_);
    temp_.clear();
}

bool Replacement::Open() {
    if (failed_) return false;
    std::string reason;
    if (!CheckReplaceable(target_, exists_, reason)) return Fail(reason);

    Handle handle = kNoHandle;
    for (unsigned attempt = 0; handle == kNoHandle; ++attempt) {
        temp_ = FolderOf(target_) + kPathSeparator + TempPrefix(target_) + std::to_string(ProcessId()) + "-" +
                std::to_string(attempt);
        bool taken = false;
        if (!CreateExclusive(temp_, handle, taken, reason)) {
            temp_.clear();
            handle = kNoHandle;
            if (!taken || attempt > 1000) return Fail(reason);
        }
    }
    handle_ = ToStored(handle);
    open_ = true;
    if (exists_ && !KeepOwnerAndMode(handle, target_, reason)) return Fail(reason);
    buffer_.reserve(kWriteChunk);
    return true;
}

bool Replacement::FlushBuffer() {
    std::size_t done = 0;
    std::string reason;
    while (done < buffer_.size()) {
        std::size_t written = 0;
        if (!WriteSome(FromStored(handle_), buffer_.data() + done, buffer_.size() - done, written, reason))
            return Fail(reason);
        done += written;
    }
    buffer_.clear();
    return true;
}

bool Replacement::Write(const char* data, std::size_t size) {
    if (failed_ || !open_) return false;
    buffer_.append(data, size);
    return buffer_.size() < kWriteChunk || FlushBuffer();
}

bool Replacement::Commit() {
    if (failed_ || !open_) return false;
    if (!FlushBuffer()) return false;
    std::string reason;
    open_ = false;
    if (!SyncAndClose(FromStored(handle_), reason)) return Fail(reason);
    if (!SwapIn(temp_, target_, exists_, reason)) return Fail(reason);
    committed_ = true;
    temp_.clear();
    SyncFolder(FolderOf(target_));
    RemoveStaleTemporaries(target_);
    return true;
}

}  // namespace safe_file

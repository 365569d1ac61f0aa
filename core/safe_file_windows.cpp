// safe_file's system calls on Windows. Paths arrive as UTF-8 and go to the
// system as UTF-16 in their long form (\\?\), so folders deeper than
// MAX_PATH work; reasons come back from the system as UTF-8.
#include "safe_file_platform.h"

#include "safe_file.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <sys/stat.h>
#include <windows.h>

namespace safe_file {
namespace {
SwapFaults g_swapFaults;
}  // namespace

void SetSwapFaultsForTesting(const SwapFaults& faults) { g_swapFaults = faults; }

namespace platform {

const Handle kNoHandle = INVALID_HANDLE_VALUE;
std::intptr_t ToStored(Handle handle) { return reinterpret_cast<std::intptr_t>(handle); }
Handle FromStored(std::intptr_t stored) { return reinterpret_cast<Handle>(stored); }

namespace {

// A scanner, an indexer or the game holds a file for a moment: the pauses
// between tries grow, two seconds in all.
constexpr DWORD kBusyPausesMs[] = {50, 100, 150, 250, 350, 450, 650};
constexpr int kBusyRetries = int(sizeof kBusyPausesMs / sizeof kBusyPausesMs[0]);
constexpr ULONGLONG kStaleTicks = 30ull * 10'000'000;  // 30 seconds in 100 ns

std::wstring Wide(const std::string& utf8) {
    if (utf8.empty()) return {};
    const int n = ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), int(utf8.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(n), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), int(utf8.size()), wide.data(), n);
    return wide;
}

std::string Utf8(const wchar_t* wide, std::size_t size) {
    if (size == 0) return {};
    const int n = ::WideCharToMultiByte(CP_UTF8, 0, wide, int(size), nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<std::size_t>(n), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, wide, int(size), utf8.data(), n, nullptr, nullptr);
    return utf8;
}

// The path as the system takes it beyond MAX_PATH: absolute, backslashes
// only, with the \\?\ (or \\?\UNC\) prefix.
std::wstring LongPath(const std::string& utf8) {
    std::wstring path = Wide(utf8);
    if (path.rfind(L"\\\\?\\", 0) == 0) return path;
    for (wchar_t& c : path)
        if (c == L'/') c = L'\\';
    const DWORD size = ::GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    if (size == 0) return path;
    std::wstring full(size, L'\0');
    const DWORD length = ::GetFullPathNameW(path.c_str(), size, full.data(), nullptr);
    if (length == 0 || length >= size) return path;
    full.resize(length);
    if (full.rfind(L"\\\\", 0) == 0) return L"\\\\?\\UNC\\" + full.substr(2);
    return L"\\\\?\\" + full;
}

std::string SystemReason(DWORD error) {
    wchar_t* text = nullptr;
    ::FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                     nullptr, error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::string reason = text ? Utf8(text, std::wcslen(text)) : "error " + std::to_string(error);
    ::LocalFree(text);
    while (!reason.empty() && (reason.back() == '\n' || reason.back() == '\r' || reason.back() == ' '))
        reason.pop_back();
    return reason;
}

DWORD Attributes(const std::string& path) { return ::GetFileAttributesW(LongPath(path).c_str()); }

bool Exists(const std::wstring& path) { return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

// With a backup name, every failure of ReplaceFileW leaves the old file under
// a name known here: its own, or the backup's.
bool Replace(const std::wstring& target, const std::wstring& temp, const std::wstring& backup, DWORD& error) {
    if (g_swapFaults.replaceFailures > 0) {
        --g_swapFaults.replaceFailures;
        error = g_swapFaults.replaceError;
        if (error == ERROR_UNABLE_TO_MOVE_REPLACEMENT_2) ::MoveFileExW(target.c_str(), backup.c_str(), 0);
        return false;
    }
    if (::ReplaceFileW(target.c_str(), temp.c_str(), backup.c_str(), REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr,
                       nullptr))
        return true;
    error = ::GetLastError();
    return false;
}

bool Move(const std::wstring& temp, const std::wstring& target, DWORD& error) {
    if (g_swapFaults.moveFailures > 0) {
        --g_swapFaults.moveFailures;
        error = g_swapFaults.moveError;
        return false;
    }
    if (::MoveFileExW(temp.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) return true;
    error = ::GetLastError();
    return false;
}

}  // namespace

std::string ErrnoReason(int error) { return std::strerror(error); }

std::string FolderOf(const std::string& path) {
    const auto slash = path.find_last_of("\\/");
    if (slash == std::string::npos) return ".";
    if (slash == 0) return std::string(1, kPathSeparator);
    return path.substr(0, slash);
}

// The file's final path, as the system resolves links to it; the path as
// given where that is the same file name.
bool ResolveLinks(const std::string& path, std::string& resolved, std::string& reason) {
    resolved = path;
    const std::wstring wide = LongPath(path);
    const DWORD attributes = ::GetFileAttributesW(wide.c_str());
    const bool isLink = attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
    const HANDLE file = ::CreateFileW(wide.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                      OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        if (!isLink) return true;  // no file yet: nothing to follow
        reason = "the link cannot be followed (" + SystemReason(::GetLastError()) + ")";
        return false;
    }
    std::wstring final(MAX_PATH, L'\0');
    DWORD length = ::GetFinalPathNameByHandleW(file, final.data(), DWORD(final.size()), FILE_NAME_NORMALIZED);
    if (length >= final.size()) {
        final.resize(length + 1);
        length = ::GetFinalPathNameByHandleW(file, final.data(), DWORD(final.size()), FILE_NAME_NORMALIZED);
    }
    const DWORD error = ::GetLastError();
    ::CloseHandle(file);
    if (length == 0 || length >= final.size()) {
        if (!isLink) return true;
        reason = "the link cannot be followed (" + SystemReason(error) + ")";
        return false;
    }
    final.resize(length);
    if (::CompareStringOrdinal(final.c_str(), int(final.size()), wide.c_str(), int(wide.size()), TRUE) == CSTR_EQUAL)
        return true;
    // Back to the form the user knows: without \\?\, UNC paths as \\server.
    if (final.rfind(L"\\\\?\\UNC\\", 0) == 0) final = L"\\\\" + final.substr(8);
    else if (final.rfind(L"\\\\?\\", 0) == 0) final = final.substr(4);
    resolved = Utf8(final.data(), final.size());
    return true;
}

// Directories do not count, nor do files marked hidden or system.
bool IsRegularFile(const std::string& path) {
    const DWORD attributes = Attributes(path);
    return attributes != INVALID_FILE_ATTRIBUTES &&
           !(attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM));
}

bool IsDirectory(const std::string& path) {
    const DWORD attributes = Attributes(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

std::FILE* OpenBinary(const std::string& path) { return ::_wfopen(LongPath(path).c_str(), L"rb"); }

std::uint64_t SizeOf(std::FILE* file) {
    struct _stat64 st {};
    return ::_fstat64(::_fileno(file), &st) == 0 && st.st_size > 0 ? static_cast<std::uint64_t>(st.st_size) : 0;
}

// A file the user may not write (read-only, or denied by its ACL) is refused.
// A file another program holds open is not: the swap waits for it.
bool CheckReplaceable(const std::string& target, bool& exists, std::string& reason) {
    const DWORD attributes = Attributes(target);
    exists = attributes != INVALID_FILE_ATTRIBUTES;
    if (!exists) return true;
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
        reason = ErrnoReason(EISDIR);
        return false;
    }
    if (attributes & FILE_ATTRIBUTE_READONLY) {
        reason = SystemReason(ERROR_ACCESS_DENIED);
        return false;
    }
    const HANDLE probe = ::CreateFileW(LongPath(target).c_str(), GENERIC_WRITE,
                                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                       FILE_ATTRIBUTE_NORMAL, nullptr);
    if (probe == INVALID_HANDLE_VALUE) {
        const DWORD error = ::GetLastError();
        if (error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION) return true;
        reason = SystemReason(error);
        return false;
    }
    ::CloseHandle(probe);
    return true;
}

// The open handle is the lock: it shares nothing, so no other process can
// delete the file while it is written.
bool CreateLocked(const std::string& path, Handle& handle, bool& taken, std::string& reason) {
    handle = ::CreateFileW(LongPath(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL,
                           nullptr);
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

namespace {

// Errors of a file another program holds for a moment. Access is denied
// for a while, too, to a file that is being deleted or scanned; a read-only
// file stays read-only.
bool IsBusy(DWORD error, const std::wstring& target) {
    switch (error) {
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
    case ERROR_UNABLE_TO_REMOVE_REPLACED:
    case ERROR_UNABLE_TO_MOVE_REPLACEMENT:
        return true;
    case ERROR_ACCESS_DENIED: {
        const DWORD attributes = ::GetFileAttributesW(target.c_str());
        return attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_READONLY);
    }
    default:
        return false;
    }
}

void Pause(DWORD ms, const std::function<void()>& whileWaiting) {
    const ULONGLONG until = ::GetTickCount64() + ms;
    for (;;) {
        if (whileWaiting) whileWaiting();
        const ULONGLONG now = ::GetTickCount64();
        if (now >= until) return;
        ::Sleep(DWORD(std::min<ULONGLONG>(10, until - now)));
    }
}

// Moves temp to target, trying again while either is busy.
bool MovePatiently(const std::wstring& temp, const std::wstring& target, const std::function<void()>& whileWaiting,
                   DWORD& error) {
    for (int attempt = 0;; ++attempt) {
        if (Move(temp, target, error)) return true;
        if (attempt == kBusyRetries || !IsBusy(error, target)) return false;
        Pause(kBusyPausesMs[attempt], whileWaiting);
    }
}

// A name beside target that no file has, for the old file while it is
// replaced. It is not a temporary file's name: no save removes it.
std::string UnusedBackupName(const std::string& target) {
    const auto slash = target.find_last_of("\\/");
    const std::string folder = slash == std::string::npos ? std::string() : target.substr(0, slash + 1);
    const std::string base = folder + "." + target.substr(slash + 1) + ".replaced-" + std::to_string(ProcessId()) + "-";
    for (int attempt = 0;; ++attempt) {
        const std::string name = base + std::to_string(attempt);
        if (!Exists(LongPath(name))) return name;
    }
}

}  // namespace

// ReplaceFileW needs the new file closed. It is given a backup name, so that
// whatever fails, the old file keeps its name or has the backup's: it is
// never lost under a name the system chose. A busy file is tried again; when
// the old file has gone to the backup name and the new one still cannot be
// moved in, the old one is moved back, and where even that fails both stay
// where they are and the message names them.
SwapOutcome SwapIn(Handle handle, const std::string& temp, const std::string& target, bool exists,
                   const std::function<void()>& whileWaiting, std::string& reason, std::string& oldCopy) {
    const bool synced = ::FlushFileBuffers(handle);
    const DWORD syncError = ::GetLastError();
    ::CloseHandle(handle);
    if (!synced) {
        reason = SystemReason(syncError);
        return SwapOutcome::kTargetKept;
    }
    if (g_swapFaults.swapBegins) g_swapFaults.swapBegins(temp);
    const std::wstring wideTemp = LongPath(temp), wideTarget = LongPath(target);
    DWORD error = 0;
    if (!exists) {
        if (MovePatiently(wideTemp, wideTarget, whileWaiting, error)) return SwapOutcome::kReplaced;
        reason = SystemReason(error);
        return SwapOutcome::kTargetKept;
    }
    const std::string backup = UnusedBackupName(target);
    const std::wstring wideBackup = LongPath(backup);
    for (int attempt = 0;; ++attempt) {
        if (Replace(wideTarget, wideTemp, wideBackup, error)) {
            ::DeleteFileW(wideBackup.c_str());
            return SwapOutcome::kReplaced;
        }
        if (!Exists(wideTarget)) break;  // the old file has left its name
        if (attempt == kBusyRetries || !IsBusy(error, wideTarget)) {
            reason = SystemReason(error);
            return SwapOutcome::kTargetKept;
        }
        Pause(kBusyPausesMs[attempt], whileWaiting);
    }
    reason = SystemReason(error);
    DWORD moveError = 0;
    if (MovePatiently(wideTemp, wideTarget, whileWaiting, moveError)) {
        ::DeleteFileW(wideBackup.c_str());
        return SwapOutcome::kReplaced;
    }
    if (Exists(wideBackup) && Move(wideBackup, wideTarget, moveError)) return SwapOutcome::kTargetKept;
    if (Exists(wideBackup)) oldCopy = backup;
    return SwapOutcome::kTempOnlyCopy;
}

std::string KeepAside(const std::string& temp, const std::string& target) {
    const std::wstring wideTemp = LongPath(temp);
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string aside = target + ".saved-" + std::to_string(ProcessId()) + "-" + std::to_string(attempt);
        const std::wstring wideAside = LongPath(aside);
        if (Exists(wideAside)) continue;
        DWORD error = 0;
        if (Move(wideTemp, wideAside, error)) return aside;
        // A second name for the held file; where the file system has none, a
        // copy, which a program holding the file for reading allows.
        if (::CreateHardLinkW(wideAside.c_str(), wideTemp.c_str(), nullptr)) return aside;
        if (::CopyFileW(wideTemp.c_str(), wideAside.c_str(), TRUE)) return aside;
        break;
    }
    // The temporary file keeps the only copy: read-only, no save removes it.
    ::SetFileAttributesW(wideTemp.c_str(), FILE_ATTRIBUTE_READONLY);
    return temp;
}

void CloseQuietly(Handle handle) { ::CloseHandle(handle); }

void SyncFolder(const std::string&) {}  // MOVEFILE_WRITE_THROUGH and ReplaceFileW see to it

void Remove(const std::string& path) { ::DeleteFileW(LongPath(path).c_str()); }

long ProcessId() { return static_cast<long>(::GetCurrentProcessId()); }

void ForEachEntry(const std::string& folder, const std::function<void(const std::string& name)>& visit) {
    WIN32_FIND_DATAW found{};
    const HANDLE search = ::FindFirstFileW((LongPath(folder) + L"\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return;
    do {
        visit(Utf8(found.cFileName, std::wcslen(found.cFileName)));
    } while (::FindNextFileW(search, &found));
    ::FindClose(search);
}

// A writer's handle shares nothing, so this open fails while it writes; a
// file written to within the last seconds may be between the writer's close
// and its rename, or waiting for a retried move, and is left alone.
void RemoveIfAbandoned(const std::string& path) {
    const HANDLE file = ::CreateFileW(LongPath(path).c_str(), DELETE | FILE_READ_ATTRIBUTES, 0, nullptr, OPEN_EXISTING,
                                      FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    // A read-only leftover is the only copy of a save that could not be
    // swapped in (KeepAside): never removed.
    FILE_BASIC_INFO basic{};
    if (!::GetFileInformationByHandleEx(file, FileBasicInfo, &basic, sizeof basic) ||
        (basic.FileAttributes & FILE_ATTRIBUTE_READONLY)) {
        ::CloseHandle(file);
        return;
    }
    FILETIME written{}, now{};
    ::GetSystemTimeAsFileTime(&now);
    if (::GetFileTime(file, nullptr, nullptr, &written)) {
        const auto ticks = [](const FILETIME& t) { return (ULONGLONG(t.dwHighDateTime) << 32) | t.dwLowDateTime; };
        if (ticks(now) > ticks(written) + kStaleTicks) {
            FILE_DISPOSITION_INFO disposition{TRUE};
            ::SetFileInformationByHandle(file, FileDispositionInfo, &disposition, sizeof disposition);
        }
    }
    ::CloseHandle(file);
}

}  // namespace platform
}  // namespace safe_file

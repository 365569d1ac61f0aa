// The old file's backups that Windows saves leave when they are cut short or
// cannot give the name back: removed by the next save once no save holds
// them, and, where the rules file itself is missing at start-up, the newest
// one given its name back.
#include "safe_file_windows.h"

#include "safe_file.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace safe_file {
namespace platform {
namespace {

// Opens path for deleting or renaming, sharing nothing: fails while a save
// holds it (or any other program).
HANDLE OpenUnheld(const std::string& path) {
    return ::CreateFileW(LongPath(path).c_str(), DELETE | FILE_READ_ATTRIBUTES | SYNCHRONIZE, 0, nullptr,
                         OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
}

// Calls visit with the full path of every backup of target.
template <typename Visit>
void ForEachBackup(const std::string& target, Visit visit) {
    const std::string prefix = BackupPrefix(target);
    const std::string folder = FolderOf(target);
    ForEachEntry(folder, [&](const std::string& name) {
        if (name.compare(0, prefix.size(), prefix) == 0) visit(folder + kPathSeparator + name);
    });
}

// Renames the open file to target, never over a file; closes it.
bool RenameToFreeName(HANDLE file, const std::string& from, const std::string& target) {
    const std::wstring to = LongPath(target);
    std::vector<char> buffer(sizeof(FILE_RENAME_INFO) + to.size() * sizeof(WCHAR));
    auto* info = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
    info->ReplaceIfExists = FALSE;
    info->FileNameLength = DWORD(to.size() * sizeof(WCHAR));
    std::memcpy(info->FileName, to.c_str(), to.size() * sizeof(WCHAR));
    const bool renamed = ::SetFileInformationByHandle(file, FileRenameInfo, info, DWORD(buffer.size()));
    const DWORD error = ::GetLastError();
    ::CloseHandle(file);
    if (renamed) return true;
    if (error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS) return false;
    // A file system that renames no open file: by name.
    return ::MoveFileExW(LongPath(from).c_str(), to.c_str(), MOVEFILE_WRITE_THROUGH);
}

// The time a backup got its name: a rename changes a file's metadata, so its
// change time, never earlier than its last write. Zero when unknown.
ULONGLONG NamedAt(HANDLE file) {
    FILE_BASIC_INFO basic{};
    if (!::GetFileInformationByHandleEx(file, FileBasicInfo, &basic, sizeof basic)) return 0;
    return ULONGLONG(std::max(basic.ChangeTime.QuadPart, basic.LastWriteTime.QuadPart));
}

}  // namespace

std::string BackupPrefix(const std::string& target) {
    return "." + target.substr(target.find_last_of("\\/") + 1) + ".replaced-";
}

// Only where the rules file is there, and then only backups written no later
// than it: when saves meet, another save's ReplaceFileW may have moved a file
// that it did not hold, the newest one, to its backup name, to give it back
// a moment later.
void RemoveAbandonedBackups(const std::string& target) {
    WIN32_FILE_ATTRIBUTE_DATA rules{};
    if (!::GetFileAttributesExW(LongPath(target).c_str(), GetFileExInfoStandard, &rules)) return;
    const LONGLONG rulesWritten =
        LONGLONG((ULONGLONG(rules.ftLastWriteTime.dwHighDateTime) << 32) | rules.ftLastWriteTime.dwLowDateTime);
    ForEachBackup(target, [rulesWritten](const std::string& path) {
        const HANDLE file = OpenUnheld(path);
        if (file == INVALID_HANDLE_VALUE) return;
        FILE_BASIC_INFO basic{};
        if (::GetFileInformationByHandleEx(file, FileBasicInfo, &basic, sizeof basic) &&
            basic.LastWriteTime.QuadPart <= rulesWritten) {
            FILE_DISPOSITION_INFO disposition{TRUE};
            ::SetFileInformationByHandle(file, FileDispositionInfo, &disposition, sizeof disposition);
        }
        ::CloseHandle(file);
    });
}

}  // namespace platform

namespace {

// The backup that got its name last holds the version that had the rules
// file's name last: a backup is always a file that had that name. Its last
// write may be older than an earlier backup's, as for a file unpacked with
// its time stamp. heldAside tells that a held backup, newer than any other,
// kept the name empty: another editor's save may have the old file aside.
bool RestoreNewestBackup(const std::string& path, bool& heldAside) {
    using namespace platform;
    heldAside = false;
    const std::wstring wide = LongPath(path);
    if (::GetFileAttributesW(wide.c_str()) != INVALID_FILE_ATTRIBUTES || ::GetLastError() != ERROR_FILE_NOT_FOUND)
        return false;
    HANDLE newest = INVALID_HANDLE_VALUE;
    std::string newestPath;
    ULONGLONG newestWritten = 0, heldWritten = 0;
    bool anyHeld = false;
    ForEachBackup(path, [&](const std::string& backup) {
        const HANDLE file = OpenUnheld(backup);
        if (file == INVALID_HANDLE_VALUE) {
            const HANDLE held = ::CreateFileW(LongPath(backup).c_str(), FILE_READ_ATTRIBUTES,
                                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                              OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
            if (held == INVALID_HANDLE_VALUE) return;
            heldWritten = std::max(heldWritten, NamedAt(held));
            anyHeld = true;
            ::CloseHandle(held);
            return;
        }
        FILE_BASIC_INFO basic{};
        const bool regular = ::GetFileInformationByHandleEx(file, FileBasicInfo, &basic, sizeof basic) &&
                             !(basic.FileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT));
        const ULONGLONG written = NamedAt(file);
        if (!regular || (newest != INVALID_HANDLE_VALUE && written <= newestWritten)) {
            ::CloseHandle(file);
            return;
        }
        if (newest != INVALID_HANDLE_VALUE) ::CloseHandle(newest);
        newest = file;
        newestPath = backup;
        newestWritten = written;
    });
    heldAside = anyHeld && (newest == INVALID_HANDLE_VALUE || heldWritten > newestWritten);
    if (newest == INVALID_HANDLE_VALUE) return false;
    // A newer backup that a save, or a scanner, holds: nothing older goes
    // in its place.
    if (heldWritten > newestWritten) {
        ::CloseHandle(newest);
        return false;
    }
    return RenameToFreeName(newest, newestPath, path);
}

}  // namespace

// Another editor's save gives the old file its name back within its own
// renames; a start in that moment waits for it, as a save waits for a busy
// file, rather than report the rules file missing.
bool RestoreInterruptedSave(const std::string& path) {
    constexpr DWORD kPauseMs = 50, kLongestWaitMs = 2000;
    for (DWORD waited = 0;; waited += kPauseMs) {
        bool heldAside = false;
        const bool restored = RestoreNewestBackup(path, heldAside);
        if (restored || !heldAside || waited >= kLongestWaitMs) return restored;
        ::Sleep(kPauseMs);
    }
}

}  // namespace safe_file

// The swap of a Windows save: ReplaceFileW with a backup name, tried again
// while another program holds a file for a moment, and what keeps every
// version of the file named when the system carries it out only in part.
#include "safe_file_windows.h"

#include "safe_file.h"

#include <algorithm>

namespace safe_file {
namespace {
SwapFaults g_swapFaults;
}  // namespace

void SetSwapFaultsForTesting(const SwapFaults& faults) { g_swapFaults = faults; }

namespace platform {
namespace {

// A scanner, an indexer or the game holds a file for a moment: the pauses
// between tries grow, two seconds in all.
constexpr DWORD kBusyPausesMs[] = {50, 100, 150, 250, 350, 450, 650};
constexpr int kBusyRetries = int(sizeof kBusyPausesMs / sizeof kBusyPausesMs[0]);

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

}  // namespace platform
}  // namespace safe_file

// The swap of a Windows save, one at a time across editors. Where the file
// system renames over a file in one step, the new file is renamed over the
// old one and the name is never empty. Elsewhere ReplaceFileW moves the old
// file to a backup name first; when it fails after that, the old file gets
// its name back at once, never over another file, before anything is waited
// for or tried again.
#include "safe_file_windows.h"

#include "safe_file.h"

#include <algorithm>
#include <cstring>
#include <vector>

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
// Where the system renames over no open file, the first tries (300 ms)
// wait for the others to let go before ReplaceFileW moves the old file aside.
constexpr int kRenameOnlyTries = 3;
// Another editor's swap takes milliseconds, up to two seconds where a file
// is busy; one that keeps the turn longer than this is stuck.
constexpr ULONGLONG kTurnWaitMs = 10000;
constexpr ULONGLONG kDeniedWaitMs = 1000;
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// FILE_RENAME_INFO as Windows 10 1607 and later define it, and the class and
// flags of the rename that replaces in one step even a file others have open
// sharing deletion (NTFS, Windows 10 1809 and later).
struct RenameInfo {
    union {
        BOOLEAN replaceIfExists;
        DWORD flags;
    };
    HANDLE rootDirectory;
    DWORD fileNameLength;
    WCHAR fileName[1];
};
constexpr auto kFileRenameInfoEx = FILE_INFO_BY_HANDLE_CLASS(22);
constexpr DWORD kRenameReplaceIfExists = 0x1, kRenamePosixSemantics = 0x2;

bool Unsupported(DWORD error) {
    return error == ERROR_INVALID_PARAMETER || error == ERROR_INVALID_FUNCTION || error == ERROR_NOT_SUPPORTED ||
           error == ERROR_CALL_NOT_IMPLEMENTED;
}

bool NameTaken(DWORD error) { return error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS; }

// Renames from over to, replacing what has that name in the same step.
// fromBusy tells that from itself could not be opened (a program holds it).
bool RenameOver(const std::wstring& from, const std::wstring& to, bool posixSemantics, DWORD& error, bool& fromBusy) {
    fromBusy = false;
    if (g_swapFaults.renameFailures > 0) {
        --g_swapFaults.renameFailures;
        error = g_swapFaults.renameError;
        return false;
    }
    const HANDLE file = ::CreateFileW(from.c_str(), DELETE | SYNCHRONIZE, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                                      OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        error = ::GetLastError();
        fromBusy = true;
        return false;
    }
    std::vector<char> buffer(sizeof(RenameInfo) + to.size() * sizeof(WCHAR));
    auto* info = reinterpret_cast<RenameInfo*>(buffer.data());
    if (posixSemantics) info->flags = kRenameReplaceIfExists | kRenamePosixSemantics;
    else info->replaceIfExists = TRUE;
    info->fileNameLength = DWORD(to.size() * sizeof(WCHAR));
    std::memcpy(info->fileName, to.c_str(), to.size() * sizeof(WCHAR));
    const bool renamed = ::SetFileInformationByHandle(file, posixSemantics ? kFileRenameInfoEx : FileRenameInfo, info,
                                                      DWORD(buffer.size()));
    error = ::GetLastError();
    ::CloseHandle(file);
    return renamed;
}

// With a backup name, every failure of ReplaceFileW leaves the old file under
// a name known here: its own, or the backup's.
bool Replace(const std::wstring& target, const std::wstring& temp, const std::wstring& backup, DWORD& error) {
    if (g_swapFaults.replaceFailures > 0) {
        --g_swapFaults.replaceFailures;
        error = g_swapFaults.replaceError;
        if (error == ERROR_UNABLE_TO_MOVE_REPLACEMENT_2 && ::MoveFileExW(target.c_str(), backup.c_str(), 0) &&
            g_swapFaults.oldMovedAway)
            g_swapFaults.oldMovedAway();
        return false;
    }
    if (::ReplaceFileW(target.c_str(), temp.c_str(), backup.c_str(), REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr,
                       nullptr))
        return true;
    error = ::GetLastError();
    return false;
}

bool MoveFailsForTesting(DWORD& error) {
    if (g_swapFaults.moveFailures <= 0) return false;
    --g_swapFaults.moveFailures;
    error = g_swapFaults.moveError;
    return true;
}

// Gives to the file from has, never over another file; from loses its name.
bool MoveToFreeName(const std::wstring& from, const std::wstring& to, DWORD& error) {
    if (MoveFailsForTesting(error)) return false;
    if (::MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_WRITE_THROUGH)) return true;
    error = ::GetLastError();
    return false;
}

// Gives to the file from has as a second name, never over another file; from
// keeps its name. Works where a program holds from without sharing deletion.
bool LinkToFreeName(const std::wstring& from, const std::wstring& to, DWORD& error) {
    if (MoveFailsForTesting(error)) return false;
    if (::CreateHardLinkW(to.c_str(), from.c_str(), nullptr)) return true;
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
    case ERROR_UNABLE_TO_MOVE_REPLACEMENT_2:
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

// Editors close the rules file once read: one held against replacing is another program's.
std::string BusyReason(const std::wstring& target, DWORD error) {
    const std::string reason = SystemReason(error);
    return HeldOpen(target, kShareAll) ? "another program has this file open (" + reason + ")" : reason;
}

enum class Step { kDone, kFailed, kNameTaken, kOnlyCopy };

// One swap, tried again as long as the old file has its name.
class Swap {
public:
    // The backup's name ends as the new file's does: a start that finds both
    // knows they are the two halves of one swap.
    Swap(const std::string& temp, const std::string& target)
        : target_(target),
          backup_(FolderOf(target) + kPathSeparator + BackupPrefix(target) +
                  temp.substr(temp.find_last_of("\\/") + 1 + TempPrefix(target).size())),
          wideTemp_(LongPath(temp)), wideTarget_(LongPath(target)), wideBackup_(LongPath(backup_)) {}

    // One try. After kFailed the old file has its name (or there was none)
    // and error says why; after kNameTaken and kOnlyCopy backup() holds it.
    // Where a rename is refused over a file others have open, ReplaceFileW
    // is tried only with moveAsideToo: most programs let go soon.
    Step Try(bool moveAsideToo, DWORD& error) {
        bool tempBusy = false;
        if (posixRename_) {
            if (RenameOver(wideTemp_, wideTarget_, true, error, tempBusy)) return Step::kDone;
            if (tempBusy) return Step::kFailed;
            if (Unsupported(error)) posixRename_ = false;
            else return RefusedOverAnOpenFile(moveAsideToo, error);
        }
        if (plainRename_) {
            if (RenameOver(wideTemp_, wideTarget_, false, error, tempBusy)) return Step::kDone;
            if (tempBusy) return Step::kFailed;
            if (Unsupported(error)) plainRename_ = false;
            else return RefusedOverAnOpenFile(moveAsideToo, error);
        }
        return ReplaceKeepingTheName(error);
    }

    const std::string& backup() const { return backup_; }

private:
    // A plain rename is refused over a file that others have open even when
    // they share deleting, where ReplaceFileW may still manage. Where the
    // one-step rename is refused, ReplaceFileW cannot move the old file
    // either: it fails at once, naming the sharing as the reason.
    Step RefusedOverAnOpenFile(bool moveAsideToo, DWORD& error) {
        if (!moveAsideToo || !IsBusy(error, wideTarget_)) return Step::kFailed;
        return ReplaceKeepingTheName(error);
    }

    // This save has the turn: every other backup is a leftover, so that at
    // most one pairs with a new file, this one; and where the rules name is
    // empty after a failed ReplaceFileW, this save emptied it. Where the name
    // still has a file, the old file kept it; a backup beside it is a copy
    // (Wine copies the old file to the backup name first).
    Step ReplaceKeepingTheName(DWORD& error) {
        if (!Exists(wideTarget_)) {
            if (MoveToFreeName(wideTemp_, wideTarget_, error)) return Step::kDone;
            if (!NameTaken(error)) return Step::kFailed;
        }
        RemoveAbandonedBackups(target_);
        if (Replace(wideTarget_, wideTemp_, wideBackup_, error)) {
            ::DeleteFileW(wideBackup_.c_str());
            return Step::kDone;
        }
        return Exists(wideTarget_) || !Exists(wideBackup_) ? Step::kFailed : GiveTheNameBack();
    }

    // The old file is at the backup name: back to its name, as a second name
    // where it cannot be moved, or else the new file in; never over a file.
    Step GiveTheNameBack() {
        DWORD error = 0;
        if (MoveToFreeName(wideBackup_, wideTarget_, error)) return Step::kFailed;
        if (NameTaken(error)) return Step::kNameTaken;
        if (LinkToFreeName(wideBackup_, wideTarget_, error)) {
            ::DeleteFileW(wideBackup_.c_str());  // or a later save removes it
            return Step::kFailed;
        }
        if (NameTaken(error)) return Step::kNameTaken;
        if (MoveToFreeName(wideTemp_, wideTarget_, error)) {
            ::DeleteFileW(wideBackup_.c_str());
            return Step::kDone;
        }
        return NameTaken(error) ? Step::kNameTaken : Step::kOnlyCopy;
    }

    std::string target_, backup_;
    std::wstring wideTemp_, wideTarget_, wideBackup_;
    bool posixRename_ = true;
    bool plainRename_ = true;
};

}  // namespace

SwapOutcome SwapIn(Handle handle, const std::string& temp, const std::string& target, bool,
                   const std::function<void()>& whileWaiting, std::string& reason, std::string& oldCopy) {
    const bool synced = ::FlushFileBuffers(handle);
    const DWORD syncError = ::GetLastError();
    ::CloseHandle(handle);
    if (!synced) {
        reason = SystemReason(syncError);
        return SwapOutcome::kTargetKept;
    }
    if (g_swapFaults.swapBegins) g_swapFaults.swapBegins(temp);
    Swap swap(temp, target);
    const std::wstring wideTarget = LongPath(target);
    for (int attempt = 0;; ++attempt) {
        DWORD error = 0;
        const Step step = swap.Try(attempt >= kRenameOnlyTries, error);
        switch (step) {
        case Step::kDone:
            RemoveAbandonedBackups(target);
            return SwapOutcome::kReplaced;
        case Step::kNameTaken:
        case Step::kOnlyCopy: {
            reason = SystemReason(error);
            if (Exists(LongPath(swap.backup()))) oldCopy = swap.backup();
            const bool taken = step == Step::kNameTaken || Exists(wideTarget);
            return taken ? SwapOutcome::kNameTaken : SwapOutcome::kTempOnlyCopy;
        }
        case Step::kFailed:
            break;
        }
        if (attempt == kBusyRetries || !IsBusy(error, wideTarget)) {
            reason = BusyReason(wideTarget, error);
            return SwapOutcome::kTargetKept;
        }
        Pause(kBusyPausesMs[attempt], whileWaiting);
    }
}

// The turn is a file beside the target that one handle at a time may have
// open: it shares nothing, and it goes when its holder closes it or dies, so
// a save that was killed never keeps the others waiting, and no second
// holder can open it while the first has it.
bool TakeSwapTurn(const std::string& target, const std::string& ownTemp, const std::function<void()>& whileWaiting,
                  Handle& turn, std::string& reason) {
    const std::string lock = FolderOf(target) + kPathSeparator + "." + target.substr(target.find_last_of("\\/") + 1) +
                             ".lock";
    const ULONGLONG start = ::GetTickCount64();
    ULONGLONG deniedSince = ~0ull;
    DWORD error = 0;
    // Denied for the moment the last holder's file is being deleted, which
    // may be gone by the next look. A lock file that stays denied (a leftover
    // of another user's, a folder the user may not write) is named.
    for (;; Pause(10, whileWaiting)) {
        turn = ::CreateFileW(LongPath(lock).c_str(), GENERIC_WRITE | DELETE, 0, nullptr, OPEN_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
        if (turn != INVALID_HANDLE_VALUE) return true;
        error = ::GetLastError();
        const ULONGLONG now = ::GetTickCount64();
        deniedSince = error == ERROR_ACCESS_DENIED ? std::min(deniedSince, now) : ~0ull;  // one denial at a time
        if (error == ERROR_SHARING_VIOLATION ? now - start >= kTurnWaitMs
                                             : error != ERROR_ACCESS_DENIED || now - deniedSince >= kDeniedWaitMs)
            break;
    }
    const std::wstring wideTarget = LongPath(target);
    const std::string lockFile = "the lock file " + lock + ", by which saves take turns, ";
    // An editor holds the turn only while a .saving- file of its own is there.
    reason = error != ERROR_SHARING_VIOLATION ? lockFile + "cannot be opened (" + SystemReason(error) + ")"
             : HeldOpen(wideTarget, kShareAll) ? BusyReason(wideTarget, error)
             : AnyBeside(target, TempPrefix(target), ownTemp) ? "another editor is saving this file"
                                                               : "another program has " + lockFile + "open";
    return false;
}

void EndSwapTurn(Handle turn) {
    if (turn != INVALID_HANDLE_VALUE) ::CloseHandle(turn);
}

std::string KeepAside(const std::string& temp, const std::string& target) {
    const std::wstring wideTemp = LongPath(temp);
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string aside = target + ".saved-" + std::to_string(ProcessId()) + "-" + std::to_string(attempt);
        const std::wstring wideAside = LongPath(aside);
        if (Exists(wideAside)) continue;
        DWORD error = 0;
        if (MoveToFreeName(wideTemp, wideAside, error)) return aside;
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

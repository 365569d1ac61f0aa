// The old file's backups that Windows saves leave when they are cut short or
// cannot give the name back: removed by the next save, and where a swap was
// cut short between its two renames, given the rules name back at start-up.
// Both under the swap turn, where no other save is under way.
#include "safe_file_windows.h"

#include "safe_file.h"

namespace safe_file {
namespace platform {
std::string BackupPrefix(const std::string& target) {
    return "." + target.substr(target.find_last_of("\\/") + 1) + ".replaced-";
}

// Only where the rules file is there: where the name is empty a backup may
// hold the last whole version. A backup that a program holds stays for the
// next save.
void RemoveAbandonedBackups(const std::string& target) {
    if (!Exists(LongPath(target))) return;
    ForEachBeside(target, BackupPrefix(target),
                  [](const std::string& path) { ::DeleteFileW(LongPath(path).c_str()); });
}

}  // namespace platform

// A kill between the two renames of a swap leaves the old file under its
// backup name, the new one under the name that ends the same, and the rules
// name empty: only then does the old file get its name back (a backup alone
// is a leftover; a rules file missing beside it was removed). A save under
// way, which has moved the old file to a backup, ends first.
bool RestoreInterruptedSave(const std::string& path, const std::function<void()>& whileWaiting, std::string& reason) {
    using namespace platform;
    const std::string target = LinkTarget(path);
    const std::wstring wideTarget = LongPath(target);
    if (::GetFileAttributesW(wideTarget.c_str()) != INVALID_FILE_ATTRIBUTES || ::GetLastError() != ERROR_FILE_NOT_FOUND)
        return false;
    // Without a backup there is nothing to wait for or give back.
    Handle turn = kNoHandle;
    if (!AnyBeside(target, BackupPrefix(target)) || !TakeSwapTurn(target, {}, whileWaiting, turn, reason)) return false;
    const std::string folder = FolderOf(target), newPrefix = folder + kPathSeparator + TempPrefix(target);
    const std::size_t endingAt = folder.size() + 1 + BackupPrefix(target).size();
    bool restored = false;
    ForEachBeside(target, BackupPrefix(target), [&](const std::string& backup) {
        const std::wstring newHalf = LongPath(newPrefix + backup.substr(endingAt));
        if (!restored && Exists(newHalf) && !HeldOpen(newHalf, 0))
            restored = ::MoveFileExW(LongPath(backup).c_str(), wideTarget.c_str(), MOVEFILE_WRITE_THROUGH);
    });
    EndSwapTurn(turn);
    return restored;
}

}  // namespace safe_file

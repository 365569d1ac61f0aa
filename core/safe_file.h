// The few file-system calls the standard library cannot make safely: opening
// a file for reading with a usable error reason, and replacing a file so that
// a crash, a full disk or a missing permission never leaves it half written.
// Every platform-specific call of the core lives in safe_file.cpp.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>

namespace safe_file {

// The separator the platform uses between folder names.
#ifdef _WIN32
inline constexpr char kPathSeparator = '\\';
#else
inline constexpr char kPathSeparator = '/';
#endif

// True when a regular file (or a link to one) exists at path; directories and
// other special files do not count, nor on Windows files marked hidden or
// system.
bool IsRegularFile(const std::string& path);

// Paths are the platform's bytes on POSIX and UTF-8 on Windows.

// Opens path for binary reading. Returns nullptr and sets reason to the
// system's explanation when it cannot; a directory is refused.
std::FILE* OpenForReading(const std::string& path, std::string& reason);

// The size of an open file in bytes, 0 when the system cannot tell.
std::uint64_t SizeOf(std::FILE* file);

// Where a save was cut short between the two renames of its swap (Windows),
// the rules name is empty, the old file has its backup name and the new
// file, held by no one, its temporary name with the same ending: gives the
// old file its name back, never over a file. True when it did. A backup
// alone is no reason: a rules file missing beside it was removed. Waits for
// a save under way to end, as saves wait for each other, calling
// whileWaiting (a link is looked at beside its target); where the turn
// cannot be had, sets reason to what holds it. A rename replaces in one step
// on POSIX: no save leaves the name empty there.
#ifdef _WIN32
bool RestoreInterruptedSave(const std::string& path, const std::function<void()>& whileWaiting, std::string& reason);
#else
inline bool RestoreInterruptedSave(const std::string&, const std::function<void()>&, std::string&) { return false; }
#endif

// Writes a new version of a file next to it and swaps it in only once every
// byte is on disk. Until Commit succeeds the original file is untouched,
// except where the folder sync after the rename failed (see Commit), and
// where the system moved it away and then neither it nor the new file
// could be given the name back (Windows): TargetKept() is then false, and
// reason() says that the file is missing now and names the file that holds the
// new lines, which no later save removes, and the one that holds the old
// file. Where another program put a file under the name while the old one
// was away (Windows), that file stays, the save fails and reason() names
// the old file's backup. Otherwise, if the writer is destroyed without a
// successful Commit, the temporary file is removed. Saves of one file swap
// in turn (Windows): Commit waits while another editor's save swaps, calling
// whileWaiting, and fails after ten seconds, saying what holds the turn. A
// file that another program holds for a moment (Windows) is tried again for
// about two seconds, calling whileWaiting meanwhile, but only while the old
// file has its name; a failure names a rules file held by another program.
// A link to the file is followed, so the link's target is replaced and the
// link stays; a link that cannot be followed is an error. The writer holds a
// lock on its temporary file while it writes; a successful Commit removes the
// temporary files (and on Windows the backups) of the same target that no
// writer holds, the leftovers of saves that were killed.
// Errors are sticky: after the first failure every call returns false and
// reason() tells why, in the system's words (UTF-8 on Windows).
class Replacement {
public:
    explicit Replacement(std::string path, std::function<void()> whileWaiting = {});
    ~Replacement();
    Replacement(const Replacement&) = delete;
    Replacement& operator=(const Replacement&) = delete;

    // Creates the temporary file. Fails when the existing file may not be
    // written by this user, when the path names a directory, or when the
    // folder does not allow a new file.
    bool Open();
    // Appends bytes (buffered; the buffer goes out in large sequential writes).
    bool Write(const char* data, std::size_t size);
    // Flushes, syncs the data to disk, keeps the old file's permission bits,
    // group and extended attributes, renames over the old file and syncs the
    // folder. A folder sync that fails (but for a folder that cannot be
    // synced at all) fails the Commit with the new file in place: Replaced()
    // is then true.
    bool Commit();

    const std::string& reason() const { return reason_; }
    // False only after a failed Commit that lost the old file.
    bool TargetKept() const { return targetKept_; }
    // True once the new file has the name.
    bool Replaced() const { return committed_; }

private:
    bool Fail(const std::string& what);
    bool FlushBuffer();
    void Discard();

    std::string target_;
    std::string temp_;
    std::string reason_;
    std::string buffer_;
    std::function<void()> whileWaiting_;
    std::intptr_t handle_ = 0;  // the platform's file handle while open_
    bool open_ = false;
    bool exists_ = false;  // an old file is there to be replaced
    bool failed_ = false;
    bool committed_ = false;
    bool targetKept_ = true;
};

#ifdef _WIN32
// For tests: the next replaceFailures calls of ReplaceFileW fail with
// replaceError (having moved the old file to the backup name first, and then
// called oldMovedAway, when that is ERROR_UNABLE_TO_MOVE_REPLACEMENT_2, as
// Windows does); the next moveFailures moves and links that give the name a
// file without replacing fail with moveError; the next renameFailures
// one-step replaces fail with renameError (ERROR_INVALID_PARAMETER: as where
// the file system has none). swapBegins is called with the temporary file's
// name as each swap begins. Zeros bring the real calls back.
struct SwapFaults {
    unsigned long replaceError = 0;
    int replaceFailures = 0;
    unsigned long moveError = 0;
    int moveFailures = 0;
    std::function<void(const std::string& temp)> swapBegins;
    unsigned long renameError = 0;
    int renameFailures = 0;
    std::function<void()> oldMovedAway;
};
void SetSwapFaultsForTesting(const SwapFaults& faults);
#else
// For tests: the next folder sync after a rename fails with folderSyncError
// (an errno value); zero brings the real call back.
struct SwapFaults {
    int folderSyncError = 0;
};
void SetSwapFaultsForTesting(const SwapFaults& faults);
#endif

}  // namespace safe_file

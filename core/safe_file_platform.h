// The system calls behind safe_file, one implementation per platform
// (safe_file_posix.cpp, safe_file_windows.cpp). Paths are the platform's
// bytes on POSIX and UTF-8 on Windows. Calls that can fail return false and
// set reason in the system's words (UTF-8).
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>

namespace safe_file::platform {

#ifdef _WIN32
using Handle = void*;
#else
using Handle = int;
#endif
extern const Handle kNoHandle;
// A handle as safe_file.h stores it, and back.
std::intptr_t ToStored(Handle handle);
Handle FromStored(std::intptr_t stored);

std::string ErrnoReason(int error);

// The folder part of path ("." when there is none).
std::string FolderOf(const std::string& path);

// What the name of a save's new file begins with, in the target's folder
// (".unitrules.xml.saving-"); a token made anew for each save follows.
std::string TempPrefix(const std::string& target);

// The file a save of path must replace: links are followed, so the link
// stays a link and its target gets the new lines. Fails when path is a link
// whose target cannot be found.
bool ResolveLinks(const std::string& path, std::string& resolved, std::string& reason);

bool IsRegularFile(const std::string& path);
bool IsDirectory(const std::string& path);
std::FILE* OpenBinary(const std::string& path);
std::uint64_t SizeOf(std::FILE* file);

// Refuses a target that is a directory or that this user may not write;
// exists tells whether there is an old file to replace.
bool CheckReplaceable(const std::string& target, bool& exists, std::string& reason);

// Creates path exclusively and takes the writer's lock on it, held until the
// handle is closed: a file so held is never taken for a leftover. taken is
// set when the name is in use (try another).
bool CreateLocked(const std::string& path, Handle& handle, bool& taken, std::string& reason);

// Gives the new file the old one's permissions, group (and owner where the
// user may), and extended attributes.
bool KeepOwnerAndMode(Handle handle, const std::string& target, std::string& reason);

bool WriteSome(Handle handle, const char* data, std::size_t size, std::size_t& written, std::string& reason);

// One swap of target at a time, across processes (Windows): a save takes
// the turn while it still holds its new file, ownTemp, and ends it once the
// leftovers are settled. While another save has it, waits, calling
// whileWaiting, and after a while fails, saying what holds it: another
// editor's save, or a program that is none, or the rules file held open by
// a program. A POSIX rename needs no turn.
bool TakeSwapTurn(const std::string& target, const std::string& ownTemp, const std::function<void()>& whileWaiting,
                  Handle& turn, std::string& reason);
void EndSwapTurn(Handle turn);

enum class SwapOutcome {
    kReplaced,
    kTargetKept,     // failed; the old file is as it was
    kNameTaken,      // failed; another file took the name while the old one was away
    kTempOnlyCopy,   // failed with the old file moved away: temp holds the lines
};

// Syncs the temporary file, closes it and gives it the target's name, in the
// order that keeps the writer's lock for as long as the platform allows.
// Where another program holds a file for a moment the swap is tried again for
// a while, calling whileWaiting as it waits, never while the old file is away
// from its name. After kNameTaken and kTempOnlyCopy, oldCopy names the file
// that holds the old version, if one still does.
SwapOutcome SwapIn(Handle handle, const std::string& temp, const std::string& target, bool exists,
                   const std::function<void()>& whileWaiting, std::string& reason, std::string& oldCopy);

// After kTempOnlyCopy: moves (or else copies) the temporary file to a name no
// save takes for a leftover; where neither works the temporary file is
// marked so that no save removes it. Returns the path that holds the lines.
std::string KeepAside(const std::string& temp, const std::string& target);

void CloseQuietly(Handle handle);
// Makes the folder's entries durable. A folder that cannot be synced at all
// is no failure: a sync is then all it cannot give.
bool SyncFolder(const std::string& folder, std::string& reason);
void Remove(const std::string& path);
long ProcessId();

// Calls visit with the name of every entry of folder.
void ForEachEntry(const std::string& folder, const std::function<void(const std::string& name)>& visit);
// Calls visit with the path of every file in target's folder whose name
// begins with prefix.
void ForEachBeside(const std::string& target, const std::string& prefix,
                   const std::function<void(const std::string& path)>& visit);
// True when such a file is there, except's aside.
bool AnyBeside(const std::string& target, const std::string& prefix, const std::string& except = {});

// Removes path when no writer holds its lock: a save that was killed, in any
// process, container or machine that shares the folder.
void RemoveIfAbandoned(const std::string& path);

}  // namespace safe_file::platform

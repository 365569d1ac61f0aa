#include "safe_file.h"

#include "safe_file_platform.h"

#include <cerrno>
#include <cstdio>
#include <random>

namespace safe_file {
namespace {

using namespace platform;

constexpr std::size_t kWriteChunk = 1 << 20;

// Removes what saves that were killed part-way left behind: temporary files
// of this target that no writer holds any more. A save still under way, in
// this process or any other, holds its file and keeps it.
void RemoveAbandonedTemporaries(const std::string& target) {
    ForEachBeside(target, TempPrefix(target), RemoveIfAbandoned);
}

// A name of its own for each save, which its backup ends with too (Windows):
// a start pairs the two halves of a swap by it, never by a process id,
// which the system gives out again.
std::string NewSaveToken() {
    std::random_device random;
    char token[17];
    std::snprintf(token, sizeof token, "%08x%08x", unsigned(random()), unsigned(random()));
    return token;
}

}  // namespace

std::string platform::TempPrefix(const std::string& target) {
    return "." + target.substr(target.find_last_of(kPathSeparator) + 1) + ".saving-";
}

void platform::ForEachBeside(const std::string& target, const std::string& prefix,
                             const std::function<void(const std::string& path)>& visit) {
    const std::string folder = FolderOf(target);
    ForEachEntry(folder, [&](const std::string& name) {
        if (name.compare(0, prefix.size(), prefix) == 0) visit(folder + kPathSeparator + name);
    });
}

bool platform::AnyBeside(const std::string& target, const std::string& prefix, const std::string& except) {
    bool found = false;
    ForEachBeside(target, prefix, [&](const std::string& path) { found |= path != except; });
    return found;
}

bool IsRegularFile(const std::string& path) { return platform::IsRegularFile(path); }

std::FILE* OpenForReading(const std::string& path, std::string& reason) {
    if (IsDirectory(path)) {
        reason = ErrnoReason(EISDIR);
        return nullptr;
    }
    std::FILE* file = OpenBinary(path);
    if (!file) reason = ErrnoReason(errno);
    return file;
}

std::uint64_t SizeOf(std::FILE* file) { return platform::SizeOf(file); }

Replacement::Replacement(std::string path, std::function<void()> whileWaiting)
    : target_(std::move(path)), whileWaiting_(std::move(whileWaiting)) {}

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
    // Once the old file may be gone the temporary file is the only copy of
    // the lines: it stays, whatever else failed.
    if (!temp_.empty() && !committed_ && targetKept_) Remove(temp_);
    temp_.clear();
}

bool Replacement::Open() {
    if (failed_) return false;
    std::string reason, resolved;
    if (!ResolveLinks(target_, resolved, reason)) return Fail(reason);
    target_ = resolved;
    if (!CheckReplaceable(target_, exists_, reason)) return Fail(reason);

    Handle handle = kNoHandle;
    for (unsigned attempt = 0; handle == kNoHandle; ++attempt) {
        temp_ = FolderOf(target_) + kPathSeparator + TempPrefix(target_) + NewSaveToken();
        bool taken = false;
        if (!CreateLocked(temp_, handle, taken, reason)) {
            temp_.clear();
            handle = kNoHandle;
            if (!taken || attempt > 1000)
                return Fail("no new file can be made in the folder " + FolderOf(target_) + " (" + reason + ")");
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
    std::string reason, oldCopy;
    // Taken while the new file is still held, so that no save that has the
    // turn takes it for a leftover.
    Handle turn = kNoHandle;
    if (!TakeSwapTurn(target_, temp_, whileWaiting_, turn, reason))
        return Fail(reason + "; the file is left as it was, save again once that is done");
    const struct TurnEnd {
        Handle turn;
        ~TurnEnd() { EndSwapTurn(turn); }
    } turnEnd{turn};
    open_ = false;  // SwapIn closes the handle, whatever happens
    switch (SwapIn(FromStored(handle_), temp_, target_, exists_, whileWaiting_, reason, oldCopy)) {
    case SwapOutcome::kReplaced:
        break;
    case SwapOutcome::kTargetKept:
        return Fail(reason);
    case SwapOutcome::kNameTaken:
        return Fail("the save did not land: while the old file was moved aside (" + reason +
                    "), another program put a file under this name, which stays" +
                    (oldCopy.empty() ? "" : "; the old file is in " + oldCopy));
    case SwapOutcome::kTempOnlyCopy: {
        targetKept_ = false;
        const std::string holder = KeepAside(temp_, target_);
        const std::string old = oldCopy.empty() ? std::string() : "; the old file is in " + oldCopy;
        return Fail("the file could not be replaced (" + reason + ") and is missing now; the saved lines are in " +
                    holder + old);
    }
    }
    committed_ = true;
    temp_.clear();
    const bool synced = SyncFolder(FolderOf(target_), reason);
    RemoveAbandonedTemporaries(target_);
    if (!synced)
        return Fail("the new file is in place but may not be on disk yet: the folder sync failed (" + reason + ")");
    return true;
}

}  // namespace safe_file

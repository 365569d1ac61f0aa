// Helpers shared by the core and window tests: scratch folders, whole-file
// reads and writes, and running a piece of a test in a child process (with
// lowered privileges or a file-size limit) so a real system refusal can be
// provoked even when the tests run as root.
#pragma once

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

// std::filesystem's view of a path as the core takes it (UTF-8 on Windows).
std::filesystem::path Fs(const std::string& path);

class ScratchFolder {
public:
    ScratchFolder();
    ~ScratchFolder();
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    const std::string& path() const { return path_; }
    // path()/name
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }
    // The entries of path()/sub, names only, sorted.
    std::vector<std::string> Entries(const std::string& sub = "") const;

private:
    std::string path_;
};

std::string ReadBytes(const std::string& path);
void WriteBytes(const std::string& path, const std::string& bytes);
void MakeFolder(const std::string& path);

// True for a Windows build running under Wine, whose file calls differ from
// Windows' in a few corners.
bool RunningUnderWine();

#ifndef _WIN32
struct ChildLimits {
    bool unprivileged = false;        // drop to an ordinary user when running as root
    long long fileSizeLimit = -1;     // RLIMIT_FSIZE in bytes, -1 for none
    long long memoryLimit = -1;       // RLIMIT_AS in bytes, -1 for none
    long long extraGroup = -1;        // with unprivileged: also a member of this group
};

// Runs body in a forked child under the given limits; returns body's result
// (false as well when the child died). Folders the child must reach are made
// world-accessible by the caller.
bool RunInChild(const ChildLimits& limits, const std::function<bool()>& body);
#endif

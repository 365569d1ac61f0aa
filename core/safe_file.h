// The few file-system calls the standard library cannot make safely: opening
// a file for reading with a usable error reason, and replacing a file so that
// a crash, a full disk or a missing permission never leaves it half written.
// Every platform-specific call of the core lives in safe_file.cpp.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
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

// Writes a new version of a file next to it and swaps it in only once every
// byte is on disk. Until Commit succeeds the original file is untouched; if
// the writer is destroyed without a successful Commit, the temporary file is
// removed. A link to the file is followed, so the link's target is replaced.
// A successful Commit also removes what saves of the same file left behind
// when their process was killed.
// Errors are sticky: after the first failure every call returns false and
// reason() tells why, in the system's words.
class Replacement {
public:
    explicit Replacement(std::string path);
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
    // renames over the old file and syncs the folder.
    bool Commit();

    const std::string& reason() const { return reason_; }

private:
    bool Fail(const std::string& what);
    bool FlushBuffer();
    void Discard();

    std::string target_;
    std::string temp_;
    std::string reason_;
    std::string buffer_;
    std::intptr_t handle_ = 0;  // the platform's file handle while open_
    bool open_ = false;
    bool exists_ = false;  // an old file is there to be replaced
    bool failed_ = false;
    bool committed_ = false;
};

}  // namespace safe_file

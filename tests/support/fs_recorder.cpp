// A recorder of the file-system calls a program makes inside one folder,
// loaded with LD_PRELOAD (Linux, glibc): the calls that change what a crash
// may leave on disk, with their arguments and the bytes written, one line per
// successful call, in the order they returned. The crash-state explorer
// (crash_states.h) reads the recording.
//
//   FS_RECORD_DIR  the folder to watch (absolute); calls outside it pass
//                  through unrecorded
//   FS_RECORD_LOG  the file the recording is appended to
//
// Lines (paths relative to FS_RECORD_DIR, bytes outside '!'..'~' and '%'
// written as %XX; data in hex):
//   open <fd> <path> <flags in octal> <1 when the call created the file>
//   write <fd> <offset> <hex>            write, pwrite, writev
//   truncate <fd> <length>
//   fsync <fd> | fdatasync <fd> | close <fd> | sync
//   rename <from> <to> | link <from> <to> | unlink <path>
//   chmod <fd> <mode in octal> | chown <fd> <uid> <gid> | setxattr <fd> <name> <hex>
// Calls the save does not make (dup, mmap, mkdir, renameat2's exchange) are
// not recorded; a recording therefore says nothing about programs that use them.
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include <dlfcn.h>
#include <fcntl.h>
#include <pthread.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/uio.h>
#include <unistd.h>

namespace {

constexpr int kMaxFd = 65536;
// The watched path of every open descriptor that leads into the folder.
char* g_paths[kMaxFd];
pthread_mutex_t g_lock = PTHREAD_MUTEX_INITIALIZER;
int g_log = -1;

template <typename F>
F Real(const char* name) {
    return reinterpret_cast<F>(::dlsym(RTLD_NEXT, name));
}

const char* Watched() {
    const char* dir = std::getenv("FS_RECORD_DIR");
    return dir && *dir ? dir : nullptr;
}

// path made absolute against base and cleaned of ".", ".." and doubled slashes.
std::string Normal(const std::string& base, const char* path) {
    std::string joined = path[0] == '/' ? std::string(path) : base + "/" + path;
    std::string out;
    std::size_t i = 0;
    while (i < joined.size()) {
        const std::size_t end = joined.find('/', i) == std::string::npos ? joined.size() : joined.find('/', i);
        const std::string part = joined.substr(i, end - i);
        if (part == "..") {
            const auto slash = out.find_last_of('/');
            out.erase(slash == std::string::npos ? 0 : slash);
        } else if (!part.empty() && part != ".") {
            out += "/" + part;
        }
        i = end + 1;
    }
    return out.empty() ? "/" : out;
}

// The path relative to the watched folder ("." for the folder itself), or
// empty when it lies outside.
std::string Relative(int dirfd, const char* path) {
    const char* dir = Watched();
    if (!dir || !path) return {};
    std::string base;
    if (path[0] != '/') {
        if (dirfd == AT_FDCWD) {
            char cwd[4096];
            if (!::getcwd(cwd, sizeof cwd)) return {};
            base = cwd;
        } else if (dirfd >= 0 && dirfd < kMaxFd && g_paths[dirfd]) {
            base = Normal(dir, g_paths[dirfd]);
        } else {
            return {};
        }
    }
    const std::string full = Normal(base, path);
    const std::string root = Normal("/", dir);
    if (full == root) return ".";
    if (full.compare(0, root.size() + 1, root + "/") != 0) return {};
    return full.substr(root.size() + 1);
}

std::string Escaped(const std::string& text) {
    std::string out;
    char hex[4];
    for (unsigned char c : text) {
        if (c > ' ' && c < 0x7f && c != '%') {
            out += static_cast<char>(c);
        } else {
            std::snprintf(hex, sizeof hex, "%%%02X", c);
            out += hex;
        }
    }
    return out;
}

std::string Hex(const void* data, std::size_t size) {
    static const char digits[] = "0123456789abcdef";
    std::string out(size * 2, '0');
    const auto* bytes = static_cast<const unsigned char*>(data);
    for (std::size_t i = 0; i < size; ++i) {
        out[2 * i] = digits[bytes[i] >> 4];
        out[2 * i + 1] = digits[bytes[i] & 15];
    }
    return out;
}

void Log(const std::string& line) {
    static auto realOpen = Real<int (*)(const char*, int, ...)>("open");
    static auto realWrite = Real<ssize_t (*)(int, const void*, size_t)>("write");
    pthread_mutex_lock(&g_lock);
    if (g_log < 0) {
        const char* path = std::getenv("FS_RECORD_LOG");
        if (path) g_log = realOpen(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    }
    const std::string text = line + "\n";
    for (std::size_t done = 0; g_log >= 0 && done < text.size();) {
        const ssize_t n = realWrite(g_log, text.data() + done, text.size() - done);
        if (n <= 0) break;
        done += static_cast<std::size_t>(n);
    }
    pthread_mutex_unlock(&g_lock);
}

bool Tracked(int fd) { return fd >= 0 && fd < kMaxFd && g_paths[fd]; }

void NoteOpen(int fd, const std::string& relative, int flags, bool created) {
    if (fd < 0 || fd >= kMaxFd || relative.empty()) return;
    std::free(g_paths[fd]);
    g_paths[fd] = ::strdup(relative.c_str());
    char octal[16];
    std::snprintf(octal, sizeof octal, "%o", static_cast<unsigned>(flags));
    Log("open " + std::to_string(fd) + " " + Escaped(relative) + " " + octal + " " + (created ? "1" : "0"));
}

int OpenRecorded(int dirfd, const char* path, int flags, mode_t mode) {
    const std::string relative = Relative(dirfd, path);
    bool existed = true;
    if (!relative.empty()) {
        struct stat st {};
        const int saved = errno;
        existed = ::fstatat(dirfd, path, &st, AT_SYMLINK_NOFOLLOW) == 0;
        errno = saved;
    }
    static auto realOpenat = Real<int (*)(int, const char*, int, ...)>("openat");
    const int fd = realOpenat(dirfd, path, flags, mode);
    if (fd >= 0 && !relative.empty()) {
        const int saved = errno;
        NoteOpen(fd, relative, flags, !existed);
        errno = saved;
    }
    return fd;
}

mode_t ModeArg(int flags, va_list args) {
    return (flags & O_CREAT) || (flags & O_TMPFILE) == O_TMPFILE ? static_cast<mode_t>(va_arg(args, int)) : 0;
}

// The offset a plain write on fd lands at.
off_t WriteOffset(int fd) {
    const int saved = errno;
    off_t at = -1;
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags >= 0 && (flags & O_APPEND)) {
        struct stat st {};
        if (::fstat(fd, &st) == 0) at = st.st_size;
    } else {
        at = ::lseek(fd, 0, SEEK_CUR);
    }
    errno = saved;
    return at;
}

void NoteWrite(int fd, off_t offset, const void* data, ssize_t written) {
    if (written <= 0) return;
    Log("write " + std::to_string(fd) + " " + std::to_string(offset) + " " +
        Hex(data, static_cast<std::size_t>(written)));
}

void NoteFd(const char* op, int fd, int result, const std::string& rest = {}) {
    if (result != 0 || !Tracked(fd)) return;
    const int saved = errno;
    Log(std::string(op) + " " + std::to_string(fd) + rest);
    errno = saved;
}

void NotePaths(const char* op, int result, const std::string& from, const std::string& to = {}) {
    if (result != 0 || (from.empty() && to.empty())) return;
    const int saved = errno;
    // A path outside the folder is written absolute: the explorer refuses it.
    Log(std::string(op) + " " + Escaped(from.empty() ? "/outside" : from) +
        (to.empty() && std::strcmp(op, "unlink") == 0 ? "" : " " + Escaped(to.empty() ? "/outside" : to)));
    errno = saved;
}

}  // namespace

extern "C" {

int open(const char* path, int flags, ...) {
    va_list args;
    va_start(args, flags);
    const mode_t mode = ModeArg(flags, args);
    va_end(args);
    return OpenRecorded(AT_FDCWD, path, flags, mode);
}
int open64(const char* path, int flags, ...) {
    va_list args;
    va_start(args, flags);
    const mode_t mode = ModeArg(flags, args);
    va_end(args);
    return OpenRecorded(AT_FDCWD, path, flags, mode);
}
int openat(int dirfd, const char* path, int flags, ...) {
    va_list args;
    va_start(args, flags);
    const mode_t mode = ModeArg(flags, args);
    va_end(args);
    return OpenRecorded(dirfd, path, flags, mode);
}
int openat64(int dirfd, const char* path, int flags, ...) {
    va_list args;
    va_start(args, flags);
    const mode_t mode = ModeArg(flags, args);
    va_end(args);
    return OpenRecorded(dirfd, path, flags, mode);
}
int __open_2(const char* path, int flags) { return OpenRecorded(AT_FDCWD, path, flags, 0); }
int __open64_2(const char* path, int flags) { return OpenRecorded(AT_FDCWD, path, flags, 0); }
int creat(const char* path, mode_t mode) {
    return OpenRecorded(AT_FDCWD, path, O_WRONLY | O_CREAT | O_TRUNC, mode);
}
int creat64(const char* path, mode_t mode) {
    return OpenRecorded(AT_FDCWD, path, O_WRONLY | O_CREAT | O_TRUNC, mode);
}

ssize_t write(int fd, const void* data, size_t size) {
    static auto real = Real<ssize_t (*)(int, const void*, size_t)>("write");
    if (!Tracked(fd)) return real(fd, data, size);
    const off_t at = WriteOffset(fd);
    const ssize_t n = real(fd, data, size);
    NoteWrite(fd, at, data, n);
    return n;
}
ssize_t pwrite(int fd, const void* data, size_t size, off_t offset) {
    static auto real = Real<ssize_t (*)(int, const void*, size_t, off_t)>("pwrite");
    const ssize_t n = real(fd, data, size, offset);
    if (Tracked(fd)) NoteWrite(fd, offset, data, n);
    return n;
}
ssize_t pwrite64(int fd, const void* data, size_t size, off_t offset) {
    static auto real = Real<ssize_t (*)(int, const void*, size_t, off_t)>("pwrite64");
    const ssize_t n = real(fd, data, size, offset);
    if (Tracked(fd)) NoteWrite(fd, offset, data, n);
    return n;
}
ssize_t writev(int fd, const struct iovec* parts, int count) {
    static auto real = Real<ssize_t (*)(int, const struct iovec*, int)>("writev");
    if (!Tracked(fd)) return real(fd, parts, count);
    const off_t at = WriteOffset(fd);
    const ssize_t n = real(fd, parts, count);
    std::string joined;
    for (int i = 0; i < count && n > 0 && joined.size() < static_cast<std::size_t>(n); ++i)
        joined.append(static_cast<const char*>(parts[i].iov_base), parts[i].iov_len);
    if (n > 0) NoteWrite(fd, at, joined.data(), n);
    return n;
}

int ftruncate(int fd, off_t length) {
    static auto real = Real<int (*)(int, off_t)>("ftruncate");
    const int r = real(fd, length);
    NoteFd("truncate", fd, r, " " + std::to_string(length));
    return r;
}
int ftruncate64(int fd, off_t length) {
    static auto real = Real<int (*)(int, off_t)>("ftruncate64");
    const int r = real(fd, length);
    NoteFd("truncate", fd, r, " " + std::to_string(length));
    return r;
}
int fsync(int fd) {
    static auto real = Real<int (*)(int)>("fsync");
    const int r = real(fd);
    NoteFd("fsync", fd, r);
    return r;
}
int fdatasync(int fd) {
    static auto real = Real<int (*)(int)>("fdatasync");
    const int r = real(fd);
    NoteFd("fdatasync", fd, r);
    return r;
}
void sync() {
    static auto real = Real<void (*)()>("sync");
    real();
    if (Watched()) Log("sync");
}
int syncfs(int fd) {
    static auto real = Real<int (*)(int)>("syncfs");
    const int r = real(fd);
    if (r == 0 && Watched()) Log("sync");
    return r;
}
int close(int fd) {
    static auto real = Real<int (*)(int)>("close");
    const bool tracked = Tracked(fd);
    const int r = real(fd);
    if (tracked) {
        // The descriptor is gone whatever close returned.
        const int saved = errno;
        Log("close " + std::to_string(fd));
        std::free(g_paths[fd]);
        g_paths[fd] = nullptr;
        errno = saved;
    }
    return r;
}

int rename(const char* from, const char* to) {
    static auto real = Real<int (*)(const char*, const char*)>("rename");
    const std::string a = Relative(AT_FDCWD, from), b = Relative(AT_FDCWD, to);
    const int r = real(from, to);
    NotePaths("rename", r, a, b);
    return r;
}
int renameat(int fromDir, const char* from, int toDir, const char* to) {
    static auto real = Real<int (*)(int, const char*, int, const char*)>("renameat");
    const std::string a = Relative(fromDir, from), b = Relative(toDir, to);
    const int r = real(fromDir, from, toDir, to);
    NotePaths("rename", r, a, b);
    return r;
}
int renameat2(int fromDir, const char* from, int toDir, const char* to, unsigned flags) {
    static auto real = Real<int (*)(int, const char*, int, const char*, unsigned)>("renameat2");
    const std::string a = Relative(fromDir, from), b = Relative(toDir, to);
    const int r = real(fromDir, from, toDir, to, flags);
    // RENAME_NOREPLACE is a rename that succeeded; an exchange is not modelled.
    NotePaths((flags & 2u) ? "exchange" : "rename", r, a, b);
    return r;
}
int link(const char* from, const char* to) {
    static auto real = Real<int (*)(const char*, const char*)>("link");
    const std::string a = Relative(AT_FDCWD, from), b = Relative(AT_FDCWD, to);
    const int r = real(from, to);
    NotePaths("link", r, a, b);
    return r;
}
int linkat(int fromDir, const char* from, int toDir, const char* to, int flags) {
    static auto real = Real<int (*)(int, const char*, int, const char*, int)>("linkat");
    const std::string a = Relative(fromDir, from), b = Relative(toDir, to);
    const int r = real(fromDir, from, toDir, to, flags);
    NotePaths("link", r, a, b);
    return r;
}
int unlink(const char* path) {
    static auto real = Real<int (*)(const char*)>("unlink");
    const std::string a = Relative(AT_FDCWD, path);
    const int r = real(path);
    if (!a.empty()) NotePaths("unlink", r, a);
    return r;
}
int unlinkat(int dirfd, const char* path, int flags) {
    static auto real = Real<int (*)(int, const char*, int)>("unlinkat");
    const std::string a = Relative(dirfd, path);
    const int r = real(dirfd, path, flags);
    if (!a.empty() && !(flags & AT_REMOVEDIR)) NotePaths("unlink", r, a);
    return r;
}

int fchmod(int fd, mode_t mode) {
    static auto real = Real<int (*)(int, mode_t)>("fchmod");
    const int r = real(fd, mode);
    char octal[16];
    std::snprintf(octal, sizeof octal, " %o", static_cast<unsigned>(mode));
    NoteFd("chmod", fd, r, octal);
    return r;
}
int fchown(int fd, uid_t owner, gid_t group) {
    static auto real = Real<int (*)(int, uid_t, gid_t)>("fchown");
    const int r = real(fd, owner, group);
    NoteFd("chown", fd, r, " " + std::to_string(static_cast<long>(owner)) + " " + std::to_string(static_cast<long>(group)));
    return r;
}
int fsetxattr(int fd, const char* name, const void* value, size_t size, int flags) {
    static auto real = Real<int (*)(int, const char*, const void*, size_t, int)>("fsetxattr");
    const int r = real(fd, name, value, size, flags);
    NoteFd("setxattr", fd, r, " " + Escaped(name) + " " + Hex(value, size));
    return r;
}

}  // extern "C"

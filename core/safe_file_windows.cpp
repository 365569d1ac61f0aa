// safe_file's system calls on Windows. Paths arrive as UTF-8 and go to the
// system as UTF-16 in their long form (\\?\), so folders deeper than
// MAX_PATH work; reasons come back from the system as UTF-8.
#include "safe_file_windows.h"

#include "safe_file.h"

#include <cerrno>
#include <cstring>
#include <vector>

#include <sys/stat.h>
#include <windows.h>

#include <aclapi.h>

namespace safe_file {
namespace platform {

const Handle kNoHandle = INVALID_HANDLE_VALUE;
std::intptr_t ToStored(Handle handle) { return reinterpret_cast<std::intptr_t>(handle); }
Handle FromStored(std::intptr_t stored) { return reinterpret_cast<Handle>(stored); }

std::wstring Wide(const std::string& utf8) {
    if (utf8.empty()) return {};
    const int n = ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), int(utf8.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(n), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), int(utf8.size()), wide.data(), n);
    return wide;
}

std::string Utf8(const wchar_t* wide, std::size_t size) {
    if (size == 0) return {};
    const int n = ::WideCharToMultiByte(CP_UTF8, 0, wide, int(size), nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<std::size_t>(n), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, wide, int(size), utf8.data(), n, nullptr, nullptr);
    return utf8;
}

// The path as the system takes it beyond MAX_PATH: absolute, backslashes
// only, with the \\?\ (or \\?\UNC\) prefix.
std::wstring LongPath(const std::string& utf8) {
    std::wstring path = Wide(utf8);
    if (path.rfind(L"\\\\?\\", 0) == 0) return path;
    for (wchar_t& c : path)
        if (c == L'/') c = L'\\';
    const DWORD size = ::GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    if (size == 0) return path;
    std::wstring full(size, L'\0');
    const DWORD length = ::GetFullPathNameW(path.c_str(), size, full.data(), nullptr);
    if (length == 0 || length >= size) return path;
    full.resize(length);
    if (full.rfind(L"\\\\", 0) == 0) return L"\\\\?\\UNC\\" + full.substr(2);
    return L"\\\\?\\" + full;
}

std::string SystemReason(DWORD error) {
    wchar_t* text = nullptr;
    ::FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                     nullptr, error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::string reason = text ? Utf8(text, std::wcslen(text)) : "error " + std::to_string(error);
    ::LocalFree(text);
    while (!reason.empty() && (reason.back() == '\n' || reason.back() == '\r' || reason.back() == ' '))
        reason.pop_back();
    return reason;
}

DWORD Attributes(const std::string& path) { return ::GetFileAttributesW(LongPath(path).c_str()); }

bool Exists(const std::wstring& path) { return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

bool HeldOpen(const std::wstring& path, DWORD share) {
    const HANDLE file = ::CreateFileW(path.c_str(), DELETE, share, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return ::GetLastError() == ERROR_SHARING_VIOLATION;
    ::CloseHandle(file);
    return false;
}

std::string ErrnoReason(int error) { return std::strerror(error); }

std::string FolderOf(const std::string& path) {
    const auto slash = path.find_last_of("\\/");
    if (slash == std::string::npos) return ".";
    if (slash == 0) return std::string(1, kPathSeparator);
    return path.substr(0, slash);
}

// The file's final path, as the system resolves links to it; the path as
// given where that is the same file name.
bool ResolveLinks(const std::string& path, std::string& resolved, std::string& reason) {
    resolved = path;
    const std::wstring wide = LongPath(path);
    const DWORD attributes = ::GetFileAttributesW(wide.c_str());
    const bool isLink = attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
    const HANDLE file = ::CreateFileW(wide.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                      OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        if (!isLink) return true;  // no file yet: nothing to follow
        reason = "the link cannot be followed (" + SystemReason(::GetLastError()) + ")";
        return false;
    }
    std::wstring final(MAX_PATH, L'\0');
    DWORD length = ::GetFinalPathNameByHandleW(file, final.data(), DWORD(final.size()), FILE_NAME_NORMALIZED);
    if (length >= final.size()) {
        final.resize(length + 1);
        length = ::GetFinalPathNameByHandleW(file, final.data(), DWORD(final.size()), FILE_NAME_NORMALIZED);
    }
    const DWORD error = ::GetLastError();
    ::CloseHandle(file);
    if (length == 0 || length >= final.size()) {
        if (!isLink) return true;
        reason = "the link cannot be followed (" + SystemReason(error) + ")";
        return false;
    }
    final.resize(length);
    if (::CompareStringOrdinal(final.c_str(), int(final.size()), wide.c_str(), int(wide.size()), TRUE) == CSTR_EQUAL)
        return true;
    // Back to the form the user knows: without \\?\, UNC paths as \\server.
    if (final.rfind(L"\\\\?\\UNC\\", 0) == 0) final = L"\\\\" + final.substr(8);
    else if (final.rfind(L"\\\\?\\", 0) == 0) final = final.substr(4);
    resolved = Utf8(final.data(), final.size());
    return true;
}

// The file a save of path replaces; for a link whose target is missing (a
// swap cut short has it under its backup name), the path the link names.
std::string LinkTarget(const std::string& path) {
    std::string resolved, reason;
    if (ResolveLinks(path, resolved, reason)) return resolved;
    const HANDLE link = ::CreateFileW(LongPath(path).c_str(), FILE_READ_ATTRIBUTES,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                      FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (link == INVALID_HANDLE_VALUE) return path;
    std::vector<char> data(MAXIMUM_REPARSE_DATA_BUFFER_SIZE);
    DWORD size = 0;
    const bool read = ::DeviceIoControl(link, FSCTL_GET_REPARSE_POINT, nullptr, 0, data.data(), DWORD(data.size()),
                                        &size, nullptr);
    ::CloseHandle(link);
    struct SymbolicLink {  // the head of a symbolic link's reparse data
        ULONG tag;
        USHORT length, reserved, nameOffset, nameLength, printOffset, printLength;
        ULONG flags;
    } head{};
    if (!read || size < sizeof head) return path;
    std::memcpy(&head, data.data(), sizeof head);
    if (head.tag != IO_REPARSE_TAG_SYMLINK || head.printLength == 0 ||
        sizeof head + head.printOffset + head.printLength > size)
        return path;
    const std::string named =
        Utf8(reinterpret_cast<const wchar_t*>(data.data() + sizeof head + head.printOffset), head.printLength / 2);
    constexpr ULONG kRelative = 1;
    return (head.flags & kRelative) ? FolderOf(path) + kPathSeparator + named : named;
}

// Directories do not count, nor do files marked hidden or system.
bool IsRegularFile(const std::string& path) {
    const DWORD attributes = Attributes(path);
    return attributes != INVALID_FILE_ATTRIBUTES &&
           !(attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM));
}

bool IsDirectory(const std::string& path) {
    const DWORD attributes = Attributes(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

std::FILE* OpenBinary(const std::string& path) { return ::_wfopen(LongPath(path).c_str(), L"rb"); }

std::uint64_t SizeOf(std::FILE* file) {
    struct _stat64 st {};
    return ::_fstat64(::_fileno(file), &st) == 0 && st.st_size > 0 ? static_cast<std::uint64_t>(st.st_size) : 0;
}

// A file the user may not write (read-only, or denied by its ACL) is refused.
// A file another program holds open is not: the swap waits for it.
bool CheckReplaceable(const std::string& target, bool& exists, std::string& reason) {
    const DWORD attributes = Attributes(target);
    exists = attributes != INVALID_FILE_ATTRIBUTES;
    if (!exists) return true;
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
        reason = ErrnoReason(EISDIR);
        return false;
    }
    if (attributes & FILE_ATTRIBUTE_READONLY) {
        reason = SystemReason(ERROR_ACCESS_DENIED);
        return false;
    }
    const HANDLE probe = ::CreateFileW(LongPath(target).c_str(), GENERIC_WRITE,
                                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                       FILE_ATTRIBUTE_NORMAL, nullptr);
    if (probe == INVALID_HANDLE_VALUE) {
        const DWORD error = ::GetLastError();
        if (error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION) return true;
        if (error == ERROR_FILE_NOT_FOUND) return true;  // another save has it aside this moment
        reason = SystemReason(error);
        return false;
    }
    ::CloseHandle(probe);
    return true;
}

// The open handle is the lock: it shares nothing, so no other process can
// delete the file while it is written.
// The right to set its security too, so that it can get the old file's; a
// folder whose rules deny the owner that right still gets the file.
bool CreateLocked(const std::string& path, Handle& handle, bool& taken, std::string& reason) {
    const std::wstring wide = LongPath(path);
    handle = ::CreateFileW(wide.c_str(), GENERIC_WRITE | WRITE_DAC, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL,
                           nullptr);
    if (handle == INVALID_HANDLE_VALUE && ::GetLastError() == ERROR_ACCESS_DENIED)
        handle = ::CreateFileW(wide.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle != INVALID_HANDLE_VALUE) return true;
    const DWORD error = ::GetLastError();
    taken = error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS;
    reason = SystemReason(error);
    return false;
}

// What ReplaceFileW would keep of the old file, for a save that renames the
// new one over it: its attributes, creation time and access rules (DACL).
// Where the file system keeps no access rules, or refuses them, the new file
// has the folder's, as any new file there; the save goes on.
bool KeepOwnerAndMode(Handle handle, const std::string& target, std::string&) {
    const std::wstring wide = LongPath(target);
    WIN32_FILE_ATTRIBUTE_DATA old{};
    if (!::GetFileAttributesExW(wide.c_str(), GetFileExInfoStandard, &old)) return true;
    FILE_BASIC_INFO basic{};  // zero times and attributes stay as they are
    basic.CreationTime.LowPart = old.ftCreationTime.dwLowDateTime;
    basic.CreationTime.HighPart = LONG(old.ftCreationTime.dwHighDateTime);
    basic.FileAttributes = old.dwFileAttributes &
                           (FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                            FILE_ATTRIBUTE_NOT_CONTENT_INDEXED);
    ::SetFileInformationByHandle(handle, FileBasicInfo, &basic, sizeof basic);
    PACL dacl = nullptr, newDacl = nullptr;
    PSECURITY_DESCRIPTOR security = nullptr, newSecurity = nullptr;
    if (::GetNamedSecurityInfoW(wide.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &dacl,
                                nullptr, &security) != ERROR_SUCCESS)
        return true;
    SECURITY_DESCRIPTOR_CONTROL control = 0, newControl = 0;
    DWORD revision = 0;
    ::GetSecurityDescriptorControl(security, &control, &revision);
    // Rules the new file has already (the folder's, as a rule) are not set
    // again: under Wine that call can fail hard (see docs/saving.md).
    const bool same = dacl &&
                      ::GetSecurityInfo(handle, SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &newDacl,
                                        nullptr, &newSecurity) == ERROR_SUCCESS &&
                      newDacl && ::GetSecurityDescriptorControl(newSecurity, &newControl, &revision) &&
                      ((control ^ newControl) & SE_DACL_PROTECTED) == 0 && dacl->AclSize == newDacl->AclSize &&
                      std::memcmp(dacl, newDacl, dacl->AclSize) == 0;
    if (dacl && !same)
        ::SetSecurityInfo(handle, SE_FILE_OBJECT,
                          DACL_SECURITY_INFORMATION | ((control & SE_DACL_PROTECTED) ? PROTECTED_DACL_SECURITY_INFORMATION
                                                                                     : UNPROTECTED_DACL_SECURITY_INFORMATION),
                          nullptr, nullptr, dacl, nullptr);
    ::LocalFree(security);
    ::LocalFree(newSecurity);
    return true;
}

bool WriteSome(Handle handle, const char* data, std::size_t size, std::size_t& written, std::string& reason) {
    DWORD n = 0;
    const DWORD ask = size > 0x40000000 ? 0x40000000 : static_cast<DWORD>(size);
    if (!::WriteFile(handle, data, ask, &n, nullptr)) {
        reason = SystemReason(::GetLastError());
        return false;
    }
    written = n;
    return true;
}

void CloseQuietly(Handle handle) { ::CloseHandle(handle); }

// MOVEFILE_WRITE_THROUGH and ReplaceFileW see to it.
bool SyncFolder(const std::string&, std::string&) { return true; }

void Remove(const std::string& path) { ::DeleteFileW(LongPath(path).c_str()); }

long ProcessId() { return static_cast<long>(::GetCurrentProcessId()); }

void ForEachEntry(const std::string& folder, const std::function<void(const std::string& name)>& visit) {
    WIN32_FIND_DATAW found{};
    const HANDLE search = ::FindFirstFileW((LongPath(folder) + L"\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return;
    do {
        visit(Utf8(found.cFileName, std::wcslen(found.cFileName)));
    } while (::FindNextFileW(search, &found));
    ::FindClose(search);
}

// A writer's handle shares nothing, so this open fails while it writes, and
// a writer holds its file until it has the swap turn, under which leftovers
// are removed: a file that opens here was left by a save that was killed.
// A read-only one is the only copy of a save that could not be swapped in
// (KeepAside): never removed.
void RemoveIfAbandoned(const std::string& path) {
    const HANDLE file = ::CreateFileW(LongPath(path).c_str(), DELETE | FILE_READ_ATTRIBUTES, 0, nullptr, OPEN_EXISTING,
                                      FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    FILE_BASIC_INFO basic{};
    if (::GetFileInformationByHandleEx(file, FileBasicInfo, &basic, sizeof basic) &&
        !(basic.FileAttributes & FILE_ATTRIBUTE_READONLY)) {
        FILE_DISPOSITION_INFO disposition{TRUE};
        ::SetFileInformationByHandle(file, FileDispositionInfo, &disposition, sizeof disposition);
    }
    ::CloseHandle(file);
}

}  // namespace platform
}  // namespace safe_file

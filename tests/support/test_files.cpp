#include "test_files.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include <random>

#ifdef _WIN32
#include <windows.h>
#else
#include <grp.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace fs = std::filesystem;

fs::path Fs(const std::string& path) {
#ifdef _WIN32
    return fs::path(std::u8string(path.begin(), path.end()));
#else
    return fs::path(path);
#endif
}

ScratchFolder::ScratchFolder() {
#ifdef _WIN32
    std::random_device random;
    for (;;) {
        const fs::path candidate = fs::temp_directory_path() / ("tarvenor-test-" + std::to_string(random()));
        if (fs::create_directory(candidate)) {
            const std::u8string utf8 = candidate.u8string();
            path_.assign(utf8.begin(), utf8.end());
            break;
        }
    }
#else
    std::string pattern = (fs::temp_directory_path() / "tarvenor-test-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
    // Children that drop their privileges must still reach the files inside.
    ::chmod(path_.c_str(), 0755);
#endif
}

ScratchFolder::~ScratchFolder() {
    std::error_code ec;
    // Give back write permission to whatever a test locked, then remove all.
    for (auto it = fs::recursive_directory_iterator(Fs(path_), ec); !ec && it != fs::recursive_directory_iterator();
         it.increment(ec)) {
        if (!it->is_symlink()) fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
    }
    fs::remove_all(Fs(path_), ec);
}

std::vector<std::string> ScratchFolder::Entries(const std::string& sub) const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(Fs(sub.empty() ? path_ : *this / sub)))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

std::string ReadBytes(const std::string& path) {
    std::ifstream in(Fs(path), std::ios::binary);
    if (!in) return "<missing>";
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteBytes(const std::string& path, const std::string& bytes) {
    std::ofstream out(Fs(path), std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out.flush()) throw std::runtime_error("cannot write " + path);
}

void MakeFolder(const std::string& path) { fs::create_directories(Fs(path)); }

bool RunningUnderWine() {
#ifdef _WIN32
    const HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
    return ntdll && ::GetProcAddress(ntdll, "wine_get_version");
#else
    return false;
#endif
}

#ifndef _WIN32
bool RunInChild(const ChildLimits& limits, const std::function<bool()>& body) {
    const pid_t pid = ::fork();
    if (pid < 0) return false;
    if (pid == 0) {
        if (limits.unprivileged && ::geteuid() == 0) {
            constexpr uid_t kNobody = 65534;
            std::vector<gid_t> groups;
            if (limits.extraGroup >= 0) groups.push_back(static_cast<gid_t>(limits.extraGroup));
            if (::setgroups(groups.size(), groups.data()) != 0 || ::setgid(kNobody) != 0 || ::setuid(kNobody) != 0)
                ::_exit(3);
        }
        auto limit = [](int resource, long long bytes) {
            const rlimit value{static_cast<rlim_t>(bytes), static_cast<rlim_t>(bytes)};
            if (bytes >= 0 && ::setrlimit(resource, &value) != 0) ::_exit(4);
        };
        limit(RLIMIT_FSIZE, limits.fileSizeLimit);
        limit(RLIMIT_AS, limits.memoryLimit);
        ::_exit(body() ? 0 : 1);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}
#endif

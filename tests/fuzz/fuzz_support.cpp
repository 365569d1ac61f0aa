#include "fuzz_support.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include <unistd.h>

const std::string& FuzzFolder() {
    static const std::string folder = [] {
        // Memory-backed where there is such a folder: every save syncs to disk.
        const std::filesystem::path base =
            std::filesystem::is_directory("/dev/shm") ? "/dev/shm" : std::filesystem::temp_directory_path();
        auto path = base / ("tarvenor-fuzz-" + std::to_string(::getpid()));
        std::filesystem::create_directories(path / "data");
        return path.string();
    }();
    return folder;
}

RulesDocument LoadBytes(const std::string& bytes) {
    RulesDocument doc(FuzzFolder());
    std::FILE* out = std::fopen(doc.RulesPath().c_str(), "wb");
    if (!out || std::fwrite(bytes.data(), 1, bytes.size(), out) != bytes.size() || std::fclose(out) != 0) std::abort();
    std::string error;
    bool wideText = false;
    if (!doc.Load({}, {}, error, &wideText) && !wideText) {
        std::fprintf(stderr, "load failed: %s\n", error.c_str());
        std::abort();
    }
    return doc;
}

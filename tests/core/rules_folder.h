// A scratch program folder for one rules document, and small helpers.
#pragma once

#include "rules_document.h"

#include "test_files.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

inline const std::string kOnDisk = "    <ATTACK>7</ATTACK>\r\n    <TYPENAME>Old</TYPENAME>\r\n";

// A document whose file lies at folder/data/unitrules.xml.
struct RulesFolder {
    ScratchFolder folder;
    std::string file;
    RulesFolder() {
        MakeFolder(folder / "data");
        file = Document().RulesPath();
    }
    RulesDocument Document() const { return RulesDocument(folder.path()); }
    // Writes bytes to the file and loads a document from it.
    RulesDocument Loaded(const std::string& bytes = kOnDisk) const {
        WriteBytes(file, bytes);
        RulesDocument doc = Document();
        std::string error;
        if (!doc.Load({}, {}, error)) ADD_FAILURE() << error;
        return doc;
    }
};

inline std::vector<std::string> LinesOf(const RulesDocument& doc) {
    std::vector<std::string> lines;
    for (std::size_t i = 0; i < doc.LineCount(); ++i) lines.emplace_back(doc.Line(i));
    return lines;
}

inline bool LoadQuietly(RulesDocument& doc) {
    std::string error;
    return doc.Load({}, {}, error);
}

#include "safe_file.h"

// Swap faults for one test, lifted again at its end.
struct SwapFaultsFor {
    explicit SwapFaultsFor(const safe_file::SwapFaults& faults) { safe_file::SetSwapFaultsForTesting(faults); }
    ~SwapFaultsFor() { safe_file::SetSwapFaultsForTesting({}); }
};

#ifdef _WIN32
#include <windows.h>

// Moves a file's last-write time back by so many seconds.
inline void SetLastWrite(const std::string& path, unsigned secondsAgo) {
    const HANDLE file = ::CreateFileW(Fs(path).wstring().c_str(), FILE_WRITE_ATTRIBUTES,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                      0, nullptr);
    FILETIME now{};
    ::GetSystemTimeAsFileTime(&now);
    ULARGE_INTEGER then{{now.dwLowDateTime, now.dwHighDateTime}};
    then.QuadPart -= secondsAgo * 10'000'000ull;
    const FILETIME written{then.LowPart, then.HighPart};
    ::SetFileTime(file, nullptr, nullptr, &written);
    ::CloseHandle(file);
}
#endif

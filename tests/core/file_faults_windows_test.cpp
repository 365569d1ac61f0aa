// File faults as Windows shows them: the read-only attribute, files marked
// hidden or system, a replace that fails half-way, paths beyond MAX_PATH,
// and the system's reasons in the user's language.
#include "rules_document.h"

#include "rules_folder.h"
#include "test_files.h"

#include <gtest/gtest.h>

#include "safe_file.h"

#include <thread>
#include <vector>

#include <windows.h>

#include <sddl.h>

namespace {

bool ValidUtf8(const std::string& text) {
    return text.empty() || ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), int(text.size()),
                                                 nullptr, 0) > 0;
}


// Saves swap in turn and a writer holds its file until it has the turn: an
// unheld one is a leftover however recently written, unless read-only.
TEST(SaveReplacement, RemovesOnlyLeftoversThatAreUnheld) {
    RulesFolder rules;
    RulesDocument doc = rules.Loaded();
    const std::string held = ".unitrules.xml.saving-4242-0", fresh = ".unitrules.xml.saving-4242-1",
                      stale = ".unitrules.xml.saving-4242-2", onlyCopy = ".unitrules.xml.saving-4242-3";
    for (const auto& name : {held, fresh, stale, onlyCopy}) WriteBytes(rules.folder / ("data/" + name), "half a save");
    // A writer holds its file open, sharing nothing.
    const HANDLE writer = ::CreateFileW(Fs(rules.folder / ("data/" + held)).wstring().c_str(), GENERIC_WRITE, 0, nullptr,
                                        OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(writer, INVALID_HANDLE_VALUE);
    // A save killed an hour ago; the held one was last written then too.
    const HANDLE old = ::CreateFileW(Fs(rules.folder / ("data/" + stale)).wstring().c_str(), FILE_WRITE_ATTRIBUTES,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                     0, nullptr);
    FILETIME now{};
    ::GetSystemTimeAsFileTime(&now);
    ULARGE_INTEGER hourAgo{{now.dwLowDateTime, now.dwHighDateTime}};
    hourAgo.QuadPart -= 3600ull * 10'000'000;
    const FILETIME then{hourAgo.LowPart, hourAgo.HighPart};
    ::SetFileTime(old, nullptr, nullptr, &then);
    ::SetFileTime(writer, nullptr, nullptr, &then);
    ::CloseHandle(old);
    // A save that could not swap its file in, nor move or copy it aside,
    // marked it read-only as the only copy of its lines.
    SetLastWrite(rules.folder / ("data/" + onlyCopy), 3600);
    ::SetFileAttributesW(Fs(rules.folder / ("data/" + onlyCopy)).wstring().c_str(), FILE_ATTRIBUTE_READONLY);

    std::string error;
    ASSERT_TRUE(doc.Save({}, error)) << error;
    EXPECT_EQ(rules.folder.Entries("data"), (std::vector<std::string>{held, onlyCopy, "unitrules.xml"}));
    ::CloseHandle(writer);
    ::SetFileAttributesW(Fs(rules.folder / ("data/" + onlyCopy)).wstring().c_str(), FILE_ATTRIBUTE_NORMAL);
}

// A folder so deep that the rules file's path runs past MAX_PATH.
TEST(LongPaths, LoadAndSaveBeyondMaxPath) {
    RulesFolder rules;
    std::wstring deep = L"\\\\?\\" + Fs(rules.folder.path()).wstring();
    for (auto& c : deep)
        if (c == L'/') c = L'\\';
    std::string program = rules.folder.path();
    std::vector<std::wstring> made;
    while (program.size() < 300) {
        const std::string part = "a-rather-long-folder-name-" + std::to_string(made.size());
        program += "\\" + part;
        deep += L"\\" + std::wstring(part.begin(), part.end());
        ASSERT_TRUE(::CreateDirectoryW(deep.c_str(), nullptr));
        made.push_back(deep);
    }
    const std::wstring data = deep + L"\\data", file = data + L"\\unitrules.xml";
    ASSERT_TRUE(::CreateDirectoryW(data.c_str(), nullptr));
    const HANDLE out = ::CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
    ASSERT_NE(out, INVALID_HANDLE_VALUE);
    DWORD written = 0;
    ::WriteFile(out, kOnDisk.data(), DWORD(kOnDisk.size()), &written, nullptr);
    ::CloseHandle(out);

    RulesDocument doc(program);
    EXPECT_TRUE(doc.Exists());
    std::string error;
    ASSERT_TRUE(doc.Load({}, {}, error)) << error;
    ASSERT_EQ(doc.LineCount(), 2u);
    doc.SetLine(0, "    <ATTACK>8</ATTACK>");
    ASSERT_TRUE(doc.Save({}, error)) << error;
    RulesDocument again(program);
    ASSERT_TRUE(again.Load({}, {}, error)) << error;
    EXPECT_EQ(LinesOf(again), LinesOf(doc));

    ::DeleteFileW(file.c_str());
    ::RemoveDirectoryW(data.c_str());
    for (auto it = made.rbegin(); it != made.rend(); ++it) ::RemoveDirectoryW(it->c_str());
}

// The system's reasons come back as UTF-8, as does the path: ctest runs this
// once more under a French locale, whose reasons go beyond ASCII.
TEST(Reasons, AreUtf8InTheUsersLanguage) {
    ScratchFolder folder;
    const std::string program = folder / "données-数据";
    MakeFolder(program + "/data");
    MakeFolder(program + "/data/unitrules.xml");  // a folder where the file should be
    RulesDocument doc(program);
    std::string error;
    ASSERT_FALSE(doc.Load({}, {}, error));
    EXPECT_TRUE(ValidUtf8(error)) << error;
    EXPECT_EQ(error.find(doc.RulesPath()), 0u);
    RulesFolder rules;
    RulesDocument readOnly = rules.Loaded();
    ::SetFileAttributesW(Fs(rules.file).wstring().c_str(), FILE_ATTRIBUTE_READONLY);
    EXPECT_FALSE(readOnly.Save({}, error));
    ::SetFileAttributesW(Fs(rules.file).wstring().c_str(), FILE_ATTRIBUTE_NORMAL);
    EXPECT_TRUE(ValidUtf8(error)) << error;
    EXPECT_EQ(error.find(rules.file + ": "), 0u);
    EXPECT_GT(error.size(), rules.file.size() + 2);
    std::printf("reason given: %s\n", error.c_str());
}

std::wstring WideOf(const std::string& path) { return Fs(path).wstring(); }

TEST(FailedSave, OfAReadOnlyFileKeepsFileAndLines) {
    RulesFolder rules;
    RulesDocument doc = rules.Loaded();
    doc.SetLine(0, "    <ATTACK>8</ATTACK>");
    const auto edited = LinesOf(doc);
    ASSERT_TRUE(::SetFileAttributesW(WideOf(rules.file).c_str(), FILE_ATTRIBUTE_READONLY));

    std::string error;
    EXPECT_FALSE(doc.Save({}, error));
    EXPECT_EQ(error.find(rules.file + ": "), 0u) << error;
    EXPECT_GT(error.size(), rules.file.size() + 2) << "no reason given";
    EXPECT_EQ(ReadBytes(rules.file), kOnDisk);
    EXPECT_EQ(LinesOf(doc), edited);
    EXPECT_EQ(rules.folder.Entries("data"), std::vector<std::string>{"unitrules.xml"});

    ::SetFileAttributesW(WideOf(rules.file).c_str(), FILE_ATTRIBUTE_NORMAL);
    ASSERT_TRUE(doc.Save({}, error)) << error;
    EXPECT_EQ(ReadBytes(rules.file), "    <ATTACK>8</ATTACK>\r\n    <TYPENAME>Old</TYPENAME>\r\n");
}

// A lock file that no one can open (here a folder under its name; a leftover
// of another user's, after a power cut, is the same) is named at once, not
// taken for another editor's save after a long wait.
TEST(FailedSave, WhereTheLockFileCannotBeOpenedNamesIt) {
    RulesFolder rules;
    RulesDocument doc = rules.Loaded();
    doc.SetLine(0, "    <ATTACK>8</ATTACK>");
    const std::string lock = rules.file.substr(0, rules.file.size() - 13) + ".unitrules.xml.lock";
    MakeFolder(lock);
    const ULONGLONG start = ::GetTickCount64();
    std::string error;
    EXPECT_FALSE(doc.Save({}, error));
    EXPECT_LT(::GetTickCount64() - start, 5000u);
    EXPECT_EQ(error.find(rules.file + ": the lock file " + lock + ", by which saves take turns, cannot be opened ("),
              0u) << error;
    EXPECT_EQ(ReadBytes(rules.file), kOnDisk);
    // A start that finds the old file aside by a swap cut short says so too, instead of calling it missing.
    const std::string backup = lock.substr(0, lock.size() - 4) + "replaced-4242-0";
    ::MoveFileW(WideOf(rules.file).c_str(), WideOf(backup).c_str());
    EXPECT_FALSE(rules.Document().RestoreInterruptedSave({}, &error));
    EXPECT_EQ(error.find(rules.file + ": the file is missing while the lock file " + lock), 0u) << error;
    ::DeleteFileW(WideOf(backup).c_str());
    std::string missing;  // with no backup the file is just missing
    EXPECT_FALSE(rules.Document().RestoreInterruptedSave({}, &missing));
    EXPECT_EQ(missing, "");
}

// The lock file denied for a moment (a folder under its name here, as a file
// being deleted is), then another save's turn for over a second, then denied
// for a moment again: each denial's allowance counts from its own start, and
// the save lands.
TEST(FailedSave, ALockFileDeniedForAMomentAfterALongWaitIsWaitedFor) {
    RulesFolder rules;
    RulesDocument doc = rules.Loaded();
    const std::wstring lock = WideOf(rules.file.substr(0, rules.file.size() - 13) + ".unitrules.xml.lock");
    ::CreateDirectoryW(lock.c_str(), nullptr);
    std::thread turnEnds([&] {
        ::Sleep(100);
        ::RemoveDirectoryW(lock.c_str());
        const HANDLE otherSave =
            ::CreateFileW(lock.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_FLAG_DELETE_ON_CLOSE, nullptr);
        ::Sleep(1500);
        ::CloseHandle(otherSave);
        ::CreateDirectoryW(lock.c_str(), nullptr);
        ::Sleep(300);
        ::RemoveDirectoryW(lock.c_str());
    });
    std::string error;
    EXPECT_TRUE(doc.Save({}, error)) << error;
    turnEnds.join();
}

// What ReplaceFileW would keep of the old file, kept by a save that renames
// the new one over it: attributes and the access rules set on the file.
// Wine keeps no access rules of its own on a file, nor every attribute.
TEST(SavedFile, KeepsTheOldFilesAttributesAndAccessRules) {
    RulesFolder rules;
    RulesDocument doc = rules.Loaded();
    const std::wstring file = WideOf(rules.file);
    const DWORD marks = FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                        (RunningUnderWine() ? 0 : FILE_ATTRIBUTE_NOT_CONTENT_INDEXED);
    const wchar_t* const accessRules = L"D:P(A;;FA;;;WD)(A;;FR;;;BU)";
    PSECURITY_DESCRIPTOR rulesOfOld = nullptr;
    ASSERT_TRUE(::ConvertStringSecurityDescriptorToSecurityDescriptorW(accessRules, SDDL_REVISION_1, &rulesOfOld,
                                                                       nullptr));
    ASSERT_TRUE(::SetFileSecurityW(file.c_str(), DACL_SECURITY_INFORMATION, rulesOfOld));
    ::LocalFree(rulesOfOld);
    ASSERT_TRUE(::SetFileAttributesW(file.c_str(), marks));
    std::string error;
    ASSERT_TRUE(doc.Save({}, error)) << error;
    EXPECT_EQ(::GetFileAttributesW(file.c_str()), marks);
    EXPECT_EQ(ReadBytes(rules.file), LinesOf(doc)[0] + "\r\n" + LinesOf(doc)[1] + "\r\n");
    ::SetFileAttributesW(file.c_str(), FILE_ATTRIBUTE_NORMAL);
    if (RunningUnderWine()) return;
    DWORD size = 0;
    ::GetFileSecurityW(file.c_str(), DACL_SECURITY_INFORMATION, nullptr, 0, &size);
    std::vector<char> saved(size);
    ASSERT_TRUE(::GetFileSecurityW(file.c_str(), DACL_SECURITY_INFORMATION, saved.data(), size, &size));
    wchar_t* text = nullptr;
    ASSERT_TRUE(::ConvertSecurityDescriptorToStringSecurityDescriptorW(saved.data(), SDDL_REVISION_1,
                                                                       DACL_SECURITY_INFORMATION, &text, nullptr));
    EXPECT_EQ(std::wstring(text), accessRules);
    ::LocalFree(text);
}

TEST(Exists, HiddenOrSystemFilesDoNotCount) {
    RulesFolder rules;
    WriteBytes(rules.file, kOnDisk);
    EXPECT_TRUE(rules.Document().Exists());
    for (DWORD mark : {DWORD(FILE_ATTRIBUTE_HIDDEN), DWORD(FILE_ATTRIBUTE_SYSTEM)}) {
        ::SetFileAttributesW(WideOf(rules.file).c_str(), mark);
        EXPECT_FALSE(rules.Document().Exists());
    }
    ::SetFileAttributesW(WideOf(rules.file).c_str(), FILE_ATTRIBUTE_NORMAL);
}

}  // namespace

// Windows saves that meet other saves and kills: a second editor saving
// while the first has the old file aside, editors killed while the rules
// file has no name, many editors saving at once. No save undoes another,
// every message is true, the next start finds a whole file, and backups
// left behind go at the next save.
#include "rules_document.h"

#include "rules_folder.h"
#include "test_files.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <atomic>
#include <set>
#include <thread>
#include <vector>

#include <windows.h>

namespace {

const std::string kSavedByA = "    <ATTACK>8</ATTACK>\r\n    <TYPENAME>Old</TYPENAME>\r\n";

bool Exists(const std::string& path) {
    return ::GetFileAttributesW(Fs(path).wstring().c_str()) != INVALID_FILE_ATTRIBUTES;
}

// The data folder's entries whose names begin with prefix.
std::vector<std::string> EntriesStarting(const RulesFolder& rules, const std::string& prefix) {
    std::vector<std::string> found;
    for (const auto& name : rules.folder.Entries("data"))
        if (name.rfind(prefix, 0) == 0) found.push_back(name);
    return found;
}

void WaitFor(const auto& condition) { for (int pause = 0; pause < 20000 && !condition(); ++pause) ::Sleep(1); }

// X's ReplaceFileW has the old file aside (held till now by a program, in one row)
// while Y saves, and in the other Z, which then waits with the rules file aside
// till X is done. X's backup outlives their saves; no save reported done is undone.
class Interleaved : public ::testing::TestWithParam<bool> {};

TEST_P(Interleaved, NoSaveIsUndoneNorABackupRemovedMidSwap) {
    RulesFolder rules;
    RulesDocument docs[] = {rules.Loaded(), rules.Loaded(), rules.Loaded()};
    for (int i = 0; i < 3; ++i) docs[i].SetLine(0, "    <ATTACK>" + std::to_string(i) + "</ATTACK>");
    std::atomic<int> passes[3] = {};  // the saves' passes for the window's events, 100 more once done
    bool saved[3] = {};
    std::string errors[3];
    std::thread others[3];
    const HANDLE program = GetParam() ? ::CreateFileW(Fs(rules.file).wstring().c_str(), GENERIC_READ,
                                                      FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, 0, nullptr)
                                      : INVALID_HANDLE_VALUE;
    const DWORD xThread = ::GetCurrentThreadId();
    int backupKept = -1;
    const auto aside = [&] {
        if (::GetCurrentThreadId() != xThread) return WaitFor([&] { return passes[0] >= 100; });
        if (backupKept >= 0) return;
        ::CloseHandle(program);
        const auto backups = EntriesStarting(rules, ".unitrules.xml.replaced-");
        for (int i = 1; i < (GetParam() ? 2 : 3); ++i) {
            others[i] = std::thread([&, i] {
                saved[i] = docs[i].Save({{}, [&, i] { ++passes[i]; }}, errors[i]);
                passes[i] += 100;
            });
            WaitFor([&] { return passes[i] > 2; });  // done, or waiting after its two lines
        }
        backupKept = backups.size() == 1 && Exists(rules.folder / ("data/" + backups[0]));
    };
    {
        SwapFaultsFor hook({.replaceError = ERROR_UNABLE_TO_MOVE_REPLACEMENT_2, .replaceFailures = 9, .swapBegins = {},
                            .renameError = ERROR_INVALID_PARAMETER, .renameFailures = 1 << 30, .oldMovedAway = aside});
        saved[0] = docs[0].Save({}, errors[0]);
        passes[0] += 100;
        for (auto& other : others)
            if (other.joinable()) other.join();
    }
    EXPECT_EQ(backupKept, 1) << "X's backup went while X's save was under way";
    EXPECT_NE(ReadBytes(rules.file) == kOnDisk, saved[0] || saved[1] || saved[2])
        << errors[0] << errors[1] << errors[2];
}

INSTANTIATE_TEST_SUITE_P(Windows, Interleaved, ::testing::Bool(), [](const auto& info) {
    return std::string(info.param ? "CleanUpWhileASaveHasItsFileAside" : "GiveBackAfterAnotherLanded");
});

// --- other editors: this program run again in a child process ---------------

// The child: saves the rules file under the folder in TARVENOR_SWAP_CHILD
// with ReplaceFileW (TARVENOR_SWAP_CHILD_ONE_STEP: in one step where the
// system can), again and again; with TARVENOR_SWAP_CHILD_STALL it stops
// for good the first time the old file is aside. Exits with the number of
// saves that failed. Skipped when run as a test of its own.
TEST(SwapChild, Saves) {
    const char* folder = std::getenv("TARVENOR_SWAP_CHILD");
    if (!folder) GTEST_SKIP() << "run by the tests below";
    const int saves = std::atoi(std::getenv("TARVENOR_SWAP_CHILD_SAVES"));
    const bool stall = std::getenv("TARVENOR_SWAP_CHILD_STALL") != nullptr;
    RulesDocument doc(folder);
    std::string error;
    // Another editor's save may have the old file aside at this moment.
    for (int tries = 0; !doc.Load({}, {}, error); ++tries) {
        if (tries == 1000) std::exit(100);
        ::Sleep(1);
    }
    const std::string attack = "    <ATTACK>" + std::to_string(::GetCurrentProcessId()) + "</ATTACK><!--";
    safe_file::SwapFaults faults;
    faults.renameError = ERROR_INVALID_PARAMETER;
    faults.renameFailures = std::getenv("TARVENOR_SWAP_CHILD_ONE_STEP") ? 0 : 1 << 30;
    if (stall) {
        faults.replaceError = ERROR_UNABLE_TO_MOVE_REPLACEMENT_2;
        faults.replaceFailures = 1;
        faults.oldMovedAway = [] { ::Sleep(INFINITE); };
    }
    safe_file::SetSwapFaultsForTesting(faults);
    int failed = 0;
    for (int save = 0; save < saves; ++save)
        if (doc.SetLine(0, attack + std::to_string(save) + "-->"); !doc.Save({}, error)) {  // a version of its own
            ++failed;
            std::fprintf(stderr, "%s\n", error.c_str());
        }
    std::exit(failed);
}

struct Child {
    PROCESS_INFORMATION process{};
    bool started = false;
};

Child StartChild(const std::string& folder, int saves, bool stall) {
    ::SetEnvironmentVariableW(L"TARVENOR_SWAP_CHILD", Fs(folder).wstring().c_str());
    ::SetEnvironmentVariableW(L"TARVENOR_SWAP_CHILD_SAVES", std::to_wstring(saves).c_str());
    ::SetEnvironmentVariableW(L"TARVENOR_SWAP_CHILD_STALL", stall ? L"1" : nullptr);
    wchar_t exe[MAX_PATH];
    ::GetModuleFileNameW(nullptr, exe, MAX_PATH);
    std::wstring command = L"\"" + std::wstring(exe) + L"\" --gtest_filter=SwapChild.Saves";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    Child child;
    child.started = ::CreateProcessW(exe, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                                     &child.process);
    ::SetEnvironmentVariableW(L"TARVENOR_SWAP_CHILD", nullptr);
    ::SetEnvironmentVariableW(L"TARVENOR_SWAP_CHILD_STALL", nullptr);
    return child;
}

DWORD Finish(Child& child) {
    ::WaitForSingleObject(child.process.hProcess, INFINITE);
    DWORD code = 0;
    ::GetExitCodeProcess(child.process.hProcess, &code);
    ::CloseHandle(child.process.hThread);
    ::CloseHandle(child.process.hProcess);
    return code;
}

// A rules file of about 2 MB; the editors change its first line.
std::string LargeRules(const std::string& attack) {
    std::string bytes = "    <ATTACK>" + attack + "</ATTACK>\r\n";
    while (bytes.size() < (2u << 20)) bytes += "    <TYPENAME>Unit " + std::to_string(bytes.size()) + "</TYPENAME>\r\n";
    return bytes;
}

// Ten editors killed the moment the old file's backup name appears in the
// folder, watched from here: in even rounds each stops with the old file
// aside, in odd ones ReplaceFileW runs as it does. Each next start finds a
// whole rules file, old or new, and no reason to warn.
TEST(KilledSave, TheNextStartFindsAWholeFile) {
    RulesFolder rules;
    for (int round = 0; round < 10; ++round) {
        const std::string old = LargeRules("7");
        WriteBytes(rules.file, old);
        Child child = StartChild(rules.folder.path(), 1000, round % 2 == 0);
        ASSERT_TRUE(child.started);
        const ULONGLONG until = ::GetTickCount64() + 60000;
        while (EntriesStarting(rules, ".unitrules.xml.replaced-").empty() && ::GetTickCount64() < until) ::Sleep(0);
        ::TerminateProcess(child.process.hProcess, 9);
        Finish(child);

        RulesDocument next = rules.Document();
        const bool restored = next.RestoreInterruptedSave();
        if (round % 2 == 0) {
            EXPECT_TRUE(restored) << "round " << round;
        }
        ASSERT_TRUE(next.Exists()) << "round " << round << ": the start would warn";
        const std::string bytes = ReadBytes(rules.file);
        const std::string saved = "    <ATTACK>" + std::to_string(child.process.dwProcessId) + "</ATTACK><!--";
        EXPECT_TRUE(bytes == old || (bytes.rfind(saved, 0) == 0 && bytes.ends_with(old.substr(old.find("\r\n")))))
            << "round " << round << ": not a whole file";
        std::string error;
        ASSERT_TRUE(next.Load({}, {}, error)) << error;
        ASSERT_TRUE(next.Save({}, error)) << error;
        EXPECT_TRUE(EntriesStarting(rules, ".unitrules.xml.replaced-").empty()) << "round " << round;
    }
}

// A backup that another program holds when the save that made it ends, and
// one a save killed with the rules file in place left: the save after them
// removes both, once nothing holds them.
TEST(Backups, LeftoversGoAtTheNextSave) {
    RulesFolder rules;
    RulesDocument doc = rules.Loaded();
    const std::string held = rules.folder / "data/.unitrules.xml.replaced-4242-0";
    const std::string left = rules.folder / "data/.unitrules.xml.replaced-4242-1";
    WriteBytes(held, kOnDisk);
    WriteBytes(left, kOnDisk);
    const HANDLE scanner = ::CreateFileW(Fs(held).wstring().c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                         OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(scanner, INVALID_HANDLE_VALUE);
    std::string error;
    ASSERT_TRUE(doc.Save({}, error)) << error;
    EXPECT_TRUE(Exists(held));
    EXPECT_FALSE(Exists(left));
    ::CloseHandle(scanner);
    ASSERT_TRUE(doc.Save({}, error)) << error;
    EXPECT_EQ(rules.folder.Entries("data"), std::vector<std::string>{"unitrules.xml"});
}

// The rules file is missing: only a backup beside the new file of its swap (a kill
// between the renames) gets the name back; a backup alone means the user removed it.
TEST(Backups, OnlyAnInterruptedSwapGetsTheMissingRulesNameAtStart) {
    RulesFolder rules;
    const std::string older = rules.folder / "data/.unitrules.xml.replaced-4242-0";
    const std::string newer = rules.folder / "data/.unitrules.xml.replaced-4243-0";
    WriteBytes(older, "older");
    SetLastWrite(older, 3600);
    WriteBytes(newer, kOnDisk);
    EXPECT_FALSE(rules.Document().RestoreInterruptedSave());
    EXPECT_FALSE(Exists(rules.file));
    const std::string newFile = rules.folder / "data/.unitrules.xml.saving-4243-0";
    WriteBytes(newFile, kSavedByA);
    const HANDLE writer =
        ::CreateFileW(Fs(newFile).wstring().c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_FALSE(rules.Document().RestoreInterruptedSave()) << "a live save's new file is no half of a swap";
    ::CloseHandle(writer);
    EXPECT_TRUE(rules.Document().RestoreInterruptedSave());
    EXPECT_EQ(ReadBytes(rules.file), kOnDisk);
    EXPECT_FALSE(Exists(newer));
    EXPECT_EQ(ReadBytes(older), "older");
    // Each save's names are its own, even two saves of one process: a process id comes back.
    std::set<std::string> newFiles;
    RulesDocument doc = rules.Loaded();
    SwapFaultsFor hook({.swapBegins = [&](const std::string& temp) { newFiles.insert(temp); }});
    std::string error;
    for (int save = 0; save < 2; ++save) EXPECT_TRUE(doc.Save({}, error)) << error;
    EXPECT_EQ(newFiles.size(), 2u);
}

// A rules file installed with an old time stamp (unpacked from an archive),
// a backup left from an earlier save, and a save killed with the rules file
// aside: the start gives the name back to the file that had it last, not to
// the leftover that was written later.
TEST(Backups, TheFileThatHadTheNameLastGetsItBackAtStart) {
    RulesFolder rules;
    const std::string installed = "    <ATTACK>7</ATTACK>\r\n    <TYPENAME>Installed</TYPENAME>\r\n";
    WriteBytes(rules.file, installed);
    SetLastWrite(rules.file, 3 * 365 * 86400);
    const std::string leftover = rules.folder / "data/.unitrules.xml.replaced-4242-0";
    WriteBytes(leftover, "    <ATTACK>7</ATTACK>\r\n    <TYPENAME>Leftover</TYPENAME>\r\n");
    SetLastWrite(leftover, 3600);
    Child child = StartChild(rules.folder.path(), 1, true);
    ASSERT_TRUE(child.started);
    const ULONGLONG until = ::GetTickCount64() + 60000;
    while (Exists(rules.file) && ::GetTickCount64() < until) ::Sleep(0);  // the child stalls with it aside
    ::TerminateProcess(child.process.hProcess, 9);
    Finish(child);
    ASSERT_FALSE(Exists(rules.file));

    EXPECT_TRUE(rules.Document().RestoreInterruptedSave());
    EXPECT_EQ(ReadBytes(rules.file), installed);
}

// The same, with the save still running: while it holds the rules file
// aside, an editor that starts puts nothing in its place, not even a
// leftover written after the held file.
TEST(Backups, NoneGetsTheNameAtStartWhileASaveHoldsTheFileAside) {
    RulesFolder rules;
    RulesDocument doc = rules.Loaded();
    SetLastWrite(rules.file, 3 * 365 * 86400);
    doc.SetLine(0, "    <ATTACK>8</ATTACK>");
    const std::string leftover = rules.folder / "data/.unitrules.xml.replaced-4242-0";
    WriteBytes(leftover, "    <ATTACK>7</ATTACK>\r\n    <TYPENAME>Leftover</TYPENAME>\r\n");
    SetLastWrite(leftover, 3600);
    safe_file::SwapFaults faults;
    faults.renameError = ERROR_INVALID_PARAMETER;
    faults.renameFailures = 1000;
    faults.replaceError = ERROR_UNABLE_TO_MOVE_REPLACEMENT_2;
    faults.replaceFailures = 1;
    faults.oldMovedAway = [&] { EXPECT_FALSE(rules.Document().RestoreInterruptedSave()); };
    std::string error;
    {
        SwapFaultsFor hook(faults);
        ASSERT_TRUE(doc.Save({}, error)) << error;
    }
    EXPECT_EQ(ReadBytes(rules.file), kSavedByA);
}

// An editor that starts while another editor's save has the old file aside
// (under its backup name, its turn held) finds the rules file once that save gives
// the name back, instead of a missing file.
TEST(Backups, AStartWaitsForASaveThatHasTheFileAside) {
    RulesFolder rules;
    WriteBytes(rules.file, kOnDisk);
    const std::string aside = rules.folder / "data/.unitrules.xml.replaced-4242-0";
    ASSERT_TRUE(::MoveFileExW(Fs(rules.file).wstring().c_str(), Fs(aside).wstring().c_str(), 0));
    const HANDLE save = ::CreateFileW(Fs(rules.folder / "data/.unitrules.xml.lock").wstring().c_str(), GENERIC_WRITE, 0,
                                      nullptr, CREATE_NEW, FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    ASSERT_NE(save, INVALID_HANDLE_VALUE);
    std::thread giveBack([&] {
        ::Sleep(300);
        ::MoveFileExW(Fs(aside).wstring().c_str(), Fs(rules.file).wstring().c_str(), 0);
        ::CloseHandle(save);
    });
    const RulesDocument starting = rules.Document();
    int eventPasses = 0;  // the window is drawn while it waits
    const bool restored = starting.RestoreInterruptedSave([&] { ++eventPasses; });
    const bool found = starting.Exists();
    giveBack.join();
    EXPECT_FALSE(restored);
    EXPECT_TRUE(found);
    EXPECT_GT(eventPasses, 2);
    EXPECT_EQ(ReadBytes(rules.file), kOnDisk);
}

// While the rules file exists, a start touches no backup.
TEST(Backups, AreLeftAloneAtStartWhileTheRulesFileExists) {
    RulesFolder rules;
    WriteBytes(rules.file, kOnDisk);
    const std::string backup = rules.folder / "data/.unitrules.xml.replaced-4242-0";
    WriteBytes(backup, "older");
    EXPECT_FALSE(rules.Document().RestoreInterruptedSave());
    EXPECT_EQ(ReadBytes(rules.file), kOnDisk);
    EXPECT_EQ(ReadBytes(backup), "older");
}

// Editors saving at once with ReplaceFileW, each in its own process: every
// save lands or says why, and the next save leaves no backup behind.
// No version comes back once another replaced it (watched from here).
TEST(SimultaneousSaves, LeaveNoBackupAfterTheNextSave) {
    RulesFolder rules;
    RulesDocument doc = rules.Loaded();
    constexpr int kEditors = 4, kSaves = 15;
    int undone = 0;
    std::jthread watcher([&](std::stop_token stop) {  // a reader as the game is, sharing everything
        std::set<std::string> seen;
        for (std::string last; !stop.stop_requested(); ::Sleep(1)) {
            const HANDLE file = ::CreateFileW(Fs(rules.file).wstring().c_str(), GENERIC_READ,
                                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                              OPEN_EXISTING, 0, nullptr);
            char bytes[64];
            DWORD read = 0;
            if (file != INVALID_HANDLE_VALUE && !::ReadFile(file, bytes, sizeof bytes, &read, nullptr)) read = 0;
            ::CloseHandle(file);
            if (const std::string now(bytes, read); read && now != last) undone += !seen.insert(last = now).second;
        }
    });
    std::vector<Child> children;
    for (int n = 0; n < kEditors; ++n) children.push_back(StartChild(rules.folder.path(), kSaves, false));
    DWORD failed = 0;
    for (auto& child : children) {
        ASSERT_TRUE(child.started);
        failed += Finish(child);
    }
    watcher = {};  // stops the watcher and waits for it
    const auto leftovers = EntriesStarting(rules, ".unitrules.xml.replaced-");
    std::printf("%d saves at once: %lu failed, %zu backups left\n", kEditors * kSaves, failed, leftovers.size());
    ASSERT_TRUE(Exists(rules.file));
    std::string error;
    ASSERT_TRUE(doc.Save({}, error)) << error;
    EXPECT_EQ(undone, 0) << "versions that came back under the rules name";
    EXPECT_EQ(rules.folder.Entries("data"), std::vector<std::string>{"unitrules.xml"});
}

}  // namespace

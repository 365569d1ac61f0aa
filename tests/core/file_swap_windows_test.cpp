// Windows saves while other programs hold the files (a scanner, an indexer,
// the game itself), saves that the system can only half carry out, and a
// rules file that is a link: every version of the file stays on disk under a
// name the user is told, the rules file keeps its name while the save waits,
// and the link stays a link.
#include "rules_document.h"

#include "rules_folder.h"
#include "test_files.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <thread>
#include <tuple>

#include <windows.h>

namespace {

const std::string kSaved = "    <ATTACK>8</ATTACK>\r\n    <TYPENAME>Old</TYPENAME>\r\n";

std::wstring WideOf(const std::string& path) { return Fs(path).wstring(); }

// Another program's handle on a file: opened at once, closed after holdMs or
// when the holder is destroyed, whichever comes first.
class Holder {
public:
    Holder(const std::string& path, DWORD share, DWORD holdMs)
        : handle_(::CreateFileW(WideOf(path).c_str(), GENERIC_READ, share, nullptr, OPEN_EXISTING, 0, nullptr)),
          stop_(::CreateEventW(nullptr, TRUE, FALSE, nullptr)) {
        closer_ = std::thread([this, holdMs] {
            ::WaitForSingleObject(stop_, holdMs);
            ::CloseHandle(handle_);
        });
    }
    ~Holder() {
        ::SetEvent(stop_);
        closer_.join();
        ::CloseHandle(stop_);
    }
    bool opened() const { return handle_ != INVALID_HANDLE_VALUE; }

private:
    HANDLE handle_;
    HANDLE stop_;
    std::thread closer_;
};

// A save that counts how often it let the window process events.
struct TimedSave {
    bool ok = false;
    bool unchanged = false;
    RulesDocument::SaveFailure failure = RulesDocument::SaveFailure::kFileUnchanged;
    std::string error;
    int eventPasses = 0;
    long long ms = 0;
    explicit TimedSave(const RulesDocument& doc, const ProgressSink& sink = {}) {
        const auto start = std::chrono::steady_clock::now();
        ok = doc.Save({{},
                       [this, &sink] {
                           ++eventPasses;
                           if (sink.processEvents) sink.processEvents();
                       }},
                      error, &failure);
        unchanged = failure == RulesDocument::SaveFailure::kFileUnchanged;
        ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
    }
};

std::string SystemReason(DWORD error) {
    wchar_t* text = nullptr;
    ::FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                     nullptr, error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::wstring wide = text ? text : L"";
    ::LocalFree(text);
    while (!wide.empty() && (wide.back() == L'\n' || wide.back() == L'\r' || wide.back() == L' ')) wide.pop_back();
    const int n = ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), int(wide.size()), nullptr, 0, nullptr, nullptr);
    std::string utf8(std::size_t(n), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), int(wide.size()), utf8.data(), n, nullptr, nullptr);
    return utf8;
}

// The file the message names after "label ", up to the next "; " or the end.
std::string NamedAfter(const std::string& message, const std::string& label) {
    const auto at = message.find(label + " ");
    if (at == std::string::npos) return {};
    const auto start = at + label.size() + 1;
    return message.substr(start, message.find("; ", start) - start);
}

bool Exists(const std::string& path) { return ::GetFileAttributesW(WideOf(path).c_str()) != INVALID_FILE_ATTRIBUTES; }

// Faults that make a save replace with ReplaceFileW, as where the file
// system renames over no file in one step.
safe_file::SwapFaults WithoutOneStepRename() {
    safe_file::SwapFaults faults;
    faults.renameError = ERROR_INVALID_PARAMETER;
    faults.renameFailures = 1000;
    return faults;
}

// --- a file held for a moment, or for long --------------------------------

enum class Held { kRulesFile, kNewFile, kSwapTurn };
const char* const kHeldNames[] = {"RulesFile", "NewFile", "SwapTurn"};
enum class Swap { kOneStepRename, kReplaceFile };

// The rules file held from before the save, or the new file from the moment
// its swap begins, for holdMs; replaced in one step or by ReplaceFileW.
class BusyFile : public ::testing::TestWithParam<std::tuple<Held, Swap>> {
protected:
    void SetUp() override {
        doc_ = rules_.Loaded();
        doc_.SetLine(0, "    <ATTACK>8</ATTACK>");
    }
    TimedSave SaveWhileHeld(DWORD holdMs) {
        const Held held = std::get<0>(GetParam());
        if (held == Held::kRulesFile) holder_ = std::make_unique<Holder>(rules_.file, FILE_SHARE_READ, holdMs);
        const std::string turn = rules_.folder / "data/.unitrules.xml.lock";  // or another editor's swap turn
        if (held == Held::kSwapTurn) WriteBytes(turn, "");
        if (held == Held::kSwapTurn) holder_ = std::make_unique<Holder>(turn, 0, 2 * holdMs);  // past the turn's wait
        safe_file::SwapFaults faults =
            std::get<1>(GetParam()) == Swap::kReplaceFile ? WithoutOneStepRename() : safe_file::SwapFaults{};
        faults.swapBegins = [this, holdMs](const std::string& temp) {
            if (!holder_) holder_ = std::make_unique<Holder>(temp, FILE_SHARE_READ, holdMs);
        };
        // The rules file keeps its name whenever the save waits.
        ProgressSink sink{{}, [this] { nameEmptyWhileWaiting_ |= !Exists(rules_.file); }};
        SwapFaultsFor hook(faults);
        TimedSave save(doc_, sink);
        EXPECT_TRUE(holder_ && holder_->opened());
        EXPECT_FALSE(nameEmptyWhileWaiting_);
        return save;
    }
    RulesFolder rules_;
    RulesDocument doc_ = rules_.Document();
    std::unique_ptr<Holder> holder_;
    bool nameEmptyWhileWaiting_ = false;
};

TEST_P(BusyFile, HeldForAMomentTheSaveWaitsAndSucceeds) {
    const TimedSave save = SaveWhileHeld(300);
    ASSERT_TRUE(save.ok) << save.error;
    EXPECT_EQ(ReadBytes(rules_.file), kSaved);
    EXPECT_EQ(rules_.folder.Entries("data"), std::vector<std::string>{"unitrules.xml"});
    EXPECT_GT(save.eventPasses, 2) << "events were not processed while waiting";
    std::printf("held 300 ms: the save took %lld ms\n", save.ms);
}

TEST_P(BusyFile, HeldLongerTheSaveReportsAndKeepsTheFile) {
    const TimedSave save = SaveWhileHeld(10000);
    EXPECT_FALSE(save.ok);
    EXPECT_TRUE(save.unchanged);
    const std::string reasons[] = {"another program has this file open (" + SystemReason(ERROR_SHARING_VIOLATION) + ")",
                                   SystemReason(ERROR_SHARING_VIOLATION),  // a scanner holding the new file
                                   "another program has the lock file " + rules_.file.substr(0, rules_.file.size() - 13) +
                                       ".unitrules.xml.lock"
                                       ", by which saves take turns, open; the file is left as it was, save again once "
                                       "that is done"};
    EXPECT_EQ(save.error, rules_.file + ": " + reasons[int(std::get<0>(GetParam()))]);
    EXPECT_EQ(ReadBytes(rules_.file), kOnDisk);
    std::printf("held 10 s: the save gave up after %lld ms\n", save.ms);
    holder_.reset();
    // A held new file cannot be removed while it is held; the next save
    // takes it for a leftover once it is let go, and ends the turn's file.
    if (std::get<0>(GetParam()) != Held::kRulesFile) {
        std::string error;
        ASSERT_TRUE(doc_.Save({}, error)) << error;
    }
    EXPECT_EQ(rules_.folder.Entries("data"), std::vector<std::string>{"unitrules.xml"});
}

INSTANTIATE_TEST_SUITE_P(Windows, BusyFile,
                         ::testing::Combine(::testing::Values(Held::kRulesFile, Held::kNewFile, Held::kSwapTurn),
                                            ::testing::Values(Swap::kOneStepRename, Swap::kReplaceFile)),
                         [](const auto& info) {
                             return std::string(kHeldNames[int(std::get<0>(info.param))]) +
                                    (std::get<1>(info.param) == Swap::kReplaceFile ? "ReplaceFile" : "OneStepRename");
                         });

TEST(BusyFileReadOnly, IsRefusedWithoutWaiting) {
    RulesFolder rules;
    RulesDocument doc = rules.Loaded();
    ASSERT_TRUE(::SetFileAttributesW(WideOf(rules.file).c_str(), FILE_ATTRIBUTE_READONLY));
    const TimedSave save(doc);
    ::SetFileAttributesW(WideOf(rules.file).c_str(), FILE_ATTRIBUTE_NORMAL);
    EXPECT_FALSE(save.ok);
    EXPECT_EQ(save.error, rules.file + ": " + SystemReason(ERROR_ACCESS_DENIED));
    EXPECT_EQ(save.eventPasses, 0) << "waited for a read-only file";
    EXPECT_EQ(ReadBytes(rules.file), kOnDisk);
}

// The game reads its data sharing reading only: the editor reads too, and a
// save says why it cannot replace the file.
TEST(BusyFileGame, ReadsWhileTheGameHoldsTheFileAndSaveFailsClearly) {
    RulesFolder rules;
    WriteBytes(rules.file, kOnDisk);
    Holder game(rules.file, FILE_SHARE_READ, 60000);
    ASSERT_TRUE(game.opened());
    RulesDocument doc = rules.Document();
    std::string error;
    ASSERT_TRUE(doc.Load({}, {}, error)) << error;
    EXPECT_EQ(LinesOf(doc), (std::vector<std::string>{"    <ATTACK>7</ATTACK>", "    <TYPENAME>Old</TYPENAME>"}));
    doc.SetLine(0, "    <ATTACK>8</ATTACK>");
    const TimedSave save(doc);
    EXPECT_FALSE(save.ok);
    EXPECT_TRUE(save.unchanged);
    EXPECT_EQ(save.error,
              rules.file + ": another program has this file open (" + SystemReason(ERROR_SHARING_VIOLATION) + ")");
    EXPECT_EQ(ReadBytes(rules.file), kOnDisk);
    EXPECT_EQ(rules.folder.Entries("data"), std::vector<std::string>{"unitrules.xml"});
}

// --- replaces the system carries out only in part --------------------------

struct Retried {
    const char* name;
    DWORD replaceError;
    int moveFailures;
    bool oldCopiedAside = false;  // as Wine's: the old file under both names, then the failure
};

// ReplaceFileW fails three times; where it moved the old file away, the old
// file got its name back (moved, or else linked) before the next try.
class RetriedReplace : public ::testing::TestWithParam<Retried> {};

TEST_P(RetriedReplace, SucceedsAndLeavesNothingBehind) {
    RulesFolder rules;
    RulesDocument doc = rules.Loaded();
    doc.SetLine(0, "    <ATTACK>8</ATTACK>");
    safe_file::SwapFaults faults = WithoutOneStepRename();
    faults.replaceError = GetParam().replaceError;
    faults.replaceFailures = 3;
    faults.moveError = ERROR_SHARING_VIOLATION;
    faults.moveFailures = GetParam().moveFailures;
    if (GetParam().oldCopiedAside) faults.oldMovedAway = [&] { WriteBytes(rules.file, kOnDisk); };
    SwapFaultsFor hook(faults);
    std::string error;
    ASSERT_TRUE(doc.Save({}, error)) << error;
    EXPECT_EQ(ReadBytes(rules.file), kSaved);
    EXPECT_EQ(rules.folder.Entries("data"), std::vector<std::string>{"unitrules.xml"});
}

INSTANTIATE_TEST_SUITE_P(Windows, RetriedReplace,
                         ::testing::Values(Retried{"SharingViolation", ERROR_SHARING_VIOLATION, 0},
                                           Retried{"LockViolation", ERROR_LOCK_VIOLATION, 0},
                                           Retried{"AccessDenied", ERROR_ACCESS_DENIED, 0},
                                           Retried{"UnableToRemoveReplaced", ERROR_UNABLE_TO_REMOVE_REPLACED, 0},
                                           Retried{"UnableToMoveReplacement", ERROR_UNABLE_TO_MOVE_REPLACEMENT, 0},
                                           Retried{"OldMovedAsideAndBack", ERROR_UNABLE_TO_MOVE_REPLACEMENT_2, 0},
                                           Retried{"OldCopiedAside", ERROR_UNABLE_TO_MOVE_REPLACEMENT_2, 0, true},
                                           Retried{"OldMovedAsideAndLinkedBack", ERROR_UNABLE_TO_MOVE_REPLACEMENT_2, 1}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(FailedReplace, ThatKeptTheOldFileRemovesTheNewOneAtOnce) {
    RulesFolder rules;
    RulesDocument doc = rules.Loaded();
    doc.SetLine(0, "    <ATTACK>8</ATTACK>");
    safe_file::SwapFaults faults = WithoutOneStepRename();
    faults.replaceError = ERROR_DISK_FULL;
    faults.replaceFailures = 1000;
    SwapFaultsFor hook(faults);
    const TimedSave save(doc);
    EXPECT_FALSE(save.ok);
    EXPECT_TRUE(save.unchanged);
    EXPECT_EQ(save.eventPasses, 2) << "waited on an error no wait mends";
    EXPECT_EQ(ReadBytes(rules.file), kOnDisk);
    EXPECT_EQ(rules.folder.Entries("data"), std::vector<std::string>{"unitrules.xml"});
}

// ReplaceFileW moves the old file away on every try and cannot move the new
// one in: the old one is back under its name before each pause, and stays.
TEST(FailedReplace, OldFileMovedAsideHasItsNameBackWhileTheSaveWaits) {
    RulesFolder rules;
    RulesDocument doc = rules.Loaded();
    doc.SetLine(0, "    <ATTACK>8</ATTACK>");
    safe_file::SwapFaults faults = WithoutOneStepRename();
    faults.replaceError = ERROR_UNABLE_TO_MOVE_REPLACEMENT_2;
    faults.replaceFailures = 1000;
    SwapFaultsFor hook(faults);
    int pausesWithoutName = 0;
    const TimedSave save(doc, {{}, [&] { pausesWithoutName += !Exists(rules.file); }});
    EXPECT_FALSE(save.ok);
    EXPECT_TRUE(save.unchanged) << save.error;
    EXPECT_GT(save.eventPasses, 2) << "gave up without waiting";
    EXPECT_EQ(pausesWithoutName, 0);
    EXPECT_EQ(ReadBytes(rules.file), kOnDisk);
    EXPECT_EQ(rules.folder.Entries("data"), std::vector<std::string>{"unitrules.xml"});
}

// The old file has gone to the backup name and it can neither be moved nor
// linked back, nor the new file moved in: a program holds the new file,
// sharing reading or nothing. A second name is made for the new file; where
// every name is taken, the new file itself is kept, read-only.
struct Holding {
    const char* name;
    DWORD share;
    bool namesTaken;
};
class OnlyCopy : public ::testing::TestWithParam<Holding> {};

TEST_P(OnlyCopy, EveryVersionStaysUnderTheNamesTheMessageGives) {
    RulesFolder rules;
    RulesDocument doc = rules.Loaded();
    RulesDocument other = rules.Loaded();  // another editor on the same folder
    doc.SetLine(0, "    <ATTACK>8</ATTACK>");
    std::unique_ptr<Holder> scanner;
    auto failure = RulesDocument::SaveFailure::kFileUnchanged;
    std::string error;
    if (GetParam().namesTaken)
        for (int n = 0; n < 100; ++n)
            WriteBytes(rules.file + ".saved-" + std::to_string(::GetCurrentProcessId()) + "-" + std::to_string(n), "");
    {
        safe_file::SwapFaults faults = WithoutOneStepRename();
        faults.replaceError = ERROR_UNABLE_TO_MOVE_REPLACEMENT_2;
        faults.replaceFailures = 1;
        faults.moveError = ERROR_SHARING_VIOLATION;
        faults.moveFailures = 1000;
        faults.swapBegins = [&](const std::string& temp) {
            scanner = std::make_unique<Holder>(temp, GetParam().share, 5000);
        };
        SwapFaultsFor hold(faults);
        EXPECT_FALSE(doc.Save({}, error, &failure));
    }
    EXPECT_EQ(failure, RulesDocument::SaveFailure::kFileMissing);
    EXPECT_EQ(error.find(rules.file + ": the file could not be replaced"), 0u) << error;
    EXPECT_NE(error.find(") and is missing now; the saved lines are in "), std::string::npos) << error;
    const std::string saved = NamedAfter(error, "the saved lines are in");
    const std::string old = NamedAfter(error, "the old file is in");
    ASSERT_TRUE(Exists(saved)) << error;
    ASSERT_TRUE(Exists(old)) << error;
    EXPECT_FALSE(Exists(rules.file));
    EXPECT_EQ(saved.find("\\.unitrules.xml.saving-") != std::string::npos, GetParam().namesTaken) << saved;
    scanner.reset();
    EXPECT_EQ(ReadBytes(saved), kSaved);
    EXPECT_EQ(ReadBytes(old), kOnDisk);

    // Later saves keep the saved lines; the old file's
    // backup, held by no save, goes as a leftover once a rules file is there.
    ASSERT_TRUE(other.Save({}, error)) << error;
    ASSERT_TRUE(doc.Save({}, error)) << error;
    EXPECT_EQ(ReadBytes(rules.file), kSaved);
    EXPECT_EQ(ReadBytes(saved), kSaved);
    EXPECT_FALSE(Exists(old));
    ::SetFileAttributesW(WideOf(saved).c_str(), FILE_ATTRIBUTE_NORMAL);
}

INSTANTIATE_TEST_SUITE_P(Windows, OnlyCopy,
                         ::testing::Values(Holding{"HolderSharesReading", FILE_SHARE_READ, false},
                                           Holding{"HolderSharesNothing", 0, false},
                                           Holding{"EverySecondNameTaken", FILE_SHARE_READ, true}),
                         [](const auto& info) { return std::string(info.param.name); });

// --- a rules file that is a link --------------------------------------------

// Wine shows a Unix symbolic link to Windows programs as the file it points
// to, and makes none itself: ln does.
bool MakeLink(const std::string& link, const std::string& target) {
    if (!RunningUnderWine())
        return ::CreateSymbolicLinkW(WideOf(link).c_str(), WideOf(target).c_str(),
                                     SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE);
    using UnixName = char*(__cdecl*)(const wchar_t*);
    const auto unixName = reinterpret_cast<UnixName>(
        reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
    if (!unixName) return false;
    char* unixLink = unixName(WideOf(link).c_str());
    std::wstring command = L"/bin/ln -s " + std::wstring(target.begin(), target.end()) + L" \"";
    for (const char* c = unixLink; *c; ++c) command += wchar_t(static_cast<unsigned char>(*c));
    command += L"\"";
    ::HeapFree(::GetProcessHeap(), 0, unixLink);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!::CreateProcessW(L"Z:\\bin\\ln", command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                          &process))
        return false;
    ::CloseHandle(process.hThread);
    ::CloseHandle(process.hProcess);
    for (int wait = 0; wait < 100 && !Exists(link); ++wait) ::Sleep(50);
    return Exists(link);
}

TEST(Links, SaveReplacesTheTargetAndTheLinkStays) {
    RulesFolder rules;
    MakeFolder(rules.folder / "real");
    const std::string real = rules.folder / "real/unitrules.xml";
    WriteBytes(real, kOnDisk);
    if (!MakeLink(rules.file, RunningUnderWine() ? "../real/unitrules.xml" : real))
        GTEST_SKIP() << "this system lets no test make a symbolic link";
    RulesDocument doc = rules.Document();
    std::string error;
    ASSERT_TRUE(doc.Load({}, {}, error)) << error;
    doc.SetLine(0, "    <ATTACK>555</ATTACK>");
    const std::string expected = "    <ATTACK>555</ATTACK>\r\n    <TYPENAME>Old</TYPENAME>\r\n";
    for (int save = 0; save < 2; ++save) {
        ASSERT_TRUE(doc.Save({}, error)) << error;
        EXPECT_EQ(ReadBytes(real), expected);
        EXPECT_EQ(rules.folder.Entries("real"), std::vector<std::string>{"unitrules.xml"});
        EXPECT_EQ(rules.folder.Entries("data"), std::vector<std::string>{"unitrules.xml"});
    }
    // Still a link: what the target holds is what the link shows.
    WriteBytes(real, kOnDisk);
    EXPECT_EQ(ReadBytes(rules.file), kOnDisk);
}

}  // namespace

// A power cut at any moment of a save: the save of the demo rules file is
// recorded call by call (fs_recorder, by LD_PRELOAD), every state a crash may
// leave on disk is built from the recording (crash_states.h), and each must
// hold the old or the new file whole, with nothing beside it but the save's
// own temporary files, which a later save removes. Orders known to lose files
// are recorded the same way and must be caught.
#include "crash_states.h"
#include "rules_document.h"
#include "test_files.h"

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace {

using crash_states::Tree;

const std::string kTarget = "data/unitrules.xml";
const std::string kTempPrefix = "data/.unitrules.xml.saving-";

struct Recorded {
    Tree before;
    std::string recording;
    std::string oldBytes, newBytes;
};

// Runs program on a program folder holding the demo file (and the given
// other files), under the recorder.
Recorded Record(const std::vector<std::string>& program, const std::map<std::string, std::string>& beside = {}) {
    ScratchFolder folder, logs;
    MakeFolder(folder / "data");
    WriteBytes(folder / kTarget, ReadBytes(DEMO_RULES));
    for (const auto& [name, bytes] : beside) WriteBytes(folder / name, bytes);
    Recorded r;
    r.before = crash_states::ReadTree(folder.path());
    const std::string log = logs / "calls";
    const pid_t child = ::fork();
    if (child == 0) {
        ::setenv("FS_RECORD_DIR", folder.path().c_str(), 1);
        ::setenv("FS_RECORD_LOG", log.c_str(), 1);
        ::setenv("LD_PRELOAD", FS_RECORDER, 1);
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
        std::vector<char*> argv;
        std::vector<std::string> args = program;
        args.push_back(folder.path());
        for (auto& arg : args) argv.push_back(arg.data());
        argv.push_back(nullptr);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    int status = -1;
    ::waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << program[0] << " failed: " << status;
    r.recording = ReadBytes(log);
    r.oldBytes = r.before.files[kTarget];
    r.newBytes = ReadBytes(folder / kTarget);
    EXPECT_NE(r.oldBytes, r.newBytes) << "the run changed nothing";
    return r;
}

// What a crash left, as a user finds it.
enum Verdict { kOld, kNew, kMissing, kMixed, kStrayName, kOldAfterSuccess, kVerdicts };
const char* const kVerdictNames[] = {"old",   "new",         "no file",
                                     "mixed", "stray names", "old although the save had finished"};

Verdict Judge(const Recorded& r, const Tree& state, bool final) {
    for (const auto& [name, bytes] : state.files)
        if (name != kTarget && name.compare(0, kTempPrefix.size(), kTempPrefix) != 0) return kStrayName;
    const auto target = state.files.find(kTarget);
    if (target == state.files.end()) return kMissing;
    if (target->second == r.newBytes) return kNew;
    if (target->second != r.oldBytes) return kMixed;
    return final ? kOldAfterSuccess : kOld;
}

// A state in a few words: each name with its size.
std::string Describe(const Tree& state, bool final) {
    std::string text = final ? "after the run:" : "during the run:";
    for (const auto& [name, bytes] : state.files) text += " " + name + " (" + std::to_string(bytes.size()) + " bytes)";
    return text;
}

struct Tally {
    crash_states::Exploration exploration;
    std::size_t count[kVerdicts] = {};
    std::string firstBad;  // the first state that held neither version, described
    std::string Summary() const {
        std::string text = std::to_string(exploration.calls) + " calls, " + std::to_string(exploration.operations) +
                           " operations, " + std::to_string(exploration.combinations) + " crash states (" +
                           std::to_string(exploration.states) + " distinct):";
        for (int v = 0; v < kVerdicts; ++v)
            if (count[v]) text += std::string(" ") + kVerdictNames[v] + " " + std::to_string(count[v]) + ",";
        text.back() = '.';
        if (!firstBad.empty()) text += " First bad state, " + firstBad;
        return text;
    }
};

// A scratch folder on a memory file system where there is one: each state
// is written out and saved again, and syncs there cost nothing.
std::string ScratchRoot() {
    std::string pattern = std::filesystem::is_directory("/dev/shm") ? "/dev/shm/tarvenor-crash-XXXXXX"
                                                                    : (std::filesystem::temp_directory_path() /
                                                                       "tarvenor-crash-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    return pattern;
}

// The editor's core on the state: it reads the file as it is, and a later save
// succeeds, writes the same bytes back and removes the leftovers.
void ExpectReadAndSavedAgain(const Tree& state, const std::string& root, std::size_t index) {
    const std::string folder = root + "/" + std::to_string(index);
    crash_states::WriteTree(state, folder);
    RulesDocument doc(folder);
    std::string error;
    ASSERT_TRUE(doc.Load({}, {}, error)) << error;
    ASSERT_TRUE(doc.Save({}, error)) << error;
    const Tree after = crash_states::ReadTree(folder);
    EXPECT_EQ(after.files.size(), 1u) << "leftovers not removed by a later save";
    EXPECT_TRUE(after.files.count(kTarget) && after.files.at(kTarget) == state.files.at(kTarget))
        << "a later save changed the file";
    std::filesystem::remove_all(folder);
}

Tally ExploreAndCheck(const Recorded& r, bool saveAgain) {
    Tally tally;
    const std::string root = ScratchRoot();
    std::size_t index = 0;
    tally.exploration = crash_states::Explore(r.before, r.recording, [&](const Tree& state, bool final) {
        const Verdict verdict = Judge(r, state, final);
        ++tally.count[verdict];
        if (verdict > kNew && tally.firstBad.empty())
            tally.firstBad = std::string(kVerdictNames[verdict]) + ", " + Describe(state, final);
        if (saveAgain && verdict <= kNew) ExpectReadAndSavedAgain(state, root, index++);
    });
    std::filesystem::remove_all(root);
    return tally;
}

// ---------------------------------------------------------------------------
// The editor's save survives every crash state.

void ExpectEveryStateWhole(const char* what, const Recorded& r) {
    const Tally tally = ExploreAndCheck(r, true);
    std::printf("%s of the demo file: %s\n", what, tally.Summary().c_str());
    EXPECT_EQ(tally.count[kOld] + tally.count[kNew], tally.exploration.states) << tally.Summary();
    EXPECT_GT(tally.count[kOld], 0u);
    EXPECT_GT(tally.count[kNew], 0u);
    // The bound on enumeration held exactly (see crash_states.h).
    EXPECT_EQ(tally.exploration.inexactGroups, 0u);
}

TEST(PowerCut, DuringTheCoreSaveLeavesTheOldOrTheNewFile) {
    ExpectEveryStateWhole("core save", Record({SAVE_ORDERS, "core"}));
}

#ifdef EDITOR_SAVE
// With the leftover of an earlier save that was killed, which this one removes.
TEST(PowerCut, DuringTheEditorsSaveLeavesTheOldOrTheNewFile) {
    ExpectEveryStateWhole("editor's Save", Record({EDITOR_SAVE}, {{kTempPrefix + "1-0", "half a save"}}));
}
#endif

// ---------------------------------------------------------------------------
// The explorer catches orders that lose files.

struct BrokenOrder {
    const char* order;
    Verdict caught;  // what it must show at least once
};

void PrintTo(const BrokenOrder& o, std::ostream* os) { *os << o.order; }

class PowerCutOf : public testing::TestWithParam<BrokenOrder> {};

TEST_P(PowerCutOf, ABrokenOrderIsCaught) {
    const Recorded r = Record({SAVE_ORDERS, GetParam().order});
    const Tally tally = ExploreAndCheck(r, false);
    std::printf("%s: %s\n", GetParam().order, tally.Summary().c_str());
    EXPECT_GT(tally.count[GetParam().caught], 0u) << tally.Summary();
}

INSTANTIATE_TEST_SUITE_P(Orders, PowerCutOf,
                         testing::Values(BrokenOrder{"no-fsync-before-rename", kMixed},
                                         BrokenOrder{"no-folder-fsync", kOldAfterSuccess},
                                         BrokenOrder{"in-place", kMixed},
                                         BrokenOrder{"delete-then-create", kMissing}),
                         [](const auto& info) {
                             std::string name = info.param.order;
                             for (char& c : name)
                                 if (c == '-') c = '_';
                             return name;
                         });

}  // namespace

// File faults that need POSIX to provoke: permission bits, a file-size
// limit, an unprivileged child process, links, and killing a save.
#include "rules_document.h"

#include "rules_folder.h"
#include "rules_generator.h"
#include "test_files.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>

namespace {

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kAddressSanitizer = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kAddressSanitizer = true;
#else
constexpr bool kAddressSanitizer = false;
#endif
#else
constexpr bool kAddressSanitizer = false;
#endif

// ---------------------------------------------------------------------------
// Saving safely: the old file survives every failure byte for byte.

struct SaveFailure {
    const char* name;
    std::function<void(const RulesFolder&)> prepare;
    ChildLimits limits;
    const char* reason;
};

void PrintTo(const SaveFailure& c, std::ostream* os) { *os << c.name; }

class FailedSave : public testing::TestWithParam<SaveFailure> {};

TEST_P(FailedSave, LeavesFileAndLinesWhole) {
    RulesFolder rules;
    RulesDocument doc = rules.Loaded();
    doc.SetLine(0, "    <ATTACK>" + std::string(4096, '9') + "</ATTACK>");
    const auto linesBefore = LinesOf(doc);
    GetParam().prepare(rules);

    const bool saved = RunInChild(GetParam().limits, [&] {
        std::string error;
        const bool ok = doc.Save({}, error);
        // The message names the file and the system's reason.
        const bool clear = error.find(rules.file) == 0 && error.find(GetParam().reason) != std::string::npos;
        return !ok && clear && LinesOf(doc) == linesBefore;
    });
    EXPECT_TRUE(saved) << "save did not fail cleanly";
    EXPECT_EQ(ReadBytes(rules.file), kOnDisk);
    EXPECT_EQ(rules.folder.Entries("data"), std::vector<std::string>{"unitrules.xml"}) << "temporary file left";
}

INSTANTIATE_TEST_SUITE_P(
    RealRefusals, FailedSave,
    testing::Values(
        SaveFailure{"read_only_file", [](const RulesFolder& r) { ::chmod(r.file.c_str(), 0444); },
                    {true, -1}, "Permission denied"},
        SaveFailure{"folder_not_writable",
                    [](const RulesFolder& r) {
                        ::chmod(r.file.c_str(), 0666);
                        ::chmod((r.folder / "data").c_str(), 0555);
                    },
                    {true, -1}, "data (Permission denied)"},  // the folder named, and why
        SaveFailure{"disk_full", [](const RulesFolder&) {}, {false, 1000}, "File too large"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(SaveReplacement, KeepsPermissionsAndFollowsLinks) {
    RulesFolder rules;
    RulesDocument doc = rules.Loaded();
    doc.SetLine(0, "    <ATTACK>8</ATTACK>");
    const std::string saved = "    <ATTACK>8</ATTACK>\r\n    <TYPENAME>Old</TYPENAME>\r\n";
    std::string error;

    ::chmod(rules.file.c_str(), 0640);
    // Another user's file, so keeping the owner is seen to work.
    const bool root = ::geteuid() == 0;
    if (root) ::chown(rules.file.c_str(), 4321, 5432);
    ASSERT_TRUE(doc.Save({}, error)) << error;
    struct stat st {};
    ::stat(rules.file.c_str(), &st);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    if (root) {
        EXPECT_EQ(st.st_uid, 4321u);
        EXPECT_EQ(st.st_gid, 5432u);
    }
    EXPECT_EQ(ReadBytes(rules.file), saved);

    const std::string target = rules.folder / "real.xml";
    ::rename(rules.file.c_str(), target.c_str());
    ::symlink("../real.xml", rules.file.c_str());
    doc.SetLine(0, "    <ATTACK>9</ATTACK>");
    ASSERT_TRUE(doc.Save({}, error)) << error;
    EXPECT_TRUE(std::filesystem::is_symlink(rules.file));
    EXPECT_EQ(ReadBytes(target).substr(0, 22), "    <ATTACK>9</ATTACK>");
}

TEST(SaveReplacement, ReportsAFailedFolderSyncButNotAFolderThatCannotBeSynced) {
    for (const int fault : {EIO, EINVAL}) {
        RulesFolder rules;
        RulesDocument doc = rules.Loaded();
        doc.SetLine(0, "    <ATTACK>8</ATTACK>");
        SwapFaultsFor faults({fault});
        std::string error;
        auto failure = RulesDocument::SaveFailure::kFileUnchanged;
        EXPECT_EQ(doc.Save({}, error, &failure), fault == EINVAL);
        EXPECT_EQ(error, fault == EIO ? rules.file + ": the new file is in place but may not be on disk yet: the "
                                                     "folder sync failed (Input/output error)" : "");
        EXPECT_EQ(failure, fault == EIO ? RulesDocument::SaveFailure::kMayNotBeOnDisk : RulesDocument::SaveFailure{});
        EXPECT_EQ(ReadBytes(rules.file), "    <ATTACK>8</ATTACK>\r\n    <TYPENAME>Old</TYPENAME>\r\n");
    }
}

// A child that holds the writer's lock on path, as a save under way in
// another process (or PID namespace) does, until it is killed.
pid_t HoldWriterLock(const std::string& path) {
    int ready[2];
    if (::pipe(ready) != 0) return -1;
    const pid_t child = ::fork();
    if (child == 0) {
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT, 0644);
        const char ok = fd >= 0 && ::flock(fd, LOCK_EX) == 0 ? '1' : '0';
        if (::write(ready[1], &ok, 1) != 1) ::_exit(1);
        for (;;) ::pause();
    }
    char ok = '0';
    if (::read(ready[0], &ok, 1) != 1 || ok != '1') ADD_FAILURE() << "no lock on " << path;
    ::close(ready[0]);
    ::close(ready[1]);
    return child;
}

TEST(SaveReplacement, RemovesOnlyLeftoversThatNoWriterHolds) {
    RulesFolder rules;
    RulesDocument doc = rules.Loaded();
    // Process ids mean nothing across PID namespaces: the live writer's id
    // is unknown here, and the dead one's is taken by a running process.
    const std::string live = ".unitrules.xml.saving-999999999-0";
    const std::string dead = ".unitrules.xml.saving-1-0";
    WriteBytes(rules.folder / ("data/" + dead), "half a save");
    const pid_t writer = HoldWriterLock(rules.folder / ("data/" + live));
    ASSERT_GT(writer, 0);

    std::string error;
    ASSERT_TRUE(doc.Save({}, error)) << error;
    EXPECT_EQ(rules.folder.Entries("data"), (std::vector<std::string>{live, "unitrules.xml"}));

    ::kill(writer, SIGKILL);
    ::waitpid(writer, nullptr, 0);
    ASSERT_TRUE(doc.Save({}, error)) << error;
    EXPECT_EQ(rules.folder.Entries("data"), std::vector<std::string>{"unitrules.xml"});
    EXPECT_EQ(ReadBytes(rules.file), kOnDisk);
}

TEST(SaveReplacement, KeepsGroupForAMemberWhoIsNotTheOwner) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to set up another user's file";
    RulesFolder rules;
    RulesDocument doc = rules.Loaded();
    doc.SetLine(0, "    <ATTACK>8</ATTACK>");
    constexpr uid_t kOwner = 4321;
    constexpr gid_t kSharedGroup = 5432;
    ::chown(rules.file.c_str(), kOwner, kSharedGroup);
    ::chmod(rules.file.c_str(), 0664);
    ::chown((rules.folder / "data").c_str(), 0, kSharedGroup);
    ::chmod((rules.folder / "data").c_str(), 0775);

    // An ordinary user whose own group is another one, member of the shared group.
    ChildLimits member;
    member.unprivileged = true;
    member.extraGroup = kSharedGroup;
    EXPECT_TRUE(RunInChild(member, [&] {
        std::string error;
        const bool saved = doc.Save({}, error);
        if (!saved) std::fprintf(stderr, "%s\n", error.c_str());
        return saved;
    }));
    struct stat st {};
    ASSERT_EQ(::stat(rules.file.c_str(), &st), 0);
    EXPECT_EQ(st.st_gid, kSharedGroup);
    EXPECT_EQ(st.st_mode & 07777, 0664u);
    EXPECT_EQ(ReadBytes(rules.file).substr(0, 22), "    <ATTACK>8</ATTACK>");
}

TEST(SaveReplacement, KeepsExtendedAttributes) {
    RulesFolder rules;
    RulesDocument doc = rules.Loaded();
    const std::string note = "kept across saves";
    if (::setxattr(rules.file.c_str(), "user.tarvenor.note", note.data(), note.size(), 0) != 0)
        GTEST_SKIP() << "no user extended attributes here: " << std::strerror(errno);
    std::string error;
    ASSERT_TRUE(doc.Save({}, error)) << error;
    char value[64] = {};
    const ssize_t size = ::getxattr(rules.file.c_str(), "user.tarvenor.note", value, sizeof value);
    ASSERT_GT(size, 0) << std::strerror(errno);
    EXPECT_EQ(std::string(value, static_cast<std::size_t>(size)), note);
}

TEST(FailedLoad, OfAFileTooLargeForMemoryKeepsThePreviousLines) {
    if (kAddressSanitizer) GTEST_SKIP() << "the address sanitizer reserves more address space than the limit allows";
    RulesFolder rules;
    RulesDocument doc = rules.Loaded();
    const auto before = LinesOf(doc);
    WriteBytes(rules.file, GenerateRules({0, 80'000'000, 3}).bytes);
    // Room for 64 MiB more than the process maps now: the file needs twice that.
    long long pages = 0;
    std::ifstream("/proc/self/statm") >> pages;
    const ChildLimits tightMemory{false, -1, pages * ::sysconf(_SC_PAGESIZE) + (64ll << 20)};
    EXPECT_TRUE(RunInChild(tightMemory, [&] {
        std::string error;
        return !doc.Load({}, {}, error) && error == rules.file + ": Cannot allocate memory" && LinesOf(doc) == before;
    }));
}

TEST(Load, OfTwentyMillionEmptyLinesStaysCompact) {
    if (kAddressSanitizer) GTEST_SKIP() << "the address sanitizer reserves more address space than the limit allows";
    RulesFolder rules;
    constexpr std::size_t kLines = 20'000'000;
    WriteBytes(rules.file, std::string(kLines, '\r'));
    RulesDocument doc = rules.Document();
    // 16 bytes a line, 1.2 times the file, and the process as it is now.
    long long pages = 0;
    std::ifstream("/proc/self/statm") >> pages;
    const long long budget = pages * ::sysconf(_SC_PAGESIZE) + 16ll * kLines + kLines * 12 / 10;
    EXPECT_TRUE(RunInChild({false, -1, budget}, [&] {
        std::string error;
        std::size_t hooked = 0;
        return doc.Load({}, [&](std::size_t) { ++hooked; }, error) && doc.LineCount() == kLines && hooked == kLines &&
               doc.Line(kLines - 1).empty();
    }));
}

TEST(FailedLoad, OfAnUnreadableFileKeepsThePreviousLines) {
    RulesFolder rules;
    RulesDocument doc = rules.Loaded();
    const auto before = LinesOf(doc);
    ::chmod(rules.file.c_str(), 0);
    EXPECT_TRUE(RunInChild({true, -1}, [&] {
        std::string error;
        return !doc.Load({}, {}, error) && error == rules.file + ": Permission denied" && LinesOf(doc) == before;
    }));
}

// ---------------------------------------------------------------------------
// A save killed at any moment leaves the old file or the complete new one.

TEST(KilledSave, LeavesTheOldOrTheNewFileAndALaterSaveCleansUp) {
    RulesFolder rules;
    // About 1,000,000 lines, 50 MB.
    const std::string before = GenerateRules({17857, 0, 5, 28}).bytes;
    WriteBytes(rules.file, before);
    RulesDocument doc = rules.Document();
    ASSERT_TRUE(LoadQuietly(doc));
    doc.SetLine(doc.LineCount() / 2, "    <ATTACK>99</ATTACK>");
    std::string after;
    for (std::size_t i = 0; i < doc.LineCount(); ++i) after.append(doc.Line(i)).append("\r\n");

    std::mt19937 rng(2026);
    int sawOld = 0, sawNew = 0;
    for (int round = 0; round < 8; ++round) {
        if (round % 2 == 0) WriteBytes(rules.file, before);
        const pid_t saver = ::fork();
        ASSERT_GE(saver, 0);
        if (saver == 0) {
            std::string error;
            for (;;) doc.Save({}, error);
        }
        ::usleep(std::uniform_int_distribution<useconds_t>(1000, 120000)(rng));
        ::kill(saver, SIGKILL);
        ::waitpid(saver, nullptr, 0);
        const std::string onDisk = ReadBytes(rules.file);
        ASSERT_TRUE(onDisk == before || onDisk == after) << "round " << round << ": a mix of " << onDisk.size() << " bytes";
        (onDisk == before ? sawOld : sawNew)++;
    }
    std::printf("killed saves left the old file %d times, the new one %d times\n", sawOld, sawNew);

    std::string error;
    ASSERT_TRUE(doc.Save({}, error)) << error;
    EXPECT_EQ(rules.folder.Entries("data"), std::vector<std::string>{"unitrules.xml"});
    EXPECT_EQ(ReadBytes(rules.file), after);
}

}  // namespace

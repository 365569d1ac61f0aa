// The unit-rules file held as an ordered list of byte lines, exactly as read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

// What Load and Save call once per line: report a progress fraction, and let
// the window system handle pending events. Either may be left empty.
struct ProgressSink {
    std::function<void(double fraction)> report;
    std::function<void()> processEvents;
};

// Called by Load right after a line has been appended, with its index, before
// pending events are processed.
using LineHook = std::function<void(std::size_t lineIndex)>;

class RulesDocument {
public:
    // The rules file is data/unitrules.xml under exeFolder, the folder that
    // holds the editor's executable.
    explicit RulesDocument(const std::string& exeFolder);

    const std::string& RulesPath() const { return rulesPath_; }

    // True when a regular file exists at RulesPath.
    bool Exists() const;

    // Called before Exists() at start-up: where a save was cut short between
    // the two renames of its swap, with no file under RulesPath (Windows),
    // gives the old file its name back. True when it did. Waits for another
    // editor's save to end first, calling whileWaiting; where that does not
    // end or the turn cannot be had, sets error to "<path>: <what holds it>".
    bool RestoreInterruptedSave(const std::function<void()>& whileWaiting = {}, std::string* error = nullptr) const;

    // Replaces the lines by the file's lines. A line ends at CR or CRLF; the
    // terminator is dropped and a lone LF stays inside its line. Reports
    // (bytes read so far, terminators included) / 128, rounded down, / 3600
    // after each line, unclamped. On failure (a file too large for memory
    // included) returns false, sets error to "<path>: <system reason>", and
    // leaves the lines as they were before. A file of 16- or 32-bit
    // characters (UTF-16, UTF-32), whose line breaks are no single bytes, is
    // refused so, unsplit, and wideText is set: its lines could never be
    // written back as it has them.
    bool Load(const ProgressSink& sink, const LineHook& onLine, std::string& error, bool* wideText = nullptr);

    // What a failed Save left under RulesPath.
    enum class SaveFailure {
        kFileUnchanged,   // the old file, byte for byte
        kFileMissing,     // nothing (Windows); the error names the file that holds the saved lines
        kMayNotBeOnDisk,  // the new file, but the system did not confirm it is on disk
    };
    // Replaces the file by the lines, each followed by CRLF, reporting i / n
    // for line i of n + 1 (a single line reports 1; no lines report nothing).
    // The old file is replaced only once the new one is complete on disk; on
    // failure the lines are untouched, error is set to "<path>: <system
    // reason>", and the old file stays byte for byte as it was, except where
    // the system removed it and then failed to rename the new one (Windows),
    // or where the folder sync after the rename failed (POSIX); failure says
    // which.
    bool Save(const ProgressSink& sink, std::string& error, SaveFailure* failure = nullptr) const;

    std::size_t LineCount() const { return spans_.empty() ? 0 : spans_.size() - 1; }
    // i must be below LineCount(). The view stays valid until line i is
    // replaced or the document is loaded again.
    std::string_view Line(std::size_t i) const {
        const std::uint64_t span = spans_[i];
        if (span & kReplaced) return replaced_.find(i)->second;
        const std::uint64_t start = span >> kStartShift;
        const std::uint64_t end = (spans_[i + 1] >> kStartShift) - ((span >> kTerminatorShift) & 3);
        return {bytes_.get() + start, static_cast<std::size_t>(end - start)};
    }
    // The line break that ended line i in the file as read: "\r\n", "\r",
    // or none for a last line without one.
    std::string_view LineBreak(std::size_t i) const {
        return std::string_view("\r\n", (spans_[i] >> kTerminatorShift) & 3);
    }
    // Replaces line i (below LineCount()); never inserts or removes a line.
    void SetLine(std::size_t i, std::string text);

private:
    // The file's bytes stay in one buffer; each line is one 64-bit word: its
    // start in the buffer, the length of its terminator (0, 1 for CR, 2 for
    // CRLF) and whether it has been replaced. A last word past the final line
    // holds where the next line would start. Replaced lines live beside.
    static constexpr std::uint64_t kReplaced = 1;
    static constexpr int kTerminatorShift = 1;
    static constexpr int kStartShift = 3;

    struct Store {
        std::unique_ptr<char[]> bytes;
        std::size_t size = 0;
        std::vector<std::uint64_t> spans;
        std::unordered_map<std::size_t, std::string> replaced;
    };
    Store TakeStore();
    void PutStore(Store store);
    // Splits the loaded bytes into lines, calling the hooks for each.
    void SplitLines(const ProgressSink& sink, const LineHook& onLine);

    std::string rulesPath_;
    std::unique_ptr<char[]> bytes_;
    std::size_t size_ = 0;
    std::vector<std::uint64_t> spans_;
    std::unordered_map<std::size_t, std::string> replaced_;
};

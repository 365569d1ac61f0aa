// The unit-rules file held as an ordered list of byte lines, exactly as read.
#pragma once

#include <cstddef>
#include <cstdio>
#include <functional>
#include <string>
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

    // Replaces the lines by the file's lines. A line ends at CR or CRLF; the
    // terminator is dropped and a lone LF stays inside its line. Reports
    // (bytes read so far, terminators included) / 128, rounded down, / 3600
    // after each line, unclamped. On failure (a file too large for memory
    // included) returns false, sets error to "<path>: <system reason>", and
    // leaves the lines as they were before.
    bool Load(const ProgressSink& sink, const LineHook& onLine, std::string& error);

    // Replaces the file by the lines, each followed by CRLF, reporting i / n
    // for line i of n + 1 (a single line reports 1; no lines report nothing).
    // The old file is replaced only once the new one is complete on disk; on
    // failure it stays byte for byte as it was, the lines are untouched, and
    // error is set to "<path>: <system reason>".
    bool Save(const ProgressSink& sink, std::string& error) const;

    std::size_t LineCount() const { return lines_.size(); }
    // i must be below LineCount().
    const std::string& Line(std::size_t i) const { return lines_[i]; }
    // Replaces line i (below LineCount()); never inserts or removes a line.
    void SetLine(std::size_t i, std::string text) { lines_[i] = std::move(text); }

private:
    // Appends the file's lines; false with the system's reason on a read error.
    bool ReadLines(std::FILE* file, const ProgressSink& sink, const LineHook& onLine, std::string& reason);

    std::string rulesPath_;
    std::vector<std::string> lines_;
};

#include "rules_document.h"

#include "safe_file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

namespace {

constexpr std::size_t kReadChunk = 1 << 20;
// The load bar is calibrated in 128-byte blocks against a full width of 3600
// blocks (460,800 bytes); a larger file simply runs past the full width.
constexpr double kBlocksAtFullWidth = 3600.0;
constexpr std::size_t kBlockBytes = 128;

std::string JoinRulesPath(const std::string& folder) {
    const char sep = safe_file::kPathSeparator;
    std::string path = folder;
    const bool endsWithSeparator = !path.empty() && (path.back() == sep || path.back() == '/');
    if (!endsWithSeparator) path += sep;
    return path + "data" + sep + "unitrules.xml";
}

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};

}  // namespace

RulesDocument::RulesDocument(const std::string& exeFolder) : rulesPath_(JoinRulesPath(exeFolder)) {}

bool RulesDocument::Exists() const { return safe_file::IsRegularFile(rulesPath_); }

bool RulesDocument::Load(const ProgressSink& sink, const LineHook& onLine, std::string& error) {
    std::string reason;
    std::unique_ptr<std::FILE, FileCloser> file(safe_file::OpenForReading(rulesPath_, reason));
    if (!file) {
        error = rulesPath_ + ": " + reason;
        return false;
    }

    // The hook reads the new lines through Line(), so they go straight into
    // lines_; the old ones come back if the read fails part-way, also when
    // the file is too large for memory.
    std::vector<std::string> previous;
    previous.swap(lines_);
    try {
        if (ReadLines(file.get(), sink, onLine, reason)) return true;
    } catch (const std::bad_alloc&) {
        reason = std::strerror(ENOMEM);
    }
    lines_.swap(previous);
    error = rulesPath_ + ": " + reason;
    return false;
}

bool RulesDocument::ReadLines(std::FILE* file, const ProgressSink& sink, const LineHook& onLine, std::string& reason) {
    std::size_t consumed = 0;  // bytes of finished lines, terminators included
    std::string current;
    bool pendingCR = false;  // a CR ended the last chunk; an LF may follow
    auto finishLine = [&] {
        lines_.push_back(std::move(current));
        current.clear();
        if (onLine) onLine(lines_.size() - 1);
        if (sink.processEvents) sink.processEvents();
        if (sink.report) sink.report(static_cast<double>(consumed / kBlockBytes) / kBlocksAtFullWidth);
    };

    const auto buffer = std::make_unique_for_overwrite<char[]>(kReadChunk);
    char* const chunk = buffer.get();
    for (;;) {
        const std::size_t n = std::fread(chunk, 1, kReadChunk, file);
        if (n == 0) {
            if (std::ferror(file)) {
                reason = std::strerror(errno ? errno : EIO);
                return false;
            }
            break;
        }
        std::size_t pos = 0;
        if (pendingCR) {
            pendingCR = false;
            if (chunk[0] == '\n') {
                ++consumed;
                pos = 1;
            }
            finishLine();
        }
        while (pos < n) {
            const void* cr = std::memchr(chunk + pos, '\r', n - pos);
            if (!cr) {
                current.append(chunk + pos, n - pos);
                consumed += n - pos;
                break;
            }
            const std::size_t at = static_cast<std::size_t>(static_cast<const char*>(cr) - chunk);
            current.append(chunk + pos, at - pos);
            consumed += at - pos + 1;
            pos = at + 1;
            if (pos == n) {
                pendingCR = true;
                break;
            }
            if (chunk[pos] == '\n') {
                ++consumed;
                ++pos;
            }
            finishLine();
        }
    }
    if (pendingCR || !current.empty()) finishLine();
    return true;
}

bool RulesDocument::Save(const ProgressSink& sink, std::string& error) const {
    safe_file::Replacement out(rulesPath_);
    bool ok = out.Open();
    const std::size_t count = lines_.size();
    for (std::size_t i = 0; ok && i < count; ++i) {
        ok = out.Write(lines_[i].data(), lines_[i].size()) && out.Write("\r\n", 2);
        if (!ok) break;
        if (sink.report) sink.report(count == 1 ? 1.0 : static_cast<double>(i) / static_cast<double>(count - 1));
        if (sink.processEvents) sink.processEvents();
    }
    if (ok) ok = out.Commit();
    if (!ok) error = rulesPath_ + ": " + out.reason();
    return ok;
}

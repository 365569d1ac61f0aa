#include "rules_document.h"

#include "safe_file.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <string_view>

namespace {

constexpr std::size_t kReadChunk = 1 << 20;
// The load bar is calibrated in 128-byte blocks against a full width of 3600
// blocks (460,800 bytes); a larger file simply runs past the full width.
constexpr double kBlocksAtFullWidth = 3600.0;
constexpr std::size_t kBlockBytes = 128;

std::string JoinRulesPath(const std::string& folder) {
    const char sep = safe_file::kPathSeparator;
    std::string path = folder;
    // Windows takes '/' too, but messages show the path as its users write
    // it: the toolkit reports the folder with '/'.
    if (sep == '\\') std::replace(path.begin(), path.end(), '/', sep);
    const bool endsWithSeparator = !path.empty() && (path.back() == sep || path.back() == '/');
    if (!endsWithSeparator) path += sep;
    return path + "data" + sep + "unitrules.xml";
}

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};

// The whole file into one buffer of its size (grown if the file grows while
// it is read); false with the system's reason on a read error.
bool ReadAll(std::FILE* file, std::unique_ptr<char[]>& bytes, std::size_t& size, std::string& reason) {
    std::size_t capacity = static_cast<std::size_t>(safe_file::SizeOf(file)) + 1;
    bytes = std::make_unique_for_overwrite<char[]>(capacity);
    size = 0;
    for (;;) {
        if (size == capacity) {
            const std::size_t larger = capacity + capacity / 2 + kReadChunk;
            auto grown = std::make_unique_for_overwrite<char[]>(larger);
            std::memcpy(grown.get(), bytes.get(), size);
            bytes = std::move(grown);
            capacity = larger;
        }
        const std::size_t n = std::fread(bytes.get() + size, 1, std::min(kReadChunk, capacity - size), file);
        size += n;
        if (n == 0) break;
    }
    if (std::ferror(file)) {
        reason = std::strerror(errno ? errno : EIO);
        return false;
    }
    return true;
}

// The form of a file of 16- or 32-bit characters, from its first bytes, or
// empty for 8-bit text: a byte-order mark says it, and without one the first
// "<", or the first line break, has a NUL beside it, the other half of its
// character: after it where it starts a character (little-endian), before it
// where it ends one. Both are looked at, as a first character may hold the
// byte of the other. No 8-bit XML text holds a NUL there.
std::string WideTextForm(std::string_view bytes) {
    using namespace std::string_view_literals;
    if (bytes.starts_with("\xFF\xFE\0\0"sv)) return "UTF-32LE text (byte-order mark FF FE 00 00)";
    if (bytes.starts_with("\0\0\xFE\xFF"sv)) return "UTF-32BE text (byte-order mark 00 00 FE FF)";
    if (bytes.starts_with("\xFF\xFE"sv)) return "UTF-16LE text (byte-order mark FF FE)";
    if (bytes.starts_with("\xFE\xFF"sv)) return "UTF-16BE text (byte-order mark FE FF)";
    for (const std::size_t first : {bytes.find('<'), bytes.find_first_of("\r\n"sv)}) {
        if (first == std::string_view::npos) continue;
        const bool startsCharacter = first % 2 == 0;
        if (startsCharacter && first + 1 < bytes.size() && bytes[first + 1] == '\0')
            return "UTF-16LE or UTF-32LE text without a byte-order mark";
        if (!startsCharacter && bytes[first - 1] == '\0') return "UTF-16BE or UTF-32BE text without a byte-order mark";
    }
    return {};
}

}  // namespace

RulesDocument::RulesDocument(const std::string& exeFolder) : rulesPath_(JoinRulesPath(exeFolder)) {}

bool RulesDocument::Exists() const { return safe_file::IsRegularFile(rulesPath_); }

bool RulesDocument::RestoreInterruptedSave(const std::function<void()>& whileWaiting, std::string* error) const {
    std::string reason;
    const bool restored = safe_file::RestoreInterruptedSave(rulesPath_, whileWaiting, reason);
    if (error && !reason.empty()) *error = rulesPath_ + ": the file is missing while " + reason;
    return restored;
}

void RulesDocument::SetLine(std::size_t i, std::string text) {
    replaced_[i] = std::move(text);
    spans_[i] |= kReplaced;
}

RulesDocument::Store RulesDocument::TakeStore() {
    Store store{std::move(bytes_), size_, std::move(spans_), std::move(replaced_)};
    bytes_.reset();
    size_ = 0;
    spans_.clear();
    replaced_.clear();
    return store;
}

void RulesDocument::PutStore(Store store) {
    bytes_ = std::move(store.bytes);
    size_ = store.size;
    spans_ = std::move(store.spans);
    replaced_ = std::move(store.replaced);
}

bool RulesDocument::Load(const ProgressSink& sink, const LineHook& onLine, std::string& error, bool* wideText) {
    if (wideText) *wideText = false;
    std::string reason;
    std::unique_ptr<std::FILE, FileCloser> file(safe_file::OpenForReading(rulesPath_, reason));
    if (!file) {
        error = rulesPath_ + ": " + reason;
        return false;
    }

    // The hook reads the new lines through Line(), so they go straight into
    // the document; the old ones come back if anything fails, also when the
    // file is too large for memory.
    Store previous = TakeStore();
    try {
        if (ReadAll(file.get(), bytes_, size_, reason)) {
            reason = WideTextForm({bytes_.get(), size_});
            if (reason.empty()) {
                // One word per line, allocated once: a CR ends every line but
                // perhaps the last.
                spans_.reserve(static_cast<std::size_t>(std::count(bytes_.get(), bytes_.get() + size_, '\r')) + 2);
                SplitLines(sink, onLine);
                return true;
            }
            reason += "; only 8-bit text is read";
            if (wideText) *wideText = true;
        }
    } catch (const std::bad_alloc&) {
        reason = std::strerror(ENOMEM);
    }
    PutStore(std::move(previous));
    error = rulesPath_ + ": " + reason;
    return false;
}

void RulesDocument::SplitLines(const ProgressSink& sink, const LineHook& onLine) {
    const char* const data = bytes_.get();
    std::size_t start = 0;
    spans_.push_back(0);
    while (start < size_) {
        const void* cr = std::memchr(data + start, '\r', size_ - start);
        const std::size_t end = cr ? static_cast<std::size_t>(static_cast<const char*>(cr) - data) : size_;
        std::uint64_t terminator = 0;
        if (cr) terminator = (end + 1 < size_ && data[end + 1] == '\n') ? 2 : 1;
        const std::size_t next = end + terminator;
        spans_.back() = (std::uint64_t(start) << kStartShift) | (terminator << kTerminatorShift);
        spans_.push_back(std::uint64_t(next) << kStartShift);
        if (onLine) onLine(spans_.size() - 2);
        if (sink.processEvents) sink.processEvents();
        if (sink.report) sink.report(static_cast<double>(next / kBlockBytes) / kBlocksAtFullWidth);
        start = next;
    }
    if (spans_.size() == 1) spans_.clear();  // an empty file has no lines
}

bool RulesDocument::Save(const ProgressSink& sink, std::string& error, SaveFailure* failure) const {
    safe_file::Replacement out(rulesPath_, sink.processEvents);
    bool ok = out.Open();
    const std::size_t count = LineCount();
    for (std::size_t i = 0; ok && i < count; ++i) {
        const std::string_view line = Line(i);
        ok = out.Write(line.data(), line.size()) && out.Write("\r\n", 2);
        if (!ok) break;
        if (sink.report) sink.report(count == 1 ? 1.0 : static_cast<double>(i) / static_cast<double>(count - 1));
        if (sink.processEvents) sink.processEvents();
    }
    if (ok) ok = out.Commit();
    if (!ok) error = rulesPath_ + ": " + out.reason();
    if (failure && !ok) {
        *failure = out.Replaced()     ? SaveFailure::kMayNotBeOnDisk
                   : out.TargetKept() ? SaveFailure::kFileUnchanged
                                      : SaveFailure::kFileMissing;
    }
    return ok;
}

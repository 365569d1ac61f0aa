// Any bytes loaded and saved again come back with every line end made CRLF
// and a final CRLF added, nothing else changed.
#include "fuzz_support.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>

namespace {

// The expected file, built byte by byte: CR and CRLF end a line, a lone LF
// is text.
std::string CrlfLineEnds(const std::string& in) {
    std::string out;
    bool lineOpen = false;
    for (std::size_t i = 0; i < in.size(); ++i) {
        if (in[i] == '\r') {
            if (i + 1 < in.size() && in[i + 1] == '\n') ++i;
            out += "\r\n";
            lineOpen = false;
        } else {
            out += in[i];
            lineOpen = true;
        }
    }
    if (lineOpen) out += "\r\n";
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string input(reinterpret_cast<const char*>(data), size);
    RulesDocument doc = LoadBytes(input);
    if (doc.LineCount() == 0 && size > 0) return 0;  // UTF-16 or UTF-32 text, not read
    std::string error;
    if (!doc.Save({}, error)) {
        std::fprintf(stderr, "save failed: %s\n", error.c_str());
        std::abort();
    }
    std::ifstream saved(doc.RulesPath(), std::ios::binary);
    const std::string output((std::istreambuf_iterator<char>(saved)), std::istreambuf_iterator<char>());
    if (output != CrlfLineEnds(input)) std::abort();
    return 0;
}

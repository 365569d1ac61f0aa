// NormalizeNumber on any text writes a number in the file's form ("."
// separator, no "inf", "nan" or "-0"), and normalizing that again gives the
// same text.
#include "unit_fields.h"

#include <cstdlib>
#include <string>

namespace {

bool FileNumberForm(const std::string& s) {
    std::size_t i = 0;
    if (i < s.size() && s[i] == '-') ++i;
    const std::size_t digits = i;
    while (i < s.size() && s[i] >= '0' && s[i] <= '9') ++i;
    if (i == digits) return false;
    if (i < s.size() && s[i] == '.') {
        const std::size_t fraction = ++i;
        while (i < s.size() && s[i] >= '0' && s[i] <= '9') ++i;
        if (i == fraction || s[i - 1] == '0') return false;  // no trailing zeros
    }
    if (i < s.size() && s[i] == 'E') {
        ++i;
        if (i >= s.size() || (s[i] != '+' && s[i] != '-')) return false;
        const std::size_t exponent = ++i;
        while (i < s.size() && s[i] >= '0' && s[i] <= '9') ++i;
        if (i - exponent < 2) return false;
    }
    return i == s.size() && s != "-0";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const std::string number = NormalizeNumber(text);
    if (!FileNumberForm(number)) std::abort();
    if (NormalizeNumber(number) != number) std::abort();
    return 0;
}

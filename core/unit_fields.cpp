#include "unit_fields.h"

#include <algorithm>
#include <cfloat>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>

const std::array<StatSlot, kSlotCount> kStatSlots{{
    {0, "攻击力", "ATTACK", -49},
    {1, "生命", "HITS", -48},
    {2, "移动力", "MOVES", -47},
    {3, "视野", "LOS", -37},
    {4, "建造时间", "JOB_TIME", -44},
    {5, "护甲", "ARMOR", -32},
    {6, "射程", "RANGE", -38},
    {7, "-", "", -38},
}};

namespace {

constexpr int kMinimumSlot = 6;
constexpr int kMaximumSlot = 7;
constexpr std::string_view kIndent = "    ";
constexpr std::string_view kTypeTag = "<TYPENAME>";

char FoldAscii(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

bool IsLeadByte(char c, ByteForm form) {
    const auto b = static_cast<unsigned char>(c);
    switch (form) {
    case ByteForm::kDoubleByte:
        return b >= 0x81 && b <= 0xFE;
    case ByteForm::kShiftJis:
        return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
    case ByteForm::kAfterAnyHighByte:
        return b >= 0x81;
    case ByteForm::kSingleByte:
    case ByteForm::kShifting:
        break;
    }
    return false;
}

bool EqualIgnoreCase(std::string_view a, std::string_view b, ByteForm form = ByteForm::kSingleByte) {
    if (a.size() != b.size()) return false;
    if (form == ByteForm::kShifting) return a == b;
    bool trail = false;  // a[i] is the second byte of a double-byte character
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (trail ? a[i] != b[i] : FoldAscii(a[i]) != FoldAscii(b[i])) return false;
        trail = (!trail || form == ByteForm::kAfterAnyHighByte) && IsLeadByte(a[i], form);
    }
    return true;
}

bool StartsWithIgnoreCase(std::string_view text, std::string_view prefix, ByteForm form = ByteForm::kSingleByte) {
    return text.size() >= prefix.size() && EqualIgnoreCase(text.substr(0, prefix.size()), prefix, form);
}

bool ContainsIgnoreCase(std::string_view text, std::string_view needle) {
    // needle starts with '<', so only the places of a '<' need a closer look.
    for (std::size_t at = text.find(needle.front()); at != std::string_view::npos;
         at = text.find(needle.front(), at + 1)) {
        if (StartsWithIgnoreCase(text.substr(at), needle)) return true;
    }
    return false;
}

// The form a name is compared in.
ByteForm NameForm(std::string_view name, ByteForm form) { return OpensShiftedRun(name) ? ByteForm::kShifting : form; }

const char* SlotTag(int slot) { return kStatSlots[slot == kMaximumSlot ? kMinimumSlot : slot].tag; }

// The line has a ">" and a "<" after it, so GetValue finds its value.
bool ValueLocated(std::string_view line) {
    const auto open = line.find('>');
    return open != std::string_view::npos && line.find('<', open + 1) != std::string_view::npos;
}

// The first "-" of a range value and the first "rng" (case-sensitive) of the
// whole value; true when both are there and the "rng" follows the "-".
bool SplitRange(std::string_view range, std::size_t& dash, std::size_t& rng) {
    dash = range.find('-');
    rng = range.find("rng");
    return dash != std::string_view::npos && rng != std::string_view::npos && rng > dash;
}

bool InDocument(const RulesDocument& doc, long index) {
    return index >= 0 && static_cast<std::size_t>(index) < doc.LineCount();
}

// --- NormalizeNumber ---------------------------------------------------

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

double Saturate(double value) {
    if (value > DBL_MAX) return DBL_MAX;
    if (value < -DBL_MAX) return -DBL_MAX;
    return value;
}

int DigitValue(char c, int base) {
    int d = base;
    if (IsDigit(c)) d = c - '0';
    else if (base == 16 && FoldAscii(c) >= 'A' && FoldAscii(c) <= 'F') d = FoldAscii(c) - 'A' + 10;
    return d < base ? d : -1;
}

// "&H..." and "&O...": the plain non-negative integer the digits spell,
// rounded once to the nearest double. Both bases are powers of two, so the
// integer's leading 64 bits and whether anything below them is set decide
// the rounding exactly, however many digits there are.
double ReadRadixInteger(std::string_view digits, int base) {
    const int bitsPerDigit = base == 16 ? 4 : 3;
    std::size_t count = 0;
    while (count < digits.size() && DigitValue(digits[count], base) >= 0) ++count;
    digits = digits.substr(0, count);
    while (!digits.empty() && digits.front() == '0') digits.remove_prefix(1);
    if (digits.empty()) return 0;

    std::uint64_t top = 0;  // the leading bits of the integer, at most 64
    int topBits = 0;
    bool sticky = false;    // a set bit below those
    std::uint64_t dropped = 0;  // bits below the leading 64, counted
    for (char c : digits) {
        const auto d = static_cast<std::uint64_t>(DigitValue(c, base));
        for (int bit = bitsPerDigit - 1; bit >= 0; --bit) {
            const std::uint64_t b = (d >> bit) & 1;
            if (topBits == 0 && b == 0) continue;  // leading zero bits of the first digit
            if (topBits < 64) {
                top = (top << 1) | b;
                ++topBits;
            } else {
                sticky = sticky || b != 0;
                ++dropped;
            }
        }
    }
    // 64 bits round to 53 at bit 10; bit 0 stands in for everything below.
    if (sticky) top |= 1;
    if (dropped > 2000) return DBL_MAX;
    return Saturate(std::ldexp(static_cast<double>(top), static_cast<int>(dropped)));
}

// Sign, digits, one ".", digits, then an exponent only if it has digits.
// The value is decided from the significant digits and one exact decimal
// exponent, so no length of text moves it.
double ReadDecimal(std::string_view s) {
    std::size_t i = 0;
    bool negative = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
    const std::size_t intStart = i;
    while (i < s.size() && IsDigit(s[i])) ++i;
    const std::string_view intDigits = s.substr(intStart, i - intStart);
    std::string_view fracDigits;
    if (i < s.size() && s[i] == '.') {
        const std::size_t fracStart = ++i;
        while (i < s.size() && IsDigit(s[i])) ++i;
        fracDigits = s.substr(fracStart, i - fracStart);
    }
    if (intDigits.empty() && fracDigits.empty()) return 0;

    long long exponent = 0;
    if (i < s.size() && FoldAscii(s[i]) == 'E') {
        std::size_t j = i + 1;
        bool expNegative = false;
        if (j < s.size() && (s[j] == '+' || s[j] == '-')) expNegative = s[j++] == '-';
        // Beyond any text's length in digits, so capping it changes nothing,
        // and small enough never to overflow.
        constexpr long long kExponentCap = 100'000'000'000'000'000;
        for (; j < s.size() && IsDigit(s[j]); ++j)
            exponent = std::min(exponent * 10 + (s[j] - '0'), kExponentCap);
        if (expNegative) exponent = -exponent;
    }

    // The significant digits, without leading zeros, and the decimal
    // exponent of the first of them: value = 0.d1d2d3... * 10^(lead + 1).
    std::string_view significant;
    long long lead = 0;
    if (const auto first = intDigits.find_first_not_of('0'); first != std::string_view::npos) {
        lead = static_cast<long long>(intDigits.size() - first) - 1;
        significant = intDigits.substr(first);
    } else if (const auto firstFrac = fracDigits.find_first_not_of('0'); firstFrac != std::string_view::npos) {
        lead = -static_cast<long long>(firstFrac) - 1;
    } else {
        return 0;
    }
    const long long scale = lead + exponent;  // decimal exponent of the leading digit
    if (scale > 400) return negative ? -DBL_MAX : DBL_MAX;
    if (scale < -400) return 0;

    std::string canonical;
    canonical.reserve(intDigits.size() + fracDigits.size() + 24);
    canonical.append("0.");
    if (!significant.empty()) {
        canonical.append(significant).append(fracDigits);
    } else {
        canonical.append(fracDigits.substr(fracDigits.find_first_not_of('0')));
    }
    canonical.append("e").append(std::to_string(scale + 1));

    double value = 0;
    const auto result = std::from_chars(canonical.data(), canonical.data() + canonical.size(), value,
                                        std::chars_format::general);
    if (result.ec == std::errc::result_out_of_range) value = scale > 0 ? DBL_MAX : 0.0;
    value = Saturate(value);
    return negative ? -value : value;
}

// General format of up to 15 significant digits, like "%.15G" in the C locale.
std::string FormatGeneral(double value) {
    if (value == 0) return "0";  // also turns -0 into 0
    char buffer[64];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::general, 15);
    std::string text(buffer, result.ptr);
    for (char& c : text)
        if (c == 'e') c = 'E';
    return text;
}

}  // namespace

std::string GetValue(std::string_view line) {
    const auto open = line.find('>');
    if (open == std::string_view::npos) return {};
    const auto close = line.find('<', open + 1);
    if (close == std::string_view::npos) return {};
    return std::string(line.substr(open + 1, close - open - 1));
}

std::string GetValue(const RulesDocument& doc, long lindex) {
    return InDocument(doc, lindex) ? GetValue(doc.Line(static_cast<std::size_t>(lindex))) : std::string();
}

bool OpensShiftedRun(std::string_view name) {
    return name.find_first_of("\x1B\x0E") != std::string_view::npos || name.find("~{") != std::string_view::npos;
}

bool UnitIndex::onLine(const RulesDocument& doc, std::size_t lineIndex) {
    const std::string_view line = doc.Line(lineIndex);
    if (!ContainsIgnoreCase(line, kTypeTag)) return false;
    names_.push_back(GetValue(line));
    return true;
}

int UnitIndex::FindUnitByPrefix(std::string_view prefix, ByteForm form) const {
    if (prefix.empty()) return -1;
    for (std::size_t i = 0; i < names_.size(); ++i)
        if (StartsWithIgnoreCase(names_[i], prefix, NameForm(names_[i], form))) return static_cast<int>(i);
    return -1;
}

long FindTypeLine(const RulesDocument& doc, std::string_view name, ByteForm form) {
    constexpr std::string_view kClose = "</TYPENAME>";
    std::string open;
    open.append(kIndent).append(kTypeTag);
    const ByteForm nameForm = NameForm(name, form);
    for (std::size_t i = 0; i < doc.LineCount(); ++i) {
        const std::string_view line = doc.Line(i);
        if (line.size() != open.size() + name.size() + kClose.size()) continue;
        // The tags are ASCII in every form; the name is compared in its own.
        if (EqualIgnoreCase(line.substr(0, open.size()), open) &&
            EqualIgnoreCase(line.substr(open.size(), name.size()), name, nameForm) &&
            EqualIgnoreCase(line.substr(open.size() + name.size()), kClose))
            return static_cast<long>(i);
    }
    return -1;
}

SlotTexts ReadSlots(const RulesDocument& doc, long typeLine) {
    SlotTexts texts;
    if (!InDocument(doc, typeLine)) return texts;
    for (int slot = 0; slot < kMinimumSlot; ++slot) texts[slot] = GetValue(doc, typeLine + kStatSlots[slot].offset);

    const std::string range = GetValue(doc, typeLine + kStatSlots[kMinimumSlot].offset);
    std::size_t dash = 0, rng = 0;
    const bool whole = SplitRange(range, dash, rng);
    if (dash == std::string::npos) return texts;
    texts[kMinimumSlot] = range.substr(0, dash);
    if (whole) texts[kMaximumSlot] = range.substr(dash + 1, rng - dash - 1);
    return texts;
}

bool SlotWritable(const RulesDocument& doc, long typeLine, int slot) {
    if (slot < 0 || slot >= kSlotCount || !InDocument(doc, typeLine)) return false;
    const long target = typeLine + kStatSlots[slot].offset;
    if (!InDocument(doc, target)) return false;
    const std::string_view whole = doc.Line(static_cast<std::size_t>(target));
    std::string_view line = whole;
    const auto text = line.find_first_not_of(" \t");
    if (text == std::string_view::npos) return false;
    line.remove_prefix(text);
    const std::string_view tag = SlotTag(slot);
    const bool ownTag = line.size() > tag.size() + 1 && line[0] == '<' && StartsWithIgnoreCase(line.substr(1), tag) &&
                        line[tag.size() + 1] == '>';
    // A value that cannot be located reads as empty; writing it would put 0
    // in place of whatever the line really holds.
    if (!ownTag || !ValueLocated(whole)) return false;
    if (slot < kMinimumSlot) return true;
    std::size_t dash = 0, rng = 0;
    return SplitRange(GetValue(whole), dash, rng);
}

bool WriteSlot(RulesDocument& doc, long typeLine, int slot, const SlotTexts& texts) {
    if (!SlotWritable(doc, typeLine, slot)) return false;
    const std::string tag = SlotTag(slot);
    std::string value;
    if (slot >= kMinimumSlot)
        value = NormalizeNumber(texts[kMinimumSlot]) + "-" + NormalizeNumber(texts[kMaximumSlot]) + "rng";
    else
        value = NormalizeNumber(texts[slot]);
    const std::string line = std::string(kIndent) + "<" + tag + ">" + value + "</" + tag + ">";
    doc.SetLine(static_cast<std::size_t>(typeLine + kStatSlots[slot].offset), line);
    return true;
}

std::string NormalizeNumber(std::string_view text) {
    std::string compact;
    compact.reserve(text.size());
    for (char c : text)
        if (c != ' ' && c != '\t' && c != '\n') compact += c;
    const std::string_view s = compact;
    if (s.size() >= 2 && s[0] == '&' && FoldAscii(s[1]) == 'H') return FormatGeneral(ReadRadixInteger(s.substr(2), 16));
    if (s.size() >= 2 && s[0] == '&' && FoldAscii(s[1]) == 'O') return FormatGeneral(ReadRadixInteger(s.substr(2), 8));
    return FormatGeneral(ReadDecimal(s));
}

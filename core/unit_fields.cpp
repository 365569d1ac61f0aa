#include "unit_fields.h"

#include <algorithm>
#include <cfloat>
#include <charconv>
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

bool EqualIgnoreCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (FoldAscii(a[i]) != FoldAscii(b[i])) return false;
    return true;
}

bool StartsWithIgnoreCase(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() && EqualIgnoreCase(text.substr(0, prefix.size()), prefix);
}

bool ContainsIgnoreCase(std::string_view text, std::string_view needle) {
    // needle starts with '<', so only the places of a '<' need a closer look.
    for (std::size_t at = text.find(needle.front()); at != std::string_view::npos;
         at = text.find(needle.front(), at + 1)) {
        if (StartsWithIgnoreCase(text.substr(at), needle)) return true;
    }
    return false;
}

const char* SlotTag(int slot) { return kStatSlots[slot == kMaximumSlot ? kMinimumSlot : slot].tag; }

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

// "&H..." and "&O...": the plain non-negative integer the digits spell.
double ReadRadixInteger(std::string_view digits, int base) {
    double value = 0;
    for (char c : digits) {
        int d;
        if (IsDigit(c)) d = c - '0';
        else if (base == 16 && FoldAscii(c) >= 'A' && FoldAscii(c) <= 'F') d = FoldAscii(c) - 'A' + 10;
        else break;
        if (d >= base) break;
        value = Saturate(value * base + d);
    }
    return value;
}

// Sign, digits, one ".", digits, then an exponent only if it has digits.
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
        // Far beyond any double's range, and small enough never to overflow.
        constexpr long long kExponentCap = 100000000;
        for (; j < s.size() && IsDigit(s[j]); ++j)
            exponent = std::min(exponent * 10 + (s[j] - '0'), kExponentCap);
        if (expNegative) exponent = -exponent;
    }

    // The decimal exponent of the leading significant digit tells overflow
    // from underflow when the value does not fit a double.
    long long magnitude = 0;
    bool zero = true;
    if (const auto lead = intDigits.find_first_not_of('0'); lead != std::string_view::npos) {
        magnitude = static_cast<long long>(intDigits.size() - lead) - 1;
        zero = false;
    } else if (const auto first = fracDigits.find_first_not_of('0'); first != std::string_view::npos) {
        magnitude = -static_cast<long long>(first) - 1;
        zero = false;
    }
    if (zero) return 0;

    std::string canonical;
    canonical.reserve(intDigits.size() + fracDigits.size() + 24);
    canonical.append(intDigits.empty() ? std::string_view("0") : intDigits);
    if (!fracDigits.empty()) canonical.append(".").append(fracDigits);
    canonical.append("e").append(std::to_string(exponent));

    double value = 0;
    const auto result = std::from_chars(canonical.data(), canonical.data() + canonical.size(), value,
                                        std::chars_format::general);
    if (result.ec == std::errc::result_out_of_range) value = (magnitude + exponent > 0) ? DBL_MAX : 0.0;
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

bool UnitIndex::onLine(const RulesDocument& doc, std::size_t lineIndex) {
    const std::string& line = doc.Line(lineIndex);
    if (!ContainsIgnoreCase(line, kTypeTag)) return false;
    names_.push_back(GetValue(line));
    return true;
}

int UnitIndex::FindUnitByPrefix(std::string_view prefix) const {
    if (prefix.empty()) return -1;
    for (std::size_t i = 0; i < names_.size(); ++i)
        if (StartsWithIgnoreCase(names_[i], prefix)) return static_cast<int>(i);
    return -1;
}

long FindTypeLine(const RulesDocument& doc, std::string_view name) {
    std::string key;
    key.reserve(name.size() + 30);
    key.append(kIndent).append(kTypeTag).append(name).append("</TYPENAME>");
    for (std::size_t i = 0; i < doc.LineCount(); ++i)
        if (EqualIgnoreCase(doc.Line(i), key)) return static_cast<long>(i);
    return -1;
}

SlotTexts ReadSlots(const RulesDocument& doc, long typeLine) {
    SlotTexts texts;
    if (!InDocument(doc, typeLine)) return texts;
    for (int slot = 0; slot < kMinimumSlot; ++slot) texts[slot] = GetValue(doc, typeLine + kStatSlots[slot].offset);

    const std::string range = GetValue(doc, typeLine + kStatSlots[kMinimumSlot].offset);
    const auto dash = range.find('-');
    if (dash == std::string::npos) return texts;
    texts[kMinimumSlot] = range.substr(0, dash);
    const auto rng = range.find("rng");
    if (rng != std::string::npos && rng > dash) texts[kMaximumSlot] = range.substr(dash + 1, rng - dash - 1);
    return texts;
}

bool SlotWritable(const RulesDocument& doc, long typeLine, int slot) {
    if (slot < 0 || slot >= kSlotCount || !InDocument(doc, typeLine)) return false;
    const long target = typeLine + kStatSlots[slot].offset;
    if (!InDocument(doc, target)) return false;
    std::string_view line = doc.Line(static_cast<std::size_t>(target));
    const auto text = line.find_first_not_of(" \t");
    if (text == std::string_view::npos) return false;
    line.remove_prefix(text);
    const std::string_view tag = SlotTag(slot);
    return line.size() > tag.size() + 1 && line[0] == '<' && StartsWithIgnoreCase(line.substr(1), tag) &&
           line[tag.size() + 1] == '>';
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

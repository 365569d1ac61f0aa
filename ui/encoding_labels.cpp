#include "encoding_labels.h"

#include <algorithm>
#include <array>
#include <iterator>
#include <utility>

namespace {

constexpr ByteForm kOne = ByteForm::kSingleByte;
constexpr ByteForm kTwo = ByteForm::kDoubleByte;

// The encodings of the web's table, with the code pages Windows converts
// them with. ISO-8859-8-I has the bytes of ISO-8859-8; Big5 is read as
// Windows writes it (950), the Korean one as code page 949, a superset of
// EUC-KR.
enum Id {
    kUtf8, kIbm866, kIso2, kIso3, kIso4, kIso5, kIso6, kIso7, kIso8, kIso8I, kIso10, kIso13, kIso14, kIso15,
    kIso16, kKoi8R, kKoi8U, kMacintosh, kWin874, kWin1250, kWin1251, kWin1252, kWin1253, kWin1254, kWin1255,
    kWin1256, kWin1257, kWin1258, kMacCyrillic, kGbk, kGb18030, kBig5, kEucJp, kIso2022Jp, kShiftJis, kEucKr,
    kReplacement, kUtf16Be, kUtf16Le, kUserDefined, kEncodingCount
};

constexpr std::array<KnownEncoding, kEncodingCount> kEncodings{{
    {"utf-8", "UTF-8", 65001, kOne, true},
    {"ibm866", "IBM866", 866, kOne, true},
    {"iso-8859-2", "ISO-8859-2", 28592, kOne, true},
    {"iso-8859-3", "ISO-8859-3", 28593, kOne, true},
    {"iso-8859-4", "ISO-8859-4", 28594, kOne, true},
    {"iso-8859-5", "ISO-8859-5", 28595, kOne, true},
    {"iso-8859-6", "ISO-8859-6", 28596, kOne, true},
    {"iso-8859-7", "ISO-8859-7", 28597, kOne, true},
    {"iso-8859-8", "ISO-8859-8", 28598, kOne, true},
    {"iso-8859-8-i", "ISO-8859-8", 28598, kOne, true},
    {"iso-8859-10", "ISO-8859-10", 0, kOne, true},
    {"iso-8859-13", "ISO-8859-13", 28603, kOne, true},
    {"iso-8859-14", "ISO-8859-14", 0, kOne, true},
    {"iso-8859-15", "ISO-8859-15", 28605, kOne, true},
    {"iso-8859-16", "ISO-8859-16", 0, kOne, true},
    {"koi8-r", "KOI8-R", 20866, kOne, true},
    {"koi8-u", "KOI8-U", 21866, kOne, true},
    {"macintosh", "macintosh", 10000, kOne, true},
    {"windows-874", "windows-874", 874, kOne, true},
    {"windows-1250", "windows-1250", 1250, kOne, true},
    {"windows-1251", "windows-1251", 1251, kOne, true},
    {"windows-1252", "windows-1252", 1252, kOne, true},
    {"windows-1253", "windows-1253", 1253, kOne, true},
    {"windows-1254", "windows-1254", 1254, kOne, true},
    {"windows-1255", "windows-1255", 1255, kOne, true},
    {"windows-1256", "windows-1256", 1256, kOne, true},
    {"windows-1257", "windows-1257", 1257, kOne, true},
    {"windows-1258", "windows-1258", 1258, kOne, true},
    {"x-mac-cyrillic", "x-mac-cyrillic", 10017, kOne, true},
    {"gbk", "GBK", 936, kTwo, true},
    {"gb18030", "GB18030", 54936, kTwo, true},
    {"big5", "Big5", 950, kTwo, true},
    {"euc-jp", "EUC-JP", 20932, kTwo, true},
    {"iso-2022-jp", "ISO-2022-JP", 50220, kOne, false},
    {"shift_jis", "Shift_JIS", 932, ByteForm::kShiftJis, true},
    {"euc-kr", "windows-949", 949, kTwo, true},
    {"replacement", "", 0, kOne, false},
    {"utf-16be", "UTF-16BE", 1201, kOne, false},
    {"utf-16le", "UTF-16LE", 1200, kOne, false},
    {"x-user-defined", "", 0, kOne, true},
}};

struct Label {
    std::string_view label;
    Id id;
};

// Lower case, as the web's table lists them. "euc-cn" is not among the web's
// labels, but every Chinese system writes GB2312 in its EUC form under that
// name, and GBK is its superset.
constexpr Label kLabels[] = {
    {"unicode-1-1-utf-8", kUtf8}, {"unicode11utf8", kUtf8}, {"unicode20utf8", kUtf8}, {"utf-8", kUtf8},
    {"utf8", kUtf8}, {"x-unicode20utf8", kUtf8},
    {"866", kIbm866}, {"cp866", kIbm866}, {"csibm866", kIbm866}, {"ibm866", kIbm866},
    {"csisolatin2", kIso2}, {"iso-8859-2", kIso2}, {"iso-ir-101", kIso2}, {"iso8859-2", kIso2}, {"iso88592", kIso2},
    {"iso_8859-2", kIso2}, {"iso_8859-2:1987", kIso2}, {"l2", kIso2}, {"latin2", kIso2},
    {"csisolatin3", kIso3}, {"iso-8859-3", kIso3}, {"iso-ir-109", kIso3}, {"iso8859-3", kIso3}, {"iso88593", kIso3},
    {"iso_8859-3", kIso3}, {"iso_8859-3:1988", kIso3}, {"l3", kIso3}, {"latin3", kIso3},
    {"csisolatin4", kIso4}, {"iso-8859-4", kIso4}, {"iso-ir-110", kIso4}, {"iso8859-4", kIso4}, {"iso88594", kIso4},
    {"iso_8859-4", kIso4}, {"iso_8859-4:1988", kIso4}, {"l4", kIso4}, {"latin4", kIso4},
    {"csisolatincyrillic", kIso5}, {"cyrillic", kIso5}, {"iso-8859-5", kIso5}, {"iso-ir-144", kIso5},
    {"iso8859-5", kIso5}, {"iso88595", kIso5}, {"iso_8859-5", kIso5}, {"iso_8859-5:1988", kIso5},
    {"arabic", kIso6}, {"asmo-708", kIso6}, {"csiso88596e", kIso6}, {"csiso88596i", kIso6},
    {"csisolatinarabic", kIso6}, {"ecma-114", kIso6}, {"iso-8859-6", kIso6}, {"iso-8859-6-e", kIso6},
    {"iso-8859-6-i", kIso6}, {"iso-ir-127", kIso6}, {"iso8859-6", kIso6}, {"iso88596", kIso6},
    {"iso_8859-6", kIso6}, {"iso_8859-6:1987", kIso6},
    {"csisolatingreek", kIso7}, {"ecma-118", kIso7}, {"elot_928", kIso7}, {"greek", kIso7}, {"greek8", kIso7},
    {"iso-8859-7", kIso7}, {"iso-ir-126", kIso7}, {"iso8859-7", kIso7}, {"iso88597", kIso7}, {"iso_8859-7", kIso7},
    {"iso_8859-7:1987", kIso7}, {"sun_eu_greek", kIso7},
    {"csiso88598e", kIso8}, {"csisolatinhebrew", kIso8}, {"hebrew", kIso8}, {"iso-8859-8", kIso8},
    {"iso-8859-8-e", kIso8}, {"iso-ir-138", kIso8}, {"iso8859-8", kIso8}, {"iso88598", kIso8},
    {"iso_8859-8", kIso8}, {"iso_8859-8:1988", kIso8}, {"visual", kIso8},
    {"csiso88598i", kIso8I}, {"iso-8859-8-i", kIso8I}, {"logical", kIso8I},
    {"csisolatin6", kIso10}, {"iso-8859-10", kIso10}, {"iso-ir-157", kIso10}, {"iso8859-10", kIso10},
    {"iso885910", kIso10}, {"l6", kIso10}, {"latin6", kIso10},
    {"iso-8859-13", kIso13}, {"iso8859-13", kIso13}, {"iso885913", kIso13},
    {"iso-8859-14", kIso14}, {"iso8859-14", kIso14}, {"iso885914", kIso14},
    {"csisolatin9", kIso15}, {"iso-8859-15", kIso15}, {"iso8859-15", kIso15}, {"iso885915", kIso15},
    {"iso_8859-15", kIso15}, {"l9", kIso15},
    {"iso-8859-16", kIso16},
    {"cskoi8r", kKoi8R}, {"koi", kKoi8R}, {"koi8", kKoi8R}, {"koi8-r", kKoi8R}, {"koi8_r", kKoi8R},
    {"koi8-ru", kKoi8U}, {"koi8-u", kKoi8U},
    {"csmacintosh", kMacintosh}, {"mac", kMacintosh}, {"macintosh", kMacintosh}, {"x-mac-roman", kMacintosh},
    {"dos-874", kWin874}, {"iso-8859-11", kWin874}, {"iso8859-11", kWin874}, {"iso885911", kWin874},
    {"tis-620", kWin874}, {"windows-874", kWin874},
    {"cp1250", kWin1250}, {"windows-1250", kWin1250}, {"x-cp1250", kWin1250},
    {"cp1251", kWin1251}, {"windows-1251", kWin1251}, {"x-cp1251", kWin1251},
    {"ansi_x3.4-1968", kWin1252}, {"ascii", kWin1252}, {"cp1252", kWin1252}, {"cp819", kWin1252},
    {"csisolatin1", kWin1252}, {"ibm819", kWin1252}, {"iso-8859-1", kWin1252}, {"iso-ir-100", kWin1252},
    {"iso8859-1", kWin1252}, {"iso88591", kWin1252}, {"iso_8859-1", kWin1252}, {"iso_8859-1:1987", kWin1252},
    {"l1", kWin1252}, {"latin1", kWin1252}, {"us-ascii", kWin1252}, {"windows-1252", kWin1252},
    {"x-cp1252", kWin1252},
    {"cp1253", kWin1253}, {"windows-1253", kWin1253}, {"x-cp1253", kWin1253},
    {"cp1254", kWin1254}, {"csisolatin5", kWin1254}, {"iso-8859-9", kWin1254}, {"iso-ir-148", kWin1254},
    {"iso8859-9", kWin1254}, {"iso88599", kWin1254}, {"iso_8859-9", kWin1254}, {"iso_8859-9:1989", kWin1254},
    {"l5", kWin1254}, {"latin5", kWin1254}, {"windows-1254", kWin1254}, {"x-cp1254", kWin1254},
    {"cp1255", kWin1255}, {"windows-1255", kWin1255}, {"x-cp1255", kWin1255},
    {"cp1256", kWin1256}, {"windows-1256", kWin1256}, {"x-cp1256", kWin1256},
    {"cp1257", kWin1257}, {"windows-1257", kWin1257}, {"x-cp1257", kWin1257},
    {"cp1258", kWin1258}, {"windows-1258", kWin1258}, {"x-cp1258", kWin1258},
    {"x-mac-cyrillic", kMacCyrillic}, {"x-mac-ukrainian", kMacCyrillic},
    {"chinese", kGbk}, {"csgb2312", kGbk}, {"csiso58gb231280", kGbk}, {"gb2312", kGbk}, {"gb_2312", kGbk},
    {"gb_2312-80", kGbk}, {"gbk", kGbk}, {"iso-ir-58", kGbk}, {"x-gbk", kGbk}, {"euc-cn", kGbk},
    {"gb18030", kGb18030},
    {"big5", kBig5}, {"big5-hkscs", kBig5}, {"cn-big5", kBig5}, {"csbig5", kBig5}, {"x-x-big5", kBig5},
    {"cseucpkdfmtjapanese", kEucJp}, {"euc-jp", kEucJp}, {"x-euc-jp", kEucJp},
    {"csiso2022jp", kIso2022Jp}, {"iso-2022-jp", kIso2022Jp},
    {"csshiftjis", kShiftJis}, {"ms932", kShiftJis}, {"ms_kanji", kShiftJis}, {"shift-jis", kShiftJis},
    {"shift_jis", kShiftJis}, {"sjis", kShiftJis}, {"windows-31j", kShiftJis}, {"x-sjis", kShiftJis},
    {"cseuckr", kEucKr}, {"csksc56011987", kEucKr}, {"euc-kr", kEucKr}, {"iso-ir-149", kEucKr},
    {"korean", kEucKr}, {"ks_c_5601-1987", kEucKr}, {"ks_c_5601-1989", kEucKr}, {"ksc5601", kEucKr},
    {"ksc_5601", kEucKr}, {"windows-949", kEucKr},
    {"csiso2022kr", kReplacement}, {"hz-gb-2312", kReplacement}, {"iso-2022-cn", kReplacement},
    {"iso-2022-cn-ext", kReplacement}, {"iso-2022-kr", kReplacement}, {"replacement", kReplacement},
    {"unicodefffe", kUtf16Be}, {"utf-16be", kUtf16Be},
    {"csunicode", kUtf16Le}, {"iso-10646-ucs-2", kUtf16Le}, {"ucs-2", kUtf16Le}, {"unicode", kUtf16Le},
    {"unicodefeff", kUtf16Le}, {"utf-16", kUtf16Le}, {"utf-16le", kUtf16Le},
    {"x-user-defined", kUserDefined},
};

// UTF-7 under the names Windows and mail programs write.
constexpr std::string_view kUtf7Labels[] = {"utf-7", "utf7", "csutf7", "unicode-1-1-utf-7", "csunicode11utf7",
                                            "unicode-2-0-utf-7", "x-unicode-1-1-utf-7", "x-unicode-2-0-utf-7"};

constexpr EncodingLabel MakeEntry(const Label& label) { return {label.label, &kEncodings[label.id]}; }

template <std::size_t... I>
constexpr std::array<EncodingLabel, sizeof...(I)> MakeEntries(std::index_sequence<I...>) {
    return {MakeEntry(kLabels[I])...};
}
constexpr auto kEntries = MakeEntries(std::make_index_sequence<std::size(kLabels)>());

char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

// The web's whitespace: tab, line feed, form feed, carriage return, space.
bool IsWebBlank(char c) { return c == '\t' || c == '\n' || c == '\f' || c == '\r' || c == ' '; }
bool IsXmlBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

bool EqualsLowered(std::string_view label, std::string_view lower) {
    if (label.size() != lower.size()) return false;
    for (std::size_t i = 0; i < label.size(); ++i)
        if (LowerAscii(label[i]) != lower[i]) return false;
    return true;
}

std::string_view TrimWebBlanks(std::string_view label) {
    while (!label.empty() && IsWebBlank(label.front())) label.remove_prefix(1);
    while (!label.empty() && IsWebBlank(label.back())) label.remove_suffix(1);
    return label;
}

// True when text, shorter than whole, is how whole begins: more bytes may
// still complete it.
bool IsCutShort(std::string_view text, std::string_view whole) {
    return text.size() < whole.size() && whole.substr(0, text.size()) == text;
}

}  // namespace

bool IsUtf7Label(std::string_view label) {
    label = TrimWebBlanks(label);
    for (std::string_view utf7 : kUtf7Labels)
        if (EqualsLowered(label, utf7)) return true;
    return false;
}

const KnownEncoding* ResolveLabel(std::string_view label) {
    label = TrimWebBlanks(label);
    for (const EncodingLabel& entry : kEntries)
        if (EqualsLowered(label, entry.label)) return entry.encoding;
    return nullptr;
}

bool KeepsNoAscii(std::string_view label) {
    const KnownEncoding* known = ResolveLabel(label);
    return (known && !known->keepsAscii) || IsUtf7Label(label);
}

bool HasUtf8ByteOrderMark(std::string_view start) { return start.substr(0, 3) == "\xEF\xBB\xBF"; }

namespace {

// Whether any word of a declaration the XML rules reject names an encoding
// that does not keep ASCII: the file it opens may still be in it.
bool AnyWordKeepsNoAscii(std::string_view declaration) {
    declaration = declaration.substr(0, declaration.find("?>"));
    for (std::size_t at = 0; at < declaration.size();) {
        const std::size_t end = std::min(declaration.find_first_of(" \t\r\n=\"'<>?", at), declaration.size());
        if (KeepsNoAscii(declaration.substr(at, end - at))) return true;
        at = end + 1;
    }
    return false;
}

DeclarationState ReadAttributes(std::string_view text, std::size_t at, DeclarationState cutShort,
                                std::string_view& label, bool* namesNoAscii);

}  // namespace

DeclarationState ReadDeclaration(std::string_view start, std::string_view& label, bool* namesNoAscii) {
    label = {};
    if (namesNoAscii) *namesNoAscii = false;
    constexpr std::string_view kMark = "\xEF\xBB\xBF";
    constexpr std::string_view kOpen = "<?xml";
    // Past the limit nothing more is read: what is cut off there is no
    // declaration.
    const bool whole = start.size() >= kDeclarationLimit;
    const DeclarationState cutShort = whole ? DeclarationState::kNone : DeclarationState::kOpen;
    std::string_view text = start.substr(0, kDeclarationLimit);
    if (IsCutShort(text, kMark)) return cutShort;
    if (HasUtf8ByteOrderMark(text)) text.remove_prefix(kMark.size());
    if (IsCutShort(text, kOpen)) return cutShort;
    if (text.substr(0, kOpen.size()) != kOpen) return DeclarationState::kNone;
    const DeclarationState state = ReadAttributes(text, kOpen.size(), cutShort, label, namesNoAscii);
    if (state == DeclarationState::kNone && namesNoAscii && AnyWordKeepsNoAscii(text)) *namesNoAscii = true;
    return state;
}

namespace {

DeclarationState ReadAttributes(std::string_view text, std::size_t at, DeclarationState cutShort,
                                std::string_view& label, bool* namesNoAscii) {
    // Each pseudo-attribute is preceded by blanks: name, "=", a quoted value.
    // Past a name XML does not allow there the values are still read, for
    // namesNoAscii.
    constexpr std::string_view kNames[] = {"version", "encoding", "standalone"};
    std::size_t allowedFrom = 0;  // in kNames
    bool allowed = true;
    std::string_view encoding;
    for (;;) {
        const std::size_t before = at;
        while (at < text.size() && IsXmlBlank(text[at])) ++at;
        if (text.substr(at, 2) == "?>") {
            if (!allowed) return DeclarationState::kNone;
            label = encoding;
            return DeclarationState::kComplete;
        }
        if (at >= text.size() || (at == text.size() - 1 && text[at] == '?')) return cutShort;
        if (at == before) return DeclarationState::kNone;  // "<?xml-stylesheet", "<?xmlfoo"
        const std::size_t nameStart = at;
        while (at < text.size() && text[at] != '=' && !IsXmlBlank(text[at]) && text[at] != '?' && text[at] != '<') ++at;
        const std::string_view name = text.substr(nameStart, at - nameStart);
        while (at < text.size() && IsXmlBlank(text[at])) ++at;
        if (at >= text.size()) return cutShort;
        if (name.empty() || text[at] != '=') return DeclarationState::kNone;
        ++at;
        while (at < text.size() && IsXmlBlank(text[at])) ++at;
        if (at >= text.size()) return cutShort;
        if (text[at] != '"' && text[at] != '\'') return DeclarationState::kNone;
        const std::size_t close = text.find_first_of(text[at] == '"' ? "\"<" : "'<", at + 1);
        if (close == std::string_view::npos) return cutShort;
        if (text[close] == '<') return DeclarationState::kNone;
        const std::string_view value = text.substr(at + 1, close - at - 1);
        if (namesNoAscii && KeepsNoAscii(value)) *namesNoAscii = true;
        const auto* known = std::find(std::begin(kNames) + allowedFrom, std::end(kNames), name);
        allowed = allowed && known != std::end(kNames);
        if (allowed) allowedFrom = static_cast<std::size_t>(known - std::begin(kNames)) + 1;
        if (name == "encoding") encoding = value;
        at = close + 1;
    }
}

}  // namespace

std::string_view DeclaredLabel(std::string_view start) {
    std::string_view label;
    return ReadDeclaration(start, label) == DeclarationState::kComplete ? label : std::string_view();
}

const EncodingLabel* AllLabels(std::size_t& count) {
    count = kEntries.size();
    return kEntries.data();
}

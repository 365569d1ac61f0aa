// The meaning of the rules file's lines: the unit list, a unit's TYPENAME
// line, and the seven statistics that stand at fixed distances above it.
// Every line read or written here has the form four blanks, <TAG>, value,
// </TAG>. Case is ignored only for the letters A to Z.
#pragma once

#include "rules_document.h"

#include <array>
#include <string>
#include <string_view>
#include <vector>

// One statistic box of the editor: its caption, the tag of its line, and the
// distance of that line from the unit's TYPENAME line. Slots 6 and 7 are the
// minimum and maximum of the one RANGE line ("1-8rng").
struct StatSlot {
    int slot;
    const char* caption;  // UTF-8
    const char* tag;      // empty for slot 7, which writes with slot 6's tag
    int offset;           // negative: lines above the TYPENAME line
};

inline constexpr int kSlotCount = 8;
extern const std::array<StatSlot, kSlotCount> kStatSlots;

// The order in which ReadSlots' texts are put into the boxes; the range line
// is rewritten twice on the way (new minimum with the old maximum, then both).
inline constexpr std::array<int, kSlotCount> kFillOrder{0, 1, 2, 4, 3, 5, 6, 7};

using SlotTexts = std::array<std::string, kSlotCount>;

// The text between the first ">" and the next "<" after it; empty when the
// line has no ">" or no "<" after it.
std::string GetValue(std::string_view line);
std::string GetValue(const RulesDocument& doc, long lindex);

// How the file's bytes make characters, as far as ignoring case goes: in a
// double-byte code page the byte after a lead byte is the second half of one
// character and is never folded, even where it has the value of a letter
// (GBK writes 結 as BD 59 and 統 as BD 79).
enum class ByteForm {
    kSingleByte,  // one byte a character, or UTF-8 (whose bytes from 0x80 up are no letters)
    kDoubleByte,  // GBK, GB18030, Big5, UHC: lead bytes 0x81 to 0xFE
    kShiftJis,    // lead bytes 0x81 to 0x9F and 0xE0 to 0xFC
    // Bytes of a code page not known: the byte after any byte from 0x81 up
    // is never folded, whatever pairs the bytes make.
    kAfterAnyHighByte,
    // Text that may shift into characters made of ASCII bytes (ISO-2022,
    // HZ, UTF-7: ESC $ B J A is one character, J a another): no byte is
    // folded at all.
    kShifting,
};

// True when name holds bytes that open a shifted run: ESC (ISO-2022), SO
// (ISO-2022's shift into its second set) or "~{" (HZ). Such a name is
// compared byte for byte, whatever form the file has.
bool OpensShiftedRun(std::string_view name);

// The unit names in file order, one for every line that contains
// "<TYPENAME>" (case ignored); names may repeat.
class UnitIndex {
public:
    // The per-line hook of Load: appends the line's value when the line holds
    // a TYPENAME tag and returns true when it did.
    bool onLine(const RulesDocument& doc, std::size_t lineIndex);

    // Position of the first name that begins with prefix (case ignored, see
    // OpensShiftedRun), or -1. An empty prefix finds nothing, so clearing the
    // find box leaves the selection where it is.
    int FindUnitByPrefix(std::string_view prefix, ByteForm form = ByteForm::kSingleByte) const;

    const std::vector<std::string>& Names() const { return names_; }
    void Clear() { names_.clear(); }

private:
    std::vector<std::string> names_;
};

// Index of the first line equal, case ignored, to "    <TYPENAME>name</TYPENAME>",
// or -1. The name's own bytes are compared as form and OpensShiftedRun say.
long FindTypeLine(const RulesDocument& doc, std::string_view name, ByteForm form = ByteForm::kSingleByte);

// The eight slot texts of the unit whose TYPENAME line is typeLine. Lines
// outside the document read as empty; so do a range without "-" (both
// slots) and a range without "rng" after the "-" (the maximum).
SlotTexts ReadSlots(const RulesDocument& doc, long typeLine);

// True when the slot's line, at typeLine + offset, lies inside the document,
// carries the slot's own tag as its first non-blank text (case ignored), and
// its value can be located: a ">" with a "<" after it and, for the range
// slots 6 and 7, a "-" followed later by "rng". Only such lines are ever
// written, so a value that reads as empty is never overwritten by a 0.
bool SlotWritable(const RulesDocument& doc, long typeLine, int slot);

// Rebuilds the slot's line from the box texts in normalized form; both range
// boxes are read for slots 6 and 7. Returns false, changing nothing, when
// the line is not writable (see SlotWritable).
bool WriteSlot(RulesDocument& doc, long typeLine, int slot, const SlotTexts& texts);

// Reads text as a lenient numeric prefix (blanks, tabs and line feeds
// skipped anywhere; &H hex and &O octal integers; no digits reads as 0) and
// writes it with "." in general format of up to 15 significant digits.
// Never yields "-0", "inf" or "nan": values beyond a double's range become
// the largest finite value of their sign.
std::string NormalizeNumber(std::string_view text);

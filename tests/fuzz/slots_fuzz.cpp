// Reading and writing a unit's slots on any document, at any TYPENAME line
// and with any box texts: no crash, no write outside the slot's own line,
// and every written line of the form four blanks, <TAG>, value, </TAG>.
#include "fuzz_support.h"
#include "unit_fields.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdlib>
#include <vector>

namespace {

void Require(bool condition) {
    if (!condition) std::abort();
}

bool IsNumber(const std::string& text) { return NormalizeNumber(text) == text; }

// "    <TAG>value</TAG>" with the slot's tag and a value of the slot's form.
bool WrittenForm(const std::string& line, int slot) {
    const std::string tag = kStatSlots[slot >= 6 ? 6 : slot].tag;
    const std::string open = "    <" + tag + ">", close = "</" + tag + ">";
    if (line.size() < open.size() + close.size() || line.compare(0, open.size(), open) != 0 ||
        line.compare(line.size() - close.size(), close.size(), close) != 0)
        return false;
    const std::string value = line.substr(open.size(), line.size() - open.size() - close.size());
    if (slot < 6) return IsNumber(value);
    if (value.size() < 3 || value.compare(value.size() - 3, 3, "rng") != 0) return false;
    const std::string range = value.substr(0, value.size() - 3);
    // The minimum may itself be negative, so try every dash as the divider.
    for (std::size_t dash = range.find('-', 1); dash != std::string::npos; dash = range.find('-', dash + 1))
        if (IsNumber(range.substr(0, dash)) && IsNumber(range.substr(dash + 1))) return true;
    return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    const long typeLine = input.ConsumeIntegralInRange<long>(-60, 400);
    const int slot = input.ConsumeIntegralInRange<int>(-1, kSlotCount);
    SlotTexts texts;
    for (auto& text : texts) text = input.ConsumeRandomLengthString(24);
    RulesDocument doc = LoadBytes(input.ConsumeRemainingBytesAsString());

    for (std::size_t i = 0; i < doc.LineCount(); ++i) GetValue(doc.Line(i));
    ReadSlots(doc, typeLine);
    std::vector<std::string> before;
    for (std::size_t i = 0; i < doc.LineCount(); ++i) before.emplace_back(doc.Line(i));

    const bool writable = SlotWritable(doc, typeLine, slot);
    Require(WriteSlot(doc, typeLine, slot, texts) == writable);
    const long target = writable ? typeLine + kStatSlots[slot].offset : -1;
    Require(doc.LineCount() == before.size());
    for (std::size_t i = 0; i < before.size(); ++i) {
        if (static_cast<long>(i) == target) Require(WrittenForm(std::string(doc.Line(i)), slot));
        else Require(doc.Line(i) == before[i]);
    }
    return 0;
}

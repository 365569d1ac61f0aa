#include "rules_generator.h"

#include <array>
#include <random>

namespace {

constexpr std::array<const char*, 25> kFirst{"Ar", "Bel", "Cor", "Dra", "El", "Fen", "Gar", "Hal", "Ir",
                                             "Jor", "Kel", "Lor", "Mar", "Nor", "Or", "Pel", "Quil", "Ros",
                                             "Sar", "Tor", "Ul", "Var", "Wen", "Yr", "Zan"};
constexpr std::array<const char*, 7> kMiddle{"a", "e", "i", "o", "u", "ae", "ia"};
constexpr std::array<const char*, 8> kLast{"nak", "vel", "dor", "mir", "th", "lis", "gan", "rok"};
constexpr std::array<const char*, 10> kRole{"Archer", "Pikeman", "Rider", "Guard", "Scout",
                                            "Knight", "Slinger", "Ram", "Mage", "Catapult"};
constexpr std::size_t kCombinations = kFirst.size() * kMiddle.size() * kLast.size() * kRole.size();

const std::string kHeader = "<?xml version=\"1.0\" encoding=\"gb2312\"?>\r\n<UNITRULES>\r\n";
const std::string kFooter = "</UNITRULES>\r\n";
constexpr std::size_t kSmallestPadding = 11;  // "  <!---->" + CRLF

std::string Property(const std::string& tag, const std::string& value) {
    return "    <" + tag + ">" + value + "</" + tag + ">\r\n";
}

std::string Record(std::size_t id, const std::string& name, std::size_t padding, std::mt19937& rng) {
    auto pick = [&rng](int lo, int hi) { return std::to_string(std::uniform_int_distribution<int>(lo, hi)(rng)); };
    const bool ranged = rng() % 3 == 0;
    std::string attack = pick(1, 40);
    if (rng() % 5 == 0) attack += ".50";  // some files carry unnormalized values
    std::string r = "  <UNIT>\r\n";
    r += Property("ID", std::to_string(id));                           // -51
    r += Property("CLASS", ranged ? "MISSILE" : "MELEE");              // -50
    r += Property("ATTACK", attack);                                   // -49
    r += Property("HITS", pick(20, 500));                              // -48
    r += Property("MOVES", pick(1, 8));                                // -47
    r += Property("COST_FOOD", pick(0, 200));                          // -46
    r += Property("COST_WOOD", pick(0, 200));                          // -45
    r += Property("JOB_TIME", pick(10, 120));                          // -44
    for (const char* tag : {"COST_GOLD", "COST_IRON", "UPKEEP", "SPEED_BONUS", "ATTACK_BONUS"})
        r += Property(tag, pick(0, 99));                               // -43 .. -39
    r += Property("RANGE", ranged ? "1-" + pick(4, 12) + "rng" : "0-1rng");  // -38
    r += Property("LOS", pick(2, 12));                                 // -37
    for (const char* tag : {"HEAL_RATE", "XP_VALUE", "SOUND_SET", "ANIM_SET"})
        r += Property(tag, pick(0, 99));                               // -36 .. -33
    r += Property("ARMOR", pick(0, 10));                               // -32
    for (int p = 31; p >= 1; --p)                                      // -31 .. -1
        r += Property("PROP_" + std::to_string(p),
                      "unit" + std::to_string(id) + "_" + pick(0, 9999) + std::string(padding, 'p'));
    r += Property("TYPENAME", name);                                   // 0
    r += Property("DESCRIPTION", name + " of the " + (ranged ? "bow" : "line") + " corps");
    r += Property("ICON", "icons/unit" + std::to_string(id) + ".bmp");
    r += "  </UNIT>\r\n";
    return r;
}

std::string Padding(std::size_t bytes) {
    std::string out;
    while (bytes > 0) {
        const std::size_t take = bytes > 200 ? 100 : bytes;
        out += "  <!--" + std::string(take - kSmallestPadding, 'x') + "-->\r\n";
        bytes -= take;
    }
    return out;
}

}  // namespace

std::string GeneratedUnitName(std::size_t i) {
    // A fixed permutation spreads neighbouring units over all syllables.
    const std::size_t j = (i * 7919 + 13) % kCombinations;
    std::string name = std::string(kFirst[j % kFirst.size()]) + kMiddle[(j / 25) % kMiddle.size()] +
                       kLast[(j / 175) % kLast.size()] + " " + kRole[(j / 1400) % kRole.size()];
    if (i >= kCombinations) name += " " + std::to_string(i / kCombinations + 1);
    return name;
}

GeneratedRules GenerateRules(const GeneratorOptions& options) {
    std::mt19937 rng(options.seed);
    GeneratedRules out;
    out.bytes = kHeader;
    for (std::size_t id = 0;; ++id) {
        if (options.targetBytes == 0 && id == options.units) break;
        const std::string name = GeneratedUnitName(id);
        std::string record = Record(id, name, options.fillerPadding, rng);
        if (options.targetBytes != 0 &&
            out.bytes.size() + record.size() + kFooter.size() + kSmallestPadding > options.targetBytes)
            break;
        out.bytes += record;
        out.names.push_back(name);
    }
    if (options.targetBytes > out.bytes.size() + kFooter.size() + kSmallestPadding - 1)
        out.bytes += Padding(options.targetBytes - out.bytes.size() - kFooter.size());
    out.bytes += kFooter;
    return out;
}

#include "rules.h"

#include <array>

namespace chunk {

namespace {

// How the game loads the names it treats specially; every other name takes its
// last instance. Each rule is there because maps depend on it.
constexpr std::array kRules = {
    // The terrain the game draws, and the strings, are read into buffers that
    // each instance overwrites from their start: protections split the real
    // data over several instances, or hide it under a decoy.
    LoadRule{"MTXM", Combine::OverwriteStart},
    LoadRule{"STR ", Combine::OverwriteStart, 2},
    LoadRule{"STRx", Combine::OverwriteStart, 4},
    // Units, doodad sprites, triggers and mission briefings are lists: each
    // instance adds its records to those before it.
    LoadRule{"UNIT", Combine::Append},
    LoadRule{"THG2", Combine::Append},
    LoadRule{"TRIG", Combine::Append},
    LoadRule{"MBRF", Combine::Append},
    // Fixed-size records: a short instance is skipped (protections put a
    // decoy of the wrong size first), a long one is read only as far as the record.
    LoadRule{"VER ", Combine::LastWins, 2},
    LoadRule{"ERA ", Combine::LastWins, 2, 2},
    LoadRule{"DIM ", Combine::LastWins, 4, 4},
    LoadRule{"SPRP", Combine::LastWins, 4, 4},
    LoadRule{"OWNR", Combine::LastWins, 12, 12},
    LoadRule{"SIDE", Combine::LastWins, 12, 12},
    LoadRule{"UNIS", Combine::LastWins, 4048},
    LoadRule{"UNIx", Combine::LastWins, 4168},
    // Forces are read into a 20-byte record whatever the length: a short
    // instance leaves the rest zero.
    LoadRule{"FORC", Combine::LastWins, 0, 20, true},
};

constexpr LoadRule kDefaultRule{};

} // namespace

const LoadRule& ruleFor(std::string_view name) {
    for (const LoadRule& r : kRules)
        if (r.name == name)
            return r;
    return kDefaultRule;
}

std::string normalizeName(std::string_view sectionName) {
    if (sectionName.empty())
        throw ChunkError("empty section name: a section name has 1 to 4 characters");
    if (sectionName.size() > 4)
        throw ChunkError("section name \"" + printable(sectionName) + "\" is longer than 4 characters");
    std::string name(sectionName);
    name.resize(4, ' ');
    return name;
}

std::string printable(std::string_view name) {
    std::string out;
    for (const char ch : name) {
        const auto c = static_cast<unsigned char>(ch);
        if (c >= 0x20 && c < 0x7F && c != '\\') {
            out += ch;
        } else {
            constexpr char kHex[] = "0123456789ABCDEF";
            out += {'\\', 'x', kHex[c >> 4], kHex[c & 15]};
        }
    }
    return out;
}

} // namespace chunk

// How the game loads each section name: the rules by which it combines repeated
// instances and the sizes it accepts, kept as data, one row per name with its reason.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

namespace chunk {

// Every refusal of this module: bad name, unreadable file, no such section, no sound copy.
class ChunkError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// How the instances of one name combine into what the game loads.
enum class Combine : uint8_t {
    LastWins,       // the last instance that passes its size rule
    OverwriteStart, // each later instance is written over the start of the earlier data
    Append,         // all instances' data, concatenated in walk order
};

// How the game loads one name. Sizes are checked on the data after the cut at
// the end of the file: shorter than `min` is ignored as if absent, longer than
// `max` (when set) is cut to it.
struct LoadRule {
    std::string_view name;
    Combine combine = Combine::LastWins;
    uint32_t min = 0;
    uint32_t max = 0;         // 0: none
    bool padToMax = false;    // a shorter instance reads as zero-padded to `max`
};

// The rule for a 4-byte name; names without a rule of their own take the last instance.
const LoadRule& ruleFor(std::string_view name);

// A section name as stored: exactly four bytes. Shorter names are padded with
// spaces ("STR" is "STR "); an empty name or one longer than four is refused.
std::string normalizeName(std::string_view sectionName);

// A section name for messages: bytes outside printable ASCII (and the backslash) as \xHH.
std::string printable(std::string_view name);

} // namespace chunk

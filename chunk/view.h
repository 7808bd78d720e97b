// The chunk file as the game reads it: the walk over its sections, the rules by
// which the game combines repeated sections, and what it ends up with for each
// name. Protected maps repeat sections on purpose, so that an editor reading the
// first one shows other terrain, units or strings than the game.
#pragma once

#include "rope.h"
#include "rules.h"

#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace chunk {

// What the game does with one instance of a name.
enum class Use : uint8_t {
    Used,            // loaded: the last of its name, or the first of several combined
    OverwritesStart, // written over the start of the earlier data
    Appended,        // appended to the earlier data
    LaterWins,       // ignored: a later instance wins
    TooShort,        // ignored: shorter than the rule's minimum
    Jump,            // a negative length: no data, the walk goes back
};

struct Instance {
    std::string name;   // the four bytes at `pos`
    uint64_t pos = 0;   // of the name, from 0
    int32_t length = 0; // as declared
    uint64_t size = 0;  // data bytes present: the declared length cut at the end of the file
    uint64_t taken = 0; // data bytes loaded, after the size rules (padding not counted)
    Use use = Use::Used;

    uint64_t end() const { return pos + 8 + size; }
    bool survives() const { return use != Use::TooShort && use != Use::Jump; }
};

// Why the walk stopped.
enum class Ending : uint8_t {
    Exhausted,   // fewer than 8 bytes were left at the next position
    PastTheEnd,  // a section's data ran to the end of the file
    BeforeStart, // a jump pointed before the file
    Loop,        // a jump led back to a position already read
};

// What the game loads for a name: runs of the file's bytes, and zeros where the
// rule pads (a run whose `data` is null).
struct Loaded {
    struct Run {
        const uint8_t* data;
        uint64_t size;
    };
    std::vector<Run> runs;
    uint64_t size = 0;

    std::vector<uint8_t> bytes() const;
};
bool sameBytes(const Loaded& a, const Loaded& b);

// The walk of one chunk file, as the game makes it, and what the game loads
// from it. The rope must outlive the view.
class GameView {
public:
    explicit GameView(const Rope& file);

    const Rope& file() const { return *file_; }
    const std::vector<Instance>& instances() const { return instances_; }
    // Indices into instances() of the name's instances, in walk order.
    const std::vector<size_t>& of(std::string_view name) const;
    // Names met, each once, in the order first met.
    const std::vector<std::string>& names() const { return order_; }
    // The bytes the game ends up with for the name, or nothing when no instance survives.
    std::optional<Loaded> loaded(std::string_view name) const;
    Ending ending() const { return ending_; }
    // Where the walk stopped: the position it would have read next.
    int64_t endPos() const { return endPos_; }

private:
    const Rope* file_;
    std::vector<Instance> instances_;
    std::map<std::string, std::vector<size_t>, std::less<>> byName_;
    std::vector<std::string> order_;
    Ending ending_ = Ending::Exhausted;
    int64_t endPos_ = 0;
};

// Walks are bounded: no real chunk file comes near this many sections, and a
// hostile one must not make us hold millions of them.
inline constexpr size_t kMaxInstances = size_t{1} << 16;

// The map's size in tiles from what the game reads as "DIM ", and its tileset
// (the low 3 bits of "ERA ", which is all the game reads of it).
struct Dimensions {
    uint16_t width = 0, height = 0;
    bool operator==(const Dimensions&) const = default;
};
std::optional<Dimensions> dimensionsOf(const GameView& view);
std::optional<uint16_t> tilesetOf(const GameView& view);
std::string_view tilesetName(uint16_t tileset);

// What the game does with an instance, in words: "used", "appended", "ignored: a later one wins", ...
std::string describe(const Instance& instance);

// The 1-based position of the length field of the name's first instance in the
// game's walk, or -1 when the walk meets none; as map makers' tools report it.
int32_t GetSectionOffset(const GameView& view, std::string_view sectionName);
// The declared length of that instance; throws ChunkError when there is none.
int32_t GetSectionLength(const GameView& view, std::string_view sectionName);

} // namespace chunk

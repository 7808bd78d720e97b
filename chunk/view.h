// The chunk file as the game reads it: the walk over its sections, the rules by
// which the game combines repeated sections, and what it ends up with for each
// name. Protected maps repeat sections on purpose, so that an editor reading the
// first one shows other terrain, units or strings than the game.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

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

// Bytes held as a run of pieces, so that a chunk file assembled from parts of
// others can be walked and written without copying them. The pieces' bytes must
// outlive the rope, except those given to appendOwned.
class Rope {
public:
    struct Piece {
        uint64_t start;
        std::span<const uint8_t> bytes;
    };

    Rope() = default;
    explicit Rope(std::span<const uint8_t> bytes) { append(bytes); }
    // A rope only points at bytes: a temporary would be gone before it is read.
    explicit Rope(std::vector<uint8_t>&&) = delete;
    Rope(Rope&&) = default;
    Rope& operator=(Rope&&) = default;
    Rope(const Rope&) = delete;
    Rope& operator=(const Rope&) = delete;

    void append(std::span<const uint8_t> bytes);
    void appendOwned(std::vector<uint8_t> bytes);
    // Bytes [from, to) of another rope, whose pieces must outlive this one.
    void append(const Rope& other, uint64_t from, uint64_t to);

    uint64_t size() const { return size_; }
    // Copies [pos, pos + n), which must lie inside.
    void read(uint64_t pos, uint8_t* out, size_t n) const;
    // The spans that make up [from, to), in order.
    std::vector<std::span<const uint8_t>> spans(uint64_t from, uint64_t to) const;
    std::vector<uint8_t> bytes() const { return flatten(0, size_); }
    std::vector<uint8_t> flatten(uint64_t from, uint64_t to) const;

private:
    size_t pieceAt(uint64_t pos) const;

    std::vector<Piece> pieces_;
    std::deque<std::vector<uint8_t>> owned_; // a deque keeps their addresses
    uint64_t size_ = 0;
};

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

// A section name for messages: bytes outside printable ASCII (and the backslash) as \xHH.
std::string printable(std::string_view name);

// What the game does with an instance, in words: "used", "appended", "ignored: a later one wins", ...
std::string describe(const Instance& instance);

} // namespace chunk

// Strings as the game resolves them: the string table, and where sections hold
// string numbers. Sections name texts by number; a number means the text at that
// place of the map's own table, so a section copied from another map names
// other texts unless its numbers are carried.
#pragma once

#include "view.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace chunk {

// The string table the game reads: `STR ` (u16 count and offsets) or `STRx` (u32),
// each offset measured from the start of the section's data.
class StringTable {
public:
    // The map's table, from the game's view of `STR ` or `STRx`; nothing when it
    // has neither. Throws ChunkError for a map that holds both: no source says
    // which one the game prefers.
    static std::optional<StringTable> of(const GameView& view);
    StringTable(std::vector<uint8_t> data, bool extended);

    bool extended() const { return wide_ == 4; } // `STRx`
    std::string_view name() const { return extended() ? "STRx" : "STR "; }
    const std::vector<uint8_t>& data() const { return data_; }
    // Bytes of the count and of each offset.
    uint32_t width() const { return wide_; }
    // The count as declared, and how many numbers have their offset inside the data.
    uint32_t count() const { return count_; }
    uint32_t entries() const { return entries_; }
    // Where number k's offset is stored, and what it says; nothing past the entries.
    std::optional<uint32_t> offset(uint32_t k) const;
    // Number k's text: from its offset to the first NUL or the end of the data.
    // Nothing for 0, a number past the count or the data, or an offset past the data.
    std::optional<std::string_view> text(uint32_t k) const;
    // The text at a position of the data (which must lie inside it), without its NUL.
    std::string_view textAt(uint32_t pos) const;

private:
    std::vector<uint8_t> data_;
    std::vector<uint32_t> nul_; // from each position, where its text ends
    uint32_t wide_, count_, entries_;
};

// What a number in a string field means.
enum class StringKind : uint8_t {
    Text,  // a text the game shows
    Sound, // the path of a sound file, usually a member of the map's archive
};

// One place where a section holds string numbers: `count` fields of `width` bytes,
// `stride` apart from `at`, in each record of `record` bytes (0: the section is one
// record). Records and fields count only where they are whole in the view.
struct StringField {
    std::string_view section;
    uint32_t record;
    uint32_t at;
    uint32_t stride;
    uint32_t count;
    uint8_t width;
    StringKind kind;
    std::string_view what;       // for people: "scenario name", "location name"
    bool useDefault = false;     // field i counts only where byte i of the record is 0
    uint32_t field = 0;          // a trigger action's field: its offset in the action
    uint64_t actions = 0;        // a trigger action's field: the action types that use it, as bits
    uint32_t max = 0xFFFFFFFF;   // larger values are not string numbers
};

// Every string field the game and the editors know.
std::span<const StringField> stringFields();
// Whether a section holds string numbers.
bool holdsStrings(std::string_view section);

// One string number in a section's view. `record` and `slot` are 0-based: the
// trigger or location, then the action, force, unit type, switch or sound.
struct StringRef {
    const StringField* field;
    uint32_t record;
    uint32_t slot;
    uint64_t pos; // of the number in the view
    uint32_t number;
    uint8_t action; // a trigger action's type, else 0
};

// The string numbers a section's view holds, in order; 0 ("no string") left out.
// `only`: the references of that kind alone.
std::vector<StringRef> stringRefs(std::string_view section, std::span<const uint8_t> view,
                                  std::optional<StringKind> only = std::nullopt);
// Where a reference is, for people: "trigger 12, action 3: display text".
std::string place(const StringRef& ref);

// A text for messages, in quotes: bytes outside printable ASCII, the backslash and
// the quote as \xHH.
std::string quoted(std::string_view text);

// What a trigger names by number in the map's other sections.
enum class TriggerUse : uint8_t { Location, Switch };
struct TriggerUses {
    std::vector<uint32_t> locations; // 1-based, as triggers name them
    std::vector<uint32_t> switches;  // 0-based, as triggers name them
};
// The locations and switches that the whole triggers of a `TRIG` view use, each once, sorted.
TriggerUses triggerUses(std::span<const uint8_t> trig);

} // namespace chunk

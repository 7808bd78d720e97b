#include "string_table.h"

#include <algorithm>
#include <array>
#include <set>

namespace chunk {

namespace {

uint32_t load(const uint8_t* p, unsigned width) {
    uint32_t v = 0;
    for (unsigned i = 0; i < width; ++i)
        v |= uint32_t{p[i]} << (8 * i);
    return v;
}

// Trigger records (`TRIG`, and `MBRF` for mission briefings): 16 conditions of 20
// bytes, then 64 actions of 32 bytes. Each list ends at its first entry of type 0.
constexpr uint32_t kTrigger = 2400;
constexpr uint32_t kConditions = 0, kCondition = 20, kConditionCount = 16, kConditionType = 15;
constexpr uint32_t kActions = 320, kAction = 32, kActionCount = 64, kActionType = 26;
constexpr uint32_t kActionText = 4, kActionSound = 8;

// The trigger actions that name a string: the editors agree on them, and only
// they are strings (the same fields hold other numbers in other actions).
struct ActionString {
    std::string_view section;
    uint8_t type;
    StringKind kind;
    std::string_view name;
};
constexpr std::array kActionStrings = {
    ActionString{"TRIG", 7, StringKind::Text, "transmission text"},
    ActionString{"TRIG", 7, StringKind::Sound, "transmission sound"},
    ActionString{"TRIG", 8, StringKind::Sound, "play sound"},
    ActionString{"TRIG", 9, StringKind::Text, "display text"},
    ActionString{"TRIG", 12, StringKind::Text, "mission objectives"},
    ActionString{"TRIG", 17, StringKind::Text, "leader board (control)"},
    ActionString{"TRIG", 18, StringKind::Text, "leader board (control at location)"},
    ActionString{"TRIG", 19, StringKind::Text, "leader board (resources)"},
    ActionString{"TRIG", 20, StringKind::Text, "leader board (kills)"},
    ActionString{"TRIG", 21, StringKind::Text, "leader board (points)"},
    ActionString{"TRIG", 33, StringKind::Text, "leader board goal (control)"},
    ActionString{"TRIG", 34, StringKind::Text, "leader board goal (control at location)"},
    ActionString{"TRIG", 35, StringKind::Text, "leader board goal (resources)"},
    ActionString{"TRIG", 36, StringKind::Text, "leader board goal (kills)"},
    ActionString{"TRIG", 37, StringKind::Text, "leader board goal (points)"},
    ActionString{"TRIG", 41, StringKind::Text, "set next scenario"},
    ActionString{"TRIG", 47, StringKind::Text, "comment"},
    ActionString{"MBRF", 2, StringKind::Sound, "play sound"},
    ActionString{"MBRF", 3, StringKind::Text, "text message"},
    ActionString{"MBRF", 4, StringKind::Text, "mission objectives"},
    ActionString{"MBRF", 8, StringKind::Text, "transmission text"},
    ActionString{"MBRF", 8, StringKind::Sound, "transmission sound"},
};

constexpr uint64_t actionsOf(std::string_view section, StringKind kind) {
    uint64_t bits = 0;
    for (const ActionString& a : kActionStrings)
        if (a.section == section && a.kind == kind)
            bits |= uint64_t{1} << a.type;
    return bits;
}

// The trigger action fields hold u32 numbers, but the editors read them as strings
// only up to 65535.
constexpr uint32_t kActionMax = 0xFFFF;

constexpr std::array kFields = {
    // The scenario's name and description; 0 makes the game show the file name or a default.
    StringField{.section = "SPRP", .record = 0, .at = 0, .stride = 0, .count = 1, .width = 2,
                .kind = StringKind::Text, .what = "scenario name"},
    StringField{.section = "SPRP", .record = 0, .at = 2, .stride = 0, .count = 1, .width = 2,
                .kind = StringKind::Text, .what = "scenario description"},
    // The four forces' names, after their players and flags.
    StringField{.section = "FORC", .record = 0, .at = 8, .stride = 2, .count = 4, .width = 2,
                .kind = StringKind::Text, .what = "force # name"},
    // Unit names, after the unit settings: a name counts only where the unit does
    // not use its defaults (its flag in the first 228 bytes is 0).
    StringField{.section = "UNIS", .record = 0, .at = 3192, .stride = 2, .count = 228, .width = 2,
                .kind = StringKind::Text, .what = "unit type # name", .useDefault = true},
    StringField{.section = "UNIx", .record = 0, .at = 3192, .stride = 2, .count = 228, .width = 2,
                .kind = StringKind::Text, .what = "unit type # name", .useDefault = true},
    // Each 20-byte location ends with its name and flags.
    StringField{.section = "MRGN", .record = 20, .at = 16, .stride = 0, .count = 1, .width = 2,
                .kind = StringKind::Text, .what = "location # name"},
    StringField{.section = "SWNM", .record = 0, .at = 0, .stride = 4, .count = 256, .width = 4,
                .kind = StringKind::Text, .what = "switch # name"},
    // The editors' list of the map's sound files; the game does not read it.
    StringField{.section = "WAV ", .record = 0, .at = 0, .stride = 4, .count = 512, .width = 4,
                .kind = StringKind::Sound, .what = "sound list entry #"},
    // Trigger and briefing actions: a text at +4, a sound file's path at +8, as the action type says.
    StringField{.section = "TRIG", .record = kTrigger, .at = kActions, .stride = kAction, .count = kActionCount,
                .width = 4, .kind = StringKind::Text, .what = "text", .field = kActionText,
                .actions = actionsOf("TRIG", StringKind::Text), .max = kActionMax},
    StringField{.section = "TRIG", .record = kTrigger, .at = kActions, .stride = kAction, .count = kActionCount,
                .width = 4, .kind = StringKind::Sound, .what = "sound", .field = kActionSound,
                .actions = actionsOf("TRIG", StringKind::Sound), .max = kActionMax},
    StringField{.section = "MBRF", .record = kTrigger, .at = kActions, .stride = kAction, .count = kActionCount,
                .width = 4, .kind = StringKind::Text, .what = "text", .field = kActionText,
                .actions = actionsOf("MBRF", StringKind::Text), .max = kActionMax},
    StringField{.section = "MBRF", .record = kTrigger, .at = kActions, .stride = kAction, .count = kActionCount,
                .width = 4, .kind = StringKind::Sound, .what = "sound", .field = kActionSound,
                .actions = actionsOf("MBRF", StringKind::Sound), .max = kActionMax},
};

// Where triggers name a location or a switch, by condition or action type.
struct NameUse {
    TriggerUse kind;
    bool action; // else a condition
    uint32_t at;
    uint8_t width;
    uint64_t types; // as bits
};
constexpr uint64_t bits(std::initializer_list<uint8_t> types) {
    uint64_t out = 0;
    for (const uint8_t t : types)
        out |= uint64_t{1} << t;
    return out;
}
constexpr std::array kUses = {
    // Bring, command the most at, command the least at; the actions that act at a location.
    NameUse{TriggerUse::Location, false, 0, 4, bits({3, 7, 17})},
    NameUse{TriggerUse::Location, true, 0, 4,
            bits({7, 10, 11, 16, 18, 23, 25, 28, 34, 38, 39, 42, 43, 44, 46, 48, 49, 50, 51, 52, 53})},
    // Move location, move unit and order name a second location.
    NameUse{TriggerUse::Location, true, 20, 4, bits({38, 39, 46})},
    // The switch condition, and set switch.
    NameUse{TriggerUse::Switch, false, 16, 1, bits({11})},
    NameUse{TriggerUse::Switch, true, 20, 4, bits({13})},
};

} // namespace

// ---- the table ----------------------------------------------------------------

StringTable::StringTable(std::vector<uint8_t> data, bool extended)
    : data_(std::move(data)), wide_(extended ? 4 : 2) {
    const auto size = static_cast<uint32_t>(data_.size());
    count_ = size < wide_ ? 0 : load(data_.data(), wide_);
    entries_ = size < wide_ ? 0 : std::min(count_, (size - wide_) / wide_);
    nul_.resize(data_.size());
    for (uint32_t i = size, end = size; i-- > 0;) {
        if (data_[i] == 0)
            end = i;
        nul_[i] = end;
    }
}

std::optional<StringTable> StringTable::of(const GameView& view) {
    const auto str = view.loaded("STR "), strx = view.loaded("STRx");
    if (str && strx)
        throw ChunkError("the chunk file holds both a \"STR \" and a \"STRx\" string table; no source says which one "
                         "the game reads");
    if (!str && !strx)
        return std::nullopt;
    return StringTable((str ? str : strx)->bytes(), strx.has_value());
}

std::optional<uint32_t> StringTable::offset(uint32_t k) const {
    if (k == 0 || k > entries_)
        return std::nullopt;
    return load(data_.data() + size_t{wide_} * k, wide_);
}

std::optional<std::string_view> StringTable::text(uint32_t k) const {
    const auto o = offset(k);
    if (!o || *o >= data_.size())
        return std::nullopt;
    return textAt(*o);
}

std::string_view StringTable::textAt(uint32_t pos) const {
    return {reinterpret_cast<const char*>(data_.data()) + pos, nul_[pos] - pos};
}

// ---- where the numbers are ------------------------------------------------------

std::span<const StringField> stringFields() { return kFields; }

bool holdsStrings(std::string_view section) {
    return std::any_of(kFields.begin(), kFields.end(), [&](const StringField& f) { return f.section == section; });
}

std::vector<StringRef> stringRefs(std::string_view section, std::span<const uint8_t> view,
                                  std::optional<StringKind> only) {
    std::vector<const StringField*> rows;
    uint32_t slots = 0;
    bool actions = false;
    for (const StringField& f : kFields)
        if (f.section == section)
            rows.push_back(&f), slots = std::max(slots, f.count), actions |= f.actions != 0;
    std::vector<StringRef> out;
    if (rows.empty())
        return out;
    const uint64_t record = rows[0]->record ? rows[0]->record : view.size();
    const uint64_t records = record ? view.size() / record : 0;
    for (uint64_t r = 0; r < records; ++r) {
        const uint8_t* base = view.data() + r * record;
        for (uint32_t i = 0; i < slots; ++i) {
            // Trigger rows share their actions, which end at the first of type 0.
            const uint8_t type = actions ? base[rows[0]->at + i * rows[0]->stride + kActionType] : 0;
            if (actions && type == 0)
                break;
            for (const StringField* f : rows) {
                const uint64_t at = f->at + uint64_t{i} * f->stride + f->field;
                if (i >= f->count || at + f->width > record || (only && f->kind != *only))
                    continue;
                if ((f->actions && (type >= 64 || !(f->actions >> type & 1))) || (f->useDefault && base[i] != 0))
                    continue;
                const uint32_t n = load(base + at, f->width);
                if (n != 0 && n <= f->max)
                    out.push_back({f, static_cast<uint32_t>(r), i, r * record + at, n, type});
            }
        }
    }
    return out;
}

std::string place(const StringRef& ref) {
    const StringField& f = *ref.field;
    if (f.actions) {
        std::string_view what = f.what;
        for (const ActionString& a : kActionStrings)
            if (a.section == f.section && a.kind == f.kind && a.type == ref.action)
                what = a.name;
        return (f.section == "MBRF" ? "briefing trigger " : "trigger ") + std::to_string(ref.record + 1) +
               ", action " + std::to_string(ref.slot + 1) + ": " + std::string(what);
    }
    std::string what(f.what);
    const auto hash = what.find('#');
    if (hash != std::string::npos)
        what.replace(hash, 1, std::to_string(f.record ? ref.record + 1 : ref.slot + (f.useDefault ? 0 : 1)));
    return what;
}

std::string quoted(std::string_view text) {
    std::string out = "\"";
    for (const char c : printable(text))
        out += c == '"' ? std::string("\\x22") : std::string(1, c);
    out += '"';
    return out;
}

// ---- locations and switches -----------------------------------------------------

TriggerUses triggerUses(std::span<const uint8_t> trig) {
    std::set<uint32_t> found[2];
    for (uint64_t r = 0; r + kTrigger <= trig.size(); r += kTrigger) {
        const uint8_t* t = trig.data() + r;
        for (const NameUse& u : kUses) {
            const uint32_t first = u.action ? kActions : kConditions, size = u.action ? kAction : kCondition;
            const uint32_t count = u.action ? kActionCount : kConditionCount;
            const uint32_t typeAt = u.action ? kActionType : kConditionType;
            for (uint32_t i = 0; i < count; ++i) {
                const uint8_t* e = t + first + size_t{i} * size;
                if (e[typeAt] == 0)
                    break;
                if (e[typeAt] >= 64 || !(u.types >> e[typeAt] & 1))
                    continue;
                const uint32_t v = load(e + u.at, u.width);
                if (u.kind == TriggerUse::Switch || v != 0)
                    found[static_cast<int>(u.kind)].insert(v);
            }
        }
    }
    return {{found[0].begin(), found[0].end()}, {found[1].begin(), found[1].end()}};
}

} // namespace chunk

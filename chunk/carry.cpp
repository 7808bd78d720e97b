#include "carry.h"

#include "copy.h"

#include <algorithm>
#include <limits>
#include <unordered_map>
#include <unordered_set>

namespace chunk {

namespace {

// Chkdraft's line between a table with a little padding after its strings and a
// compiled map that keeps data or code there.
constexpr uint32_t kMostPadding = 8;
// The game reads `STR ` offsets as u16: every string must start below this.
constexpr uint64_t kStrLimit = 0x10000;

void store(uint8_t* p, uint32_t v, unsigned width) {
    for (unsigned i = 0; i < width; ++i)
        p[i] = static_cast<uint8_t>(v >> (8 * i));
}

// What the game reads for a name: the file's own bytes where they are one run (no
// copy of a section of megabytes just to read it), else a copy; owned() makes
// the copy that a change needs.
struct ViewBytes {
    std::span<const uint8_t> bytes;
    std::vector<uint8_t> copy;
    bool copied = false;
    std::vector<uint8_t>& owned() {
        if (!copied) {
            copy.assign(bytes.begin(), bytes.end());
            bytes = copy;
            copied = true;
        }
        return copy;
    }
};
ViewBytes viewOf(const GameView& v, std::string_view name) {
    ViewBytes out;
    const auto l = v.loaded(name);
    if (!l) return out;
    if (l->runs.size() == 1 && l->runs[0].data) {
        out.bytes = {l->runs[0].data, static_cast<size_t>(l->runs[0].size)};
    } else {
        out.copy = l->bytes();
        out.bytes = out.copy;
        out.copied = true;
    }
    return out;
}

// A size for people: 65,536.
std::string sizes(uint64_t n) {
    std::string s = std::to_string(n);
    for (int i = static_cast<int>(s.size()) - 3; i > 0; i -= 3)
        s.insert(static_cast<size_t>(i), 1, ',');
    return s;
}

// The table with texts put under numbers: `added` new numbers after the count, and
// `given` (number, text) for those and for reused ones. Throws where it cannot be done.
std::vector<uint8_t> newTable(const StringTable& ours, const std::vector<std::pair<uint32_t, std::string_view>>& given,
                              uint32_t added) {
    const std::vector<uint8_t>& d = ours.data();
    const uint64_t w = ours.width(), size = d.size(), count = ours.count();
    if (ours.entries() < count)
        throw ChunkError("the map to edit's string table declares " + sizes(count) + " strings but holds offsets for " +
                         sizes(ours.entries()) + "; no text can be added to it");
    const uint64_t header = w + w * count, shift = w * added;

    // Where the strings end: bytes past them are padding or, in compiled maps, data.
    uint64_t last = header;
    std::vector<uint32_t> readers; // numbers whose text starts in the count or the offsets
    for (uint32_t k = 1; k <= count; ++k) {
        const uint32_t o = *ours.offset(k);
        if (o >= size)
            continue;
        last = std::max<uint64_t>(last, std::min<uint64_t>(o + ours.textAt(o).size() + 1, size));
        if (o < header)
            readers.push_back(k);
    }
    uint64_t tail = last, after = 0;
    for (uint64_t i = last; i < size; ++i)
        if (d[i] != 0)
            tail = i + 1, ++after;
    if (after > kMostPadding)
        throw StringsAreCode("the map to edit keeps " + sizes(after) +
                             " bytes that are not zero after its last string, as compiled maps whose code reads "
                             "the strings by position do: carrying texts would move what that code reads");

    // Texts read from the count or the offsets change with them: such numbers move
    // to a copy of the bytes they read.
    std::unordered_map<uint32_t, uint64_t> at; // number -> its new offset
    std::vector<uint8_t> more;                 // what goes after the existing strings, from `tail`
    std::vector<uint64_t> reused; // where the offsets that change without more numbers are
    for (const auto& [n, text] : given)
        if (n <= count)
            reused.push_back(w * n);
    std::sort(reused.begin(), reused.end());
    bool moveReaders = added > 0;
    for (const uint32_t k : readers) {
        const uint64_t o = *ours.offset(k), end = o + ours.textAt(static_cast<uint32_t>(o)).size();
        const auto next = std::lower_bound(reused.begin(), reused.end(), o + 1 > w ? o + 1 - w : 0);
        moveReaders |= next != reused.end() && *next <= end;
    }
    if (moveReaders && !readers.empty()) {
        uint64_t end = 0;
        for (const uint32_t k : readers)
            end = std::max<uint64_t>(end, *ours.offset(k) + ours.textAt(*ours.offset(k)).size() + 1);
        more.assign(d.begin(), d.begin() + static_cast<long>(std::min(end, size)));
        more.resize(end, 0);
        for (const uint32_t k : readers)
            at[k] = shift + tail + *ours.offset(k);
    }
    for (const auto& [n, text] : given) {
        at[n] = shift + tail + more.size();
        more.insert(more.end(), text.begin(), text.end());
        more.push_back(0);
    }

    const uint64_t grown = shift + std::max(size, tail + more.size());
    if (grown > static_cast<uint64_t>(std::numeric_limits<int32_t>::max()))
        throw ChunkError("the map to edit's string table would grow past the largest section a chunk file holds");
    std::vector<uint8_t> out(grown, 0);
    store(out.data(), static_cast<uint32_t>(count + added), static_cast<unsigned>(w));
    uint64_t highest = 0; // the last offset of a string
    for (uint32_t k = 1; k <= count + added; ++k) {
        const auto found = at.find(k);
        const uint64_t old = k <= count ? *ours.offset(k) : 0;
        // A number that names nothing keeps its offset: it still names nothing there.
        const uint64_t o = found != at.end() ? found->second : old < size ? old + shift : old;
        if (found != at.end() || old < size)
            highest = std::max(highest, o);
        store(out.data() + w * k, static_cast<uint32_t>(o), static_cast<unsigned>(w));
    }
    if (w == 2 && highest >= kStrLimit)
        throw ChunkError("the map to edit's string table cannot take the texts: every \"STR \" string must start "
                         "below byte 65,536, and with them it would need " + sizes(out.size()) + " bytes (it has " +
                         sizes(size) + ")");
    std::copy(d.begin() + static_cast<long>(header), d.end(), out.begin() + static_cast<long>(header + shift));
    std::copy(more.begin(), more.end(), out.begin() + static_cast<long>(tail + shift));
    return out;
}

// The new chunk file with `name` made `data` through Copy Section's own change.
void put(Carried& out, const std::string& name, std::vector<uint8_t> data) {
    auto section = std::make_unique<Rope>();
    std::vector<uint8_t> head(name.begin(), name.end());
    head.resize(8);
    store(head.data() + 4, static_cast<uint32_t>(data.size()), 4);
    section->appendOwned(std::move(head));
    section->appendOwned(std::move(data));
    Copied made = copySection(GameView(out.file), GameView(*section), name);
    out.held.push_back(std::make_unique<Rope>(std::move(out.file)));
    out.held.push_back(std::move(section));
    out.file = std::move(made.file);
}

std::optional<StringTable> tableOf(const GameView& view, const std::string& which) {
    try {
        return StringTable::of(view);
    } catch (const ChunkError& e) {
        throw ChunkError(which + ": " + e.what());
    }
}

bool copiedName(std::span<const std::string> names, std::string_view name) {
    return std::find(names.begin(), names.end(), name) != names.end();
}

// Locations or switches the copied triggers use whose names differ between the maps.
// A note names at most this many: triggers that use hundreds of locations would
// otherwise fill the status line with them.
constexpr size_t kMostNamed = 8;

std::string differing(std::string_view what, const std::vector<uint32_t>& used, uint32_t first,
                      const std::optional<StringTable>& ours, const std::optional<StringTable>& theirs,
                      std::span<const uint8_t> mine, std::span<const uint8_t> other, uint32_t record,
                      uint32_t at, unsigned width) {
    const auto name = [&](const std::optional<StringTable>& table, std::span<const uint8_t> names, uint32_t i) {
        const uint64_t pos = uint64_t{i - first} * record + at;
        std::optional<std::string_view> text;
        if (table && pos + width <= names.size()) {
            uint32_t n = 0;
            for (unsigned b = 0; b < width; ++b)
                n |= uint32_t{names[pos + b]} << (8 * b);
            text = table->text(n);
        }
        return text ? quoted(*text) : std::string("(no name)");
    };
    std::string line;
    size_t named = 0, more = 0;
    for (const uint32_t i : used) {
        const std::string a = name(theirs, other, i), b = name(ours, mine, i);
        if (a == b)
            continue;
        if (named == kMostNamed) {
            ++more;
            continue;
        }
        ++named;
        line.append(line.empty() ? "" : "; ").append(what).append(" ").append(std::to_string(i + 1 - first));
        line.append(" ").append(a).append(" is ").append(b).append(" in the map to edit");
    }
    if (more > 0)
        line.append("; and ").append(std::to_string(more)).append(" more");
    return line;
}

} // namespace

Carried carryStrings(const GameView& copied, const GameView& splice, std::span<const std::string> names,
                     const std::map<std::string, std::string>& soundFiles) {
    Carried out;
    out.file.append(copied.file(), 0, copied.file().size());
    if (copiedName(names, "STR ") || copiedName(names, "STRx") ||
        std::none_of(names.begin(), names.end(), [](const std::string& n) { return holdsStrings(n); }))
        return out;
    const auto theirs = tableOf(splice, "the map to splice"), ours = tableOf(copied, "the map to edit");

    // The copied fields and the texts they must read.
    struct Field {
        std::string name;
        ViewBytes view;
        std::vector<StringRef> refs;
        std::vector<std::optional<std::string_view>> want;
    };
    std::vector<Field> fields;
    std::vector<std::string_view> sounds; // carried sound files, by the path they get
    bool any = false;
    for (const std::string& name : names) {
        if (!holdsStrings(name))
            continue;
        Field f{name, viewOf(copied, name), {}, {}};
        f.refs = stringRefs(name, f.view.bytes);
        for (const StringRef& r : f.refs) {
            auto t = theirs ? theirs->text(r.number) : std::nullopt;
            if (t && r.field->kind == StringKind::Sound)
                if (const auto s = soundFiles.find(std::string(*t)); s != soundFiles.end())
                    t = s->second, sounds.push_back(s->second);
            f.want.push_back(t);
            any |= t.has_value();
        }
        if (name == "TRIG") {
            const TriggerUses uses = triggerUses(f.view.bytes);
            if (!copiedName(names, "MRGN")) {
                const auto line = differing("location", uses.locations, 1, ours, theirs, viewOf(copied, "MRGN").bytes,
                                            viewOf(splice, "MRGN").bytes, 20, 16, 2);
                if (!line.empty())
                    out.warnings.push_back("the copied triggers use locations whose names differ: " + line);
            }
            if (!copiedName(names, "SWNM")) {
                const auto line = differing("switch", uses.switches, 0, ours, theirs, viewOf(copied, "SWNM").bytes,
                                            viewOf(splice, "SWNM").bytes, 4, 0, 4);
                if (!line.empty())
                    out.warnings.push_back("the copied triggers use switches whose names differ: " + line);
            }
        }
        fields.push_back(std::move(f));
    }
    std::sort(sounds.begin(), sounds.end());
    sounds.erase(std::unique(sounds.begin(), sounds.end()), sounds.end());
    out.sounds = sounds.size();
    if (!any)
        return out;
    if (!ours)
        throw ChunkError("the map to edit has no string table for the texts the copied sections name");

    // Numbers the map to edit keeps, and the texts that need one.
    std::vector<bool> used(ours->entries() + 1);
    const auto use = [&](uint32_t n) {
        if (n < used.size())
            used[n] = true;
    };
    std::unordered_map<std::string_view, uint32_t> number; // text -> its number in the map to edit
    std::vector<std::string_view> pending;                 // texts without one yet, in the order met
    for (const Field& f : fields)
        for (size_t i = 0; i < f.refs.size(); ++i) {
            const uint32_t n = f.refs[i].number;
            if (f.want[i] && ours->text(n) != f.want[i]) {
                if (number.emplace(*f.want[i], 0).second)
                    pending.push_back(*f.want[i]);
            } else {
                use(n);
            }
        }
    out.strings = pending.size();

    // The same text under another number; else a free number; else a new one.
    std::unordered_set<size_t> lengths;
    for (const auto t : pending)
        lengths.insert(t.size());
    for (uint32_t k = 1; k <= ours->entries(); ++k) {
        const auto t = ours->text(k);
        if (!t || !lengths.count(t->size()))
            continue;
        if (const auto it = number.find(*t); it != number.end() && it->second == 0)
            it->second = k, use(k);
    }
    std::vector<std::pair<uint32_t, std::string_view>> given;
    uint32_t added = 0;
    if (std::any_of(number.begin(), number.end(), [](const auto& e) { return e.second == 0; })) {
        for (const std::string& name : copied.names())
            if (holdsStrings(name) && !copiedName(names, name))
                for (const StringRef& r : stringRefs(name, viewOf(copied, name).bytes))
                    use(r.number);
        uint32_t k = 1;
        for (const auto t : pending) {
            uint32_t& n = number[t];
            if (n != 0)
                continue;
            while (k <= ours->entries() && (used[k] || ours->text(k) != std::string_view()))
                ++k;
            if (k <= ours->entries()) {
                n = k++;
            } else {
                if (uint64_t{ours->count()} + added + 1 > (ours->extended() ? 0xFFFFFFFFu : 0xFFFFu))
                    throw ChunkError("the map to edit's string table has no number left for another text");
                n = ours->count() + ++added;
            }
            given.emplace_back(n, t);
        }
    }

    // The table, the renumbered sections, then the sound list.
    if (!given.empty())
        put(out, std::string(ours->name()), newTable(*ours, given, added));
    std::map<std::string_view, uint32_t> soundNumbers; // carried sound files, by path, and their numbers
    for (Field& f : fields) {
        bool changed = false;
        for (size_t i = 0; i < f.refs.size(); ++i) {
            const StringRef& r = f.refs[i];
            if (!f.want[i])
                continue;
            const uint32_t n = ours->text(r.number) == f.want[i] ? r.number : number.at(*f.want[i]);
            if (std::binary_search(sounds.begin(), sounds.end(), *f.want[i]))
                soundNumbers.emplace(*f.want[i], n);
            if (n == r.number)
                continue;
            if (n > r.field->max || (r.field->width == 2 && n > 0xFFFF))
                throw ChunkError(place(r) + ": its text would need string number " + sizes(n) +
                                 ", more than the field holds");
            store(f.view.owned().data() + r.pos, n, r.field->width);
            changed = true;
        }
        if (changed)
            put(out, f.name, std::move(f.view.owned()));
    }
    // Editors list a map's sound files in `WAV `: a carried one takes the first free slot.
    if (!copiedName(names, "WAV ") && copied.loaded("WAV ")) {
        std::vector<uint8_t> list = std::move(viewOf(copied, "WAV ").owned());
        const size_t slots = std::min<size_t>(list.size() / 4, 512);
        std::vector<uint32_t> entries(slots);
        for (size_t i = 0; i < slots; ++i)
            entries[i] = uint32_t{list[4 * i]} | uint32_t{list[4 * i + 1]} << 8 | uint32_t{list[4 * i + 2]} << 16 |
                         uint32_t{list[4 * i + 3]} << 24;
        bool changed = false;
        for (const auto& sound : soundNumbers) {
            const std::string_view path = sound.first;
            const uint32_t n = sound.second;
            const auto listed = [&](uint32_t e) { return e == n || ours->text(e) == path; };
            if (std::any_of(entries.begin(), entries.end(), listed))
                continue;
            const auto free = std::find(entries.begin(), entries.end(), 0u);
            if (free == entries.end())
                break;
            *free = n;
            store(list.data() + 4 * (free - entries.begin()), n, 4);
            changed = true;
        }
        if (changed)
            put(out, "WAV ", std::move(list));
    }
    return out;
}

std::vector<std::string> soundPaths(const GameView& splice, std::span<const std::string> names) {
    std::vector<std::string> out;
    const auto theirs = tableOf(splice, "the map to splice");
    if (!theirs)
        return out;
    for (const std::string& name : names)
        for (const StringRef& r : stringRefs(name, viewOf(splice, name).bytes, StringKind::Sound))
            if (const auto t = theirs->text(r.number); t && r.field->kind == StringKind::Sound &&
                                                       std::find(out.begin(), out.end(), *t) == out.end())
                out.emplace_back(*t);
    return out;
}

} // namespace chunk

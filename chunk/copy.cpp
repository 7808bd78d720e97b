#include "copy.h"


#include <algorithm>
#include <limits>
#include <variant>

namespace chunk {

namespace {

using Part = std::variant<std::span<const uint8_t>, std::vector<uint8_t>>;

// Bytes [from, to) of the map to edit's chunk file replaced by `with`.
struct Change {
    uint64_t from, to;
    std::vector<Part> with;

    uint64_t newSize() const {
        uint64_t n = 0;
        for (const Part& p : with)
            n += std::visit([](const auto& b) { return uint64_t{b.size()}; }, p);
        return n;
    }
};

std::vector<uint8_t> header(std::string_view name, uint64_t length) {
    const auto n = static_cast<uint32_t>(length);
    std::vector<uint8_t> h(name.begin(), name.end());
    h.insert(h.end(), {uint8_t(n), uint8_t(n >> 8), uint8_t(n >> 16), uint8_t(n >> 24)});
    return h;
}

// What the carrying section is made of: the splice map's own section where it
// gives the view alone (so that the simple case is a plain three-part splice),
// else a section holding the view's bytes.
std::vector<std::vector<Part>> contents(const GameView& splice, std::string_view name, const Loaded& view) {
    std::vector<std::vector<Part>> out;
    const Instance* only = nullptr;
    size_t survivors = 0;
    for (const size_t i : splice.of(name))
        if (splice.instances()[i].survives())
            only = &splice.instances()[i], ++survivors;
    if (survivors == 1) {
        std::vector<Part> raw;
        // A section cut off by the end of its file gets the length it really has.
        if (only->size == static_cast<uint64_t>(only->length))
            for (const auto s : splice.file().spans(only->pos, only->pos + 8))
                raw.emplace_back(s);
        else
            raw.emplace_back(header(name, only->size));
        for (const auto s : splice.file().spans(only->pos + 8, only->end()))
            raw.emplace_back(s);
        out.push_back(std::move(raw));
    }
    if (survivors != 1 || only->taken != view.size) {
        std::vector<Part> made;
        made.emplace_back(header(name, view.size));
        for (const Loaded::Run& r : view.runs) {
            if (r.data)
                made.emplace_back(std::span<const uint8_t>(r.data, static_cast<size_t>(r.size)));
            else
                made.emplace_back(std::vector<uint8_t>(static_cast<size_t>(r.size), 0));
        }
        out.push_back(std::move(made));
    }
    return out;
}

// One way of making the new file: the changes, then the check that the game reads it right.
class Attempt {
public:
    Attempt(const GameView& edit, std::string_view name) : edit_(edit), name_(name), shown_(printable(name)) {}

    void replace(const Instance& in, std::vector<Part> with) { changes_.push_back({in.pos, in.end(), std::move(with)}); }
    void insert(uint64_t at, std::vector<Part> with) { changes_.push_back({at, at, std::move(with)}); }
    // An instance the game is to take nothing from: emptied where an empty one gives
    // nothing under the name's rule, else removed.
    void silence(const Instance& in) {
        const LoadRule& rule = ruleFor(name_);
        std::vector<Part> with;
        if (rule.min > 0 || rule.combine != Combine::LastWins)
            with.emplace_back(header(name_, 0));
        replace(in, std::move(with));
    }

    // The new file, or nothing with `why` set.
    std::optional<Copied> make(const Loaded& want, uint64_t sectionAt, std::string& why) {
        std::sort(changes_.begin(), changes_.end(), [](const Change& a, const Change& b) { return a.from < b.from; });
        if (!fixJumps(why))
            return std::nullopt;
        Copied out{Rope(), 0};
        const Rope& old = edit_.file();
        uint64_t at = 0;
        for (Change& c : changes_) {
            out.file.append(old, at, c.from);
            if (c.from == sectionAt && c.to >= sectionAt && out.sectionEnd == 0)
                out.sectionEnd = out.file.size() + c.newSize();
            for (Part& p : c.with) {
                if (auto* s = std::get_if<std::span<const uint8_t>>(&p))
                    out.file.append(*s);
                else
                    out.file.appendOwned(std::move(std::get<std::vector<uint8_t>>(p)));
            }
            at = c.to;
        }
        out.file.append(old, at, old.size());
        if (const auto name = differing(GameView(out.file), want)) {
            why = *name == name_ ? "the game would not read the copied \"" + shown_ + "\" as it is in the map to splice"
                                 : "changing its \"" + shown_ + "\" would also change what the game reads as its \"" +
                                       printable(*name) + "\" section, which holds the same bytes";
            return std::nullopt;
        }
        return out;
    }

private:
    // Where a position of the old file is in the new one; nothing inside a changed stretch.
    std::optional<int64_t> moved(int64_t pos) const {
        int64_t delta = 0;
        for (const Change& c : changes_) {
            if (pos < static_cast<int64_t>(c.from))
                break;
            if (pos == static_cast<int64_t>(c.from))
                return pos + delta;
            if (pos < static_cast<int64_t>(c.to))
                return std::nullopt;
            delta += static_cast<int64_t>(c.newSize()) - static_cast<int64_t>(c.to - c.from);
        }
        return pos + delta;
    }

    // A jump back across a section that changed size must still land where it did.
    bool fixJumps(std::string& why) {
        std::vector<Change> fixes;
        for (const Instance& in : edit_.instances()) {
            if (in.use != Use::Jump)
                continue;
            const int64_t target = static_cast<int64_t>(in.pos) + 8 + in.length;
            const auto from = moved(static_cast<int64_t>(in.pos)), to = moved(target);
            if (!from || !to) {
                why = "a section that jumps back lands inside its \"" + shown_ + "\" data";
                return false;
            }
            const int64_t length = *to - (*from + 8);
            // A jump before the start ends the walk wherever it points.
            if (length == in.length || (target < 0 && *from + 8 + in.length < 0))
                continue;
            if (length >= 0 || length < std::numeric_limits<int32_t>::min()) {
                why = "a section that jumps back could not be made to land where it did";
                return false;
            }
            const auto n = static_cast<uint32_t>(static_cast<int32_t>(length));
            fixes.push_back({in.pos + 4, in.pos + 8, {std::vector<uint8_t>{uint8_t(n), uint8_t(n >> 8),
                                                                          uint8_t(n >> 16), uint8_t(n >> 24)}}});
        }
        for (Change& f : fixes) {
            for (const Change& c : changes_)
                if (f.from < c.to && c.from < f.to) {
                    why = "a section that jumps back lies inside its \"" + shown_ + "\" data";
                    return false;
                }
        }
        for (Change& f : fixes)
            changes_.push_back(std::move(f));
        std::sort(changes_.begin(), changes_.end(), [](const Change& a, const Change& b) { return a.from < b.from; });
        return true;
    }

    // The first name whose view is not what it must be.
    std::optional<std::string> differing(const GameView& now, const Loaded& want) const {
        std::vector<std::string> names = edit_.names();
        for (const auto& n : now.names())
            if (std::find(names.begin(), names.end(), n) == names.end())
                names.push_back(n);
        for (const auto& n : names) {
            const auto got = now.loaded(n);
            const auto should = n == name_ ? std::optional<Loaded>(want) : edit_.loaded(n);
            if (got.has_value() != should.has_value() || (got && !sameBytes(*got, *should)))
                return n;
        }
        return std::nullopt;
    }

    const GameView& edit_;
    std::string name_, shown_;
    std::vector<Change> changes_;
};

// Attempts are bounded: each one walks the whole file again.
constexpr size_t kMaxCarriers = 16;

} // namespace

Copied copySection(const GameView& edit, const GameView& splice, std::string_view name) {
    const auto want = splice.loaded(name), have = edit.loaded(name);
    if (!want || !have)
        throw ChunkError("both chunk files must hold a \"" + printable(name) + "\" section the game reads");
    const LoadRule& rule = ruleFor(name);
    const auto& all = edit.instances();
    const std::vector<size_t>& ours = edit.of(name);
    const std::vector<size_t>& theirs = splice.of(name);

    // Where either file repeats the name and the view is already the splice map's,
    // nothing needs to change; a single instance each is always the plain splice.
    if ((ours.size() > 1 || theirs.size() > 1) && sameBytes(*have, *want)) {
        // Already what the game reads in the map to splice: the file stays as it is.
        Copied same{Rope(), 0};
        same.file.append(edit.file(), 0, edit.file().size());
        for (const size_t i : ours)
            same.sectionEnd = std::max(same.sectionEnd, std::min(all[i].end(), edit.file().size()));
        return same;
    }

    // The instance that takes the copied data, last survivor first; then at the end
    // of the walk, where a new section is read after all the others.
    std::vector<const Instance*> carriers;
    for (auto it = ours.rbegin(); it != ours.rend(); ++it)
        if (all[*it].survives())
            carriers.push_back(&all[*it]);
    for (auto it = ours.rbegin(); it != ours.rend(); ++it)
        if (!all[*it].survives() && all[*it].use != Use::Jump)
            carriers.push_back(&all[*it]);
    if (carriers.size() > kMaxCarriers)
        carriers.resize(kMaxCarriers);
    const bool canAppend = edit.ending() == Ending::Exhausted;
    if (canAppend)
        carriers.push_back(nullptr);

    std::string firstWhy;
    for (const Instance* carrier : carriers) {
        for (auto& content : contents(splice, name, *want)) {
            Attempt attempt(edit, name);
            const uint64_t at = carrier ? carrier->pos : static_cast<uint64_t>(edit.endPos());
            if (carrier)
                attempt.replace(*carrier, std::move(content));
            else
                attempt.insert(at, std::move(content));
            for (const size_t i : ours) {
                const Instance& in = all[i];
                if (&in == carrier || !in.survives())
                    continue;
                const bool after = carrier && i > static_cast<size_t>(carrier - all.data());
                bool silence = false;
                switch (rule.combine) {
                case Combine::LastWins: silence = after; break;
                case Combine::OverwriteStart: silence = after ? in.taken > 0 : in.taken > want->size; break;
                case Combine::Append: silence = in.taken > 0; break;
                }
                if (silence)
                    attempt.silence(in);
            }
            std::string why;
            if (auto made = attempt.make(*want, at, why))
                return std::move(*made);
            if (firstWhy.empty())
                firstWhy = why;
        }
    }
    throw ChunkError(firstWhy);
}

} // namespace chunk

#include "view.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <unordered_set>

namespace chunk {

namespace {

int32_t le32(const uint8_t* p) {
    return static_cast<int32_t>(uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24);
}

const std::vector<size_t> kNone;

} // namespace

// ---- what is loaded -----------------------------------------------------------

std::vector<uint8_t> Loaded::bytes() const {
    std::vector<uint8_t> out;
    out.reserve(static_cast<size_t>(size));
    for (const Run& r : runs) {
        if (r.data)
            out.insert(out.end(), r.data, r.data + r.size);
        else
            out.resize(out.size() + static_cast<size_t>(r.size), 0);
    }
    return out;
}

bool sameBytes(const Loaded& a, const Loaded& b) {
    if (a.size != b.size)
        return false;
    size_t i = 0, j = 0;
    uint64_t x = 0, y = 0; // bytes of runs i and j already compared
    while (i < a.runs.size() && j < b.runs.size()) {
        const Loaded::Run& r = a.runs[i];
        const Loaded::Run& s = b.runs[j];
        const uint64_t n = std::min(r.size - x, s.size - y);
        const uint8_t* p = r.data ? r.data + x : nullptr;
        const uint8_t* q = s.data ? s.data + y : nullptr;
        // Runs taken from the same bytes of the same file are equal without a look.
        if (p != q) {
            if (p && q) {
                if (std::memcmp(p, q, static_cast<size_t>(n)) != 0)
                    return false;
            } else {
                const uint8_t* data = p ? p : q;
                if (std::any_of(data, data + n, [](uint8_t c) { return c != 0; }))
                    return false;
            }
        }
        x += n, y += n;
        if (x == r.size)
            ++i, x = 0;
        if (y == s.size)
            ++j, y = 0;
    }
    return true;
}

// ---- the walk ---------------------------------------------------------------

GameView::GameView(const Rope& file) : file_(&file) {
    const uint64_t size = file.size();
    // A position is read once: the game would loop on a jump back to it. Only a
    // jump can lead back, so positions are remembered from the first jump on.
    std::unordered_set<int64_t> seen;
    bool jumped = false;
    int64_t p = 0;
    for (;;) {
        if (size - static_cast<uint64_t>(p) < 8) {
            ending_ = Ending::Exhausted;
            break;
        }
        if (jumped && !seen.insert(p).second) {
            ending_ = Ending::Loop;
            break;
        }
        if (instances_.size() == kMaxInstances)
            throw ChunkError("the chunk file has more than " + std::to_string(kMaxInstances) +
                             " sections; no map has that many");
        uint8_t header[8] = {};
        file.read(static_cast<uint64_t>(p), header, 8);
        Instance in;
        in.name.assign(reinterpret_cast<const char*>(header), 4);
        in.pos = static_cast<uint64_t>(p);
        in.length = le32(header + 4);
        const int64_t next = p + 8 + in.length;
        if (in.length < 0) {
            in.use = Use::Jump;
            if (!jumped) {
                jumped = true;
                for (const Instance& before : instances_)
                    seen.insert(static_cast<int64_t>(before.pos));
                seen.insert(p);
            }
        } else {
            in.size = std::min<uint64_t>(static_cast<uint64_t>(in.length), size - in.pos - 8);
        }
        auto [it, fresh] = byName_.try_emplace(in.name);
        if (fresh)
            order_.push_back(in.name);
        it->second.push_back(instances_.size());
        instances_.push_back(std::move(in));
        endPos_ = next;
        if (next < 0) {
            ending_ = Ending::BeforeStart;
            break;
        }
        if (static_cast<uint64_t>(next) > size) {
            ending_ = Ending::PastTheEnd;
            break;
        }
        p = next;
    }

    for (auto& [name, list] : byName_) {
        const LoadRule& rule = ruleFor(name);
        std::vector<size_t> survivors;
        for (const size_t i : list) {
            Instance& in = instances_[i];
            if (in.use == Use::Jump)
                continue;
            if (in.size < rule.min) {
                in.use = Use::TooShort;
                continue;
            }
            in.taken = rule.max ? std::min<uint64_t>(in.size, rule.max) : in.size;
            survivors.push_back(i);
        }
        for (size_t k = 0; k < survivors.size(); ++k) {
            Use& use = instances_[survivors[k]].use;
            switch (rule.combine) {
            case Combine::LastWins: use = k + 1 == survivors.size() ? Use::Used : Use::LaterWins; break;
            case Combine::OverwriteStart: use = k == 0 ? Use::Used : Use::OverwritesStart; break;
            case Combine::Append: use = k == 0 ? Use::Used : Use::Appended; break;
            }
        }
    }
}

const std::vector<size_t>& GameView::of(std::string_view name) const {
    const auto it = byName_.find(name);
    return it == byName_.end() ? kNone : it->second;
}

std::optional<Loaded> GameView::loaded(std::string_view name) const {
    const LoadRule& rule = ruleFor(name);
    std::vector<const Instance*> survivors;
    for (const size_t i : of(name))
        if (instances_[i].survives())
            survivors.push_back(&instances_[i]);
    if (survivors.empty())
        return std::nullopt;

    Loaded out;
    const auto take = [&](const Instance& in, uint64_t from, uint64_t to) {
        for (const auto s : file_->spans(in.pos + 8 + from, in.pos + 8 + to))
            out.runs.push_back({s.data(), s.size()});
        out.size += to - from;
    };
    switch (rule.combine) {
    case Combine::LastWins:
        take(*survivors.back(), 0, survivors.back()->taken);
        break;
    case Combine::OverwriteStart: {
        // Byte i comes from the last instance that reaches it: walking back from
        // the last one, each earlier one shows only where it is longer.
        uint64_t covered = 0;
        for (auto it = survivors.rbegin(); it != survivors.rend(); ++it) {
            if ((*it)->taken > covered) {
                take(**it, covered, (*it)->taken);
                covered = (*it)->taken;
            }
        }
        break;
    }
    case Combine::Append:
        for (const Instance* in : survivors)
            take(*in, 0, in->taken);
        break;
    }
    if (rule.padToMax && out.size < rule.max) {
        out.runs.push_back({nullptr, rule.max - out.size});
        out.size = rule.max;
    }
    return out;
}

// ---- what the sections mean -----------------------------------------------------

std::optional<Dimensions> dimensionsOf(const GameView& view) {
    const auto dim = view.loaded("DIM ");
    if (!dim)
        return std::nullopt;
    const auto b = dim->bytes();
    return Dimensions{static_cast<uint16_t>(b[0] | b[1] << 8), static_cast<uint16_t>(b[2] | b[3] << 8)};
}

std::optional<uint16_t> tilesetOf(const GameView& view) {
    const auto era = view.loaded("ERA ");
    if (!era)
        return std::nullopt;
    const auto b = era->bytes();
    // The game reads only the low 3 bits; protections set the others to odd values.
    return static_cast<uint16_t>(b[0] & 7);
}

std::string_view tilesetName(uint16_t tileset) {
    constexpr std::array<std::string_view, 8> kNames = {"badlands", "space platform", "installation", "ashworld",
                                                        "jungle",   "desert",         "ice",          "twilight"};
    return kNames[tileset & 7];
}

std::string describe(const Instance& in) {
    const LoadRule& rule = ruleFor(in.name);
    std::string what;
    switch (in.use) {
    case Use::Used: what = "used"; break;
    case Use::OverwritesStart: what = "overwrites the start"; break;
    case Use::Appended: what = "appended"; break;
    case Use::LaterWins: return "ignored: a later one wins";
    case Use::TooShort: return "ignored: shorter than " + std::to_string(rule.min) + " bytes";
    case Use::Jump: {
        const int64_t step = int64_t{in.length} + 8; // from this instance's name to where the walk goes on
        return step < 0 ? "no data: the walk jumps back " + std::to_string(-step) + " bytes"
                        : "no data: the walk goes on " + std::to_string(step) + " bytes further";
    }
    }
    if (in.size < static_cast<uint64_t>(in.length))
        what += ", cut by the end of the file to " + std::to_string(in.size) + " bytes";
    if (in.taken < in.size)
        what += ", read as " + std::to_string(in.taken) + " bytes";
    return what;
}

int32_t GetSectionOffset(const GameView& view, std::string_view sectionName) {
    const auto& found = view.of(normalizeName(sectionName));
    return found.empty() ? -1 : static_cast<int32_t>(view.instances()[found.front()].pos + 5);
}

int32_t GetSectionLength(const GameView& view, std::string_view sectionName) {
    const auto& found = view.of(normalizeName(sectionName));
    if (found.empty())
        throw ChunkError("no section \"" + printable(normalizeName(sectionName)) + "\"");
    return view.instances()[found.front()].length;
}

} // namespace chunk

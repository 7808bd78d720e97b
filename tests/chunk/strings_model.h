// A plain model of how the game resolves string numbers, and the property that
// carrying strings promises, for the tests and the fuzz target. Only the table of
// string fields and the game's view of each section are shared with the code.
#pragma once

#include "string_table.h"

#include <algorithm>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace model {

using Bytes = std::vector<uint8_t>;
using Views = std::map<std::string, Bytes>;

// The little-endian number of `w` bytes at `at`.
inline uint32_t num(const Bytes& b, uint64_t at, unsigned w) { return w ? b[at] | num(b, at + 1, w - 1) << 8 : 0; }

// The game's view of a chunk file whose bytes outlive it.
struct Chunk { chunk::Rope rope; chunk::GameView view; explicit Chunk(const Bytes& b) : rope(b), view(rope) {} };

inline Views views(const Bytes& file) {
    const Chunk c(file);
    Views out;
    for (const auto& name : c.view.names())
        if (const auto l = c.view.loaded(name))
            out[name] = l->bytes();
    return out;
}

// String k of a map: the count and the offsets are w-byte numbers at the start of
// the table; the text runs from k's offset to a NUL or the end of the table.
inline std::optional<std::string> text(const Views& v, uint32_t k) {
    const unsigned w = v.count("STRx") ? 4 : 2;
    const auto table = v.find(w == 4 ? "STRx" : "STR ");
    if (table == v.end())
        return std::nullopt;
    const Bytes& t = table->second;
    if (k == 0 || t.size() < uint64_t{w} * k + w || k > num(t, 0, w) || num(t, w * k, w) >= t.size())
        return std::nullopt;
    const auto start = t.begin() + num(t, w * k, w);
    return std::string(start, std::find(start, t.end(), 0));
}

struct Ref { uint64_t pos; uint32_t number; chunk::StringKind kind; unsigned width; };

// Every string number in a section's view, row by row of the table.
inline std::vector<Ref> refs(const std::string& name, const Bytes& view) {
    std::vector<Ref> out;
    for (const chunk::StringField& f : chunk::stringFields()) {
        const uint64_t size = f.record ? f.record : view.size();
        for (uint64_t r = 0; f.section == name && size && (r + 1) * size <= view.size(); ++r)
            for (uint32_t i = 0; i < f.count; ++i) {
                const uint64_t slot = r * size + f.at + uint64_t{i} * f.stride, pos = slot + f.field;
                // Past the record, or past the actions, which end at the first of type 0.
                if (pos + f.width > (r + 1) * size || (f.actions && view[slot + 26] == 0))
                    break;
                if ((f.actions && (view[slot + 26] >= 64 || !((f.actions >> view[slot + 26]) & 1))) ||
                    (f.useDefault && view[r * size + i] != 0))
                    continue;
                const uint32_t n = num(view, pos, f.width);
                if (n != 0 && n <= f.max)
                    out.push_back({pos, n, f.kind, f.width});
            }
    }
    return out;
}
// What breaks the carrying property, or "": `result` made from `copied` (the map to
// edit after the raw copy of `names` from `splice`) with `sounds` carried.
inline std::string carriedFault(const Bytes& copied, const Bytes& splice, const std::vector<std::string>& names,
                                const std::map<std::string, std::string>& sounds, const Bytes& result) {
    const Views e = views(copied), s = views(splice), r = views(result);
    const auto copiedName = [&](const std::string& n) { return std::count(names.begin(), names.end(), n) > 0; };
    if (copiedName("STR ") || copiedName("STRx"))
        return e == r ? "" : "copying the string table changed more than it";
    const auto sameName = [](const auto& a, const auto& b) { return a.first == b.first; };
    if (!std::equal(e.begin(), e.end(), r.begin(), r.end(), sameName))
        return "a section appeared or went";
    for (const auto& [n, was] : e) {
        if (n == "STR " || n == "STRx")
            continue;
        const Bytes& now = r.at(n);
        if (!copiedName(n) || !chunk::holdsStrings(n)) {
            for (const Ref& ref : refs(n, was))
                if (const auto t = text(e, ref.number); t && text(r, ref.number) != t)
                    return "\"" + n + "\" names another text at " + std::to_string(ref.pos);
            if (n == "WAV " && !copiedName(n) && was.size() == now.size()) {
                for (size_t i = 0; i + 4 <= was.size(); i += 4) {
                    const uint32_t a = num(was, i, 4), b = num(now, i, 4);
                    const auto carried = [&](const auto& sound) { return text(r, b) == sound.second; };
                    if (a != b && (a != 0 || i >= 2048 || std::none_of(sounds.begin(), sounds.end(), carried)))
                        return "the sound list changed otherwise than by a carried sound";
                }
            } else if (was != now) {
                return "\"" + n + "\" changed";
            }
            continue;
        }
        const Bytes& want = s.at(n);
        if (want.size() != now.size())
            return "\"" + n + "\" is not the splice map's size";
        Bytes masked = want;
        for (const Ref& ref : refs(n, want)) {
            const uint32_t got = num(now, ref.pos, ref.width);
            auto t = text(s, ref.number);
            if (t && ref.kind == chunk::StringKind::Sound && sounds.count(*t))
                t = sounds.at(*t);
            if (t ? text(r, got) != t : got != ref.number)
                return "\"" + n + "\" at " + std::to_string(ref.pos) + " reads another text than in the map to splice";
            for (unsigned i = 0; i < ref.width; ++i)
                masked[ref.pos + i] = now[ref.pos + i];
        }
        if (masked != now)
            return "\"" + n + "\" changed outside its string numbers";
    }
    const Views::const_iterator table = e.count("STRx") ? e.find("STRx") : e.find("STR ");
    for (uint32_t k = 1; table != e.end() && k <= num(table->second, 0, table->first == "STRx" ? 4 : 2); ++k)
        if (const auto t = text(e, k); t && !t->empty() && text(r, k) != t)
            return "string " + std::to_string(k) + " reads another text";
    return "";
}

} // namespace model

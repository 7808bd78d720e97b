#include "copy.h"
#include "fixtures.h"
#include "strings_model.h"

#include <gmock/gmock.h>

#include <random>
#include <set>
#include <variant>

using fixtures::Bytes;
using model::Views;

namespace {

// Sections declaring any length, each followed by its data.
Bytes secs(std::initializer_list<std::tuple<std::string, int32_t, Bytes>> sections) {
    Bytes out;
    for (const auto& [name, length, data] : sections) {
        Bytes b = fixtures::makeChunk({{name, data}});
        fixtures::put(b, 4, uint32_t(length), 4);
        out.insert(out.end(), b.begin(), b.end());
    }
    return out;
}
Bytes plus(Bytes b, const Bytes& tail) { return b.insert(b.end(), tail.begin(), tail.end()), b; }

// The game's view written plainly from the format's description: walk, cut, then
// combine by the name's rule. Only the rule table is shared with the code under test.
Views plainViews(const Bytes& f) {
    Views views;
    std::set<int64_t> seen;
    const int64_t size = int64_t(f.size());
    for (int64_t p = 0; p >= 0 && size - p >= 8 && seen.insert(p).second;) {
        const std::string name(f.begin() + p, f.begin() + p + 4);
        const chunk::LoadRule& rule = chunk::ruleFor(name);
        const int32_t n = int32_t(model::num(f, p + 4, 4));
        Bytes d(f.begin() + p + 8, f.begin() + std::min(size, p + 8 + std::max(n, 0)));
        p += 8 + int64_t(n);
        if (n < 0 || d.size() < rule.min)
            continue;
        if (rule.max && d.size() > rule.max)
            d.resize(rule.max);
        const auto view = views.find(name);
        if (view != views.end() && rule.combine == chunk::Combine::OverwriteStart && view->second.size() > d.size())
            std::copy(d.begin(), d.end(), view->second.begin());
        else if (view != views.end() && rule.combine == chunk::Combine::Append)
            view->second.insert(view->second.end(), d.begin(), d.end());
        else
            views[name] = d;
    }
    for (auto& [name, view] : views)
        if (chunk::ruleFor(name).padToMax)
            view.resize(std::max<size_t>(view.size(), chunk::ruleFor(name).max));
    return views;
}

// Chunk files as protections build them.
const Bytes kDecoyFirst = secs({{"DIM ", 4, {0, 0, 0, 0}}, {"ERA ", 2, {4, 0x80}}, {"DIM ", 4, {64, 0, 96, 0}},
                                {"ERA ", 2, {0x0C, 0xB4}}, {"DIM ", 2, {1, 1}}});
const Bytes kOverwrites = secs({{"MTXM", 6, Bytes(6, 'A')}, {"STR ", 4, Bytes(4, 's')}, {"MTXM", 2, Bytes(2, 'B')},
                                {"STR ", 1, {'x'}}, {"MTXM", 4, Bytes(4, 'C')}});
const Bytes kAppended = secs({{"UNIT", 3, Bytes(3, 'u')}, {"TRIG", 2, Bytes(2, 't')}, {"UNIT", 2, Bytes(2, 'v')},
                              {"FORC", 3, {1, 2, 3}}});
// JUMP goes back into XXXX's data, where a TILE is read as a section of its own;
// the walk then meets the outer TILE again and ends, never reaching VER.
const Bytes kStacked = secs({{"XXXX", 12, secs({{"TILE", 4, Bytes(4, 'i')}})}, {"TILE", 2, Bytes(2, 'o')},
                             {"JUMP", -30, {}}, {"VER ", 2, {1, 2}}});
// BACK jumps over MTXM into HIDE's data, where a VER is read.
const Bytes kJumpOver =
    secs({{"HIDE", 10, secs({{"VER ", 2, {9, 9}}})}, {"MTXM", 2, Bytes(2, 'B')}, {"BACK", -28, {}}});

TEST(GameView, ReadsWhatTheGameReads) {
    const struct { Bytes file; Views views; std::vector<std::string> uses; } cases[] = {
        {kDecoyFirst, {{"DIM ", {64, 0, 96, 0}}, {"ERA ", {0x0C, 0xB4}}},
         {"ignored: a later one wins", "ignored: a later one wins", "used", "used", "ignored: shorter than 4 bytes"}},
        {kOverwrites, {{"MTXM", {'C', 'C', 'C', 'C', 'A', 'A'}}, {"STR ", Bytes(4, 's')}},
         {"used", "used", "overwrites the start", "ignored: shorter than 2 bytes", "overwrites the start"}},
        {kAppended, {{"UNIT", {'u', 'u', 'u', 'v', 'v'}}, {"TRIG", {'t', 't'}}, {"FORC", plus({1, 2, 3}, Bytes(17))}},
         {"used", "used", "appended", "used"}},
        {kStacked, {{"XXXX", secs({{"TILE", 4, Bytes(4, 'i')}})}, {"TILE", Bytes(4, 'i')}},
         {"used", "ignored: a later one wins", "no data: the walk jumps back 22 bytes", "used"}},
        {kJumpOver, {{"HIDE", secs({{"VER ", 2, {9, 9}}})}, {"VER ", {9, 9}}, {"MTXM", Bytes(2, 'B')}},
         {"used", "used", "no data: the walk jumps back 20 bytes", "used"}},
        // Cut by the end of the file; a header cut short ends the walk.
        {secs({{"TILE", 9, {1, 2}}}), {{"TILE", {1, 2}}}, {"used, cut by the end of the file to 2 bytes"}},
        {plus(secs({{"DIM ", 5, {1, 2, 3, 4, 5}}}), {'E', 'R', 'A', ' ', 2, 0, 0}), {{"DIM ", {1, 2, 3, 4}}},
         {"used, read as 4 bytes"}},
        {secs({{"BACK", -100, {}}, {"TILE", 0, {}}}), {}, {"no data: the walk jumps back 92 bytes"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE("case " + std::to_string(&c - cases));
        EXPECT_EQ(model::views(c.file), c.views);
        EXPECT_EQ(plainViews(c.file), c.views);
        const model::Chunk chunk(c.file);
        std::vector<std::string> uses;
        for (const auto& in : chunk.view.instances())
            uses.push_back(chunk::describe(in));
        EXPECT_EQ(uses, c.uses);
    }
    // Names in messages: what is not plain printable ASCII, and the backslash, in hex.
    EXPECT_EQ(chunk::printable("~\\\x7F\x01"), "~\\x5C\\x7F\\x01");
    // A file of more sections than any map holds is refused, not walked on.
    EXPECT_THROW(model::views(Bytes(8 * (chunk::kMaxInstances + 1))), chunk::ChunkError);
}

// Seeded chunk files with repeated, short, cut and stacked sections and jumps back.
Bytes randomChunk(std::mt19937& rng) {
    static const char* names[] = {"MTXM", "STR ", "UNIT", "DIM ", "TILE", "FORC", "ERA ", "XXXX"};
    Bytes f;
    std::vector<size_t> starts;
    for (int i = 0, n = 1 + int(rng() % 9); i < n; ++i) {
        starts.push_back(f.size());
        const std::string name = names[rng() % 8];
        if (rng() % 6 == 0) { // a jump back to a header or into data
            const int64_t to = rng() % 2 ? int64_t(starts[rng() % starts.size()]) : int64_t(rng() % (f.size() + 1));
            f = plus(f, secs({{name, int32_t(to - int64_t(f.size()) - 8), {}}}));
        } else if (rng() % 5 == 0) { // a section holding two others
            const Bytes inner = secs({{names[rng() % 8], 2, {1, 2}}, {name, 3, fixtures::pattern(3, rng())}});
            f = plus(f, secs({{"XXXX", int32_t(inner.size()), inner}}));
        } else { // now and then declaring more or less than it holds
            const size_t size = rng() % 14;
            const int32_t declared = rng() % 5 ? int32_t(size) : int32_t(rng() % 14);
            f = plus(f, secs({{name, declared, fixtures::pattern(size, rng(), false)}}));
        }
    }
    f.resize(f.size() - (rng() % 4 == 0 ? rng() % 5 : 0)); // sometimes cut short
    return f;
}

// The new chunk file (index 0), or why there is none. A copy that goes through must give, in the
// plain model, the splice map's view of the name and the map to edit's of every other.
using Copy = std::variant<Bytes, std::string>;
Copy copyOf(const Bytes& edit, const Bytes& splice, const std::string& name) {
    try {
        const auto c = chunk::copySection(model::Chunk(edit).view, model::Chunk(splice).view, name);
        EXPECT_LE(c.sectionEnd, c.file.size());
        Views want = plainViews(edit);
        want[name] = plainViews(splice).at(name);
        EXPECT_EQ(plainViews(c.file.bytes()), want) << name;
        return c.file.bytes();
    } catch (const chunk::ChunkError& e) {
        return e.what();
    }
}

TEST(GameView, AgreesWithAPlainModelOnRandomChunkFilesAndCopiesKeepEveryOtherView) {
    std::mt19937 rng(20261208);
    size_t copied = 0, tried = 0;
    for (int round = 0; round < 2000; ++round) {
        const Bytes a = randomChunk(rng), b = randomChunk(rng);
        ASSERT_EQ(model::views(a), plainViews(a)) << "round " << round;
        for (const std::string name : {"MTXM", "STR ", "UNIT", "DIM ", "TILE", "FORC"})
            if (plainViews(a).count(name) && plainViews(b).count(name))
                ++tried, copied += copyOf(a, b, name).index() == 0;
    }
    EXPECT_GT(copied, tried * 9 / 10) << "too many refusals: " << copied << " of " << tried;
}

TEST(CopySection, GivesTheSpliceMapsViewWithTheSmallestChange) {
    const Bytes single = secs({{"VER ", 2, {1, 0}}, {"TILE", 3, Bytes(3, 'e')}, {"MTXM", 1, {7}}});
    const Bytes other = secs({{"TILE", 5, Bytes(5, 's')}, {"MTXM", 3, Bytes(3, 'm')}, {"DIM ", 4, {32, 0, 32, 0}}});
    const Bytes cover = secs({{"MTXM", 2, Bytes(2, 'C')}});
    const struct { Bytes edit, splice; std::string name; Copy want; } cases[] = {
        // Neither repeats the name: the three-part splice.
        {single, other, "TILE", secs({{"VER ", 2, {1, 0}}, {"TILE", 5, Bytes(5, 's')}, {"MTXM", 1, {7}}})},
        // The same map, or an identical view, leaves the file as it is.
        {kOverwrites, kOverwrites, "MTXM", kOverwrites},
        // An earlier terrain the new one covers whole stays as it is.
        {secs({{"MTXM", 2, Bytes(2, 'A')}, {"MTXM", 1, {'B'}}}), cover, "MTXM",
         plus(secs({{"MTXM", 2, Bytes(2, 'A')}}), cover)},
        {single, other, "DIM ", "both chunk files must hold a \"DIM \" section the game reads"},
        // A section read twice, once inside another: no file gives the right view.
        {kStacked, other, "TILE", "changing its \"TILE\" would also change what the game reads as its \"XXXX\" "
                                  "section, which holds the same bytes"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(copyOf(c.edit, c.splice, c.name), c.want) << c.name;
    // Decoys before the instance the game uses stay; later instances that would
    // still show are emptied; a jump back across a changed section still lands where it did.
    for (const auto& [edit, name] : {std::pair{kDecoyFirst, "DIM "}, {kOverwrites, "MTXM"}, {kOverwrites, "STR "},
                                     {kAppended, "UNIT"}, {kJumpOver, "MTXM"}})
        for (const Bytes& splice : {other, kDecoyFirst, kOverwrites, kAppended, secs({{"UNIT", 0, {}}})})
            EXPECT_TRUE(!plainViews(splice).count(name) || copyOf(edit, splice, name).index() == 0) << name;
    EXPECT_EQ(std::get<Bytes>(copyOf(kDecoyFirst, other, "DIM ")).size(), kDecoyFirst.size());
}

// The look-up of the first instance in the walk, by 1-based position of its length field.
TEST(ChunkWalk, FindsTheFirstInstanceTheGameMeets) {
    const struct { Bytes file; std::string name; int32_t offset, length; } cases[] = {
        {secs({{"TILE", -0x12345678, {}}}), "TILE", 5, -0x12345678}, // little-endian and signed
        {secs({{"VER ", 2, {1, 2}}, {"TILE", 3, {9, 9, 9}}, {"TILE", 1, {7}}}), "TILE", 15, 3},
        {secs({{"TILE", 1, {1}}}), "tile", -1, 0},                                   // case matters
        {secs({{"VER ", 8, {}}, {"MTXM", 2, {}}, {"MTXM", 1, {5}}}), "MTXM", 21, 1}, // a byte search takes VER's data
        {kStacked, "TILE", 25, 2}, // the first the walk meets, not the one the game keeps
        {plus(secs({{"VER ", 0, {}}}), {'T', 'I', 'L', 'E', 5, 0, 0}), "TILE", -1, 0}, // a header cut short
        {secs({{"STRx", 1, {1}}, {"STR ", 2, {2, 3}}}), "STR", 14, 2}, // short names are padded, not prefix-matched
    };
    for (const auto& c : cases) {
        SCOPED_TRACE("case " + std::to_string(&c - cases));
        const model::Chunk file(c.file);
        EXPECT_EQ(chunk::GetSectionOffset(file.view, c.name), c.offset);
        if (c.offset > 0)
            EXPECT_EQ(chunk::GetSectionLength(file.view, c.name), c.length);
        else
            EXPECT_THROW(chunk::GetSectionLength(file.view, c.name), chunk::ChunkError);
    }
    for (const auto& bad : {std::pair{"", "empty section name: a section name has 1 to 4 characters"},
                            {"TILES", "section name \"TILES\" is longer than 4 characters"}})
        EXPECT_THAT([&] { chunk::GetSectionOffset(chunk::GameView(chunk::Rope()), bad.first); },
                    ::testing::ThrowsMessage<chunk::ChunkError>(::testing::StrEq(bad.second)));
}

} // namespace

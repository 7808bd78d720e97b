#include "copy.h"
#include "fixtures.h"

#include <gmock/gmock.h>

#include <cstring>
#include <map>
#include <random>
#include <set>

using fixtures::Bytes;

namespace {

// Sections declaring any length, each followed by its data.
Bytes secs(std::initializer_list<std::tuple<std::string, int32_t, Bytes>> sections) {
    Bytes out;
    for (const auto& [name, length, data] : sections) {
        Bytes b = fixtures::makeChunk({{name, data}});
        std::memcpy(&b[4], &length, 4);
        out.insert(out.end(), b.begin(), b.end());
    }
    return out;
}
Bytes plus(Bytes b, const Bytes& tail) { return b.insert(b.end(), tail.begin(), tail.end()), b; }
Bytes fill(size_t n, uint8_t v) { return Bytes(n, v); }

// The game's view written plainly from the format's description: walk, cut, then
// combine by the name's rule. Only the rule table is shared with the code under test.
std::map<std::string, Bytes> plainViews(const Bytes& f) {
    std::map<std::string, std::vector<Bytes>> found;
    std::set<int64_t> seen;
    const int64_t size = int64_t(f.size());
    for (int64_t p = 0; size - p >= 8 && seen.insert(p).second;) {
        int32_t n;
        std::memcpy(&n, &f[p + 4], 4);
        auto& list = found[std::string(f.begin() + p, f.begin() + p + 4)];
        if (n >= 0)
            list.emplace_back(f.begin() + p + 8, f.begin() + std::min(size, p + 8 + n));
        p += 8 + int64_t(n);
        if (p < 0 || p > size)
            break;
    }
    std::map<std::string, Bytes> views;
    for (auto& [name, list] : found) {
        const chunk::LoadRule& rule = chunk::ruleFor(name);
        std::optional<Bytes> view;
        for (Bytes d : list) {
            if (d.size() < rule.min)
                continue;
            if (rule.max && d.size() > rule.max)
                d.resize(rule.max);
            if (view && rule.combine == chunk::Combine::OverwriteStart && view->size() > d.size())
                std::copy(d.begin(), d.end(), view->begin());
            else if (view && rule.combine == chunk::Combine::Append)
                view->insert(view->end(), d.begin(), d.end());
            else
                view = d;
        }
        if (view && rule.padToMax)
            view->resize(std::max<size_t>(view->size(), rule.max), 0);
        if (view)
            views[name] = *view;
    }
    return views;
}

std::map<std::string, Bytes> codeViews(const Bytes& f) {
    const chunk::Rope rope(f);
    const chunk::GameView view(rope);
    std::map<std::string, Bytes> out;
    for (const auto& name : view.names())
        if (const auto l = view.loaded(name))
            out[name] = l->bytes();
    return out;
}

// Chunk files as protections build them.
const Bytes kDecoyFirst = secs({{"DIM ", 4, {0, 0, 0, 0}}, {"ERA ", 2, {4, 0x80}}, {"DIM ", 4, {64, 0, 96, 0}},
                                {"ERA ", 2, {0x0C, 0xB4}}, {"DIM ", 2, {1, 1}}});
const Bytes kOverwrites = secs({{"MTXM", 6, fill(6, 'A')}, {"STR ", 4, fill(4, 's')}, {"MTXM", 2, fill(2, 'B')},
                                {"STR ", 1, {'x'}}, {"MTXM", 4, fill(4, 'C')}});
const Bytes kAppended = secs({{"UNIT", 3, fill(3, 'u')}, {"TRIG", 2, fill(2, 't')}, {"UNIT", 2, fill(2, 'v')},
                              {"FORC", 3, {1, 2, 3}}});
// JUMP goes back into XXXX's data, where a TILE is read as a section of its own;
// the walk then meets the outer TILE again and ends, never reaching VER.
const Bytes kStacked = secs({{"XXXX", 12, secs({{"TILE", 4, fill(4, 'i')}})}, {"TILE", 2, fill(2, 'o')},
                             {"JUMP", -30, {}}, {"VER ", 2, {1, 2}}});
// BACK jumps over MTXM into HIDE's data, where a VER is read.
const Bytes kJumpOver = secs({{"HIDE", 10, secs({{"VER ", 2, {9, 9}}})}, {"MTXM", 2, fill(2, 'B')}, {"BACK", -28, {}}});

TEST(GameView, ReadsWhatTheGameReads) {
    using V = std::map<std::string, Bytes>;
    const struct { Bytes file; V views; } cases[] = {
        {kDecoyFirst, V{{"DIM ", {64, 0, 96, 0}}, {"ERA ", {0x0C, 0xB4}}}},
        {kOverwrites, V{{"MTXM", {'C', 'C', 'C', 'C', 'A', 'A'}}, {"STR ", fill(4, 's')}}},
        {kAppended, V{{"UNIT", {'u', 'u', 'u', 'v', 'v'}}, {"TRIG", {'t', 't'}}, {"FORC", plus({1, 2, 3}, Bytes(17))}}},
        {kStacked, V{{"XXXX", secs({{"TILE", 4, fill(4, 'i')}})}, {"TILE", fill(4, 'i')}}},
        {kJumpOver, V{{"HIDE", secs({{"VER ", 2, {9, 9}}})}, {"VER ", {9, 9}}, {"MTXM", fill(2, 'B')}}},
        // Cut by the end of the file; a header cut short ends the walk.
        {plus(secs({{"TILE", 9, {1, 2}}}), {}), V{{"TILE", {1, 2}}}},
        {plus(secs({{"DIM ", 5, {1, 2, 3, 4, 5}}}), {'E', 'R', 'A', ' ', 2, 0, 0}), V{{"DIM ", {1, 2, 3, 4}}}},
        {secs({{"BACK", -100, {}}, {"TILE", 0, {}}}), V{}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE("case " + std::to_string(&c - cases));
        EXPECT_EQ(codeViews(c.file), c.views);
        EXPECT_EQ(plainViews(c.file), c.views);
    }
    for (const auto& [file, want] :
         {std::pair{kOverwrites, std::vector<std::string>{"used", "used", "overwrites the start",
                                                          "ignored: shorter than 2 bytes", "overwrites the start"}},
          {kAppended, {"used", "used", "appended", "used"}}}) {
        const chunk::Rope rope(file);
        const chunk::GameView view(rope);
        std::vector<std::string> uses;
        for (const auto& in : view.instances())
            uses.push_back(chunk::describe(in));
        EXPECT_EQ(uses, want);
    }
    // Names in messages: what is not plain printable ASCII, and the backslash, in hex.
    EXPECT_EQ(chunk::printable("~\\\x7F\x01"), "~\\x5C\\x7F\\x01");
    // A file of more sections than any map holds is refused, not walked on.
    const Bytes empties(8 * (chunk::kMaxInstances + 1), 0);
    const chunk::Rope many(empties);
    EXPECT_THROW(chunk::GameView{many}, chunk::ChunkError);
}

// Seeded chunk files with repeated, short, cut and stacked sections and jumps back.
Bytes randomChunk(std::mt19937& rng) {
    static const char* names[] = {"MTXM", "STR ", "UNIT", "DIM ", "TILE", "FORC", "ERA ", "XXXX"};
    Bytes f;
    std::vector<size_t> starts;
    for (int i = 0, n = 1 + int(rng() % 9); i < n; ++i) {
        starts.push_back(f.size());
        const std::string name = names[rng() % 8];
        if (rng() % 6 == 0 && !starts.empty()) { // a jump back to a header or into data
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

// For a copy that goes through, the plain model must see the property the copy promises.
void expectCopied(const Bytes& edit, const Bytes& splice, const std::string& name, const Bytes& out) {
    auto want = plainViews(edit);
    want.erase(name);
    if (const auto v = plainViews(splice); v.count(name))
        want[name] = v.at(name);
    EXPECT_EQ(plainViews(out), want) << name;
}

std::optional<Bytes> copyOf(const Bytes& edit, const Bytes& splice, const std::string& name, std::string* why = nullptr) {
    const chunk::Rope e(edit), s(splice);
    const chunk::GameView ve(e), vs(s);
    try {
        auto c = chunk::copySection(ve, vs, name);
        EXPECT_LE(c.sectionEnd, c.file.size());
        return c.file.bytes();
    } catch (const chunk::ChunkError& e) {
        if (why)
            *why = e.what();
        return std::nullopt;
    }
}

TEST(GameView, AgreesWithAPlainModelOnRandomChunkFilesAndCopiesKeepEveryOtherView) {
    std::mt19937 rng(20261208);
    size_t copied = 0, tried = 0;
    for (int round = 0; round < 2000; ++round) {
        const Bytes a = randomChunk(rng), b = randomChunk(rng);
        ASSERT_EQ(codeViews(a), plainViews(a)) << "round " << round;
        for (const std::string name : {"MTXM", "STR ", "UNIT", "DIM ", "TILE", "FORC"}) {
            if (!plainViews(a).count(name) || !plainViews(b).count(name))
                continue;
            ++tried;
            if (const auto out = copyOf(a, b, name)) {
                ++copied;
                expectCopied(a, b, name, *out);
            }
        }
    }
    EXPECT_GT(copied, tried * 9 / 10) << "too many refusals: " << copied << " of " << tried;
}

TEST(CopySection, GivesTheSpliceMapsViewWithTheSmallestChange) {
    const Bytes single = secs({{"VER ", 2, {1, 0}}, {"TILE", 3, fill(3, 'e')}, {"MTXM", 1, {7}}});
    const Bytes other = secs({{"TILE", 5, fill(5, 's')}, {"MTXM", 3, fill(3, 'm')}, {"DIM ", 4, {32, 0, 32, 0}}});
    // Neither repeats the name: the three-part splice.
    EXPECT_EQ(copyOf(single, other, "TILE"),
              secs({{"VER ", 2, {1, 0}}, {"TILE", 5, fill(5, 's')}, {"MTXM", 1, {7}}}));
    // The same map, or an identical view, leaves the file as it is.
    EXPECT_EQ(copyOf(kOverwrites, kOverwrites, "MTXM"), kOverwrites);
    // Decoys before the instance the game uses stay; later instances that would
    // still show are emptied; a jump back across a changed section still lands where it did.
    for (const auto& [edit, name] : {std::pair{kDecoyFirst, "DIM "}, {kOverwrites, "MTXM"}, {kOverwrites, "STR "},
                                     {kAppended, "UNIT"}, {kJumpOver, "MTXM"}}) {
        for (const Bytes& splice : {other, kDecoyFirst, kOverwrites, kAppended, secs({{"UNIT", 0, {}}})}) {
            if (!plainViews(splice).count(name))
                continue;
            const auto out = copyOf(edit, splice, name);
            ASSERT_TRUE(out) << name;
            expectCopied(edit, splice, name, *out);
        }
    }
    EXPECT_EQ(copyOf(kDecoyFirst, other, "DIM ").value_or(Bytes{}).size(), kDecoyFirst.size());
    std::string why;
    // An earlier terrain the new one covers whole stays as it is.
    EXPECT_EQ(copyOf(secs({{"MTXM", 2, fill(2, 'A')}, {"MTXM", 1, {'B'}}}), secs({{"MTXM", 2, fill(2, 'C')}}), "MTXM"),
              secs({{"MTXM", 2, fill(2, 'A')}, {"MTXM", 2, fill(2, 'C')}}));
    // A name one of the maps has no view of.
    EXPECT_FALSE(copyOf(single, other, "DIM ", &why));
    EXPECT_EQ(why, "both chunk files must hold a \"DIM \" section the game reads");
    // A section read twice, once inside another: no file gives the right view.
    EXPECT_FALSE(copyOf(kStacked, other, "TILE", &why));
    EXPECT_EQ(why, "changing its \"TILE\" would also change what the game reads as its \"XXXX\" section, which "
                   "holds the same bytes");
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
        const chunk::Rope file(c.file);
        const chunk::GameView view(file);
        EXPECT_EQ(chunk::GetSectionOffset(view, c.name), c.offset);
        if (c.offset > 0)
            EXPECT_EQ(chunk::GetSectionLength(view, c.name), c.length);
        else
            EXPECT_THROW(chunk::GetSectionLength(view, c.name), chunk::ChunkError);
    }
    // Bad names are refused.
    const chunk::Rope empty;
    const chunk::GameView none(empty);
    using Refusal = std::pair<std::string, std::string>;
    for (const Refusal& r : {Refusal{"", "empty section name: a section name has 1 to 4 characters"},
                             Refusal{"TILES", "section name \"TILES\" is longer than 4 characters"}})
        EXPECT_THAT([&] { chunk::GetSectionOffset(none, r.first); },
                    ::testing::ThrowsMessage<chunk::ChunkError>(::testing::StrEq(r.second)));
}

} // namespace

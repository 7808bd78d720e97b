#include "fixtures.h"
#include "modFunctions.h"

#include <gmock/gmock.h>

#include <cstring>

using fixtures::Bytes;
using namespace modFunctions;

namespace {

// Section headers declaring any length, each followed by its data.
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

// Where the walk finds each name: the 1-based position of its length field and the length, or -1.
const struct { Bytes file; std::string name; int32_t offset, length; } kCases[] = {
    {secs({{"TILE", -0x12345678, {}}}), "TILE", 5, -0x12345678}, // little-endian and signed
    {secs({{"VER ", 2, {1, 2}}, {"TILE", 3, {9, 9, 9}}, {"TILE", 1, {7}}}), "TILE", 15, 3}, // the first of two
    {secs({{"TILE", 1, {1}}}), "tile", -1, 0},                                              // case matters
    {secs({{"VER ", 8, {}}, {"MTXM", 2, {}}, {"MTXM", 1, {5}}}), "MTXM", 21, 1}, // a byte search takes VER's data
    // TILE at 9 lies inside AAAA's data: JUMP at 17 steps back to 1 (a cycle), or onto TILE.
    {secs({{"AAAA", 8, {}}, {"TILE", 0, {}}, {"JUMP", -24, {}}}), "TILE", -1, 0},
    {secs({{"AAAA", 8, {}}, {"TILE", 0, {}}, {"JUMP", -16, {}}}), "TILE", 13, 0},
    {secs({{"LOOP", -8, {}}, {"TILE", 0, {}}}), "TILE", -1, 0},
    {secs({{"BACK", -100, {}}}), "TILE", -1, 0}, // before the file
    // A cut-off last header reads its missing bytes as zero; under 4 bytes hold no name.
    {plus(secs({{"VER ", 0, {}}}), {'T', 'I', 'L', 'E', 5, 0}), "TILE", 13, 5},
    {plus(secs({{"VER ", 0, {}}}), {'T', 'I', 'L', 'E'}), "TILE", 13, 0},
    {plus(secs({{"VER ", 0, {}}}), {'T', 'I', 'L'}), std::string("TIL\0", 4), -1, 0},
    {secs({{"STRx", 1, {1}}, {"STR ", 2, {2, 3}}}), "STR", 14, 2}, // short names are padded, not prefix-matched
    {{}, "TILE", -1, 0},
};

TEST(ChunkWalk, FindsTheSectionsTheGameFinds) {
    const fixtures::ScratchDir dir;
    for (const auto& c : kCases) {
        SCOPED_TRACE("case " + std::to_string(&c - kCases));
        fixtures::writeAll(dir / "f.chk", c.file);
        EXPECT_EQ(GetSectionOffset(dir / "f.chk", c.name), c.offset);
        if (c.offset > 0)
            EXPECT_EQ(GetSectionLength(dir / "f.chk", c.name), c.length);
        else
            EXPECT_THROW(GetSectionLength(dir / "f.chk", c.name), chunk::ChunkError);
    }
    // Bad names are refused before the file is looked at; a missing file is not created.
    using Refusal = std::pair<std::string, std::string>;
    for (const Refusal& r : {Refusal{"", "empty section name: a section name has 1 to 4 characters"},
                             Refusal{"TILES", "section name \"TILES\" is longer than 4 characters"},
                             Refusal{"TILE", (dir / "none.chk").string() + ": file not found"}})
        EXPECT_THAT([&] { GetSectionOffset(dir / "none.chk", r.first); },
                    ::testing::ThrowsMessage<chunk::ChunkError>(::testing::StrEq(r.second)));
    EXPECT_FALSE(std::filesystem::exists(dir / "none.chk"));
}

} // namespace

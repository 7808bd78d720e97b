#include "fixtures.h"
#include "modFunctions.h"

#include <gtest/gtest.h>

#include <cstring>

using fixtures::Bytes;
using modFunctions::GetSectionLength;
using modFunctions::GetSectionOffset;

namespace {

// A section header declaring any length, followed by `data`.
Bytes sec(const std::string& name, int32_t length, const Bytes& data = {}) {
    Bytes b = fixtures::makeChunk({{name, data}});
    std::memcpy(&b[4], &length, 4);
    return b;
}
template <class... Parts>
Bytes cat(const Parts&... parts) {
    Bytes out;
    (out.insert(out.end(), parts.begin(), parts.end()), ...);
    return out;
}

struct Case {
    Bytes file;
    std::string name;
    int32_t offset, length; // of the length field from 1, or -1 when the walk does not reach it
} const kCases[] = {
    {sec("TILE", 0x12345678), "TILE", 5, 0x12345678}, // little-endian
    {sec("TILE", -1), "TILE", 5, -1},                 // signed
    {cat(sec("VER ", 2, {1, 2}), sec("TILE", 3, {9, 9, 9}), sec("TILE", 1, {7})), "TILE", 15, 3}, // the first of two
    {sec("TILE", 1, {1}), "tile", -1, 0},             // case matters
    {sec("TILE", 1, {1}), "MTXM", -1, 0},
    {cat(sec("VER ", 8), sec("MTXM", 2), sec("MTXM", 1, {5})), "MTXM", 21, 1}, // a byte search takes VER's data
    // TILE at 9 lies inside AAAA's data: JUMP at 17 steps back to 1 (a cycle), or onto TILE.
    {cat(sec("AAAA", 8), sec("TILE", 0), sec("JUMP", -24)), "TILE", -1, 0},
    {cat(sec("AAAA", 8), sec("TILE", 0), sec("JUMP", -16)), "TILE", 13, 0},
    {cat(sec("LOOP", -8), sec("TILE", 0)), "TILE", -1, 0},
    {sec("BACK", -100), "TILE", -1, 0}, // before the file
    // A cut-off last header reads its missing bytes as zero; under 4 bytes hold no name.
    {cat(sec("VER ", 0), Bytes{'T', 'I', 'L', 'E', 5, 0}), "TILE", 13, 5},
    {cat(sec("VER ", 0), Bytes{'T', 'I', 'L', 'E'}), "TILE", 13, 0},
    {cat(sec("VER ", 0), Bytes{'T', 'I', 'L'}), std::string("TIL\0", 4), -1, 0},
    {cat(sec("STRx", 1, {1}), sec("STR ", 2, {2, 3})), "STR", 14, 2}, // short names are padded,
    {sec("TILE", 0), "TIL", -1, 0},                                      // not prefix-matched
    {{}, "TILE", -1, 0},
};

TEST(ChunkWalk, FindsTheSectionsTheGameFinds) {
    const fixtures::ScratchDir dir;
    for (const Case& c : kCases) {
        SCOPED_TRACE("case " + std::to_string(&c - kCases));
        fixtures::writeAll(dir / "f.chk", c.file);
        EXPECT_EQ(GetSectionOffset(dir / "f.chk", c.name), c.offset);
        if (c.offset > 0)
            EXPECT_EQ(GetSectionLength(dir / "f.chk", c.name), c.length);
        else
            EXPECT_THROW(GetSectionLength(dir / "f.chk", c.name), chunk::ChunkError);
    }
}

// Bad names are refused before the file is looked at, and a missing file is not created.
TEST(ChunkWalk, RefusalsSayWhyAndCreateNothing) {
    const fixtures::ScratchDir dir;
    for (const auto& [name, error] : {std::pair<std::string, std::string>{"", "empty section name: a section name has 1 to 4 characters"},
                                      {"TILES", "section name \"TILES\" is longer than 4 characters"}, {"TILE", (dir / "none.chk").string() + ": file not found"}})
        try {
            GetSectionOffset(dir / "none.chk", name);
            ADD_FAILURE() << name;
        } catch (const chunk::ChunkError& e) {
            EXPECT_EQ(e.what(), error);
        }
    EXPECT_FALSE(std::filesystem::exists(dir / "none.chk"));
}

TEST(ChunkWalk, ListsTheSectionsItVisitsInOrder) {
    std::vector<std::tuple<std::string, int32_t, int32_t>> got;
    for (const auto& s : chunk::walkSections(cat(sec("VER ", 2, {1, 0}), sec("LOOP", -18), sec("TILE", 0))))
        got.emplace_back(s.name, s.lengthPos, s.length);
    EXPECT_EQ(got, (decltype(got){{"VER ", 5, 2}, {"LOOP", 15, -18}}));
}

} // namespace

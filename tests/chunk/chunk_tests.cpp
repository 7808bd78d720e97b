#include "fixtures.h"
#include "modFunctions.h"

#include <gtest/gtest.h>

using fixtures::Bytes;
using modFunctions::GetSectionLength;
using modFunctions::GetSectionOffset;

namespace {

Bytes bytes(const std::string& s) { return Bytes(s.begin(), s.end()); }

Bytes le(int32_t v) {
    const auto u = static_cast<uint32_t>(v);
    return {uint8_t(u), uint8_t(u >> 8), uint8_t(u >> 16), uint8_t(u >> 24)};
}

Bytes cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

class ChunkFile : public ::testing::Test {
protected:
    std::filesystem::path write(const Bytes& b) {
        const auto p = dir / ("f" + std::to_string(n++) + ".chk");
        fixtures::writeAll(p, b);
        return p;
    }
    fixtures::ScratchDir dir;
    int n = 0;
};

TEST_F(ChunkFile, SectionAtStartAndLengthFieldByteOrder) {
    const std::pair<Bytes, int32_t> cases[] = {
        {{0x08, 0, 0, 0}, 8}, {{0x00, 0x20, 0, 0}, 8192}, {{0x0A, 0x01, 0, 0}, 266},
        {{0, 0, 0x01, 0}, 65536}, {{0xFF, 0xFF, 0xFF, 0xFF}, -1}};
    for (const auto& [field, value] : cases) {
        const auto p = write(cat({bytes("TILE"), field}));
        EXPECT_EQ(GetSectionOffset(p, "TILE"), 5);
        EXPECT_EQ(GetSectionLength(p, "TILE"), value);
    }
}

TEST_F(ChunkFile, WalkFindsLaterSectionsAndFirstOfTwo) {
    const auto p = write(fixtures::makeChunk(
        {{"VER ", {1, 2}}, {"TILE", {9, 9, 9}}, {"TILE", {7}}}));
    EXPECT_EQ(GetSectionOffset(p, "VER "), 5);
    EXPECT_EQ(GetSectionOffset(p, "TILE"), 15);
    EXPECT_EQ(GetSectionLength(p, "TILE"), 3);
}

TEST_F(ChunkFile, CaseMattersAndAbsentNamesAreMinusOne) {
    const auto p = write(fixtures::makeChunk({{"TILE", {1}}}));
    EXPECT_EQ(GetSectionOffset(p, "tile"), -1);
    EXPECT_EQ(GetSectionOffset(p, "MTXM"), -1);
    EXPECT_THROW(GetSectionLength(p, "MTXM"), chunk::ChunkError);
}

TEST_F(ChunkFile, DecoyNameInsideDataIsNotASection) {
    // A byte search would take the "MTXM" inside VER's data.
    const auto p = write(cat({bytes("VER "), le(8), bytes("MTXM"), le(2), bytes("MTXM"), le(1), {5}}));
    EXPECT_EQ(GetSectionOffset(p, "MTXM"), 21);
    EXPECT_EQ(GetSectionLength(p, "MTXM"), 1);
}

TEST_F(ChunkFile, NegativeLengthJumpsBack) {
    // TILE at 9 lies inside AAAA's data; only a jump back onto it reaches it.
    Bytes b = cat({bytes("AAAA"), le(8), bytes("TILE"), le(0), bytes("JUMP"), le(-24)});
    // 1 AAAA -> 17 JUMP -> 1 again: a cycle, not found.
    EXPECT_EQ(GetSectionOffset(write(b), "TILE"), -1);
    b = cat({bytes("AAAA"), le(8), bytes("TILE"), le(0), bytes("JUMP"), le(-16)});
    // 17 + 8 - 16 = 9: the jump lands on TILE.
    EXPECT_EQ(GetSectionOffset(write(b), "TILE"), 13);
}

TEST_F(ChunkFile, CycleEndsTheWalk) {
    const auto p = write(cat({bytes("LOOP"), le(-8), bytes("TILE"), le(0)}));
    EXPECT_EQ(GetSectionOffset(p, "TILE"), -1);
}

TEST_F(ChunkFile, JumpBeforeTheFileEndsTheWalk) {
    EXPECT_EQ(GetSectionOffset(write(cat({bytes("BACK"), le(-100)})), "TILE"), -1);
}

TEST_F(ChunkFile, TruncatedLastHeaderReadsMissingBytesAsZero) {
    const auto a = write(cat({bytes("VER "), le(0), bytes("TILE"), {0x05, 0x00}}));
    EXPECT_EQ(GetSectionOffset(a, "TILE"), 13);
    EXPECT_EQ(GetSectionLength(a, "TILE"), 5);
    const auto b = write(cat({bytes("VER "), le(0), bytes("TILE")}));
    EXPECT_EQ(GetSectionLength(b, "TILE"), 0);
    // Fewer than 8 bytes left and no match: the walk stops.
    EXPECT_EQ(GetSectionOffset(write(cat({bytes("VER "), le(0), bytes("XY")})), "TILE"), -1);
}

TEST_F(ChunkFile, ShortNamesArePaddedNotPrefixMatched) {
    const auto p = write(fixtures::makeChunk({{"STRx", {1}}, {"STR ", {2, 3}}}));
    EXPECT_EQ(GetSectionOffset(p, "STR"), 14);
    EXPECT_EQ(GetSectionLength(p, "STR"), 2);
    EXPECT_EQ(GetSectionOffset(p, "TIL"), -1);
}

TEST_F(ChunkFile, BadNamesAreRefusedBeforeTheFileIsTouched) {
    const auto missing = dir / "nothing.chk";
    EXPECT_THROW(GetSectionOffset(missing, ""), chunk::ChunkError);
    EXPECT_THROW(GetSectionOffset(missing, "TILES"), chunk::ChunkError);
    EXPECT_FALSE(std::filesystem::exists(missing));
}

TEST_F(ChunkFile, MissingFileIsNotFoundAndNotCreated) {
    const auto missing = dir / "nothing.chk";
    try {
        GetSectionOffset(missing, "TILE");
        FAIL() << "no error";
    } catch (const chunk::ChunkError& e) {
        EXPECT_NE(std::string(e.what()).find("file not found"), std::string::npos);
        EXPECT_NE(std::string(e.what()).find("nothing.chk"), std::string::npos);
    }
    EXPECT_FALSE(std::filesystem::exists(missing));
}

TEST_F(ChunkFile, EmptyFileHasNoSections) {
    EXPECT_EQ(GetSectionOffset(write({}), "TILE"), -1);
}

TEST(Walk, ListsSectionsInOrderAndStopsAtCycle) {
    const Bytes b = cat({bytes("VER "), le(2), {1, 0}, bytes("LOOP"), le(-18)});
    const auto s = chunk::walkSections(b);
    ASSERT_EQ(s.size(), 2u);
    EXPECT_EQ(s[0].name, "VER ");
    EXPECT_EQ(s[0].lengthPos, 5);
    EXPECT_EQ(s[1].name, "LOOP");
    EXPECT_EQ(s[1].length, -18);
}

} // namespace

// Our PKWARE DCL codec, with StormLib's as the second opinion.
#include "codec.h"
#include "dcl.h"
#include "protections.h"

#include <StormLib.h>
#include <gtest/gtest.h>

namespace {

using fixtures::Bytes;
using fixtures::pattern;
using fixtures::stormImplode;
namespace dcl = archive::dcl;

// StormLib refuses to explode into less room than the stream's length, or into
// exactly that much (it copies the stream then): give it more.
Bytes stormExplode(const Bytes& stream, size_t size) {
    return fixtures::stormExplode(stream, std::max(size, stream.size() + 1));
}

// Decodes into room for exactly `size` bytes, as the game does; a stream must fill it.
Bytes ourExplode(const Bytes& stream, size_t size) {
    Bytes out(size);
    const dcl::Exploded r = dcl::explode(stream, out);
    EXPECT_EQ(r.fault, dcl::Fault::None);
    out.resize(r.size);
    return out;
}

struct Sample {
    std::string name;
    Bytes data;
};
void PrintTo(const Sample& s, std::ostream* os) { *os << s.name << " (" << s.data.size() << " bytes)"; }

class Codecs : public ::testing::TestWithParam<Sample> {};

// StormLib makes nothing of nothing, either way.
TEST_P(Codecs, AgreeWithStormLib) {
    const Bytes& data = GetParam().data;
    EXPECT_EQ(stormExplode(*dcl::implode(data), data.size()), data) << "StormLib reads our stream otherwise";
    EXPECT_EQ(data.empty() ? Bytes{} : ourExplode(stormImplode(data), data.size()), data)
        << "we read StormLib's stream otherwise";
}

Bytes chunkLike() {
    const Bytes notes = protections::sampleNotes();
    Bytes b = protections::sampleChunk(2, 24 * 1024);
    b.insert(b.begin() + 9000, 700, 0);
    // The same kilobyte twice, farther apart than a window reaches.
    b.insert(b.begin() + 14000, notes.begin(), notes.begin() + 1000);
    b.insert(b.begin() + 100, notes.begin(), notes.begin() + 1000);
    return b;
}

INSTANTIATE_TEST_SUITE_P(
    Inputs, Codecs,
    ::testing::Values(Sample{"Empty", {}}, Sample{"OneByte", pattern(1)}, Sample{"TwoBytes", pattern(2)},
                      Sample{"ThreeBytes", {7, 7, 7}}, Sample{"SectorLess1", pattern(4095, 2)},
                      Sample{"Sector", pattern(4096, 3)}, Sample{"SectorPlus1", pattern(4097, 4)},
                      Sample{"Window1024", pattern(1000, 5)}, Sample{"Window2048", pattern(2000, 6)},
                      Sample{"Random", pattern(9000, 7, false)}, Sample{"ChunkLike", chunkLike()}),
    [](const auto& info) { return info.param.name; });

// Our encoder also writes ASCII streams and any window, which StormLib's decoder reads.
TEST(Dcl, AsciiStreamsAndEveryWindowDecode) {
    Bytes data(256);
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<uint8_t>(i); // every literal code
    const std::string text = "Terrain, units and triggers; the game reads them all. ";
    for (int i = 0; i < 40; ++i)
        data.insert(data.end(), text.begin(), text.begin() + static_cast<ptrdiff_t>(i % text.size()));
    for (const bool ascii : {false, true})
        for (const unsigned window : {1024u, 2048u, 4096u}) {
            SCOPED_TRACE(std::string(ascii ? "ASCII" : "binary") + ", window " + std::to_string(window));
            const Bytes stream = *dcl::implode(data, {.ascii = ascii, .window = window});
            EXPECT_EQ(stream[0], ascii ? 1 : 0);
            EXPECT_EQ(64u << stream[1], window);
            EXPECT_EQ(stormExplode(stream, data.size()), data);
            EXPECT_EQ(ourExplode(stream, data.size()), data);
        }
}

// 00 04 82 24 25 8f 80 7f is "AIAIAIAIAIAIA": 'A', 'I', a copy of 11 bytes from 2 back, the end code. A broken
// stream gives what the game's decoder gives, StormLib's as well: a token of a cut stream only when a whole byte
// follows it, an overflowing one up to the room.
TEST(Dcl, RefusesBrokenStreamsAndKeepsWhatCameBefore) {
    const Bytes check = {0x00, 0x04, 0x82, 0x24, 0x25, 0x8f, 0x80, 0x7f};
    const auto with = [&](size_t at, uint8_t v) { Bytes b = check; b[at] = v; return b; };
    const struct {
        const char* what;
        Bytes stream;
        size_t room;
        dcl::Fault fault;
        size_t size;
    } cases[] = {
        {"whole", check, 13, dcl::Fault::None, 13},
        {"room to spare", check, 100, dcl::Fault::None, 13},
        {"end code cut", Bytes(check.begin(), check.end() - 1), 13, dcl::Fault::Truncated, 13},
        {"copy cut", Bytes(check.begin(), check.begin() + 5), 13, dcl::Fault::Truncated, 1},
        {"copy cut after a byte", Bytes(check.begin(), check.begin() + 6), 13, dcl::Fault::Truncated, 2},
        {"header only", Bytes(check.begin(), check.begin() + 2), 13, dcl::Fault::Truncated, 0},
        {"literal mode 2", with(0, 2), 13, dcl::Fault::BadHeader, 0},
        {"window 512", with(1, 3), 13, dcl::Fault::BadHeader, 0},
        {"window 8192", with(1, 7), 13, dcl::Fault::BadHeader, 0},
        {"copy from 3 back after 2 bytes", with(5, 0x97), 13, dcl::Fault::BeforeStart, 2},
        {"copy past the room", check, 12, dcl::Fault::Overflow, 12},
        {"literal past the room", check, 1, dcl::Fault::Overflow, 1},
    };
    const std::string expected = "AIAIAIAIAIAIA";
    for (const auto& c : cases) {
        Bytes out(c.room);
        const dcl::Exploded r = dcl::explode(c.stream, out);
        EXPECT_EQ(r.fault, c.fault) << c.what;
        EXPECT_EQ(std::string(out.begin(), out.begin() + static_cast<ptrdiff_t>(r.size)), expected.substr(0, c.size))
            << c.what;
        // StormLib's copy before the start reads its buffer; it takes no stream of 4 bytes or fewer, nor room
        // smaller than the stream.
        if (c.fault != dcl::Fault::BeforeStart && c.stream.size() > 4 && c.room > c.stream.size()) {
            EXPECT_EQ(Bytes(out.begin(), out.begin() + static_cast<ptrdiff_t>(r.size)),
                      fixtures::stormExplode(c.stream, c.room))
                << c.what;
        }
    }
    // Cut anywhere, a real stream decodes as far as StormLib's decoder takes it.
    const Bytes data = pattern(600, 11), whole = stormImplode(data);
    for (size_t n = 5; n < whole.size(); ++n) {
        const Bytes cut(whole.begin(), whole.begin() + static_cast<ptrdiff_t>(n));
        Bytes out(data.size());
        out.resize(dcl::explode(cut, out).size);
        EXPECT_EQ(out, stormExplode(cut, data.size())) << "cut to " << n << " bytes";
    }
}

// What the archive writer and reader rely on: a sector coded only when that pays, decoded to its size.
TEST(Codec, CodesSectorsOnlyWhenSmallerAndDecodesThemWhole) {
    const Bytes terrain = pattern(4096), noise = pattern(4096, 9, false);
    for (const auto& code : {archive::codec::implode, archive::codec::compressZlib}) {
        EXPECT_FALSE(code(noise)) << "a sector no smaller than its bytes is stored raw";
        EXPECT_FALSE(code({})) << "nothing to code";
        Bytes packed = *code(terrain), out(terrain.size());
        if (packed[0] != 0x02)
            packed.insert(packed.begin(), 0x08); // as a compressed sector holds it
        EXPECT_EQ(archive::codec::decompressInto(packed, out), terrain.size());
        EXPECT_EQ(out, terrain);
        EXPECT_LT(archive::codec::decompressInto(Bytes(packed.begin(), packed.end() - 8), out), terrain.size())
            << "cut short: what it decodes";
        EXPECT_EQ(archive::codec::decompressInto(packed, {out.data(), 100}), 100u) << "more than it owes: cut";
    }
    // A stream of nothing holds no sector: refused as StormLib refused it.
    Bytes room(16), nothing = *dcl::implode({});
    EXPECT_FALSE(archive::codec::explodeInto(nothing, room));
    nothing.push_back(0); // also where it is long enough to be read
    EXPECT_FALSE(archive::codec::explodeInto(nothing, room));
}

// zlib sectors: StormLib decodes ours, which are at most 2% larger than its own (zlib's default level), at any size.
TEST(Codec, WritesZlibSectorsThatStormLibDecodesAtItsSize) {
    for (const size_t size : {600, 4096, 40000}) {
        const Bytes data = pattern(size, 11);
        Bytes theirs(size * 2 + 64), back(size);
        int n = static_cast<int>(theirs.size()), m = static_cast<int>(size);
        SCompCompress(theirs.data(), &n, const_cast<uint8_t*>(data.data()), static_cast<int>(size), MPQ_COMPRESSION_ZLIB,
                      0, 0);
        Bytes ours = archive::codec::compressZlib(data).value_or(Bytes{});
        ASSERT_TRUE(SCompDecompress(back.data(), &m, ours.data(), static_cast<int>(ours.size()))) << size << " bytes";
        EXPECT_EQ(back, data) << size << " bytes";
        EXPECT_LE(ours.size(), n + n / 50 + 2) << size << " bytes"; // a tiny sector may differ by a byte or two
    }
}

} // namespace

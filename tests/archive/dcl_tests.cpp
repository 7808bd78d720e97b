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

// StormLib refuses to explode into less room than the stream's length, or into exactly that much (it copies the
// stream then): give it more.
Bytes stormExplode(const Bytes& stream, size_t size) { return fixtures::stormExplode(stream, std::max(size, stream.size() + 1)); }

// Decodes into room for exactly `size` bytes, as the game does; a stream must fill it.
Bytes ourExplode(const Bytes& stream, size_t size) {
    Bytes out(size);
    const dcl::Exploded r = dcl::explode(stream, out);
    EXPECT_EQ(r.fault, dcl::Fault::None);
    out.resize(r.size);
    return out;
}

// Both ways, at every window and literal mode of our encoder (StormLib's writes binary streams only); StormLib makes
// nothing of nothing.
TEST(Dcl, AgreesWithStormLib) {
    const Bytes notes = protections::sampleNotes();
    Bytes chunkLike = protections::sampleChunk(2, 24 * 1024), everyByte;
    chunkLike.insert(chunkLike.begin() + 9000, 700, 0);
    // The same kilobyte twice, farther apart than a window reaches.
    chunkLike.insert(chunkLike.begin() + 14000, notes.begin(), notes.begin() + 1000);
    chunkLike.insert(chunkLike.begin() + 100, notes.begin(), notes.begin() + 1000);
    for (int i = 0; i < 256; ++i) everyByte.push_back(uint8_t(i)); // every literal code, then text
    const std::string text = "Terrain, units and triggers; the game reads them all. ";
    for (int i = 0; i < 40; ++i)
        everyByte.insert(everyByte.end(), text.begin(), text.begin() + static_cast<ptrdiff_t>(i % text.size()));
    const std::pair<const char*, Bytes> samples[] = {
        {"empty", {}}, {"one byte", pattern(1)}, {"two bytes", pattern(2)}, {"three bytes", {7, 7, 7}},
        {"a sector less 1", pattern(4095, 2)}, {"a sector", pattern(4096, 3)}, {"a sector and 1", pattern(4097, 4)},
        {"window 1024", pattern(1000, 5)}, {"window 2048", pattern(2000, 6)}, {"random", pattern(9000, 7, false)},
        {"chunk-like", chunkLike}, {"every byte and text", everyByte}};
    for (const auto& [name, data] : samples) {
        SCOPED_TRACE(name);
        EXPECT_EQ(data.empty() ? Bytes{} : ourExplode(stormImplode(data), data.size()), data)
            << "we read StormLib's stream otherwise";
        for (const bool ascii : {false, true})
            for (const unsigned window : {0u, 1024u, 2048u, 4096u}) {
                SCOPED_TRACE(std::string(ascii ? "ASCII" : "binary") + ", window " + std::to_string(window));
                const Bytes stream = *dcl::implode(data, {.ascii = ascii, .window = window});
                EXPECT_EQ(stream[0], ascii ? 1 : 0);
                EXPECT_TRUE(window == 0 || 64u << stream[1] == window);
                EXPECT_EQ(stormExplode(stream, data.size()), data) << "StormLib reads our stream otherwise";
                EXPECT_EQ(ourExplode(stream, data.size()), data);
            }
    }
}

// 00 04 82 24 25 8f 80 7f is "AIAIAIAIAIAIA": 'A', 'I', a copy of 11 bytes from 2 back, the end code. A broken
// stream gives what the game's decoder gives, StormLib's as well: a token of a cut stream only when a whole byte
// follows it, an overflowing one up to the room.
TEST(Dcl, RefusesBrokenStreamsAndKeepsWhatCameBefore) {
    using enum dcl::Fault;
    const Bytes check = {0x00, 0x04, 0x82, 0x24, 0x25, 0x8f, 0x80, 0x7f};
    const auto with = [&](size_t at, uint8_t v) { Bytes b = check; b[at] = v; return b; };
    const auto first = [&](size_t n) { return Bytes(check.begin(), check.begin() + static_cast<ptrdiff_t>(n)); };
    const struct { const char* what; Bytes stream; size_t room; dcl::Fault fault; size_t size; } cases[] = {
        {"whole", check, 13, None, 13},
        {"room to spare", check, 100, None, 13},
        {"end code cut", first(7), 13, Truncated, 13},
        {"copy cut", first(5), 13, Truncated, 1},
        {"copy cut after a byte", first(6), 13, Truncated, 2},
        {"header only", first(2), 13, Truncated, 0},
        {"literal mode 2", with(0, 2), 13, BadHeader, 0},
        {"window 512", with(1, 3), 13, BadHeader, 0},
        {"window 8192", with(1, 7), 13, BadHeader, 0},
        {"copy from 3 back after 2 bytes", with(5, 0x97), 13, BeforeStart, 2},
        {"copy past the room", check, 12, Overflow, 12},
        {"literal past the room", check, 1, Overflow, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Bytes out(c.room);
        const dcl::Exploded r = dcl::explode(c.stream, out);
        out.resize(r.size);
        EXPECT_EQ(r.fault, c.fault);
        EXPECT_EQ(std::string(out.begin(), out.end()), std::string("AIAIAIAIAIAIA").substr(0, c.size));
        // StormLib's copy before the start reads its buffer; it takes no stream of 4 bytes or fewer, nor room
        // smaller than the stream.
        if (c.fault != BeforeStart && c.stream.size() > 4 && c.room > c.stream.size()) {
            EXPECT_EQ(out, fixtures::stormExplode(c.stream, c.room));
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

// What the archive writer and reader rely on: a sector coded only when that pays, decoded to its size; zlib's as
// StormLib's.
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
    // zlib sectors: StormLib decodes ours, which are at most 2% larger than its own (zlib's default level), at any size.
    for (const size_t size : {600, 4096, 40000}) {
        const Bytes data = pattern(size, 11);
        Bytes theirs(size * 2 + 64), back(size);
        int n = static_cast<int>(theirs.size()), m = static_cast<int>(size);
        SCompCompress(theirs.data(), &n, const_cast<uint8_t*>(data.data()), int(size), MPQ_COMPRESSION_ZLIB, 0, 0);
        Bytes ours = archive::codec::compressZlib(data).value_or(Bytes{});
        ASSERT_TRUE(SCompDecompress(back.data(), &m, ours.data(), static_cast<int>(ours.size()))) << size << " bytes";
        EXPECT_EQ(back, data) << size << " bytes";
        EXPECT_LE(ours.size(), n + n / 50 + 2) << size << " bytes"; // a tiny sector may differ by a byte or two
    }
}

} // namespace

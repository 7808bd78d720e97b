// Writes the fuzz targets' seed inputs, made by the tests' fixture builders:
// clean maps for each codec and layout, encrypted ones, a header after junk,
// chunk files with the sections real maps have, and PKWARE DCL streams.
// Usage: fuzz_make_seeds FOLDER  (makes FOLDER/<target>/...)
#include "dcl.h"
#include "fixtures.h"
#include "platform.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>

namespace fs = std::filesystem;
using fixtures::Bytes;
using fixtures::Codec;
using fixtures::MapOptions;

namespace {

void put(const fs::path& file, const Bytes& bytes) {
    fs::create_directories(file.parent_path());
    fixtures::writeAll(file, bytes);
}

Bytes u16s(std::initializer_list<uint16_t> values) {
    Bytes out;
    for (const uint16_t v : values) {
        out.push_back(uint8_t(v));
        out.push_back(uint8_t(v >> 8));
    }
    return out;
}

Bytes terrain(uint16_t w, uint16_t h, uint16_t era, uint32_t seed) {
    const size_t tiles = size_t{w} * h * 2;
    return fixtures::makeChunk({{"VER ", {205, 0}},
                                {"DIM ", u16s({w, h})},
                                {"ERA ", u16s({era})},
                                {"OWNR", Bytes(12, 6)},
                                {"MTXM", fixtures::pattern(tiles, seed)},
                                {"TILE", fixtures::pattern(tiles, seed + 1)},
                                {"ISOM", fixtures::pattern((size_t{w} + 1) * (size_t{h} + 1) * 8, seed + 2)},
                                {"STR ", fixtures::pattern(300, seed + 3, false)}});
}

// A string table holding `texts`, a scenario name and a trigger whose three
// actions (transmission, play sound, display text) name strings `first`...
Bytes stringsChunk(std::initializer_list<std::string> texts, uint16_t first) {
    Bytes table = u16s({uint16_t(texts.size())}), body, trig(2400);
    for (const auto& t : texts) {
        const Bytes offset = u16s({uint16_t(2 + 2 * texts.size() + body.size())});
        table.insert(table.end(), offset.begin(), offset.end());
        body.insert(body.end(), t.begin(), t.end());
        body.push_back(0);
    }
    table.insert(table.end(), body.begin(), body.end());
    for (uint16_t i = 0; i < 3; ++i)
        trig[320 + 32 * i + 4] = uint8_t(first + i), trig[320 + 32 * i + 8] = uint8_t(first + i),
                       trig[320 + 32 * i + 26] = uint8_t(7 + i);
    return fixtures::makeChunk({{"STR ", table}, {"SPRP", u16s({first, 1})}, {"TRIG", trig}});
}

// Chunk-splice input: name, split, answer, then both chunk files.
Bytes splicePair(const std::string& name, const Bytes& a, const Bytes& b, bool yes = true) {
    Bytes out(name.begin(), name.end());
    out.resize(4, ' ');
    out.push_back(uint8_t(a.size()));
    out.push_back(uint8_t(a.size() >> 8));
    out.push_back(yes ? 1 : 0);
    out.insert(out.end(), a.begin(), a.end());
    out.insert(out.end(), b.begin(), b.end());
    return out;
}

// Archive-add input: name choice, data length, data, then the archive.
Bytes addInput(uint8_t nameChoice, const Bytes& data, const Bytes& archive) {
    Bytes out{nameChoice, uint8_t(data.size()), uint8_t(data.size() >> 8)};
    out.insert(out.end(), data.begin(), data.end());
    out.insert(out.end(), archive.begin(), archive.end());
    return out;
}

// DCL-explode input: mode 0, 2 bytes of room beyond the stream's length, the stream.
Bytes explodeInput(const Bytes& stream, size_t decoded) {
    const size_t extra = decoded > stream.size() ? decoded - stream.size() - 1 : 0;
    Bytes out{0, uint8_t(extra), uint8_t(extra >> 8)};
    out.insert(out.end(), stream.begin(), stream.end());
    return out;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: fuzz_make_seeds FOLDER\n");
        return 2;
    }
    const fs::path out = argv[1];
    const fixtures::ScratchDir scratch;

    // Small chunk files keep the maps small, which keeps the fuzzers fast.
    const Bytes small = terrain(8, 8, 1, 1);
    const Bytes other = terrain(8, 8, 1, 7);
    const Bytes bigger = terrain(16, 8, 4, 11);
    const Bytes notes = fixtures::pattern(700, 5, false);

    struct Variant {
        std::string name;
        MapOptions options;
    };
    std::vector<Variant> variants;
    for (const auto& [label, codec] : {std::pair{"plain", Codec::None}, std::pair{"implode", Codec::Implode},
                                       std::pair{"zlib", Codec::Zlib}, std::pair{"pkware", Codec::Pkware}}) {
        MapOptions o;
        o.codec = codec;
        variants.push_back({label, o});
        o.encrypted = true;
        variants.push_back({std::string(label) + "-encrypted", o});
    }
    MapOptions adjusted;
    adjusted.encrypted = adjusted.adjustedKey = true;
    variants.push_back({"adjusted-key", adjusted});
    MapOptions offset;
    offset.headerOffset = 1024;
    variants.push_back({"header-offset", offset});
    MapOptions tiny;
    tiny.sectorShift = 0;
    tiny.hashTableSize = 4;
    variants.push_back({"small-sectors", tiny});

    int n = 0;
    for (const auto& v : variants) {
        const fs::path map = scratch / (v.name + ".scm");
        fixtures::makeMap(map, small, v.options, {{"extra\\notes.txt", notes}});
        const Bytes bytes = fixtures::readAll(map);
        put(out / "archive_read" / (v.name + ".scm"), bytes);
        put(out / "archive_add" / (v.name + "-replace.bin"), addInput(0, other, bytes));
        put(out / "archive_add" / (v.name + "-new.bin"), addInput(3, Bytes(40, 'x'), bytes));
        n += 3;
    }

    // A chunk hidden inside another section's data, a walk that loops, a section
    // cut off by the end of its file, and terrain of another size.
    Bytes decoy = fixtures::makeChunk({{"STR ", fixtures::makeChunk({{"TILE", Bytes(8, 1)}})}, {"TILE", Bytes(16, 2)}});
    Bytes loop = fixtures::makeChunk({{"VER ", {205, 0}}, {"LOOP", Bytes(4, 0)}});
    const Bytes back = u16s({uint16_t(-18), 0xFFFF}); // LOOP's length -18 steps back to VER
    std::copy(back.begin(), back.end(), loop.end() - 8);
    Bytes cut = fixtures::makeChunk({{"VER ", {205, 0}}, {"TILE", Bytes(32, 3)}});
    cut.erase(cut.end() - 10, cut.end());
    // Triggers and a scenario name whose string numbers name other texts in each map.
    const Bytes textsA = stringsChunk({"Hello", "staredit\\wav\\a.wav", "", "Spawn"}, 1);
    const Bytes textsB = stringsChunk({"Exit", "Hello", "staredit\\wav\\a.wav", "New"}, 2);
    const std::vector<std::pair<std::string, Bytes>> pairs = {
        {"strings-trig", splicePair("TRIG", textsA, textsB)},
        {"strings-scenario", splicePair("SPRP", textsA, textsB, false)},
        {"same-size", splicePair("TILE", small, other)},
        {"other-size", splicePair("MTXM", small, bigger)},
        {"other-size-refused", splicePair("ISOM", small, bigger, false)},
        {"short-name", splicePair("STR", small, other)},
        {"fixed-size", splicePair("DIM", small, bigger)},
        {"decoy", splicePair("TILE", decoy, small)},
        {"loop", splicePair("TILE", loop, other)},
        {"cut", splicePair("TILE", small, cut)},
    };
    for (const auto& [label, bytes] : pairs) {
        put(out / "chunk_splice" / (label + ".bin"), bytes);
        ++n;
    }
    // Streams of the three windows (by size) and both literal modes; data to implode.
    const fs::path dcl = out / "dcl_explode";
    put(dcl / "check.bin", explodeInput({0x00, 0x04, 0x82, 0x24, 0x25, 0x8f, 0x80, 0x7f}, 13));
    for (const size_t size : {1000, 2000, 4096}) {
        const Bytes data = fixtures::pattern(size, uint32_t(size));
        put(dcl / ("stormlib-" + std::to_string(size) + ".bin"), explodeInput(fixtures::stormImplode(data), data.size()));
        Bytes raw{uint8_t(1 | size / 1000 << 1)};
        raw.insert(raw.end(), data.begin(), data.end());
        put(dcl / ("data-" + std::to_string(size) + ".bin"), raw);
        n += 2;
    }
    put(dcl / "ascii.bin", explodeInput(*archive::dcl::implode(notes, {.ascii = true}), notes.size()));
    n += 2;

    std::printf("wrote %d seeds to %s\n", n, platform::toUtf8(out).c_str());
    return 0;
}

#include "protections.h"

#include <cstring>
#include <stdexcept>

namespace protections {
namespace fs = std::filesystem;
using namespace fixtures;

Bytes sampleChunk(uint32_t seed, size_t size) {
    const size_t terrain = size / 5 * 2;
    return makeChunk({{"VER ", {205, 0}},
                      {"DIM ", {64, 0, 64, 0}},
                      {"ERA ", {1, 0}},
                      {"MTXM", pattern(terrain, seed)},
                      {"TILE", pattern(terrain, seed + 1)},
                      {"STR ", pattern(size - 2 * terrain, seed + 2, false)}});
}

Bytes sampleNotes() {
    const std::string text = "notes that must survive every save\n";
    Bytes b(text.begin(), text.end());
    const Bytes noise = pattern(3000, 7, false);
    b.insert(b.end(), noise.begin(), noise.end());
    return b;
}

uint32_t startSlot(std::string_view name, uint32_t count) { return mpq::hashString(name, 0) & (count - 1); }

HashEntry entryFor(std::string_view name, uint32_t block, uint16_t locale) {
    return {mpq::hashString(name, 1), mpq::hashString(name, 2), locale, 0, block};
}

uint32_t blockIndex(const RawMap& m, std::string_view name) {
    const int i = m.findHash(name);
    if (i < 0)
        throw std::runtime_error("protections: no hash entry for " + std::string(name));
    return m.hashes[size_t(i)].block;
}

void moveTablesToEnd(RawMap& m) {
    m.hashOffset = static_cast<int32_t>(m.bytes.size() - m.headerPos);
    m.blockOffset = m.hashOffset + static_cast<int32_t>(m.hashes.size() * 16);
}

namespace {

// Puts `e` at `slot` or, when taken, at the next free one.
void put(std::vector<HashEntry>& t, uint32_t slot, const HashEntry& e) {
    for (size_t i = 0; i < t.size(); ++i) {
        HashEntry& at = t[(slot + i) % t.size()];
        if (at.block == mpq::kEmpty) {
            at = e;
            return;
        }
    }
    throw std::runtime_error("protections: hash table full");
}

// A 16-slot table for the look-up protections: `fill` places chunk entries relative to
// the chunk's start slot; the notes go in afterwards at their own start slot.
Bytes withTable(RawMap& m, const std::function<void(std::vector<HashEntry>&, uint32_t start, uint32_t chunk,
                                                     uint32_t notes)>& fill) {
    const uint32_t chunk = blockIndex(m, kChunkName), notes = blockIndex(m, kNotesName);
    std::vector<HashEntry> t(16);
    fill(t, startSlot(kChunkName, 16), chunk, notes);
    put(t, startSlot(kNotesName, 16), entryFor(kNotesName, notes));
    m.hashes = t;
    m.hashCount = 16;
    moveTablesToEnd(m);
    return m.serialize();
}

void writeDecoy(Bytes& b, size_t at, uint32_t headerSize) {
    std::memcpy(&b[at], "MPQ\x1A", 4);
    for (int i = 0; i < 4; ++i)
        b[at + 4 + i] = uint8_t(headerSize >> (8 * i));
}

MapOptions opts(Codec codec, bool encrypted = false, bool adjusted = false, uint32_t headerOffset = 0,
                uint16_t shift = 3) {
    MapOptions o;
    o.codec = codec;
    o.encrypted = encrypted;
    o.adjustedKey = adjusted;
    o.headerOffset = headerOffset;
    o.sectorShift = shift;
    return o;
}

} // namespace

void layHashes(RawMap& m, uint32_t count) {
    const uint32_t chunk = blockIndex(m, kChunkName), notes = blockIndex(m, kNotesName);
    std::vector<HashEntry> t(count);
    // The slot search wraps within the entries, as a reader's scan does.
    put(t, startSlot(kChunkName, count) % count, entryFor(kChunkName, chunk));
    put(t, startSlot(kNotesName, count) % count, entryFor(kNotesName, notes));
    m.hashes = t;
    m.hashCount = count;
}

const std::vector<Protection>& all() {
    static const std::vector<Protection> list = {
        {"DecoyHeadersBeforeTheReal", opts(Codec::Zlib, false, false, 1024),
         [](RawMap& m) {
             writeDecoy(m.bytes, 0, 31);   // too short a header: passed over
             writeDecoy(m.bytes, 512, 16); // likewise
             writeDecoy(m.bytes, 700, 32); // not on a 512-byte boundary
             return m.serialize();
         }},
        {"OversizedHeaderBogusVersionAndSize", opts(Codec::Implode),
         [](RawMap& m) {
             m.headerSize = 0x1000;
             m.version = 0x7777;
             m.archiveSize = 3;
             return m.serialize();
         }},
        {"SectorShiftModulo32", opts(Codec::Pkware, true),
         [](RawMap& m) {
             m.sectorShift = 0x0100 | 35; // high byte unused; 35 mod 32 is the real shift 3
             return m.serialize();
         }},
        {"TablesBeforeTheHeader", opts(Codec::Zlib, true, false, 1024),
         [](RawMap& m) {
             m.hashOffset = -1024;
             m.blockOffset = -1024 + static_cast<int32_t>(m.hashes.size() * 16);
             return m.serialize();
         }},
        {"HashCountHighBits", opts(Codec::Implode, true),
         [](RawMap& m) {
             m.hashCount |= 0xA0000000; // only the low 28 bits count
             return m.serialize();
         }},
        {"HashCountNotPowerOfTwo", opts(Codec::Zlib),
         [](RawMap& m) {
             layHashes(m, 12);
             moveTablesToEnd(m);
             return m.serialize();
         }},
        {"HashTableCutOffByTheEnd", opts(Codec::None),
         [](RawMap& m) {
             std::vector<HashEntry> t(16);
             for (auto& e : t)
                 e.block = mpq::kDeleted;
             t[0] = entryFor(kChunkName, blockIndex(m, kChunkName));
             t[1] = entryFor(kNotesName, blockIndex(m, kNotesName));
             m.hashes = t;
             m.hashCount = 16;
             m.hashOffset = static_cast<int32_t>(m.bytes.size() - m.headerPos);
             Bytes b = m.serialize();
             // Four whole entries and part of a fifth remain.
             b.resize(m.headerPos + static_cast<uint32_t>(m.hashOffset) + 4 * 16 + 7);
             return b;
         }},
        {"LastMatchWins", opts(Codec::Zlib, true, true),
         [](RawMap& m) {
             return withTable(m, [](auto& t, uint32_t s, uint32_t chunk, uint32_t notes) {
                 t[s] = entryFor(kChunkName, notes); // a decoy found first
                 t[(s + 3) % 16] = entryFor(kChunkName, chunk);
             });
         }},
        {"DeletedAndForeignLanguageEntriesAfterTheMatch", opts(Codec::Implode),
         [](RawMap& m) {
             return withTable(m, [](auto& t, uint32_t s, uint32_t chunk, uint32_t notes) {
                 t[s] = entryFor(kChunkName, chunk);
                 t[(s + 1) % 16] = entryFor(kChunkName, mpq::kDeleted);
                 t[(s + 2) % 16] = entryFor(kChunkName, notes, 0x409);
             });
         }},
        {"WrappedScanAndMaskedBlockIndex", opts(Codec::Pkware),
         [](RawMap& m) {
             return withTable(m, [](auto& t, uint32_t s, uint32_t chunk, uint32_t notes) {
                 t[s] = entryFor(kChunkName, notes);
                 // Just before the start: the scan reaches it last, after wrapping.
                 t[(s + 15) % 16] = entryFor(kChunkName, chunk | 0x70000000);
             });
         }},
        {"SingleUnitFlagOnSectoredData", opts(Codec::Zlib, false, false, 0, 0),
         [](RawMap& m) {
             m.blockOf(kChunkName).flags |= mpq::kSingleUnit;
             return m.serialize();
         }},
    };
    return list;
}

void make(const Protection& p, const fs::path& path, const Bytes& chunk) {
    makeMap(path, chunk, p.options, {{kNotesName, sampleNotes()}});
    RawMap m = RawMap::load(path);
    writeAll(path, p.patch(m));
}

} // namespace protections

#include "protections.h"

#include <cstring>

namespace protections {
using namespace fixtures;

Bytes sampleChunk(uint32_t seed, size_t size) {
    const size_t terrain = size / 5 * 2;
    return makeChunk({{"VER ", {205, 0}}, {"DIM ", {64, 0, 64, 0}}, {"ERA ", {1, 0}}, {"MTXM", pattern(terrain, seed)},
                      {"TILE", pattern(terrain, seed + 1)}, {"STR ", pattern(size - 2 * terrain, seed + 2, false)}});
}

Bytes sampleNotes() { return pattern(3000, 7, false); }

namespace {

// A live hash entry for `name`; the start slot of `name` in a table of `count`.
HashEntry entryFor(std::string_view name, uint32_t block, uint16_t locale = 0) {
    return {mpq::hashString(name, 1), mpq::hashString(name, 2), locale, 0, block};
}
uint32_t startSlot(std::string_view name, uint32_t count) { return mpq::hashString(name, 0) & (count - 1); }
uint32_t blockIndex(const RawMap& m, std::string_view name) { return m.hashes.at(m.findHash(name)).block; }

// `run` slots from the chunk file's start slot on: its entry (block index `high` bits set, in `locale`), a decoy (its
// name on the notes' block) or deleted.
struct Slot { uint32_t at; enum { Chunk, Decoy, Deleted } what; uint32_t run = 1, high = 0; uint16_t locale = 0; };

// A fresh table of `count` slots, moved with the block table past the end of the file so that they may grow, holding
// `slots`; the notes go in at their start slot or the next free.
Bytes withTable(RawMap& m, uint32_t count, const std::vector<Slot>& slots = {{0, Slot::Chunk}}) {
    const uint32_t chunk = blockIndex(m, kChunkName), notes = blockIndex(m, kNotesName);
    const uint32_t start = startSlot(kChunkName, count);
    m.hashes.assign(count, {});
    for (const Slot& s : slots)
        for (uint32_t k = s.at; k < s.at + s.run; ++k)
            m.hashes[(start + k) % count] = s.what == Slot::Deleted ? HashEntry{.block = mpq::kDeleted}
                                            : entryFor(kChunkName, (s.what == Slot::Chunk ? chunk : notes) | s.high, s.locale);
    size_t i = startSlot(kNotesName, count);
    while (m.hashes[i % count].block < mpq::kDeleted) ++i;
    m.hashes[i % count] = entryFor(kNotesName, notes);
    m.hashCount = count, m.hashOffset = int32_t(m.bytes.size() - m.headerPos);
    m.blockOffset = m.hashOffset + int32_t(count * 16);
    return m.serialize();
}

// The chunk file's and the notes' entries first in a table of `count` moved to the end of the file, which then ends
// `kept` bytes into it; the entries cut off read as deleted.
Bytes cutOff(RawMap& m, uint32_t count, size_t kept) {
    const HashEntry chunk = entryFor(kChunkName, blockIndex(m, kChunkName));
    const HashEntry notes = entryFor(kNotesName, blockIndex(m, kNotesName));
    m.hashes.assign(kept / 16 + 1, HashEntry{.block = mpq::kDeleted});
    m.hashes[0] = chunk, m.hashes[1] = notes;
    m.hashCount = count, m.hashOffset = int32_t(m.bytes.size() - m.headerPos);
    Bytes b = m.serialize();
    b.resize(m.headerPos + m.hashOffset + kept);
    return b;
}

} // namespace

const std::vector<Protection>& all() {
    using O = MapOptions;
    static const std::vector<Protection> list = {
        // Too short a header (twice), then one off the 512-byte grid: all passed over.
        {"DecoyHeadersBeforeTheReal", O{.headerOffset = 1024}, [](RawMap& m) {
             for (const auto& [at, size] : {std::pair{0, 31}, std::pair{512, 16}, std::pair{700, 32}})
                 std::memcpy(&m.bytes[at], "MPQ\x1A", 4), std::memcpy(&m.bytes[at + 4], &size, 4);
             return m.serialize();
         }},
        {"OversizedHeaderBogusVersionAndSize", O{.codec = Codec::Implode},
         [](RawMap& m) { return m.headerSize = 0x1000, m.version = 0x7777, m.archiveSize = 3, m.serialize(); }},
        // The high byte is unused; 35 mod 32 is the real shift 3.
        {"SectorShiftModulo32", O{.codec = Codec::Pkware, .encrypted = true},
         [](RawMap& m) { return m.sectorShift = 0x0100 | 35, m.serialize(); }},
        {"TablesBeforeTheHeader", O{.encrypted = true, .headerOffset = 1024}, [](RawMap& m) {
             return m.hashOffset = -1024, m.blockOffset = m.hashOffset + int32_t(m.hashes.size() * 16), m.serialize();
         }},
        // Only the low 28 bits count.
        {"HashCountHighBits", O{.codec = Codec::Implode, .encrypted = true},
         [](RawMap& m) { return m.hashCount |= 0xA0000000, m.serialize(); }},
        {"HashCountNotPowerOfTwo", O{}, [](RawMap& m) { return withTable(m, 12); }},
        // Four whole entries and part of a fifth remain.
        {"HashTableCutOffByTheEnd", O{.codec = Codec::None}, [](RawMap& m) { return cutOff(m, 16, 4 * 16 + 7); }},
        // A declared 4,194,304 entries of which the end of the file leaves four, as in a published map.
        {"HugeHashTableCutOffByTheEnd", O{.encrypted = true}, [](RawMap& m) { return cutOff(m, 1u << 22, 4 * 16); }},
        // The chunk file's block reaches over the notes' data: neither may be written over.
        {"OverlappingBlocks", O{.codec = Codec::Implode}, [](RawMap& m) {
             BlockEntry& chunk = m.blockOf(kChunkName);
             chunk.storedSize = uint32_t(m.blockOf(kNotesName).offset - chunk.offset) + 100;
             return m.serialize();
         }, false, true},
        // A decoy met first; a deleted slot between is passed over.
        {"LastMatchWins", O{.encrypted = true, .adjustedKey = true},
         [](RawMap& m) { return withTable(m, 16, {{0, Slot::Decoy}, {1, Slot::Deleted}, {2, Slot::Chunk}}); }},
        // The only chunk entry carries a language: asked for the neutral one, the game takes it.
        {"OnlyEntryHasALanguage", O{.codec = Codec::Implode},
         [](RawMap& m) { return withTable(m, 16, {{0, Slot::Chunk, 1, 0, 0x409}}); }, true},
        // The walk stops at an empty slot: the decoy behind it is never read.
        {"DecoyPastAnEmptySlot", O{.codec = Codec::Pkware},
         [](RawMap& m) { return withTable(m, 16, {{0, Slot::Chunk}, {2, Slot::Decoy}}); }, true},
        // The real entry lies just before the start slot: the walk reaches it last, after wrapping over deleted slots.
        {"WrappedWalkAndMaskedBlockIndex", O{.codec = Codec::Pkware}, [](RawMap& m) {
             return withTable(m, 16, {{0, Slot::Decoy}, {1, Slot::Deleted, 14}, {15, Slot::Chunk, 1, 0x70000000}});
         }},
        {"SingleUnitFlagOnSectoredData", O{.sectorShift = 0},
         [](RawMap& m) { return m.blockOf(kChunkName).flags |= mpq::kSingleUnit, m.serialize(); }},
    };
    return list;
}

void make(const Protection& p, const std::filesystem::path& path, const Bytes& chunk) {
    makeMap(path, chunk, p.options, {{kNotesName, sampleNotes()}});
    RawMap m = RawMap::load(path);
    writeAll(path, p.patch(m));
}

} // namespace protections

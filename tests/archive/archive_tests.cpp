#include "archive.h"
#include "bytes.h"
#include "layout.h"
#include "protections.h"

#include <StormLib.h>
#include <gmock/gmock.h>

namespace fs = std::filesystem;
using namespace fixtures;
using archive::Change;
using protections::kNotesName;
using protections::sampleChunk;
using protections::sampleNotes;

namespace {

using enum archive::Placement;
using Placements = std::vector<archive::Placement>;

auto fails(const std::string& part) { return ::testing::ThrowsMessage<archive::ArchiveError>(::testing::HasSubstr(part)); }

// The chunk file read into memory; extracting it to a file must give the same bytes.
Bytes chunkOf(const fs::path& map) {
    const Bytes read = archive::readMember(map, kChunkName);
    archive::extract(map, kChunkName, map.parent_path());
    EXPECT_EQ(readAll(map.parent_path() / "scenario.chk"), read) << "extract wrote other bytes than a read gives";
    return read;
}

// scm-extractor (npm, from scripts/setup) reads maps independently, as the game does; the tests that compare
// with it skip, saying why, where it is not installed.
#define NEEDS_NPM_READER()                                                                                        \
    if (!fs::exists(NODE) || !fs::exists(fs::path(EXTRACT_JS).parent_path() / "node_modules" / "scm-extractor")) \
    GTEST_SKIP() << "scm-extractor, the independent reader these checks compare with, is not installed: run "    \
                    "scripts/setup (npm ci in tests/interop)"
Bytes npmRead(const fs::path& map) {
    const auto r = run(NODE, {EXTRACT_JS, map.string(), map.string() + ".npm"});
    EXPECT_EQ(r.status, 0) << "scm-extractor run by " NODE " failed on " << map << ": " << r.err;
    return r.status == 0 ? readAll(map.string() + ".npm") : Bytes{};
}

// Where sector `i` of an unencrypted member starts: entry `i` of its sector table.
uint32_t sectorAt(const RawMap& m, const BlockEntry& b, size_t i) { return archive::load32(&m.bytes[m.dataPos(b) + 4 * i]); }

// The chunk file's block as the game's look-up finds it.
archive::layout::BlockEntry chunkBlock(const RawMap& m) {
    const archive::layout::View view(m.bytes, "map");
    return view.blocks().at(*view.usableBlock(*view.find(kChunkName)));
}

// The map holds versions[0] as its chunk file; each later one replaces it in turn. All members read right, the chunk
// file by scm-extractor too from version `npmFrom` on. The other members keep their stored bytes where they were, the
// hash table the entries the file holds (one cut off by the end of the file stays cut off there), and the map grows
// by no more than the new chunk file as stored, and not at all when it fits where the old one was.
Placements replaceInTurn(const fs::path& map, const std::vector<Bytes>& versions, const std::vector<Member>& others,
                         size_t npmFrom) {
    Placements placed;
    // What an add leaves alone: the other members as stored and where, the names in the hash table.
    const auto kept = [&] {
        RawMap m = RawMap::load(map);
        std::pair<std::vector<std::tuple<std::string, int32_t, archive::StoredMember>>, std::vector<uint32_t>> out;
        for (const auto& [name, data] : others)
            out.first.emplace_back(name, m.blockOf(name).offset, archive::readStored(map, name));
        for (const HashEntry& e : m.hashes) out.second.push_back(e.nameA);
        return out;
    };
    for (size_t i = 0; i < versions.size(); ++i) {
        SCOPED_TRACE("version " + std::to_string(i));
        if (i > 0) {
            const RawMap was = RawMap::load(map);
            const auto before = kept();
            placed.push_back(archive::edit(map, {Change::replace(kChunkName, versions[i])}).placements.at(0));
            const RawMap m = RawMap::load(map);
            EXPECT_EQ(kept(), before);
            const auto old = chunkBlock(was), now = chunkBlock(m);
            // Tables before the chunk file's place (as before the header) are the map's own: they stay.
            EXPECT_TRUE(was.hashOffset >= old.offset || was.blockOffset >= old.offset ||
                        (m.hashOffset == was.hashOffset && m.blockOffset == was.blockOffset));
            EXPECT_TRUE(m.hashes.size() == (m.hashCount & 0x0FFFFFFF) ||
                        m.bytes.size() / 16 == (m.headerPos + m.hashOffset) / 16 + m.hashes.size()) << "no longer cut off";
            const uint64_t at = m.headerPos + uint64_t(old.offset);
            size_t left = 0; // unless the tables took its place or the file ends there
            for (uint64_t k = at + now.storedSize; placed.back() == InPlace && m.bytes.size() == was.bytes.size() &&
                                                   k < at + old.storedSize; ++k)
                left += m.bytes[k] != 0;
            EXPECT_EQ(left, 0u) << "what the old chunk file left over is not zeroed";
            EXPECT_LE(m.bytes.size(), was.bytes.size() + (placed.back() == InPlace   ? 0
                                                          : placed.back() == OwnTail ? now.storedSize - old.storedSize
                                                                                     : now.storedSize + 16 * m.blocks.size()));
        }
        for (const auto& [name, data] : others) EXPECT_EQ(archive::readMember(map, name), data) << name;
        EXPECT_EQ(chunkOf(map), versions[i]);
        EXPECT_TRUE(i < npmFrom || npmRead(map) == versions[i]) << "the chunk file as scm-extractor reads it";
        EXPECT_THAT([&] { archive::readMember(map, "staredit\\wav\\absent.wav"); }, fails("has no member"));
    }
    return placed;
}

Bytes flipLast(Bytes b) { b.back() ^= 0x5A; return b; }

// Maps of each codec and key (plain, encrypted, encrypted with the key adjusted for the place), at these sector shifts
// and header offsets.
struct Style : MapOptions {
    friend void PrintTo(const Style& o, std::ostream* os) {
        const char* const codecs[] = {"Plain", "Imploded", "Zlib", "Pkware"};
        *os << codecs[int(o.codec)] << (o.adjustedKey ? "AdjustedKey" : o.encrypted ? "Encrypted" : "") << "_Shift"
            << o.sectorShift << "_At" << o.headerOffset;
    }
};
std::vector<Style> styles(std::vector<uint16_t> shifts, std::vector<uint32_t> offsets) {
    std::vector<Style> out;
    for (const Codec codec : {Codec::None, Codec::Implode, Codec::Zlib, Codec::Pkware})
        for (const int key : {0, 1, 2})
            for (const uint16_t shift : shifts)
                for (const uint32_t offset : offsets)
                    out.push_back({{codec, key > 0, key > 1, offset, shift}});
    return out;
}
std::string styleName(const ::testing::TestParamInfo<Style>& info) { return ::testing::PrintToString(info.param); }

// New chunk files are stored like the old (codec, encryption), never with the adjusted key or single-unit flag,
// which only confuse readers. In turn: ones that fit take the old one's place (what is left over zeroed), a larger
// one goes past the notes, where smaller ones then stay (the file cut short) and a larger one grows.
class CleanMap : public ::testing::TestWithParam<Style> {};
TEST_P(CleanMap, ReadsEveryMemberAndPlacesEachNewChunkFile) {
    NEEDS_NPM_READER();
    const Codec codec = GetParam().codec;
    const ScratchDir dir;
    const fs::path map = dir / "clean.scm";
    // "x" is shorter than a word: its tail is never encrypted.
    const std::vector<Member> others = {{kNotesName, sampleNotes()}, {"empty", {}}, {"x", {'a', 'b', 'c'}}};
    makeMap(map, sampleChunk(), GetParam(), others);
    const Bytes small = sampleChunk(4, 15 * 1024), big = sampleChunk(3, 41000), cut(big.begin(), big.end() - 1000);
    EXPECT_EQ(replaceInTurn(map, {sampleChunk(), flipLast(sampleChunk()), small}, others, 1), (Placements{InPlace, InPlace}));
    RawMap m = RawMap::load(map);
    const BlockEntry b = m.blockOf(kChunkName);
    const uint32_t codecFlag = codec == Codec::None ? 0 : codec == Codec::Zlib ? mpq::kCompressed : mpq::kImploded;
    EXPECT_EQ(b.flags, mpq::kExists | codecFlag | (GetParam().encrypted ? mpq::kEncrypted : 0));
    EXPECT_TRUE(codec != Codec::Zlib || GetParam().encrypted || m.bytes[m.dataPos(b) + sectorAt(m, b, 0)] == 0x02);
    // An empty member stored plain takes no bytes at all: what comes after it is appended.
    EXPECT_EQ(replaceInTurn(map, {small, big, flipLast(big), cut, big, sampleChunk(2, 100), {}, big}, others, -1),
              (Placements{Appended, InPlace, InPlace, OwnTail, InPlace, InPlace, codec == Codec::None ? Appended : OwnTail}));
}
INSTANTIATE_TEST_SUITE_P(Styles, CleanMap, ::testing::ValuesIn(styles({0, 3}, {0, 1024})), styleName);

// A chunk file that fits takes the old one's place unless a protection shares its bytes; a larger one goes
// past everything else, and then is the chunk file's own place.
class ProtectedMap : public ::testing::TestWithParam<protections::Protection> {};
TEST_P(ProtectedMap, ReadsTheChunkTheGameReadsAndPlacesItsReplacements) {
    NEEDS_NPM_READER();
    const ScratchDir dir;
    protections::make(GetParam(), dir / "protected.scm");
    // scm-extractor scans the whole table for the neutral language: after an add it finds the new chunk file too.
    const std::vector<Bytes> versions = {sampleChunk(), flipLast(sampleChunk()), sampleChunk(5, 400 * 1024), sampleChunk(6, 9000)};
    EXPECT_EQ(replaceInTurn(dir / "protected.scm", versions, {{kNotesName, sampleNotes()}}, GetParam().gameOnly ? 1 : 0),
              (GetParam().sharesChunk ? Placements{Appended, OwnTail, InPlace} : Placements{InPlace, Appended, InPlace}));
}
INSTANTIATE_TEST_SUITE_P(Protections, ProtectedMap, ::testing::ValuesIn(protections::all()),
                         [](const auto& info) { return info.param.name; });

// A member as StormLib, an independent reader, reads it.
Bytes stormRead(const fs::path& map, const std::string& name) {
    HANDLE mpq = nullptr, file = nullptr;
    Bytes out;
    DWORD got = 0;
    if (SFileOpenArchive(map.c_str(), 0, STREAM_FLAG_READ_ONLY, &mpq) && SFileOpenFileEx(mpq, name.c_str(), 0, &file)) {
        out.resize(SFileGetFileSize(file, nullptr));
        if (!SFileReadFile(file, out.data(), DWORD(out.size()), &got, nullptr) || got != out.size())
            out = {'?'};
        SFileCloseFile(file);
    }
    if (mpq) SFileCloseArchive(mpq);
    return out;
}

// A sound read as stored from a map of each style, kept in a working file and carried in one edit with a new chunk
// file under its own name and another: both read as the original (by StormLib too: re-keyed for their name and place)
// and hold its stored bytes; the map's own members are untouched.
class Carried : public ::testing::TestWithParam<Style> {};
TEST_P(Carried, ReadsAsTheOriginalUnderEachName) {
    const ScratchDir dir;
    const std::string wav = "staredit\\wav\\a.wav", renamed = "staredit\\wav\\b.wav";
    const Bytes sound = pattern(9000, 5), chunk = sampleChunk(3);
    makeMap(dir / "from.scm", sampleChunk(), GetParam(), {{wav, sound}});
    makeMap(dir / "to.scm", sampleChunk(2), {Codec::Zlib, true}, {{kNotesName, sampleNotes()}});
    const archive::StoredMember stored = archive::readStored(dir / "from.scm", wav);
    archive::writeStoredFile(dir / "a.stored", stored);
    const archive::StoredMember kept = archive::readStoredFile(dir / "a.stored");
    ASSERT_EQ(kept, stored);
    EXPECT_EQ(archive::decodeStored(kept), sound);
    archive::edit(dir / "to.scm", {Change::replace(kChunkName, chunk), Change::carry(wav, kept), Change::carry(renamed, kept)});
    for (const std::string& name : {wav, renamed}) {
        EXPECT_EQ(archive::readMember(dir / "to.scm", name), sound) << name;
        EXPECT_EQ(stormRead(dir / "to.scm", name), sound) << name;
        EXPECT_EQ(archive::readStored(dir / "to.scm", name).bytes, stored.bytes) << name;
    }
    EXPECT_EQ(archive::readMember(dir / "to.scm", kChunkName), chunk);
    EXPECT_EQ(archive::readMember(dir / "to.scm", kNotesName), sampleNotes());
}
INSTANTIATE_TEST_SUITE_P(Styles, Carried, ::testing::ValuesIn(styles({3}, {0})), styleName);

// What we cannot decode is carried and compared as stored; what cannot be carried is refused, naming the archive.
TEST(Carry, KeepsWhatItCannotDecodeAndRefusesWhatDoesNotFit) {
    const ScratchDir dir;
    const fs::path map = dir / "map.scm";
    // One sector of 100 bytes stored as 50 behind an ADPCM mask, encrypted with a key from its place.
    archive::StoredMember adpcm{{8, 0, 0, 0, 58, 0, 0, 0}, 100, mpq::kExists | mpq::kCompressed | mpq::kEncrypted | mpq::kFixKey, 4096};
    adpcm.bytes.push_back(0x41), adpcm.bytes.resize(58, 7);
    archive::StoredMember other = adpcm, small = adpcm;
    other.bytes.back() = 8, small.sectorSize = 512;
    EXPECT_FALSE(archive::decodeStored(adpcm));
    EXPECT_TRUE(archive::sameContent(adpcm, adpcm));
    EXPECT_FALSE(archive::sameContent(adpcm, other));
    makeMap(map, sampleChunk(), {.hashTableSize = 4}, {{kNotesName, sampleNotes()}, {"x", {1, 2, 3}}});
    archive::edit(map, {Change::carry("staredit\\wav\\adpcm.wav", adpcm)});
    EXPECT_EQ(archive::readStored(map, "staredit\\wav\\adpcm.wav"), adpcm);

    const Bytes before = readAll(map);
    EXPECT_THAT([&] { archive::edit(map, {Change::carry("full.wav", adpcm)}); },
                fails("map.scm: the archive's hash table is full; full.wav cannot be added"));
    EXPECT_THAT([&] { archive::edit(map, {Change::carry("x", small)}); }, fails("map.scm: x was stored with 512-byte sectors"));
    EXPECT_THAT([&] { archive::edit(map, {Change::carry("x", adpcm), Change::replace("X", {})}); },
                fails("map.scm: member X is changed twice in one edit"));
    EXPECT_EQ(readAll(map), before);
    // Under a name the map already uses (the caller chose to replace it): no new entry is needed.
    archive::edit(map, {Change::carry("x", other)});
    EXPECT_EQ(archive::readStored(map, "x"), other);
    archive::writeStoredFile(dir / "a.stored", adpcm);
    Bytes file = readAll(dir / "a.stored");
    writeAll(dir / "a.stored", (file[8] = 2, file));
    EXPECT_THAT([&] { archive::readStoredFile(dir / "a.stored"); }, fails("a.stored: not a stored member file of version 1"));
}

// Sectors the new data repeats are taken over as stored, not recoded: here compressible sectors stored raw (as a
// compressor that gave up leaves them), and new data of another size that repeats the first and ends after it. They
// are found by decoding the old sectors, or told by the caller.
TEST(Archive, AddKeepsUnchangedSectorsAsStored) {
    const ScratchDir dir;
    const fs::path map = dir / "map.scm";
    const Bytes data = pattern(8192), next(data.begin(), data.begin() + 4097);
    makeMap(map, data, {Codec::Implode});
    RawMap m = RawMap::load(map);
    const uint32_t table[] = {12, 12 + 4096, 12 + 8192};
    m.blockOf(kChunkName).offset = int32_t(m.bytes.size() - m.headerPos), m.blockOf(kChunkName).storedSize = table[2];
    m.bytes.insert(m.bytes.end(), reinterpret_cast<const uint8_t*>(table), reinterpret_cast<const uint8_t*>(table + 3));
    m.bytes.insert(m.bytes.end(), data.begin(), data.end());
    m.store(map);
    ASSERT_EQ(chunkOf(map), data);
    const Bytes told = archive::editInMemory(readAll(map), {Change::replace(kChunkName, next, data)}, "map");
    archive::edit(map, {Change::replace(kChunkName, next)});
    EXPECT_EQ(chunkOf(map), next);
    EXPECT_EQ(readAll(map), told);
    RawMap after = RawMap::load(map);
    EXPECT_EQ(sectorAt(after, after.blockOf(kChunkName), 1), table[1]) << "the raw first sector was recoded";
}

// A file far larger than any map is refused before it is read into memory (sparse: it costs no disk).
TEST(Archive, RefusesAFileLargerThanAnyMap) {
    const ScratchDir dir;
    writeAll(dir / "huge.scm", {});
    fs::resize_file(dir / "huge.scm", 2 * archive::kMaxMemberSize + 1);
    EXPECT_THAT([&] { archive::readMember(dir / "huge.scm", kChunkName); },
                fails("huge.scm: the archive of 536870913 bytes is larger than the 512 MB limit"));
}

} // namespace

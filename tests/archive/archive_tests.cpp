#include "archive.h"
#include "layout.h"
#include "protections.h"

#include <StormLib.h>
#include <gmock/gmock.h>

#include <cstring>

namespace fs = std::filesystem;
using namespace fixtures;
using protections::kNotesName;
using protections::sampleChunk;
using protections::sampleNotes;

namespace {

using ::testing::HasSubstr;
// An ArchiveError whose message holds `part`.
auto fails(const std::string& part) { return ::testing::ThrowsMessage<archive::ArchiveError>(HasSubstr(part)); }

// The chunk file read into memory; extracting it to a file must give the same bytes.
Bytes chunkOf(const fs::path& map) {
    const Bytes read = archive::readMember(map, kChunkName);
    archive::extract(map, kChunkName, map.parent_path());
    EXPECT_EQ(readAll(map.parent_path() / "scenario.chk"), read) << "extract wrote other bytes than a read gives";
    return read;
}

// Whether scm-extractor is there to ask; the tests that read with it skip, saying why, where it is not.
bool npmReader() {
    static const bool there = fs::exists(NODE) && fs::exists(fs::path(EXTRACT_JS).parent_path() / "node_modules" / "scm-extractor");
    return there;
}
#define NEEDS_NPM_READER()                                                                                          \
    if (!npmReader())                                                                                               \
    GTEST_SKIP() << "scm-extractor, the independent reader these checks compare with, is not installed: run "      \
                    "scripts/setup (npm ci in tests/interop)"

// The chunk file as scm-extractor (npm, from scripts/setup), an independent, game-like reader, reads it.
Bytes npmRead(const fs::path& map) {
    const auto r = run(NODE, {EXTRACT_JS, map.string(), map.string() + ".npm"});
    EXPECT_EQ(r.status, 0) << "scm-extractor run by " NODE " failed on " << map << ": " << r.err;
    return r.status == 0 ? readAll(map.string() + ".npm") : Bytes{};
}

archive::Edited addBytes(const fs::path& map, const Bytes& data, std::string_view name) {
    return archive::edit(map, {archive::Change::replace(std::string(name), data)});
}

// Where sector `i` of an unencrypted member starts: entry `i` of its sector table.
uint32_t sectorAt(const RawMap& m, const BlockEntry& b, size_t i) {
    uint32_t at = 0;
    std::memcpy(&at, &m.bytes[m.dataPos(b) + 4 * i], 4);
    return at;
}

using enum archive::Placement;

// The chunk file's block as the game's look-up finds it.
archive::layout::BlockEntry chunkBlock(const RawMap& m) {
    const archive::layout::View view(m.bytes, "map");
    return view.blocks().at(*view.usableBlock(*view.find(kChunkName)));
}

// The map holds versions[0] as its chunk file; each later one replaces it in turn. All members read right, by
// scm-extractor too from version `npmFrom` on. The other members keep their stored bytes where they were, the hash
// table the entries the file holds (one cut off by the end of the file stays cut off there), and the map grows by
// no more than the new chunk file as stored, and not at all when it fits where the old one was.
std::vector<archive::Placement> replaceInTurn(const fs::path& map, const std::vector<Bytes>& versions,
                                             std::vector<Member> members, size_t npmFrom) {
    std::vector<archive::Placement> placed;
    members.emplace_back(kChunkName, Bytes{});
    for (size_t i = 0; i < versions.size(); ++i) {
        SCOPED_TRACE("version " + std::to_string(i));
        if (i > 0) {
            RawMap was = RawMap::load(map);
            std::vector<archive::StoredMember> kept;
            for (size_t k = 0; k + 1 < members.size(); ++k)
                kept.push_back(archive::readStored(map, members[k].first));
            const auto how = addBytes(map, versions[i], kChunkName);
            placed.push_back(how.placements.at(0));
            RawMap m = RawMap::load(map);
            for (size_t k = 0; k + 1 < members.size(); ++k) {
                EXPECT_EQ(archive::readStored(map, members[k].first), kept[k]) << members[k].first;
                EXPECT_EQ(m.blockOf(members[k].first).offset, was.blockOf(members[k].first).offset) << members[k].first;
            }
            EXPECT_EQ(m.hashes.size(), was.hashes.size());
            for (size_t j = 0; j < std::min(m.hashes.size(), was.hashes.size()); ++j)
                EXPECT_EQ(m.hashes[j].nameA, was.hashes[j].nameA) << j;
            // Tables before the chunk file's place (as before the header) are the map's own: they stay.
            if (was.hashOffset < chunkBlock(was).offset && was.blockOffset < chunkBlock(was).offset) {
                EXPECT_EQ(m.hashOffset, was.hashOffset);
                EXPECT_EQ(m.blockOffset, was.blockOffset);
            }
            if (m.hashes.size() < (m.hashCount & 0x0FFFFFFF)) {
                EXPECT_EQ(m.bytes.size() / 16, (m.headerPos + m.hashOffset) / 16 + m.hashes.size()) << "no longer cut off";
            }
            const uint32_t before = chunkBlock(was).storedSize, after = chunkBlock(m).storedSize;
            const uint64_t at = m.headerPos + uint64_t(chunkBlock(was).offset);
            size_t left = 0; // where the tables did not take its place or the file end there
            for (uint64_t k = at + after; how.placements[0] == InPlace && m.bytes.size() == was.bytes.size() && k < at + before; ++k)
                left += m.bytes[k] != 0;
            EXPECT_EQ(left, 0u) << "what the old chunk file left over is not zeroed";
            EXPECT_LE(m.bytes.size(), was.bytes.size() + (how.placements[0] == InPlace ? 0
                                                          : how.placements[0] == OwnTail
                                                              ? after - before
                                                              : after + 16 * m.blocks.size()));
        }
        members.back().second = versions[i];
        for (const auto& [name, data] : members)
            EXPECT_EQ(archive::readMember(map, name), data) << name;
        EXPECT_EQ(chunkOf(map), versions[i]);
        EXPECT_TRUE(i < npmFrom || npmRead(map) == versions[i]) << "the chunk file as scm-extractor reads it";
        EXPECT_THAT([&] { archive::readMember(map, "staredit\\wav\\absent.wav"); }, fails("has no member"));
    }
    return placed;
}

Bytes flipLast(Bytes b) { b.back() ^= 0x5A; return b; }

using Placements = std::vector<archive::Placement>;
enum class Key { Plain, Encrypted, Adjusted };
void PrintTo(Key k, std::ostream* os) { *os << (k == Key::Plain ? "Plain" : k == Key::Encrypted ? "Encrypted" : "AdjustedKey"); }
using Style = std::tuple<Codec, Key, uint16_t /*sector shift*/, uint32_t /*header offset*/>;
class CleanMap : public ::testing::TestWithParam<Style> {};
std::string styleName(const ::testing::TestParamInfo<Style>& info) {
    const auto [codec, key, shift, offset] = info.param;
    const char* const codecs[] = {"Plain", "Imploded", "Zlib", "Pkware"};
    const char* const keys[] = {"", "Encrypted", "AdjustedKey"};
    return std::string(codecs[int(codec)]) + keys[int(key)] + "_Shift" + std::to_string(shift) + "_At" +
           std::to_string(offset);
}

// New chunk files are stored like the old (codec, encryption), never with the adjusted key or single-unit flag,
// which only confuse readers. In turn: ones that fit take the old one's place (what is left over zeroed), a larger
// one goes past the notes, where smaller ones then stay (the file cut short) and a larger one grows.
TEST_P(CleanMap, ReadsEveryMemberAndPlacesEachNewChunkFile) {
    NEEDS_NPM_READER();
    const auto [codec, key, shift, offset] = GetParam();
    const ScratchDir dir;
    const fs::path map = dir / "clean.scm";
    // "x" is shorter than a word: its tail is never encrypted.
    const std::vector<Member> others = {{kNotesName, sampleNotes()}, {"empty", {}}, {"x", {'a', 'b', 'c'}}};
    makeMap(map, sampleChunk(), {codec, key != Key::Plain, key == Key::Adjusted, offset, shift}, others);
    const Bytes small = sampleChunk(4, 15 * 1024);
    EXPECT_EQ(replaceInTurn(map, {sampleChunk(), flipLast(sampleChunk()), small}, others, 1),
              (Placements{InPlace, InPlace}));
    RawMap m = RawMap::load(map);
    const BlockEntry b = m.blockOf(kChunkName);
    const uint32_t codecFlag = codec == Codec::None ? 0 : codec == Codec::Zlib ? mpq::kCompressed : mpq::kImploded;
    EXPECT_EQ(b.flags, mpq::kExists | codecFlag | (key == Key::Plain ? 0 : mpq::kEncrypted));
    EXPECT_TRUE(codec != Codec::Zlib || key != Key::Plain || m.bytes[m.dataPos(b) + sectorAt(m, b, 0)] == 0x02);
    const Bytes big = sampleChunk(3, 41000), cut(big.begin(), big.end() - 1000);
    // An empty member stored plain takes no bytes at all: what comes after it is appended.
    EXPECT_EQ(replaceInTurn(map, {small, big, flipLast(big), cut, big, sampleChunk(2, 100), {}, big},
                            others, -1),
              (Placements{Appended, InPlace, InPlace, OwnTail, InPlace, InPlace, codec == Codec::None ? Appended : OwnTail}));
}
INSTANTIATE_TEST_SUITE_P(Styles, CleanMap,
                         ::testing::Combine(::testing::Values(Codec::None, Codec::Implode, Codec::Zlib, Codec::Pkware),
                                            ::testing::Values(Key::Plain, Key::Encrypted, Key::Adjusted),
                                            ::testing::Values(uint16_t{0}, uint16_t{3}), ::testing::Values(0u, 1024u)),
                         styleName);

class ProtectedMap : public ::testing::TestWithParam<protections::Protection> {};

// A chunk file that fits takes the old one's place unless a protection shares its bytes; a larger one goes
// past everything else, and then is the chunk file's own place.
TEST_P(ProtectedMap, ReadsTheChunkTheGameReadsAndPlacesItsReplacements) {
    NEEDS_NPM_READER();
    const ScratchDir dir;
    protections::make(GetParam(), dir / "protected.scm");
    // scm-extractor scans the whole table for the neutral language: after an add it finds the new chunk file too.
    const auto placed =
        replaceInTurn(dir / "protected.scm", {sampleChunk(), flipLast(sampleChunk()), sampleChunk(5, 400 * 1024),
                                              sampleChunk(6, 9000)},
                      {{kNotesName, sampleNotes()}}, GetParam().gameOnly ? 1 : 0);
    EXPECT_EQ(placed, (GetParam().sharesChunk ? Placements{Appended, OwnTail, InPlace}
                                              : Placements{InPlace, Appended, InPlace}));
}
INSTANTIATE_TEST_SUITE_P(Protections, ProtectedMap, ::testing::ValuesIn(protections::all()),
                         [](const auto& info) { return info.param.name; });

// A member as StormLib, an independent reader, reads it.
Bytes stormRead(const fs::path& map, const std::string& name) {
    HANDLE mpq = nullptr, file = nullptr;
    Bytes out;
    if (SFileOpenArchive(map.c_str(), 0, STREAM_FLAG_READ_ONLY, &mpq)) {
        if (SFileOpenFileEx(mpq, name.c_str(), 0, &file)) {
            out.resize(SFileGetFileSize(file, nullptr));
            DWORD got = 0;
            if (!SFileReadFile(file, out.data(), DWORD(out.size()), &got, nullptr) || got != out.size())
                out = {'?'};
            SFileCloseFile(file);
        }
        SFileCloseArchive(mpq);
    }
    return out;
}

using archive::Change;
class Carried : public ::testing::TestWithParam<std::tuple<Codec, Key>> {};

// A sound read as stored from a map of each style, kept in a working file and carried in one edit with a new chunk
// file under its own name and another: both read as the original (by StormLib too: re-keyed for their name and place)
// and hold its stored bytes; the map's own members are untouched.
TEST_P(Carried, ReadsAsTheOriginalUnderEachName) {
    const auto [codec, key] = GetParam();
    const ScratchDir dir;
    const std::string wav = "staredit\\wav\\a.wav", renamed = "staredit\\wav\\b.wav";
    const Bytes sound = pattern(9000, 5), chunk = sampleChunk(3);
    makeMap(dir / "from.scm", sampleChunk(), {codec, key != Key::Plain, key == Key::Adjusted}, {{wav, sound}});
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
INSTANTIATE_TEST_SUITE_P(Styles, Carried,
                         ::testing::Combine(::testing::Values(Codec::None, Codec::Implode, Codec::Zlib, Codec::Pkware),
                                            ::testing::Values(Key::Plain, Key::Encrypted, Key::Adjusted)),
                         [](const auto& info) {
                             return styleName({{std::get<0>(info.param), std::get<1>(info.param), 3, 0}, 0});
                         });

// What we cannot decode is carried and compared as stored; what cannot be carried is refused, naming the archive.
TEST(Carry, KeepsWhatItCannotDecodeAndRefusesWhatDoesNotFit) {
    const ScratchDir dir;
    const fs::path map = dir / "map.scm";
    // One sector of 100 bytes stored as 50 behind an ADPCM mask, encrypted with a key from its place.
    archive::StoredMember adpcm{{8, 0, 0, 0, 58, 0, 0, 0}, 100, mpq::kExists | mpq::kCompressed | mpq::kEncrypted | mpq::kFixKey, 4096};
    adpcm.bytes.push_back(0x41), adpcm.bytes.resize(58, 7);
    archive::StoredMember other = adpcm;
    other.bytes.back() = 8;
    EXPECT_FALSE(archive::decodeStored(adpcm));
    EXPECT_TRUE(archive::sameContent(adpcm, adpcm));
    EXPECT_FALSE(archive::sameContent(adpcm, other));
    makeMap(map, sampleChunk(), {.hashTableSize = 4}, {{kNotesName, sampleNotes()}, {"x", {1, 2, 3}}});
    archive::edit(map, {Change::carry("staredit\\wav\\adpcm.wav", adpcm)});
    EXPECT_EQ(archive::readStored(map, "staredit\\wav\\adpcm.wav"), adpcm);

    const Bytes before = readAll(map);
    EXPECT_THAT([&] { archive::edit(map, {Change::carry("full.wav", adpcm)}); },
                fails("map.scm: the archive's hash table is full; full.wav cannot be added"));
    archive::StoredMember small = adpcm;
    small.sectorSize = 512;
    EXPECT_THAT([&] { archive::edit(map, {Change::carry("x", small)}); }, fails("map.scm: x was stored with 512-byte sectors"));
    EXPECT_THAT([&] { archive::edit(map, {Change::carry("x", adpcm), Change::replace("X", {})}); },
                fails("map.scm: member X is changed twice in one edit"));
    EXPECT_EQ(readAll(map), before);
    // Under a name the map already uses (the caller chose to replace it): no new entry is needed.
    archive::edit(map, {Change::carry("x", other)});
    EXPECT_EQ(archive::readStored(map, "x"), other);
    archive::writeStoredFile(dir / "a.stored", adpcm);
    Bytes file = readAll(dir / "a.stored");
    file[8] = 2;
    writeAll(dir / "a.stored", file);
    EXPECT_THAT([&] { archive::readStoredFile(dir / "a.stored"); }, fails("a.stored: not a stored member file of version 1"));
}

// Sectors the new data repeats are taken over as stored, not recoded: here compressible sectors stored raw (as a
// compressor that gave up leaves them), and new data of another size that repeats the first and ends after it.
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
    // Found by decoding the old sectors, or told by the caller.
    const Bytes told = archive::editInMemory(readAll(map), {archive::Change::replace(kChunkName, next, data)}, "map");
    addBytes(map, next, kChunkName);
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

#include "archive.h"
#include "protections.h"

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

// The chunk file as scm-extractor (npm, from scripts/setup), an independent, game-like reader, reads it.
Bytes npmRead(const fs::path& map) {
    const auto r = run(NODE, {EXTRACT_JS, map.string(), map.string() + ".npm"});
    EXPECT_EQ(r.status, 0) << "scm-extractor run by " NODE " failed on " << map << ": " << r.err;
    return r.status == 0 ? readAll(map.string() + ".npm") : Bytes{};
}

void addBytes(const fs::path& map, const Bytes& data, std::string_view name) {
    writeAll(map.string() + ".new", data);
    archive::add(map, map.string() + ".new", name);
}

// Where sector `i` of an unencrypted member starts: entry `i` of its sector table.
uint32_t sectorAt(const RawMap& m, const BlockEntry& b, size_t i) {
    uint32_t at = 0;
    std::memcpy(&at, &m.bytes[m.dataPos(b) + 4 * i], 4);
    return at;
}

// The map holds versions[0] as its chunk file; each later one replaces it in turn. An add keeps every byte of
// the map as it first was but the header's, writes only past them (over its own earlier tail), and keeps the hash entries (a table cut off by the end of the file is copied
// whole, the missing entries deleted). All members read right, by scm-extractor too from version `npmFrom` on.
void replaceInTurn(const fs::path& map, const std::vector<Bytes>& versions, std::vector<Member> members,
                   size_t npmFrom, Bytes first = {}) {
    members.emplace_back(kChunkName, Bytes{});
    if (first.empty())
        first = readAll(map);
    for (size_t i = 0; i < versions.size(); ++i) {
        SCOPED_TRACE("version " + std::to_string(i));
        if (i > 0) {
            const RawMap was = RawMap::load(map);
            addBytes(map, versions[i], kChunkName);
            const RawMap m = RawMap::load(map);
            Bytes kept(m.bytes.begin(), m.bytes.begin() + std::min(first.size(), m.bytes.size()));
            std::copy_n(first.begin() + m.headerPos, 32, kept.begin() + m.headerPos);
            EXPECT_TRUE(kept == first && m.bytes.size() > first.size()) << "old bytes changed, or none added";
            ASSERT_EQ(m.hashes.size(), m.hashCount & 0x0FFFFFFF);
            for (size_t j = 0; j < m.hashes.size(); ++j)
                EXPECT_EQ(j < was.hashes.size() ? m.hashes[j].nameA : m.hashes[j].block,
                          j < was.hashes.size() ? was.hashes[j].nameA : mpq::kDeleted) << j;
        }
        members.back().second = versions[i];
        for (const auto& [name, data] : members)
            EXPECT_EQ(archive::readMember(map, name), data) << name;
        EXPECT_EQ(chunkOf(map), versions[i]);
        EXPECT_TRUE(i < npmFrom || npmRead(map) == versions[i]) << "the chunk file as scm-extractor reads it";
        EXPECT_THAT([&] { archive::readMember(map, "staredit\\wav\\absent.wav"); }, fails("has no member"));
    }
}

Bytes flipLast(Bytes b) { b.back() ^= 0x5A; return b; }

enum class Key { Plain, Encrypted, Adjusted };
using Style = std::tuple<Codec, Key, uint16_t /*sector shift*/, uint32_t /*header offset*/>;
class CleanMap : public ::testing::TestWithParam<Style> {};

// New chunk files are stored like the old (codec, encryption), never with the adjusted key or single-unit flag,
// which only confuse readers; versions repeating sectors of the one before (changed at its end, cut short) keep them.
TEST_P(CleanMap, ReadsEveryMemberAndReplacesTheChunkInItsStyle) {
    const auto [codec, key, shift, offset] = GetParam();
    const ScratchDir dir;
    const fs::path map = dir / "clean.scm";
    // "x" is shorter than a word: its tail is never encrypted.
    const std::vector<Member> others = {{kNotesName, sampleNotes()}, {"empty", {}}, {"x", {'a', 'b', 'c'}}};
    makeMap(map, sampleChunk(), {codec, key != Key::Plain, key == Key::Adjusted, offset, shift}, others);
    const Bytes first = readAll(map);
    replaceInTurn(map, {sampleChunk(), flipLast(sampleChunk())}, others, 1);
    RawMap m = RawMap::load(map);
    const BlockEntry b = m.blockOf(kChunkName);
    const uint32_t codecFlag = codec == Codec::None ? 0 : codec == Codec::Zlib ? mpq::kCompressed : mpq::kImploded;
    EXPECT_EQ(b.flags, mpq::kExists | codecFlag | (key == Key::Plain ? 0 : mpq::kEncrypted));
    EXPECT_TRUE(codec != Codec::Zlib || key != Key::Plain || m.bytes[m.dataPos(b) + sectorAt(m, b, 0)] == 0x02);
    const Bytes big = sampleChunk(3, 41000), cut(big.begin(), big.end() - 1000);
    replaceInTurn(map, {flipLast(sampleChunk()), big, flipLast(big), cut, sampleChunk(2, 100), {}, big}, others, -1,
                  first);
}
INSTANTIATE_TEST_SUITE_P(Styles, CleanMap,
                         ::testing::Combine(::testing::Values(Codec::None, Codec::Implode, Codec::Zlib, Codec::Pkware),
                                            ::testing::Values(Key::Plain, Key::Encrypted, Key::Adjusted),
                                            ::testing::Values(uint16_t{0}, uint16_t{3}), ::testing::Values(0u, 1024u)));

class ProtectedMap : public ::testing::TestWithParam<protections::Protection> {};

TEST_P(ProtectedMap, ReadsTheChunkTheGameReadsAndReplacesIt) {
    const ScratchDir dir;
    protections::make(GetParam(), dir / "protected.scm");
    // scm-extractor scans the whole table for the neutral language: after an add it finds the new chunk file too.
    replaceInTurn(dir / "protected.scm", {sampleChunk(), sampleChunk(5, 400 * 1024), sampleChunk(6, 9000)},
                  {{kNotesName, sampleNotes()}}, GetParam().gameOnly ? 1 : 0);
}
INSTANTIATE_TEST_SUITE_P(Protections, ProtectedMap, ::testing::ValuesIn(protections::all()),
                         [](const auto& info) { return info.param.name; });

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
    addBytes(map, next, kChunkName);
    EXPECT_EQ(chunkOf(map), next);
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

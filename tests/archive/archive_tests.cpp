#include "archive.h"
#include "protections.h"

#include <StormLib.h>
#include <gtest/gtest.h>

#include <cstring>
#include <optional>

namespace fs = std::filesystem;
using namespace fixtures;
using protections::kNotesName;
using protections::sampleChunk;
using protections::sampleNotes;

namespace {

// The chunk file read into memory; extracting it to a file must give the same bytes.
Bytes chunkOf(const fs::path& map) {
    const Bytes read = archive::readMember(map, kChunkName);
    archive::extract(map, kChunkName, map.parent_path());
    EXPECT_EQ(readAll(map.parent_path() / "scenario.chk"), read) << "extract wrote other bytes than a read gives";
    return read;
}

// `f` throws an ArchiveError whose message holds `part`.
::testing::AssertionResult failsWith(const std::function<void()>& f, const std::string& part) {
    try {
        f();
    } catch (const archive::ArchiveError& e) {
        return std::string(e.what()).find(part) != std::string::npos ? ::testing::AssertionSuccess() : ::testing::AssertionFailure() << e.what();
    }
    return ::testing::AssertionFailure() << "no ArchiveError";
}

// A member as StormLib reads it, and the chunk file as scm-extractor (npm, installed by
// scripts/setup) does: independent checks of what we write.
std::optional<Bytes> stormRead(const fs::path& map, const std::string& name) {
    HANDLE mpq = nullptr, file = nullptr;
    std::optional<Bytes> out;
    if (SFileOpenArchive(map.c_str(), 0, STREAM_FLAG_READ_ONLY, &mpq) && SFileOpenFileEx(mpq, name.c_str(), 0, &file)) {
        Bytes data(SFileGetFileSize(file, nullptr));
        DWORD got = 0;
        if (data.empty() || (SFileReadFile(file, data.data(), DWORD(data.size()), &got, nullptr) && got == data.size()))
            out = std::move(data);
        SFileCloseFile(file);
    }
    if (mpq)
        SFileCloseArchive(mpq);
    return out;
}
Bytes npmRead(const fs::path& map) {
    const auto r = run(NODE, {EXTRACT_JS, map.string(), map.string() + ".npm"});
    EXPECT_EQ(r.status, 0) << "scm-extractor run by " NODE " failed on " << map << ": " << r.err;
    return r.status == 0 ? readAll(map.string() + ".npm") : Bytes{};
}

void addBytes(const fs::path& map, const Bytes& data, std::string_view name) {
    writeAll(map.string() + ".new", data);
    archive::add(map, map.string() + ".new", name);
}

// The sector offset table of an unencrypted member; `edit` may change it in the map's bytes.
std::vector<uint32_t> sectorTable(RawMap& m, const BlockEntry& b, const std::function<void(std::vector<uint32_t>&)>& edit = {}) {
    std::vector<uint32_t> t((b.fileSize + m.sectorSize() - 1) / m.sectorSize() + 1);
    std::memcpy(t.data(), &m.bytes[m.dataPos(b)], t.size() * 4);
    if (edit) {
        edit(t);
        std::memcpy(&m.bytes[m.dataPos(b)], t.data(), t.size() * 4);
    }
    return t;
}

// The map holds versions[0] as its chunk file; each later version replaces it in turn.
// An add keeps every old byte but the header's, appends, and keeps the hash entries;
// all members read as they should throughout, also by the other readers when asked,
// and no absent one appears.
void replaceInTurn(const fs::path& map, const std::vector<Bytes>& versions, std::vector<Member> others, bool storm, bool npm) {
    others.emplace_back(kChunkName, Bytes{});
    for (size_t i = 0; i < versions.size(); ++i) {
        SCOPED_TRACE("version " + std::to_string(i));
        if (i > 0) {
            const Bytes before = readAll(map);
            addBytes(map, versions[i], kChunkName);
            const RawMap m = RawMap::load(map);
            Bytes kept(m.bytes.begin(), m.bytes.begin() + std::min(before.size(), m.bytes.size()));
            std::copy_n(before.begin() + m.headerPos, 32, kept.begin() + m.headerPos);
            EXPECT_TRUE(kept == before && m.bytes.size() > before.size()) << "old bytes changed, or nothing appended";
            // A hash table cut off by the end of the file is copied whole, the missing entries deleted.
            const RawMap was = RawMap::parse(before);
            ASSERT_EQ(m.hashes.size(), m.hashCount & 0x0FFFFFFF);
            for (size_t j = 0; j < m.hashes.size(); ++j)
                EXPECT_EQ(j < was.hashes.size() ? m.hashes[j].nameA : m.hashes[j].block, j < was.hashes.size() ? was.hashes[j].nameA : mpq::kDeleted) << j;
        }
        others.back().second = versions[i];
        for (const auto& [name, data] : others) {
            EXPECT_EQ(archive::readMember(map, name), data) << name;
            EXPECT_TRUE(!storm || stormRead(map, name) == data) << name << " as StormLib reads it";
        }
        EXPECT_EQ(chunkOf(map), versions[i]);
        EXPECT_TRUE(!npm || npmRead(map) == versions[i]) << "the chunk file as scm-extractor reads it";
        EXPECT_TRUE(failsWith([&] { archive::readMember(map, "staredit\\wav\\absent.wav"); }, "has no member"));
    }
}

Bytes flipLast(Bytes b) { b.back() ^= 0x5A; return b; }

enum class Key { Plain, Encrypted, Adjusted };
using Style = std::tuple<Codec, Key, uint16_t /*sector shift*/, uint32_t /*header offset*/>;
class CleanMap : public ::testing::TestWithParam<Style> {};

// New chunk files are stored like the old (codec, encryption), but never with the
// adjusted key or the single-unit flag, which only confuse readers. Versions that
// repeat sectors of the one before have them taken over, in each codec.
TEST_P(CleanMap, ReadsEveryMemberAndReplacesTheChunkInItsStyle) {
    const auto [codec, key, shift, offset] = GetParam();
    const ScratchDir dir;
    const fs::path map = dir / "clean.scm";
    // "tiny" is shorter than a word: its tail is never encrypted.
    const std::vector<Member> others = {{kNotesName, sampleNotes()}, {"extra\\empty.txt", {}}, {"tiny", {'a', 'b', 'c'}}};
    makeMap(map, sampleChunk(), {codec, key != Key::Plain, key == Key::Adjusted, offset, shift}, others);
    // StormLib refuses sector shift 0 outright, even in archives it wrote itself.
    replaceInTurn(map, {sampleChunk(), flipLast(sampleChunk())}, others, shift != 0, false);
    RawMap m = RawMap::load(map);
    const BlockEntry b = m.blockOf(kChunkName);
    const uint32_t codecFlag = codec == Codec::None ? 0 : codec == Codec::Zlib ? mpq::kCompressed : mpq::kImploded;
    EXPECT_EQ(b.flags, mpq::kExists | codecFlag | (key == Key::Plain ? 0 : mpq::kEncrypted));
    EXPECT_TRUE(codec != Codec::Zlib || key != Key::Plain || m.bytes[m.dataPos(b) + sectorTable(m, b)[0]] == 0x02) << "not zlib's mask";
    const Bytes big = sampleChunk(3, 41000);
    replaceInTurn(map, {flipLast(sampleChunk()), big, flipLast(big), Bytes(big.begin(), big.end() - 1000), sampleChunk(2, 100), {}, big},
                  others, shift != 0, false);
}

std::string styleName(const ::testing::TestParamInfo<Style>& info) {
    static const char *codecs[] = {"None", "Implode", "Zlib", "Pkware"}, *keys[] = {"Plain", "Encrypted", "AdjustedKey"};
    const auto [codec, key, shift, offset] = info.param;
    return codecs[int(codec)] + std::string(keys[int(key)]) + "Shift" + std::to_string(shift) + "At" + std::to_string(offset);
}
INSTANTIATE_TEST_SUITE_P(Styles, CleanMap,
                         ::testing::Combine(::testing::Values(Codec::None, Codec::Implode, Codec::Zlib, Codec::Pkware),
                                            ::testing::Values(Key::Plain, Key::Encrypted, Key::Adjusted),
                                            ::testing::Values(uint16_t{0}, uint16_t{3}), ::testing::Values(0u, 1024u)),
                         styleName);

class ProtectedMap : public ::testing::TestWithParam<protections::Protection> {};

TEST_P(ProtectedMap, ReadsTheChunkTheGameReadsAndReplacesIt) {
    const ScratchDir dir;
    protections::make(GetParam(), dir / "protected.scm");
    replaceInTurn(dir / "protected.scm", {sampleChunk(), sampleChunk(5, 26000), sampleChunk(6, 9000)}, {{kNotesName, sampleNotes()}}, false, true);
}
INSTANTIATE_TEST_SUITE_P(Protections, ProtectedMap, ::testing::ValuesIn(protections::all()), [](const auto& info) { return info.param.name; });

struct Damage {
    std::string name, error;
    std::function<void(RawMap&)> patch;
    friend void PrintTo(const Damage& d, std::ostream* os) { *os << d.name; }
};
class DamagedMap : public ::testing::TestWithParam<Damage> {};

// A large member decodes in windows on several threads; any fault is an error naming
// the map and the first fault in the file, and an extraction leaves nothing behind.
// An add then either fails and leaves the map as it was, or gives a map that reads.
TEST_P(DamagedMap, IsAClearErrorAndLeavesNothing) {
    const ScratchDir dir;
    const fs::path map = dir / "map.scm", out = dir / "out";
    makeMap(map, sampleChunk(9, 400 * 1024), {}, {{kNotesName, sampleNotes()}});
    ASSERT_EQ(chunkOf(map), sampleChunk(9, 400 * 1024));
    RawMap m = RawMap::load(map);
    GetParam().patch(m);
    m.store(map);
    fs::create_directory(out);
    EXPECT_TRUE(failsWith([&] { archive::extract(map, kChunkName, out); }, map.string() + ": " + GetParam().error));
    EXPECT_TRUE(fs::is_empty(out));
    try {
        addBytes(map, sampleChunk(), kChunkName);
        EXPECT_EQ(chunkOf(map), sampleChunk());
    } catch (const archive::ArchiveError&) {
        EXPECT_EQ(readAll(map), m.bytes);
    }
}

const char* const kNoData = "the archive has no member staredit\\scenario.chk (its entry points to no existing data)";
const char* const kBadTable = "the sector table of staredit\\scenario.chk is damaged (entry ";
INSTANTIATE_TEST_SUITE_P(
    Faults, DamagedMap,
    ::testing::Values(
        Damage{"OnlyAShortHeader", "not a map archive", [](RawMap& m) { m.headerSize = 31; }},
        Damage{"EntryBehindAnEmptyStartSlot", "the archive has no member staredit\\scenario.chk",
               [](RawMap& m) {
                   const HashEntry e = m.hashes.at(m.findHash(kChunkName));
                   m.hashes.assign(16, {});
                   m.hashes[(protections::startSlot(kChunkName, 16) + 1) % 16] = e;
               }},
        Damage{"NoExistsFlag", kNoData, [](RawMap& m) { m.blockOf(kChunkName).flags ^= mpq::kExists; }},
        Damage{"DeletedFlag", kNoData, [](RawMap& m) { m.blockOf(kChunkName).flags |= mpq::kDeletedFlag; }},
        Damage{"SectorTableGoesBackwards", kBadTable + std::string("2 goes backwards)"),
               [](RawMap& m) { sectorTable(m, m.blockOf(kChunkName), [](auto& t) { t[2] = t[1] - 1; }); }},
        Damage{"SectorTablePastTheStoredSize", kBadTable + std::string("101 lies past the member's stored size)"),
               [](RawMap& m) { sectorTable(m, m.blockOf(kChunkName), [&](auto& t) { t.back() = m.blockOf(kChunkName).storedSize + 1; }); }},
        // 512 << 23 is 0 in 32 bits.
        Damage{"SectorShiftOverflows", "the sector size shift 23 overflows", [](RawMap& m) { m.sectorShift = 23; }},
        Damage{"UnsupportedCompression", "sector 17 of staredit\\scenario.chk uses an unsupported compression (mask 0x10)",
               [](RawMap& m) {
                   for (const size_t s : {60, 17}) // bzip2
                       m.bytes[m.dataPos(m.blockOf(kChunkName)) + sectorTable(m, m.blockOf(kChunkName))[s]] = 0x10;
               }}),
    [](const auto& info) { return info.param.name; });

class Archive : public ::testing::Test {
protected:
    ScratchDir dir;
    fs::path map = dir / "map.scm";
    Bytes chunk = sampleChunk();
};

TEST_F(Archive, FailuresNameTheFileAndChangeNothing) {
    makeMap(map, chunk);
    const Bytes before = readAll(map);
    EXPECT_TRUE(failsWith([&] { archive::add(map, dir / "none.chk", kChunkName); }, (dir / "none.chk").string() + ": file not found"));
    EXPECT_TRUE(failsWith([&] { archive::extract(dir / "none.scm", kChunkName, dir.path()); }, "none.scm: file not found"));
    EXPECT_TRUE(failsWith([&] { archive::extract(map, "x\\absent.chk", dir.path()); }, map.string() + ": the archive has no member x\\absent.chk"));
    EXPECT_TRUE(failsWith([&] { addBytes(dir / "none.scm", chunk, kChunkName); }, "none.scm: file not found"));
    EXPECT_EQ(readAll(map), before);
    EXPECT_FALSE(fs::exists(dir / "none.scm") || fs::exists(dir / "absent.chk"));
}

// Stored data is read to the byte; compressed, the whole sectors before the cut.
TEST_F(Archive, DataCutOffByTheEndYieldsWhatIsThere) {
    for (const Codec codec : {Codec::None, Codec::Zlib}) {
        makeMap(map, chunk, {.codec = codec, .headerOffset = 1024});
        RawMap m = RawMap::load(map);
        m.hashOffset = -1024, m.blockOffset = -1024 + int32_t(m.hashes.size() * 16); // so the cut only takes member data
        Bytes cut = m.serialize();
        cut.resize(m.dataPos(m.blockOf(kChunkName)) + 6000);
        writeAll(map, cut);
        const Bytes got = chunkOf(map);
        EXPECT_TRUE(got.size() <= chunk.size() && std::equal(got.begin(), got.end(), chunk.begin())) << "not a prefix";
        EXPECT_TRUE(codec == Codec::None ? got.size() == 6000 : got.size() >= 4096) << got.size();
    }
}

// Sectors the new data repeats are taken over as stored, not recoded: here the first
// sector is stored raw (as a compressor that gave up leaves it), and the new data, of
// another size, repeats it but ends just after it.
TEST_F(Archive, AddKeepsUnchangedSectorsAsStored) {
    makeMap(map, chunk, {Codec::Implode});
    RawMap m = RawMap::load(map);
    BlockEntry& b = m.blockOf(kChunkName);
    const uint32_t ss = m.sectorSize();
    const std::vector<uint32_t> t = sectorTable(m, b);
    std::vector<uint32_t> offsets{uint32_t(t.size() * 4), uint32_t(t.size() * 4) + ss};
    for (size_t i = 1; i + 1 < t.size(); ++i)
        offsets.push_back(offsets.back() + t[i + 1] - t[i]);
    Bytes member(reinterpret_cast<uint8_t*>(offsets.data()), reinterpret_cast<uint8_t*>(offsets.data() + offsets.size()));
    member.insert(member.end(), chunk.begin(), chunk.begin() + ss);
    member.insert(member.end(), m.bytes.begin() + m.dataPos(b) + t[1], m.bytes.begin() + m.dataPos(b) + t.back());
    b.offset = int32_t(m.bytes.size() - m.headerPos), b.storedSize = uint32_t(member.size());
    m.bytes.insert(m.bytes.end(), member.begin(), member.end());
    m.store(map);
    ASSERT_EQ(chunkOf(map), chunk);
    addBytes(map, Bytes(chunk.begin(), chunk.begin() + ss + 1), kChunkName);
    EXPECT_EQ(chunkOf(map), Bytes(chunk.begin(), chunk.begin() + ss + 1));
    RawMap after = RawMap::load(map);
    const auto t1 = sectorTable(after, after.blockOf(kChunkName));
    EXPECT_EQ(t1[1] - t1[0], ss) << "the raw first sector was recoded";
}

// A new name goes where both readers find it; an entry of that name hidden behind
// its empty start slot enters the scan once the slot is filled, and must not win.
TEST_F(Archive, AddedNameIsFoundAndWinsOverAHiddenEntry) {
    makeMap(map, chunk, {}, {{kNotesName, sampleNotes()}});
    RawMap m = RawMap::load(map);
    const std::string name = "new\\member.bin";
    const size_t n = m.hashes.size(), start = protections::startSlot(name, uint32_t(n));
    size_t hidden = (start + n - 1) % n; // scanned last
    while (m.hashes[hidden].block != mpq::kEmpty)
        hidden = (hidden + n - 1) % n;
    ASSERT_EQ(m.hashes[start].block, mpq::kEmpty);
    m.hashes[hidden] = protections::entryFor(name, m.hashes[m.findHash(kNotesName)].block);
    m.store(map);
    EXPECT_TRUE(failsWith([&] { archive::readMember(map, name); }, "has no member"));
    addBytes(map, pattern(7000, 11), name);
    for (const auto& [member, data] : {Member{name, pattern(7000, 11)}, Member{kNotesName, sampleNotes()}, Member{kChunkName, chunk}})
        EXPECT_TRUE(archive::readMember(map, member) == data && stormRead(map, member) == data) << member;
}

} // namespace

#include "archive.h"
#include "fixtures.h"
#include "protections.h"

#include <StormLib.h>
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <optional>
#include <tuple>

namespace fs = std::filesystem;
using fixtures::BlockEntry;
using fixtures::Bytes;
using fixtures::Codec;
using fixtures::kChunkName;
using fixtures::MapOptions;
using fixtures::RawMap;
using protections::kNotesName;
namespace mpq = fixtures::mpq;

namespace {

constexpr const char* kEmptyName = "extra\\empty.txt";
constexpr const char* kTinyName = "tiny"; // shorter than a word: its tail is never encrypted

// The chunk file read into memory; extracting it to a file must give the same bytes.
Bytes chunkOf(const fs::path& map) {
    Bytes read = archive::readMember(map, kChunkName);
    const fs::path out = map.parent_path() / "extracted";
    fs::create_directories(out);
    archive::extract(map, kChunkName, out);
    EXPECT_EQ(fixtures::readAll(out / "scenario.chk"), read) << "extract wrote other bytes than a read gives";
    fs::remove_all(out);
    return read;
}

template <class F>
std::string errorOf(F&& f) {
    try {
        f();
    } catch (const archive::ArchiveError& e) {
        return e.what();
    }
    ADD_FAILURE() << "no ArchiveError thrown";
    return {};
}

// StormLib's own reader, as an independent check of what we write.
std::optional<Bytes> stormRead(const fs::path& map, const char* name) {
    HANDLE mpq = nullptr, file = nullptr;
    if (!SFileOpenArchive(map.c_str(), 0, STREAM_FLAG_READ_ONLY, &mpq))
        return std::nullopt;
    std::optional<Bytes> out;
    if (SFileOpenFileEx(mpq, name, SFILE_OPEN_FROM_MPQ, &file)) {
        Bytes data(SFileGetFileSize(file, nullptr));
        DWORD got = 0;
        if (data.empty() || (SFileReadFile(file, data.data(), DWORD(data.size()), &got, nullptr) && got == data.size()))
            out = std::move(data);
        SFileCloseFile(file);
    }
    SFileCloseArchive(mpq);
    return out;
}

void addBytes(const fs::path& map, const Bytes& data, std::string_view name) {
    const fs::path src = map.parent_path() / "new-member.bin";
    fixtures::writeAll(src, data);
    archive::add(map, src, name);
}

// An add keeps every old byte except the 32 header bytes, and only appends.
void expectOnlyHeaderChanged(const Bytes& before, const Bytes& after, uint32_t headerPos) {
    ASSERT_GT(after.size(), before.size());
    for (size_t i = 0; i < before.size(); ++i)
        if ((i < headerPos || i >= headerPos + 32) && before[i] != after[i]) {
            ADD_FAILURE() << "old byte " << i << " changed";
            return;
        }
}

uint32_t keyOf(const BlockEntry& b, std::string_view name) {
    uint32_t key = mpq::fileKey(name);
    if (b.flags & mpq::kFixKey)
        key = (key + uint32_t(b.offset)) ^ b.fileSize;
    return key;
}

// The member's sector offset table, decrypted; `edit` may change it and it is written back.
std::vector<uint32_t> sectorTable(RawMap& m, const BlockEntry& b, std::string_view name,
                                  const std::function<void(std::vector<uint32_t>&)>& edit = {}) {
    const size_t n = (b.fileSize + m.sectorSize() - 1) / m.sectorSize() + 1;
    const bool enc = b.flags & (mpq::kEncrypted | mpq::kFixKey);
    Bytes raw(m.bytes.begin() + m.dataPos(b), m.bytes.begin() + m.dataPos(b) + n * 4);
    if (enc)
        mpq::decrypt(raw.data(), raw.size(), keyOf(b, name) - 1);
    std::vector<uint32_t> t(n);
    std::memcpy(t.data(), raw.data(), raw.size());
    if (edit) {
        edit(t);
        std::memcpy(raw.data(), t.data(), raw.size());
        if (enc)
            mpq::encrypt(raw.data(), raw.size(), keyOf(b, name) - 1);
        std::copy(raw.begin(), raw.end(), m.bytes.begin() + m.dataPos(b));
    }
    return t;
}

// The first byte of the member's first compressed sector (its compression mask), or -1.
int firstMask(RawMap& m, const BlockEntry& b, std::string_view name) {
    const auto t = sectorTable(m, b, name);
    for (size_t i = 0; i + 1 < t.size(); ++i) {
        const uint32_t owed = std::min<uint32_t>(m.sectorSize(), b.fileSize - uint32_t(i) * m.sectorSize());
        if (t[i + 1] - t[i] >= owed)
            continue;
        uint8_t word[4];
        std::memcpy(word, &m.bytes[m.dataPos(b) + t[i]], 4);
        if (b.flags & (mpq::kEncrypted | mpq::kFixKey))
            mpq::decrypt(word, 4, keyOf(b, name) + uint32_t(i));
        return word[0];
    }
    return -1;
}

// ---------------------------------------------------------------- clean maps

enum class Key { Plain, Encrypted, Adjusted };
using CleanParam = std::tuple<Codec, Key, uint16_t /*shift*/, uint32_t /*header offset*/>;

class CleanMap : public ::testing::TestWithParam<CleanParam> {
protected:
    void SetUp() override {
        const auto [codec, key, shift, offset] = GetParam();
        options.codec = codec;
        options.encrypted = key != Key::Plain;
        options.adjustedKey = key == Key::Adjusted;
        options.sectorShift = shift;
        options.headerOffset = offset;
        fixtures::makeMap(map, chunk, options,
                          {{kNotesName, protections::sampleNotes()}, {kEmptyName, {}}, {kTinyName, {'a', 'b', 'c'}}});
    }
    fixtures::ScratchDir dir;
    fs::path map = dir / "clean.scm";
    Bytes chunk = protections::sampleChunk();
    MapOptions options;
};

TEST_P(CleanMap, ReadsEveryMemberExactly) {
    EXPECT_EQ(chunkOf(map), chunk);
    EXPECT_EQ(archive::readMember(map, kNotesName), protections::sampleNotes());
    EXPECT_EQ(archive::readMember(map, kEmptyName), Bytes{});
    EXPECT_EQ(archive::readMember(map, kTinyName), (Bytes{'a', 'b', 'c'}));

    archive::extract(map, kChunkName, dir.path());
    EXPECT_EQ(fixtures::readAll(dir / "scenario.chk"), chunk);
}

// StormLib refuses archives with sector shift 0 outright, even those it wrote itself;
// elsewhere it must read what we wrote as it read the original.
bool stormReadsOriginal(const fs::path& map, const MapOptions& o) {
    const bool reads = stormRead(map, kChunkName).has_value();
    EXPECT_TRUE(reads || o.sectorShift == 0);
    return reads;
}

TEST_P(CleanMap, AddStoresInTheOldStyleAndKeepsTheRest) {
    const bool storm = stormReadsOriginal(map, options);
    const Bytes before = fixtures::readAll(map);
    const Bytes next = protections::sampleChunk(9, 30000);
    addBytes(map, next, kChunkName);

    EXPECT_EQ(chunkOf(map), next);
    EXPECT_EQ(archive::readMember(map, kNotesName), protections::sampleNotes());
    EXPECT_EQ(archive::readMember(map, kEmptyName), Bytes{});
    EXPECT_EQ(archive::readMember(map, kTinyName), (Bytes{'a', 'b', 'c'}));
    RawMap m = RawMap::load(map);
    expectOnlyHeaderChanged(before, m.bytes, m.headerPos);

    const BlockEntry b = m.blockOf(kChunkName);
    EXPECT_GE(uint64_t(m.dataPos(b)), before.size()) << "new data goes after the old end";
    EXPECT_TRUE(b.flags & mpq::kExists);
    EXPECT_FALSE(b.flags & (mpq::kFixKey | mpq::kSingleUnit | mpq::kDeletedFlag));
    EXPECT_EQ(bool(b.flags & mpq::kEncrypted), options.encrypted);
    EXPECT_EQ(b.fileSize, next.size());
    switch (options.codec) {
    case Codec::None: EXPECT_EQ(b.flags & (mpq::kImploded | mpq::kCompressed), 0u); break;
    case Codec::Implode:
    case Codec::Pkware: EXPECT_EQ(b.flags & (mpq::kImploded | mpq::kCompressed), mpq::kImploded); break;
    case Codec::Zlib:
        EXPECT_EQ(b.flags & (mpq::kImploded | mpq::kCompressed), mpq::kCompressed);
        EXPECT_EQ(firstMask(m, b, kChunkName), 0x02);
        break;
    }

    // StormLib reads what we wrote: the plain key and the sector layout are standard.
    if (storm) {
        EXPECT_EQ(stormRead(map, kChunkName), next);
        EXPECT_EQ(stormRead(map, kNotesName), protections::sampleNotes());
    }
}

TEST_P(CleanMap, RepeatedSavesStillRead) {
    const std::vector<Bytes> versions = {protections::sampleChunk(2, 100), protections::sampleChunk(3, 41000),
                                         Bytes{}, protections::sampleChunk(4)};
    const bool storm = stormReadsOriginal(map, options);
    for (const Bytes& v : versions) {
        addBytes(map, v, kChunkName);
        ASSERT_EQ(chunkOf(map), v);
        ASSERT_EQ(archive::readMember(map, kNotesName), protections::sampleNotes());
    }
    if (storm) {
        EXPECT_EQ(stormRead(map, kChunkName), versions.back());
    }
}

std::string cleanName(const ::testing::TestParamInfo<CleanParam>& info) {
    static const char* codecs[] = {"None", "Implode", "Zlib", "Pkware"};
    static const char* keys[] = {"Plain", "Encrypted", "AdjustedKey"};
    const auto [codec, key, shift, offset] = info.param;
    return std::string(codecs[int(codec)]) + keys[int(key)] + "Shift" + std::to_string(shift) + "At" +
           std::to_string(offset);
}

INSTANTIATE_TEST_SUITE_P(Styles, CleanMap,
                         ::testing::Combine(::testing::Values(Codec::None, Codec::Implode, Codec::Zlib, Codec::Pkware),
                                            ::testing::Values(Key::Plain, Key::Encrypted, Key::Adjusted),
                                            ::testing::Values(uint16_t{0}, uint16_t{3}),
                                            ::testing::Values(0u, 1024u)),
                         cleanName);

// ---------------------------------------------------------------- protected maps

class ProtectedMap : public ::testing::TestWithParam<protections::Protection> {
protected:
    void SetUp() override { protections::make(GetParam(), map); }
    fixtures::ScratchDir dir;
    fs::path map = dir / "protected.scm";
};

TEST_P(ProtectedMap, ReadsTheChunkTheGameReads) {
    EXPECT_EQ(chunkOf(map), protections::sampleChunk());
    EXPECT_EQ(archive::readMember(map, kNotesName), protections::sampleNotes());
}

TEST_P(ProtectedMap, AddReplacesItAndKeepsTheRest) {
    const Bytes before = fixtures::readAll(map);
    const uint32_t headerPos = RawMap::parse(before).headerPos;
    const Bytes next = protections::sampleChunk(5, 26000);
    addBytes(map, next, kChunkName);
    EXPECT_EQ(chunkOf(map), next);
    EXPECT_EQ(archive::readMember(map, kNotesName), protections::sampleNotes());
    expectOnlyHeaderChanged(before, fixtures::readAll(map), headerPos);

    const Bytes last = protections::sampleChunk(6, 9000);
    addBytes(map, last, kChunkName);
    EXPECT_EQ(chunkOf(map), last);
    EXPECT_EQ(archive::readMember(map, kNotesName), protections::sampleNotes());
}

INSTANTIATE_TEST_SUITE_P(Protections, ProtectedMap, ::testing::ValuesIn(protections::all()),
                         [](const auto& info) { return info.param.name; });

const protections::Protection& protection(const std::string& name) {
    for (const auto& p : protections::all())
        if (p.name == name)
            return p;
    throw std::runtime_error("no protection " + name);
}

// ---------------------------------------------------------------- single cases

class Archive : public ::testing::Test {
protected:
    fs::path cleanMap(MapOptions o = {}) {
        fixtures::makeMap(map, chunk, o, {{kNotesName, protections::sampleNotes()}});
        return map;
    }
    void store(RawMap& m) { fixtures::writeAll(map, m.serialize()); }
    void expectNoMember(const std::string& error) {
        EXPECT_NE(error.find(map.string()), std::string::npos) << error;
        EXPECT_NE(error.find("no member staredit\\scenario.chk"), std::string::npos) << error;
    }

    fixtures::ScratchDir dir;
    fs::path map = dir / "map.scm";
    Bytes chunk = protections::sampleChunk();
};

TEST_F(Archive, NotAMapOrMissingMemberNamesTheFileAndLeavesNothing) {
    const fs::path out = dir / "out";
    fs::create_directory(out);

    fixtures::writeAll(map, fixtures::pattern(5000, 3, false));
    std::string e = errorOf([&] { archive::extract(map, kChunkName, out); });
    EXPECT_NE(e.find(map.string()), std::string::npos) << e;
    EXPECT_NE(e.find("not a map archive"), std::string::npos) << e;

    cleanMap();
    e = errorOf([&] { archive::extract(map, "staredit\\absent.chk", out); });
    EXPECT_NE(e.find(map.string()), std::string::npos) << e;
    EXPECT_NE(e.find("no member staredit\\absent.chk"), std::string::npos) << e;

    e = errorOf([&] { archive::extract(dir / "nowhere.scm", kChunkName, out); });
    EXPECT_NE(e.find("nowhere.scm: file not found"), std::string::npos) << e;
    EXPECT_TRUE(fs::is_empty(out));
    EXPECT_FALSE(fs::exists(dir / "nowhere.scm"));
}

TEST_F(Archive, EmptyStartSlotMeansNotFoundButADeletedOneIsPassed) {
    cleanMap();
    RawMap m = RawMap::load(map);
    const uint32_t s = protections::startSlot(kChunkName, 16);
    std::vector<fixtures::HashEntry> t(16);
    t[(s + 1) % 16] = protections::entryFor(kChunkName, protections::blockIndex(m, kChunkName));
    m.hashes = t;
    m.hashCount = 16;
    store(m);
    expectNoMember(errorOf([&] { chunkOf(map); }));

    m.hashes[s].block = mpq::kDeleted;
    store(m);
    EXPECT_EQ(chunkOf(map), chunk);
}

TEST_F(Archive, BlockWithoutExistsFlagOrWithDeletedFlagIsNotFound) {
    cleanMap();
    for (const uint32_t flip : {mpq::kExists, mpq::kDeletedFlag}) {
        RawMap m = RawMap::load(map);
        m.blockOf(kChunkName).flags ^= flip;
        fixtures::writeAll(dir / "patched.scm", m.serialize());
        const std::string e = errorOf([&] { archive::readMember(dir / "patched.scm", kChunkName); });
        EXPECT_NE(e.find("patched.scm"), std::string::npos) << e;
        EXPECT_NE(e.find("no member"), std::string::npos) << e;
    }
}

TEST_F(Archive, DamagedSectorTableIsAClearError) {
    for (const bool encrypted : {false, true}) {
        MapOptions o;
        o.encrypted = encrypted;
        cleanMap(o);
        RawMap clean = RawMap::load(map);
        const BlockEntry b = clean.blockOf(kChunkName);

        RawMap m = clean;
        sectorTable(m, b, kChunkName, [](auto& t) { t[2] = t[1] - 1; });
        store(m);
        std::string e = errorOf([&] { chunkOf(map); });
        EXPECT_NE(e.find(map.string()), std::string::npos) << e;
        EXPECT_NE(e.find("goes backwards"), std::string::npos) << e;

        m = clean;
        sectorTable(m, b, kChunkName, [&](auto& t) { t.back() = b.storedSize + 1; });
        store(m);
        e = errorOf([&] { chunkOf(map); });
        EXPECT_NE(e.find("past the member's stored size"), std::string::npos) << e;
    }
}

TEST_F(Archive, CompressionOtherThanZlibOrPkwareIsAClearError) {
    cleanMap();
    RawMap m = RawMap::load(map);
    const BlockEntry b = m.blockOf(kChunkName);
    ASSERT_EQ(firstMask(m, b, kChunkName), 0x02);
    m.bytes[m.dataPos(b) + sectorTable(m, b, kChunkName)[0]] = 0x10; // bzip2
    store(m);
    const std::string e = errorOf([&] { chunkOf(map); });
    EXPECT_NE(e.find(map.string()), std::string::npos) << e;
    EXPECT_NE(e.find("unsupported compression (mask 0x10)"), std::string::npos) << e;
}

// A member of many sector windows is decoded on several threads; a fault is still
// reported for the first bad sector in the file, and the file sink leaves nothing.
TEST_F(Archive, LargeMemberReadsWholeAndNamesItsFirstBadSector) {
    chunk = protections::sampleChunk(9, 400 * 1024);
    cleanMap();
    EXPECT_EQ(chunkOf(map), chunk);

    RawMap m = RawMap::load(map);
    const BlockEntry b = m.blockOf(kChunkName);
    const auto table = sectorTable(m, b, kChunkName);
    ASSERT_GT(table.size(), 61u);
    for (const size_t sector : {size_t{60}, size_t{17}}) {
        uint8_t& mask = m.bytes[m.dataPos(b) + table[sector]];
        ASSERT_EQ(mask, 0x02) << "sector " << sector << " is not zlib-compressed";
        mask = 0x10;
    }
    store(m);
    const fs::path out = dir / "out";
    fs::create_directory(out);
    const std::string e = errorOf([&] { archive::extract(map, kChunkName, out); });
    EXPECT_NE(e.find("sector 17 of"), std::string::npos) << e;
    EXPECT_TRUE(fs::is_empty(out)) << "a partly extracted file was left behind";
}

TEST_F(Archive, SectorShiftThatOverflowsIsAClearError) {
    cleanMap();
    RawMap m = RawMap::load(map);
    m.sectorShift = 23; // 512 << 23 is 0 in 32 bits
    store(m);
    std::string e = errorOf([&] { chunkOf(map); });
    EXPECT_NE(e.find(map.string()), std::string::npos) << e;
    EXPECT_NE(e.find("overflows"), std::string::npos) << e;

    const Bytes before = fixtures::readAll(map);
    e = errorOf([&] { addBytes(map, chunk, kChunkName); });
    EXPECT_NE(e.find("overflows"), std::string::npos) << e;
    EXPECT_EQ(fixtures::readAll(map), before);
}

TEST_F(Archive, DataCutOffByTheEndYieldsWhatIsThere) {
    for (const Codec codec : {Codec::None, Codec::Zlib}) {
        MapOptions o;
        o.codec = codec;
        o.headerOffset = 1024;
        cleanMap(o);
        RawMap m = RawMap::load(map);
        m.hashOffset = -1024; // tables in the junk, so the cut only takes member data
        m.blockOffset = -1024 + int32_t(m.hashes.size() * 16);
        const BlockEntry b = m.blockOf(kChunkName);
        Bytes cut = m.serialize();
        cut.resize(m.dataPos(b) + 6000);
        fixtures::writeAll(map, cut);

        const Bytes got = chunkOf(map);
        ASSERT_LE(got.size(), chunk.size());
        EXPECT_TRUE(std::equal(got.begin(), got.end(), chunk.begin())) << "not a prefix of the chunk file";
        if (codec == Codec::None)
            EXPECT_EQ(got.size(), 6000u);
        else
            EXPECT_GE(got.size(), 4096u) << "the whole sectors before the cut are read";
    }
}

TEST_F(Archive, AddAbsentNameUsesAFreeSlot) {
    cleanMap();
    const RawMap before = RawMap::load(map);
    const Bytes data = fixtures::pattern(7000, 11);
    addBytes(map, data, "extra\\added.txt");

    EXPECT_EQ(archive::readMember(map, "extra\\added.txt"), data);
    EXPECT_EQ(chunkOf(map), chunk);
    EXPECT_EQ(archive::readMember(map, kNotesName), protections::sampleNotes());
    const RawMap after = RawMap::load(map);
    const int slot = after.findHash("extra\\added.txt");
    ASSERT_GE(slot, 0);
    EXPECT_GE(before.hashes[size_t(slot)].block, mpq::kDeleted) << "an entry was overwritten";
    EXPECT_EQ(stormRead(map, "extra\\added.txt"), data);
    EXPECT_EQ(stormRead(map, kChunkName), chunk);
}

TEST_F(Archive, AddToACutOffHashTableAppendsAFullCopy) {
    protections::make(protection("HashTableCutOffByTheEnd"), map, chunk);
    const RawMap before = RawMap::load(map);
    ASSERT_EQ(before.hashes.size(), 4u);
    const std::string absent = "staredit\\wav\\absent.wav";
    EXPECT_FALSE(errorOf([&] { archive::readMember(map, absent); }).empty());

    const Bytes next = protections::sampleChunk(8);
    addBytes(map, next, kChunkName);
    const RawMap after = RawMap::load(map);
    EXPECT_NE(after.hashOffset, before.hashOffset);
    ASSERT_EQ(after.hashes.size(), 16u);
    for (size_t i = 0; i < 16; ++i) {
        if (i < 4) {
            EXPECT_EQ(after.hashes[i].nameA, before.hashes[i].nameA) << i;
        } else {
            EXPECT_EQ(after.hashes[i].block, mpq::kDeleted) << i;
        }
    }
    EXPECT_EQ(chunkOf(map), next);
    EXPECT_EQ(archive::readMember(map, kNotesName), protections::sampleNotes());
    EXPECT_FALSE(errorOf([&] { archive::readMember(map, absent); }).empty());
}

TEST_F(Archive, AddReplacesTheLastMatchNotTheDecoy) {
    protections::make(protection("LastMatchWins"), map, chunk);
    addBytes(map, Bytes(5000, 7), kChunkName);
    EXPECT_EQ(chunkOf(map), Bytes(5000, 7));
    // The decoy entry still points at the notes, which are untouched.
    EXPECT_EQ(archive::readMember(map, kNotesName), protections::sampleNotes());
}

// Sectors the new data repeats are taken over as stored, not recoded: here the
// first sector is stored raw (as a compressor that gave up leaves it), and a
// change in the last one must leave it so. The changed sector itself is recoded.
TEST_F(Archive, AddKeepsUnchangedSectorsAsStored) {
    cleanMap({Codec::Implode});
    RawMap m = RawMap::load(map);
    BlockEntry& b = m.blockOf(kChunkName);
    const uint32_t ss = m.sectorSize();
    const size_t sectors = (chunk.size() + ss - 1) / ss;
    std::vector<uint32_t> t = sectorTable(m, b, kChunkName);
    Bytes member((sectors + 1) * 4);
    std::vector<uint32_t> moved{uint32_t(member.size())};
    member.insert(member.end(), chunk.begin(), chunk.begin() + ss);
    for (size_t i = 1; i < sectors; ++i) {
        moved.push_back(uint32_t(member.size()));
        member.insert(member.end(), m.bytes.begin() + m.dataPos(b) + t[i], m.bytes.begin() + m.dataPos(b) + t[i + 1]);
    }
    moved.push_back(uint32_t(member.size()));
    std::memcpy(member.data(), moved.data(), moved.size() * 4);
    b.offset = int32_t(m.bytes.size() - m.headerPos);
    b.storedSize = uint32_t(member.size());
    m.bytes.insert(m.bytes.end(), member.begin(), member.end());
    store(m);
    ASSERT_EQ(chunkOf(map), chunk);

    Bytes changed = chunk;
    changed.back() ^= 0x5A;
    addBytes(map, changed, kChunkName);
    EXPECT_EQ(chunkOf(map), changed);
    RawMap after = RawMap::load(map);
    const auto t1 = sectorTable(after, after.blockOf(kChunkName), kChunkName);
    EXPECT_EQ(t1[1] - t1[0], ss) << "the raw first sector was recoded";
    EXPECT_LT(t1[sectors] - t1[sectors - 1], ss);
}

// A PKWARE-compressed sector is its imploded stream behind a mask byte: imploding
// the member anew keeps that stream and drops the mask.
TEST_F(Archive, AddToAPkwareMemberKeepsTheImplodedStreams) {
    cleanMap({Codec::Pkware});
    RawMap m = RawMap::load(map);
    const BlockEntry b = m.blockOf(kChunkName);
    const auto t = sectorTable(m, b, kChunkName);
    Bytes changed = chunk;
    changed.back() ^= 0x5A;
    addBytes(map, changed, kChunkName);
    EXPECT_EQ(chunkOf(map), changed);
    RawMap after = RawMap::load(map);
    const BlockEntry& nb = after.blockOf(kChunkName);
    EXPECT_TRUE(nb.flags & mpq::kImploded);
    const auto t1 = sectorTable(after, nb, kChunkName);
    ASSERT_LT(t[1] - t[0], m.sectorSize());
    EXPECT_EQ(m.bytes[m.dataPos(b) + t[0]], 0x08);
    EXPECT_TRUE(std::equal(m.bytes.begin() + m.dataPos(b) + t[0] + 1, m.bytes.begin() + m.dataPos(b) + t[1],
                           after.bytes.begin() + after.dataPos(nb) + t1[0], after.bytes.begin() + after.dataPos(nb) + t1[1]));
}

// An entry of the new name hidden behind its empty start slot enters the scan once
// the slot is filled; it must not win over the member just added.
TEST_F(Archive, AddedNameWinsOverAnEntryHiddenBehindItsStartSlot) {
    cleanMap();
    RawMap m = RawMap::load(map);
    const std::string name = "new\\member.bin";
    const size_t n = m.hashes.size(), start = mpq::hashString(name, 0) & (n - 1);
    ASSERT_EQ(m.hashes[start].block, mpq::kEmpty);
    size_t hidden = (start + n - 1) % n; // scanned last
    while (m.hashes[hidden].block != mpq::kEmpty)
        hidden = (hidden + n - 1) % n;
    m.hashes[hidden] = {mpq::hashString(name, 1), mpq::hashString(name, 2), 0, 0,
                        m.hashes[size_t(m.findHash(kNotesName))].block};
    store(m);
    EXPECT_FALSE(errorOf([&] { archive::readMember(map, name); }).empty());

    addBytes(map, {1, 2, 3}, name);
    EXPECT_EQ(archive::readMember(map, name), (Bytes{1, 2, 3}));
    EXPECT_EQ(archive::readMember(map, kNotesName), protections::sampleNotes());
}

TEST_F(Archive, FailedAddLeavesTheMapAsItWas) {
    cleanMap();
    const Bytes before = fixtures::readAll(map);
    std::string e = errorOf([&] { archive::add(map, dir / "no-source.chk", kChunkName); });
    EXPECT_NE(e.find("no-source.chk"), std::string::npos) << e;
    EXPECT_EQ(fixtures::readAll(map), before);

    const fs::path junk = dir / "junk.scm";
    fixtures::writeAll(junk, Bytes(3000, 0x4D));
    e = errorOf([&] { addBytes(junk, chunk, kChunkName); });
    EXPECT_NE(e.find("not a map archive"), std::string::npos) << e;
    EXPECT_EQ(fixtures::readAll(junk), Bytes(3000, 0x4D));
}

} // namespace

#include "fixtures.h"

#include "crypt.h"

#include <StormLib.h>

#include <array>
#include <atomic>
#include <cstring>
#include <fstream>
#include <random>
#include <stdexcept>
#include <unistd.h>

namespace fs = std::filesystem;

namespace fixtures {
namespace {

uint32_t le32(const Bytes& b, size_t at) {
    return uint32_t(b[at]) | uint32_t(b[at + 1]) << 8 | uint32_t(b[at + 2]) << 16 | uint32_t(b[at + 3]) << 24;
}
uint16_t le16(const Bytes& b, size_t at) { return uint16_t(b[at] | b[at + 1] << 8); }
void put32(Bytes& b, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        b[at + i] = uint8_t(v >> (8 * i));
}
void put16(Bytes& b, size_t at, uint16_t v) {
    b[at] = uint8_t(v);
    b[at + 1] = uint8_t(v >> 8);
}

[[noreturn]] void fail(const std::string& what) { throw std::runtime_error("fixtures: " + what); }

DWORD stormFlags(const MapOptions& o) {
    DWORD f = MPQ_FILE_REPLACEEXISTING;
    switch (o.codec) {
    case Codec::None: break;
    case Codec::Implode: f |= MPQ_FILE_IMPLODE; break;
    case Codec::Zlib:
    case Codec::Pkware: f |= MPQ_FILE_COMPRESS; break;
    }
    if (o.encrypted)
        f |= MPQ_FILE_ENCRYPTED;
    if (o.adjustedKey)
        f |= MPQ_FILE_FIX_KEY;
    return f;
}

DWORD stormCompression(Codec c) {
    return c == Codec::Zlib ? MPQ_COMPRESSION_ZLIB : c == Codec::Pkware ? MPQ_COMPRESSION_PKWARE : 0;
}

} // namespace

Bytes makeChunk(const std::vector<std::pair<std::string, Bytes>>& sections) {
    Bytes out;
    for (const auto& [name, data] : sections) {
        std::string n = name;
        n.resize(4, ' ');
        out.insert(out.end(), n.begin(), n.end());
        const auto len = static_cast<uint32_t>(data.size());
        for (int i = 0; i < 4; ++i)
            out.push_back(uint8_t(len >> (8 * i)));
        out.insert(out.end(), data.begin(), data.end());
    }
    return out;
}

Bytes pattern(size_t size, uint32_t seed, bool compressible) {
    Bytes out(size);
    std::mt19937 rng(seed);
    if (!compressible) {
        for (auto& b : out)
            b = uint8_t(rng());
        return out;
    }
    // Runs of a few tile-like words, as in real terrain sections.
    size_t i = 0;
    while (i < size) {
        const uint8_t v = uint8_t(rng() % 16), w = uint8_t(rng() % 4);
        const size_t run = 8 + rng() % 56;
        for (size_t k = 0; k < run && i < size; ++k, ++i)
            out[i] = (k & 1) ? w : v;
    }
    return out;
}

void makeMap(const fs::path& path, const Bytes& chunk, const MapOptions& options,
             const std::vector<Member>& extra) {
    if (options.adjustedKey && !options.encrypted)
        fail("adjustedKey needs encrypted");
    if (options.headerOffset % 512 != 0)
        fail("headerOffset must be a multiple of 512");
    const fs::path made = options.headerOffset ? fs::path(path.string() + ".plain") : path;
    fs::remove(made);

    SFILE_CREATE_MPQ create{};
    create.cbSize = sizeof create;
    create.dwMpqVersion = MPQ_FORMAT_VERSION_1;
    create.dwStreamFlags = STREAM_PROVIDER_FLAT | BASE_PROVIDER_FILE;
    create.dwSectorSize = 512u << options.sectorShift;
    create.dwMaxFileCount = options.hashTableSize;
    HANDLE mpq = nullptr;
    if (!SFileCreateArchive2(made.c_str(), &create, &mpq))
        fail("cannot create " + made.string() + " (error " + std::to_string(GetLastError()) + ")");

    auto addMember = [&](const std::string& name, const Bytes& data) {
        HANDLE file = nullptr;
        const DWORD compression = stormCompression(options.codec);
        if (!SFileCreateFile(mpq, name.c_str(), 0, static_cast<DWORD>(data.size()), 0, stormFlags(options), &file))
            fail("cannot add " + name + " (error " + std::to_string(GetLastError()) + ")");
        if (!data.empty() && !SFileWriteFile(file, data.data(), static_cast<DWORD>(data.size()), compression))
            fail("cannot write " + name + " (error " + std::to_string(GetLastError()) + ")");
        if (!SFileFinishFile(file))
            fail("cannot finish " + name + " (error " + std::to_string(GetLastError()) + ")");
    };
    addMember(kChunkName, chunk);
    for (const auto& [name, data] : extra)
        addMember(name, data);
    if (!SFileCloseArchive(mpq))
        fail("cannot close " + made.string());

    if (options.headerOffset) {
        Bytes bytes = pattern(options.headerOffset, 99, false);
        const Bytes body = readAll(made);
        bytes.insert(bytes.end(), body.begin(), body.end());
        fs::remove(made);
        writeAll(path, bytes);
    }
}

Bytes readAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        fail("cannot read " + path.string());
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

void writeAll(const fs::path& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!out)
        fail("cannot write " + path.string());
}

ScratchDir::ScratchDir() {
    static std::atomic<unsigned> counter{0};
    const fs::path base = fs::temp_directory_path();
    for (;;) {
        path_ = base / ("graftwell-test-" + std::to_string(getpid()) + "-" + std::to_string(counter++));
        if (fs::create_directory(path_))
            break;
    }
}

ScratchDir::~ScratchDir() {
    std::error_code ec;
    // Tests may leave read-only entries behind; make them removable first.
    for (auto it = fs::recursive_directory_iterator(path_, ec); !ec && it != fs::recursive_directory_iterator();
         it.increment(ec))
        fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
    fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(path_, ec);
}

namespace mpq {
// The archive's own hashing and cipher: StormLib-made fixtures already check them.
uint32_t hashString(std::string_view name, uint32_t type) {
    return archive::crypt::hashString(name, static_cast<archive::crypt::HashType>(type));
}
void encrypt(uint8_t* data, size_t size, uint32_t key) { archive::crypt::encrypt(data, size, key); }
void decrypt(uint8_t* data, size_t size, uint32_t key) { archive::crypt::decrypt(data, size, key); }
uint32_t fileKey(std::string_view name) { return archive::crypt::plainKey(name); }
} // namespace mpq

namespace {

Bytes encodeHashes(const std::vector<HashEntry>& entries) {
    Bytes out(entries.size() * 16);
    for (size_t i = 0; i < entries.size(); ++i) {
        put32(out, i * 16, entries[i].nameA);
        put32(out, i * 16 + 4, entries[i].nameB);
        put16(out, i * 16 + 8, entries[i].locale);
        put16(out, i * 16 + 10, entries[i].platform);
        put32(out, i * 16 + 12, entries[i].block);
    }
    return out;
}

Bytes encodeBlocks(const std::vector<BlockEntry>& entries) {
    Bytes out(entries.size() * 16);
    for (size_t i = 0; i < entries.size(); ++i) {
        put32(out, i * 16, static_cast<uint32_t>(entries[i].offset));
        put32(out, i * 16 + 4, entries[i].storedSize);
        put32(out, i * 16 + 8, entries[i].fileSize);
        put32(out, i * 16 + 12, entries[i].flags);
    }
    return out;
}

// The entries of a table that lie within the file, decrypted.
Bytes tableBytes(const Bytes& file, int64_t pos, uint32_t count, uint32_t key) {
    if (pos < 0 || pos >= int64_t(file.size()))
        return {};
    const uint64_t want = uint64_t(count) * 16;
    const uint64_t have = std::min<uint64_t>(want, file.size() - uint64_t(pos)) / 16 * 16;
    Bytes out(file.begin() + pos, file.begin() + pos + int64_t(have));
    // Decryption is a stream from the table start, so a cut-off table decrypts its prefix exactly.
    mpq::decrypt(out.data(), out.size(), key);
    return out;
}

} // namespace

Bytes encryptedTable(const std::vector<HashEntry>& entries) {
    Bytes b = encodeHashes(entries);
    mpq::encrypt(b.data(), b.size(), mpq::kHashTableKey);
    return b;
}

Bytes encryptedTable(const std::vector<BlockEntry>& entries) {
    Bytes b = encodeBlocks(entries);
    mpq::encrypt(b.data(), b.size(), mpq::kBlockTableKey);
    return b;
}

RawMap RawMap::load(const fs::path& path) { return parse(readAll(path)); }

RawMap RawMap::parse(Bytes bytes) {
    RawMap m;
    m.bytes = std::move(bytes);
    const Bytes& b = m.bytes;
    bool found = false;
    for (size_t at = 0; at + 32 <= b.size(); at += 512)
        if (std::memcmp(&b[at], "MPQ\x1A", 4) == 0 && le32(b, at + 4) >= 32) {
            m.headerPos = static_cast<uint32_t>(at);
            found = true;
            break;
        }
    if (!found)
        fail("no archive header");
    const size_t h = m.headerPos;
    m.headerSize = le32(b, h + 4);
    m.archiveSize = le32(b, h + 8);
    m.version = le16(b, h + 12);
    m.sectorShift = le16(b, h + 14);
    m.hashOffset = static_cast<int32_t>(le32(b, h + 16));
    m.blockOffset = static_cast<int32_t>(le32(b, h + 20));
    m.hashCount = le32(b, h + 24);
    m.blockCount = le32(b, h + 28);

    const Bytes ht = tableBytes(b, int64_t(h) + m.hashOffset, m.hashCount & 0x0FFFFFFF, mpq::kHashTableKey);
    for (size_t i = 0; i + 16 <= ht.size(); i += 16)
        m.hashes.push_back({le32(ht, i), le32(ht, i + 4), le16(ht, i + 8), le16(ht, i + 10), le32(ht, i + 12)});
    const Bytes bt = tableBytes(b, int64_t(h) + m.blockOffset, m.blockCount, mpq::kBlockTableKey);
    for (size_t i = 0; i + 16 <= bt.size(); i += 16)
        m.blocks.push_back({static_cast<int32_t>(le32(bt, i)), le32(bt, i + 4), le32(bt, i + 8), le32(bt, i + 12)});
    return m;
}

Bytes RawMap::serialize() {
    auto place = [&](int32_t offset, const Bytes& table) {
        const int64_t at = int64_t(headerPos) + offset;
        if (at < 0)
            fail("table before the file start");
        if (bytes.size() < uint64_t(at) + table.size())
            bytes.resize(uint64_t(at) + table.size());
        std::copy(table.begin(), table.end(), bytes.begin() + at);
    };
    place(hashOffset, encryptedTable(hashes));
    place(blockOffset, encryptedTable(blocks));
    if (bytes.size() < headerPos + 32u)
        bytes.resize(headerPos + 32u);
    const size_t h = headerPos;
    std::memcpy(&bytes[h], "MPQ\x1A", 4);
    put32(bytes, h + 4, headerSize);
    put32(bytes, h + 8, archiveSize);
    put16(bytes, h + 12, version);
    put16(bytes, h + 14, sectorShift);
    put32(bytes, h + 16, static_cast<uint32_t>(hashOffset));
    put32(bytes, h + 20, static_cast<uint32_t>(blockOffset));
    put32(bytes, h + 24, hashCount);
    put32(bytes, h + 28, blockCount);
    return bytes;
}

void RawMap::store(const fs::path& path) { writeAll(path, serialize()); }

int RawMap::findHash(std::string_view name) const {
    const uint32_t a = mpq::hashString(name, 1), b = mpq::hashString(name, 2);
    for (size_t i = 0; i < hashes.size(); ++i)
        if (hashes[i].nameA == a && hashes[i].nameB == b && hashes[i].block < mpq::kDeleted)
            return static_cast<int>(i);
    return -1;
}

BlockEntry& RawMap::blockOf(std::string_view name) {
    const int i = findHash(name);
    if (i < 0 || hashes[size_t(i)].block >= blocks.size())
        fail("no block for " + std::string(name));
    return blocks[hashes[size_t(i)].block];
}

} // namespace fixtures

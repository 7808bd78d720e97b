#include "fixtures.h"

#include "crypt.h"

#include <StormLib.h>
#include <cstring>
#include <fstream>
#include <random>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace fixtures {
namespace {

[[noreturn]] void fail(const std::string& what) { throw std::runtime_error("fixtures: " + what); }

static_assert(sizeof(HashEntry) == 16 && sizeof(BlockEntry) == 16 && sizeof(MpqHeader) == 28);
constexpr uint32_t kHashTableKey = 0xC3AF3770, kBlockTableKey = 0xEC83B3A3;

// The entries of a table that lie within the file, decrypted: the cipher is a stream
// from the table's start, so a cut-off table decrypts its prefix exactly.
template <class Entry>
std::vector<Entry> readTable(const Bytes& file, int64_t pos, uint64_t count, uint32_t key) {
    const bool inside = pos >= 0 && pos < int64_t(file.size());
    std::vector<Entry> out(inside ? std::min<uint64_t>(count, (file.size() - pos) / 16) : 0);
    if (!out.empty()) {
        std::memcpy(out.data(), file.data() + pos, out.size() * 16);
        archive::crypt::decrypt(reinterpret_cast<uint8_t*>(out.data()), out.size() * 16, key);
    }
    return out;
}

} // namespace

Bytes makeChunk(const std::vector<Member>& sections) {
    Bytes out;
    for (auto [name, data] : sections) {
        const auto len = static_cast<uint32_t>(data.size());
        name.resize(4, ' ');
        out.insert(out.end(), name.begin(), name.end());
        out.insert(out.end(), {uint8_t(len), uint8_t(len >> 8), uint8_t(len >> 16), uint8_t(len >> 24)});
        out.insert(out.end(), data.begin(), data.end());
    }
    return out;
}

Bytes pattern(size_t size, uint32_t seed, bool compressible) {
    Bytes out(size);
    std::mt19937 rng(seed);
    for (size_t i = 0; i < size && !compressible; ++i) out[i] = uint8_t(rng());
    for (size_t i = 0; i < size && compressible;) { // runs of a few tile-like words
        const uint8_t v = uint8_t(rng() % 16), w = uint8_t(rng() % 4);
        for (size_t k = 0, run = 8 + rng() % 56; k < run && i < size; ++k, ++i) out[i] = (k & 1) ? w : v;
    }
    return out;
}

Bytes stormImplode(std::span<const uint8_t> data) {
    Bytes out(data.size() * 2 + 64);
    int n = int(out.size());
    if (!SCompImplode(out.data(), &n, const_cast<uint8_t*>(data.data()), int(data.size())))
        return {};
    out.resize(size_t(n));
    return out;
}

Bytes stormExplode(std::span<const uint8_t> stream, size_t room) {
    Bytes out(room);
    int n = int(room);
    if (!SCompExplode(out.data(), &n, const_cast<uint8_t*>(stream.data()), int(stream.size())))
        return {};
    out.resize(size_t(n));
    return out;
}

void makeMap(const fs::path& path, const Bytes& chunk, const MapOptions& o, const std::vector<Member>& extra) {
    // Version 1, a flat file, no (listfile) or (attributes), the sector size, the hash table size.
    SFILE_CREATE_MPQ create{sizeof(SFILE_CREATE_MPQ), MPQ_FORMAT_VERSION_1, nullptr, 0,
                            STREAM_PROVIDER_FLAT | BASE_PROVIDER_FILE, 0, 0, 0, 0, 512u << o.sectorShift, 0,
                            o.hashTableSize};
    const DWORD flags = MPQ_FILE_REPLACEEXISTING | (o.encrypted ? MPQ_FILE_ENCRYPTED : 0) |
                        (o.adjustedKey ? MPQ_FILE_FIX_KEY : 0) |
                        (o.codec == Codec::Implode ? MPQ_FILE_IMPLODE : o.codec == Codec::None ? 0 : MPQ_FILE_COMPRESS);
    const DWORD codec =
        o.codec == Codec::Zlib ? MPQ_COMPRESSION_ZLIB : o.codec == Codec::Pkware ? MPQ_COMPRESSION_PKWARE : 0;
    const auto check = [&](bool ok, const std::string& what) {
        if (!ok) fail("cannot " + what + " in " + path.string() + " (error " + std::to_string(GetLastError()) + ")");
    };
    HANDLE mpq = nullptr, file = nullptr;
    fs::remove(path);
    check((!o.adjustedKey || o.encrypted) && o.headerOffset % 512 == 0, "use these options");
    check(SFileCreateArchive2(path.c_str(), &create, &mpq), "create the archive");
    std::vector<Member> members = {{kChunkName, chunk}};
    members.insert(members.end(), extra.begin(), extra.end());
    for (const auto& [name, data] : members) {
        check(SFileCreateFile(mpq, name.c_str(), 0, DWORD(data.size()), 0, flags, &file), "add " + name);
        check(data.empty() || SFileWriteFile(file, data.data(), DWORD(data.size()), codec), "write " + name);
        check(SFileFinishFile(file), "finish " + name);
    }
    check(SFileCloseArchive(mpq), "close the archive");
    if (o.headerOffset) {
        Bytes bytes = pattern(o.headerOffset, 99, false), body = readAll(path);
        bytes.insert(bytes.end(), body.begin(), body.end());
        writeAll(path, bytes);
    }
}

Bytes readAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) fail("cannot read " + path.string());
    return Bytes(std::istreambuf_iterator<char>(in), {});
}
void writeAll(const fs::path& path, const Bytes& bytes) {
    if (!std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), bytes.size()))
        fail("cannot write " + path.string());
}
Strings first(const Strings& steps, size_t n) { return {steps.begin(), steps.begin() + n}; }

ScratchDir::ScratchDir() {
    std::string name = (fs::temp_directory_path() / "graftwell-test-XXXXXX").string();
    if (!::mkdtemp(name.data())) fail("cannot make " + name);
    path_ = name;
}

ScratchDir::~ScratchDir() {
    std::error_code ec;
    // Tests may leave read-only entries behind; make them removable first.
    for (auto it = fs::recursive_directory_iterator(path_, ec); !ec && it != fs::end(it); it.increment(ec))
        fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(path_, ec);
}

Run run(const std::string& program, const Strings& args, const Env& env) {
    const ScratchDir dir;
    std::string command;
    for (const auto& [name, value] : env) command += name + "='" + value + "' ";
    command += "'" + program + "'";
    for (const auto& a : args) command += " '" + a + "'";
    const int st = std::system((command + " >" + (dir / "out").string() + " 2>" + (dir / "err").string()).c_str());
    const Bytes out = readAll(dir / "out"), err = readAll(dir / "err");
    return {WIFEXITED(st) ? WEXITSTATUS(st) : -1, {out.begin(), out.end()}, {err.begin(), err.end()}};
}

// The archive's own hash: the StormLib-made fixtures check it.
uint32_t mpq::hashString(std::string_view name, uint32_t type) {
    return archive::crypt::hashString(name, static_cast<archive::crypt::HashType>(type));
}

RawMap RawMap::parse(Bytes bytes) {
    RawMap m;
    m.bytes = std::move(bytes);
    // The first signature on a 512-byte boundary that declares a whole header.
    for (;; m.headerPos += 512) {
        if (m.headerPos + 32u > m.bytes.size()) fail("no archive header");
        std::memcpy(static_cast<MpqHeader*>(&m), &m.bytes[m.headerPos + 4], sizeof(MpqHeader));
        if (std::memcmp(&m.bytes[m.headerPos], "MPQ\x1A", 4) == 0 && m.headerSize >= 32) break;
    }
    const int64_t at = m.headerPos;
    m.hashes = readTable<HashEntry>(m.bytes, at + m.hashOffset, m.hashCount & 0x0FFFFFFF, kHashTableKey);
    m.blocks = readTable<BlockEntry>(m.bytes, at + m.blockOffset, m.blockCount, kBlockTableKey);
    return m;
}

Bytes RawMap::serialize() {
    const auto place = [&](int64_t at, const void* data, size_t size, uint32_t key) {
        if (at < 0) fail("table before the file start");
        bytes.resize(std::max<size_t>(bytes.size(), at + size));
        std::memcpy(&bytes[at], data, size);
        if (key) archive::crypt::encrypt(&bytes[at], size, key);
    };
    place(int64_t(headerPos) + hashOffset, hashes.data(), hashes.size() * 16, kHashTableKey);
    place(int64_t(headerPos) + blockOffset, blocks.data(), blocks.size() * 16, kBlockTableKey);
    place(headerPos, "MPQ\x1A", 4, 0);
    place(headerPos + 4, static_cast<const MpqHeader*>(this), sizeof(MpqHeader), 0);
    return bytes;
}

int RawMap::findHash(std::string_view name) const {
    const HashEntry e{mpq::hashString(name, 1), mpq::hashString(name, 2)};
    for (size_t i = 0; i < hashes.size(); ++i)
        if (hashes[i].nameA == e.nameA && hashes[i].nameB == e.nameB && hashes[i].block < mpq::kDeleted)
            return int(i);
    return -1;
}

BlockEntry& RawMap::blockOf(std::string_view name) {
    const int i = findHash(name);
    if (i < 0 || hashes[i].block >= blocks.size()) fail("no block for " + std::string(name));
    return blocks[hashes[i].block];
}

} // namespace fixtures

#include "fixtures.h"

#include "crypt.h"
#include "platform.h"

#include <chrono>
#include <cstring>
#include <fstream>
#include <random>
#include <thread>

namespace fs = std::filesystem;

namespace fixtures {
void fail(const std::string& what) { throw std::runtime_error("fixtures: " + what); }

static_assert(sizeof(HashEntry) == 16 && sizeof(BlockEntry) == 16 && sizeof(MpqHeader) == 28);
constexpr uint32_t kHashTableKey = 0xC3AF3770, kBlockTableKey = 0xEC83B3A3;

// The entries of a table that lie within the file, decrypted: the cipher is a stream
// from the table's start, so a cut-off table decrypts its prefix exactly.
template <class Entry>
static std::vector<Entry> readTable(const Bytes& file, int64_t pos, uint64_t count, uint32_t key) {
    const bool inside = pos >= 0 && pos < int64_t(file.size());
    std::vector<Entry> out(inside ? std::min<uint64_t>(count, (file.size() - pos) / 16) : 0);
    if (!out.empty()) {
        std::memcpy(out.data(), file.data() + pos, out.size() * 16);
        archive::crypt::decrypt(reinterpret_cast<uint8_t*>(out.data()), out.size() * 16, key);
    }
    return out;
}

Bytes makeChunk(const std::vector<Member>& sections) {
    Bytes out;
    for (auto [name, data] : sections) {
        name.resize(4, ' ');
        out.insert(out.end(), name.begin(), name.end());
        out.resize(out.size() + 4), put(out, out.size() - 4, uint32_t(data.size()), 4);
        out.insert(out.end(), data.begin(), data.end());
    }
    return out;
}

void put(Bytes& b, size_t at, uint32_t v, unsigned w) {
    for (unsigned i = 0; i < w; ++i)
        b[at + i] = uint8_t(v >> (8 * i));
}

Bytes table(const std::vector<std::optional<std::string>>& texts, unsigned w, const Bytes& tail) {
    Bytes t(w + w * texts.size());
    put(t, 0, uint32_t(texts.size()), w);
    for (size_t k = 0; k < texts.size(); ++k) {
        put(t, w + w * k, texts[k] ? uint32_t(t.size()) : (w == 2 ? 0xFFFF : 0xFFFFFF), w);
        if (texts[k])
            t.insert(t.end(), texts[k]->begin(), texts[k]->end()), t.push_back(0);
    }
    t.insert(t.end(), tail.begin(), tail.end());
    return t;
}

Bytes trigger(const std::vector<Act>& acts, const std::vector<Cond>& conds) {
    Bytes t(2400);
    for (size_t i = 0; i < conds.size(); ++i)
        put(t, 20 * i, conds[i].location, 4), t[20 * i + 15] = conds[i].type, t[20 * i + 16] = conds[i].sw;
    for (size_t i = 0; i < acts.size(); ++i) {
        const size_t a = 320 + 32 * i;
        put(t, a, acts[i].location, 4), put(t, a + 4, acts[i].text, 4), put(t, a + 8, acts[i].sound, 4);
        put(t, a + 20, acts[i].number, 4), t[a + 26] = acts[i].type;
    }
    return t;
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

Bytes readAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) fail("cannot read " + platform::toUtf8(path));
    return Bytes(std::istreambuf_iterator<char>(in), {});
}
void writeAll(const fs::path& path, const Bytes& bytes) {
    if (!std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), bytes.size()))
        fail("cannot write " + platform::toUtf8(path));
}

ScratchDir::ScratchDir() {
    std::random_device random;
    for (int attempt = 0; !fs::create_directory(path_ = fs::temp_directory_path() / ("graftwell-test-" + std::to_string(random())));)
        if (++attempt > 100) fail("cannot make " + platform::toUtf8(path_));
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
    // Under load, Wine now and then fails to start a process at all: that is tried again.
    for (int attempt = 1;; ++attempt) {
        try {
            const int status = platform::run(platform::fromUtf8(program), args, env, dir / "out", dir / "err");
            const Bytes out = readAll(dir / "out"), err = readAll(dir / "err");
            return {status, {out.begin(), out.end()}, {err.begin(), err.end()}};
        } catch (const platform::Error& e) {
            if (attempt == 3 || std::string(e.what()).find(": cannot start") == std::string::npos)
                throw;
            std::this_thread::sleep_for(std::chrono::milliseconds(500));
        }
    }
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

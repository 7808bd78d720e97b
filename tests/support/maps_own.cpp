// Fixture maps written with our own codecs and cipher, where StormLib is not
// available: laid out as StormLib lays them out, so the tests expect the same.
#include "codec.h"
#include "crypt.h"
#include "fixtures.h"
#include "platform.h"

namespace fs = std::filesystem;

namespace fixtures {

// A member's stored bytes: sectors, each packed when that makes it smaller, behind
// a table of their offsets; each sector and the table encrypted when `key` is set.
static Bytes storeMember(const Bytes& data, uint32_t sectorSize, Codec codec, std::optional<uint32_t> key) {
    const size_t sectors = (data.size() + sectorSize - 1) / sectorSize;
    Bytes out(codec == Codec::None ? 0 : (sectors + 1) * 4);
    for (size_t i = 0; i < sectors; ++i) {
        const auto from = data.begin() + static_cast<ptrdiff_t>(i * sectorSize);
        Bytes sector(from, from + static_cast<ptrdiff_t>(std::min<size_t>(sectorSize, data.size() - i * sectorSize)));
        std::optional<Bytes> packed = codec == Codec::None   ? std::nullopt
                                      : codec == Codec::Zlib ? archive::codec::compressZlib(sector)
                                                             : archive::codec::implode(sector);
        if (packed && codec == Codec::Pkware) packed->insert(packed->begin(), 0x08);
        if (packed && packed->size() < sector.size()) sector = std::move(*packed);
        if (key) archive::crypt::encrypt(sector.data(), sector.size(), *key + static_cast<uint32_t>(i));
        if (codec != Codec::None) put(out, i * 4, uint32_t(out.size()), 4);
        out.insert(out.end(), sector.begin(), sector.end());
    }
    if (codec != Codec::None) {
        put(out, sectors * 4, uint32_t(out.size()), 4);
        if (key) archive::crypt::encrypt(out.data(), (sectors + 1) * 4, *key - 1);
    }
    return out;
}

void makeMap(const fs::path& path, const Bytes& chunk, const MapOptions& o, const std::vector<Member>& extra) {
    if ((o.adjustedKey && !o.encrypted) || o.headerOffset % 512 != 0)
        fail("cannot use these options for " + platform::toUtf8(path));
    RawMap m;
    m.bytes = pattern(o.headerOffset, 99, false);
    m.headerPos = o.headerOffset;
    m.bytes.resize(m.headerPos + 32);
    m.sectorShift = o.sectorShift;
    m.hashes.resize(o.hashTableSize);
    std::vector<Member> members = {{kChunkName, chunk}};
    members.insert(members.end(), extra.begin(), extra.end());
    for (const auto& [name, data] : members) {
        BlockEntry b{int32_t(m.bytes.size() - m.headerPos), 0, uint32_t(data.size()),
                     mpq::kExists | (o.encrypted ? mpq::kEncrypted : 0) | (o.adjustedKey ? mpq::kFixKey : 0) |
                         (o.codec == Codec::Implode ? mpq::kImploded : o.codec == Codec::None ? 0 : mpq::kCompressed)};
        std::optional<uint32_t> key;
        if (o.encrypted)
            key = o.adjustedKey ? (archive::crypt::plainKey(name) + uint32_t(b.offset)) ^ b.fileSize
                                : archive::crypt::plainKey(name);
        const Bytes stored = storeMember(data, 512u << (o.sectorShift & 31), o.codec, key);
        m.bytes.insert(m.bytes.end(), stored.begin(), stored.end());
        b.storedSize = uint32_t(stored.size());
        uint32_t slot = mpq::hashString(name, 0), tried = 0;
        for (; m.hashes[slot & (o.hashTableSize - 1)].block != mpq::kEmpty; ++slot)
            if (++tried == o.hashTableSize) fail("the hash table is full");
        m.hashes[slot & (o.hashTableSize - 1)] = {mpq::hashString(name, 1), mpq::hashString(name, 2), 0, 0,
                                                  uint32_t(m.blocks.size())};
        m.blocks.push_back(b);
    }
    m.hashOffset = int32_t(m.bytes.size() - m.headerPos);
    m.blockOffset = m.hashOffset + int32_t(16 * m.hashes.size());
    m.hashCount = uint32_t(m.hashes.size());
    m.blockCount = uint32_t(m.blocks.size());
    m.archiveSize = uint32_t(m.blockOffset + 16 * m.blocks.size());
    m.store(path);
}

} // namespace fixtures

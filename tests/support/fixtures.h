// Fixture maps for the tests: clean archives made with StormLib's own writer,
// and the byte patches that turn them into the protections found in the wild.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace fixtures {

using Bytes = std::vector<uint8_t>;

// A chunk file from (name, data) pairs; names are taken as given (4 bytes each).
Bytes makeChunk(const std::vector<std::pair<std::string, Bytes>>& sections);

// Deterministic filler bytes; `compressible` gives repetitive data that codecs shrink.
Bytes pattern(size_t size, uint32_t seed = 1, bool compressible = true);

enum class Codec { None, Implode, Zlib, Pkware };

struct MapOptions {
    Codec codec = Codec::Zlib;
    bool encrypted = false;
    bool adjustedKey = false;      // needs encrypted
    uint32_t headerOffset = 0;     // a multiple of 512: bytes of junk before the header
    uint16_t sectorShift = 3;      // sector size 512 << shift
    uint32_t hashTableSize = 16;   // a power of two
};

using Member = std::pair<std::string, Bytes>;

inline constexpr const char* kChunkName = "staredit\\scenario.chk";

// The status lines of a whole Copy Section and a whole Save, in order.
inline const std::vector<std::string> kCopySteps = {
    "Deleting temp files...", "Copying maps...", "Extracting scenario.chk...",
    "Grabbing data from first map...", "Creating temporary chk file...",
    "Inserting data to temporary chk file...", "Checking offset and length of section...",
    "Grabbing section from second map...", "Inserting data to temporary chk file...",
    "Checking offset and length of rest of file...", "Grabbing data from first map...",
    "Inserting data to temporary chk file...", "Done!"};
inline const std::vector<std::string> kSaveSteps = {"Adding temp chk file to temp map...", "Deleting old map file...",
                                                    "Copying modified map...", "Save successful!"};

// Writes a map at `path` holding `chunk` as "staredit\scenario.chk" and any extra members.
void makeMap(const std::filesystem::path& path, const Bytes& chunk,
             const MapOptions& options = {}, const std::vector<Member>& extra = {});

Bytes readAll(const std::filesystem::path& path);
void writeAll(const std::filesystem::path& path, const Bytes& bytes);

// A fresh empty folder for one test, removed when the object goes.
class ScratchDir {
public:
    ScratchDir();
    ~ScratchDir();
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;
    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

private:
    std::filesystem::path path_;
};

// ---- MPQ constants and arithmetic for byte-patching fixtures.
namespace mpq {
inline constexpr uint32_t kHashTableKey = 0xC3AF3770;
inline constexpr uint32_t kBlockTableKey = 0xEC83B3A3;
inline constexpr uint32_t kEmpty = 0xFFFFFFFF;
inline constexpr uint32_t kDeleted = 0xFFFFFFFE;
inline constexpr uint32_t kExists = 0x80000000;
inline constexpr uint32_t kDeletedFlag = 0x02000000;
inline constexpr uint32_t kSingleUnit = 0x01000000;
inline constexpr uint32_t kFixKey = 0x00020000;
inline constexpr uint32_t kEncrypted = 0x00010000;
inline constexpr uint32_t kCompressed = 0x00000200;
inline constexpr uint32_t kImploded = 0x00000100;

uint32_t hashString(std::string_view name, uint32_t type);
// In place over the whole words of `data`.
void encrypt(uint8_t* data, size_t size, uint32_t key);
void decrypt(uint8_t* data, size_t size, uint32_t key);
uint32_t fileKey(std::string_view name); // type-3 hash of the part after the last backslash
} // namespace mpq

struct HashEntry {
    uint32_t nameA = mpq::kEmpty, nameB = mpq::kEmpty;
    uint16_t locale = 0xFFFF, platform = 0xFFFF;
    uint32_t block = mpq::kEmpty;
};
struct BlockEntry {
    int32_t offset = 0;
    uint32_t storedSize = 0, fileSize = 0, flags = 0;
};

// A map's bytes with its header and tables decoded, for byte-patching protections.
// Tables are read where the header says; store() writes them back, encrypted, at the
// offsets held in `hashOffset`/`blockOffset` (growing the file when needed) and rewrites
// the 32 header bytes at `headerPos`.
struct RawMap {
    Bytes bytes;
    uint32_t headerPos = 0;
    uint32_t headerSize = 32, archiveSize = 0;
    uint16_t version = 0, sectorShift = 3;
    int32_t hashOffset = 0, blockOffset = 0;
    uint32_t hashCount = 0, blockCount = 0; // header fields, written as given
    std::vector<HashEntry> hashes;
    std::vector<BlockEntry> blocks;

    static RawMap load(const std::filesystem::path& path);
    static RawMap parse(Bytes bytes);
    void store(const std::filesystem::path& path);
    Bytes serialize(); // writes header + tables into `bytes` and returns them

    // Index into `hashes` of the entry for `name` (first match by hash), or -1.
    int findHash(std::string_view name) const;
    BlockEntry& blockOf(std::string_view name);
    uint32_t sectorSize() const { return 512u << (sectorShift & 31); }
    uint32_t dataPos(const BlockEntry& b) const { return headerPos + static_cast<uint32_t>(b.offset); }
};

// Bytes encrypted/decoded helpers for hand-built members.
Bytes encryptedTable(const std::vector<HashEntry>& entries);
Bytes encryptedTable(const std::vector<BlockEntry>& entries);

} // namespace fixtures

// Fixture maps (made with StormLib's writer where it exists, with our own codecs and cipher elsewhere), a raw
// view of their bytes for patching, and a program runner.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace fixtures {

using Bytes = std::vector<uint8_t>;
using Member = std::pair<std::string, Bytes>;
using Strings = std::vector<std::string>;

[[noreturn]] void fail(const std::string& what);

// A chunk file from (name, data) pairs; names are padded to 4 bytes.
Bytes makeChunk(const std::vector<Member>& sections);
// Little-endian `v` in `w` bytes at `at`.
void put(Bytes& b, size_t at, uint32_t v, unsigned w);
// A string table (`STR ` data, or `STRx` with w = 4) holding `texts` as numbers 1.., each after the last;
// nothing: an offset past the end. `tail` follows the texts.
Bytes table(const std::vector<std::optional<std::string>>& texts, unsigned w = 2, const Bytes& tail = {});
// One trigger record: actions (type, text, sound, location, number) and conditions (type, location, switch).
struct Act { uint8_t type; uint32_t text = 0, sound = 0, location = 0, number = 0; };
struct Cond { uint8_t type; uint32_t location = 0; uint8_t sw = 0; };
Bytes trigger(const std::vector<Act>& acts, const std::vector<Cond>& conds = {});

// Deterministic filler bytes; `compressible` gives the repetitive data of terrain.
Bytes pattern(size_t size, uint32_t seed = 1, bool compressible = true);

// StormLib's PKWARE DCL codec, the second opinion on ours (not on Windows, which has no StormLib): the stream, or what
// SCompExplode decodes into `room` bytes; empty when it fails.
Bytes stormImplode(std::span<const uint8_t> data);
Bytes stormExplode(std::span<const uint8_t> stream, size_t room);

enum class Codec { None, Implode, Zlib, Pkware };
struct MapOptions {
    Codec codec = Codec::Zlib;
    bool encrypted = false, adjustedKey = false; // adjustedKey needs encrypted
    uint32_t headerOffset = 0;                   // bytes of junk before the header, a multiple of 512
    uint16_t sectorShift = 3;                    // sectors of 512 << shift bytes
    uint32_t hashTableSize = 16;                 // a power of two
};
inline constexpr const char* kChunkName = "staredit\\scenario.chk";
// Writes a map at `path` holding `chunk` as kChunkName, then the extra members.
void makeMap(const std::filesystem::path& path, const Bytes& chunk, const MapOptions& options = {},
             const std::vector<Member>& extra = {});
Bytes readAll(const std::filesystem::path& path);
void writeAll(const std::filesystem::path& path, const Bytes& bytes);

// The status lines of a whole Copy Section and a whole Save, in order; the first `n` of them.
inline const Strings kCopySteps = {
    "Deleting temp files...", "Copying maps...", "Extracting scenario.chk...", "Grabbing data from first map...",
    "Creating temporary chk file...", "Inserting data to temporary chk file...",
    "Checking offset and length of section...", "Grabbing section from second map...",
    "Inserting data to temporary chk file...", "Checking offset and length of rest of file...",
    "Grabbing data from first map...", "Inserting data to temporary chk file...", "Done!"};
inline const Strings kSaveSteps = {"Adding temp chk file to temp map...", "Deleting old map file...",
                                   "Copying modified map...", "Save successful!"};
inline Strings first(const Strings& steps, size_t n) { return {steps.begin(), steps.begin() + n}; }
// A copy of TILE or ISOM without MTXM notes, after "Done!", that the game draws MTXM.
inline const std::string kTerrainNote = "Note: the game draws \"MTXM\", which was not copied.";

// A fresh empty folder, removed with all in it when the object goes.
class ScratchDir {
    std::filesystem::path path_;
public:
    ScratchDir();
    ~ScratchDir();
    ScratchDir(const ScratchDir&) = delete;
    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(const std::string& name) const { return path_ / name; }
};

// Runs a program to its end, the variables in `env` added: its exit status and its output.
struct Run { int status = -1; std::string out, err; };
using Env = std::vector<std::pair<std::string, std::string>>;
Run run(const std::string& program, const Strings& args, const Env& env = {});

// The format's name hash and flags, and its table entries and header (after the signature) as stored.
namespace mpq {
inline constexpr uint32_t kEmpty = 0xFFFFFFFF, kDeleted = 0xFFFFFFFE, kExists = 0x80000000, kSingleUnit = 0x1000000;
inline constexpr uint32_t kFixKey = 0x20000, kEncrypted = 0x10000, kCompressed = 0x200, kImploded = 0x100;
uint32_t hashString(std::string_view name, uint32_t type);
} // namespace mpq
struct HashEntry {
    uint32_t nameA = mpq::kEmpty, nameB = mpq::kEmpty;
    uint16_t locale = 0xFFFF, platform = 0xFFFF;
    uint32_t block = mpq::kEmpty;
};
struct BlockEntry { int32_t offset = 0; uint32_t storedSize = 0, fileSize = 0, flags = 0; };
struct MpqHeader { // the counts are written as given
    uint32_t headerSize = 32, archiveSize = 0;
    uint16_t version = 0, sectorShift = 3;
    int32_t hashOffset = 0, blockOffset = 0;
    uint32_t hashCount = 0, blockCount = 0;
};

// A map's bytes with its header and the part of each table inside the file; serialize() writes
// them back (tables encrypted, at their offsets, growing the file when needed).
struct RawMap : MpqHeader {
    Bytes bytes;
    uint32_t headerPos = 0;
    std::vector<HashEntry> hashes;
    std::vector<BlockEntry> blocks;

    static RawMap load(const std::filesystem::path& path) { return parse(readAll(path)); }
    static RawMap parse(Bytes bytes);
    Bytes serialize();
    void store(const std::filesystem::path& path) { writeAll(path, serialize()); }
    int findHash(std::string_view name) const; // the first live entry for `name`, or -1
    BlockEntry& blockOf(std::string_view name);
    uint32_t dataPos(const BlockEntry& b) const { return headerPos + static_cast<uint32_t>(b.offset); }
};

} // namespace fixtures

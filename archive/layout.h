// An archive's header and tables as the game's reader sees them, and its member decoding.
#pragma once

#include "bytes.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace archive::layout {

inline constexpr uint32_t kEmpty = 0xFFFFFFFF;
inline constexpr uint32_t kDeleted = 0xFFFFFFFE;
inline constexpr uint32_t kBlockIndexMask = 0x0FFFFFFF;
inline constexpr uint32_t kHashCountMask = 0x0FFFFFFF;

inline constexpr uint32_t kExists = 0x80000000;
inline constexpr uint32_t kDeletedFlag = 0x02000000;
inline constexpr uint32_t kSingleUnit = 0x01000000;
inline constexpr uint32_t kAdjustedKey = 0x00020000;
inline constexpr uint32_t kEncrypted = 0x00010000;
inline constexpr uint32_t kCompressed = 0x00000200;
inline constexpr uint32_t kImploded = 0x00000100;

inline constexpr uint8_t kMaskZlib = 0x02;
inline constexpr uint8_t kMaskPkware = 0x08;

inline constexpr size_t kHeaderSize = 32;
inline constexpr size_t kEntrySize = 16;
// Bytes of sectors decoded together into one buffer.
inline constexpr uint64_t kWindow = uint64_t{64} * 1024;

struct HashEntry {
    uint32_t nameA = kEmpty, nameB = kEmpty;
    uint16_t locale = 0xFFFF, platform = 0xFFFF;
    uint32_t block = kEmpty;
    bool operator==(const HashEntry&) const = default;
};

struct BlockEntry {
    int32_t offset = 0; // relative to the header
    uint32_t storedSize = 0, fileSize = 0, flags = 0;
};

struct Header {
    uint64_t pos = 0;
    uint32_t sectorSize = 0; // 0 when the shift overflows 32 bits
    int32_t hashOffset = 0, blockOffset = 0;
    uint32_t hashCountField = 0, blockCountField = 0;
    uint32_t hashCount() const { return hashCountField & kHashCountMask; }
};

using archive::load32;
using archive::store32;

// Where the game's look-up of a name goes in a hash table of which `table` holds
// the entries present (a table may be cut off by the end of the file) and the
// header declares `count`.
struct HashWalk {
    std::optional<size_t> match; // the entry the game takes: the last of the name met
    std::optional<size_t> free;  // the first deleted or empty slot met: a new entry there is found
};
HashWalk walkHashes(const std::vector<HashEntry>& table, uint32_t count, std::string_view name);

// The key of a member's data: from its name, and with the adjusted-key flag from its place and size too.
uint32_t memberKey(std::string_view name, const BlockEntry& block);

// Encrypts (or decrypts) a member's stored bytes in place with `key`: the sector
// table of a compressed member with key - 1, sector i with key + i. False when the
// sector table does not fit or goes backwards; unencrypted members are left alone.
bool cryptStored(std::span<uint8_t> stored, uint32_t flags, uint32_t fileSize, uint32_t sectorSize, uint32_t key,
                 bool encrypt);

class View;

// Where a member's bytes go as they are decoded: put() is called for disjoint
// ranges, from several threads at once and in no particular order. Bytes put at
// or past the length decode() returns are not the member's.
class MemberSink {
public:
    virtual void reserve(uint64_t size) = 0; // no byte will be put at or past `size`
    virtual void put(uint64_t offset, std::span<const uint8_t> bytes) = 0;

protected:
    ~MemberSink() = default;
};

// What one sector gave when decoded: bytes (`size` of them), or a fault.
struct SectorOutcome {
    enum class Got : uint8_t { Bytes, BadMask, Undecodable } got = Got::Bytes;
    bool decoded = false; // false: stored as is
    uint32_t size = 0;    // bytes written, or the unsupported mask
};

// The sector layout of an imploded or compressed member, to decode or take over
// sectors one at a time.
class Sectors {
public:
    size_t count() const { return offsets_.size() - 1; }
    // Sectors that start inside the file.
    size_t present() const;
    // Sector i's bytes are cut off by the end of the file.
    bool cut(size_t i) const { return offsets_[i + 1] > available_; }
    uint32_t owed(size_t i) const;
    // Decodes present sector i into `to` (room for owed(i) bytes).
    SectorOutcome decodeInto(size_t i, uint8_t* to) const;
    // Sector i as stored, decrypted; nothing when it is not wholly inside the file.
    std::optional<std::vector<uint8_t>> stored(size_t i) const;
    // Sector i as a read gives it, zero-padded unless last; nothing when cut off or faulty.
    std::optional<std::vector<uint8_t>> decoded(size_t i) const;
    // The codec mask of the first compressed sector, or 0 (imploded, none, or cut off).
    uint8_t firstMask() const;

private:
    friend class View;
    std::span<const uint8_t> raw(size_t i, std::vector<uint8_t>& scratch) const;
    const View* view_ = nullptr;
    uint32_t flags_ = 0, fileSize_ = 0, key_ = 0, sectorSize_ = 0;
    uint64_t start_ = 0, available_ = 0;
    std::vector<uint32_t> offsets_;
};

// A parsed view over archive bytes; the bytes must outlive it. Errors are
// ArchiveError with `label` leading the message.
class View {
public:
    View(std::span<const uint8_t> bytes, std::string label);

    const Header& header() const { return header_; }
    const std::vector<HashEntry>& hashes() const { return hashes_; } // the entries present
    const std::vector<BlockEntry>& blocks() const { return blocks_; }
    std::span<const uint8_t> bytes() const { return bytes_; }
    const std::string& label() const { return label_; }

    // Absolute position of a header-relative offset, or nothing when before the file.
    std::optional<uint64_t> absolute(int32_t offset) const;

    // The hash entry the game's look-up picks for `name`, or nothing.
    std::optional<size_t> find(std::string_view name) const;
    // The usable block of a hash entry, or nothing (out of range, not existing, deleted).
    std::optional<size_t> usableBlock(size_t hashIndex) const;

    // Decodes the member into `sink` and returns its length.
    uint64_t decode(std::string_view name, MemberSink& sink) const;
    // The sector layout of an imploded or compressed member, or nothing for other members.
    std::optional<Sectors> sectors(const BlockEntry& block, std::string_view name) const;
    // The codec of the member's first compressed sector: kMaskPkware/kMaskZlib, or 0 if none.
    uint8_t firstSectorMask(const BlockEntry& block, std::string_view name) const;

private:
    [[noreturn]] void fail(const std::string& what) const;
    std::vector<uint32_t> sectorOffsets(const BlockEntry& block, uint64_t start, uint32_t key,
                                        std::string_view name) const;

    std::span<const uint8_t> bytes_;
    std::string label_;
    Header header_;
    std::vector<HashEntry> hashes_;
    std::vector<BlockEntry> blocks_;
};

std::vector<uint8_t> encodeTable(const std::vector<HashEntry>& entries);
std::vector<uint8_t> encodeTable(const std::vector<BlockEntry>& entries);

} // namespace archive::layout

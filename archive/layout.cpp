#include "layout.h"
#include "parallel.h"

#include "archive.h"
#include "codec.h"
#include "crypt.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <sstream>

namespace archive::layout {


namespace {

const uint8_t kSignature[4] = {'M', 'P', 'Q', 0x1A};

std::string hex(uint32_t v) {
    std::ostringstream s;
    s << "0x" << std::hex << v;
    return s.str();
}

// The entries of a table that lie inside the file, decrypted as one stream.
std::vector<uint8_t> tableBytes(std::span<const uint8_t> bytes, std::optional<uint64_t> pos, uint32_t count,
                                uint32_t key) {
    if (!pos || *pos >= bytes.size())
        return {};
    const uint64_t present = std::min<uint64_t>(count, (bytes.size() - *pos) / kEntrySize);
    std::vector<uint8_t> raw(bytes.begin() + static_cast<ptrdiff_t>(*pos),
                             bytes.begin() + static_cast<ptrdiff_t>(*pos + present * kEntrySize));
    crypt::decrypt(raw.data(), raw.size(), key);
    return raw;
}

} // namespace

View::View(std::span<const uint8_t> bytes, std::string label) : bytes_(bytes), label_(std::move(label)) {
    // The game takes the first signature on a 512-byte boundary that declares a
    // full header; earlier decoys with a short header size are passed over.
    bool found = false;
    for (uint64_t pos = 0; pos + kHeaderSize <= bytes_.size(); pos += 512) {
        const uint8_t* h = bytes_.data() + pos;
        if (std::memcmp(h, kSignature, 4) == 0 && load32(h + 4) >= kHeaderSize) {
            header_.pos = pos;
            found = true;
            break;
        }
    }
    if (!found)
        fail("not a map archive (no archive header found)");

    const uint8_t* h = bytes_.data() + header_.pos;
    const uint32_t shift = h[14] & 31u;
    header_.sectorSize = uint32_t{512} << shift; // 32-bit, as the game computes it: 0 from shift 23 on
    header_.hashOffset = static_cast<int32_t>(load32(h + 16));
    header_.blockOffset = static_cast<int32_t>(load32(h + 20));
    header_.hashCountField = load32(h + 24);
    header_.blockCountField = load32(h + 28);

    const auto hashRaw = tableBytes(bytes_, absolute(header_.hashOffset), header_.hashCount(), crypt::kHashTableKey);
    hashes_.resize(hashRaw.size() / kEntrySize);
    for (size_t i = 0; i < hashes_.size(); ++i) {
        const uint8_t* e = hashRaw.data() + i * kEntrySize;
        const uint32_t lp = load32(e + 8);
        hashes_[i] = {load32(e), load32(e + 4), uint16_t(lp), uint16_t(lp >> 16), load32(e + 12)};
    }
    const auto blockRaw = tableBytes(bytes_, absolute(header_.blockOffset), header_.blockCountField,
                                     crypt::kBlockTableKey);
    blocks_.resize(blockRaw.size() / kEntrySize);
    for (size_t i = 0; i < blocks_.size(); ++i) {
        const uint8_t* e = blockRaw.data() + i * kEntrySize;
        blocks_[i] = {static_cast<int32_t>(load32(e)), load32(e + 4), load32(e + 8), load32(e + 12)};
    }
}

void View::fail(const std::string& what) const { throw ArchiveError(label_ + ": " + what); }

std::optional<uint64_t> View::absolute(int32_t offset) const {
    const int64_t pos = static_cast<int64_t>(header_.pos) + offset;
    if (pos < 0)
        return std::nullopt;
    return static_cast<uint64_t>(pos);
}

HashWalk walkHashes(const std::vector<HashEntry>& table, uint32_t count, std::string_view name) {
    HashWalk w;
    if (count == 0 || table.empty())
        return w;
    // The start slot is masked with count - 1 even when the count is no power of
    // two; one past the entries present starts at entry 0.
    size_t start = crypt::hashString(name, crypt::kTablePosition) & (count - 1);
    if (start >= table.size())
        start = 0;
    const uint32_t a = crypt::hashString(name, crypt::kNameA), b = crypt::hashString(name, crypt::kNameB);
    // The walk stops at the first empty slot (a decoy past one is never read) or
    // back at its start; deleted slots are passed over. Asked for the neutral
    // language, the game takes the last entry of the name met in any language:
    // a published map's only chunk entry carries 0x409.
    for (size_t i = 0; i < table.size(); ++i) {
        const size_t j = (start + i) % table.size();
        const HashEntry& e = table[j];
        if (e.block == kEmpty || e.block == kDeleted) {
            if (!w.free)
                w.free = j;
            if (e.block == kEmpty)
                break;
        } else if (e.nameA == a && e.nameB == b) {
            w.match = j;
        }
    }
    return w;
}

std::optional<size_t> View::find(std::string_view name) const {
    return walkHashes(hashes_, header_.hashCount(), name).match;
}

std::optional<size_t> View::usableBlock(size_t hashIndex) const {
    const uint32_t index = hashes_[hashIndex].block & kBlockIndexMask;
    if (index >= blocks_.size())
        return std::nullopt;
    const uint32_t flags = blocks_[index].flags;
    if (!(flags & kExists) || (flags & kDeletedFlag))
        return std::nullopt;
    return index;
}

uint32_t memberKey(std::string_view name, const BlockEntry& block) {
    uint32_t key = crypt::plainKey(name);
    if (block.flags & kAdjustedKey)
        key = (key + static_cast<uint32_t>(block.offset)) ^ block.fileSize;
    return key;
}

bool cryptStored(std::span<uint8_t> stored, uint32_t flags, uint32_t fileSize, uint32_t sectorSize, uint32_t key,
                 bool encrypt) {
    if (!(flags & (kEncrypted | kAdjustedKey)) || fileSize == 0)
        return true;
    const auto run = [encrypt](uint8_t* data, size_t size, uint32_t k) {
        encrypt ? crypt::encrypt(data, size, k) : crypt::decrypt(data, size, k);
    };
    if (sectorSize == 0)
        return false;
    const uint64_t sectors = (uint64_t{fileSize} + sectorSize - 1) / sectorSize;
    if (!(flags & (kImploded | kCompressed))) {
        for (uint64_t i = 0; i < sectors && i * sectorSize < stored.size(); ++i)
            run(stored.data() + i * sectorSize, static_cast<size_t>(std::min<uint64_t>(sectorSize, stored.size() - i * sectorSize)),
                key + static_cast<uint32_t>(i));
        return true;
    }
    const uint64_t tableSize = 4 * (sectors + 1);
    if (tableSize > stored.size())
        return false;
    // The offsets are read in the clear: after decrypting the table, before encrypting it.
    const auto table = [&] { run(stored.data(), static_cast<size_t>(tableSize), key - 1); };
    if (!encrypt)
        table();
    std::vector<uint32_t> offsets(static_cast<size_t>(sectors + 1));
    for (size_t i = 0; i < offsets.size(); ++i) {
        offsets[i] = load32(stored.data() + i * 4);
        if ((i > 0 && offsets[i] < offsets[i - 1]) || offsets[i] > stored.size())
            return false;
    }
    if (encrypt)
        table();
    for (size_t i = 0; i + 1 < offsets.size(); ++i)
        run(stored.data() + offsets[i], offsets[i + 1] - offsets[i], key + static_cast<uint32_t>(i));
    return true;
}

std::vector<uint32_t> View::sectorOffsets(const BlockEntry& block, uint64_t start, uint32_t key,
                                          std::string_view name) const {
    const uint64_t sectors = (uint64_t{block.fileSize} + header_.sectorSize - 1) / header_.sectorSize;
    const uint64_t tableSize = (sectors + 1) * 4;
    if (start >= bytes_.size() || bytes_.size() - start < tableSize)
        fail("the sector table of " + std::string(name) + " is cut off by the end of the file");
    std::vector<uint8_t> raw(bytes_.begin() + static_cast<ptrdiff_t>(start),
                             bytes_.begin() + static_cast<ptrdiff_t>(start + tableSize));
    if (block.flags & (kEncrypted | kAdjustedKey))
        crypt::decrypt(raw.data(), raw.size(), key - 1);
    std::vector<uint32_t> offsets(sectors + 1);
    for (size_t i = 0; i < offsets.size(); ++i) {
        offsets[i] = load32(raw.data() + i * 4);
        if ((i > 0 && offsets[i] < offsets[i - 1]) || offsets[i] > block.storedSize)
            fail("the sector table of " + std::string(name) + " is damaged (entry " + std::to_string(i) +
                 (offsets[i] > block.storedSize ? " lies past the member's stored size)" : " goes backwards)"));
    }
    return offsets;
}

uint64_t View::decode(std::string_view name, MemberSink& sink) const {
    const std::string member(name);
    const auto hashIndex = find(name);
    if (!hashIndex)
        fail("the archive has no member " + member);
    const auto blockIndex = usableBlock(*hashIndex);
    if (!blockIndex)
        fail("the archive has no member " + member + " (its entry points to no existing data)");
    const BlockEntry& block = blocks_[*blockIndex];
    if (block.fileSize > kMaxMemberSize)
        fail("member " + member + " declares " + std::to_string(block.fileSize) +
             " bytes, more than the 256 MB limit");
    if (block.fileSize == 0)
        return 0;
    if (header_.sectorSize == 0)
        fail("the sector size shift " + std::to_string(bytes_[header_.pos + 14]) + " overflows");

    const auto startPos = absolute(block.offset);
    if (!startPos || *startPos >= bytes_.size())
        return 0; // all of the data lies outside the file
    const uint64_t start = *startPos;
    const bool encrypted = block.flags & (kEncrypted | kAdjustedKey);
    const uint32_t key = memberKey(name, block);
    const uint64_t sectorSize = header_.sectorSize;
    // Sectors are decoded a window at a time into a small buffer that stays in
    // cache and is reused, not into fresh pages the size of the member.
    const uint64_t perWindow = std::max<uint64_t>(1, kWindow / sectorSize);
    const auto eachWindow = [&](uint64_t sectors, uint64_t room, auto fill) {
        sink.reserve(room);
        parallel::forEach(
            static_cast<size_t>((sectors + perWindow - 1) / perWindow),
            [&](size_t w) {
                const uint64_t first = w * perWindow, from = first * sectorSize;
                const uint64_t size = std::min(room, (first + perWindow) * sectorSize) - from;
                const auto buffer = std::make_unique_for_overwrite<uint8_t[]>(static_cast<size_t>(size));
                for (uint64_t i = first; i * sectorSize < from + size; ++i)
                    fill(static_cast<size_t>(i), buffer.get() + (i - first) * sectorSize);
                sink.put(from, {buffer.get(), static_cast<size_t>(size)});
            },
            1);
    };

    if (!(block.flags & (kImploded | kCompressed))) {
        const uint64_t size = std::min<uint64_t>(block.fileSize, bytes_.size() - start);
        if (!encrypted) {
            sink.reserve(size);
            sink.put(0, bytes_.subspan(static_cast<size_t>(start), static_cast<size_t>(size)));
            return size;
        }
        eachWindow((size + sectorSize - 1) / sectorSize, size, [&](size_t i, uint8_t* to) {
            const uint64_t n = std::min(sectorSize, size - i * sectorSize);
            std::memcpy(to, bytes_.data() + start + i * sectorSize, static_cast<size_t>(n));
            crypt::decrypt(to, static_cast<size_t>(n), key + static_cast<uint32_t>(i));
        });
        return size;
    }

    // Each sector's outcome is kept and read in order afterwards, so the first
    // fault reported is the first in the file whatever order the threads took.
    const Sectors layout = *sectors(block, name);
    const size_t present = layout.present();
    std::vector<SectorOutcome> outcome(present);
    eachWindow(present, std::min<uint64_t>(block.fileSize, present * sectorSize),
               [&](size_t i, uint8_t* to) { outcome[i] = layout.decodeInto(i, to); });

    uint64_t length = 0;
    for (size_t i = 0; i < present; ++i) {
        const SectorOutcome& o = outcome[i];
        if (o.got != SectorOutcome::Got::Bytes) {
            if (layout.cut(i))
                break;
            if (o.got == SectorOutcome::Got::BadMask)
                fail("sector " + std::to_string(i) + " of " + member + " uses an unsupported compression (mask " +
                     hex(static_cast<uint8_t>(o.size)) + ")");
            fail("sector " + std::to_string(i) + " of " + member + " cannot be decompressed");
        }
        // A decompressed sector short of its size reads as zero-padded, except the last.
        length = i * sectorSize + (o.decoded && i + 1 < layout.count() ? layout.owed(i) : o.size);
        if (layout.cut(i))
            break;
    }
    return length;
}

std::optional<Sectors> View::sectors(const BlockEntry& block, std::string_view name) const {
    const auto startPos = absolute(block.offset);
    if (!(block.flags & (kImploded | kCompressed)) || block.fileSize == 0 || header_.sectorSize == 0 || !startPos ||
        *startPos >= bytes_.size())
        return std::nullopt;
    Sectors s;
    s.view_ = this;
    s.flags_ = block.flags;
    s.fileSize_ = block.fileSize;
    s.key_ = memberKey(name, block);
    s.sectorSize_ = header_.sectorSize;
    s.start_ = *startPos;
    s.available_ = bytes_.size() - *startPos;
    s.offsets_ = sectorOffsets(block, *startPos, s.key_, name);
    return s;
}

size_t Sectors::present() const {
    size_t n = 0;
    while (n < count() && offsets_[n] < available_)
        ++n;
    return n;
}

uint32_t Sectors::owed(size_t i) const {
    return static_cast<uint32_t>(std::min<uint64_t>(sectorSize_, uint64_t{fileSize_} - uint64_t{i} * sectorSize_));
}

// The present bytes of sector i: in place, or decrypted into `scratch`.
std::span<const uint8_t> Sectors::raw(size_t i, std::vector<uint8_t>& scratch) const {
    const uint64_t have = std::min<uint64_t>(offsets_[i + 1] - offsets_[i], available_ - offsets_[i]);
    const std::span<const uint8_t> in = view_->bytes().subspan(static_cast<size_t>(start_ + offsets_[i]), have);
    if (!(flags_ & (kEncrypted | kAdjustedKey)))
        return in;
    scratch.assign(in.begin(), in.end());
    crypt::decrypt(scratch.data(), scratch.size(), key_ + static_cast<uint32_t>(i));
    return scratch;
}

SectorOutcome Sectors::decodeInto(size_t i, uint8_t* to) const {
    const uint32_t owe = owed(i);
    std::vector<uint8_t> scratch;
    const std::span<const uint8_t> data = raw(i, scratch);
    SectorOutcome o;
    if (offsets_[i + 1] - offsets_[i] >= owe) {
        o.size = static_cast<uint32_t>(std::min<size_t>(owe, data.size()));
        std::memcpy(to, data.data(), o.size);
        return o;
    }
    o.decoded = true;
    std::optional<uint32_t> size;
    if (flags_ & kImploded) {
        size = codec::explodeInto(data, {to, owe});
    } else if (!data.empty()) {
        if (data[0] != kMaskZlib && data[0] != kMaskPkware)
            return {SectorOutcome::Got::BadMask, true, data[0]};
        size = codec::decompressInto(data, {to, owe});
    }
    if (!size)
        return {SectorOutcome::Got::Undecodable, true, 0};
    // What a short sector reads as past its end: zeros, whatever the codec left there.
    std::memset(to + *size, 0, owe - *size);
    o.size = *size;
    return o;
}

std::optional<std::vector<uint8_t>> Sectors::stored(size_t i) const {
    if (i >= count() || offsets_[i] >= available_ || cut(i))
        return std::nullopt;
    std::vector<uint8_t> scratch;
    const auto data = raw(i, scratch);
    return scratch.empty() ? std::vector<uint8_t>(data.begin(), data.end()) : scratch;
}

std::optional<std::vector<uint8_t>> Sectors::decoded(size_t i) const {
    if (i >= count() || offsets_[i] >= available_ || cut(i))
        return std::nullopt;
    std::vector<uint8_t> out(owed(i));
    const SectorOutcome o = decodeInto(i, out.data());
    if (o.got != SectorOutcome::Got::Bytes)
        return std::nullopt;
    if (!o.decoded || i + 1 == count())
        out.resize(o.size);
    return out;
}

uint8_t Sectors::firstMask() const {
    if (flags_ & kImploded)
        return 0;
    for (size_t i = 0; i < count(); ++i) {
        if (offsets_[i + 1] - offsets_[i] >= owed(i))
            continue;
        if (uint64_t{offsets_[i]} + 4 > available_)
            return 0;
        uint8_t word[4];
        std::memcpy(word, view_->bytes().data() + start_ + offsets_[i], 4);
        if (flags_ & (kEncrypted | kAdjustedKey))
            crypt::decrypt(word, 4, key_ + static_cast<uint32_t>(i));
        return word[0];
    }
    return 0;
}

uint8_t View::firstSectorMask(const BlockEntry& block, std::string_view name) const {
    try {
        const auto layout = sectors(block, name);
        return layout ? layout->firstMask() : 0;
    } catch (const ArchiveError&) {
        return 0; // a damaged sector table names no codec
    }
}

std::vector<uint8_t> encodeTable(const std::vector<HashEntry>& entries) {
    std::vector<uint8_t> out(entries.size() * kEntrySize);
    for (size_t i = 0; i < entries.size(); ++i) {
        uint8_t* e = out.data() + i * kEntrySize;
        store32(e, entries[i].nameA);
        store32(e + 4, entries[i].nameB);
        store32(e + 8, uint32_t(entries[i].locale) | uint32_t(entries[i].platform) << 16);
        store32(e + 12, entries[i].block);
    }
    crypt::encrypt(out.data(), out.size(), crypt::kHashTableKey);
    return out;
}

std::vector<uint8_t> encodeTable(const std::vector<BlockEntry>& entries) {
    std::vector<uint8_t> out(entries.size() * kEntrySize);
    for (size_t i = 0; i < entries.size(); ++i) {
        uint8_t* e = out.data() + i * kEntrySize;
        store32(e, static_cast<uint32_t>(entries[i].offset));
        store32(e + 4, entries[i].storedSize);
        store32(e + 8, entries[i].fileSize);
        store32(e + 12, entries[i].flags);
    }
    crypt::encrypt(out.data(), out.size(), crypt::kBlockTableKey);
    return out;
}

} // namespace archive::layout

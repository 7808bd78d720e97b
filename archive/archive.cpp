#include "archive.h"

#include "buffer.h"
#include "codec.h"
#include "crypt.h"
#include "layout.h"
#include "parallel.h"

#include "platform.h"

#include <algorithm>
#include <functional>
#include <limits>
#include <set>
#include <utility>

namespace archive {
namespace fs = std::filesystem;
using namespace layout;

namespace {

// Maps are a few megabytes; anything far beyond is refused before it is read.
constexpr uint64_t kMaxArchiveSize = 2 * kMaxMemberSize;
// A hash table copied in full is bounded too: a hostile count would ask for gigabytes.
constexpr uint64_t kMaxHashEntries = 1u << 22;

std::string nameOf(const fs::path& path) { return platform::toUtf8(path); }

// Runs `f`, the platform's errors turned into ours.
template <typename F>
auto guarded(F f) -> decltype(f()) {
    try {
        return f();
    } catch (const platform::Error& e) {
        throw ArchiveError(e.what());
    }
}

Buffer readAll(platform::File& file, uint64_t limit, const char* what) {
    const platform::Status st = file.status();
    if (st.kind != platform::Kind::Regular)
        throw ArchiveError(nameOf(file.path()) + ": not a regular file");
    if (st.size > limit)
        throw ArchiveError(nameOf(file.path()) + ": " + what + " of " + std::to_string(st.size) +
                           " bytes is larger than the " + std::to_string(limit >> 20) + " MB limit");
    Buffer bytes(static_cast<size_t>(st.size));
    // A file that shrank while being read: what is there is what counts.
    bytes.shrink(file.readAt({bytes.data(), bytes.size()}, 0));
    return bytes;
}

Buffer readFile(const fs::path& path, uint64_t limit, const char* what) {
    return guarded([&] {
        platform::File file(path, platform::File::Mode::Read);
        return readAll(file, limit, what);
    });
}

enum class Style { Plain, Implode, Zlib };

// A sector's stored bytes (decrypted) to take over unchanged, or nothing.
using Reuse = std::function<std::optional<std::vector<uint8_t>>(size_t index, std::span<const uint8_t> raw)>;

// The member's data in the archive's sector layout.
std::vector<uint8_t> encode(std::span<const uint8_t> data, uint32_t sectorSize, Style style, bool encrypted,
                            uint32_t key, const Reuse& reuse) {
    const size_t sectors = (data.size() + sectorSize - 1) / sectorSize;
    const auto rawOf = [&](size_t i) {
        return data.subspan(i * size_t{sectorSize}, std::min<size_t>(sectorSize, data.size() - i * size_t{sectorSize}));
    };
    if (style == Style::Plain) {
        std::vector<uint8_t> out(data.begin(), data.end());
        if (encrypted)
            for (size_t i = 0; i < sectors; ++i)
                crypt::encrypt(out.data() + i * size_t{sectorSize}, rawOf(i).size(), key + static_cast<uint32_t>(i));
        return out;
    }
    std::vector<std::vector<uint8_t>> coded(sectors);
    parallel::forEach(sectors, [&](size_t i) {
        const auto raw = rawOf(i);
        std::vector<uint8_t>& sector = coded[i];
        if (auto kept = reuse ? reuse(i, raw) : std::nullopt)
            sector = std::move(*kept);
        else if (auto packed = style == Style::Implode ? codec::implode(raw) : codec::compressZlib(raw))
            sector = std::move(*packed);
        else
            sector.assign(raw.begin(), raw.end());
        if (encrypted)
            crypt::encrypt(sector.data(), sector.size(), key + static_cast<uint32_t>(i));
    });
    std::vector<uint8_t> out((sectors + 1) * 4);
    for (size_t i = 0; i < sectors; ++i) {
        store32(out.data() + i * 4, static_cast<uint32_t>(out.size()));
        out.insert(out.end(), coded[i].begin(), coded[i].end());
        std::vector<uint8_t>().swap(coded[i]);
    }
    store32(out.data() + sectors * 4, static_cast<uint32_t>(out.size()));
    if (encrypted)
        crypt::encrypt(out.data(), (sectors + 1) * 4, key - 1);
    return out;
}

// Sectors of the old member whose content the new data repeats at the same place
// are taken over as stored: re-encoding a map's chunk file is most of a save's
// time, and a one-section change leaves most sectors as they were.
Reuse unchangedSectors(const View& view, const BlockEntry& old, std::string_view name, Style style,
                       size_t newSize, std::optional<Sectors>& oldSectors) {
    // A PKWARE-compressed sector is the imploded stream behind a one-byte mask, so
    // a map whose member was compressed that way keeps its sectors when imploded.
    const bool imploded = (old.flags & kImploded) != 0, compressed = !imploded && (old.flags & kCompressed);
    if (style == Style::Plain || (style == Style::Zlib && !compressed) || (!imploded && !compressed))
        return {};
    try {
        oldSectors = view.sectors(old, name);
    } catch (const ArchiveError&) {
        return {}; // a damaged sector table: encode afresh
    }
    if (!oldSectors)
        return {};
    const uint32_t sectorSize = view.header().sectorSize;
    const size_t newSectors = (newSize + sectorSize - 1) / sectorSize;
    const uint8_t wantedMask = style == Style::Zlib ? kMaskZlib : kMaskPkware;
    return [&oldSectors, newSectors, newSize, oldSize = size_t{old.fileSize}, compressed, wantedMask](
               size_t i, std::span<const uint8_t> raw) -> std::optional<std::vector<uint8_t>> {
        // A last sector only when it was the last before too: a short decoded
        // sector reads as zero-padded anywhere else.
        if (i + 1 == newSectors && oldSize != newSize)
            return std::nullopt;
        auto stored = oldSectors->stored(i);
        if (!stored || stored->empty() || stored->size() > raw.size())
            return std::nullopt;
        const bool packed = stored->size() < raw.size();
        if (packed && compressed && (*stored)[0] != wantedMask)
            return std::nullopt;
        const auto was = oldSectors->decoded(i);
        if (!was || was->size() != raw.size() || !std::equal(raw.begin(), raw.end(), was->begin()))
            return std::nullopt;
        if (packed && compressed && wantedMask == kMaskPkware)
            stored->erase(stored->begin()); // into the imploded form
        return stored;
    };
}

// Where an add may write: from the start of a tail that holds only the member's
// data and the tables, laid out as an add leaves them, when the tables show that
// nothing else points into it; otherwise at the end of the file. Overwriting that
// tail keeps a map from growing by a whole chunk file with every save.
uint64_t writeFrom(const View& view, std::optional<size_t> oldBlock, bool oldShared) {
    const uint64_t end = view.bytes().size();
    const Header& h = view.header();
    if (!oldBlock || oldShared || view.hashes().size() != h.hashCount() || view.blocks().size() != h.blockCountField)
        return end;
    const BlockEntry& old = view.blocks()[*oldBlock];
    const auto data = view.absolute(old.offset), blocks = view.absolute(h.blockOffset),
               hashes = view.absolute(h.hashOffset);
    if (!data || !blocks || !hashes || *data < h.pos + kHeaderSize || *data + old.storedSize != *blocks)
        return end;
    const uint64_t blocksEnd = *blocks + view.blocks().size() * kEntrySize;
    const uint64_t hashesEnd = *hashes + uint64_t{h.hashCount()} * kEntrySize;
    const bool hashesInTail = *hashes == blocksEnd && hashesEnd == end;
    if (!(hashesInTail || (blocksEnd == end && hashesEnd <= *data)))
        return end;
    for (size_t i = 0; i < view.blocks().size(); ++i) {
        const auto at = view.absolute(view.blocks()[i].offset);
        if (i != *oldBlock && at && *at < end && std::max(*at + view.blocks()[i].storedSize, *at + 1) > *data)
            return end;
    }
    return *data;
}

} // namespace

std::vector<uint8_t> readMember(std::span<const uint8_t> archiveBytes, std::string_view member,
                                const std::string& label) {
    struct ToVector final : MemberSink {
        std::vector<uint8_t> out;
        void reserve(uint64_t size) override { out.resize(static_cast<size_t>(size)); }
        void put(uint64_t offset, std::span<const uint8_t> bytes) override {
            std::copy(bytes.begin(), bytes.end(), out.begin() + static_cast<ptrdiff_t>(offset));
        }
    } sink;
    sink.out.resize(static_cast<size_t>(View(archiveBytes, label).decode(member, sink)));
    return std::move(sink.out);
}

std::vector<uint8_t> readMember(const fs::path& archivePath, std::string_view member) {
    const auto bytes = readFile(archivePath, kMaxArchiveSize, "the archive");
    return readMember(bytes.span(), member, nameOf(archivePath));
}

void extract(const fs::path& archivePath, std::string_view member, const fs::path& destFolder) {
    const auto bytes = readFile(archivePath, kMaxArchiveSize, "the archive");
    const View view(bytes.span(), nameOf(archivePath));
    const size_t slash = member.rfind('\\');
    const fs::path dest = destFolder / platform::fromUtf8(slash == std::string_view::npos ? member : member.substr(slash + 1));
    guarded([&] {
        platform::File out(dest, platform::File::Mode::Create);
        // Decoded windows go straight to the file, so the member is never held whole.
        struct ToFile final : MemberSink {
            platform::File& file;
            explicit ToFile(platform::File& f) : file(f) {}
            void reserve(uint64_t) override {}
            void put(uint64_t offset, std::span<const uint8_t> bytes) override { file.writeAt(bytes, offset); }
        } sink(out);
        try {
            out.truncate(view.decode(member, sink));
            out.close();
        } catch (...) {
            out = platform::File();
            platform::removeQuietly(dest);
            throw;
        }
    });
}

Appendix planAdd(std::span<const uint8_t> archiveBytes, std::span<const uint8_t> data, std::string_view name,
                 const std::string& label) {
    const auto fail = [&](const std::string& what) -> void { throw ArchiveError(label + ": " + what); };
    if (data.size() > kMaxMemberSize)
        fail("the new " + std::string(name) + " is larger than the 256 MB limit");
    const View view(archiveBytes, label);
    const Header& header = view.header();
    if (header.sectorSize == 0)
        fail("the sector size shift overflows; the archive cannot hold new data");

    std::vector<HashEntry> hashes = view.hashes();
    std::vector<BlockEntry> blocks = view.blocks();
    const auto found = view.find(name);
    const auto oldBlock = found ? view.usableBlock(*found) : std::nullopt;

    // Stored like the member it replaces, so the map keeps its character; never
    // with the adjusted key or the single-unit flag, which only confuse readers.
    Style style = Style::Implode;
    bool encrypted = false;
    if (oldBlock) {
        const BlockEntry& old = blocks[*oldBlock];
        if (old.flags & kImploded)
            style = Style::Implode;
        else if (old.flags & kCompressed)
            style = view.firstSectorMask(old, name) == kMaskZlib ? Style::Zlib : Style::Implode;
        else
            style = Style::Plain;
        encrypted = old.flags & (kEncrypted | kAdjustedKey);
    }

    const uint64_t end = archiveBytes.size();
    if (end < header.pos)
        fail("archive ends before its header");
    BlockEntry entry;
    entry.offset = 0; // set below, once the position is checked
    entry.fileSize = static_cast<uint32_t>(data.size());
    entry.flags = kExists | (style == Style::Implode ? kImploded : style == Style::Zlib ? kCompressed : 0) |
                  (encrypted ? kEncrypted : 0);
    std::optional<Sectors> oldSectors;
    const Reuse reuse =
        oldBlock ? unchangedSectors(view, blocks[*oldBlock], name, style, data.size(), oldSectors) : Reuse{};
    auto encoded = encode(data, header.sectorSize, style, encrypted, crypt::plainKey(name), reuse);
    entry.storedSize = static_cast<uint32_t>(encoded.size());

    // Every entry of the name, in any language and wherever it lies, is pointed at
    // the new data: the game and readers that look names up their own way (the
    // whole table, or language 0 only) all read what was added.
    const uint32_t nameA = crypt::hashString(name, crypt::kNameA), nameB = crypt::hashString(name, crypt::kNameB);
    const auto isName = [&](const HashEntry& e) {
        return e.block != kDeleted && e.block != kEmpty && e.nameA == nameA && e.nameB == nameB;
    };
    // Reuse the member's block entry unless an entry of another name shares it;
    // otherwise a fresh index that no hash entry refers to, so no hidden entry comes to life.
    std::set<uint32_t> referenced;
    for (const HashEntry& e : hashes)
        if (e.block != kDeleted && !isName(e))
            referenced.insert(e.block & kBlockIndexMask);
    const bool oldShared = oldBlock && referenced.count(static_cast<uint32_t>(*oldBlock));
    uint32_t index = 0;
    if (oldBlock && !oldShared) {
        index = static_cast<uint32_t>(*oldBlock);
    } else {
        index = static_cast<uint32_t>(blocks.size());
        while (referenced.count(index))
            ++index;
        blocks.resize(size_t{index} + 1);
    }

    // Entries past a cut-off table are read as absent: a look-up starting there starts
    // at entry 0 instead. Filling them with deleted markers keeps that when entry 0 is in
    // use (the scan covers the table either way); when entry 0 is empty such look-ups
    // found nothing, and empty fill keeps it so.
    const uint32_t hashCount = header.hashCount();
    if (hashes.size() < hashCount && hashCount > kMaxHashEntries)
        fail("the archive's hash table declares " + std::to_string(hashCount) + " entries, too many to copy");
    std::vector<HashEntry> table = hashes;
    HashEntry fill;
    if (!hashes.empty() && hashes[0].block != kEmpty)
        fill.block = kDeleted;
    table.resize(hashCount, fill);
    // Repointed entries take the neutral language too: readers that ask for it alone
    // (most map tools) then find the member the game finds.
    for (HashEntry& e : table)
        if (isName(e))
            e.block = index, e.locale = 0, e.platform = 0;
    if (hashCount == 0)
        fail("the archive's hash table has no entries; a member cannot be added");
    // A new entry goes where the game's walk reaches it; filling a deleted slot on
    // that walk changes no other name's look-up.
    if (const HashWalk w = walkHashes(table, hashCount, name); !w.match) {
        if (!w.free)
            fail("the archive's hash table is full");
        table[*w.free] = {nameA, nameB, 0, 0, index};
    }
    const uint64_t from = writeFrom(view, oldBlock, oldShared);
    const bool hashesInTail = view.absolute(header.hashOffset) >= from;
    // The table is rewritten when it changes, when it runs past the end of the file
    // (appended bytes would become entries) or when the tail it lies in is overwritten.
    const bool copyHashes = table != hashes || hashesInTail;

    const uint64_t dataPos = from;
    const uint64_t blockPos = dataPos + encoded.size();
    const uint64_t hashPos = blockPos + blocks.size() * kEntrySize;
    const uint64_t newEnd = hashPos + (copyHashes ? table.size() * kEntrySize : 0);
    if (newEnd - header.pos > uint64_t(std::numeric_limits<int32_t>::max()))
        fail("the archive would grow past the 2 GB its offsets can address");
    const auto rel = [&](uint64_t pos) { return static_cast<uint32_t>(pos - header.pos); };
    entry.offset = static_cast<int32_t>(rel(dataPos));
    blocks[index] = entry;

    Appendix out;
    out.headerPos = header.pos;
    out.tailPos = dataPos;
    out.tail = std::move(encoded);
    const auto blockTable = encodeTable(blocks);
    out.tail.insert(out.tail.end(), blockTable.begin(), blockTable.end());
    if (copyHashes) {
        const auto hashTable = encodeTable(table);
        out.tail.insert(out.tail.end(), hashTable.begin(), hashTable.end());
    }
    std::copy_n(archiveBytes.begin() + static_cast<ptrdiff_t>(header.pos), kHeaderSize, out.header.begin());
    store32(out.header.data() + 8, rel(newEnd));
    if (copyHashes)
        store32(out.header.data() + 16, rel(hashPos));
    store32(out.header.data() + 20, rel(blockPos));
    store32(out.header.data() + 28, static_cast<uint32_t>(blocks.size()));
    return out;
}

std::vector<uint8_t> addInMemory(std::span<const uint8_t> archiveBytes, std::span<const uint8_t> data,
                                 std::string_view name, const std::string& label) {
    const Appendix plan = planAdd(archiveBytes, data, name, label);
    std::vector<uint8_t> out(archiveBytes.begin(), archiveBytes.begin() + static_cast<ptrdiff_t>(plan.tailPos));
    out.insert(out.end(), plan.tail.begin(), plan.tail.end());
    std::copy(plan.header.begin(), plan.header.end(), out.begin() + static_cast<ptrdiff_t>(plan.headerPos));
    return out;
}

void add(const fs::path& archivePath, const fs::path& sourceFile, std::string_view name) {
    guarded([&] {
        const auto data = readFile(sourceFile, kMaxMemberSize, "the new member");
        platform::File file(archivePath, platform::File::Mode::ReadWrite);
        const auto bytes = readAll(file, kMaxArchiveSize, "the archive");
        const Appendix plan = planAdd(bytes.span(), data.span(), name, nameOf(archivePath));
        if (plan.tailPos < bytes.size()) {
            // The old tail is still what the archive reads: the new archive is written
            // whole beside it and takes its name in one rename, which Windows refuses
            // while the archive is open.
            file.close();
            fs::path tmp = archivePath;
            tmp += ".new";
            try {
                platform::File out(tmp, platform::File::Mode::Create);
                out.writeAt(bytes.span().first(plan.tailPos), 0);
                out.writeAt(plan.header, plan.headerPos);
                out.writeAt(plan.tail, plan.tailPos);
                out.sync();
                out.close();
                platform::replace(tmp, archivePath);
            } catch (...) {
                platform::removeQuietly(tmp);
                throw;
            }
            return;
        }
        // The appended bytes are invisible until the header points at them, and the
        // header is written only once they are on disk: a crash leaves the old archive.
        try {
            file.writeAt(plan.tail, bytes.size());
            file.sync();
            file.writeAt(plan.header, plan.headerPos);
            file.sync();
        } catch (...) {
            // Undo the header first when it may be half written, then drop the tail.
            try {
                file.writeAt(bytes.span().subspan(plan.headerPos, kHeaderSize), plan.headerPos);
                file.truncate(bytes.size());
            } catch (const platform::Error&) {
            }
            throw;
        }
        file.close();
    });
}

} // namespace archive

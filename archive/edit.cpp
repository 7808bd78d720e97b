// The archive edit: one plan for a set of member changes, where each one's data
// goes, the tables written back, and one check of the result before it is written.
#include "archive.h"

#include "codec.h"
#include "crypt.h"
#include "files.h"
#include "layout.h"
#include "parallel.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <functional>
#include <limits>
#include <set>

namespace archive {
namespace fs = std::filesystem;
using namespace layout;

namespace {

enum class Style { Plain, Implode, Zlib };

struct Region {
    uint64_t from = 0, to = 0;
    uint64_t size() const { return to - from; }
    bool overlaps(const Region& o) const { return from < o.to && o.from < to; }
};

// What the game reads in the archive: the header, a table, or the data of a block
// that a hash entry names. Nothing else in the file is read by anyone.
struct Object {
    Region at;
    int64_t owner; // a block index, or one of:
};
constexpr int64_t kHeaderObject = -1, kHashObject = -2, kBlockObject = -3;

// A sector's stored bytes (decrypted) to take over unchanged, or nothing.
using Reuse = std::function<std::optional<std::vector<uint8_t>>(size_t index, std::span<const uint8_t> raw)>;

struct Encoded {
    std::vector<uint8_t> bytes;   // stored, not yet encrypted
    std::vector<uint8_t> recoded; // per sector of a compressed member: 1 when encoded afresh
};

// The member's data in the archive's sector layout, unencrypted.
Encoded encode(std::span<const uint8_t> data, uint32_t sectorSize, Style style, const Reuse& reuse) {
    if (style == Style::Plain)
        return {{data.begin(), data.end()}, {}};
    const size_t sectors = (data.size() + sectorSize - 1) / sectorSize;
    std::vector<std::vector<uint8_t>> coded(sectors);
    Encoded out;
    out.recoded.assign(sectors, 0);
    parallel::forEach(sectors, [&](size_t i) {
        const auto raw = data.subspan(i * size_t{sectorSize}, std::min<size_t>(sectorSize, data.size() - i * size_t{sectorSize}));
        std::vector<uint8_t>& sector = coded[i];
        if (auto kept = reuse ? reuse(i, raw) : std::nullopt) {
            sector = std::move(*kept);
            return;
        }
        out.recoded[i] = 1;
        if (auto packed = style == Style::Implode ? codec::implode(raw) : codec::compressZlib(raw))
            sector = std::move(*packed);
        else
            sector.assign(raw.begin(), raw.end());
    });
    out.bytes.resize((sectors + 1) * 4);
    for (size_t i = 0; i < sectors; ++i) {
        store32(out.bytes.data() + i * 4, static_cast<uint32_t>(out.bytes.size()));
        out.bytes.insert(out.bytes.end(), coded[i].begin(), coded[i].end());
        std::vector<uint8_t>().swap(coded[i]);
    }
    store32(out.bytes.data() + sectors * 4, static_cast<uint32_t>(out.bytes.size()));
    return out;
}

// Sectors of the old member whose content the new data repeats at the same place
// are taken over as stored: re-encoding a map's chunk file is most of a save's
// time, and a one-section change leaves most sectors as they were. The old content
// comes from `current` when the caller has it, else from decoding each sector.
Reuse unchangedSectors(const View& view, const BlockEntry& old, std::string_view name, Style style,
                       size_t newSize, std::span<const uint8_t> current, std::optional<Sectors>& oldSectors) {
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
    const bool known = !current.empty() && current.size() == old.fileSize;
    return [&oldSectors, newSectors, newSize, oldSize = size_t{old.fileSize}, compressed, wantedMask, known, current,
            sectorSize](size_t i, std::span<const uint8_t> raw) -> std::optional<std::vector<uint8_t>> {
        // A last sector only when it was the last before too: a short decoded
        // sector reads as zero-padded anywhere else.
        if (i + 1 == newSectors && oldSize != newSize)
            return std::nullopt;
        const size_t from = i * size_t{sectorSize};
        if (known && (from >= current.size() || std::min<size_t>(sectorSize, current.size() - from) != raw.size() ||
                      !std::equal(raw.begin(), raw.end(), current.begin() + static_cast<ptrdiff_t>(from))))
            return std::nullopt;
        auto stored = oldSectors->stored(i);
        if (!stored || stored->empty() || stored->size() > raw.size())
            return std::nullopt;
        const bool packed = stored->size() < raw.size();
        if (packed && compressed && (*stored)[0] != wantedMask)
            return std::nullopt;
        if (!known) {
            const auto was = oldSectors->decoded(i);
            if (!was || was->size() != raw.size() || !std::equal(raw.begin(), raw.end(), was->begin()))
                return std::nullopt;
        }
        if (packed && compressed && wantedMask == kMaskPkware)
            stored->erase(stored->begin()); // into the imploded form
        return stored;
    };
}

// One change as planned.
struct Planned {
    std::optional<size_t> oldBlock; // the block the game's look-up finds now
    std::optional<Region> old;      // its data, when it is the member's own and may be written over
    uint32_t index = 0;             // the block entry it gets
    BlockEntry entry;
    Encoded encoded;
    std::optional<Sectors> oldSectors;
    uint64_t pos = 0;
    Placement placement = Placement::Appended;
};

class Planner {
public:
    Planner(std::span<const uint8_t> bytes, const std::vector<Change>& changes, const std::string& label)
        : bytes_(bytes), changes_(changes), label_(label), view_(bytes, label), header_(view_.header()),
          hashes_(view_.hashes()), blocks_(view_.blocks()) {}

    std::vector<uint8_t> run(Edited& edited);

private:
    [[noreturn]] void fail(const std::string& what) const { throw ArchiveError(label_ + ": " + what); }
    bool isName(const HashEntry& e, size_t change) const {
        return e.block != kDeleted && e.block != kEmpty && e.nameA == nameA_[change] && e.nameB == nameB_[change];
    }
    std::optional<size_t> changeNamed(const HashEntry& e) const {
        for (size_t k = 0; k < changes_.size(); ++k)
            if (isName(e, k))
                return k;
        return std::nullopt;
    }
    bool own(const Region& r, int64_t owner) const {
        if (r.size() == 0)
            return false;
        return std::none_of(objects_.begin(), objects_.end(),
                            [&](const Object& o) { return o.owner != owner && o.at.overlaps(r); });
    }
    std::optional<Region> regionOf(std::optional<uint64_t> pos, uint64_t size) const {
        if (!pos || *pos >= bytes_.size())
            return std::nullopt;
        return Region{*pos, std::min<uint64_t>(bytes_.size(), *pos + size)};
    }
    void findObjects();
    void planChange(size_t k, std::set<uint32_t>& taken);
    void verify(std::span<const uint8_t> out, uint64_t tail) const;

    std::span<const uint8_t> bytes_;
    const std::vector<Change>& changes_;
    const std::string& label_;
    const View view_;
    const Header& header_;
    std::vector<HashEntry> hashes_;
    std::vector<BlockEntry> blocks_;
    std::vector<uint32_t> nameA_, nameB_;
    std::vector<Object> objects_;
    std::set<uint32_t> referenced_; // blocks that entries of unchanged names refer to
    std::vector<Planned> planned_;
};

void Planner::findObjects() {
    objects_.push_back({{header_.pos, header_.pos + kHeaderSize}, kHeaderObject});
    if (auto r = regionOf(view_.absolute(header_.hashOffset), uint64_t{header_.hashCount()} * kEntrySize))
        objects_.push_back({*r, kHashObject});
    if (auto r = regionOf(view_.absolute(header_.blockOffset), uint64_t{header_.blockCountField} * kEntrySize))
        objects_.push_back({*r, kBlockObject});
    std::set<uint32_t> named;
    for (const HashEntry& e : hashes_) {
        if (e.block == kEmpty || e.block == kDeleted)
            continue;
        named.insert(e.block & kBlockIndexMask);
        if (!changeNamed(e))
            referenced_.insert(e.block & kBlockIndexMask);
    }
    for (const uint32_t i : named) {
        if (i >= blocks_.size() || !(blocks_[i].flags & kExists))
            continue;
        if (auto r = regionOf(view_.absolute(blocks_[i].offset), blocks_[i].storedSize); r && r->size() > 0)
            objects_.push_back({*r, int64_t{i}});
    }
}

void Planner::planChange(size_t k, std::set<uint32_t>& taken) {
    const Change& c = changes_[k];
    Planned& p = planned_[k];
    const auto found = view_.find(c.name);
    p.oldBlock = found ? view_.usableBlock(*found) : std::nullopt;
    // The member's block entry is reused unless an entry of another name shares it;
    // otherwise a fresh index that no hash entry refers to, so no hidden entry comes to life.
    const bool shared = p.oldBlock && referenced_.count(static_cast<uint32_t>(*p.oldBlock));
    if (p.oldBlock && !shared && !taken.count(static_cast<uint32_t>(*p.oldBlock))) {
        p.index = static_cast<uint32_t>(*p.oldBlock);
        const BlockEntry& b = blocks_[*p.oldBlock];
        if (auto r = regionOf(view_.absolute(b.offset), b.storedSize); r && own(*r, int64_t{p.index}))
            p.old = r;
    } else {
        p.index = static_cast<uint32_t>(blocks_.size());
        while (referenced_.count(p.index) || taken.count(p.index))
            ++p.index;
    }
    taken.insert(p.index);

    if (c.stored) {
        const StoredMember& m = *c.stored;
        if ((m.flags & (kCompressed | kImploded)) && m.sectorSize != header_.sectorSize)
            fail(c.name + " was stored with " + std::to_string(m.sectorSize) + "-byte sectors and this archive's are " +
                 std::to_string(header_.sectorSize) + " bytes; it cannot be carried as stored");
        if (m.bytes.size() > kMaxMemberSize)
            fail("the new " + c.name + " is larger than the 256 MB limit");
        p.encoded.bytes = m.bytes;
        p.entry = {0, static_cast<uint32_t>(m.bytes.size()), m.fileSize, (m.flags & ~kDeletedFlag) | kExists};
        return;
    }
    if (c.data.size() > kMaxMemberSize)
        fail("the new " + c.name + " is larger than the 256 MB limit");
    // Stored like the member it replaces, so the map keeps its character; never
    // with the adjusted key or the single-unit flag, which only confuse readers.
    Style style = Style::Implode;
    bool encrypted = false;
    Reuse reuse;
    if (p.oldBlock) {
        const BlockEntry& old = blocks_[*p.oldBlock];
        if (old.flags & kImploded)
            style = Style::Implode;
        else if (old.flags & kCompressed)
            style = view_.firstSectorMask(old, c.name) == kMaskZlib ? Style::Zlib : Style::Implode;
        else
            style = Style::Plain;
        encrypted = old.flags & (kEncrypted | kAdjustedKey);
        reuse = unchangedSectors(view_, old, c.name, style, c.data.size(), c.current, p.oldSectors);
    }
    p.encoded = encode(c.data, header_.sectorSize, style, reuse);
    p.entry = {0, static_cast<uint32_t>(p.encoded.bytes.size()), static_cast<uint32_t>(c.data.size()),
               kExists | (style == Style::Implode ? kImploded : style == Style::Zlib ? kCompressed : 0) |
                   (encrypted ? kEncrypted : 0)};
}

std::vector<uint8_t> Planner::run(Edited& edited) {
    if (header_.sectorSize == 0)
        fail("the sector size shift overflows; the archive cannot hold new data");
    const uint64_t end = bytes_.size();
    for (size_t k = 0; k < changes_.size(); ++k) {
        for (size_t j = 0; j < k; ++j)
            if (crypt::hashString(changes_[j].name, crypt::kNameA) == crypt::hashString(changes_[k].name, crypt::kNameA) &&
                crypt::hashString(changes_[j].name, crypt::kNameB) == crypt::hashString(changes_[k].name, crypt::kNameB))
                fail("member " + changes_[k].name + " is changed twice in one edit");
        nameA_.push_back(crypt::hashString(changes_[k].name, crypt::kNameA));
        nameB_.push_back(crypt::hashString(changes_[k].name, crypt::kNameB));
    }
    findObjects();
    planned_.resize(changes_.size());
    std::set<uint32_t> taken;
    for (size_t k = 0; k < changes_.size(); ++k)
        planChange(k, taken);

    // The hash table keeps the entries the file holds, never growing to a count it
    // declares past the end of the file. Every entry of a changed name, in any
    // language and wherever it lies, is pointed at the new data: the game and
    // readers that look names up their own way all read what was written.
    // Repointed entries take the neutral language too: readers that ask for it
    // alone (most map tools) then find the member the game finds.
    const uint32_t hashCount = header_.hashCount();
    if (hashes_.empty())
        fail("the archive's hash table has no entries in the file; a member cannot be added");
    std::vector<HashEntry> table = hashes_;
    for (HashEntry& e : table)
        if (const auto k = changeNamed(e))
            e.block = planned_[*k].index, e.locale = 0, e.platform = 0;
    // A new entry goes where the game's walk reaches it; filling a deleted slot on
    // that walk changes no other name's look-up.
    for (size_t k = 0; k < changes_.size(); ++k) {
        if (const HashWalk w = walkHashes(table, hashCount, changes_[k].name); !w.match) {
            if (!w.free)
                fail("the archive's hash table is full; " + changes_[k].name + " cannot be added");
            table[*w.free] = {nameA_[k], nameB_[k], 0, 0, planned_[k].index};
        }
    }
    size_t blockCount = blocks_.size();
    for (const Planned& p : planned_)
        blockCount = std::max<size_t>(blockCount, size_t{p.index} + 1);
    blocks_.resize(blockCount);

    // The tail: past every byte that something not rewritten here occupies.
    const auto objectOf = [&](int64_t owner) -> std::optional<Region> {
        for (const Object& o : objects_)
            if (o.owner == owner)
                return o.at;
        return std::nullopt;
    };
    const auto hashAt = objectOf(kHashObject), blockAt = objectOf(kBlockObject);
    const bool hashOwn = hashAt && own(*hashAt, kHashObject), blockOwn = blockAt && own(*blockAt, kBlockObject);
    uint64_t tail = 0;
    for (const Object& o : objects_) {
        const bool dead = (o.owner == kHashObject && hashOwn) || (o.owner == kBlockObject && blockOwn) ||
                          std::any_of(planned_.begin(), planned_.end(),
                                      [&](const Planned& p) { return p.old && p.index == o.owner; });
        if (!dead)
            tail = std::max(tail, o.at.to);
    }

    // Below the tail a change takes its old place when it fits there; the rest of
    // the place is zeroed. Everything else is laid out from the tail on: changes
    // whose old place was in the tail in their old order (so a member last written
    // there stays put), then the others, then the tables.
    std::vector<Region> zeroed;
    std::vector<size_t> order;
    for (size_t k = 0; k < planned_.size(); ++k) {
        Planned& p = planned_[k];
        const uint64_t size = p.encoded.bytes.size();
        if (p.old && p.old->to <= tail && size <= p.old->size()) {
            p.pos = p.old->from, p.placement = Placement::InPlace;
            zeroed.push_back({p.old->from + size, p.old->to});
        } else {
            if (p.old && p.old->to <= tail)
                zeroed.push_back(*p.old);
            order.push_back(k);
        }
    }
    const auto inTail = [&](size_t k) { return planned_[k].old && planned_[k].old->from >= tail; };
    std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) {
        if (inTail(a) != inTail(b))
            return inTail(a);
        return inTail(a) && planned_[a].old->from < planned_[b].old->from;
    });
    uint64_t cursor = tail;
    for (const size_t k : order) {
        Planned& p = planned_[k];
        p.pos = cursor;
        p.placement = !(p.old && p.old->from == cursor)         ? Placement::Appended
                      : p.encoded.bytes.size() <= p.old->size() ? Placement::InPlace
                                                                : Placement::OwnTail;
        cursor += p.encoded.bytes.size();
    }
    // Tables are written back where they are, at their size, when they are the
    // archive's own and below the tail. A hash table that the end of the file cuts
    // short reaches past the tail: it is written last, cut short after the same entries.
    const bool hashStays = hashOwn && hashAt->to <= tail;
    const bool blockStays = blockOwn && blockAt->to <= tail && blockAt->size() == blocks_.size() * kEntrySize;
    uint64_t blockPos = blockAt ? blockAt->from : 0, hashPos = hashAt ? hashAt->from : 0;
    if (!blockStays) {
        if (blockOwn && blockAt->to <= tail)
            zeroed.push_back(*blockAt);
        blockPos = cursor;
        cursor += blocks_.size() * kEntrySize;
    }
    if (!hashStays) {
        if (hashOwn && hashAt->to <= tail)
            zeroed.push_back(*hashAt);
        hashPos = cursor;
        cursor += table.size() * kEntrySize;
    }
    const uint64_t newEnd = cursor;

    // A bound no sound edit comes near: what it writes, twice, and the tables once more.
    uint64_t written = (hashes_.size() + blocks_.size()) * kEntrySize;
    for (size_t k = 0; k < changes_.size(); ++k)
        written += 2 * std::max<uint64_t>(planned_[k].encoded.bytes.size(), changes_[k].data.size());
    if (newEnd > end + written)
        fail("the edit would make the archive " + std::to_string(newEnd) + " bytes long, more than its " +
             std::to_string(end) + " bytes and twice what is written; nothing was changed");
    if (newEnd - header_.pos > uint64_t(std::numeric_limits<int32_t>::max()))
        fail("the archive would grow past the 2 GB its offsets can address");
    const auto rel = [&](uint64_t pos) { return static_cast<uint32_t>(pos - header_.pos); };

    std::vector<uint8_t> out(newEnd, 0);
    std::copy_n(bytes_.begin(), std::min(tail, end), out.begin());
    for (const Region& z : zeroed)
        std::fill(out.begin() + static_cast<ptrdiff_t>(z.from), out.begin() + static_cast<ptrdiff_t>(z.to), 0);
    for (size_t k = 0; k < planned_.size(); ++k) {
        Planned& p = planned_[k];
        p.entry.offset = static_cast<int32_t>(rel(p.pos));
        blocks_[p.index] = p.entry;
        uint8_t* const at = out.data() + p.pos;
        std::copy(p.encoded.bytes.begin(), p.encoded.bytes.end(), at);
        cryptStored({at, p.encoded.bytes.size()}, p.entry.flags, p.entry.fileSize, header_.sectorSize,
                    memberKey(changes_[k].name, p.entry), true);
        edited.placements.push_back(p.placement);
    }
    const auto blockTable = encodeTable(blocks_), hashTable = encodeTable(table);
    std::copy(blockTable.begin(), blockTable.end(), out.begin() + static_cast<ptrdiff_t>(blockPos));
    std::copy(hashTable.begin(), hashTable.end(), out.begin() + static_cast<ptrdiff_t>(hashPos));
    uint8_t* const h = out.data() + header_.pos;
    store32(h + 8, rel(newEnd));
    store32(h + 16, rel(hashPos));
    store32(h + 20, rel(blockPos));
    store32(h + 28, static_cast<uint32_t>(blocks_.size()));
    edited.oldSize = end;
    edited.newSize = newEnd;
    verify(out, tail);
    return out;
}

// The read-back check, at a fraction of a full decode: the game's look-up of each
// changed name leads to its new block; re-encoded sectors decode to the new data
// and taken-over ones read back as the stored bytes taken over; every other member, block entry
// and hash entry is as it was.
void Planner::verify(std::span<const uint8_t> out, uint64_t tail) const {
    const View now(out, label_);
    const auto wrong = [&](const std::string& what) {
        throw ArchiveError(label_ + ": the edited archive does not read back right (" + what + "); nothing was changed");
    };
    if (now.hashes().size() != hashes_.size())
        wrong("the hash table holds another number of entries");
    for (size_t k = 0; k < changes_.size(); ++k) {
        const Change& c = changes_[k];
        const Planned& p = planned_[k];
        const auto found = now.find(c.name);
        if (!found || now.usableBlock(*found) != p.index)
            wrong("the look-up of " + c.name + " does not lead to its new data");
        const BlockEntry& b = now.blocks()[p.index];
        if (c.stored) {
            const StoredMember back = readStored(out, c.name, label_);
            if (back.bytes != c.stored->bytes || back.fileSize != c.stored->fileSize)
                wrong(c.name + " differs from the member carried");
        } else if (const auto sectors = now.sectors(b, c.name)) {
            // Sectors are checked on several threads; the first bad one in the file is named.
            const uint32_t size = header_.sectorSize;
            std::atomic<size_t> bad{SIZE_MAX};
            parallel::forEach(sectors->count(), [&](size_t i) {
                const auto raw = c.data.subspan(i * size_t{size}, std::min<size_t>(size, c.data.size() - i * size_t{size}));
                const uint8_t* const table = p.encoded.bytes.data();
                const std::span<const uint8_t> kept(table + load32(table + 4 * i), table + load32(table + 4 * i + 4));
                const auto got = p.encoded.recoded[i] ? sectors->decoded(i) : sectors->stored(i);
                const auto want = p.encoded.recoded[i] ? raw : kept;
                if (got && std::equal(got->begin(), got->end(), want.begin(), want.end()))
                    return;
                for (size_t first = bad; i < first && !bad.compare_exchange_weak(first, i);) {
                }
            });
            if (bad != SIZE_MAX)
                wrong("sector " + std::to_string(bad) + " of " + c.name + " differs from the new data");
        } else if (readMember(out, c.name, label_) != std::vector<uint8_t>(c.data.begin(), c.data.end())) {
            wrong(c.name + " differs from the new data");
        }
    }
    for (const Object& o : objects_) {
        if (o.owner < 0 || std::any_of(planned_.begin(), planned_.end(), [&](const Planned& p) { return p.index == o.owner; }))
            continue;
        const BlockEntry &a = view_.blocks()[o.owner], &b = now.blocks()[o.owner];
        if (a.offset != b.offset || a.storedSize != b.storedSize || a.fileSize != b.fileSize || a.flags != b.flags ||
            o.at.to > tail || !std::equal(out.begin() + o.at.from, out.begin() + o.at.to, bytes_.begin() + o.at.from))
            wrong("the data of block " + std::to_string(o.owner) + " moved or changed");
    }
    for (size_t j = 0; j < hashes_.size(); ++j) {
        const HashEntry &a = hashes_[j], &b = now.hashes()[j];
        const auto k = changeNamed(b);
        const bool repointed = k && b.block == planned_[*k].index && b.locale == 0 && b.platform == 0 &&
                               (changeNamed(a) == k || a.block == kEmpty || a.block == kDeleted);
        if (!(a == b) && !repointed)
            wrong("hash entry " + std::to_string(j) + " changed");
    }
}

} // namespace

std::vector<uint8_t> editInMemory(std::span<const uint8_t> archiveBytes, const std::vector<Change>& changes,
                                  const std::string& label, Edited* edited) {
    Edited ignored;
    return Planner(archiveBytes, changes, label).run(edited ? *edited : ignored);
}

Edited edit(const fs::path& archivePath, const std::vector<Change>& changes, platform::Durability durability) {
    return files::guarded([&] {
        Edited edited;
        std::vector<uint8_t> out;
        {
            const auto bytes = files::readFile(archivePath, files::kMaxArchiveSize, "the archive");
            out = editInMemory(bytes.span(), changes, files::nameOf(archivePath), &edited);
        }
        platform::writeReplacing(archivePath, out, durability);
        return edited;
    });
}

std::vector<uint8_t> addInMemory(std::span<const uint8_t> archiveBytes, std::span<const uint8_t> data,
                                 std::string_view name, const std::string& label) {
    return editInMemory(archiveBytes, {Change::replace(std::string(name), data)}, label);
}

void add(const fs::path& archivePath, const fs::path& sourceFile, std::string_view name) {
    const auto data = files::readFile(sourceFile, kMaxMemberSize, "the new member");
    edit(archivePath, {Change::replace(std::string(name), data.span())});
}

} // namespace archive

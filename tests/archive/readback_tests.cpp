// Whenever an add succeeds, even on maps whose last bytes (where the tables usually are) were overwritten at
// random, the game's look-up finds the new data, and so does any reader that takes another entry of the name.
#include "archive.h"
#include "layout.h"
#include "protections.h"

#include <gtest/gtest.h>

#include <optional>
#include <random>
#include <set>

namespace fs = std::filesystem;
using namespace fixtures;
using protections::kNotesName, protections::sampleChunk, protections::sampleNotes;

namespace {

// Deliberately plain: walk from the name's start slot, stop at an empty slot, skip deleted ones; the last entry
// of the name in any language wins. `all` gets the blocks of every live entry of the name in the table.
std::optional<uint32_t> walkedBlock(const Bytes& map, std::string_view name, std::set<uint32_t>& all) {
    const RawMap m = RawMap::parse(map);
    const size_t n = m.hashes.size(), start = mpq::hashString(name, 0) & ((m.hashCount & 0x0FFFFFFF) - 1);
    const auto named = [&](const HashEntry& e) {
        return e.block < mpq::kDeleted && e.nameA == mpq::hashString(name, 1) && e.nameB == mpq::hashString(name, 2);
    };
    for (const HashEntry& e : m.hashes)
        if (named(e)) all.insert(e.block & 0x0FFFFFFF);
    std::optional<uint32_t> last;
    for (size_t i = 0, j = start < n ? start : 0; i < n && m.hashes[j].block != mpq::kEmpty; ++i, j = (j + 1) % n)
        if (named(m.hashes[j]))
            last = m.hashes[j].block & 0x0FFFFFFF;
    return last;
}

// Whether the add went through; what is wrong is recorded by gtest.
bool addAndCompare(const Bytes& map, const Bytes& next) {
    Bytes added;
    try {
        added = archive::addInMemory(map, next, kChunkName, "map");
    } catch (const archive::ArchiveError& e) {
        EXPECT_EQ(std::string(e.what()).rfind("map: ", 0), 0u) << e.what();
        return false;
    }
    EXPECT_EQ(archive::readMember(added, kChunkName, "map"), next);
    const archive::layout::View view(added, "map");
    const auto found = view.find(kChunkName);
    std::set<uint32_t> all;
    const auto walked = walkedBlock(added, kChunkName, all);
    EXPECT_EQ(walked, found ? std::optional(view.hashes()[*found].block & 0x0FFFFFFF) : std::nullopt);
    EXPECT_TRUE(walked && all == std::set<uint32_t>{*walked}) << "an entry of the name points elsewhere";
    return true;
}

TEST(ReadBack, MapsWithOverwrittenTablesReadTheNewDataThroughEveryEntry) {
    size_t added = 0, cases = 0;
    // First the kept maps on which the two look-ups once disagreed after an add.
    for (const auto& e : fs::directory_iterator(GRAFTWELL_READBACK_CASES)) {
        SCOPED_TRACE(e.path().filename().string());
        ++cases, added += addAndCompare(readAll(e.path()), sampleChunk(9));
    }
    ASSERT_TRUE(cases > 0 && added == cases);
    const ScratchDir dir;
    std::mt19937 rng(20261207);
    for (const auto& p : protections::all()) {
        protections::make(p, dir / "map.scm");
        // Maps edited over time hold deleted entries, which a new entry may take.
        auto m = RawMap::load(dir / "map.scm");
        for (size_t i = 1; i < m.hashes.size(); i += 2)
            m.hashes[i].block = m.hashes[i].block == mpq::kEmpty ? mpq::kDeleted : m.hashes[i].block;
        const bool cutOff = m.hashes.size() < (m.hashCount & 0x0FFFFFFF);
        for (const Bytes& clean : {readAll(dir / "map.scm"), cutOff ? Bytes{} : m.serialize()}) {
            for (int round = 0; round < 40 && !clean.empty(); ++round, ++cases) {
                Bytes map = clean;
                const size_t from = map.size() > 20000 ? map.size() - 20000 : 0;
                for (int n = 1 + int(rng() % 20); n > 0; --n)
                    map[from + rng() % (map.size() - from)] = uint8_t(rng());
                SCOPED_TRACE(p.name + " round " + std::to_string(round));
                added += addAndCompare(map, sampleChunk(9));
            }
        }
    }
    EXPECT_GT(added, cases / 4) << "too few adds went through to test anything";
}

// An add takes the chunk file's old place (here the tail the last one left) unless the tables show that another
// member's data lies in it; then it goes past everything else, and that member's bytes stay as they were.
TEST(ReadBack, AnAddTakesItsOldPlaceOnlyWhileNothingElsePointsIntoIt) {
    const ScratchDir dir;
    makeMap(dir / "map.scm", sampleChunk(1), {}, {{kNotesName, sampleNotes()}});
    const Bytes next = sampleChunk(9), once = archive::addInMemory(readAll(dir / "map.scm"), next, kChunkName, "map");
    ASSERT_EQ(archive::addInMemory(once, next, kChunkName, "map"), once) << "the same chunk file again changed the map";
    auto raw = RawMap::parse(once);
    raw.blockOf(kNotesName).offset = raw.blockOf(kChunkName).offset + 100;
    const Bytes shared = raw.serialize();
    archive::Edited how;
    const Bytes again = archive::editInMemory(shared, {archive::Change::replace(kChunkName, next)}, "map", &how);
    EXPECT_EQ(how.placements, std::vector{archive::Placement::Appended});
    EXPECT_EQ(archive::readStored(again, kNotesName, "map"), archive::readStored(shared, kNotesName, "map"));
    EXPECT_EQ(archive::readMember(again, kChunkName, "map"), next);
}

} // namespace
